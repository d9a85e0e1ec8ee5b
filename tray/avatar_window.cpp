#include "tray/avatar_window.h"

#include <algorithm>
#include <mutex>
#include <unordered_map>

#include "support/result_error.h"
#include "support/settings/settings_section.h"
#include "support/trace/trace.h"

namespace tray {

// ---- Rules --------------------------------------------------------------------------------

std::optional<AvatarLook> LookFor(WPARAM code) {
  switch (code) {
    case 0:
      return AvatarLook{0, 5000, false};
    case 1:
      return AvatarLook{1, 1000, false};
    case 2:
      return AvatarLook{2, 3000, false};
    case 3:
      return AvatarLook{3, 5000, true};
    default:
      return std::nullopt;
  }
}

UINT BalloonStringFor(LPARAM result) {
  switch (result) {
    case 1: case 2: case 3: case 4: case 5: case 6: case 7: case 11: case 12: case 13: case 15:
      return 115;
    case 14:
      return 116;
    case 17:
      return 117;
    default:
      return 114;
  }
}

RECT FitIntoWorkArea(const RECT& square, const RECT& area) {
  const bool empty = square.right <= square.left || square.bottom <= square.top;
  const bool inside = square.left >= area.left && square.right <= area.right &&
                      square.top >= area.top && square.bottom <= area.bottom;
  if (empty || inside) return square;
  RECT r = square;
  auto shiftX = [&r](LONG dx) { r.left += dx; r.right += dx; };
  auto shiftY = [&r](LONG dy) { r.top += dy; r.bottom += dy; };
  if (r.left > area.right || r.right > area.right) shiftX(area.right - r.right);
  if (r.left < area.left || r.right < area.left) shiftX(area.left - r.left);
  if (r.top > area.bottom || r.bottom > area.bottom) shiftY(area.bottom - r.bottom);
  if (r.top < area.top || r.bottom < area.top) shiftY(area.top - r.top);
  return r;
}

void PremultiplyAlpha(BYTE* bits, size_t pixels) {
  for (size_t i = 0; i < pixels; ++i, bits += 4) {
    const unsigned a = bits[3];
    for (int c = 0; c < 3; ++c) bits[c] = static_cast<BYTE>(bits[c] * a / 255);
  }
}

POINT BalloonTipPoint(POINT centre, int side, int fullWidth, int fullHeight) {
  const int step = side / 3;
  POINT p = centre;
  p.x += p.x < fullWidth / 2 ? step : -step;
  p.y += p.y < fullHeight / 2 ? step : -step;
  return p;
}

// ---- drawing_t ----------------------------------------------------------------------------

drawing_t::drawing_t(platform::IPlatform& plat)
    : m_plat(plat), m_bitmap(plat.Gdi()), m_dc(plat.Gdi()) {}

drawing_t::~drawing_t() {
  // The strip must leave its DC before either goes.
  if (m_dc && m_oldBitmap) m_plat.Gdi().SelectObject(m_dc.get(), m_oldBitmap);
}

bool drawing_t::load(HINSTANCE module) {
  platform::IGdi& gdi = m_plat.Gdi();
  m_bitmap.reset(static_cast<HBITMAP>(gdi.LoadImageW(module, MAKEINTRESOURCEW(kAvatarBitmap),
                                                     IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION)));
  if (!m_bitmap) return false;
  BITMAP bm{};
  if (!gdi.GetObjectW(m_bitmap.get(), sizeof(bm), &bm) || !bm.bmBits || bm.bmBitsPixel != 32 ||
      bm.bmWidth <= 0 || bm.bmHeight == 0) {
    m_bitmap.reset();
    return false;
  }
  const LONG height = bm.bmHeight < 0 ? -bm.bmHeight : bm.bmHeight;
  // Premultiplied here once: UpdateLayeredWindow with AC_SRC_ALPHA expects it, and every
  // draw copies from this strip.
  PremultiplyAlpha(static_cast<BYTE*>(bm.bmBits),
                   static_cast<size_t>(bm.bmWidthBytes / 4) * static_cast<size_t>(height));
  m_bounds = SIZE{bm.bmWidth, height};
  m_side = std::min<int>(bm.bmWidth, height);
  m_dc.reset(gdi.CreateCompatibleDC(nullptr));
  if (!m_dc) return false;
  m_oldBitmap = gdi.SelectObject(m_dc.get(), m_bitmap.get());
  return m_oldBitmap != nullptr;
}

void drawing_t::update_state(HWND window, int frame, bool firstTime) {
  platform::IUi& ui = m_plat.Ui();
  platform::IGdi& gdi = m_plat.Gdi();
  RECT target{0, 0, 0, 0};
  if (firstTime) {
    CAgentSettings agent(m_plat);
    // Stored as the DWORD of a signed coordinate: a corner left of or above the primary
    // display reads back negative.
    const LONG x = static_cast<LONG>(agent.Get(SettingNames::Agent::kSaveFeedbackIconX));
    const LONG y = static_cast<LONG>(agent.Get(SettingNames::Agent::kSaveFeedbackIconY));
    RECT area{0, 0, 0, 0};
    if (!ui.SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0)) area = RECT{0, 0, 0, 0};
    target = FitIntoWorkArea(RECT{x, y, x + m_side, y + m_side}, area);
  } else if (!ui.GetWindowRect(window, &target)) {
    target = RECT{0, 0, 0, 0};
  }
  const LONG w = target.right - target.left, h = target.bottom - target.top;
  if (w <= 0 || h <= 0 || !m_dc) return;

  platform::UniqueScreenDc screen(ui, ui.GetDC(nullptr));
  platform::UniqueMemoryDc dc(gdi, gdi.CreateCompatibleDC(screen.get()));
  BITMAPINFO bmi{};
  bmi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  bmi.bmiHeader.biWidth = w;
  bmi.bmiHeader.biHeight = h;
  bmi.bmiHeader.biPlanes = 1;
  bmi.bmiHeader.biBitCount = 32;
  bmi.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  platform::UniqueBitmap dib(gdi, gdi.CreateDIBSection(dc.get(), &bmi, DIB_RGB_COLORS, &bits,
                                                       nullptr, 0));
  if (!dc || !dib) return;
  HGDIOBJ old = gdi.SelectObject(dc.get(), dib.get());
  gdi.SetStretchBltMode(dc.get(), COLORONCOLOR);
  gdi.StretchBlt(dc.get(), 0, 0, w, h, m_dc.get(), frame * m_side, 0, m_side, m_side, SRCCOPY);
  POINT pos{target.left, target.top};
  SIZE size{w, h};
  POINT src{0, 0};
  BLENDFUNCTION blend{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
  ui.UpdateLayeredWindow(window, screen.get(), &pos, &size, dc.get(), &src, 0, &blend, ULW_ALPHA);
  if (old) gdi.SelectObject(dc.get(), old);
  ui.SetWindowPos(window, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

// ---- CCloseToolTipCtrl --------------------------------------------------------------------

namespace {
// The subclass procedure finds its object by window, as CWindowBase does.
std::mutex& TipLock() {
  static std::mutex m;
  return m;
}
std::unordered_map<HWND, CCloseToolTipCtrl*>& Tips() {
  static std::unordered_map<HWND, CCloseToolTipCtrl*> t;
  return t;
}
CCloseToolTipCtrl* FindTip(HWND h) {
  std::lock_guard lk(TipLock());
  auto it = Tips().find(h);
  return it == Tips().end() ? nullptr : it->second;
}
void ForgetTip(HWND h) {
  std::lock_guard lk(TipLock());
  Tips().erase(h);
}
}  // namespace

CCloseToolTipCtrl::~CCloseToolTipCtrl() { Destroy(); }

bool CCloseToolTipCtrl::Create(HWND owner, HINSTANCE module, DWORD style) {
  m_owner = owner;
  m_hWnd = m_ui.CreateWindowExW(0, TOOLTIPS_CLASSW, nullptr, style, CW_USEDEFAULT, CW_USEDEFAULT,
                                CW_USEDEFAULT, CW_USEDEFAULT, owner, nullptr, module, nullptr);
  if (!m_hWnd) return false;
  {
    std::lock_guard lk(TipLock());
    Tips()[m_hWnd] = this;
  }
  m_previous = reinterpret_cast<WNDPROC>(m_ui.SetWindowLongPtrW(
      m_hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CCloseToolTipCtrl::SubclassProc)));
  return true;
}

void CCloseToolTipCtrl::Destroy() {
  if (!m_hWnd) return;
  const HWND h = m_hWnd;
  m_ui.DestroyWindow(h);
  ForgetTip(h);
  m_hWnd = nullptr;
}

LRESULT CALLBACK CCloseToolTipCtrl::SubclassProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  CCloseToolTipCtrl* self = FindTip(h);
  if (!self) return 0;
  if (msg == WM_LBUTTONDOWN) {
    self->m_ui.ShowWindow(h, SW_HIDE);
    if (self->m_closeMessage && self->m_owner)
      self->m_ui.SendMessageW(self->m_owner, self->m_closeMessage, 0, reinterpret_cast<LPARAM>(h));
    return 0;
  }
  const LRESULT r = self->m_ui.CallWindowProcW(self->m_previous, h, msg, wp, lp);
  if (msg == WM_NCDESTROY) ForgetTip(h);
  return r;
}

// ---- CAvatarBallon ------------------------------------------------------------------------

CAvatarBallon::CAvatarBallon(platform::IPlatform& plat, HWND owner, HINSTANCE module)
    : m_plat(plat), m_owner(owner), m_module(module), m_tip(plat.Ui()) {}

TOOLINFOW CAvatarBallon::ToolRecord(const std::wstring& text) const {
  TOOLINFOW ti{};
  // comctl32 before Windows 6.0 refuses the longer record.
  OSVERSIONINFOEXW v{};
  v.dwOSVersionInfoSize = sizeof(v);
  const bool vista = !m_plat.Kernel().GetVersionExW(&v) || v.dwMajorVersion >= 6;
  ti.cbSize = vista ? sizeof(TOOLINFOW) : static_cast<UINT>(TTTOOLINFOW_V2_SIZE);
  ti.uFlags = TTF_TRACK;
  ti.hwnd = m_owner;
  ti.uId = 1;
  ti.lpszText = const_cast<LPWSTR>(text.c_str());
  return ti;
}

bool CAvatarBallon::Create() {
  platform::IUi& ui = m_plat.Ui();
  INITCOMMONCONTROLSEX icc{sizeof(INITCOMMONCONTROLSEX), ICC_WIN95_CLASSES};
  ui.InitCommonControlsEx(&icc);
  if (!m_tip.Create(m_owner, m_module, WS_POPUP | TTS_BALLOON | TTS_NOPREFIX | TTS_ALWAYSTIP))
    return false;
  TOOLINFOW ti = ToolRecord(m_text);
  ui.SendMessageW(m_tip.Window(), TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&ti));
  return true;
}

void CAvatarBallon::Show(const std::wstring& text, POINT tip) {
  platform::IUi& ui = m_plat.Ui();
  const HWND h = m_tip.Window();
  if (!h) return;
  m_text = text;
  TOOLINFOW ti = ToolRecord(m_text);
  ui.SendMessageW(h, TTM_SETMAXTIPWIDTH, 0, ui.GetSystemMetrics(SM_CXFULLSCREEN));
  ui.SendMessageW(h, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&ti));
  if (!m_title.empty())
    ui.SendMessageW(h, TTM_SETTITLEW, TTI_INFO, reinterpret_cast<LPARAM>(m_title.c_str()));
  ui.SendMessageW(h, TTM_TRACKPOSITION, 0,
                  MAKELPARAM(static_cast<WORD>(tip.x), static_cast<WORD>(tip.y)));
  ui.SendMessageW(h, TTM_TRACKACTIVATE, TRUE, reinterpret_cast<LPARAM>(&ti));
}

void CAvatarBallon::Hide() {
  if (const HWND h = m_tip.Window()) {
    TOOLINFOW ti = ToolRecord(m_text);
    m_plat.Ui().SendMessageW(h, TTM_TRACKACTIVATE, FALSE, reinterpret_cast<LPARAM>(&ti));
  }
  m_tip.Destroy();
}

// ---- CAvatarWindow ------------------------------------------------------------------------

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

// ---- CGuideWindow -------------------------------------------------------------------------

CGuideWindow::CGuideWindow(platform::IPlatform& plat, HINSTANCE module,
                           CAvatarWindow::Strings strings)
    : m_avatar(std::make_unique<CAvatarWindow>(plat, module, std::move(strings))) {
  VDTraceNS::CScope ts("CGuideWindow::CGuideWindow");
  HRESULT hr = S_OK;
  try {
    hr = m_avatar->Create();
  } catch (const CResultError& e) {
    hr = e.Result();
  }
  if (FAILED(hr)) {
    ts.Result("Failed to create window.", hr);
    return;
  }
  m_messageId = kAvatarMessage;
}

CGuideWindow::~CGuideWindow() = default;

}  // namespace tray
