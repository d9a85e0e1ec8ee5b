// Terminal services (WTSAPI32) and session identity.
//
// A window registered with WTSRegisterSessionNotification receives WM_WTSSESSION_CHANGE
// (wParam: WTS_SESSION_LOCK, WTS_SESSION_LOGOFF, ...; lParam: the session id).
#pragma once

#include "platform/win_types.h"

namespace platform {

class ISessions {
 public:
  virtual ~ISessions() = default;

  virtual BOOL WTSRegisterSessionNotification(HWND hWnd, DWORD dwFlags) = 0;
  virtual BOOL WTSUnRegisterSessionNotification(HWND hWnd) = 0;
  virtual BOOL ProcessIdToSessionId(DWORD dwProcessId, DWORD* pSessionId) = 0;
  // 0xFFFFFFFF when no session is attached to the console.
  virtual DWORD WTSGetActiveConsoleSessionId() = 0;
};

}  // namespace platform
