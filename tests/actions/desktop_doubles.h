// Test doubles of the desktop pieces the quick actions read: the modifier keys held, the
// screen saver, hotkey registrations, the workstation lock and session disconnects. Every
// other call goes on to the simulated machine.
//
//   DesktopPlatform desk(*process);            // wraps a sim::Process
//   desk.ui.keysDown = {VK_CONTROL};
//   core::CAgentProcess agent(desk, nullptr);
#pragma once

#include <set>
#include <vector>

#include "platform/platform.h"

namespace actiontest {

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
  long BroadcastSystemMessageW(DWORD a0, LPDWORD a1, UINT a2, WPARAM a3, LPARAM a4) override {
    return inner.BroadcastSystemMessageW(a0, a1, a2, a3, a4);
  }
  int GetSystemMetrics(int a0) override { return inner.GetSystemMetrics(a0); }
  int MessageBoxW(HWND a0, LPCWSTR a1, LPCWSTR a2, UINT a3) override {
    return inner.MessageBoxW(a0, a1, a2, a3);
  }

  platform::IUi& inner;
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

  platform::ISessions& inner;
};

struct HotKeyCall {
  bool registering;
  int id;
  UINT modifiers;
  UINT vk;
  bool operator==(const HotKeyCall&) const = default;
};

class DesktopUi final : public ForwardingUi {
 public:
  using ForwardingUi::ForwardingUi;
  SHORT GetAsyncKeyState(int vk) override {
    return keysDown.count(vk) ? static_cast<SHORT>(0x8000) : 0;
  }
  BOOL SystemParametersInfoW(UINT action, UINT, PVOID pv, UINT) override {
    if (action != SPI_GETSCREENSAVERRUNNING || !pv) return FALSE;
    *static_cast<BOOL*>(pv) = screenSaverRunning;
    return TRUE;
  }
  BOOL RegisterHotKey(HWND, int id, UINT modifiers, UINT vk) override {
    hotkeys.push_back({true, id, modifiers, vk});
    return registerSucceeds;
  }
  BOOL UnregisterHotKey(HWND, int id) override {
    hotkeys.push_back({false, id, 0, 0});
    return TRUE;
  }
  BOOL LockWorkStation() override {
    ++locks;
    return TRUE;
  }

  std::set<int> keysDown;
  BOOL screenSaverRunning = FALSE;
  BOOL registerSucceeds = TRUE;
  std::vector<HotKeyCall> hotkeys;
  int locks = 0;
};

class DesktopSessions final : public ForwardingSessions {
 public:
  using ForwardingSessions::ForwardingSessions;
  BOOL WTSDisconnectSession(HANDLE, DWORD, BOOL) override {
    ++disconnects;
    return disconnectSucceeds;
  }
  int disconnects = 0;
  BOOL disconnectSucceeds = TRUE;
};

class DesktopPlatform final : public platform::IPlatform {
 public:
  explicit DesktopPlatform(platform::IPlatform& to)
      : ui(to.Ui()), sessions(to.Sessions()), m_inner(to) {}
  platform::IRegistry& Registry() override { return m_inner.Registry(); }
  platform::IKernel& Kernel() override { return m_inner.Kernel(); }
  platform::IUi& Ui() override { return ui; }
  platform::ISessions& Sessions() override { return sessions; }
  platform::ICom& Com() override { return m_inner.Com(); }
  platform::IModules& Modules() override { return m_inner.Modules(); }
  platform::IShell& Shell() override { return m_inner.Shell(); }
  platform::ICrypt& Crypt() override { return m_inner.Crypt(); }

  DesktopUi ui;
  DesktopSessions sessions;

 private:
  platform::IPlatform& m_inner;
};

}  // namespace actiontest
