// Terminal-services operations of one simulated process, on the machine's sessions.
#pragma once

#include "platform/sessions.h"
#include "platform/sim/process.h"

namespace sim {

class ProcessSessions : public platform::ISessions {
 public:
  explicit ProcessSessions(Process& p) : m_process(p) {}

  // The window must be a live window of the caller's session.
  BOOL WTSRegisterSessionNotification(HWND hWnd, DWORD dwFlags) override;
  BOOL WTSUnRegisterSessionNotification(HWND hWnd) override;
  BOOL ProcessIdToSessionId(DWORD dwProcessId, DWORD* pSessionId) override;
  DWORD WTSGetActiveConsoleSessionId() override;
  // NameSamCompatible "<COMPUTER>\<user>" and NameDisplay "<user>" of the session's user;
  // a session without a user runs as "NT AUTHORITY\SYSTEM".
  BOOLEAN GetUserNameExW(EXTENDED_NAME_FORMAT NameFormat, LPWSTR lpNameBuffer,
                         PULONG nSize) override;
  // Lists the signed-in sessions (with "Services" session 0 from Vista on): connected ones
  // active ("Console" or "RDP-Tcp#<id>"), the others disconnected. Only the local server.
  BOOL WTSEnumerateSessionsW(HANDLE hServer, DWORD Reserved, DWORD Version,
                             PWTS_SESSION_INFOW* ppSessionInfo, DWORD* pCount) override;
  void WTSFreeMemory(PVOID pMemory) override;
  void WTSCloseServer(HANDLE hServer) override;
  BOOL WTSDisconnectSession(HANDLE hServer, DWORD SessionId, BOOL bWait) override;

 private:
  Process& m_process;
};

}  // namespace sim
