// The agent's hidden main window: every event of the agent arrives here as a window message
// and is handed to the handler mixins in one fixed order (the chain below).
//
//   core::CAgentProcess proc(platform, hInstance);
//   CExceptionSafeWindow<CVdAgentMain> window(proc);
//   window.CreateMainWindow();   // WM_CREATE runs the chain's OnCreate handlers
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "actions/card_actions.h"
#include "actions/keyboard_handler.h"
#include "actions/quick_actions.h"
#include "app/agent_hosts.h"
#include "auth/card_handler.h"
#include "auth/fingerprint_handler.h"
#include "core/agent_process.h"
#include "core/dashboard_notify_receiver.h"
#include "core/exception_safe_window.h"
#include "core/handler_chain.h"
#include "core/message_map.h"
#include "core/messages.h"
#include "core/post_task_handler.h"
#include "core/window_impl.h"
#include "ext/agent_plugins.h"
#include "ext/kws_handler.h"
#include "ext/kws_host.h"
#include "ext/mailslot.h"
#include "ext/password_manager.h"
#include "kiosk/kiosk_handler.h"
#include "launch/help_viewer.h"
#include "kiosk/kiosk_session.h"
#include "policy/policy_handler.h"
#include "policy/user_session.h"
#include "policy/user_session_handler.h"
#include "policy/ux_handler.h"
#include "support/branding_strings.h"
#include "support/event_log.h"
#include "tray/guide_window.h"
#include "tray/tray_icon_handler.h"

class CVdAgentMain : public core::CWindowImpl<CVdAgentMain>,
                     public CDashBoardNotifyReceiver<CVdAgentMain>,
                     public CKeyboardHandler<CVdAgentMain>,
                     public CFingerprintHandler<CVdAgentMain>,
                     public CCardHandler<CVdAgentMain>,
                     public CTrayIconHandler<CVdAgentMain>,
                     public CKwsHandler<CVdAgentMain>,
                     public CPolicyHandler<CVdAgentMain>,
                     public CUserSessionHandler<CVdAgentMain>,
                     public CKioskHandler<CVdAgentMain>,
                     public CUXHandler<CVdAgentMain>,
                     public CPostTaskHandler<CVdAgentMain>,
                     public Mailslot::Inbox::Events {
 public:
  explicit CVdAgentMain(core::CAgentProcess& process);
  ~CVdAgentMain() override;

  // The window's own handlers, split around the mixins: WM_CREATE comes first of all, the
  // rest after every mixin.
  struct OwnCreate {
    static BOOL Route(CVdAgentMain& w, HWND, UINT m, WPARAM wp, LPARAM lp, LRESULT& r);
  };
  struct OwnHandlers {
    static BOOL Route(CVdAgentMain& w, HWND, UINT m, WPARAM wp, LPARAM lp, LRESULT& r);
  };

  // The order in which every message meets the handlers. It is not the order of the bases:
  // the hotkey is registered and the readers subscribed before the start-up sequence sees
  // ready, and the window's own ready runs after every mixin's.
  using HandlerChain = core::Chain<OwnCreate,                                            // (1)
                                   core::Stage<CDashBoardNotifyReceiver<CVdAgentMain>>,  // (2)
                                   core::Stage<CKeyboardHandler<CVdAgentMain>>,          // (3)
                                   core::Stage<CFingerprintHandler<CVdAgentMain>>,       // (4)
                                   core::Stage<CCardHandler<CVdAgentMain>>,              // (5)
                                   core::Stage<CKwsHandler<CVdAgentMain>>,               // (6)
                                   core::Stage<CUserSessionHandler<CVdAgentMain>>,       // (7)
                                   core::Stage<CKioskHandler<CVdAgentMain>>,             // (8)
                                   core::Stage<CTrayIconHandler<CVdAgentMain>>,          // (9)
                                   core::Stage<CPolicyHandler<CVdAgentMain>>,            // (10)
                                   core::Stage<CUXHandler<CVdAgentMain>>,                // (11)
                                   core::Stage<CPostTaskHandler<CVdAgentMain>>,          // (12)
                                   OwnHandlers>;                                         // (13)

  BOOL ProcessWindowMessage(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam,
                            LRESULT& result) override;

  // Creates the hidden window (class registered on first use). Null on failure.
  HWND CreateMainWindow();

  // ---- What the mixins reach through the window ----
  core::CAgentProcess& Process() const { return m_process; }
  platform::IUi& Ui() const { return m_process.Platform().Ui(); }
  void SetMsgHandled(BOOL handled) { m_bMsgHandled = handled; }
  BOOL IsMsgHandled() const { return m_bMsgHandled; }

  // True while a modal piece of the agent's user interface is up: quick actions and
  // reader-connected prompts wait.
  bool ModalMode = false;

  // What the logic of each subsystem asks of the others.
  IKwsHost& KwsHost() { return m_hosts; }
  IUserSessionHost& UserSessionHost() { return m_hosts; }
  IPolicyHost& PolicyHost() { return m_hosts; }
  IFingerprintHost& FingerprintHost() { return m_hosts; }
  ICardHost& CardHost() { return m_hosts; }
  IUXHost& UXHost() { return m_hosts; }
  CCardActions& CardActions() { return *m_cardActions; }
  CPasswordManager& PasswordManager() { return m_passwordManager; }
  CAgentPlugins& Plugins() { return m_plugins; }

  // First and last command identifiers of the plug-in menu items (0 until the tray menu is
  // built).
  UINT m_nFirstPluginCommand = 0;
  UINT m_nLastPluginCommand = 0;

  // ---- Events of the window itself ----
  LRESULT OnCreate(UINT, WPARAM, LPARAM);
  LRESULT OnReady(UINT, WPARAM, LPARAM);
  LRESULT OnQueryEndSession(UINT, WPARAM, LPARAM);
  LRESULT OnEndSession(UINT, WPARAM, LPARAM);
  LRESULT OnDestroy(UINT, WPARAM, LPARAM);
  LRESULT OnSessionChange(UINT, WPARAM, LPARAM);
  LRESULT OnCommand(UINT, WPARAM, LPARAM);
  void OnHelp();
  void Dispose();

  // The event-log writer of the session's security events (locks, log-offs).
  CVDLog& EventLog() { return m_eventLog; }
  // The quick actions.
  CQuickActions* QuickActions() { return m_quickActions.get(); }
  // The avatar window while it is usable, else null.
  HWND FeedbackWindow() const { return m_feedback ? m_feedback->Window() : nullptr; }
  // A text of the branding resource module, by number.
  std::wstring ResourceString(UINT id);
  // The tray icon's menu (tray/tray_menu.h); the caller destroys it.
  HMENU BuildTrayMenu() override;
  // The agent's hotkey was pressed and an action may start (keyboard handler).
  void OnHotKey();

  // From the plug-in framework's broadcast: a kiosk user was identified.
  void OnVDKioskUserIdentified(LPARAM lParam);
  // From the mailslot inbox, on the inbox's own thread: only logs and may lock.
  void OnInboundMessage(DWORD code, const BYTE* payload, DWORD size) override;
  void OnInboxStopped() override {}

 private:
  void WaitForTaskbar();
  // Creates the avatar; an allocation failure raises E_OUTOFMEMORY.
  void StartFeedbackWindow();

  core::CAgentProcess& m_process;
  CVDLog m_eventLog;
  // Process-wide in effect: the agent process has one main window.
  CPasswordManager m_passwordManager{m_process};
  CAgentHosts m_hosts{*this};
  BOOL m_bMsgHandled = TRUE;
  bool m_sessionNotificationRegistered = false;
  // Inside WM_CREATE, until the taskbar exists.
  bool m_bWaitingForTaskbar = false;
  // The help viewer, made at the first help request.
  std::unique_ptr<launch::CHelpViewer> m_help;
  std::unique_ptr<CQuickActions> m_quickActions;
  std::unique_ptr<CCardActions> m_cardActions;
  // The avatar (feedback window), from OnReady to Dispose.
  std::unique_ptr<tray::CGuideWindow> m_feedback;
  CAgentPlugins m_plugins{m_process.Platform(), m_hosts};
  // The branding texts, loaded at the first one asked for.
  std::optional<support::CBrandingStrings> m_strings;
  // The session's mailslot, there from construction so senders may write before ready;
  // receiving from OnReady to Dispose. Null when the session could not be found.
  std::unique_ptr<Mailslot::Inbox> m_inbox;
};
