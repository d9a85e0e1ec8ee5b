// Terminal services and session identity: WTSAPI32 and Secur32 straight through.
#pragma once

#include "platform/sessions.h"

namespace platform::win32 {

class CWin32Sessions final : public ISessions {
 public:
  BOOL WTSRegisterSessionNotification(HWND hWnd, DWORD dwFlags) override;
  BOOL WTSUnRegisterSessionNotification(HWND hWnd) override;
  BOOL ProcessIdToSessionId(DWORD dwProcessId, DWORD* pSessionId) override;
  DWORD WTSGetActiveConsoleSessionId() override;
  BOOLEAN GetUserNameExW(EXTENDED_NAME_FORMAT NameFormat, LPWSTR lpNameBuffer,
                         PULONG nSize) override;
  BOOL WTSEnumerateSessionsW(HANDLE hServer, DWORD Reserved, DWORD Version,
                             PWTS_SESSION_INFOW* ppSessionInfo, DWORD* pCount) override;
  void WTSFreeMemory(PVOID pMemory) override;
  void WTSCloseServer(HANDLE hServer) override;
  BOOL WTSDisconnectSession(HANDLE hServer, DWORD SessionId, BOOL bWait) override;
};

}  // namespace platform::win32
