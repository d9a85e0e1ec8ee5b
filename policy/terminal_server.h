// The local terminal server's session list, taken once at construction.
//
//   CVDTerminalServer ts(plat.Sessions());
//   for (const WTS_SESSION_INFOW& s : ts.Sessions())
//     if (s.State == WTSActive && s.SessionId != mySession) ...
//
// A failed enumeration leaves the list empty; nothing is reported.
#pragma once

#include <span>

#include "platform/sessions.h"

class CVDTerminalServer {
 public:
  explicit CVDTerminalServer(platform::ISessions& sessions);
  ~CVDTerminalServer();
  CVDTerminalServer(const CVDTerminalServer&) = delete;
  CVDTerminalServer& operator=(const CVDTerminalServer&) = delete;

  std::span<const WTS_SESSION_INFOW> Sessions() const { return {m_pSessionInfo, m_dwCount}; }
  DWORD Count() const { return m_dwCount; }
  // The listed session with this id, or null.
  const WTS_SESSION_INFOW* Find(DWORD sessionId) const;

 private:
  platform::ISessions& m_sessions;
  // The local server, which is never closed; a handle from WTSOpenServer would be.
  HANDLE m_hServer = WTS_CURRENT_SERVER_HANDLE;
  PWTS_SESSION_INFOW m_pSessionInfo = nullptr;
  DWORD m_dwCount = 0;
};
