// Placeholder until the simulated ISessions lands: every operation fails.
#pragma once
#pragma GCC diagnostic ignored "-Wunused-parameter"

#include "platform/sessions.h"
#include "platform/sim/process.h"

namespace sim {

class ProcessSessions : public platform::ISessions {
 public:
  explicit ProcessSessions(Process& p) : m_process(p) {}
  BOOL WTSRegisterSessionNotification(HWND hWnd, DWORD dwFlags) override { return {}; }
  BOOL WTSUnRegisterSessionNotification(HWND hWnd) override { return {}; }
  BOOL ProcessIdToSessionId(DWORD dwProcessId, DWORD* pSessionId) override { return {}; }
  DWORD WTSGetActiveConsoleSessionId() override { return {}; }

 private:
  [[maybe_unused]] Process& m_process;
};

}  // namespace sim
