// Layered windows, window placement, capture and stretching on the simulated desktop: not
// offered yet.
#include "platform/sim/process_gdi.h"
#include "platform/sim/process_ui.h"

namespace sim {

namespace {
template <typename T>
T NotYet(Process& p, T result) {
  p.GetMachine().LastError() = ERROR_CALL_NOT_IMPLEMENTED;
  return result;
}
}  // namespace

BOOL ProcessUi::UpdateLayeredWindow(HWND, HDC, POINT*, SIZE*, HDC, POINT*, COLORREF,
                                    BLENDFUNCTION*, DWORD) {
  return NotYet(m_process, FALSE);
}
BOOL ProcessUi::SetWindowPos(HWND, HWND, int, int, int, int, UINT) {
  return NotYet(m_process, FALSE);
}
BOOL ProcessUi::GetWindowRect(HWND, LPRECT) { return NotYet(m_process, FALSE); }
BOOL ProcessUi::ClientToScreen(HWND, LPPOINT) { return NotYet(m_process, FALSE); }
BOOL ProcessUi::IsWindowVisible(HWND) { return NotYet(m_process, FALSE); }
HWND ProcessUi::SetCapture(HWND) { return NotYet<HWND>(m_process, nullptr); }
BOOL ProcessUi::ReleaseCapture() { return NotYet(m_process, FALSE); }
HWND ProcessUi::GetCapture() { return NotYet<HWND>(m_process, nullptr); }
HDC ProcessUi::GetDC(HWND) { return NotYet<HDC>(m_process, nullptr); }
int ProcessUi::ReleaseDC(HWND, HDC) { return NotYet(m_process, 0); }
LRESULT ProcessUi::CallWindowProcW(WNDPROC, HWND, UINT, WPARAM, LPARAM) {
  return NotYet<LRESULT>(m_process, 0);
}
BOOL ProcessUi::InitCommonControlsEx(const INITCOMMONCONTROLSEX*) {
  return NotYet(m_process, FALSE);
}

int ProcessGdi::SetStretchBltMode(HDC, int) { return NotYet(m_process, 0); }
BOOL ProcessGdi::StretchBlt(HDC, int, int, int, int, HDC, int, int, int, int, DWORD) {
  return NotYet(m_process, FALSE);
}

}  // namespace sim
