// Layered windows, window placement, capture, the screen DC, subclass calls and the common
// controls on the simulated desktop (sim::Screen keeps the places and pictures).
#include "platform/sim/desktop.h"
#include "platform/sim/machine.h"
#include "platform/sim/process_gdi.h"
#include "platform/sim/process_ui.h"
#include "platform/sim/screen.h"

namespace sim {

namespace {
constexpr wchar_t kTooltipClass[] = L"tooltips_class32";
}  // namespace

void ProcessUi::NoteLayeredShown(HWND h, bool wasVisible) {
  auto info = m_wm.Info(h);
  if (!info || !(info->exStyle & WS_EX_LAYERED) || info->visible == wasVisible) return;
  m_process.GetMachine().GetDesktop().Record(info->sessionId, desktop_kind::kLayered,
                                             info->title + (info->visible ? L" shown" : L" hidden"));
}

// As on Windows: only a WS_EX_LAYERED window takes it; the size and source must fit the
// bitmap selected into hdcSrc. A null position or size keeps the window's own.
BOOL ProcessUi::UpdateLayeredWindow(HWND hWnd, HDC, POINT* pptDst, SIZE* psize, HDC hdcSrc,
                                    POINT* pptSrc, COLORREF, BLENDFUNCTION*, DWORD) {
  Machine& m = m_process.GetMachine();
  auto info = m_wm.Info(hWnd);
  if (!info || info->sessionId != m_process.SessionId()) {
    m.LastError() = ERROR_INVALID_WINDOW_HANDLE;
    return FALSE;
  }
  if (!(info->exStyle & WS_EX_LAYERED)) {
    m.LastError() = ERROR_INVALID_PARAMETER;
    return FALSE;
  }
  Screen& screen = m.GetScreen();
  RECT r = screen.Rect(hWnd).value_or(RECT{0, 0, 0, 0});
  if (pptDst) {
    const LONG w = r.right - r.left, h = r.bottom - r.top;
    r = RECT{pptDst->x, pptDst->y, pptDst->x + w, pptDst->y + h};
  }
  if (psize) {
    if (psize->cx <= 0 || psize->cy <= 0) {
      m.LastError() = ERROR_INVALID_PARAMETER;
      return FALSE;
    }
    r.right = r.left + psize->cx;
    r.bottom = r.top + psize->cy;
  }
  if (!hdcSrc) {  // only a move
    screen.SetRect(hWnd, r);
    return TRUE;
  }
  const POINT src = pptSrc ? *pptSrc : POINT{0, 0};
  auto pixels = static_cast<ProcessGdi&>(m_process.Gdi())
                    .ReadPixels(hdcSrc, src.x, src.y, r.right - r.left, r.bottom - r.top);
  if (!pixels) {
    m.LastError() = ERROR_INVALID_PARAMETER;
    return FALSE;
  }
  screen.SetRect(hWnd, r);
  screen.SetPicture(hWnd, Screen::Picture{r.right - r.left, r.bottom - r.top, std::move(*pixels)});
  return TRUE;
}

BOOL ProcessUi::SetWindowPos(HWND hWnd, HWND hWndInsertAfter, int X, int Y, int cx, int cy,
                             UINT uFlags) {
  Machine& m = m_process.GetMachine();
  if (!m_wm.Info(hWnd)) {
    m.LastError() = ERROR_INVALID_WINDOW_HANDLE;
    return FALSE;
  }
  Screen& screen = m.GetScreen();
  RECT r = screen.Rect(hWnd).value_or(RECT{0, 0, 0, 0});
  if (!(uFlags & SWP_NOMOVE)) r = RECT{X, Y, X + (r.right - r.left), Y + (r.bottom - r.top)};
  if (!(uFlags & SWP_NOSIZE)) {
    r.right = r.left + (cx < 0 ? 0 : cx);
    r.bottom = r.top + (cy < 0 ? 0 : cy);
  }
  screen.SetRect(hWnd, r);
  if (!(uFlags & SWP_NOZORDER)) {
    if (hWndInsertAfter == HWND_TOPMOST) screen.SetTopmost(hWnd, true);
    if (hWndInsertAfter == HWND_NOTOPMOST) screen.SetTopmost(hWnd, false);
  }
  if (uFlags & SWP_SHOWWINDOW) ShowWindow(hWnd, SW_SHOWNA);
  return TRUE;
}

BOOL ProcessUi::GetWindowRect(HWND hWnd, LPRECT lpRect) {
  Machine& m = m_process.GetMachine();
  if (!m_wm.Info(hWnd)) {
    m.LastError() = ERROR_INVALID_WINDOW_HANDLE;
    return FALSE;
  }
  if (!lpRect) {
    m.LastError() = ERROR_NOACCESS;
    return FALSE;
  }
  *lpRect = m.GetScreen().Rect(hWnd).value_or(RECT{0, 0, 0, 0});
  return TRUE;
}

// Windows of this machine have no frame: the client area starts at the window's corner.
BOOL ProcessUi::ClientToScreen(HWND hWnd, LPPOINT lpPoint) {
  Machine& m = m_process.GetMachine();
  if (!m_wm.Info(hWnd) || !lpPoint) {
    m.LastError() = ERROR_INVALID_WINDOW_HANDLE;
    return FALSE;
  }
  const RECT r = m.GetScreen().Rect(hWnd).value_or(RECT{0, 0, 0, 0});
  lpPoint->x += r.left;
  lpPoint->y += r.top;
  return TRUE;
}

BOOL ProcessUi::IsWindowVisible(HWND hWnd) {
  auto info = m_wm.Info(hWnd);
  return info && info->visible ? TRUE : FALSE;
}

// A window of this thread takes the session's mouse; the one that had it is told.
HWND ProcessUi::SetCapture(HWND hWnd) {
  Machine& m = m_process.GetMachine();
  auto info = m_wm.Info(hWnd);
  if (!info || info->threadId != m.CurrentThreadId()) {
    m.LastError() = ERROR_INVALID_WINDOW_HANDLE;
    return nullptr;
  }
  const HWND previous = m.GetScreen().SetCapture(m_process.SessionId(), info->threadId, hWnd);
  if (previous && previous != hWnd)
    m_wm.SendMessageW(Caller(), previous, WM_CAPTURECHANGED, 0, reinterpret_cast<LPARAM>(hWnd));
  return previous;
}

BOOL ProcessUi::ReleaseCapture() {
  Machine& m = m_process.GetMachine();
  const HWND had = m.GetScreen().ReleaseCapture(m_process.SessionId(), m.CurrentThreadId());
  if (had) m_wm.SendMessageW(Caller(), had, WM_CAPTURECHANGED, 0, 0);
  return TRUE;
}

HWND ProcessUi::GetCapture() {
  Machine& m = m_process.GetMachine();
  return m.GetScreen().Capture(m_process.SessionId(), m.CurrentThreadId());
}

HDC ProcessUi::GetDC(HWND hWnd) {
  if (hWnd && !m_wm.Info(hWnd)) {
    m_process.GetMachine().LastError() = ERROR_INVALID_WINDOW_HANDLE;
    return nullptr;
  }
  return static_cast<ProcessGdi&>(m_process.Gdi()).AcquireScreenDc();
}

int ProcessUi::ReleaseDC(HWND, HDC hDC) {
  return static_cast<ProcessGdi&>(m_process.Gdi()).ReleaseScreenDc(hDC) ? 1 : 0;
}

LRESULT ProcessUi::CallWindowProcW(WNDPROC lpPrevWndFunc, HWND hWnd, UINT Msg, WPARAM wParam,
                                   LPARAM lParam) {
  if (!lpPrevWndFunc) return 0;
  return lpPrevWndFunc(hWnd, Msg, wParam, lParam);
}

// Registers the tooltip class for the process (the only common control modelled here);
// asking again is fine.
BOOL ProcessUi::InitCommonControlsEx(const INITCOMMONCONTROLSEX* picce) {
  Machine& m = m_process.GetMachine();
  if (!picce || picce->dwSize != sizeof(INITCOMMONCONTROLSEX)) {
    m.LastError() = ERROR_INVALID_PARAMETER;
    return FALSE;
  }
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof(wc);
  wc.lpfnWndProc = &Screen::TooltipProc;
  wc.lpszClassName = kTooltipClass;
  const DWORD saved = m.LastError();
  if (!m_wm.RegisterClassExW(Caller(), &wc) && m.LastError() != ERROR_CLASS_ALREADY_EXISTS)
    return FALSE;
  m.LastError() = saved;
  return TRUE;
}

}  // namespace sim
