#include "tray/tray_icon_logic.h"

#include <exception>

#include "support/branding_strings.h"
#include "support/result_error.h"
#include "support/settings/user_settings_get.h"
#include "support/trace/trace.h"

namespace {

constexpr const wchar_t* kKwAppSettingsKey = L"SOFTWARE\\Veridane\\Applications\\KwAppSettings";
constexpr const wchar_t* kShowTaskbarIcon = L"ShowTaskbarIcon";

// Runs `f`; whatever it throws is traced in `ts` and dropped: the icon is never worth the
// window's life.
template <class F>
void Swallow(const VDTraceNS::CScope& ts, F&& f) {
  try {
    f();
  } catch (const CResultError& e) {
    ts.Result("Exception swallowed", e.Result());
  } catch (const std::exception& e) {
    ts.Msg("Exception swallowed: %s", e.what());
  } catch (...) {
    ts.Result("Exception swallowed", E_UNEXPECTED);
  }
}

}  // namespace

CTrayIconLogic::CTrayIconLogic(core::CAgentProcess& process, ITrayHost& host)
    : m_process(process),
      m_host(host),
      m_icon(process.Platform(), host.TrayResourceModule(),
             [&host](UINT id) { return host.TrayString(id); }),
      m_balloons(process.Platform().Kernel()),
      m_gate(std::make_shared<CTaskGate>()) {
  m_gate->host = &host;
}

CTrayIconLogic::~CTrayIconLogic() {
  CloseTaskGate();
  m_balloons.Clear();
}

void CTrayIconLogic::CloseTaskGate() {
  std::lock_guard lk(m_gate->lock);
  m_gate->host = nullptr;
}

TrayTaskPoster CTrayIconLogic::TaskPoster() {
  return [gate = m_gate](std::function<void()> task) {
    std::lock_guard lk(gate->lock);
    if (!gate->host) return false;
    gate->host->PostTrayTask(std::move(task));
    return true;
  };
}

bool CTrayIconLogic::ReadShowTaskbarIcon() {
  VDTraceNS::CScope ts("CTrayIconHandler<class CVdAgentMain>::ReadShowTaskbarIcon");
  auto& plat = m_process.Platform();
  bool show = true;
  try {
    CUserSettingsGet get(plat, kKwAppSettingsKey);
    if (FAILED(get.GetBool(kShowTaskbarIcon, show))) show = true;
  } catch (...) {
    show = true;
  }
  // A value of another type is skipped by the reader; say so, since someone meant it.
  auto& reg = plat.Registry();
  platform::UniqueHKey key(reg);
  DWORD type = REG_NONE;
  if (reg.RegOpenKeyExW(HKEY_CURRENT_USER, kKwAppSettingsKey, 0, KEY_READ, key.put()) ==
          ERROR_SUCCESS &&
      reg.RegQueryValueExW(key.get(), kShowTaskbarIcon, nullptr, &type, nullptr, nullptr) ==
          ERROR_SUCCESS &&
      type != REG_DWORD)
    ts.Msg("ShowTaskbarIcon has type %lu, not a number: ignored", static_cast<unsigned long>(type));
  ts.Msg("ShowTaskbarIcon = %d", show ? 1 : 0);
  return show;
}

void CTrayIconLogic::OnCreate() {
  VDTraceNS::CScope ts("CTrayIconHandler<class CVdAgentMain>::OnCreate");
  Swallow(ts, [&] {
    m_icon.SetWindowHandle(m_host.TrayWindow());
    if (ReadShowTaskbarIcon()) Show(m_baseIndex);
  });
}

void CTrayIconLogic::OnDestroy() {
  VDTraceNS::CScope ts("CTrayIconHandler<class CVdAgentMain>::Dispose");
  const bool again = m_disposed;
  m_disposed = true;
  if (UINT pending = std::exchange(m_process.TrayClickTaskId, 0)) m_host.CancelTrayTask(pending);
  CloseTaskGate();
  // Nobody is told: the requests and the toasts still waiting for the window go unseen.
  m_balloons.Clear();
  if (again) return;
  Swallow(ts, [&] {
    m_icon.HideBalloon(false);
    m_icon.DeleteIconFromTray();
  });
}

void CTrayIconLogic::OnAmbientChange() {
  VDTraceNS::CScope ts("CTrayIconHandler<class CVdAgentMain>::OnAmbientChange");
  Swallow(ts, [&] { m_icon.ReloadIcons(); });
}

void CTrayIconLogic::OnTaskbarCreated() {
  VDTraceNS::CScope ts("CTrayIconHandler<class CVdAgentMain>::OnTaskbarCreated");
  if (m_disposed) return;
  Swallow(ts, [&] {
    if (ReadShowTaskbarIcon()) m_icon.PutIconOnTray(m_baseIndex, true);
  });
}

void CTrayIconLogic::OnSettingsChanged() {
  VDTraceNS::CScope ts("CTrayIconHandler<class CVdAgentMain>::OnSettingsChanged");
  if (m_disposed) return;
  if (ReadShowTaskbarIcon())
    Show(m_baseIndex);
  else
    Hide();
}

void CTrayIconLogic::Show(UINT index) {
  VDTraceNS::CScope ts("CTrayIconHandler<class CVdAgentMain>::Show");
  ts.Msg("index = %u", index);
  m_baseIndex = index ? 1 : 0;
  if (m_disposed) return;  // the window is going: the icon stays gone
  Swallow(ts, [&] { m_icon.PutIconOnTray(m_baseIndex, false); });
}

void CTrayIconLogic::Hide() {
  VDTraceNS::CScope ts("CTrayIconHandler<class CVdAgentMain>::Hide");
  Swallow(ts, [&] { m_icon.DeleteIconFromTray(); });
}

void CTrayIconLogic::Flash() {
  VDTraceNS::CScope ts("CTrayIconHandler<class CVdAgentMain>::Flash");
  Swallow(ts, [&] { m_icon.StartFlash(); });
}

void CTrayIconLogic::OnTrayMessage(LPARAM lParam) {
  if (m_disposed) return;
  const UINT code = static_cast<UINT>(lParam & 0xFFFF);
  UINT& pending = m_process.TrayClickTaskId;
  switch (code) {
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
      m_process.Platform().Ui().GetCursorPos(&m_click);
      break;
    case WM_LBUTTONUP:
      // A double click's own button-up, an open menu or a balloon click: no menu.
      if (pending || m_menuOpen || m_balloonClick) break;
      pending = m_host.ScheduleTrayTask(
          m_process.Platform().Ui().GetDoubleClickTime() + kClickSlackMs, [this](UINT) {
            m_process.TrayClickTaskId = 0;
            ShowMenu();
            return true;
          });
      break;
    case WM_LBUTTONDBLCLK:
      if (pending) m_host.CancelTrayTask(std::exchange(pending, 0));
      pending =
          m_host.ScheduleTrayTask(m_process.Platform().Ui().GetDoubleClickTime(), [this](UINT) {
            m_process.TrayClickTaskId = 0;
            OpenConsoleAfterDoubleClick();
            return true;
          });
      break;
    case WM_RBUTTONUP:
      ShowMenu();
      break;
    case NIN_BALLOONSHOW:
      m_host.PostTrayTask(
          [] { VDTraceNS::CScope ts("CTrayIconHandler<class CVdAgentMain>::OnBalloonShow"); });
      break;
    case NIN_BALLOONHIDE:
      m_host.PostTrayTask([this] { m_balloons.OnBalloonHide(m_icon); });
      break;
    case NIN_BALLOONTIMEOUT:
      m_host.PostTrayTask([this] { m_balloons.OnBalloonTimeout(m_icon); });
      break;
    case NIN_BALLOONUSERCLICK:
      m_balloonClick = true;
      m_host.PostTrayTask([this] {
        struct Clear {
          bool& f;
          ~Clear() { f = false; }
        } clear{m_balloonClick};
        m_balloons.OnBalloonUserClick(m_icon);
      });
      break;
    default:
      break;
  }
}

void CTrayIconLogic::OpenConsoleAfterDoubleClick() {
  VDTraceNS::CScope ts("CTrayIconHandler<class CVdAgentMain>::OnDoubleClick");
  if (m_disposed) return;
  auto& ui = m_process.Platform().Ui();
  Swallow(ts, [&] {
    m_icon.SetFocus();
    if (HWND taskbar = ui.FindWindowW(L"Shell_TrayWnd", nullptr)) ui.SetForegroundWindow(taskbar);
    m_host.LaunchConsole();
  });
}

void CTrayIconLogic::ShowMenu() {
  VDTraceNS::CScope ts("CTrayIconHandler<class CVdAgentMain>::ShowMenu");
  if (m_menuOpen || m_disposed) return;
  m_host.PostTrayTask([this] { RunMenu(); });
}

void CTrayIconLogic::RunMenu() {
  VDTraceNS::CScope ts("CTrayIconHandler<class CVdAgentMain>::ShowMenu::Task");
  if (m_menuOpen || m_disposed) return;
  auto& ui = m_process.Platform().Ui();
  struct Closed {
    bool& open;
    const VDTraceNS::CScope& ts;
    ~Closed() {
      open = false;
      ts.Msg("Menu destroyed");
    }
  };
  m_menuOpen = true;
  Closed closed{m_menuOpen, ts};
  Swallow(ts, [&] {
    const HWND window = m_host.TrayWindow();
    ui.SetForegroundWindow(window);
    POINT at = m_click;
    if (at.x == 0 && at.y == 0) ui.GetCursorPos(&at);
    HMENU menu = m_host.BuildTrayMenu();
    if (!menu) return;
    struct Destroy {
      platform::IUi& ui;
      HMENU menu;
      HWND window;
      ~Destroy() {
        // The menu's owner must see a message after the menu closes, or the next one
        // opens only at the second click.
        ui.PostMessageW(window, WM_NULL, 0, 0);
        ui.DestroyMenu(menu);
      }
    } destroy{ui, menu, window};
    if (!ui.TrackPopupMenu(menu, TPM_RIGHTBUTTON | TPM_RIGHTALIGN, at.x, at.y, 0, window, nullptr))
      m_icon.SetFocus();
  });
}

bool CTrayIconLogic::Notify(const std::wstring& title, const std::wstring& message,
                            const wchar_t* param, IUnknown* callback, DWORD flags, UINT timeoutMs,
                            UINT id) {
  VDTraceNS::CScope ts("CTrayIconHandler<class CVdAgentMain>::Notify");
  if (timeoutMs == 0) timeoutMs = kDefaultBalloonTimeoutMs;
  HRESULT hr = E_UNEXPECTED;
  Swallow(ts, [&] {
    hr = m_balloons.AddBalloon(m_icon, title, message, flags, param, timeoutMs, id, callback);
  });
  return SUCCEEDED(hr);
}

bool CTrayIconLogic::Notify(const std::wstring& title, const std::wstring& message,
                            IUnknown* callback, DWORD flags, UINT timeoutMs, UINT id) {
  return Notify(title, message, nullptr, callback, flags, timeoutMs, id);
}

void CTrayIconLogic::OnShowToast() {
  // Whatever the message carried is ignored: anyone may post it.
  if (m_disposed) return;
  auto& plat = m_process.Platform();
  if (!m_toastLibrary)
    m_toastLibrary =
        std::make_shared<CDelayLoadLibrary>(plat, "VDWinRTUtils.dll",
                                            // By name: the agent's folder first, then the system's.
                                            [](platform::IPlatform&, const std::string&) {
                                              return std::wstring(kVDWinRTUtilsLibrary);
                                            });
  const CToastEnvironment env{plat.Com(), m_toastLibrary,
                              [this](UINT id) { return m_host.TrayString(id); }};
  m_balloons.DisplayPendingToasts(env);
}

namespace tray {

platform::UniqueModule LoadTrayResourceModule(platform::IPlatform& plat,
                                              const std::wstring& agentFolder) {
  VDTraceNS::CScope ts("CTrayIcon::LoadResourceModule");
  auto& mods = plat.Modules();
  platform::UniqueModule module(mods);
  const std::wstring branding = support::BrandingModulePath(plat.Registry());
  if (!branding.empty())
    *module.put() = mods.LoadLibraryExW(branding.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (!module) {
    std::wstring own = agentFolder;
    if (!own.empty() && own.back() != L'\\' && own.back() != L'/') own += L'\\';
    own += support::kAgentResourceModule;
    *module.put() = mods.LoadLibraryExW(own.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!module) ts.Msg("Cannot load %ls", own.c_str());
  }
  return module;
}

}  // namespace tray
