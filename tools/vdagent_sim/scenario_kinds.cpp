#include "tools/vdagent_sim/scenario_kinds.h"

#include <algorithm>
#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <utility>

#include "platform/sim/clock.h"
#include "platform/sim/desktop.h"
#include "platform/sim/file_system.h"
#include "platform/sim/machine.h"
#include "platform/sim/menus.h"
#include "platform/sim/notification_area.h"
#include "platform/sim/process.h"
#include "platform/sim/registry_store.h"
#include "platform/sim/screen.h"
#include "platform/sim/session_manager.h"
#include "platform/sim/window_manager.h"
#include "policy/prompt_resources.h"
#include "standins/suite/sim_install.h"
#include "standins/toast/sim_install.h"
#include "standins/vdfpapi/sim_install.h"
#include "standins/vdscapi/sim_install.h"
#include "tools/vdagent_sim/scenario.h"
#include "tray/avatar_rules.h"

namespace vdsim {

namespace {

using nlohmann::json;

// A failure while an event runs: the run stops with the event's position.
[[noreturn]] void Refuse(const std::string& what) { throw std::runtime_error(what); }

std::wstring WideField(const json& e, const char* name, const std::wstring& fallback = L"") {
  return e.contains(name) && e[name].is_string() ? Utf8ToWide(e[name].get<std::string>())
                                                 : fallback;
}

std::vector<BYTE> HexBytes(const std::string& hex) {
  std::vector<BYTE> out;
  if (hex.size() % 2) Refuse("odd number of hex digits");
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    if (!std::isxdigit(static_cast<unsigned char>(hex[i])) ||
        !std::isxdigit(static_cast<unsigned char>(hex[i + 1])))
      Refuse("not a hex digit in '" + hex + "'");
    out.push_back(static_cast<BYTE>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  }
  return out;
}

// The registry store's path: HKCU is the session user's hive.
std::wstring StorePath(ScenarioContext& ctx, const std::wstring& key) {
  if (key.rfind(L"HKCU\\", 0) == 0 || key == L"HKCU")
    return L"HKU\\" + ctx.machine.Sessions().UserSid(ctx.session) + key.substr(4);
  return key;
}

void Host(ScenarioContext& ctx, const json& e) {
  if (e["action"] == "start")
    ctx.vdfp.Host().Start();
  else
    ctx.vdfp.Host().Stop();
}

void Finger(ScenarioContext& ctx, const json& e) {
  const auto readers = ctx.vdfp.Host().Readers();
  const auto reader = static_cast<std::size_t>(IntegerField(e, "reader", 0));
  if (reader >= readers.size()) Refuse("no reader " + std::to_string(reader));
  if (!readers[reader].connected) return;  // a touch on a pulled reader reaches nobody
  std::wstring user = WideField(e, "user");
  // Nobody enrolled: a name no account has.
  if (user == L"nobody") user = L"<nobody>";
  ctx.vdfp.Host().TouchFinger(user);
}

// Cards and card readers by name; a request the machine cannot carry out (no such reader, a
// reader holding a card already) stops the run with the reason.
void Card(ScenarioContext& ctx, const json& e) {
  const std::string action = e["action"];
  const std::wstring reader = WideField(e, "reader");
  const std::wstring card = WideField(e, "card");
  try {
    auto& cards = ctx.cards.Host();
    if (action == "insert") {
      cards.Insert(reader, card);
    } else if (action == "remove") {
      cards.Remove(reader);
    } else {
      cards.Tap(reader, card,
                static_cast<ULONGLONG>(
                    IntegerField(e, "holdMs", static_cast<long long>(vdsc_standin::kTapHoldMs))));
    }
  } catch (const vdsc_standin::CardError& err) {
    Refuse(err.what());
  }
}

void CardReader(ScenarioContext& ctx, const json& e) {
  const std::wstring reader = WideField(e, "reader");
  try {
    if (e["action"] == "plug")
      ctx.cards.Host().PlugReader(reader);
    else
      ctx.cards.Host().UnplugReader(reader);
  } catch (const vdsc_standin::CardError& err) {
    Refuse(err.what());
  }
}

void FpReader(ScenarioContext& ctx, const json& e) {
  const std::string action = e["action"];
  const auto reader = static_cast<std::size_t>(IntegerField(e, "reader", 0));
  if (action != "event" && reader >= ctx.vdfp.Host().Readers().size())
    Refuse("no reader " + std::to_string(reader));
  if (action == "plug")
    ctx.vdfp.Host().ReconnectReader(reader);
  else if (action == "unplug")
    ctx.vdfp.Host().DisconnectReader(reader);
  else
    ctx.vdfp.Host().PostReaderEvent(static_cast<WPARAM>(IntegerField(e, "code")),
                                    static_cast<LPARAM>(IntegerField(e, "data")));
}

void Session(ScenarioContext& ctx, const json& e) {
  auto& sm = ctx.machine.Sessions();
  const std::string action = e["action"];
  bool ok = true;
  if (action == "lock") {
    ok = sm.Lock(ctx.session);
  } else if (action == "unlock") {
    ok = sm.Unlock(ctx.session);
  } else if (action == "disconnect") {
    ok = sm.Disconnect(ctx.session);
  } else if (action == "connect") {
    ok = sm.Connect(ctx.session, e.value("remote", false));
  } else {
    ok = sm.LogOff(ctx.session);
    // The system ends the session's programs after the end-session messages.
    if (ok) ctx.machine.GetClock().ScheduleAt(ctx.machine.GetClock().NowMs() + 500, ctx.end);
  }
  if (!ok) Refuse("the session could not " + action);
}

void Registry(ScenarioContext& ctx, const json& e) {
  const bool set = e["action"] == "set";
  const RegistrySeed seed = ParseRegistryValue(e, "registry", set);
  auto& reg = ctx.machine.Registry();
  if (set)
    reg.SetValue(StorePath(ctx, seed.key), seed.name, seed.type, seed.data);
  else if (seed.name.empty() && !e.contains("type"))
    reg.DeleteKey(StorePath(ctx, seed.key));
  else
    reg.DeleteValue(StorePath(ctx, seed.key), seed.name);
}

void Message(ScenarioContext& ctx, const json& e) {
  auto& ui = ctx.sender.Ui();
  UINT msg = 0;
  if (e["message"].is_string() && e["message"].get<std::string>().rfind("0x", 0) != 0)
    msg = ui.RegisterWindowMessageW(WideField(e, "message").c_str());
  else
    msg = static_cast<UINT>(IntegerField(e, "message"));
  const auto wp = static_cast<WPARAM>(IntegerField(e, "wParam"));
  const auto lp = static_cast<LPARAM>(IntegerField(e, "lParam"));
  sim::CurrentProcessScope scope(&ctx.sender);
  if (e.value("mode", std::string("post")) == "broadcast") {
    ui.PostMessageW(HWND_BROADCAST, msg, wp, lp);
    return;
  }
  HWND agent = ctx.agentWindow();
  if (!agent) Refuse("the agent has no window");
  ui.PostMessageW(agent, msg, wp, lp);
}

void Slot(ScenarioContext& ctx, const json& e) {
  vdfp_standin::SlotDesc slot;
  slot.slot = WideField(e, "slot");
  slot.data = HexBytes(e["hex"].get<std::string>());
  if (e.contains("entropyHex")) slot.entropy = HexBytes(e["entropyHex"].get<std::string>());
  ctx.vdfp.Host().SetProtectedData(std::move(slot));
}

void File(ScenarioContext& ctx, const json& e) {
  const std::wstring path = WideField(e, "path");
  auto& files = ctx.machine.Files();
  if (e["action"] == "delete") {
    std::error_code ec;
    std::filesystem::remove(files.HostPath(path), ec);
    return;
  }
  std::string bytes;
  if (e.contains("text")) bytes = e["text"].get<std::string>();
  if (e.contains("hex")) {
    const auto b = HexBytes(e["hex"].get<std::string>());
    bytes.assign(b.begin(), b.end());
  }
  if (e.contains("size")) bytes.resize(static_cast<std::size_t>(IntegerField(e, "size")), 'x');
  std::filesystem::create_directories(files.HostPath(path).parent_path());
  files.WriteFile(path, bytes);
}

// A rule of a policy: token type names joined by "+" ("password+fingerprint"), or a mask
// "0x...".
ULONGLONG RuleMask(const std::string& rule) {
  ULONGLONG mask = 0;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = rule.find('+', start);
    const std::string part = rule.substr(start, end == std::string::npos ? end : end - start);
    if (part.rfind("0x", 0) == 0 && part.size() > 2 && part.size() <= 18 &&
        std::all_of(part.begin() + 2, part.end(),
                    [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); })) {
      mask |= std::stoull(part.substr(2), nullptr, 16);
    } else if (const auto* t = vdfp_standin::KnownTokenType(Utf8ToWide(part))) {
      mask |= t->mask;
    } else {
      Refuse("no token type '" + part + "'");
    }
    if (end == std::string::npos) return mask;
    start = end + 1;
  }
}

// The host's policy for a user changes; "announce" writes under the machine's policies key,
// as an administrator's tool does, which every agent watches.
void Policy(ScenarioContext& ctx, const json& e) {
  if (e.contains("user")) {
    std::vector<ULONGLONG> rules;
    if (e.contains("rules"))
      for (const auto& r : e["rules"]) rules.push_back(RuleMask(r.get<std::string>()));
    if (!ctx.vdfp.Host().SetPolicy(WideField(e, "user"), std::move(rules)))
      Refuse("no user '" + e["user"].get<std::string>() + "'");
  }
  if (e.value("announce", false))
    ctx.machine.Registry().SetDword(L"HKLM\\SOFTWARE\\Veridane\\Policies\\Changes", L"LastChange",
                                    static_cast<DWORD>(ctx.machine.GetClock().NowMs()));
}

// The datagram's bytes: "raw" as given, else id, code and payload.
std::vector<BYTE> MailslotBytes(const json& e) {
  if (e.contains("raw")) return HexBytes(e["raw"].get<std::string>());
  std::vector<BYTE> out;
  for (const char* field : {"id", "code"}) {
    const auto v = static_cast<DWORD>(IntegerField(e, field, 0));
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<BYTE>(v >> (8 * i)));
  }
  if (e.contains("payload")) {
    const json& p = e["payload"];
    if (p.is_string()) {
      const auto bytes = HexBytes(p.get<std::string>());
      out.insert(out.end(), bytes.begin(), bytes.end());
    } else {
      for (const auto& b : p) out.push_back(static_cast<BYTE>(b.get<int>()));
    }
  }
  return out;
}

// Another program of the session writes one datagram to the agent's mailslot.
// The session's avatar window; the run stops when the agent has none (not ready yet, or its
// picture is missing).
HWND AvatarWindow(ScenarioContext& ctx) {
  auto found = ctx.machine.Windows().WindowsOfClass(ctx.session, tray::kAvatarClass);
  if (found.empty()) Refuse("the agent has no avatar window");
  return found.front();
}

POINT PointField(const json& e, const char* name) {
  const json& v = e.contains(name) ? e[name] : json();
  if (!v.is_array() || v.size() != 2 || !v[0].is_number_integer() || !v[1].is_number_integer())
    Refuse(std::string("\"") + name + "\" must be [x, y]");
  return POINT{v[0].get<LONG>(), v[1].get<LONG>()};
}

// A look is posted as the agent's feedback step posts it; a drag is the user's hand on the
// mouse, each step a moment of its own so the avatar reads the cursor where it is.
void Avatar(ScenarioContext& ctx, const json& e) {
  const HWND avatar = AvatarWindow(ctx);
  if (e["action"] == "look") {
    ctx.sender.Ui().PostMessageW(avatar, tray::kAvatarMessage,
                                 static_cast<WPARAM>(IntegerField(e, "code", 0)),
                                 static_cast<LPARAM>(IntegerField(e, "result", 0)));
    return;
  }
  const POINT from = PointField(e, "from");
  const POINT to = PointField(e, "to");
  const auto hold = static_cast<ULONGLONG>(IntegerField(e, "holdMs", 200));
  sim::Screen& screen = ctx.machine.GetScreen();
  sim::Clock& clock = ctx.machine.GetClock();
  const DWORD session = ctx.session;
  if (!screen.PressLeft(session, from))
    Refuse("no window under the mouse at (" + std::to_string(from.x) + ", " +
           std::to_string(from.y) + ")");
  const ULONGLONG now = clock.NowMs();
  clock.ScheduleAt(now + hold / 2, [&screen, session, to] { screen.MoveMouse(session, to); });
  clock.ScheduleAt(now + hold, [&screen, session, to] { screen.ReleaseLeft(session, to); });
}

void MailslotDatagram(ScenarioContext& ctx, const json& e) {
  const std::vector<BYTE> bytes = MailslotBytes(e);
  const std::wstring path = L"\\\\.\\mailslot\\{2FFE588A-4B8E-4F7F-A927-4162BD973FF2}:" +
                            std::to_wstring(ctx.session);
  sim::CurrentProcessScope scope(&ctx.sender);
  platform::IKernel& k = ctx.sender.Kernel();
  HANDLE h = k.CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                           nullptr);
  if (h == INVALID_HANDLE_VALUE) Refuse("the agent has no mailslot");
  DWORD written = 0;
  const BOOL ok =
      k.WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  k.CloseHandle(h);
  if (!ok) Refuse("the mailslot refused the datagram");
}

// A token type is enrolled for a user or taken away at the host; queries still waiting are
// answered with the new state when their reply is due.
void Enrollment(ScenarioContext& ctx, const json& e) {
  const ULONGLONG mask = RuleMask(e["token"].get<std::string>());
  if (!ctx.vdfp.Host().SetEnrolled(WideField(e, "user"), mask, e["action"] == "enroll"))
    Refuse("no user '" + e["user"].get<std::string>() + "'");
}

int ButtonId(const std::string& b) {
  static const std::pair<const char*, int> kButtons[] = {
      {"ok", 1}, {"cancel", 2}, {"abort", 3}, {"retry", 4}, {"ignore", 5}, {"yes", 6}, {"no", 7}};
  for (const auto& [name, id] : kButtons)
    if (b == name) return id;
  return 0;
}

void Dialog(ScenarioContext& ctx, const json& e) {
  if (e.contains("identify") || e.contains("verify")) {
    auto dialogs = ctx.vdfp.Host().Dialogs();
    if (e.contains("identify"))
      dialogs.identifyUser = e["identify"].is_null() ? L"" : WideField(e, "identify");
    if (e.contains("verify")) dialogs.verifyAccepts = e["verify"].get<bool>();
    ctx.vdfp.Host().SetDialogs(dialogs);
  }
  if (e.contains("button")) {
    const int id = ButtonId(e["button"].get<std::string>());
    ctx.machine.GetDesktop().SetDialogUser(
        [id](HWND, const std::wstring&, const std::wstring&) { return id; });
  }
  if (e.contains("prompt") || e.contains("dontAskAgain") || e.contains("lookMs") ||
      e.contains("link")) {
    // The agent's prompts from now on: accepted or declined (declined unless said), the
    // do-not-ask-again box ticked or cleared (untouched unless said), after a look of
    // "lookMs" on the virtual clock; a link control clicked first when "link" names one.
    sim::PromptAnswer answer;
    answer.link = static_cast<int>(IntegerField(e, "link", 0));
    if (e.contains("prompt")) answer.button = e["prompt"] == "accept" ? IDOK : IDCANCEL;
    if (e.contains("dontAskAgain"))
      answer.checks[IDC_DONT_ASK_AGAIN] = e["dontAskAgain"].get<bool>();
    answer.openMs = static_cast<ULONGLONG>(IntegerField(e, "lookMs", 0));
    ctx.machine.GetDesktop().SetPromptUser(
        [answer](DWORD, UINT, const std::wstring&) { return answer; });
  }
}

// A key by name: "ctrl", "shift", "alt", "win" (the left keys), "rctrl", "rshift", "ralt",
// "rwin", a letter or a digit, or a number.
int KeyCode(const std::string& name) {
  static const std::pair<const char*, int> kKeys[] = {
      {"ctrl", VK_LCONTROL},  {"shift", VK_LSHIFT},  {"alt", VK_LMENU},  {"win", VK_LWIN},
      {"rctrl", VK_RCONTROL}, {"rshift", VK_RSHIFT}, {"ralt", VK_RMENU}, {"rwin", VK_RWIN}};
  std::string lower;
  for (char c : name)
    lower.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
  for (const auto& [n, vk] : kKeys)
    if (lower == n) return vk;
  if (name.size() == 1 && std::isalnum(static_cast<unsigned char>(name[0])))
    return std::toupper(static_cast<unsigned char>(name[0]));
  if (!name.empty() &&
      std::all_of(name.begin(), name.end(),
                  [](char c) { return std::isdigit(static_cast<unsigned char>(c)); }) &&
      name.size() <= 3 && std::stoi(name) >= 1 && std::stoi(name) <= 254)
    return std::stoi(name);
  Refuse("unknown key '" + name + "'");
}

std::vector<int> KeyCodes(const json& list) {
  std::vector<int> keys;
  for (const auto& k : list) keys.push_back(KeyCode(k.get<std::string>()));
  return keys;
}

void Keys(ScenarioContext& ctx, const json& e) {
  auto& desktop = ctx.machine.GetDesktop();
  if (e.contains("up")) {
    if (e["up"] == json::array({"all"}))
      desktop.ReleaseAll(ctx.session);
    else
      desktop.ReleaseKeys(ctx.session, KeyCodes(e["up"]));
  }
  if (e.contains("down")) desktop.PressKeys(ctx.session, KeyCodes(e["down"]));
}

// "Ctrl+Win+H": modifiers and one key, as a user presses them together.
void HotKey(ScenarioContext& ctx, const json& e) {
  const std::string text = e["keys"];
  UINT mods = 0;
  int vk = 0;
  std::size_t p = 0;
  while (p <= text.size()) {
    const std::size_t end = std::min(text.find('+', p), text.size());
    std::string token = text.substr(p, end - p);
    for (auto& c : token) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (token == "ctrl")
      mods |= MOD_CONTROL;
    else if (token == "alt")
      mods |= MOD_ALT;
    else if (token == "shift")
      mods |= MOD_SHIFT;
    else if (token == "win")
      mods |= MOD_WIN;
    else
      vk = KeyCode(token);
    p = end + 1;
  }
  if (!vk) Refuse("no key in '" + text + "'");
  ctx.machine.GetDesktop().PressHotKey(ctx.session, mods, static_cast<UINT>(vk));
}

void ScreenSaver(ScenarioContext& ctx, const json& e) {
  if (e["running"].get<bool>())
    ctx.machine.GetDesktop().StartScreenSaver(ctx.session);
  else
    ctx.machine.GetDesktop().StopScreenSaver(ctx.session);
}

// The shell's answer to SHQueryUserNotificationState in the agent's session from now on; a
// non-zero "failHr" makes the query fail with it instead (0 takes the failure back).
void NotificationState(ScenarioContext& ctx, const json& e) {
  auto& desktop = ctx.machine.GetDesktop();
  desktop.SetNotificationState(ctx.session, static_cast<int>(IntegerField(e, "state")));
  desktop.FailNotificationStateQuery(ctx.session,
                                     static_cast<HRESULT>(IntegerField(e, "failHr", 0)));
}

// The password manager: its fill-in component posts a reply (a fill-in reply with its action
// type, or a feedback change with its state), or the user closes the mini dashboard.
void PmReply(ScenarioContext& ctx, const json& e) {
  if (e.contains("closeDashboard")) {
    auto* pm = ctx.suite.PasswordManager();
    if (!pm) Refuse("the password manager is not installed");
    if (!pm->CloseDashboard()) Refuse("no mini dashboard is open");
    return;
  }
  WPARAM kind = 2;
  LPARAM value = 0;
  if (e.contains("feedback")) {
    value = static_cast<LPARAM>(IntegerField(e, "feedback"));
  } else {
    kind = e["reply"] == "fill-in" ? 1 : 2;
    value = static_cast<LPARAM>(IntegerField(e, "value"));
  }
  if (ctx.suite.PostReply(kind, value) == 0) Refuse("no fill-in component is running");
}

// A tray plug-in's menu item, picked by its text from the next menu shown; no such item
// dismisses that menu. Menus after it get the answer given before.
void Plugin(ScenarioContext& ctx, const json& e) {
  auto& desktop = ctx.machine.GetDesktop();
  HWND agent = ctx.agentWindow();
  if (!agent) Refuse("the agent has no window");
  const auto icons = desktop.Tray(ctx.session).Icons();
  const sim::TrayIconInfo* icon = nullptr;
  for (const auto& i : icons)
    if (i.hwnd == agent) {
      icon = &i;
      break;
    }
  if (!icon) Refuse("the agent has no icon in the notification area");
  auto before = desktop.GetMenuUser();
  auto used = std::make_shared<bool>(false);
  desktop.SetMenuUser([text = WideField(e, "item"), before, used](const sim::ShownMenu& menu) {
    if (std::exchange(*used, true))
      return before ? before(menu) : sim::MenuChoice{std::nullopt, 0};
    for (const auto& item : menu.items)
      if (item.Pickable() && item.text == text) return sim::MenuChoice{item.id, 0};
    return sim::MenuChoice{std::nullopt, 0};
  });
  if (!desktop.Tray(ctx.session).RightClick(agent, icon->id))
    Refuse("the user could not right-click (no desktop shown)");
}

// The user at the agent's tray icon: the icon of the agent's window with uID `id`, or its
// first icon. A menu answer stands for every menu shown from then on.
void Tray(ScenarioContext& ctx, const json& e) {
  const std::string action = e["action"];
  auto& desktop = ctx.machine.GetDesktop();
  if (action == "menu-pick" || action == "menu-dismiss") {
    std::optional<UINT_PTR> pick;
    if (action == "menu-pick") {
      if (!e.contains("item")) Refuse("menu-pick needs an item");
      pick = static_cast<UINT_PTR>(IntegerField(e, "item"));
    }
    desktop.SetMenuUser([pick](const sim::ShownMenu&) { return sim::MenuChoice{pick, 0}; });
    return;
  }
  HWND agent = ctx.agentWindow();
  if (!agent) Refuse("the agent has no window");
  auto& tray = desktop.Tray(ctx.session);
  std::optional<UINT> id;
  if (e.contains("id")) id = static_cast<UINT>(IntegerField(e, "id"));
  const sim::TrayIconInfo* icon = nullptr;
  const auto icons = tray.Icons();
  for (const auto& i : icons) {
    if (i.hwnd == agent && (!id || i.id == *id)) {
      icon = &i;
      break;
    }
  }
  if (!icon) Refuse("the agent has no such icon in the notification area");
  bool ok = false;
  if (action == "click")
    ok = tray.Click(agent, icon->id);
  else if (action == "double-click")
    ok = tray.DoubleClick(agent, icon->id);
  else if (action == "right-click")
    ok = tray.RightClick(agent, icon->id);
  else
    ok = tray.ClickBalloon(agent, icon->id);
  if (!ok) Refuse("the user could not " + action + " (no desktop shown, or no balloon)");
}

// The agent's balloon on show ends: the user clicks it, closes it (the shell reports a
// time-out), or the shell hides it.
void Balloon(ScenarioContext& ctx, const json& e) {
  const std::string action = e["action"];
  HWND agent = ctx.agentWindow();
  if (!agent) Refuse("the agent has no window");
  auto& tray = ctx.machine.GetDesktop().Tray(ctx.session);
  const auto shown = tray.ShownBalloon();
  if (!shown || shown->first != agent) Refuse("no balloon of the agent is shown");
  bool ok = false;
  if (action == "click")
    ok = tray.ClickBalloon(agent, shown->second);
  else if (action == "timeout")
    ok = tray.CloseBalloon(agent, shown->second);
  else
    ok = tray.HideBalloon(agent, shown->second);
  if (!ok) Refuse("the balloon could not be ended (" + action + ")");
}

void Shell(ScenarioContext& ctx, const json& e) {
  auto& sm = ctx.machine.Sessions();
  const std::string action = e["action"];
  bool ok = true;
  if (action == "start")
    ok = sm.StartShell(ctx.session);
  else if (action == "stop")
    ok = sm.StopShell(ctx.session);
  else
    ok = sm.RestartShell(ctx.session);
  if (!ok) Refuse("the shell could not " + action);
}

// The user at the session's toasts: how the next toast ends, or a click on one kept in the
// action center (or on any toast carrying "args").
void Toast(ScenarioContext& ctx, const json& e) {
  const std::string action = e["action"];
  if (action != "activate") {
    const INT32 result = toast_standin::ToastResultOfAction(action);
    const ULONGLONG afterMs = static_cast<ULONGLONG>(
        IntegerField(e, "afterMs",
                     result == toast_standin::kToastTimedOut
                         ? static_cast<long long>(toast_standin::kToastShowMs)
                         : 0));
    ctx.toasts.AnswerNext({result, afterMs});
    return;
  }
  if (e.contains("args")) {
    const json& args = e["args"];
    const std::wstring text = args.is_string() ? Utf8ToWide(args.get<std::string>()) : L"";
    ctx.toasts.Activate(ctx.session, args.is_string() ? text.c_str() : nullptr);
    return;
  }
  const auto index = static_cast<std::size_t>(IntegerField(e, "index", 0));
  if (ctx.toasts.ActivateFromActionCenter(ctx.session, index) == E_INVALIDARG)
    Refuse("no toast " + std::to_string(index) + " in the action center");
}

void End(ScenarioContext& ctx, const json&) { ctx.end(); }

std::vector<KindRow> MakeKinds() {
  using F = FieldType;
  const std::vector<std::string> buttons = {"ok",     "cancel", "abort", "retry",
                                            "ignore", "yes",    "no"};
  return {
      {"host",
       "the authentication host service starts or stops",
       {{"action", F::Choice, true, {"start", "stop"}}},
       Host},
      {"finger",
       "a finger on the reader: an enrolled user's, or \"nobody\"'s",
       {{"user", F::String, true}, {"reader", F::Integer, false, {}, 0, 63}},
       Finger},
      {"fp-reader",
       "a fingerprint reader is plugged, unplugged, or sends an event",
       {{"action", F::Choice, true, {"plug", "unplug", "event"}},
        {"reader", F::Integer, false, {}, 0, 63},
        {"code", F::Integer, false, {}, 0, 0xFFFFFFFFLL},
        {"data", F::Integer, false, {}, -0x80000000LL, 0xFFFFFFFFLL}},
       FpReader},
      {"keys",
       "keys go down or up on the session's keyboard (\"up\": [\"all\"] lets go of all)",
       {{"down", F::StringList}, {"up", F::StringList}},
       Keys},
      {"hotkey",
       "a key combination is pressed, as \"Ctrl+Win+H\"",
       {{"keys", F::String, true}},
       HotKey},
      {"session",
       "the session is locked, unlocked, logged off, disconnected or connected",
       {{"action", F::Choice, true, {"lock", "unlock", "logoff", "disconnect", "connect"}},
        {"remote", F::Boolean}},
       Session},
      {"registry",
       "a registry value is set or deleted (name \"\" and no type: the key)",
       {{"action", F::Choice, true, {"set", "delete"}},
        {"key", F::String, true},
        {"name", F::String, true},
        {"type", F::String},
        {"value", F::Value}},
       Registry},
      {"message",
       "another program posts a message to the agent or broadcasts it",
       {{"mode", F::Choice, false, {"post", "broadcast"}},
        {"message", F::Value, true},
        {"wParam", F::Integer, false, {}, -0x80000000LL, 0xFFFFFFFFLL},
        {"lParam", F::Integer, false, {}, -0x80000000LL, 0xFFFFFFFFLL}},
       Message},
      {"slot",
       "the logon side writes a protected-data slot",
       {{"slot", F::String, true}, {"hex", F::String, true}, {"entropyHex", F::String}},
       Slot},
      {"file",
       "a file on the simulated disk is written or deleted",
       {{"action", F::Choice, true, {"write", "delete"}},
        {"path", F::String, true},
        {"text", F::String},
        {"hex", F::String},
        {"size", F::Integer, false, {}, 0, 64LL << 20}},
       File},
      {"screensaver",
       "the screen saver starts or stops",
       {{"running", F::Boolean, true}},
       ScreenSaver},
      {"dialog",
       "how the user answers: the identification and verification dialogs, message boxes, "
       "the agent's prompts (\"prompt\", \"dontAskAgain\", \"lookMs\", \"link\")",
       {{"identify", F::StringOrNull},
        {"verify", F::Boolean},
        {"button", F::Choice, false, buttons},
        {"prompt", F::Choice, false, {"accept", "decline"}},
        {"dontAskAgain", F::Boolean},
        {"lookMs", F::Integer, false, {}, 0, 3600000},
        {"link", F::Integer, false, {}, 0, 0xFFFF}},
       Dialog},
      {"pm-reply",
       "the password manager: its fill-in component replies (\"reply\": fill-in with the "
       "action type as \"value\", or feedback with the state; or just \"feedback\": a "
       "state), or the user closes the open mini dashboard (\"closeDashboard\": true)",
       {{"reply", F::Choice, false, {"fill-in", "feedback"}},
        {"value", F::Integer, false, {}, -0x80000000LL, 0x7FFFFFFF},
        {"feedback", F::Integer, false, {}, -0x80000000LL, 0x7FFFFFFF},
        {"closeDashboard", F::Boolean}},
       PmReply},
      {"end", "the run ends: the agent's window goes", {}, End},
      // Kinds of parts still to come; their rows fill in as those parts arrive.
      {"card",
       "a card is inserted, removed or tapped (on for \"holdMs\", default 500) by reader and "
       "card name (no card: the first one lying in no reader)",
       {{"action", F::Choice, true, {"insert", "remove", "tap"}},
        {"reader", F::String, true},
        {"card", F::String},
        {"holdMs", F::Integer, false, {}, 0, 24LL * 60 * 60 * 1000}},
       Card},
      {"card-reader",
       "a card reader is plugged or unplugged (a reader not in the machine's \"cardReaders\" "
       "is added when plugged)",
       {{"action", F::Choice, true, {"plug", "unplug"}}, {"reader", F::String, true}},
       CardReader},
      {"tray",
       "the user clicks the agent's tray icon (the icon with uID \"id\", else its first) or "
       "its balloon; \"menu-pick\" (\"item\": a command id) or \"menu-dismiss\" answers "
       "every menu from then on",
       {{"action",
         F::Choice,
         true,
         {"click", "double-click", "right-click", "balloon-click", "menu-pick", "menu-dismiss"}},
        {"id", F::Integer, false, {}, 0, 0xFFFFFFFFLL},
        {"item", F::Integer, false, {}, 0, 0xFFFF}},
       Tray},
      {"shell",
       "the session's shell (taskbar and notification area) starts, stops or restarts; a "
       "start announces \"TaskbarCreated\", a stop empties the notification area",
       {{"action", F::Choice, true, {"start", "stop", "restart"}}},
       Shell},
      {"policy",
       "a user's logon policy changes at the host (rules: token names joined by \"+\" or "
       "\"0x...\" masks) and/or is announced under the machine's policies key",
       {{"user", F::String}, {"rules", F::StringList}, {"announce", F::Boolean}},
       Policy},
      {"enrollment",
       "a token type is enrolled for a user or taken away at the host",
       {{"action", F::Choice, true, {"enroll", "unenroll"}},
        {"user", F::String, true},
        {"token", F::String, true}},
       Enrollment},
      {"balloon",
       "the agent's balloon on show is clicked, closed by the user (a time-out) or hidden by "
       "the shell",
       {{"action", F::Choice, true, {"click", "timeout", "hide"}}},
       Balloon},
      {"toast",
       "the user's answer to the next toast: \"click\", \"button\", \"dismiss\" (it stays in "
       "the action center) after \"afterMs\" (0), or \"timeout\" (7000); \"activate\" "
       "clicks toast \"index\" (0) of the action center, or any toast with \"args\"",
       {{"action", F::Choice, true, {"click", "timeout", "button", "dismiss", "activate"}},
        {"afterMs", F::Integer, false, {}, 0, 0x7FFFFFFF},
        {"index", F::Integer, false, {}, 0, 0xFFFF},
        {"args", F::StringOrNull}},
       Toast},
      {"notification-state",
       "the shell's notification state of the session changes (\"state\": 1 not present, 2 "
       "busy, 3 full-screen game, 4 presentation, 5 accepts notifications, 6 quiet time, 7 "
       "immersive app); a non-zero \"failHr\" makes the shell's query fail with it",
       {{"state", F::Integer, true, {}, 1, 7},
        {"failHr", F::Integer, false, {}, -0x80000000LL, 0xFFFFFFFFLL}},
       NotificationState},
      {"mailslot",
       "a datagram arrives on the session's mailslot: \"id\" and \"code\" (32-bit, "
       "little-endian) then \"payload\" (hex digits or a list of bytes), or \"raw\" hex "
       "digits sent as they are (malformed datagrams)",
       {{"id", F::Integer, false, {}, 0, 0xFFFFFFFFLL},
        {"code", F::Integer, false, {}, 0, 0xFFFFFFFFLL},
        {"payload", F::Value},
        {"raw", F::String}},
       MailslotDatagram},
      {"plugin",
       "the user opens the agent's tray menu (a right click on its first icon) and picks the "
       "tray plug-in item whose text is \"item\"; later menus are answered as before",
       {{"item", F::String, true}},
       Plugin},
      {"avatar",
       "the agent's feedback window: \"look\" posts its message with \"code\" (0-3, more is "
       "ignored) and \"result\" (look 3's result code); \"drag\" presses the left button at "
       "\"from\" [x, y], moves to \"to\" [x, y] halfway through \"holdMs\" (200) and "
       "releases there",
       {{"action", F::Choice, true, {"look", "drag"}},
        {"code", F::Integer, false, {}, 0, 0xFFFFFFFFLL},
        {"result", F::Integer, false, {}, -0x80000000LL, 0xFFFFFFFFLL},
        {"from", F::Value},
        {"to", F::Value},
        {"holdMs", F::Integer, false, {}, 0, 600000}},
       Avatar},
  };
}

// "0x" and one to sixteen hexadecimal digits. One string throughout: iterators of two copies
// of it would not make a range.
bool IsHexText(const std::string& text) {
  return text.rfind("0x", 0) == 0 && text.size() > 2 && text.size() <= 18 &&
         std::all_of(text.begin() + 2, text.end(),
                     [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); });
}

void CheckField(const FieldSpec& f, const json& v, const std::string& where) {
  auto fail = [&](const std::string& what) { throw ScenarioError(where + ": " + what); };
  switch (f.type) {
    case FieldType::String:
      if (!v.is_string()) fail("expected a string");
      break;
    case FieldType::StringOrNull:
      if (!v.is_string() && !v.is_null()) fail("expected a string or null");
      break;
    case FieldType::Boolean:
      if (!v.is_boolean()) fail("expected true or false");
      break;
    case FieldType::Choice: {
      std::string list;
      for (const auto& c : f.choices) list += (list.empty() ? "" : ", ") + c;
      if (!v.is_string() ||
          std::find(f.choices.begin(), f.choices.end(), v.get<std::string>()) == f.choices.end())
        fail("expected one of " + list);
      break;
    }
    case FieldType::StringList:
      if (!v.is_array() ||
          !std::all_of(v.begin(), v.end(), [](const json& s) { return s.is_string(); }))
        fail("expected an array of strings");
      break;
    case FieldType::Integer: {
      long long n = 0;
      if (v.is_number_integer()) {
        n = v.get<long long>();
      } else if (v.is_number_unsigned()) {
        if (v.get<unsigned long long>() > 0x7FFFFFFFFFFFFFFFULL) fail("out of range");
        n = v.get<long long>();
      } else if (v.is_string() && IsHexText(v.get_ref<const std::string&>())) {
        n = static_cast<long long>(
            std::stoull(v.get_ref<const std::string&>().substr(2), nullptr, 16));
      } else {
        fail("expected a whole number or a \"0x...\" string");
      }
      if (n < f.min || n > f.max)
        fail("out of range " + std::to_string(f.min) + ".." + std::to_string(f.max));
      break;
    }
    case FieldType::Value:
      break;
  }
}

}  // namespace

const std::vector<KindRow>& ScenarioKinds() {
  static const std::vector<KindRow> kinds = MakeKinds();
  return kinds;
}

const KindRow* FindKind(const std::string& name) {
  for (const auto& row : ScenarioKinds())
    if (name == row.name) return &row;
  return nullptr;
}

void CheckEventFields(const KindRow& row, const json& event, const std::string& where) {
  for (const auto& item : event.items()) {
    const std::string& key = item.key();
    const json& value = item.value();
    if (key == "at" || key == "after" || key == "kind") continue;
    auto f = std::find_if(row.fields.begin(), row.fields.end(),
                          [&](const FieldSpec& s) { return key == s.name; });
    if (f == row.fields.end())
      throw ScenarioError(where + "." + key + ": unknown field of kind '" + row.name + "'");
    CheckField(*f, value, where + "." + key);
  }
  for (const auto& f : row.fields)
    if (f.required && !event.contains(f.name))
      throw ScenarioError(where + "." + f.name + ": missing");
  // Values whose shape depends on other fields: checked here so a bad one stops the run
  // before it starts.
  if (std::string(row.name) == "registry")
    ParseRegistryValue(event, where, event["action"] == "set");
  if (std::string(row.name) == "pm-reply") {
    // One thing per event: a reply with its value, a feedback state, or the close.
    const int forms = (event.contains("reply") || event.contains("value") ? 1 : 0) +
                      (event.contains("feedback") ? 1 : 0) +
                      (event.contains("closeDashboard") ? 1 : 0);
    if (forms != 1)
      throw ScenarioError(where +
                          ": expected one of \"reply\" with \"value\", "
                          "\"feedback\" or \"closeDashboard\"");
    if (event.contains("reply") != event.contains("value"))
      throw ScenarioError(where + (event.contains("reply") ? ".value" : ".reply") + ": missing");
    if (event.contains("closeDashboard") && !event["closeDashboard"].get<bool>())
      throw ScenarioError(where + ".closeDashboard: only true closes the dashboard");
  }
  if (std::string(row.name) == "mailslot") {
    if (event.contains("raw") == (event.contains("id") || event.contains("code")))
      throw ScenarioError(where + ": expected \"raw\", or \"id\" and \"code\"");
    if (event.contains("raw") && event.contains("payload"))
      throw ScenarioError(where + ".payload: not with \"raw\"");
    if (!event.contains("raw") && !(event.contains("id") && event.contains("code")))
      throw ScenarioError(where + (event.contains("id") ? ".code" : ".id") + ": missing");
    auto hex = [&](const json& v, const std::string& at) {
      const std::string t = v.get<std::string>();
      if (t.size() % 2 || !std::all_of(t.begin(), t.end(), [](char c) {
            return std::isxdigit(static_cast<unsigned char>(c));
          }))
        throw ScenarioError(at + ": expected an even number of hex digits");
    };
    if (event.contains("raw")) hex(event["raw"], where + ".raw");
    if (event.contains("payload")) {
      const json& p = event["payload"];
      if (p.is_string()) {
        hex(p, where + ".payload");
      } else if (!p.is_array() || !std::all_of(p.begin(), p.end(), [](const json& b) {
                   return b.is_number_integer() && b.get<long long>() >= 0 &&
                          b.get<long long>() <= 255;
                 })) {
        throw ScenarioError(where + ".payload: expected hex digits or a list of bytes");
      }
    }
  }
  if (std::string(row.name) == "message") {
    const json& m = event["message"];
    if (m.is_string() && m.get<std::string>().rfind("0x", 0) == 0)
      CheckField({"message", FieldType::Integer, true, {}, 0, 0xFFFF}, m, where + ".message");
    else if (!m.is_string() || m.get<std::string>().empty())
      CheckField({"message", FieldType::Integer, true, {}, 0, 0xFFFF}, m, where + ".message");
  }
}

long long IntegerField(const json& event, const char* name, long long fallback) {
  if (!event.contains(name)) return fallback;
  const json& v = event[name];
  if (v.is_string())
    return static_cast<long long>(std::stoull(v.get<std::string>().substr(2), nullptr, 16));
  return v.get<long long>();
}

}  // namespace vdsim
