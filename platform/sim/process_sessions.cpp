#include "platform/sim/process_sessions.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/sim/machine.h"

#include "platform/sim/session_manager.h"
#include "platform/sim/sim_text.h"
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
  if (!m.Sessions().NotificationServiceRunning()) {
    m.LastError() = RPC_S_INVALID_BINDING;
    return FALSE;
  }
  m.Sessions().Register(hWnd, info->sessionId, dwFlags);
  return TRUE;
}

BOOL ProcessSessions::WTSUnRegisterSessionNotification(HWND hWnd) {
  Machine& m = m_process.GetMachine();
  m.Sessions().NoteUnregisterCall(hWnd);
  auto info = m.Windows().Info(hWnd);
  if (!info || info->sessionId != m_process.SessionId()) {
    m.LastError() = ERROR_INVALID_PARAMETER;
    return FALSE;
  }
  if (!m.Sessions().NotificationServiceRunning()) {
    m.LastError() = RPC_S_INVALID_BINDING;
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

BOOL ProcessSessions::WTSEnumerateSessionsW(HANDLE hServer, DWORD Reserved, DWORD Version,
                                            PWTS_SESSION_INFOW* ppSessionInfo, DWORD* pCount) {
  Machine& m = m_process.GetMachine();
  if (hServer != WTS_CURRENT_SERVER_HANDLE) {
    m.LastError() = ERROR_INVALID_HANDLE;
    return FALSE;
  }
  if (Reserved != 0 || Version != 1 || !ppSessionInfo || !pCount) {
    m.LastError() = ERROR_INVALID_PARAMETER;
    return FALSE;
  }
  struct Entry {
    DWORD id;
    std::wstring station;
    WTS_CONNECTSTATE_CLASS state;
  };
  std::vector<Entry> entries;
  const auto all = m.Sessions().All();
  bool haveZero = false;
  for (const auto& s : all) haveZero = haveZero || s.id == 0;
  // From Vista on services run in session 0, which nobody signs in to.
  if (!haveZero && m.Description().osMajor >= 6)
    entries.push_back({0, L"Services", WTSDisconnected});
  for (const auto& s : all) {
    if (!s.loggedOn) continue;  // a logged-off session is gone from the list
    if (!s.connected)
      entries.push_back({s.id, L"", WTSDisconnected});
    else if (s.remote)
      entries.push_back({s.id, L"RDP-Tcp#" + std::to_wstring(s.id), WTSActive});
    else
      entries.push_back({s.id, L"Console", WTSActive});
  }
  // One block, as on Windows: the records, then their station names.
  size_t bytes = entries.size() * sizeof(WTS_SESSION_INFOW);
  for (const auto& e : entries) bytes += (e.station.size() + 1) * sizeof(wchar_t);
  auto* block = static_cast<BYTE*>(std::malloc(bytes ? bytes : 1));
  if (!block) {
    m.LastError() = ERROR_NOT_ENOUGH_MEMORY;
    return FALSE;
  }
  auto* records = reinterpret_cast<WTS_SESSION_INFOW*>(block);
  auto* text = reinterpret_cast<wchar_t*>(block + entries.size() * sizeof(WTS_SESSION_INFOW));
  for (size_t i = 0; i < entries.size(); ++i) {
    records[i].SessionId = entries[i].id;
    records[i].State = entries[i].state;
    records[i].pWinStationName = text;
    std::memcpy(text, entries[i].station.c_str(),
                (entries[i].station.size() + 1) * sizeof(wchar_t));
    text += entries[i].station.size() + 1;
  }
  *ppSessionInfo = records;
  *pCount = static_cast<DWORD>(entries.size());
  return TRUE;
}

void ProcessSessions::WTSFreeMemory(PVOID pMemory) { std::free(pMemory); }

// A user may disconnect the sessions of their own account; services (session 0, the local
// system) any session. Disconnecting a session that is already disconnected changes
// nothing and succeeds. The disconnect is done before the call returns, so bWait makes no
// difference here.
BOOL ProcessSessions::WTSDisconnectSession(HANDLE hServer, DWORD SessionId, BOOL) {
  Machine& m = m_process.GetMachine();
  if (hServer != WTS_CURRENT_SERVER_HANDLE) {
    m.LastError() = ERROR_INVALID_HANDLE;
    return FALSE;
  }
  const DWORD target = SessionId == WTS_CURRENT_SESSION ? m_process.SessionId() : SessionId;
  const auto session = m.Sessions().Find(target);
  // A logged-off session no longer exists for terminal services.
  if (!session || !session->loggedOn) {
    m.LastError() = ERROR_FILE_NOT_FOUND;
    return FALSE;
  }
  if (m_process.SessionId() != 0 &&
      session->userSid != m.Sessions().UserSid(m_process.SessionId())) {
    m.LastError() = ERROR_ACCESS_DENIED;
    return FALSE;
  }
  m.Sessions().Disconnect(target);
  return TRUE;
}

// The simulated machine has no remote servers to open, so there is nothing to close.
void ProcessSessions::WTSCloseServer(HANDLE) {}

BOOLEAN ProcessSessions::GetUserNameExW(EXTENDED_NAME_FORMAT NameFormat, LPWSTR lpNameBuffer,
                                        PULONG nSize) {
  Machine& m = m_process.GetMachine();
  if (!nSize) {
    m.LastError() = ERROR_INVALID_PARAMETER;
    return FALSE;
  }
  const auto session = m.Sessions().Find(m_process.SessionId());
  const bool hasUser = session && !session->userName.empty();
  std::wstring name;
  if (NameFormat == NameSamCompatible) {
    name = hasUser ? text::Upper(m.Description().computerName) + L"\\" + session->userName
                   : L"NT AUTHORITY\\SYSTEM";
  } else if (NameFormat == NameDisplay && hasUser) {
    name = session->userName;
  } else {
    m.LastError() = ERROR_NONE_MAPPED;
    return FALSE;
  }
  if (!lpNameBuffer || *nSize <= name.size()) {
    *nSize = static_cast<ULONG>(name.size() + 1);
    m.LastError() = ERROR_MORE_DATA;
    return FALSE;
  }
  name.copy(lpNameBuffer, name.size());
  lpNameBuffer[name.size()] = L'\0';
  *nSize = static_cast<ULONG>(name.size());
  return TRUE;
}

}  // namespace sim
