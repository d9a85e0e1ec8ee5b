#include "tray/avatar_window.h"

#include "support/settings/settings_section.h"
#include "support/trace/trace.h"

namespace tray {

CAvatarWindow::CAvatarWindow(platform::IPlatform& plat, HINSTANCE module, Strings strings)
    : core::CWindowImpl<CAvatarWindow>(plat.Ui()),
      m_plat(plat),
      m_module(module),
      m_strings(std::move(strings)),
      m_picture(plat) {}

CAvatarWindow::~CAvatarWindow() {
  HideBalloon();
  DestroyWindow();
}

HRESULT CAvatarWindow::Create() {
  platform::IUi& ui = Ui();
  RegisterClassOnce(m_module, kAvatarClass, 0, nullptr);
  if (!CWindowBase::Create(m_module, kAvatarClass, kAvatarTitle, WS_POPUP, WS_EX_TOOLWINDOW)) {
    const DWORD err = m_plat.Kernel().GetLastError();
    return err ? HRESULT_FROM_WIN32(err) : E_FAIL;
  }
  if (!m_picture.load(m_module)) return E_FAIL;
  const LONG_PTR ex = ui.GetWindowLongPtrW(m_hWnd, GWL_EXSTYLE);
  ui.SetWindowLongPtrW(m_hWnd, GWL_EXSTYLE, ex | WS_EX_LAYERED);
  const int side = m_picture.side();
  ui.SetWindowPos(m_hWnd, HWND_TOPMOST, 0, 0, side, side, SWP_NOMOVE | SWP_NOACTIVATE);
  m_picture.update_state(m_hWnd, m_frame, true);
  return S_OK;
}

BOOL CAvatarWindow::ProcessWindowMessage(HWND, UINT uMsg, WPARAM wParam, LPARAM lParam,
                                         LRESULT& result) {
  result = 0;
  switch (uMsg) {
    case kAvatarMessage:
      result = OnFingerMessage(wParam, lParam);
      return TRUE;
    case WM_TIMER:
      if (wParam != kAvatarHideTimer) return FALSE;
      OnHideTimer();
      return TRUE;
    case WM_LBUTTONDOWN:
      OnLButtonDown();
      return TRUE;
    case WM_MOUSEMOVE:
      if (m_dragging) OnMouseMove();
      return TRUE;
    case WM_LBUTTONUP:
      if (m_dragging) OnLButtonUp();
      return TRUE;
    case WM_CAPTURECHANGED:
      // Another window took the mouse mid-drag: the drag ends where it is, as a release
      // would, instead of keeping the avatar up for good.
      if (m_dragging && reinterpret_cast<HWND>(lParam) != m_hWnd) OnLButtonUp();
      return TRUE;
    case WM_SETFOCUS:
      // The avatar never keeps the keyboard: it goes back where it came from.
      if (wParam) Ui().SetFocus(reinterpret_cast<HWND>(wParam));
      return TRUE;
    case WM_CLOSE:
      OnClose();
      return TRUE;
    case WM_DESTROY:
      HideBalloon();
      Ui().KillTimer(m_hWnd, kAvatarHideTimer);
      return FALSE;
    default:
      return FALSE;
  }
}

LRESULT CAvatarWindow::OnFingerMessage(WPARAM code, LPARAM result) {
  const auto look = LookFor(code);
  if (!look || (look->balloon && result == 0)) return 0;
  HideBalloon();
  m_frame = look->frame;
  m_picture.update_state(m_hWnd, m_frame, false);
  Ui().ShowWindow(m_hWnd, SW_SHOW);
  RestartHideTimer(look->visibleMs);
  if (look->balloon && m_strings) ShowBalloon(m_strings(BalloonStringFor(result)));
  return 0;
}

void CAvatarWindow::OnHideTimer() {
  Ui().KillTimer(m_hWnd, kAvatarHideTimer);
  HideBalloon();
  if (!m_dragging) Ui().ShowWindow(m_hWnd, SW_HIDE);
}

void CAvatarWindow::OnLButtonDown() {
  platform::IUi& ui = Ui();
  HideBalloon();
  if (!m_hWnd || !ui.GetWindowRect(m_hWnd, &m_dragRect)) m_dragRect = RECT{0, 0, 0, 0};
  if (!ui.GetCursorPos(&m_dragCursor)) m_dragCursor = POINT{m_dragRect.left, m_dragRect.top};
  ui.SetCapture(m_hWnd);
  m_dragging = true;
}

void CAvatarWindow::OnMouseMove() {
  platform::IUi& ui = Ui();
  POINT now{};
  if (!ui.GetCursorPos(&now)) return;
  const int side = m_picture.side();
  ui.SetWindowPos(m_hWnd, nullptr, m_dragRect.left + (now.x - m_dragCursor.x),
                  m_dragRect.top + (now.y - m_dragCursor.y), side, side,
                  SWP_NOZORDER | SWP_NOACTIVATE);
  m_picture.update_state(m_hWnd, m_frame, false);
}

void CAvatarWindow::OnLButtonUp() {
  platform::IUi& ui = Ui();
  // Cleared first: releasing the capture tells this window that it lost it.
  m_dragging = false;
  RECT r{};
  if (ui.GetWindowRect(m_hWnd, &r)) {
    CAgentSettings agent(m_plat);
    agent.Set(SettingNames::Agent::kSaveFeedbackIconX, static_cast<DWORD>(r.left));
    agent.Set(SettingNames::Agent::kSaveFeedbackIconY, static_cast<DWORD>(r.top));
  }
  if (ui.GetCapture() == m_hWnd) ui.ReleaseCapture();
  RestartHideTimer(kDragHideMs);
}

void CAvatarWindow::OnClose() {
  VDTraceNS::CScope ts("CAvatarWindow::OnClose");
  try {
    HideBalloon();
  } catch (...) {
    ts.Msg("EXCEPTION");
  }
}

void CAvatarWindow::ShowBalloon(const std::wstring& text) {
  if (!m_balloon) {
    auto balloon = std::make_unique<CAvatarBallon>(m_plat, m_hWnd, m_module);
    if (!balloon->Create()) return;
    m_balloon = std::move(balloon);
  }
  platform::IUi& ui = Ui();
  const int side = m_picture.side();
  POINT centre{side / 2, side / 2};
  ui.ClientToScreen(m_hWnd, &centre);
  m_balloon->Show(text, BalloonTipPoint(centre, side, ui.GetSystemMetrics(SM_CXFULLSCREEN),
                                        ui.GetSystemMetrics(SM_CYFULLSCREEN)));
}

void CAvatarWindow::HideBalloon() {
  if (!m_balloon) return;
  m_balloon->Hide();
  m_balloon.reset();
}

void CAvatarWindow::RestartHideTimer(UINT ms) {
  Ui().KillTimer(m_hWnd, kAvatarHideTimer);
  Ui().SetTimer(m_hWnd, kAvatarHideTimer, ms, nullptr);
}

}  // namespace tray
