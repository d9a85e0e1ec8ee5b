// A platform that hands every call to another one, part by part: the base of test doubles
// that take over a few calls of the kernel, the user interface or the shell and leave the
// rest to the simulated machine.
//
//   struct CopyingKernel : vdtest::ForwardingKernel {
//     using ForwardingKernel::ForwardingKernel;
//     BOOL CopyFileExW(...) override { ...the test's copy... }
//   };
#pragma once

#include "platform/platform.h"

namespace vdtest {

class ForwardingKernel : public platform::IKernel {
 public:
  explicit ForwardingKernel(platform::IKernel& to) : inner(to) {}

  DWORD GetLastError() override { return inner.GetLastError(); }
  void SetLastError(DWORD a0) override { inner.SetLastError(a0); }
  HANDLE CreateMutexW(LPSECURITY_ATTRIBUTES a0, BOOL a1, LPCWSTR a2) override {
    return inner.CreateMutexW(a0, a1, a2);
  }
  BOOL ReleaseMutex(HANDLE a0) override { return inner.ReleaseMutex(a0); }
  HANDLE CreateEventW(LPSECURITY_ATTRIBUTES a0, BOOL a1, BOOL a2, LPCWSTR a3) override {
    return inner.CreateEventW(a0, a1, a2, a3);
  }
  HANDLE OpenEventW(DWORD a0, BOOL a1, LPCWSTR a2) override { return inner.OpenEventW(a0, a1, a2); }
  BOOL SetEvent(HANDLE a0) override { return inner.SetEvent(a0); }
  BOOL ResetEvent(HANDLE a0) override { return inner.ResetEvent(a0); }
  DWORD WaitForSingleObject(HANDLE a0, DWORD a1) override {
    return inner.WaitForSingleObject(a0, a1);
  }
  BOOL CloseHandle(HANDLE a0) override { return inner.CloseHandle(a0); }
  BOOL RegisterWaitForSingleObject(PHANDLE a0, HANDLE a1, WAITORTIMERCALLBACK a2, PVOID a3,
                                   ULONG a4, ULONG a5) override {
    return inner.RegisterWaitForSingleObject(a0, a1, a2, a3, a4, a5);
  }
  BOOL UnregisterWaitEx(HANDLE a0, HANDLE a1) override { return inner.UnregisterWaitEx(a0, a1); }
  BOOL CreateTimerQueueTimer(PHANDLE a0, HANDLE a1, WAITORTIMERCALLBACK a2, PVOID a3, DWORD a4,
                             DWORD a5, ULONG a6) override {
    return inner.CreateTimerQueueTimer(a0, a1, a2, a3, a4, a5, a6);
  }
  BOOL ChangeTimerQueueTimer(HANDLE a0, HANDLE a1, ULONG a2, ULONG a3) override {
    return inner.ChangeTimerQueueTimer(a0, a1, a2, a3);
  }
  BOOL DeleteTimerQueueTimer(HANDLE a0, HANDLE a1, HANDLE a2) override {
    return inner.DeleteTimerQueueTimer(a0, a1, a2);
  }
  DWORD GetTickCount() override { return inner.GetTickCount(); }
  ULONGLONG GetTickCount64() override { return inner.GetTickCount64(); }
  void GetSystemTime(SYSTEMTIME* a0) override { inner.GetSystemTime(a0); }
  void GetLocalTime(SYSTEMTIME* a0) override { inner.GetLocalTime(a0); }
  void GetSystemTimeAsFileTime(FILETIME* a0) override { inner.GetSystemTimeAsFileTime(a0); }
  void Sleep(DWORD a0) override { inner.Sleep(a0); }
  DWORD GetCurrentProcessId() override { return inner.GetCurrentProcessId(); }
  DWORD GetCurrentThreadId() override { return inner.GetCurrentThreadId(); }
  HRESULT SetCurrentThreadDescription(LPCWSTR a0) override {
    return inner.SetCurrentThreadDescription(a0);
  }
  DWORD GetModuleFileNameW(HMODULE a0, LPWSTR a1, DWORD a2) override {
    return inner.GetModuleFileNameW(a0, a1, a2);
  }
  UINT GetSystemDirectoryW(LPWSTR a0, UINT a1) override {
    return inner.GetSystemDirectoryW(a0, a1);
  }
  BOOL GetComputerNameW(LPWSTR a0, LPDWORD a1) override { return inner.GetComputerNameW(a0, a1); }
  BOOL GetComputerNameExW(COMPUTER_NAME_FORMAT a0, LPWSTR a1, LPDWORD a2) override {
    return inner.GetComputerNameExW(a0, a1, a2);
  }
  BOOL GetVersionExW(OSVERSIONINFOEXW* a0) override { return inner.GetVersionExW(a0); }
  BOOL GetFileVersion(LPCWSTR a0, WORD a1[4]) override { return inner.GetFileVersion(a0, a1); }
  DWORD ExpandEnvironmentStringsW(LPCWSTR a0, LPWSTR a1, DWORD a2) override {
    return inner.ExpandEnvironmentStringsW(a0, a1, a2);
  }
  BOOL CreateProcessW(LPCWSTR a0, LPWSTR a1, LPSECURITY_ATTRIBUTES a2, LPSECURITY_ATTRIBUTES a3,
                      BOOL a4, DWORD a5, LPVOID a6, LPCWSTR a7, LPSTARTUPINFOW a8,
                      LPPROCESS_INFORMATION a9) override {
    return inner.CreateProcessW(a0, a1, a2, a3, a4, a5, a6, a7, a8, a9);
  }
  HANDLE CreateThread(LPSECURITY_ATTRIBUTES a0, SIZE_T a1, LPTHREAD_START_ROUTINE a2, LPVOID a3,
                      DWORD a4, LPDWORD a5) override {
    return inner.CreateThread(a0, a1, a2, a3, a4, a5);
  }
  BOOL GetExitCodeProcess(HANDLE a0, LPDWORD a1) override {
    return inner.GetExitCodeProcess(a0, a1);
  }
  BOOL CreateWellKnownSid(WELL_KNOWN_SID_TYPE a0, PSID a1, PSID a2, DWORD* a3) override {
    return inner.CreateWellKnownSid(a0, a1, a2, a3);
  }
  BOOL CheckTokenMembership(HANDLE a0, PSID a1, PBOOL a2) override {
    return inner.CheckTokenMembership(a0, a1, a2);
  }
  int CompareStringOrdinal(LPCWCH a0, int a1, LPCWCH a2, int a3, BOOL a4) override {
    return inner.CompareStringOrdinal(a0, a1, a2, a3, a4);
  }
  HANDLE CreateFileW(LPCWSTR a0, DWORD a1, DWORD a2, LPSECURITY_ATTRIBUTES a3, DWORD a4, DWORD a5,
                     HANDLE a6) override {
    return inner.CreateFileW(a0, a1, a2, a3, a4, a5, a6);
  }
  BOOL ReadFile(HANDLE a0, LPVOID a1, DWORD a2, LPDWORD a3, void* a4) override {
    return inner.ReadFile(a0, a1, a2, a3, a4);
  }
  BOOL WriteFile(HANDLE a0, LPCVOID a1, DWORD a2, LPDWORD a3, void* a4) override {
    return inner.WriteFile(a0, a1, a2, a3, a4);
  }
  BOOL SetFilePointerEx(HANDLE a0, LARGE_INTEGER a1, LARGE_INTEGER* a2, DWORD a3) override {
    return inner.SetFilePointerEx(a0, a1, a2, a3);
  }
  BOOL GetFileSizeEx(HANDLE a0, LARGE_INTEGER* a1) override { return inner.GetFileSizeEx(a0, a1); }
  BOOL DeleteFileW(LPCWSTR a0) override { return inner.DeleteFileW(a0); }
  DWORD GetFileAttributesW(LPCWSTR a0) override { return inner.GetFileAttributesW(a0); }
  BOOL CreateDirectoryW(LPCWSTR a0, LPSECURITY_ATTRIBUTES a1) override {
    return inner.CreateDirectoryW(a0, a1);
  }
  BOOL CopyFileExW(LPCWSTR a0, LPCWSTR a1, LPPROGRESS_ROUTINE a2, LPVOID a3, LPBOOL a4,
                   DWORD a5) override {
    return inner.CopyFileExW(a0, a1, a2, a3, a4, a5);
  }
  BOOL MoveFileExW(LPCWSTR a0, LPCWSTR a1, DWORD a2) override {
    return inner.MoveFileExW(a0, a1, a2);
  }
  DWORD GetCurrentDirectoryW(DWORD a0, LPWSTR a1) override {
    return inner.GetCurrentDirectoryW(a0, a1);
  }
  BOOL SetCurrentDirectoryW(LPCWSTR a0) override { return inner.SetCurrentDirectoryW(a0); }

  HANDLE CreateMailslotW(LPCWSTR a0, DWORD a1, DWORD a2, LPSECURITY_ATTRIBUTES a3) override {
    return inner.CreateMailslotW(a0, a1, a2, a3);
  }
  BOOL GetMailslotInfo(HANDLE a0, LPDWORD a1, LPDWORD a2, LPDWORD a3, LPDWORD a4) override {
    return inner.GetMailslotInfo(a0, a1, a2, a3, a4);
  }
  BOOL CancelIo(HANDLE a0) override { return inner.CancelIo(a0); }
  BOOL GetOverlappedResult(HANDLE a0, OVERLAPPED* a1, LPDWORD a2, BOOL a3) override {
    return inner.GetOverlappedResult(a0, a1, a2, a3);
  }
  BOOL RemoveDirectoryW(LPCWSTR a0) override { return inner.RemoveDirectoryW(a0); }
  BOOL GetUserPreferredUILanguages(DWORD a0, PULONG a1, PZZWSTR a2, PULONG a3) override {
    return inner.GetUserPreferredUILanguages(a0, a1, a2, a3);
  }

 protected:
  platform::IKernel& inner;
};

class ForwardingUi : public platform::IUi {
 public:
  explicit ForwardingUi(platform::IUi& to) : inner(to) {}

  ATOM RegisterClassExW(const WNDCLASSEXW* a0) override { return inner.RegisterClassExW(a0); }
  BOOL UnregisterClassW(LPCWSTR a0, HINSTANCE a1) override {
    return inner.UnregisterClassW(a0, a1);
  }
  HWND CreateWindowExW(DWORD a0, LPCWSTR a1, LPCWSTR a2, DWORD a3, int a4, int a5, int a6, int a7,
                       HWND a8, HMENU a9, HINSTANCE a10, LPVOID a11) override {
    return inner.CreateWindowExW(a0, a1, a2, a3, a4, a5, a6, a7, a8, a9, a10, a11);
  }
  BOOL DestroyWindow(HWND a0) override { return inner.DestroyWindow(a0); }
  BOOL IsWindow(HWND a0) override { return inner.IsWindow(a0); }
  LRESULT DefWindowProcW(HWND a0, UINT a1, WPARAM a2, LPARAM a3) override {
    return inner.DefWindowProcW(a0, a1, a2, a3);
  }
  WNDPROC DefWindowProcAddress() override { return inner.DefWindowProcAddress(); }
  LONG_PTR GetWindowLongPtrW(HWND a0, int a1) override { return inner.GetWindowLongPtrW(a0, a1); }
  LONG_PTR SetWindowLongPtrW(HWND a0, int a1, LONG_PTR a2) override {
    return inner.SetWindowLongPtrW(a0, a1, a2);
  }
  BOOL ShowWindow(HWND a0, int a1) override { return inner.ShowWindow(a0, a1); }
  HWND FindWindowW(LPCWSTR a0, LPCWSTR a1) override { return inner.FindWindowW(a0, a1); }
  BOOL SetForegroundWindow(HWND a0) override { return inner.SetForegroundWindow(a0); }
  HWND GetForegroundWindow() override { return inner.GetForegroundWindow(); }
  HWND SetFocus(HWND a0) override { return inner.SetFocus(a0); }
  DWORD GetWindowThreadProcessId(HWND a0, LPDWORD a1) override {
    return inner.GetWindowThreadProcessId(a0, a1);
  }
  HCURSOR LoadCursorW(HINSTANCE a0, LPCWSTR a1) override { return inner.LoadCursorW(a0, a1); }
  BOOL PostMessageW(HWND a0, UINT a1, WPARAM a2, LPARAM a3) override {
    return inner.PostMessageW(a0, a1, a2, a3);
  }
  BOOL PostThreadMessageW(DWORD a0, UINT a1, WPARAM a2, LPARAM a3) override {
    return inner.PostThreadMessageW(a0, a1, a2, a3);
  }
  LRESULT SendMessageW(HWND a0, UINT a1, WPARAM a2, LPARAM a3) override {
    return inner.SendMessageW(a0, a1, a2, a3);
  }
  LRESULT SendMessageTimeoutW(HWND a0, UINT a1, WPARAM a2, LPARAM a3, UINT a4, UINT a5,
                              PDWORD_PTR a6) override {
    return inner.SendMessageTimeoutW(a0, a1, a2, a3, a4, a5, a6);
  }
  BOOL GetMessageW(LPMSG a0, HWND a1, UINT a2, UINT a3) override {
    return inner.GetMessageW(a0, a1, a2, a3);
  }
  BOOL PeekMessageW(LPMSG a0, HWND a1, UINT a2, UINT a3, UINT a4) override {
    return inner.PeekMessageW(a0, a1, a2, a3, a4);
  }
  BOOL TranslateMessage(const MSG* a0) override { return inner.TranslateMessage(a0); }
  LRESULT DispatchMessageW(const MSG* a0) override { return inner.DispatchMessageW(a0); }
  void PostQuitMessage(int a0) override { inner.PostQuitMessage(a0); }
  UINT RegisterWindowMessageW(LPCWSTR a0) override { return inner.RegisterWindowMessageW(a0); }
  DWORD MsgWaitForMultipleObjects(DWORD a0, const HANDLE* a1, BOOL a2, DWORD a3,
                                  DWORD a4) override {
    return inner.MsgWaitForMultipleObjects(a0, a1, a2, a3, a4);
  }
  BOOL ChangeWindowMessageFilter(UINT a0, DWORD a1) override {
    return inner.ChangeWindowMessageFilter(a0, a1);
  }
  UINT_PTR SetTimer(HWND a0, UINT_PTR a1, UINT a2, TIMERPROC a3) override {
    return inner.SetTimer(a0, a1, a2, a3);
  }
  BOOL KillTimer(HWND a0, UINT_PTR a1) override { return inner.KillTimer(a0, a1); }
  BOOL RegisterHotKey(HWND a0, int a1, UINT a2, UINT a3) override {
    return inner.RegisterHotKey(a0, a1, a2, a3);
  }
  BOOL UnregisterHotKey(HWND a0, int a1) override { return inner.UnregisterHotKey(a0, a1); }
  SHORT GetAsyncKeyState(int a0) override { return inner.GetAsyncKeyState(a0); }
  long BroadcastSystemMessageW(DWORD a0, LPDWORD a1, UINT a2, WPARAM a3, LPARAM a4) override {
    return inner.BroadcastSystemMessageW(a0, a1, a2, a3, a4);
  }
  int GetSystemMetrics(int a0) override { return inner.GetSystemMetrics(a0); }
  DWORD GetSysColor(int a0) override { return inner.GetSysColor(a0); }
  HMENU CreatePopupMenu() override { return inner.CreatePopupMenu(); }
  BOOL AppendMenuW(HMENU a0, UINT a1, UINT_PTR a2, LPCWSTR a3) override {
    return inner.AppendMenuW(a0, a1, a2, a3);
  }
  BOOL SetMenuDefaultItem(HMENU a0, UINT a1, UINT a2) override {
    return inner.SetMenuDefaultItem(a0, a1, a2);
  }
  int GetMenuItemCount(HMENU a0) override { return inner.GetMenuItemCount(a0); }
  UINT GetMenuItemID(HMENU a0, int a1) override { return inner.GetMenuItemID(a0, a1); }
  BOOL DeleteMenu(HMENU a0, UINT a1, UINT a2) override { return inner.DeleteMenu(a0, a1, a2); }
  BOOL TrackPopupMenu(HMENU a0, UINT a1, int a2, int a3, int a4, HWND a5,
                      const RECT* a6) override {
    return inner.TrackPopupMenu(a0, a1, a2, a3, a4, a5, a6);
  }
  BOOL DestroyMenu(HMENU a0) override { return inner.DestroyMenu(a0); }
  BOOL GetCursorPos(LPPOINT a0) override { return inner.GetCursorPos(a0); }
  UINT GetDoubleClickTime() override { return inner.GetDoubleClickTime(); }
  HDESK OpenInputDesktop(DWORD a0, BOOL a1, ACCESS_MASK a2) override {
    return inner.OpenInputDesktop(a0, a1, a2);
  }
  BOOL CloseDesktop(HDESK a0) override { return inner.CloseDesktop(a0); }
  BOOL SystemParametersInfoW(UINT a0, UINT a1, PVOID a2, UINT a3) override {
    return inner.SystemParametersInfoW(a0, a1, a2, a3);
  }
  BOOL LockWorkStation() override { return inner.LockWorkStation(); }
  int MessageBoxW(HWND a0, LPCWSTR a1, LPCWSTR a2, UINT a3) override {
    return inner.MessageBoxW(a0, a1, a2, a3);
  }
  INT_PTR DialogBoxParamW(HINSTANCE a0, LPCWSTR a1, HWND a2, DLGPROC a3, LPARAM a4) override {
    return inner.DialogBoxParamW(a0, a1, a2, a3, a4);
  }
  BOOL EndDialog(HWND a0, INT_PTR a1) override { return inner.EndDialog(a0, a1); }
  HWND GetDlgItem(HWND a0, int a1) override { return inner.GetDlgItem(a0, a1); }
  BOOL SetDlgItemTextW(HWND a0, int a1, LPCWSTR a2) override {
    return inner.SetDlgItemTextW(a0, a1, a2);
  }
  BOOL CheckDlgButton(HWND a0, int a1, UINT a2) override { return inner.CheckDlgButton(a0, a1, a2); }
  UINT IsDlgButtonChecked(HWND a0, int a1) override { return inner.IsDlgButtonChecked(a0, a1); }

  BOOL UpdateLayeredWindow(HWND a0, HDC a1, POINT* a2, SIZE* a3, HDC a4, POINT* a5, COLORREF a6,
                           BLENDFUNCTION* a7, DWORD a8) override {
    return inner.UpdateLayeredWindow(a0, a1, a2, a3, a4, a5, a6, a7, a8);
  }
  BOOL SetWindowPos(HWND a0, HWND a1, int a2, int a3, int a4, int a5, UINT a6) override {
    return inner.SetWindowPos(a0, a1, a2, a3, a4, a5, a6);
  }
  BOOL GetWindowRect(HWND a0, LPRECT a1) override { return inner.GetWindowRect(a0, a1); }
  BOOL ClientToScreen(HWND a0, LPPOINT a1) override { return inner.ClientToScreen(a0, a1); }
  BOOL IsWindowVisible(HWND a0) override { return inner.IsWindowVisible(a0); }
  HWND SetCapture(HWND a0) override { return inner.SetCapture(a0); }
  BOOL ReleaseCapture() override { return inner.ReleaseCapture(); }
  HWND GetCapture() override { return inner.GetCapture(); }
  HDC GetDC(HWND a0) override { return inner.GetDC(a0); }
  int ReleaseDC(HWND a0, HDC a1) override { return inner.ReleaseDC(a0, a1); }
  LRESULT CallWindowProcW(WNDPROC a0, HWND a1, UINT a2, WPARAM a3, LPARAM a4) override {
    return inner.CallWindowProcW(a0, a1, a2, a3, a4);
  }
  BOOL InitCommonControlsEx(const INITCOMMONCONTROLSEX* a0) override {
    return inner.InitCommonControlsEx(a0);
  }

 protected:
  platform::IUi& inner;
};

class ForwardingShell : public platform::IShell {
 public:
  explicit ForwardingShell(platform::IShell& to) : inner(to) {}

  BOOL ShellExecuteExW(SHELLEXECUTEINFOW* a0) override { return inner.ShellExecuteExW(a0); }
  HINSTANCE ShellExecuteW(HWND a0, LPCWSTR a1, LPCWSTR a2, LPCWSTR a3, LPCWSTR a4,
                          INT a5) override {
    return inner.ShellExecuteW(a0, a1, a2, a3, a4, a5);
  }
  int SHCreateDirectoryExW(HWND a0, LPCWSTR a1, const SECURITY_ATTRIBUTES* a2) override {
    return inner.SHCreateDirectoryExW(a0, a1, a2);
  }
  BOOL Shell_NotifyIconW(DWORD a0, PNOTIFYICONDATAW a1) override {
    return inner.Shell_NotifyIconW(a0, a1);
  }
  UINT_PTR SHAppBarMessage(DWORD a0, PAPPBARDATA a1) override {
    return inner.SHAppBarMessage(a0, a1);
  }
  HRESULT AssocQueryStringW(ASSOCF a0, ASSOCSTR a1, LPCWSTR a2, LPCWSTR a3, LPWSTR a4,
                            DWORD* a5) override {
    return inner.AssocQueryStringW(a0, a1, a2, a3, a4, a5);
  }
  HRESULT SetCurrentProcessExplicitAppUserModelID(PCWSTR a0) override {
    return inner.SetCurrentProcessExplicitAppUserModelID(a0);
  }

  HRESULT SHGetKnownFolderPath(REFKNOWNFOLDERID a0, DWORD a1, HANDLE a2, PWSTR* a3) override {
    return inner.SHGetKnownFolderPath(a0, a1, a2, a3);
  }
  BOOL PathCanonicalizeW(LPWSTR a0, LPCWSTR a1) override { return inner.PathCanonicalizeW(a0, a1); }
  HWND HtmlHelpW(HWND a0, LPCWSTR a1, UINT a2, DWORD_PTR a3) override {
    return inner.HtmlHelpW(a0, a1, a2, a3);
  }

 protected:
  platform::IShell& inner;
};

class ForwardingSessions : public platform::ISessions {
 public:
  explicit ForwardingSessions(platform::ISessions& to) : inner(to) {}
  BOOL WTSRegisterSessionNotification(HWND a0, DWORD a1) override {
    return inner.WTSRegisterSessionNotification(a0, a1);
  }
  BOOL WTSUnRegisterSessionNotification(HWND a0) override {
    return inner.WTSUnRegisterSessionNotification(a0);
  }
  BOOL ProcessIdToSessionId(DWORD a0, DWORD* a1) override {
    return inner.ProcessIdToSessionId(a0, a1);
  }
  DWORD WTSGetActiveConsoleSessionId() override { return inner.WTSGetActiveConsoleSessionId(); }
  BOOLEAN GetUserNameExW(EXTENDED_NAME_FORMAT a0, LPWSTR a1, PULONG a2) override {
    return inner.GetUserNameExW(a0, a1, a2);
  }
  BOOL WTSEnumerateSessionsW(HANDLE a0, DWORD a1, DWORD a2, PWTS_SESSION_INFOW* a3,
                             DWORD* a4) override {
    return inner.WTSEnumerateSessionsW(a0, a1, a2, a3, a4);
  }
  void WTSFreeMemory(PVOID a0) override { inner.WTSFreeMemory(a0); }
  void WTSCloseServer(HANDLE a0) override { inner.WTSCloseServer(a0); }

 protected:
  platform::ISessions& inner;
};

class ForwardingCom : public platform::ICom {
 public:
  explicit ForwardingCom(platform::ICom& to) : inner(to) {}

  HRESULT CoInitializeEx(LPVOID a0, DWORD a1) override { return inner.CoInitializeEx(a0, a1); }
  void CoUninitialize() override { inner.CoUninitialize(); }
  BSTR SysAllocString(const OLECHAR* a0) override { return inner.SysAllocString(a0); }
  void SysFreeString(BSTR a0) override { inner.SysFreeString(a0); }
  UINT SysStringLen(BSTR a0) override { return inner.SysStringLen(a0); }
  HRESULT VarDateFromStr(LPCOLESTR a0, LCID a1, ULONG a2, DATE* a3) override {
    return inner.VarDateFromStr(a0, a1, a2, a3);
  }
  HRESULT CoRegisterClassObject(REFCLSID a0, IUnknown* a1, DWORD a2, DWORD a3,
                                LPDWORD a4) override {
    return inner.CoRegisterClassObject(a0, a1, a2, a3, a4);
  }
  HRESULT CoRevokeClassObject(DWORD a0) override { return inner.CoRevokeClassObject(a0); }
  HRESULT CoCreateInstance(REFCLSID a0, IUnknown* a1, DWORD a2, REFIID a3, LPVOID* a4) override {
    return inner.CoCreateInstance(a0, a1, a2, a3, a4);
  }
  void CoTaskMemFree(LPVOID a0) override { inner.CoTaskMemFree(a0); }

 protected:
  platform::ICom& inner;
};

}  // namespace vdtest
