#include "platform/sim/process_sessions.h"

#include "platform/sim/session_manager.h"
#include "platform/sim/window_manager.h"

namespace sim {

BOOL ProcessSessions::WTSRegisterSessionNotification(HWND hWnd, DWORD dwFlags) {
  Machine& m = m_process.GetMachine();
  if (dwFlags != NOTIFY_FOR_THIS_SESSION && dwFlags != NOTIFY_FOR_ALL_SESSIONS) {
    m.LastError() = ERROR_INVALID_PARAMETER;
    return FALSE;
  }
  auto info = m.Windows().Info(hWnd);
  if (!info || info->sessionId != m_process.SessionId()) {
    m.LastError() = ERROR_INVALID_PARAMETER;
    return FALSE;
  }
  m.Sessions().Register(hWnd, info->sessionId, dwFlags);
  return TRUE;
}

BOOL ProcessSessions::WTSUnRegisterSessionNotification(HWND hWnd) {
  Machine& m = m_process.GetMachine();
  auto info = m.Windows().Info(hWnd);
  if (!info || info->sessionId != m_process.SessionId()) {
    m.LastError() = ERROR_INVALID_PARAMETER;
    return FALSE;
  }
  // Unregistering twice is harmless.
  m.Sessions().Unregister(hWnd);
  return TRUE;
}

BOOL ProcessSessions::ProcessIdToSessionId(DWORD dwProcessId, DWORD* pSessionId) {
  Machine& m = m_process.GetMachine();
  Process* p = m.FindProcess(dwProcessId);
  if (!p || !pSessionId) {
    m.LastError() = ERROR_INVALID_PARAMETER;
    return FALSE;
  }
  *pSessionId = p->SessionId();
  return TRUE;
}

DWORD ProcessSessions::WTSGetActiveConsoleSessionId() {
  return m_process.GetMachine().Sessions().ActiveConsoleSession();
}

}  // namespace sim
