#include "platform/win32/win32_ui.h"

namespace platform::win32 {

ATOM CWin32Ui::RegisterClassExW(const WNDCLASSEXW* lpwcx) { return ::RegisterClassExW(lpwcx); }

BOOL CWin32Ui::UnregisterClassW(LPCWSTR lpClassName, HINSTANCE hInstance) {
  return ::UnregisterClassW(lpClassName, hInstance);
}

HWND CWin32Ui::CreateWindowExW(DWORD dwExStyle, LPCWSTR lpClassName, LPCWSTR lpWindowName,
                               DWORD dwStyle, int X, int Y, int nWidth, int nHeight,
                               HWND hWndParent, HMENU hMenu, HINSTANCE hInstance, LPVOID lpParam) {
  return ::CreateWindowExW(dwExStyle, lpClassName, lpWindowName, dwStyle, X, Y, nWidth, nHeight,
                           hWndParent, hMenu, hInstance, lpParam);
}

BOOL CWin32Ui::DestroyWindow(HWND hWnd) { return ::DestroyWindow(hWnd); }

BOOL CWin32Ui::IsWindow(HWND hWnd) { return ::IsWindow(hWnd); }

LRESULT CWin32Ui::DefWindowProcW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
  return ::DefWindowProcW(hWnd, Msg, wParam, lParam);
}

WNDPROC CWin32Ui::DefWindowProcAddress() { return &::DefWindowProcW; }

LONG_PTR CWin32Ui::GetWindowLongPtrW(HWND hWnd, int nIndex) {
  return ::GetWindowLongPtrW(hWnd, nIndex);
}

LONG_PTR CWin32Ui::SetWindowLongPtrW(HWND hWnd, int nIndex, LONG_PTR dwNewLong) {
  return ::SetWindowLongPtrW(hWnd, nIndex, dwNewLong);
}

BOOL CWin32Ui::ShowWindow(HWND hWnd, int nCmdShow) { return ::ShowWindow(hWnd, nCmdShow); }

HWND CWin32Ui::FindWindowW(LPCWSTR lpClassName, LPCWSTR lpWindowName) {
  return ::FindWindowW(lpClassName, lpWindowName);
}

BOOL CWin32Ui::SetForegroundWindow(HWND hWnd) { return ::SetForegroundWindow(hWnd); }

HWND CWin32Ui::GetForegroundWindow() { return ::GetForegroundWindow(); }

HWND CWin32Ui::SetFocus(HWND hWnd) { return ::SetFocus(hWnd); }

DWORD CWin32Ui::GetWindowThreadProcessId(HWND hWnd, LPDWORD lpdwProcessId) {
  return ::GetWindowThreadProcessId(hWnd, lpdwProcessId);
}

HCURSOR CWin32Ui::LoadCursorW(HINSTANCE hInstance, LPCWSTR lpCursorName) {
  return ::LoadCursorW(hInstance, lpCursorName);
}

BOOL CWin32Ui::PostMessageW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
  return ::PostMessageW(hWnd, Msg, wParam, lParam);
}

DWORD CWin32Ui::MsgWaitForMultipleObjects(DWORD nCount, const HANDLE* pHandles, BOOL fWaitAll,
                                          DWORD dwMilliseconds, DWORD dwWakeMask) {
  return ::MsgWaitForMultipleObjects(nCount, pHandles, fWaitAll, dwMilliseconds, dwWakeMask);
}

BOOL CWin32Ui::PostThreadMessageW(DWORD idThread, UINT Msg, WPARAM wParam, LPARAM lParam) {
  return ::PostThreadMessageW(idThread, Msg, wParam, lParam);
}

LRESULT CWin32Ui::SendMessageW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
  return ::SendMessageW(hWnd, Msg, wParam, lParam);
}

LRESULT CWin32Ui::SendMessageTimeoutW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam,
                                      UINT fuFlags, UINT uTimeout, PDWORD_PTR lpdwResult) {
  return ::SendMessageTimeoutW(hWnd, Msg, wParam, lParam, fuFlags, uTimeout, lpdwResult);
}

BOOL CWin32Ui::GetMessageW(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax) {
  return ::GetMessageW(lpMsg, hWnd, wMsgFilterMin, wMsgFilterMax);
}

BOOL CWin32Ui::PeekMessageW(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax,
                            UINT wRemoveMsg) {
  return ::PeekMessageW(lpMsg, hWnd, wMsgFilterMin, wMsgFilterMax, wRemoveMsg);
}

BOOL CWin32Ui::TranslateMessage(const MSG* lpMsg) { return ::TranslateMessage(lpMsg); }

LRESULT CWin32Ui::DispatchMessageW(const MSG* lpMsg) { return ::DispatchMessageW(lpMsg); }

void CWin32Ui::PostQuitMessage(int nExitCode) { ::PostQuitMessage(nExitCode); }

UINT CWin32Ui::RegisterWindowMessageW(LPCWSTR lpString) {
  return ::RegisterWindowMessageW(lpString);
}

UINT_PTR CWin32Ui::SetTimer(HWND hWnd, UINT_PTR nIDEvent, UINT uElapse, TIMERPROC lpTimerFunc) {
  return ::SetTimer(hWnd, nIDEvent, uElapse, lpTimerFunc);
}

BOOL CWin32Ui::KillTimer(HWND hWnd, UINT_PTR uIDEvent) { return ::KillTimer(hWnd, uIDEvent); }

int CWin32Ui::GetSystemMetrics(int nIndex) { return ::GetSystemMetrics(nIndex); }

DWORD CWin32Ui::GetSysColor(int nIndex) { return ::GetSysColor(nIndex); }

HMENU CWin32Ui::CreatePopupMenu() { return ::CreatePopupMenu(); }

BOOL CWin32Ui::AppendMenuW(HMENU hMenu, UINT uFlags, UINT_PTR uIDNewItem, LPCWSTR lpNewItem) {
  return ::AppendMenuW(hMenu, uFlags, uIDNewItem, lpNewItem);
}

BOOL CWin32Ui::SetMenuDefaultItem(HMENU hMenu, UINT uItem, UINT fByPos) {
  return ::SetMenuDefaultItem(hMenu, uItem, fByPos);
}

int CWin32Ui::GetMenuItemCount(HMENU hMenu) { return ::GetMenuItemCount(hMenu); }
UINT CWin32Ui::GetMenuItemID(HMENU hMenu, int nPos) { return ::GetMenuItemID(hMenu, nPos); }
BOOL CWin32Ui::DeleteMenu(HMENU hMenu, UINT uPosition, UINT uFlags) {
  return ::DeleteMenu(hMenu, uPosition, uFlags);
}

BOOL CWin32Ui::TrackPopupMenu(HMENU hMenu, UINT uFlags, int x, int y, int nReserved, HWND hWnd,
                              const RECT* prcRect) {
  return ::TrackPopupMenu(hMenu, uFlags, x, y, nReserved, hWnd, prcRect);
}

BOOL CWin32Ui::DestroyMenu(HMENU hMenu) { return ::DestroyMenu(hMenu); }

BOOL CWin32Ui::GetCursorPos(LPPOINT lpPoint) { return ::GetCursorPos(lpPoint); }

UINT CWin32Ui::GetDoubleClickTime() { return ::GetDoubleClickTime(); }

HDESK CWin32Ui::OpenInputDesktop(DWORD dwFlags, BOOL fInherit, ACCESS_MASK dwDesiredAccess) {
  return ::OpenInputDesktop(dwFlags, fInherit, dwDesiredAccess);
}

BOOL CWin32Ui::CloseDesktop(HDESK hDesktop) { return ::CloseDesktop(hDesktop); }

BOOL CWin32Ui::LockWorkStation() { return ::LockWorkStation(); }

int CWin32Ui::MessageBoxW(HWND hWnd, LPCWSTR lpText, LPCWSTR lpCaption, UINT uType) {
  return ::MessageBoxW(hWnd, lpText, lpCaption, uType);
}

INT_PTR CWin32Ui::DialogBoxParamW(HINSTANCE hInstance, LPCWSTR lpTemplateName, HWND hWndParent,
                                  DLGPROC lpDialogFunc, LPARAM dwInitParam) {
  return ::DialogBoxParamW(hInstance, lpTemplateName, hWndParent, lpDialogFunc, dwInitParam);
}

BOOL CWin32Ui::EndDialog(HWND hDlg, INT_PTR nResult) { return ::EndDialog(hDlg, nResult); }

HWND CWin32Ui::GetDlgItem(HWND hDlg, int nIDDlgItem) { return ::GetDlgItem(hDlg, nIDDlgItem); }

BOOL CWin32Ui::SetDlgItemTextW(HWND hDlg, int nIDDlgItem, LPCWSTR lpString) {
  return ::SetDlgItemTextW(hDlg, nIDDlgItem, lpString);
}

BOOL CWin32Ui::CheckDlgButton(HWND hDlg, int nIDButton, UINT uCheck) {
  return ::CheckDlgButton(hDlg, nIDButton, uCheck);
}

UINT CWin32Ui::IsDlgButtonChecked(HWND hDlg, int nIDButton) {
  return ::IsDlgButtonChecked(hDlg, nIDButton);
}

}  // namespace platform::win32

namespace platform::win32 {

BOOL CWin32Ui::ChangeWindowMessageFilter(UINT message, DWORD dwFlag) {
  // Vista and later; looked up so that the agent still starts where it is absent.
  using Fn = BOOL(WINAPI*)(UINT, DWORD);
  HMODULE user32 = ::GetModuleHandleW(L"user32.dll");
  FARPROC proc = user32 ? ::GetProcAddress(user32, "ChangeWindowMessageFilter") : nullptr;
  if (!proc) return FALSE;
  return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(proc))(message, dwFlag);
}

}  // namespace platform::win32

namespace platform::win32 {

BOOL CWin32Ui::SystemParametersInfoW(UINT uiAction, UINT uiParam, PVOID pvParam, UINT fWinIni) {
  return ::SystemParametersInfoW(uiAction, uiParam, pvParam, fWinIni);
}

BOOL CWin32Ui::RegisterHotKey(HWND hWnd, int id, UINT fsModifiers, UINT vk) {
  return ::RegisterHotKey(hWnd, id, fsModifiers, vk);
}

BOOL CWin32Ui::UnregisterHotKey(HWND hWnd, int id) { return ::UnregisterHotKey(hWnd, id); }

SHORT CWin32Ui::GetAsyncKeyState(int vKey) { return ::GetAsyncKeyState(vKey); }

long CWin32Ui::BroadcastSystemMessageW(DWORD flags, LPDWORD lpInfo, UINT Msg, WPARAM wParam,
                                       LPARAM lParam) {
  return ::BroadcastSystemMessageW(flags, lpInfo, Msg, wParam, lParam);
}

}  // namespace platform::win32

namespace platform::win32 {

BOOL CWin32Ui::UpdateLayeredWindow(HWND hWnd, HDC hdcDst, POINT* pptDst, SIZE* psize, HDC hdcSrc,
                                   POINT* pptSrc, COLORREF crKey, BLENDFUNCTION* pblend,
                                   DWORD dwFlags) {
  return ::UpdateLayeredWindow(hWnd, hdcDst, pptDst, psize, hdcSrc, pptSrc, crKey, pblend, dwFlags);
}

BOOL CWin32Ui::SetWindowPos(HWND hWnd, HWND hWndInsertAfter, int X, int Y, int cx, int cy,
                            UINT uFlags) {
  return ::SetWindowPos(hWnd, hWndInsertAfter, X, Y, cx, cy, uFlags);
}

BOOL CWin32Ui::GetWindowRect(HWND hWnd, LPRECT lpRect) { return ::GetWindowRect(hWnd, lpRect); }
BOOL CWin32Ui::ClientToScreen(HWND hWnd, LPPOINT lpPoint) { return ::ClientToScreen(hWnd, lpPoint); }
BOOL CWin32Ui::IsWindowVisible(HWND hWnd) { return ::IsWindowVisible(hWnd); }
HWND CWin32Ui::SetCapture(HWND hWnd) { return ::SetCapture(hWnd); }
BOOL CWin32Ui::ReleaseCapture() { return ::ReleaseCapture(); }
HWND CWin32Ui::GetCapture() { return ::GetCapture(); }
HDC CWin32Ui::GetDC(HWND hWnd) { return ::GetDC(hWnd); }
int CWin32Ui::ReleaseDC(HWND hWnd, HDC hDC) { return ::ReleaseDC(hWnd, hDC); }

LRESULT CWin32Ui::CallWindowProcW(WNDPROC lpPrevWndFunc, HWND hWnd, UINT Msg, WPARAM wParam,
                                  LPARAM lParam) {
  return ::CallWindowProcW(lpPrevWndFunc, hWnd, Msg, wParam, lParam);
}

BOOL CWin32Ui::InitCommonControlsEx(const INITCOMMONCONTROLSEX* picce) {
  return ::InitCommonControlsEx(picce);
}

}  // namespace platform::win32
