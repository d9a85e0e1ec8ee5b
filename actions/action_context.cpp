#include "actions/action_context.h"

#include "support/trace/trace.h"

DWORD CKbdState::Capture(platform::IUi& ui) {
  auto down = [&](int vk) { return (static_cast<WORD>(ui.GetAsyncKeyState(vk)) & 0x8000) != 0; };
  DWORD mask = 0;
  if (down(VK_CONTROL)) mask |= kCtrl;
  if (down(VK_SHIFT)) mask |= kShift;
  if (down(VK_MENU)) mask |= kAlt;
  if (down(VK_LWIN) || down(VK_RWIN)) mask |= kWin;
  return mask;
}

std::wstring CKbdState::ToString(DWORD mask) {
  if (mask == 0) return L"NONE";
  std::wstring out;
  auto add = [&](DWORD bits, const wchar_t* word) {
    if (!(mask & bits)) return;
    if (!out.empty()) out += L"+";
    out += word;
  };
  add(kCtrl, L"CTRL");
  add(kShift, L"SHIFT");
  add(kAlt, L"ALT");
  add(kWin, L"WIN");
  return out;
}

void CKbdState::Reset() {
  VDTraceNS::CScope ts("CKbdState::Reset");
  m_mask = 0;
}

LONGLONG NowSeconds(platform::IKernel& kernel) {
  FILETIME ft{};
  kernel.GetSystemTimeAsFileTime(&ft);
  const ULONGLONG ticks = (static_cast<ULONGLONG>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
  // 100 ns ticks since 1601 to seconds since 1970.
  return static_cast<LONGLONG>(ticks / 10000000ULL) - 11644473600LL;
}

bool CanStartAction(const ActionContext& ctx, LONGLONG now) {
  if (ctx.startTime == 0) return true;
  if (now < ctx.startTime) return false;  // the clock went back: wait for a reset
  return now - ctx.startTime > 60;
}

void ActionContext::ReleaseHandle(CVDFPApi& api) {
  if (hAuth && ownsHandle && !handedOver) api.VDFPDestroyAuthentication(hAuth);
  hAuth = nullptr;
  ownsHandle = false;
  handedOver = false;
}

void ActionContext::SetHandle(CVDFPApi& api, HVDFPAUTHENTICATION h, bool owns) {
  ReleaseHandle(api);
  hAuth = h;
  ownsHandle = h != nullptr && owns;
}

void ActionContext::Init(core::CAgentProcess& process) {
  sequence = ++process.ActionSequence;
  ReleaseHandle(process.AuthLibrary());
  keyboard.Reset();
  info = CCredential();
  user = CUser();
  quickAction = QUICKACTIONS::None;
  startTime = NowSeconds(process.Platform().Kernel());
}

void ActionContext::Reset(CVDFPApi& api, DWORD seq) {
  if (seq != sequence) {
    VDTraceNS::CScope ts("ActionContext::Reset");
    ts.Msg("The action is past due, skipped.");
    return;
  }
  info = CCredential();
  keyboard.Reset();
  quickAction = QUICKACTIONS::None;
  // A handle the password manager took is its own now; one it never got goes back here.
  ReleaseHandle(api);
  startTime = 0;
}
