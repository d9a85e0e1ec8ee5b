// Test doubles of the desktop pieces the quick actions read: the modifier keys held, the
// screen saver, hotkey registrations, the workstation lock, the input desktop, the console
// session and session disconnects. Every other call goes on to the simulated machine.
//
//   DesktopPlatform desk(*process);            // wraps a sim::Process
//   desk.ui.keysDown = {VK_CONTROL};
//   core::CAgentProcess agent(desk, nullptr);
#pragma once

#include <optional>
#include <set>
#include <vector>

#include "platform/platform.h"
#include "platform/sim/process.h"
#include "tests/testing/forwarding_platform.h"

namespace actiontest {

using vdtest::ForwardingSessions;
using vdtest::ForwardingUi;

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
    if (lockError) {
      sim::CurrentProcess()->Kernel().SetLastError(lockError);
      return FALSE;
    }
    return TRUE;
  }
  HDESK OpenInputDesktop(DWORD, BOOL, ACCESS_MASK access) override {
    desktopAccess = access;
    if (!inputDesktop) return nullptr;
    ++openDesktops;
    return reinterpret_cast<HDESK>(0x4D0);
  }
  BOOL CloseDesktop(HDESK h) override {
    if (h == reinterpret_cast<HDESK>(0x4D0)) --openDesktops;
    return TRUE;
  }

  std::set<int> keysDown;
  BOOL screenSaverRunning = FALSE;
  BOOL registerSucceeds = TRUE;
  std::vector<HotKeyCall> hotkeys;
  int locks = 0;
  DWORD lockError = 0;  // LockWorkStation fails with it
  // The input desktop can be opened (a locked or secure desktop cannot).
  bool inputDesktop = true;
  int openDesktops = 0;
  ACCESS_MASK desktopAccess = 0;
};

class DesktopSessions final : public ForwardingSessions {
 public:
  using ForwardingSessions::ForwardingSessions;
  BOOL WTSDisconnectSession(HANDLE, DWORD, BOOL) override {
    ++disconnects;
    return disconnectSucceeds;
  }
  DWORD WTSGetActiveConsoleSessionId() override {
    return consoleSession ? *consoleSession : ForwardingSessions::WTSGetActiveConsoleSessionId();
  }
  int disconnects = 0;
  BOOL disconnectSucceeds = TRUE;
  std::optional<DWORD> consoleSession;  // none: the machine's
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
  platform::IGdi& Gdi() override { return m_inner.Gdi(); }

  DesktopUi ui;
  DesktopSessions sessions;

 private:
  platform::IPlatform& m_inner;
};

}  // namespace actiontest
