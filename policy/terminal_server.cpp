#include "policy/terminal_server.h"

#include "support/trace/trace.h"

CVDTerminalServer::CVDTerminalServer(platform::ISessions& sessions) : m_sessions(sessions) {
  VDTraceNS::CScope ts("CVDTerminalServer::CVDTerminalServer");
  PWTS_SESSION_INFOW info = nullptr;
  DWORD count = 0;
  if (m_sessions.WTSEnumerateSessionsW(m_hServer, 0, 1, &info, &count) && info) {
    m_pSessionInfo = info;
    m_dwCount = count;
  }
}

CVDTerminalServer::~CVDTerminalServer() {
  if (m_pSessionInfo) m_sessions.WTSFreeMemory(m_pSessionInfo);
  if (m_hServer) m_sessions.WTSCloseServer(m_hServer);
}

const WTS_SESSION_INFOW* CVDTerminalServer::Find(DWORD sessionId) const {
  for (const auto& s : Sessions())
    if (s.SessionId == sessionId) return &s;
  return nullptr;
}
