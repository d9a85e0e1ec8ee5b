// The one quick action that runs at a time: who started it, with which credential and
// modifier keys, which action was chosen and the authentication handle it carries.
//
//   if (!CanStartAction(ctx, NowSeconds(kernel))) return false;   // one per 60 seconds
//   ctx.Init(process);                       // new sequence number, start time now
//   ...
//   ctx.Reset(api, seq);                     // only the run numbered `seq` is cleared
//
// Handle ownership: a handle the context owns is destroyed by Init, Reset and Dispose unless
// it was delivered to the password manager ("handed over"); a delivered one is never
// destroyed here. Everything runs on the main window's thread.
#pragma once

#include <string>

#include "auth/credential.h"
#include "auth/user.h"
#include "core/agent_process.h"
#include "platform/platform.h"
#include "support/vdfp/vdfp_api.h"

namespace QUICKACTIONS {
enum QuickAction : DWORD {
  None = 0,
  KwI = 1,
  FastConnect = 2,
  LockWorkstation = 3,
  FastSwitch = 4,
};
}  // namespace QUICKACTIONS

// The modifier keys held at a reader event.
class CKbdState {
 public:
  static constexpr DWORD kCtrl = 0x3;
  static constexpr DWORD kShift = 0x0C;
  static constexpr DWORD kAlt = 0x30;
  static constexpr DWORD kWin = 0xC0;

  // The modifier keys down now (the high bit of GetAsyncKeyState).
  static DWORD Capture(platform::IUi& ui);
  // "NONE", or the groups present as "CTRL", "SHIFT", "ALT", "WIN" joined with "+".
  static std::wstring ToString(DWORD mask);

  DWORD Mask() const { return m_mask; }
  void Set(DWORD mask) { m_mask = mask; }
  // Traced as "CKbdState::Reset".
  void Reset();

 private:
  DWORD m_mask = 0;
};

// Seconds since 1970 on the platform's clock.
LONGLONG NowSeconds(platform::IKernel& kernel);

struct ActionContext {
  DWORD sequence = 0;
  // 0 when no action runs.
  LONGLONG startTime = 0;
  CCredential info;
  CUser user;
  CKbdState keyboard;
  DWORD quickAction = QUICKACTIONS::None;
  HVDFPAUTHENTICATION hAuth = nullptr;
  bool ownsHandle = false;
  bool handedOver = false;

  // Starts a run: the next process-wide sequence number, the previous owned handle
  // destroyed (unless delivered), everything cleared, start time now.
  void Init(core::CAgentProcess& process);
  // Clears the run numbered `seq`; another number logs "The action is past due, skipped."
  void Reset(CVDFPApi& api, DWORD seq);
  // Takes `h` in place of the current handle (an undelivered owned one is destroyed first).
  void SetHandle(CVDFPApi& api, HVDFPAUTHENTICATION h, bool owns);
  // Gives back an undelivered owned handle; what stays is a handle nobody here destroys.
  void ReleaseHandle(CVDFPApi& api);
};

// True when no action runs or the running one started more than 60 seconds before `now`.
// A start in the future (the clock went back) refuses.
bool CanStartAction(const ActionContext& ctx, LONGLONG now);
