// Placeholder until the simulated IUi lands: every operation fails.
#pragma once
#pragma GCC diagnostic ignored "-Wunused-parameter"

#include "platform/ui.h"
#include "platform/sim/process.h"

namespace sim {

class ProcessUi : public platform::IUi {
 public:
  explicit ProcessUi(Process& p) : m_process(p) {}
  ATOM RegisterClassExW(const WNDCLASSEXW* lpwcx) override { return {}; }
  BOOL UnregisterClassW(LPCWSTR lpClassName, HINSTANCE hInstance) override { return {}; }
  HWND CreateWindowExW(DWORD dwExStyle, LPCWSTR lpClassName, LPCWSTR lpWindowName, DWORD dwStyle, int X, int Y, int nWidth, int nHeight, HWND hWndParent, HMENU hMenu, HINSTANCE hInstance, LPVOID lpParam) override { return {}; }
  BOOL DestroyWindow(HWND hWnd) override { return {}; }
  BOOL IsWindow(HWND hWnd) override { return {}; }
  LRESULT DefWindowProcW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) override { return {}; }
  LONG_PTR GetWindowLongPtrW(HWND hWnd, int nIndex) override { return {}; }
  LONG_PTR SetWindowLongPtrW(HWND hWnd, int nIndex, LONG_PTR dwNewLong) override { return {}; }
  BOOL ShowWindow(HWND hWnd, int nCmdShow) override { return {}; }
  HWND FindWindowW(LPCWSTR lpClassName, LPCWSTR lpWindowName) override { return {}; }
  BOOL SetForegroundWindow(HWND hWnd) override { return {}; }
  HWND GetForegroundWindow() override { return {}; }
  HWND SetFocus(HWND hWnd) override { return {}; }
  DWORD GetWindowThreadProcessId(HWND hWnd, LPDWORD lpdwProcessId) override { return {}; }
  HCURSOR LoadCursorW(HINSTANCE hInstance, LPCWSTR lpCursorName) override { return {}; }
  BOOL PostMessageW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) override { return {}; }
  BOOL PostThreadMessageW(DWORD idThread, UINT Msg, WPARAM wParam, LPARAM lParam) override { return {}; }
  LRESULT SendMessageW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) override { return {}; }
  LRESULT SendMessageTimeoutW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam, UINT fuFlags, UINT uTimeout, PDWORD_PTR lpdwResult) override { return {}; }
  BOOL GetMessageW(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax) override { return {}; }
  BOOL PeekMessageW(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax, UINT wRemoveMsg) override { return {}; }
  BOOL TranslateMessage(const MSG* lpMsg) override { return {}; }
  LRESULT DispatchMessageW(const MSG* lpMsg) override { return {}; }
  void PostQuitMessage(int nExitCode) override {}
  UINT RegisterWindowMessageW(LPCWSTR lpString) override { return {}; }
  BOOL ChangeWindowMessageFilter(UINT message, DWORD dwFlag) override { return {}; }
  UINT_PTR SetTimer(HWND hWnd, UINT_PTR nIDEvent, UINT uElapse, TIMERPROC lpTimerFunc) override { return {}; }
  BOOL KillTimer(HWND hWnd, UINT_PTR uIDEvent) override { return {}; }
  int GetSystemMetrics(int nIndex) override { return {}; }
  BOOL LockWorkStation() override { return {}; }

 private:
  [[maybe_unused]] Process& m_process;
};

}  // namespace sim
