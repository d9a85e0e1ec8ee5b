#include "actions/quick_action_select.h"

#include <cwctype>
#include <string>

#include "support/result_error.h"
#include "support/settings/settings_names.h"
#include "support/settings/settings_section.h"
#include "support/trace/trace.h"

namespace QUICKACTIONS {

namespace {

constexpr const wchar_t* kNames[] = {L"None", L"KwI", L"FastConnect", L"LockWorkstation",
                                     L"FastSwitch"};
constexpr HRESULT kNotSupported = static_cast<HRESULT>(0x80070032L);  // ERROR_NOT_SUPPORTED

struct Row {
  const wchar_t* statusName;
  const wchar_t* policyActionName;
  const wchar_t* userActionName;
  const wchar_t* userDefault;
};

const wchar_t* StatusWord(DWORD status) {
  switch (status) {
    case 0:
      return L"Disabled";
    case 1:
      return L"Enabled";
    case 2:
      return L"Not Configured";
    default:
      return L"";
  }
}

bool EqualNoCase(std::wstring_view a, std::wstring_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::towupper(a[i]) != std::towupper(b[i])) return false;
  return true;
}

}  // namespace

const wchar_t* NameOf(DWORD action) { return action < std::size(kNames) ? kNames[action] : L""; }

DWORD FromName(std::wstring_view name) {
  for (DWORD i = 0; i < std::size(kNames); ++i)
    if (EqualNoCase(name, kNames[i])) return i;
  return None;
}

DWORD getQuickAction(core::CAgentProcess& process, IActionHost& host, const ActionContext& ctx) {
  VDTraceNS::CScope ts("QUICKACTIONS::getQuickAction");
  namespace Kw = SettingNames::KwAppSettings;
  namespace Pol = SettingNames::Policies;

  const bool hotkey = ctx.info.Type() == 0;
  const DWORD state = hotkey ? 0 : ctx.keyboard.Mask();
  const Row* row = nullptr;
  static constexpr Row kFinger{Pol::kQaFingerStatus, Pol::kQaFingerAction, Kw::kQuickActionFinger,
                               L"KwI"};
  static constexpr Row kCtrl{Pol::kQaCtrlStatus, Pol::kQaCtrlAction, Kw::kQuickActionCtrl, L""};
  static constexpr Row kShift{Pol::kQaShiftStatus, Pol::kQaShiftAction, Kw::kQuickActionShift, L""};
  if (state == 0) row = &kFinger;
  if (state == CKbdState::kCtrl) row = &kCtrl;
  if (state == CKbdState::kShift) row = &kShift;
  ts.Msg(L"Keyboard state  = %ls %ls", CKbdState::ToString(state).c_str(),
         row ? L"" : L"- INVALID!");
  if (!row) {
    ts.Result("Invalid keyboard state", kNotSupported);
    return None;
  }

  platform::IPlatform& plat = process.Platform();
  CSettingsSection policy(plat, Pol::kQuickActionsSection);
  DWORD status = 2;
  ThrowIfFailed(policy.GetDword(row->statusName, status));
  if (status > 2) {
    // Only three states exist; anything else is an administrator's typo, read as unset.
    ts.Msg(L"Unknown policy status %u for %ls, read as Not Configured", status, row->statusName);
    status = 2;
  }
  std::wstring name;
  if (status == 2) {
    CSettingsSection user(plat, Kw::kQuickActionsSection);
    name = row->userDefault;
    ThrowIfFailed(user.GetString(row->userActionName, name));
  } else {
    ThrowIfFailed(policy.GetString(row->policyActionName, name));
  }
  DWORD action = FromName(name);

  ts.Msg(L"Hotkey used     = %ls", hotkey ? L"Yes" : L"No");
  ts.Msg(L"Status          = %ls", StatusWord(status));
  ts.Msg(L"Action policy   = %ls", name.c_str());
  ts.Msg(L"QuickAction     = %d[%ls]", static_cast<int>(action), NameOf(action));
  if (action == KwI && !host.IsPasswordManagerInstalled()) {
    action = None;
    ts.Msg(L"No PM installed, falling to %d[%ls]", static_cast<int>(action), NameOf(action));
  }
  return action;
}

}  // namespace QUICKACTIONS
