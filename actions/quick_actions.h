// The quick actions of the main window: a finger touch, a card tap or the hotkey starts one
// action, which identifies the user, gives feedback and runs the configured action (the
// password manager, fast connect, locking, fast user switching). Also the fingerprint
// reader's connect and disconnect steps and the reader-connected balloon.
//
//   CQuickActions actions(process, host);            // host: the main window (IActionHost)
//   if (actions.StartAction(credential, CUser())) { ... actions.DoAction(); }
//   if (actions.AcceptHotKey(wParam)) actions.OnHotKey();   // WM_HOTKEY
//
// Window thread only. Tasks it posts or schedules through the host refer to this object:
// it must outlive the window's task queue (dispose the queue first).
#pragma once

#include "actions/action_context.h"
#include "actions/action_host.h"
#include "actions/keyboard_capture.h"
#include "core/agent_process.h"
#include "support/vdnx_utils.h"

class CQuickActions {
 public:
  // The avatar feedback window's own message (WM_USER + 301).
  static constexpr UINT kFeedbackMessage = 1325;
  // ShowFeedback kinds.
  enum FeedbackKind : int { kBadQuality = 2, kFailure = 3, kSuccess = 4 };

  CQuickActions(core::CAgentProcess& process, IActionHost& host);
  ~CQuickActions();
  CQuickActions(const CQuickActions&) = delete;
  CQuickActions& operator=(const CQuickActions&) = delete;

  ActionContext& Context() { return m_ctx; }
  CKeyboardCapture& Keyboard() { return m_keyboard; }
  bool ReaderPresent() const { return m_readerPresent; }

  bool CanStartAction();
  // False when an action runs (nothing changes); otherwise starts one and selects its action.
  bool StartAction(const CCredential& info, const CUser& user);
  // Feedback, then the selected action on a posted task.
  void DoAction();
  // True when work goes on elsewhere (password manager, dashboard launcher).
  bool RunQuickAction();
  bool SwitchUser();
  void ShowFeedback(int kind, DWORD sound, DWORD detail);

  // WM_HOTKEY: true when `id` is the agent's hotkey and an action may start now.
  bool AcceptHotKey(WPARAM id);
  void OnHotKey();

  // A completed fingerprint capture: S_OK once an action was handed on, S_FALSE otherwise.
  HRESULT OnFingerprintReady(DWORD capture);
  void OnFingerprintReaderConnected();
  void OnFingerprintReaderDisconnected();

  // Completes the capture and destroys an undelivered handle; safe to run twice.
  void Dispose();

 private:
  void ReaderConnectedBalloon();
  bool IsScreenSaverRunning();
  bool IsVistaOrLater();
  bool IsFastUserSwitchingOn();
  bool IsWelcomeScreenInUse();
  // Sends command 100 with the context's handle; marks it handed over once delivered.
  HRESULT HandToPasswordManager(DWORD& answer);

  core::CAgentProcess& m_process;
  IActionHost& m_host;
  ActionContext m_ctx;
  CKeyboardCapture m_keyboard;
  CVDNXUtils m_utils;
  bool m_readerPresent = false;
};
