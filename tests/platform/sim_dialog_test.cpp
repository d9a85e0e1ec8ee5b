// Modal dialogs on the simulated machine: templates from a loaded module, the user's answers
// reaching the dialog procedure as clicks, the caller's messages served while the dialog is
// up, and the ways DialogBoxParamW refuses.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <thread>
#include <tuple>
#include <vector>

#include "app/res/agent_dialogs.h"
#include "platform/sim/desktop.h"
#include "platform/sim/dialog_manager.h"
#include "platform/sim/machine.h"
#include "platform/sim/process.h"
#include "platform/sim/window_manager.h"
#include "standins/agent_res/sim_install.h"

namespace {

constexpr wchar_t kRes[] = L"C:\\Program Files\\Veridane\\Agent\\VdAgentRes.dll";

// What the dialog procedure saw, and what it does with each message.
struct Script {
  platform::IUi* ui = nullptr;
  HWND dialog = nullptr;
  std::vector<std::pair<WORD, WORD>> commands;  // control id, notification
  UINT boxAtClose = 0xFFFF;
  // Extra behaviour; returns true when it handled the message.
  std::function<bool(HWND, UINT, WPARAM, LPARAM)> on;
};
Script* g_script = nullptr;

// Ends the dialog with the button's id, noting the box as it was then.
INT_PTR CALLBACK ScriptProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  Script& s = *g_script;
  if (msg == WM_INITDIALOG) s.dialog = h;
  if (s.on && s.on(h, msg, wp, lp)) return TRUE;
  if (msg == WM_INITDIALOG) return TRUE;
  if (msg != WM_COMMAND) return FALSE;
  s.commands.emplace_back(LOWORD(wp), HIWORD(wp));
  if (LOWORD(wp) == IDOK || LOWORD(wp) == IDCANCEL) {
    s.boxAtClose = s.ui->IsDlgButtonChecked(h, IDC_DONT_ASK_AGAIN);
    s.ui->EndDialog(h, LOWORD(wp));
  }
  return TRUE;
}

class SimDialogTest : public testing::Test {
 protected:
  SimDialogTest() : process(machine.CreateProcess({})) {
    agent_res_sim::InstallAgentResources(machine, kRes);
    res = process->Modules().LoadLibraryExW(kRes, nullptr, 0);
    script.ui = &process->Ui();
    g_script = &script;
  }
  ~SimDialogTest() override { g_script = nullptr; }

  INT_PTR Show(UINT id, HWND owner = nullptr, DLGPROC proc = &ScriptProc) {
    return process->Ui().DialogBoxParamW(res, MAKEINTRESOURCEW(id), owner, proc, 0);
  }
  std::vector<std::wstring> Shown(const wchar_t* kind) {
    return machine.GetDesktop().Texts(1, kind);
  }
  HWND MakeWindow() {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = process->Ui().DefWindowProcAddress();
    wc.lpszClassName = L"Owner";
    process->Ui().RegisterClassExW(&wc);
    return process->Ui().CreateWindowExW(0, L"Owner", L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                                         nullptr, nullptr);
  }

  sim::Machine machine;
  std::unique_ptr<sim::Process> process;
  HINSTANCE res = nullptr;
  Script script;
};

const wchar_t* Message(UINT id) {
  for (const auto& d : app_res::kAgentDialogs)
    if (d.id == id) return d.message;
  return L"";
}

TEST_F(SimDialogTest, TheUsersBoxAndButtonReachTheProcedureAsClicks) {
  std::vector<std::tuple<DWORD, UINT, std::wstring>> asked;
  machine.GetDesktop().SetPromptUser([&](DWORD session, UINT id, const std::wstring& caption) {
    asked.emplace_back(session, id, caption);
    return sim::PromptAnswer{IDOK, {{IDC_DONT_ASK_AGAIN, true}}};
  });
  EXPECT_EQ(Show(IDD_ASK_REGISTER_AT_START), IDOK);
  EXPECT_EQ(asked, (std::vector<std::tuple<DWORD, UINT, std::wstring>>{
                       {1, IDD_ASK_REGISTER_AT_START, L"Set Up Your Sign-In"}}));
  EXPECT_EQ(script.commands, (std::vector<std::pair<WORD, WORD>>{{IDC_DONT_ASK_AGAIN, BN_CLICKED},
                                                                 {IDOK, BN_CLICKED}}));
  EXPECT_EQ(script.boxAtClose, BST_CHECKED);
  EXPECT_EQ(Shown(sim::desktop_kind::kPrompt),
            (std::vector<std::wstring>{std::wstring(L"Set Up Your Sign-In: ") +
                                       Message(IDD_ASK_REGISTER_AT_START)}));
  EXPECT_EQ(Shown(sim::desktop_kind::kPromptAnswer),
            (std::vector<std::wstring>{L"button 1, box 1021 checked"}));
  // The dialog and its controls are gone once it returns.
  EXPECT_FALSE(process->Ui().IsWindow(script.dialog));
  EXPECT_TRUE(machine.Windows().WindowsOfClass(1, L"#32770").empty());
}

TEST_F(SimDialogTest, WithoutAUserEveryDialogIsCancelledAndItsBoxesKeepTheirState) {
  // The procedure ticks the box itself; a user who does not touch it leaves it ticked.
  script.on = [&](HWND h, UINT msg, WPARAM, LPARAM) {
    if (msg == WM_INITDIALOG) {
      EXPECT_TRUE(script.ui->CheckDlgButton(h, IDC_DONT_ASK_AGAIN, 1));
    }
    return false;
  };
  EXPECT_EQ(Show(IDD_REENROLLMENT_PROMPT), IDCANCEL);
  EXPECT_EQ(script.commands, (std::vector<std::pair<WORD, WORD>>{{IDCANCEL, BN_CLICKED}}));
  EXPECT_EQ(script.boxAtClose, BST_CHECKED);
  EXPECT_EQ(Shown(sim::desktop_kind::kPromptAnswer),
            (std::vector<std::wstring>{L"button 2, box 1021 checked"}));

  // A user who clears a box the procedure ticked clicks it once.
  machine.GetDesktop().SetPromptUser([](DWORD, UINT, const std::wstring&) {
    return sim::PromptAnswer{IDOK, {{IDC_DONT_ASK_AGAIN, false}}};
  });
  script.commands.clear();
  EXPECT_EQ(Show(IDD_REENROLLMENT_PROMPT), IDOK);
  EXPECT_EQ(script.commands, (std::vector<std::pair<WORD, WORD>>{{IDC_DONT_ASK_AGAIN, BN_CLICKED},
                                                                 {IDOK, BN_CLICKED}}));
  EXPECT_EQ(script.boxAtClose, BST_UNCHECKED);
}

TEST_F(SimDialogTest, ADialogEndedWhileInitialisingIsNeverShown) {
  bool asked = false;
  machine.GetDesktop().SetPromptUser([&](DWORD, UINT, const std::wstring&) {
    asked = true;
    return sim::PromptAnswer{};
  });
  script.on = [&](HWND h, UINT msg, WPARAM, LPARAM) {
    if (msg == WM_INITDIALOG) script.ui->EndDialog(h, 42);
    return false;
  };
  EXPECT_EQ(Show(IDD_ASK_REGISTER), 42);
  EXPECT_FALSE(asked);
  EXPECT_TRUE(Shown(sim::desktop_kind::kPrompt).empty());
  EXPECT_FALSE(process->Ui().IsWindow(script.dialog));
}

TEST_F(SimDialogTest, RefusesUnusableTemplatesAndOwners) {
  bool called = false;
  script.on = [&](HWND, UINT, WPARAM, LPARAM) {
    called = true;
    return false;
  };
  auto& ui = process->Ui();
  auto error = [&] { return machine.LastError(); };
  EXPECT_EQ(Show(999), -1);
  EXPECT_EQ(error(), static_cast<DWORD>(ERROR_RESOURCE_NAME_NOT_FOUND));
  EXPECT_EQ(ui.DialogBoxParamW(res, L"ASK", nullptr, &ScriptProc, 0), -1);
  EXPECT_EQ(error(), static_cast<DWORD>(ERROR_RESOURCE_NAME_NOT_FOUND));
  // A module without any dialog, and a handle that is no loaded module.
  machine.Modules().Install(L"C:\\Windows\\system32\\plain.dll", {}, {{1, L"text"}});
  HINSTANCE plain = process->Modules().LoadLibraryExW(L"plain.dll", nullptr, 0);
  ASSERT_NE(plain, nullptr);
  EXPECT_EQ(ui.DialogBoxParamW(plain, MAKEINTRESOURCEW(IDD_ASK_REGISTER), nullptr, &ScriptProc, 0),
            -1);
  EXPECT_EQ(error(), static_cast<DWORD>(ERROR_RESOURCE_TYPE_NOT_FOUND));
  EXPECT_EQ(ui.DialogBoxParamW(reinterpret_cast<HINSTANCE>(0x7777), MAKEINTRESOURCEW(210), nullptr,
                               &ScriptProc, 0),
            -1);
  // An owner that is gone: 0, as Windows answers it.
  HWND owner = MakeWindow();
  ASSERT_TRUE(ui.DestroyWindow(owner));
  EXPECT_EQ(Show(IDD_ASK_REGISTER, owner), 0);
  EXPECT_EQ(error(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
  EXPECT_FALSE(called);
  EXPECT_TRUE(Shown(sim::desktop_kind::kPrompt).empty());
}

TEST_F(SimDialogTest, ControlsAreChildWindowsWithTheirOwnState) {
  HWND owner = MakeWindow();
  script.on = [&](HWND h, UINT msg, WPARAM, LPARAM) {
    if (msg != WM_INITDIALOG) return false;
    auto& ui = *script.ui;
    HWND box = ui.GetDlgItem(h, IDC_DONT_ASK_AGAIN);
    EXPECT_NE(box, nullptr);
    auto info = machine.Windows().Info(box);
    EXPECT_TRUE(info && info->parent == h && (info->style & WS_CHILD));
    EXPECT_EQ(ui.GetWindowLongPtrW(box, GWLP_ID), IDC_DONT_ASK_AGAIN);
    auto dlg = machine.Windows().Info(h);
    EXPECT_TRUE(dlg && dlg->parent == owner && dlg->className == L"#32770");
    // A push button takes no check; an id the template lacks is no control.
    EXPECT_TRUE(ui.CheckDlgButton(h, IDOK, BST_CHECKED));
    EXPECT_EQ(ui.IsDlgButtonChecked(h, IDOK), 0u);
    EXPECT_FALSE(ui.CheckDlgButton(h, 4242, BST_CHECKED));
    EXPECT_EQ(machine.LastError(), static_cast<DWORD>(ERROR_CONTROL_ID_NOT_FOUND));
    EXPECT_EQ(ui.GetDlgItem(h, 4242), nullptr);
    EXPECT_EQ(ui.IsDlgButtonChecked(h, IDC_DONT_ASK_AGAIN), BST_UNCHECKED);
    EXPECT_TRUE(ui.CheckDlgButton(h, IDC_DONT_ASK_AGAIN, BST_CHECKED));
    EXPECT_EQ(ui.IsDlgButtonChecked(h, IDC_DONT_ASK_AGAIN), BST_CHECKED);
    // The text the user reads is the one the procedure put there.
    EXPECT_TRUE(ui.SetDlgItemTextW(h, IDC_PROMPT_TEXT, L"Custom words"));
    wchar_t buf[8];
    EXPECT_EQ(ui.SendMessageW(ui.GetDlgItem(h, IDC_PROMPT_TEXT), WM_GETTEXT, 8,
                              reinterpret_cast<LPARAM>(buf)),
              7);
    EXPECT_EQ(std::wstring(buf), L"Custom ");
    return false;
  };
  EXPECT_EQ(Show(IDD_ASK_REGISTER, owner), IDCANCEL);
  EXPECT_EQ(Shown(sim::desktop_kind::kPrompt),
            (std::vector<std::wstring>{L"Enroll Your Fingerprints: Custom words"}));
  // Outside a dialog there is nothing to reach.
  EXPECT_FALSE(process->Ui().EndDialog(owner, 1));
  EXPECT_EQ(machine.LastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
  EXPECT_EQ(process->Ui().GetDlgItem(script.dialog, IDOK), nullptr);
}

TEST_F(SimDialogTest, TheCallersMessagesAndTimersRunWhileTheUserLooks) {
  HWND owner = MakeWindow();
  std::vector<std::pair<UINT, ULONGLONG>> ran;
  // The dialog's own timer ends it while the user only looks: no click is recorded.
  script.on = [&](HWND h, UINT msg, WPARAM wp, LPARAM) {
    if (msg == WM_INITDIALOG) {
      script.ui->SetTimer(h, 5, 700, nullptr);
      script.ui->PostMessageW(h, WM_APP, 0, 0);
    }
    if (msg == WM_APP || msg == WM_TIMER) ran.emplace_back(msg, machine.GetClock().NowMs());
    if (msg == WM_TIMER && wp == 5) script.ui->EndDialog(h, 7);
    return msg == WM_APP || msg == WM_TIMER;
  };
  // Another thread sends to the owner while the dialog is up: it is served.
  std::atomic<bool> sent{false};
  std::thread sender;
  const DWORD me = machine.CurrentThreadId();
  machine.GetDesktop().SetPromptUser([&](DWORD, UINT, const std::wstring&) {
    sender = std::thread([&] {
      process->Ui().SendMessageW(owner, WM_NULL, 0, 0);
      sent = true;
    });
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    // The dialog's own WM_APP waits already; the send makes two.
    while (machine.Windows().QueuedMessages(me) < 2 && std::chrono::steady_clock::now() < until)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return sim::PromptAnswer{0, {}, 5000};
  });
  const ULONGLONG start = machine.GetClock().NowMs();
  EXPECT_EQ(Show(IDD_ASK_REGISTER, owner), 7);
  sender.join();
  EXPECT_TRUE(sent);
  EXPECT_EQ(ran,
            (std::vector<std::pair<UINT, ULONGLONG>>{{WM_APP, start}, {WM_TIMER, start + 700}}));
  EXPECT_EQ(machine.GetClock().NowMs(), start + 700);
  EXPECT_TRUE(Shown(sim::desktop_kind::kPromptAnswer).empty());
}

TEST_F(SimDialogTest, ADialogMayOpenAnotherAsOnWindows) {
  std::vector<UINT> order;
  machine.GetDesktop().SetPromptUser([&](DWORD, UINT id, const std::wstring&) {
    order.push_back(id);
    return sim::PromptAnswer{id == IDD_ASK_REGISTER_AT_START ? IDOK : IDCANCEL, {}};
  });
  INT_PTR inner = 0;
  script.on = [&](HWND h, UINT msg, WPARAM wp, LPARAM) {
    if (msg != WM_COMMAND || LOWORD(wp) != IDOK) return false;
    inner = script.ui->DialogBoxParamW(res, MAKEINTRESOURCEW(IDD_ASK_REGISTER), h, &ScriptProc, 0);
    script.ui->EndDialog(h, 100 + inner);
    return true;
  };
  EXPECT_EQ(Show(IDD_ASK_REGISTER_AT_START), 100 + IDCANCEL);
  EXPECT_EQ(inner, IDCANCEL);
  EXPECT_EQ(order, (std::vector<UINT>{IDD_ASK_REGISTER_AT_START, IDD_ASK_REGISTER}));
}

TEST_F(SimDialogTest, ADialogThatNeverEndsIsGivenUpOn) {
  int answers = 0;
  machine.GetDesktop().SetPromptUser([&](DWORD, UINT, const std::wstring&) {
    ++answers;
    return sim::PromptAnswer{IDOK, {}};
  });
  // No procedure: nothing ever calls EndDialog.
  EXPECT_EQ(Show(IDD_ASK_REGISTER, nullptr, nullptr), -1);
  EXPECT_EQ(answers, sim::DialogManager::kMaxAnswers);
  ASSERT_EQ(Shown(sim::desktop_kind::kPrompt).size(), 2u);
  EXPECT_TRUE(machine.Windows().WindowsOfClass(1, L"#32770").empty());
}

TEST_F(SimDialogTest, AQuitEndsTheDialogAndReachesTheCallersLoop) {
  script.on = [&](HWND, UINT msg, WPARAM, LPARAM) {
    if (msg == WM_INITDIALOG) script.ui->PostQuitMessage(3);
    return false;
  };
  EXPECT_EQ(Show(IDD_ASK_REGISTER), 0);
  EXPECT_TRUE(script.commands.empty());
  MSG msg{};
  ASSERT_TRUE(process->Ui().PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(msg.message, static_cast<UINT>(WM_QUIT));
  EXPECT_EQ(msg.wParam, 3u);
}

// The agent's prompts as installed: a balloon title shows at most 63 characters, and each
// prompt opens with the text of its string resource.
TEST(AgentPromptResources, TitlesFitABalloonAndTemplatesCarryTheirMessages) {
  std::map<unsigned, std::wstring> strings(std::begin(app_res::kAgentStrings),
                                           std::end(app_res::kAgentStrings));
  for (unsigned id : {IDS_FP_ENROLLMENT_RECOMMENDED, IDS_NOTIFY_TITLE}) {
    SCOPED_TRACE(id);
    ASSERT_TRUE(strings.count(id));
    EXPECT_LE(strings[id].size(), 63u);
  }
  for (unsigned id : {196u, 197u, 620u, 213u, 214u, 215u, 216u, 217u}) {
    SCOPED_TRACE(id);
    EXPECT_FALSE(strings[id].empty());
  }
  const std::map<unsigned, unsigned> messageOf = {
      {IDD_ASK_REGISTER_AT_START, 213}, {IDD_ASK_REGISTER, 215}, {IDD_REENROLLMENT_PROMPT, 217}};
  auto dialogs = agent_res_sim::AgentDialogs();
  ASSERT_EQ(dialogs.size(), 4u);  // the prompts and the About box
  const auto& about = dialogs.at(IDD_ABOUT);
  ASSERT_EQ(about.controls.size(), 5u);
  EXPECT_EQ(about.controls[3].id, IDC_ABOUT_LINK);
  EXPECT_EQ(about.controls[3].kind, sim::DialogControl::Kind::Link);
  EXPECT_EQ(about.controls[4].id, IDOK);
  dialogs.erase(IDD_ABOUT);
  for (const auto& [id, tpl] : dialogs) {
    SCOPED_TRACE(id);
    ASSERT_EQ(tpl.controls.size(), 4u);
    EXPECT_EQ(tpl.controls[0].text, strings[messageOf.at(id)]);
    EXPECT_EQ(tpl.controls[1].id, IDC_DONT_ASK_AGAIN);
    EXPECT_EQ(tpl.controls[1].kind, sim::DialogControl::Kind::CheckBox);
    EXPECT_EQ(tpl.controls[1].text, L"Do not ask me again");
    EXPECT_EQ(tpl.controls[2].id, IDOK);
    EXPECT_EQ(tpl.controls[3].id, IDCANCEL);
  }
}

// A link click reaches the procedure as the control's notification, with the markup's URL,
// and the window's title follows WM_SETTEXT.
TEST_F(SimDialogTest, ALinkClickNotifiesTheDialogWithTheLinksAddress) {
  std::vector<std::tuple<UINT_PTR, UINT, std::wstring>> notified;
  script.on = [&](HWND h, UINT msg, WPARAM, LPARAM lp) {
    if (msg == WM_INITDIALOG) {
      process->Ui().SendMessageW(h, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"Renamed"));
      process->Ui().SetDlgItemTextW(h, IDC_ABOUT_LINK,
                                    L"see <a href=\"https://x.example/\">the site</a>");
      return true;
    }
    if (msg != WM_NOTIFY) return false;
    const auto* nm = reinterpret_cast<const NMLINK*>(lp);
    notified.emplace_back(nm->hdr.idFrom, nm->hdr.code, nm->item.szUrl);
    return true;
  };
  std::vector<std::wstring> captions;
  machine.GetDesktop().SetPromptUser([&](DWORD, UINT, const std::wstring& caption) {
    captions.push_back(caption);
    sim::PromptAnswer a;
    a.button = IDOK;
    a.link = IDC_ABOUT_LINK;
    return a;
  });
  EXPECT_EQ(Show(IDD_ABOUT), IDOK);
  ASSERT_EQ(notified.size(), 1u);
  EXPECT_EQ(notified[0], std::make_tuple(UINT_PTR{IDC_ABOUT_LINK}, NM_CLICK,
                                         std::wstring(L"https://x.example/")));
  EXPECT_EQ(captions, (std::vector<std::wstring>{L"Renamed"}));
  EXPECT_EQ(Shown(sim::desktop_kind::kPromptAnswer),
            (std::vector<std::wstring>{L"link 1033", L"button 1"}));
}

}  // namespace
