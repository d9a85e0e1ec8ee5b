// The window-system operations of one simulated process: Win32 USER32 calls on the
// machine's window manager, seen from this process and its session.
#pragma once

#include <memory>
#include <mutex>
#include <set>

#include "platform/sim/dialog_manager.h"
#include "platform/sim/process.h"
#include "platform/sim/window_manager.h"
#include "platform/ui.h"

namespace sim {

class ProcessUi : public platform::IUi {
 public:
  explicit ProcessUi(Process& p);
  // The process ends: its windows, classes and timers go, with no message sent.
  ~ProcessUi() override;
  ProcessUi(const ProcessUi&) = delete;
  ProcessUi& operator=(const ProcessUi&) = delete;

  ATOM RegisterClassExW(const WNDCLASSEXW* lpwcx) override;
  BOOL UnregisterClassW(LPCWSTR lpClassName, HINSTANCE hInstance) override;
  HWND CreateWindowExW(DWORD dwExStyle, LPCWSTR lpClassName, LPCWSTR lpWindowName, DWORD dwStyle,
                       int X, int Y, int nWidth, int nHeight, HWND hWndParent, HMENU hMenu,
                       HINSTANCE hInstance, LPVOID lpParam) override;
  BOOL DestroyWindow(HWND hWnd) override;
  BOOL IsWindow(HWND hWnd) override;
  LRESULT DefWindowProcW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) override;
  WNDPROC DefWindowProcAddress() override;
  LONG_PTR GetWindowLongPtrW(HWND hWnd, int nIndex) override;
  LONG_PTR SetWindowLongPtrW(HWND hWnd, int nIndex, LONG_PTR dwNewLong) override;
  BOOL ShowWindow(HWND hWnd, int nCmdShow) override;
  HWND FindWindowW(LPCWSTR lpClassName, LPCWSTR lpWindowName) override;
  BOOL SetForegroundWindow(HWND hWnd) override;
  HWND GetForegroundWindow() override;
  HWND SetFocus(HWND hWnd) override;
  DWORD GetWindowThreadProcessId(HWND hWnd, LPDWORD lpdwProcessId) override;
  HCURSOR LoadCursorW(HINSTANCE hInstance, LPCWSTR lpCursorName) override;

  BOOL PostMessageW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) override;
  BOOL PostThreadMessageW(DWORD idThread, UINT Msg, WPARAM wParam, LPARAM lParam) override;
  LRESULT SendMessageW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) override;
  LRESULT SendMessageTimeoutW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam, UINT fuFlags,
                              UINT uTimeout, PDWORD_PTR lpdwResult) override;
  BOOL GetMessageW(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax) override;
  BOOL PeekMessageW(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax,
                    UINT wRemoveMsg) override;
  BOOL TranslateMessage(const MSG* lpMsg) override;
  LRESULT DispatchMessageW(const MSG* lpMsg) override;
  void PostQuitMessage(int nExitCode) override;
  UINT RegisterWindowMessageW(LPCWSTR lpString) override;
  DWORD MsgWaitForMultipleObjects(DWORD nCount, const HANDLE* pHandles, BOOL fWaitAll,
                                  DWORD dwMilliseconds, DWORD dwWakeMask) override;
  BOOL ChangeWindowMessageFilter(UINT message, DWORD dwFlag) override;

  UINT_PTR SetTimer(HWND hWnd, UINT_PTR nIDEvent, UINT uElapse, TIMERPROC lpTimerFunc) override;
  BOOL KillTimer(HWND hWnd, UINT_PTR uIDEvent) override;

  // Menus live in the desktop's table (sim::MenuTable). TrackPopupMenu asks the desktop's
  // menu user and records what was shown, picked or dismissed (kind "menu").
  HMENU CreatePopupMenu() override;
  BOOL AppendMenuW(HMENU hMenu, UINT uFlags, UINT_PTR uIDNewItem, LPCWSTR lpNewItem) override;
  BOOL SetMenuDefaultItem(HMENU hMenu, UINT uItem, UINT fByPos) override;
  int GetMenuItemCount(HMENU hMenu) override;
  UINT GetMenuItemID(HMENU hMenu, int nPos) override;
  BOOL DeleteMenu(HMENU hMenu, UINT uPosition, UINT uFlags) override;
  BOOL TrackPopupMenu(HMENU hMenu, UINT uFlags, int x, int y, int nReserved, HWND hWnd,
                      const RECT* prcRect) override;
  BOOL DestroyMenu(HMENU hMenu) override;
  BOOL GetCursorPos(LPPOINT lpPoint) override;
  UINT GetDoubleClickTime() override;
  HDESK OpenInputDesktop(DWORD dwFlags, BOOL fInherit, ACCESS_MASK dwDesiredAccess) override;
  BOOL CloseDesktop(HDESK hDesktop) override;
  int GetSystemMetrics(int nIndex) override;
  DWORD GetSysColor(int nIndex) override;
  BOOL SystemParametersInfoW(UINT uiAction, UINT uiParam, PVOID pvParam, UINT fWinIni) override;
  BOOL RegisterHotKey(HWND hWnd, int id, UINT fsModifiers, UINT vk) override;
  BOOL UnregisterHotKey(HWND hWnd, int id) override;
  SHORT GetAsyncKeyState(int vKey) override;
  long BroadcastSystemMessageW(DWORD flags, LPDWORD lpInfo, UINT Msg, WPARAM wParam,
                               LPARAM lParam) override;
  BOOL LockWorkStation() override;
  // The user reads the box and presses its first button at once; the desktop shows it.
  int MessageBoxW(HWND hWnd, LPCWSTR lpText, LPCWSTR lpCaption, UINT uType) override;
  INT_PTR DialogBoxParamW(HINSTANCE hInstance, LPCWSTR lpTemplateName, HWND hWndParent,
                          DLGPROC lpDialogFunc, LPARAM dwInitParam) override;
  BOOL EndDialog(HWND hDlg, INT_PTR nResult) override;
  HWND GetDlgItem(HWND hDlg, int nIDDlgItem) override;
  BOOL SetDlgItemTextW(HWND hDlg, int nIDDlgItem, LPCWSTR lpString) override;
  BOOL CheckDlgButton(HWND hDlg, int nIDButton, UINT uCheck) override;
  UINT IsDlgButtonChecked(HWND hDlg, int nIDButton) override;

  // The process's modal dialogs (sim::DialogManager): the dialog calls above forward there.
  DialogManager& Dialogs() { return *m_dialogs; }

  BOOL UpdateLayeredWindow(HWND hWnd, HDC hdcDst, POINT* pptDst, SIZE* psize, HDC hdcSrc,
                           POINT* pptSrc, COLORREF crKey, BLENDFUNCTION* pblend,
                           DWORD dwFlags) override;
  BOOL SetWindowPos(HWND hWnd, HWND hWndInsertAfter, int X, int Y, int cx, int cy,
                    UINT uFlags) override;
  BOOL GetWindowRect(HWND hWnd, LPRECT lpRect) override;
  BOOL ClientToScreen(HWND hWnd, LPPOINT lpPoint) override;
  BOOL IsWindowVisible(HWND hWnd) override;
  HWND SetCapture(HWND hWnd) override;
  BOOL ReleaseCapture() override;
  HWND GetCapture() override;
  HDC GetDC(HWND hWnd) override;
  int ReleaseDC(HWND hWnd, HDC hDC) override;
  LRESULT CallWindowProcW(WNDPROC lpPrevWndFunc, HWND hWnd, UINT Msg, WPARAM wParam,
                          LPARAM lParam) override;
  BOOL InitCommonControlsEx(const INITCOMMONCONTROLSEX* picce) override;
 private:
  UiCaller Caller() const { return UiCaller{m_process.Pid(), m_process.SessionId()}; }
  // A layered window that came up or went down is recorded on the desktop.
  void NoteLayeredShown(HWND h, bool wasVisible);
  // A popup menu stays up for `openMs` of virtual time: the caller's messages are served,
  // as in the menu's own modal loop.
  void ModalWait(ULONGLONG openMs);

  Process& m_process;
  WindowManager& m_wm;
  std::mutex m_menuMu;
  std::set<DWORD> m_tracking;  // threads with a popup menu up
  std::unique_ptr<DialogManager> m_dialogs;
};

}  // namespace sim
