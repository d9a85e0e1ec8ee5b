// The hotkey: parsing the setting, registering it, and the re-registration rule.
#include "actions/hotkey.h"

#include "tests/actions/action_test_util.h"

namespace actiontest {
namespace {

struct ParseCase {
  const wchar_t* text;
  std::optional<CHotKeyCombination> expected;
};

TEST(HotKeyParse, Table) {
  using C = CHotKeyCombination;
  const ParseCase cases[] = {
      {L"Ctrl+Win+72", C{MOD_CONTROL | MOD_WIN, 'H'}},
      {L"Ctrl+Alt+L", C{MOD_CONTROL | MOD_ALT, 'L'}},
      {L"ctrl+alt+l", C{MOD_CONTROL | MOD_ALT, 'L'}},  // a lower-case letter is its key
      {L"SHIFT+win+7", C{MOD_SHIFT | MOD_WIN, '7'}},   // a digit is its own key, not code 7
      {L"Alt+0", C{MOD_ALT, '0'}},
      {L"Ctrl+1", C{MOD_CONTROL, '1'}},
      {L"Ctrl+254", C{MOD_CONTROL, 254}},
      {L"Ctrl+A+B", C{MOD_CONTROL, 'B'}},  // the last key wins
      {L"Ctrl + K", C{MOD_CONTROL, 'K'}},
      {L"Ctrl+F5", std::nullopt},  // a key name: not a key this setting knows
      {L"F5", std::nullopt},
      {L"Ctrl+Alt", std::nullopt},  // no key
      {L"H", std::nullopt},         // no modifier
      {L"72", std::nullopt},
      {L"Ctrl+255", std::nullopt},
      {L"Ctrl+0000072", std::nullopt},
      {L"Ctrl+00", std::nullopt},
      {L"Ctrl+-5", std::nullopt},
      {L"Ctrl+/", std::nullopt},
      {L"Ctrl+", std::nullopt},
      {L"Ctrl++H", std::nullopt},
      {L"+", std::nullopt},
      {L"", std::nullopt},
      {L"Ctrl+\u00e9", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(c.text)));
    const auto got = ParseHotKey(c.text);
    ASSERT_EQ(got.has_value(), c.expected.has_value());
    if (got) {
      EXPECT_EQ(got->modifiers, c.expected->modifiers);
      EXPECT_EQ(got->vk, c.expected->vk);
    }
  }
}

class HotKeyRegisterTest : public ActionsTest {
 protected:
  void SetHotKey(const wchar_t* text) {
    Reg().SetString(Apps() + L"KwAppSettings", L"OpenSecurityManager", text);
  }
  HWND hwnd = reinterpret_cast<HWND>(0x1234);
};

TEST_F(HotKeyRegisterTest, TheDefaultRegistersCtrlWinH) {
  CReadHotKey hk(run->agent);
  hk.Register(hwnd);
  ASSERT_EQ(Desk().ui.hotkeys, (std::vector<HotKeyCall>{{true, 1, MOD_CONTROL | MOD_WIN, 'H'}}));
  EXPECT_TRUE(Logged("HotKey (Ctrl+Win+72) registered."));
  hk.Unregister();
  hk.Unregister();
  EXPECT_EQ(Desk().ui.hotkeys.size(), 2u) << "unregistered once";
}

TEST_F(HotKeyRegisterTest, RefusalsAndTheReregistrationRule) {
  CReadHotKey hk(run->agent);
  SetHotKey(L"Ctrl+F5");
  hk.Register(hwnd);
  EXPECT_TRUE(Logged("Failed to parseHotkey: Ctrl+F5."));
  EXPECT_TRUE(Desk().ui.hotkeys.empty());

  // After a failed parse nothing is unregistered first.
  SetHotKey(L"Ctrl+Alt+L");
  hk.Reregister(hwnd);
  ASSERT_EQ(Desk().ui.hotkeys, (std::vector<HotKeyCall>{{true, 1, MOD_CONTROL | MOD_ALT, 'L'}}));

  // After a successful one the old combination goes first.
  SetHotKey(L"");
  hk.Reregister(hwnd);
  EXPECT_EQ(Desk().ui.hotkeys,
            (std::vector<HotKeyCall>{{true, 1, MOD_CONTROL | MOD_ALT, 'L'}, {false, 1, 0, 0}}));
  EXPECT_TRUE(Logged("No hotkey combination"));
  EXPECT_FALSE(hk.IsRegistered());
}

TEST_F(HotKeyRegisterTest, ATakenCombinationIsReportedAndNotUnregistered) {
  Desk().ui.registerSucceeds = FALSE;
  CReadHotKey hk(run->agent);
  hk.Register(hwnd);
  EXPECT_TRUE(Logged("HotKey (Ctrl+Win+72) not registered."));
  hk.Unregister();
  EXPECT_EQ(Desk().ui.hotkeys.size(), 1u);
}

TEST_F(HotKeyRegisterTest, HotkeyMessages) {
  EXPECT_FALSE(Actions().AcceptHotKey(2));
  EXPECT_TRUE(Logged("Invalid hotkey ID: 2."));
  EXPECT_TRUE(Actions().AcceptHotKey(1));
  ASSERT_TRUE(Actions().StartAction(CCredential(), Alice()));
  EXPECT_FALSE(Actions().AcceptHotKey(1));
  EXPECT_TRUE(Logged("Action in progress or disallowed, ignored"));
}

}  // namespace
}  // namespace actiontest
