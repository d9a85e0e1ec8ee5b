// The password manager's fill-in component: loaded when the agent is ready, given commands
// by quick actions and finger events, and answering through the reply message 1424.
//
//   CKwsFillIn kws(process, host, passwordManager);     // a member of the handler mixin
//   kws.OnReady(hWnd);                                   // loads and calls VDKWSInit(hWnd, 1424)
//   DWORD result = 0;
//   kws.Command(100, authHandle, &result);               // 0x8000000E while not loaded
//   ... 1424 arrives: kws.OnKwsMessage(wParam, lParam) ...
//   kws.Dispose();                                       // VDKWSTerminate, unload; twice is fine
//
// The component's path is the default value of HKLM "...\Agent\PlugIns\{3FDDA325-...}".
// Everything runs on the main window's thread.
#pragma once

#include "core/agent_process.h"
#include "ext/kws_host.h"
#include "ext/password_manager.h"
#include "support/suite_components.h"
#include "support/trace/trace.h"

class CKwsFillIn {
 public:
  // The result of a command while no component is loaded (E_ILLEGAL_METHOD_CALL).
  static constexpr HRESULT kNotLoaded = static_cast<HRESULT>(0x8000000EL);

  // Reply kinds (wParam of 1424).
  static constexpr WPARAM kFillinReply = 1;
  static constexpr WPARAM kFeedbackChange = 2;
  // Fill-in replies (lParam of kFillinReply).
  enum ActionType : LPARAM { kNoMenu = 0, kShowMenu = 1, kInProgress = 2 };
  // Feedback states (lParam of kFeedbackChange).
  enum FeedbackState : DWORD { kInactive = 0, kActTrained = 1, kActNotTrained = 2 };

  CKwsFillIn(core::CAgentProcess& process, IKwsHost& host, CPasswordManager& passwordManager);
  ~CKwsFillIn();
  CKwsFillIn(const CKwsFillIn&) = delete;
  CKwsFillIn& operator=(const CKwsFillIn&) = delete;

  // When enabled, loads the component and initialises it with `hWnd` and 1424. Failures are
  // traced and returned, never raised.
  HRESULT OnReady(HWND hWnd);
  // Not disabled by the policy "CommonSettings\{42F9948B-...}\DisableApps".
  bool IsEnabled();
  // Reads the component's path, loads it and resolves its three entry points:
  // 0x8007000D for an unusable path value, 0x8007007F for a missing entry point.
  HRESULT Load();
  // VDKWSTerminate when loaded, then unload. Never raises.
  void Dispose();
  bool IsLoaded() const { return m_hModule != nullptr; }

  // Sets *pdwResult to 0 and passes the command on; kNotLoaded without calling when no
  // component is loaded. Never raises.
  HRESULT Command(DWORD dwCommand, DWORD* pdwResult) { return Command(dwCommand, 0, pdwResult); }
  HRESULT Command(DWORD dwCommand, ULONG_PTR dwParam, DWORD* pdwResult);

  // Set by the password-manager quick action before its command; the next "ShowMenu" reply
  // locks the workstation instead of opening the mini dashboard.
  void SetLockAfterFillIn(bool lock) { m_bLockAfterFillIn = lock; }
  bool LockAfterFillIn() const { return m_bLockAfterFillIn; }

  // The reply message 1424.
  void OnKwsMessage(WPARAM wParam, LPARAM lParam);
  // A feedback change: the reader's LED and acquisition follow the new state.
  void OnKWSFeedbackChanged(DWORD state);
  DWORD FeedbackState() const { return m_dwFeedbackState; }

 private:
  void OnFillinReply(const VDTraceNS::CScope& ts, LPARAM actionType);
  void Unload();

  core::CAgentProcess& m_process;
  IKwsHost& m_host;
  CPasswordManager& m_passwordManager;
  HMODULE m_hModule = nullptr;
  PFN_VDKWSInit m_pfnInit = nullptr;
  PFN_VDKWSCommand m_pfnCommand = nullptr;
  PFN_VDKWSTerminate m_pfnTerminate = nullptr;
  bool m_bLockAfterFillIn = false;
  DWORD m_dwFeedbackState = kInactive;
};
