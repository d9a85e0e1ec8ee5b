#include "app/main_window.h"

#include <cwctype>
#include <new>
#include <string>

#include "app/agent_registration.h"
#include "core/own_dir.h"
#include "core/taskbar.h"
#include "launch/launch_app.h"
#include "policy/startup_checks.h"
#include "support/registry_read.h"
#include "support/settings/settings_section.h"
#include "tray/tray_menu.h"

CVdAgentMain::CVdAgentMain(core::CAgentProcess& process)
    : core::CWindowImpl<CVdAgentMain>(process.Platform().Ui()),
      m_process(process),
      m_eventLog(process.Platform()) {
  // Let the plug-in framework's broadcast through the privilege-isolation filter; absent
  // on old systems, which is fine.
  Ui().ChangeWindowMessageFilter(process.Messages().vdnxBroadcast, MSGFLT_ADD);
  m_quickActions = std::make_unique<CQuickActions>(process, m_hosts);
  m_cardActions = std::make_unique<CCardActions>(process, m_hosts, *m_quickActions);
  platform::IPlatform& plat = process.Platform();
  try {
    SECURITY_ATTRIBUTES defaultSecurity{};
    m_inbox = std::make_unique<Mailslot::Inbox>(
        plat.Kernel(), plat.Ui(), Mailslot::GetBthMailslotName(plat.Kernel(), plat.Sessions()),
        &defaultSecurity);
  } catch (const CResultError&) {
    // Traced where it failed; the agent works on without proximity messages.
  }
}

CVdAgentMain::~CVdAgentMain() {
  if (m_hWnd) DestroyWindow();
}

HWND CVdAgentMain::CreateMainWindow() {
  auto& proc = m_process;
  RegisterClassOnce(proc.Instance(), core::kAgentWindowClass, CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS,
                    reinterpret_cast<HBRUSH>(static_cast<ULONG_PTR>(COLOR_WINDOW + 1)));
  // Never shown and never in the taskbar or the task switcher.
  return Create(proc.Instance(), core::kAgentWindowClass, core::kAgentWindowTitle, WS_POPUP,
                WS_EX_TOOLWINDOW);
}

BOOL CVdAgentMain::ProcessWindowMessage(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam,
                                        LRESULT& result) {
  // Sent to the window while it waits for the taskbar inside WM_CREATE: no handler has seen
  // the creation yet, so DefWindowProc answers.
  if (m_bWaitingForTaskbar) return FALSE;
  return HandlerChain::Route(*this, hWnd, uMsg, wParam, lParam, result);
}

BOOL CVdAgentMain::OwnCreate::Route(CVdAgentMain& w, HWND, UINT m, WPARAM wp, LPARAM lp,
                                    LRESULT& r) {
  if (m != WM_CREATE) return FALSE;
  w.SetMsgHandled(TRUE);
  r = w.OnCreate(m, wp, lp);
  return w.IsMsgHandled();
}

BOOL CVdAgentMain::OwnHandlers::Route(CVdAgentMain& w, HWND, UINT m, WPARAM wp, LPARAM lp,
                                      LRESULT& r) {
  using Handler = LRESULT (CVdAgentMain::*)(UINT, WPARAM, LPARAM);
  Handler h = nullptr;
  switch (m) {
    case core::WM_VD_READY:
      h = &CVdAgentMain::OnReady;
      break;
    case WM_QUERYENDSESSION:
      h = &CVdAgentMain::OnQueryEndSession;
      break;
    case WM_ENDSESSION:
      h = &CVdAgentMain::OnEndSession;
      break;
    case WM_DESTROY:
      h = &CVdAgentMain::OnDestroy;
      break;
    case WM_WTSSESSION_CHANGE:
      h = &CVdAgentMain::OnSessionChange;
      break;
    case WM_COMMAND:
      h = &CVdAgentMain::OnCommand;
      break;
    default:
      return FALSE;
  }
  w.SetMsgHandled(TRUE);
  r = (w.*h)(m, wp, lp);
  return w.IsMsgHandled();
}

LRESULT CVdAgentMain::OnCreate(UINT, WPARAM, LPARAM) {
  VDTraceNS::CScope ts("CVdAgentMain::OnCreate");
  auto& plat = m_process.Platform();
  core::SetCurrDirToOwnDir(plat);
  plat.Kernel().SetCurrentThreadDescription(L"main");

  WaitForTaskbar();

  Ui().SetForegroundWindow(m_hWnd);
  if (plat.Sessions().WTSRegisterSessionNotification(m_hWnd, NOTIFY_FOR_THIS_SESSION)) {
    m_sessionNotificationRegistered = true;
  } else {
    ts.Result("WTSRegisterSessionNotification", HRESULT_FROM_WIN32(plat.Kernel().GetLastError()));
  }
  // The fingerprint handler and the tray icon see WM_CREATE next.
  SetMsgHandled(FALSE);
  return 0;
}

void CVdAgentMain::WaitForTaskbar() {
  // Started before the shell: wait for the taskbar, however long it takes, in one-second
  // steps. Messages other programs send meanwhile are answered (a broadcast sent to every
  // top-level window would otherwise hang until the shell comes); posted ones wait for the
  // message loop.
  m_bWaitingForTaskbar = true;
  while (!Ui().FindWindowW(core::kTaskbarClass, nullptr)) {
    if (Ui().MsgWaitForMultipleObjects(0, nullptr, FALSE, 1000, QS_SENDMESSAGE) == WAIT_OBJECT_0) {
      MSG msg;
      Ui().PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
  }
  m_bWaitingForTaskbar = false;
}

LRESULT CVdAgentMain::OnReady(UINT, WPARAM wParam, LPARAM lParam) {
  VDTraceNS::CScope ts("CVdAgentMain::OnReady");
  HRESULT hr = S_OK;
  try {
    if (wParam && lParam < 0) throw CResultError(static_cast<HRESULT>(lParam));
    SetMsgHandled(FALSE);
    if (m_inbox) m_inbox->Notify(this);
    if (!m_feedback) StartFeedbackWindow();
    RegisterTSClient(m_process.Platform());    // traced; the agent goes on whatever it answers
    m_passwordManager.InitUserTrainingTool();  // traced; a missing password manager is fine
    m_plugins.Load();
  } catch (const CResultError& e) {
    hr = e.Result();
  } catch (...) {
    const DWORD err = m_process.Platform().Kernel().GetLastError();
    hr = err ? HRESULT_FROM_WIN32(err) : E_UNEXPECTED;
  }
  ts.Result("OnReady", hr);
  if (FAILED(hr)) Ui().PostQuitMessage(0);  // a failed library start ends the agent
  return 0;
}

void CVdAgentMain::StartFeedbackWindow() {
  auto& plat = m_process.Platform();
  // The avatar's picture is a resource of the executable itself.
  HINSTANCE module = m_process.Instance();
  if (!module) module = reinterpret_cast<HINSTANCE>(plat.Modules().GetModuleHandleW(nullptr));
  try {
    m_feedback = std::make_unique<tray::CGuideWindow>(
        plat, module, [this](UINT id) { return ResourceString(id); });
  } catch (const std::bad_alloc&) {
    throw CResultError(E_OUTOFMEMORY);
  }
}

LRESULT CVdAgentMain::OnQueryEndSession(UINT, WPARAM, LPARAM) {
  VDTraceNS::CScope ts("CVdAgentMain::OnQueryEndSession");
  ts.Msg("Done");
  return TRUE;  // never veto a log-off or shutdown
}

LRESULT CVdAgentMain::OnEndSession(UINT, WPARAM wParam, LPARAM) {
  VDTraceNS::CScope ts("CVdAgentMain::OnEndSession");
  if (wParam) Dispose();
  return 0;
}

LRESULT CVdAgentMain::OnDestroy(UINT, WPARAM, LPARAM) {
  VDTraceNS::CScope ts("CVdAgentMain::OnDestroy");
  Dispose();
  Ui().PostQuitMessage(0);
  ts.Msg("Done");
  SetMsgHandled(FALSE);
  return 0;
}

LRESULT CVdAgentMain::OnSessionChange(UINT, WPARAM, LPARAM) {
  VDTraceNS::CScope ts("CVdAgentMain::OnSessionChange");
  return 0;
}

void CVdAgentMain::Dispose() {
  VDTraceNS::CScope ts("CVdAgentMain::Dispose");
  if (m_sessionNotificationRegistered) {
    m_process.Platform().Sessions().WTSUnRegisterSessionNotification(m_hWnd);
    m_sessionNotificationRegistered = false;
  }
  if (m_inbox) m_inbox->Notify(nullptr);
  // A handle the password manager never received is still ours.
  if (m_quickActions) m_quickActions->Dispose();
  m_plugins.UnLoad();
  m_help.reset();
  m_feedback.reset();
  ts.Msg("All done.");
}

LRESULT CVdAgentMain::OnCommand(UINT, WPARAM wParam, LPARAM) {
  const WORD id = LOWORD(wParam);
  switch (id) {
    case core::ID_APP_ABOUT: {
      // The About box runs in a process of its own, so the agent never blocks on it.
      VDTraceNS::CScope ts("CVdAgentMain::OnAbout");
      LAUNCHAPPID::LaunchApp(m_process, LAUNCHAPPID::Agent, L"-ShowAbout");
      return 0;
    }
    case core::ID_HELP:
      OnHelp();
      return 0;
    case core::ID_LOCK_WORKSTATION: {
      VDTraceNS::CScope ts("CVdAgentMain::OnLockWorkstation");
      Ui().LockWorkStation();
      return 1;
    }
    case core::ID_HIDE_TRAY_ICON: {
      VDTraceNS::CScope ts("CVdAgentMain::OnHideTrayIcon");
      core::FocusTaskbar(m_process);
      CKwAppSettings(m_process.Platform())
          .Set(SettingNames::KwAppSettings::kShowTaskbarIcon, false);
      Hide();
      return 0;
    }
    case core::ID_OPEN_CONSOLE: {
      VDTraceNS::CScope ts("CVdAgentMain::OnOpenConsole");
      core::FocusTaskbar(m_process);
      LAUNCHAPPID::LaunchApp(m_process, LAUNCHAPPID::Console, L"");
      return 0;
    }
    default:
      break;
  }
  // The plug-in range only exists once the tray menu has been built.
  if (m_nFirstPluginCommand != 0 && id >= m_nFirstPluginCommand && id <= m_nLastPluginCommand) {
    VDTraceNS::CScope ts("CVdAgentMain::OnPluginCommand");
    m_plugins.ExecTrayMenuItem(id);
    return 0;
  }
  SetMsgHandled(FALSE);
  return 0;
}

void CVdAgentMain::OnHelp() { launch::ShowHelp(m_process, m_help); }

void CVdAgentMain::OnHotKey() {
  if (m_quickActions) m_quickActions->OnHotKey();
}

std::wstring CVdAgentMain::ResourceString(UINT id) {
  if (!m_strings) {
    auto& plat = m_process.Platform();
    wchar_t path[MAX_PATH + 1] = {};
    const DWORD n = plat.Kernel().GetModuleFileNameW(nullptr, path, MAX_PATH);
    m_strings.emplace(plat, n > 0 && n < MAX_PATH ? core::ModuleFolder(std::wstring(path, n)) : L"");
  }
  return m_strings->String(id);
}

HMENU CVdAgentMain::BuildTrayMenu() {
  tray::TrayMenuParts parts;
  parts.text = [this](UINT id) { return ResourceString(id); };
  parts.offerHelp = !IsLumeraStandaloneWksta(m_process) &&
                    !tray::OemlineSecurityManagerInstalled(m_process.Platform().Registry());
  parts.addPluginItems = [this](HMENU menu, UINT& first, UINT& last) {
    m_plugins.AddTrayMenuItems(menu, first, last);
  };
  return tray::BuildTrayMenu(Ui(), parts, m_nFirstPluginCommand, m_nLastPluginCommand);
}

void CVdAgentMain::OnVDKioskUserIdentified(LPARAM lParam) {
  VDTraceNS::CScope ts("CVdAgentMain::OnVDKioskUserIdentified");
  ts.Msg("lParam = %ld", static_cast<long>(lParam));
  KioskLogic().OnVDKioskUserIdentified(lParam);
}

void CVdAgentMain::OnInboundMessage(DWORD code, const BYTE*, DWORD) {
  VDTraceNS::CScope ts("CVdAgentMain::OnInboundMessage");
  // All 32 bits are compared: 0x102 is not 2.
  ts.Msg("Bluetooth proximity message = 0x%02X", static_cast<unsigned>(code));
  if (code == 2) {
    ts.Msg("Lock workstation...");
    if (!Ui().LockWorkStation())
      ts.Result("LockWorkStation",
                HRESULT_FROM_WIN32(m_process.Platform().Kernel().GetLastError()));
  }
}
