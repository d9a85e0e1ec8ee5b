#include "tray/close_tooltip_ctrl.h"

#include <mutex>
#include <unordered_map>

namespace tray {

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

}  // namespace tray
