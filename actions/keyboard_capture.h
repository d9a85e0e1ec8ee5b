// The modifier keys held at the first reader event of a touch or tap, kept until the action
// takes them or for at most 6 seconds.
//
//   capture.StartCapture();                 // WN_FINGER_TOUCHED, card inserted, ...
//   DWORD mask = capture.CompleteCapture(); // StartAction takes them
//
// Window thread only.
#pragma once

#include "actions/action_context.h"
#include "actions/action_host.h"
#include "core/agent_process.h"

class CKeyboardCapture {
 public:
  static constexpr UINT kExpiryMs = 6000;

  CKeyboardCapture(core::CAgentProcess& process, IActionHost& host)
      : m_process(process), m_host(host) {}

  // Captures the modifiers unless some are held already; a non-zero mask expires after 6 s.
  void StartCapture();
  // Hands over the captured mask and clears it; the pending expiry goes.
  DWORD CompleteCapture();

  DWORD Mask() const { return m_state.Mask(); }
  UINT PendingTask() const { return m_taskId; }

 private:
  core::CAgentProcess& m_process;
  IActionHost& m_host;
  CKbdState m_state;
  UINT m_taskId = 0;
};
