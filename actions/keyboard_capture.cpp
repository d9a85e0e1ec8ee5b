#include "actions/keyboard_capture.h"

#include <utility>

#include "support/trace/trace.h"

void CKeyboardCapture::StartCapture() {
  VDTraceNS::CScope ts("CKeyboardHandler<class CVdAgentMain>::StartCapture");
  if (m_state.Mask() != 0) return;
  m_state.Set(CKbdState::Capture(m_process.Platform().Ui()));
  if (m_state.Mask() == 0) return;
  ts.Msg("state=0x%X", static_cast<unsigned>(m_state.Mask()));
  m_taskId = m_host.Schedule(kExpiryMs, [this](UINT) {
    m_taskId = 0;  // this task ends with its return; nothing to cancel
    CompleteCapture();
    return true;
  });
}

DWORD CKeyboardCapture::CompleteCapture() {
  VDTraceNS::CScope ts("CKeyboardHandler<class CVdAgentMain>::CompleteCapture");
  const DWORD mask = m_state.Mask();
  ts.Msg(L"KeyState = %ls", CKbdState::ToString(mask).c_str());
  m_state.Reset();
  if (const UINT id = std::exchange(m_taskId, 0)) m_host.CancelSchedule(id);
  return mask;
}
