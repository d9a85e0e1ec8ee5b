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

 private:
  Process& m_process;
};

}  // namespace sim
