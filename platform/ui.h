// Windows user interface (USER32): window classes, windows, the message queue, registered
// messages, window timers and the workstation lock, with Win32 meaning and results.
//
//   WNDCLASSEXW wc{sizeof(wc)}; wc.lpfnWndProc = &Proc; wc.lpszClassName = L"...";
//   ui.RegisterClassExW(&wc);
//   HWND h = ui.CreateWindowExW(WS_EX_TOOLWINDOW, L"...", L"title", WS_POPUP, CW_USEDEFAULT,
//                               CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr,
//                               hInstance, this);
//   MSG msg; while (ui.GetMessageW(&msg, nullptr, 0, 0) > 0) { ui.TranslateMessage(&msg);
//                                                              ui.DispatchMessageW(&msg); }
//
// A window belongs to the thread that created it; posted messages and WM_TIMER reach it
// through that thread's GetMessageW/PeekMessageW, sent messages run its window procedure
// on that thread. Messages sent to a window of another thread are delivered while that
// thread waits in GetMessageW or PeekMessageW, as on Windows.
#pragma once

#include "platform/win_types.h"

namespace platform {

class IUi {
 public:
  virtual ~IUi() = default;

  // ---- Classes and windows ----
  virtual ATOM RegisterClassExW(const WNDCLASSEXW* lpwcx) = 0;
  virtual BOOL UnregisterClassW(LPCWSTR lpClassName, HINSTANCE hInstance) = 0;
  // Sends WM_NCCREATE and WM_CREATE (lParam: the CREATESTRUCTW) before it returns; a
  // WM_CREATE answer of -1 (or FALSE to WM_NCCREATE) destroys the window and returns null.
  virtual HWND CreateWindowExW(DWORD dwExStyle, LPCWSTR lpClassName, LPCWSTR lpWindowName,
                               DWORD dwStyle, int X, int Y, int nWidth, int nHeight,
                               HWND hWndParent, HMENU hMenu, HINSTANCE hInstance,
                               LPVOID lpParam) = 0;
  // Sends WM_DESTROY then WM_NCDESTROY.
  virtual BOOL DestroyWindow(HWND hWnd) = 0;
  virtual BOOL IsWindow(HWND hWnd) = 0;
  virtual LRESULT DefWindowProcW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) = 0;
  // DefWindowProcW as a window procedure, for a class whose windows need nothing of their
  // own (WNDCLASSEXW::lpfnWndProc).
  virtual WNDPROC DefWindowProcAddress() = 0;
  virtual LONG_PTR GetWindowLongPtrW(HWND hWnd, int nIndex) = 0;
  virtual LONG_PTR SetWindowLongPtrW(HWND hWnd, int nIndex, LONG_PTR dwNewLong) = 0;
  virtual BOOL ShowWindow(HWND hWnd, int nCmdShow) = 0;
  virtual HWND FindWindowW(LPCWSTR lpClassName, LPCWSTR lpWindowName) = 0;
  virtual BOOL SetForegroundWindow(HWND hWnd) = 0;
  virtual HWND GetForegroundWindow() = 0;
  virtual HWND SetFocus(HWND hWnd) = 0;
  virtual DWORD GetWindowThreadProcessId(HWND hWnd, LPDWORD lpdwProcessId) = 0;
  virtual HCURSOR LoadCursorW(HINSTANCE hInstance, LPCWSTR lpCursorName) = 0;

  // ---- Messages ----
  // hWnd HWND_BROADCAST: every top-level window of the caller's session (message-only
  // windows excluded).
  virtual BOOL PostMessageW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) = 0;
  virtual BOOL PostThreadMessageW(DWORD idThread, UINT Msg, WPARAM wParam, LPARAM lParam) = 0;
  virtual LRESULT SendMessageW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) = 0;
  virtual LRESULT SendMessageTimeoutW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam,
                                      UINT fuFlags, UINT uTimeout, PDWORD_PTR lpdwResult) = 0;
  // > 0 a message, 0 WM_QUIT, -1 an error.
  virtual BOOL GetMessageW(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax) = 0;
  virtual BOOL PeekMessageW(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax,
                            UINT wRemoveMsg) = 0;
  virtual BOOL TranslateMessage(const MSG* lpMsg) = 0;
  virtual LRESULT DispatchMessageW(const MSG* lpMsg) = 0;
  virtual void PostQuitMessage(int nExitCode) = 0;
  // The same name (case-insensitive) gives the same value machine-wide, 0xC000..0xFFFF.
  virtual UINT RegisterWindowMessageW(LPCWSTR lpString) = 0;
  // Waits for the object (or for nothing, nCount 0) or for input of the kinds in
  // dwWakeMask (QS_SENDMESSAGE, QS_POSTMESSAGE, QS_TIMER, QS_ALLINPUT): WAIT_OBJECT_0 when
  // the object is signalled (and taken, as any wait takes it), WAIT_OBJECT_0 + nCount when
  // such input waits for the calling thread, WAIT_TIMEOUT, or WAIT_FAILED. It dispatches
  // nothing itself: a PeekMessageW afterwards runs the sent messages. The simulated machine
  // waits on at most one object and never with fWaitAll (ERROR_INVALID_PARAMETER), and
  // reports input that waits, not only input that is new since the last look.
  virtual DWORD MsgWaitForMultipleObjects(DWORD nCount, const HANDLE* pHandles, BOOL fWaitAll,
                                          DWORD dwMilliseconds, DWORD dwWakeMask) = 0;
  // Lets a message through the privilege-isolation filter (looked up at run time; absent
  // on old systems, then FALSE with no effect).
  virtual BOOL ChangeWindowMessageFilter(UINT message, DWORD dwFlag) = 0;

  // ---- Window timers ----
  virtual UINT_PTR SetTimer(HWND hWnd, UINT_PTR nIDEvent, UINT uElapse, TIMERPROC lpTimerFunc) = 0;
  virtual BOOL KillTimer(HWND hWnd, UINT_PTR uIDEvent) = 0;

  // ---- Hotkeys and the keyboard ----
  // A hotkey belongs to one window machine-wide (per session on Windows): a combination
  // another window holds fails with ERROR_HOTKEY_ALREADY_REGISTERED. Pressing it posts
  // WM_HOTKEY (wParam: the id, lParam: MAKELPARAM(modifiers, vk)) to the window.
  virtual BOOL RegisterHotKey(HWND hWnd, int id, UINT fsModifiers, UINT vk) = 0;
  virtual BOOL UnregisterHotKey(HWND hWnd, int id) = 0;
  // The high bit is set while the key is down on the session's keyboard.
  virtual SHORT GetAsyncKeyState(int vKey) = 0;
  // Posts (BSF_POSTMESSAGE) or sends the message to the top-level windows of the recipients
  // (BSM_APPLICATIONS: every program of the session). *lpInfo: the recipients asked, then
  // the recipients reached. Returns a positive value on success, -1 on failure.
  virtual long BroadcastSystemMessageW(DWORD flags, LPDWORD lpInfo, UINT Msg, WPARAM wParam,
                                       LPARAM lParam) = 0;

  // ---- Menus ----
  virtual HMENU CreatePopupMenu() = 0;
  virtual BOOL AppendMenuW(HMENU hMenu, UINT uFlags, UINT_PTR uIDNewItem, LPCWSTR lpNewItem) = 0;
  virtual BOOL SetMenuDefaultItem(HMENU hMenu, UINT uItem, UINT fByPos) = 0;
  virtual int GetMenuItemCount(HMENU hMenu) = 0;
  // The command id at a position; (UINT)-1 for a submenu or a bad position or handle.
  virtual UINT GetMenuItemID(HMENU hMenu, int nPos) = 0;
  // MF_BYPOSITION or MF_BYCOMMAND, as uFlags says.
  virtual BOOL DeleteMenu(HMENU hMenu, UINT uPosition, UINT uFlags) = 0;
  // Modal: shows the menu and returns when the user picked an item or dismissed it, the
  // caller's sent messages served meanwhile. Without TPM_RETURNCMD a pick posts WM_COMMAND
  // (the item's id) to hWnd and gives TRUE; a dismissal gives FALSE (last error 0).
  virtual BOOL TrackPopupMenu(HMENU hMenu, UINT uFlags, int x, int y, int nReserved, HWND hWnd,
                              const RECT* prcRect) = 0;
  virtual BOOL DestroyMenu(HMENU hMenu) = 0;

  // ---- Mouse ----
  virtual BOOL GetCursorPos(LPPOINT lpPoint) = 0;
  // Milliseconds between two clicks that still make a double click (500 by default).
  virtual UINT GetDoubleClickTime() = 0;

  // ---- Desktops ----
  // The desktop that receives the user's input; null (ERROR_ACCESS_DENIED) while the
  // session shows the lock screen or is disconnected.
  virtual HDESK OpenInputDesktop(DWORD dwFlags, BOOL fInherit, ACCESS_MASK dwDesiredAccess) = 0;
  virtual BOOL CloseDesktop(HDESK hDesktop) = 0;

  // ---- System ----
  virtual int GetSystemMetrics(int nIndex) = 0;
  virtual DWORD GetSysColor(int nIndex) = 0;
  // Asked for SPI_GETSCREENSAVERRUNNING (*(BOOL*)pvParam is set) and SPI_GETWORKAREA (the
  // primary display less the taskbar, a RECT).
  virtual BOOL SystemParametersInfoW(UINT uiAction, UINT uiParam, PVOID pvParam,
                                     UINT fWinIni) = 0;
  virtual BOOL LockWorkStation() = 0;
  // A modal message box; returns the button that closed it (IDOK, ...), 0 on failure.
  virtual int MessageBoxW(HWND hWnd, LPCWSTR lpText, LPCWSTR lpCaption, UINT uType) = 0;

  // ---- Modal dialogs from templates in a module's resources ----
  // Creates the dialog of template `lpTemplateName` (MAKEINTRESOURCEW(id)) owned by
  // `hWndParent`, sends WM_INITDIALOG (lParam: dwInitParam) to `lpDialogFunc` and runs a
  // modal loop until the procedure calls EndDialog; returns EndDialog's result, -1 when
  // the template is unusable, or 0 when the owner is not a window (Windows keeps that old
  // answer for compatibility). Sent messages are served meanwhile.
  virtual INT_PTR DialogBoxParamW(HINSTANCE hInstance, LPCWSTR lpTemplateName, HWND hWndParent,
                                  DLGPROC lpDialogFunc, LPARAM dwInitParam) = 0;
  virtual BOOL EndDialog(HWND hDlg, INT_PTR nResult) = 0;
  virtual HWND GetDlgItem(HWND hDlg, int nIDDlgItem) = 0;
  virtual BOOL SetDlgItemTextW(HWND hDlg, int nIDDlgItem, LPCWSTR lpString) = 0;
  // BST_CHECKED (1) or BST_UNCHECKED (0).
  virtual BOOL CheckDlgButton(HWND hDlg, int nIDButton, UINT uCheck) = 0;
  virtual UINT IsDlgButtonChecked(HWND hDlg, int nIDButton) = 0;

  // ---- Layered windows, position, capture ----
  // Places and draws a WS_EX_LAYERED window from the 32-bit bitmap selected into hdcSrc;
  // the desktop keeps the pixels it was given (per-pixel alpha with ULW_ALPHA).
  virtual BOOL UpdateLayeredWindow(HWND hWnd, HDC hdcDst, POINT* pptDst, SIZE* psize, HDC hdcSrc,
                                   POINT* pptSrc, COLORREF crKey, BLENDFUNCTION* pblend,
                                   DWORD dwFlags) = 0;
  virtual BOOL SetWindowPos(HWND hWnd, HWND hWndInsertAfter, int X, int Y, int cx, int cy,
                            UINT uFlags) = 0;
  virtual BOOL GetWindowRect(HWND hWnd, LPRECT lpRect) = 0;
  virtual BOOL ClientToScreen(HWND hWnd, LPPOINT lpPoint) = 0;
  virtual BOOL IsWindowVisible(HWND hWnd) = 0;
  // Mouse capture of this thread; another window taking it sends WM_CAPTURECHANGED.
  virtual HWND SetCapture(HWND hWnd) = 0;
  virtual BOOL ReleaseCapture() = 0;
  virtual HWND GetCapture() = 0;
  // The screen's DC for hWnd null.
  virtual HDC GetDC(HWND hWnd) = 0;
  virtual int ReleaseDC(HWND hWnd, HDC hDC) = 0;
  // Calls a window procedure saved when subclassing (GWLP_WNDPROC).
  virtual LRESULT CallWindowProcW(WNDPROC lpPrevWndFunc, HWND hWnd, UINT Msg, WPARAM wParam,
                                  LPARAM lParam) = 0;
  // Registers the common-control classes (tooltips, links) for this process.
  virtual BOOL InitCommonControlsEx(const INITCOMMONCONTROLSEX* picce) = 0;
};

}  // namespace platform
