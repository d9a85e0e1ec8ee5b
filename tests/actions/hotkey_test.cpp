// The hotkey: parsing the setting, registering it, and the re-registration rule.
#include "actions/hotkey.h"

#include "tests/actions/action_test_util.h"

namespace actiontest {
namespace {

TEST(HotKeyParse, Table) {
  using C = CHotKeyCombination;
  const std::pair<const wchar_t*, C> accepted[] = {
      {L"Ctrl+Win+72", C{MOD_CONTROL | MOD_WIN, 'H'}},
      {L"Ctrl+Alt+L", C{MOD_CONTROL | MOD_ALT, 'L'}},
      {L"ctrl+alt+l", C{MOD_CONTROL | MOD_ALT, 'L'}},  // a lower-case letter is its key
      {L"SHIFT+win+7", C{MOD_SHIFT | MOD_WIN, '7'}},   // a digit is its own key, not code 7
      {L"Alt+0", C{MOD_ALT, '0'}},
      {L"Ctrl+1", C{MOD_CONTROL, '1'}},
      {L"Ctrl+254", C{MOD_CONTROL, 254}},
      {L"Ctrl+A+B", C{MOD_CONTROL, 'B'}},  // the last key wins
      {L"Ctrl + K", C{MOD_CONTROL, 'K'}},
  };
  for (const auto& [text, expected] : accepted) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(text)));
    const auto got = ParseHotKey(text);
    ASSERT_TRUE(got.has_value());
    EXPECT_EQ(got->modifiers, expected.modifiers);
    EXPECT_EQ(got->vk, expected.vk);
  }
  // A key name, no key, no modifier, codes out of range or not plain decimal, stray signs.
  for (const wchar_t* text :
       {L"Ctrl+F5", L"F5", L"Ctrl+Alt", L"H", L"72", L"Ctrl+255", L"Ctrl+0000072", L"Ctrl+00",
        L"Ctrl+-5", L"Ctrl+/", L"Ctrl+", L"Ctrl++H", L"+", L"", L"Ctrl+\u00e9"})
    EXPECT_FALSE(ParseHotKey(text).has_value()) << testing::PrintToString(std::wstring(text));
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

}  // namespace
}  // namespace actiontest
