// Choosing the quick action: modifier rows, the policy status, the user's choice, the
// password manager's priority and its absence, checked on the selection's log lines.
#include "actions/quick_action_select.h"

#include "tests/actions/action_test_util.h"

namespace actiontest {
namespace {

struct SelectCase {
  const char* name;
  ULONGLONG credential;
  DWORD keys;
  std::optional<DWORD> status;  // "QA_<row>" policy status of the row used
  const wchar_t* policyAction;  // the row's policy action value, null: absent
  const wchar_t* userAction;    // the row's user value, null: absent
  bool pmInstalled;
  DWORD expected;
  std::vector<std::string> lines;
};

class SelectTest : public ActionsTest {
 protected:
  static const wchar_t* RowName(DWORD keys) {
    return keys == CKbdState::kCtrl    ? L"F+Ctrl"
           : keys == CKbdState::kShift ? L"F+Shift"
                                       : L"Finger";
  }
  DWORD Select(const SelectCase& c) {
    const DWORD row = c.credential == 0 ? 0 : c.keys;
    if (c.status)
      Reg().SetDword(Policies() + L"\\QuickActions", std::wstring(L"QA_") + RowName(row),
                     *c.status);
    if (c.policyAction)
      Reg().SetString(Policies() + L"\\QuickActions", RowName(row), c.policyAction);
    if (c.userAction)
      Reg().SetString(Apps() + L"KwAppSettings\\QuickActions", RowName(row), c.userAction);
    Host().pmInstalled = c.pmInstalled;
    ActionContext ctx;
    ctx.info = CCredential(c.credential, 0, 0);
    ctx.keyboard.Set(c.keys);
    return QUICKACTIONS::getQuickAction(run->agent, Host(), ctx);
  }
};

TEST_F(SelectTest, Matrix) {
  // clang-format off
  // name; credential, keys, status, policy's action, user's action, PM installed, expected; lines
  const SelectCase cases[] = {
      {"nothing configured: KwI",
       VDFP_CRED_FINGERPRINT, 0, {}, nullptr, nullptr, true, 1,
       {"Keyboard state  = NONE ", "Hotkey used     = No", "Status          = Not Configured",
        "Action policy   = KwI", "QuickAction     = 1[KwI]"}},
      {"nothing configured, no password manager: None",
       VDFP_CRED_FINGERPRINT, 0, {}, nullptr, nullptr, false, 0,
       {"QuickAction     = 1[KwI]", "No PM installed, falling to 0[None]"}},
      {"Ctrl uses the F+Ctrl row",
       VDFP_CRED_FINGERPRINT, CKbdState::kCtrl, {}, nullptr, L"LockWorkstation", true, 3,
       {"Keyboard state  = CTRL ", "Action policy   = LockWorkstation",
        "QuickAction     = 3[LockWorkstation]"}},
      {"Ctrl row empty by default",
       VDFP_CRED_FINGERPRINT, CKbdState::kCtrl, {}, nullptr, nullptr, true, 0,
       {"Action policy   = ", "QuickAction     = 0[None]"}},
      {"a card with Shift uses the F+Shift row",
       VDFP_CRED_CONTACTLESS, CKbdState::kShift, {}, nullptr, L"fastconnect", true, 2,
       {"Keyboard state  = SHIFT ", "QuickAction     = 2[FastConnect]"}},
      {"Alt is invalid",
       VDFP_CRED_FINGERPRINT, CKbdState::kAlt, {}, nullptr, L"FastSwitch", true, 0,
       {"Keyboard state  = ALT - INVALID!"}},
      {"Ctrl with Shift is invalid",
       VDFP_CRED_FINGERPRINT, CKbdState::kCtrl | CKbdState::kShift, {}, nullptr, nullptr, true, 0,
       {"Keyboard state  = CTRL+SHIFT - INVALID!"}},
      {"the hotkey ignores held modifiers",
       0, CKbdState::kCtrl | CKbdState::kAlt, {}, nullptr, L"FastSwitch", true, 4,
       {"Keyboard state  = NONE ", "Hotkey used     = Yes", "QuickAction     = 4[FastSwitch]"}},
      {"policy enabled: the policy's action over the user's",
       VDFP_CRED_FINGERPRINT, 0, 1, L"fastSWITCH", L"LockWorkstation", true, 4,
       {"Status          = Enabled", "Action policy   = fastSWITCH",
        "QuickAction     = 4[FastSwitch]"}},
      {"policy disabled without an action: None",
       VDFP_CRED_FINGERPRINT, 0, 0, nullptr, L"LockWorkstation", true, 0,
       {"Status          = Disabled", "QuickAction     = 0[None]"}},
      {"a status above 2 reads as not configured",
       VDFP_CRED_FINGERPRINT, 0, 7, L"FastConnect", L"LockWorkstation", true, 3,
       {"Status          = Not Configured", "QuickAction     = 3[LockWorkstation]"}},
      {"an unknown name is None",
       VDFP_CRED_FINGERPRINT, 0, {}, nullptr, L"Lock", true, 0,
       {"Action policy   = Lock", "QuickAction     = 0[None]"}},
      {"KwI by policy without a password manager",
       VDFP_CRED_SMARTCARD, 0, 1, L"KwI", nullptr, false, 0,
       {"No PM installed, falling to 0[None]"}},
  };
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    // A fresh HKCU for every case.
    Reg().DeleteKey(Policies() + L"\\QuickActions");
    Reg().DeleteKey(Apps() + L"KwAppSettings\\QuickActions");
    sink.Clear();
    EXPECT_EQ(Select(c), c.expected);
    for (const auto& line : c.lines) EXPECT_TRUE(Logged(line)) << line;
  }
}

TEST_F(SelectTest, AnInvalidStateIsTracedAsNotSupported) {
  ActionContext ctx;
  ctx.info = CCredential(VDFP_CRED_FINGERPRINT, 0, -1);
  ctx.keyboard.Set(CKbdState::kWin);
  EXPECT_EQ(QUICKACTIONS::getQuickAction(run->agent, Host(), ctx), 0u);
  EXPECT_TRUE(sink.Contains('E', "-2147024846 Invalid keyboard state"));
  EXPECT_FALSE(Logged("Status          = Not Configured")) << "no settings are read";
}

// Names in any case and each action's name are in the matrix above; these are the edges.
TEST(QuickActionNames, EmptyPaddedAndOutOfRange) {
  EXPECT_EQ(QUICKACTIONS::FromName(L""), 0u);
  EXPECT_EQ(QUICKACTIONS::FromName(L"KwI "), 0u);
  EXPECT_STREQ(QUICKACTIONS::NameOf(5), L"");
}

}  // namespace
}  // namespace actiontest
