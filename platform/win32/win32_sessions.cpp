#include "platform/win32/win32_sessions.h"

namespace platform::win32 {

BOOL CWin32Sessions::WTSRegisterSessionNotification(HWND hWnd, DWORD dwFlags) {
  return ::WTSRegisterSessionNotification(hWnd, dwFlags);
}

BOOL CWin32Sessions::WTSUnRegisterSessionNotification(HWND hWnd) {
  return ::WTSUnRegisterSessionNotification(hWnd);
}

BOOL CWin32Sessions::ProcessIdToSessionId(DWORD dwProcessId, DWORD* pSessionId) {
  return ::ProcessIdToSessionId(dwProcessId, pSessionId);
}

DWORD CWin32Sessions::WTSGetActiveConsoleSessionId() { return ::WTSGetActiveConsoleSessionId(); }

BOOLEAN CWin32Sessions::GetUserNameExW(EXTENDED_NAME_FORMAT NameFormat, LPWSTR lpNameBuffer,
                                       PULONG nSize) {
  return ::GetUserNameExW(NameFormat, lpNameBuffer, nSize);
}

BOOL CWin32Sessions::WTSEnumerateSessionsW(HANDLE hServer, DWORD Reserved, DWORD Version,
                                           PWTS_SESSION_INFOW* ppSessionInfo, DWORD* pCount) {
  return ::WTSEnumerateSessionsW(hServer, Reserved, Version, ppSessionInfo, pCount);
}

void CWin32Sessions::WTSFreeMemory(PVOID pMemory) { ::WTSFreeMemory(pMemory); }

void CWin32Sessions::WTSCloseServer(HANDLE hServer) { ::WTSCloseServer(hServer); }

}  // namespace platform::win32

namespace platform::win32 {

BOOL CWin32Sessions::WTSDisconnectSession(HANDLE hServer, DWORD SessionId, BOOL bWait) {
  return ::WTSDisconnectSession(hServer, SessionId, bWait);
}

}  // namespace platform::win32
