#include "core/window_impl.h"

namespace core {

namespace {
std::mutex& TableLock() {
  static std::mutex m;
  return m;
}
std::unordered_map<HWND, CWindowBase*>& Table() {
  static std::unordered_map<HWND, CWindowBase*> t;
  return t;
}
}  // namespace

CWindowBase* CWindowBase::Lookup(HWND hWnd) {
  std::lock_guard lk(TableLock());
  auto it = Table().find(hWnd);
  return it == Table().end() ? nullptr : it->second;
}

void CWindowBase::Bind(HWND hWnd, CWindowBase* w) {
  std::lock_guard lk(TableLock());
  Table()[hWnd] = w;
}

void CWindowBase::Unbind(HWND hWnd) {
  std::lock_guard lk(TableLock());
  Table().erase(hWnd);
}

bool CWindowBase::RegisterClassOnce(HINSTANCE hInstance, LPCWSTR className, UINT style,
                                    HBRUSH background) {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof(wc);
  wc.style = style;
  wc.lpfnWndProc = &CWindowBase::WindowProc;
  wc.hInstance = hInstance;
  wc.hCursor = m_ui.LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = background;
  wc.lpszClassName = className;
  return m_ui.RegisterClassExW(&wc) != 0;
}

HWND CWindowBase::Create(HINSTANCE hInstance, LPCWSTR className, LPCWSTR title, DWORD style,
                         DWORD exStyle, HWND parent) {
  return m_ui.CreateWindowExW(exStyle, className, title, style, CW_USEDEFAULT, CW_USEDEFAULT,
                              CW_USEDEFAULT, CW_USEDEFAULT, parent, nullptr, hInstance, this);
}

BOOL CWindowBase::DestroyWindow() {
  if (!m_hWnd) return FALSE;
  return m_ui.DestroyWindow(m_hWnd);
}

LRESULT CALLBACK CWindowBase::WindowProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
  CWindowBase* w = nullptr;
  if (uMsg == WM_NCCREATE) {
    w = static_cast<CWindowBase*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
    if (w) {
      w->m_hWnd = hWnd;
      Bind(hWnd, w);
    }
  } else {
    w = Lookup(hWnd);
  }
  if (!w) return 0;  // messages before WM_NCCREATE (none on a fresh window) or after the end

  LRESULT result = 0;
  const BOOL handled = w->ProcessWindowMessage(hWnd, uMsg, wParam, lParam, result);
  if (!handled) result = w->m_ui.DefWindowProcW(hWnd, uMsg, wParam, lParam);
  if (uMsg == WM_NCCREATE && !handled) result = TRUE;
  if (uMsg == WM_NCDESTROY) {
    Unbind(hWnd);
    w->m_hWnd = nullptr;
    w->OnFinalMessage(hWnd);
  }
  return result;
}

}  // namespace core
