// The settings store when the registry fails it: an HKCU that cannot be written, and an
// exception raised inside a read.
#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/result_error.h"
#include "support/settings/settings_section.h"
#include "tests/support/faulty_registry.h"
#include "tests/support/settings_test_util.h"

namespace {

using settingstest::FaultyPlatform;
using settingstest::SimSettingsTest;
namespace Kw = SettingNames::KwAppSettings;

class SettingsFaultTest : public SimSettingsTest {
 protected:
  // Every kind of write the store offers, through the writer and through a section.
  static void WriteEverything(CKwAppSettings& kw) {
    CUserSettingsPut& put = kw.Writer();
    put.SetBool(L"SoundFeedback", true);
    put.SetDword(L"LogonCount", 4);
    put.SetString(L"NaggingPeriodTimestamp", L"2026-03-02");
    put.SetLastLogonPolicyTokens(0x0102030405060708ull);
    kw.SetBool(L"SoundFeedback", false);
    kw.SetDword(L"LogonCount", 5);
    kw.SetString(L"NaggingPeriodTimestamp", L"2026-03-03");
    kw.Set(Kw::kShowTaskbarIcon, false);
    kw.Set(Kw::kOpenSecurityManager, L"Ctrl+Alt+K");
    kw.SetOOBEPassed();
    kw.SetLastLogonPolicyTokens(0x11);
  }

  FaultyPlatform plat{Agent()};
};

// ---- An HKCU that cannot be written --------------------------------------------------------

TEST_F(SettingsFaultTest, AMissingKeyThatCannotBeCreatedMakesEverySetterANoOp) {
  plat.Reg().refuseHkcuWrites = true;
  CKwAppSettings kw(plat);
  EXPECT_EQ(kw.Writer().Status(), HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED));
  EXPECT_FALSE(kw.IsWritable());
  WriteEverything(kw);
  EXPECT_EQ(plat.Reg().setValueCalls, 0u);
  EXPECT_FALSE(Reg().KeyExists(HkcuSection()));
  // Nor does a refused user key send the values to the machine's keys.
  EXPECT_FALSE(Reg().KeyExists(HklmSection()));
  EXPECT_FALSE(Reg().KeyExists(Hklm32Section()));
}

TEST_F(SettingsFaultTest, AnExistingKeyThatCannotBeOpenedForWritingKeepsItsValues) {
  Reg().SetDword(HkcuSection(), L"LogonCount", 3);
  plat.Reg().refuseHkcuWrites = true;
  CKwAppSettings kw(plat);
  EXPECT_EQ(kw.Writer().Status(), HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED));
  EXPECT_FALSE(kw.Writer().IsWritable());
  WriteEverything(kw);
  EXPECT_EQ(plat.Reg().setValueCalls, 0u);
  EXPECT_EQ(Reg().ValueNames(HkcuSection()), (std::vector<std::wstring>{L"LogonCount"}));
  // Reading needs no write access: the user's own value still answers.
  DWORD count = 0;
  EXPECT_EQ(kw.GetDword(L"LogonCount", count), S_OK);
  EXPECT_EQ(count, 3u);
}

TEST_F(SettingsFaultTest, TheSameWritesLandWhenHkcuIsWritable) {
  // The counterpart of the two above: the refusal, not the writes, made them no-ops.
  CKwAppSettings kw(plat);
  EXPECT_EQ(kw.Writer().Status(), S_OK);
  WriteEverything(kw);
  EXPECT_EQ(plat.Reg().setValueCalls, 11u);
  EXPECT_EQ(Reg().GetDword(HkcuSection(), L"LogonCount"), 5u);
  EXPECT_EQ(Reg().GetDword(HkcuSection(), L"OOBEPassed"), 1u);
}

// ---- An exception inside a read ------------------------------------------------------------

TEST_F(SettingsFaultTest, AResultErrorInsideAReadIsReportedAndTheTableGettersRaiseIt) {
  const HRESULT failure = HRESULT_FROM_WIN32(ERROR_KEY_DELETED);
  // The key exists, so the read reaches a value query.
  Reg().SetDword(HkcuSection(), L"Unrelated", 1);
  // A string the library handed out must go back to it although the read did not end.
  LibraryString(L"OpenSecurityManager", S_FALSE, L"Ctrl+Win+P");
  plat.Reg().beforeQuery = [failure] { throw CResultError(failure); };

  CKwAppSettings kw(plat);
  DWORD count = 7;
  EXPECT_EQ(kw.GetDword(L"LogonCount", count), failure);
  EXPECT_EQ(count, 7u) << "a failed read keeps the caller's value";
  std::wstring hotkey = L"x";
  EXPECT_EQ(kw.GetString(L"OpenSecurityManager", hotkey), failure);
  EXPECT_EQ(hotkey, L"x");
  bool sound = true;
  EXPECT_EQ(kw.GetBool(L"SoundFeedback", sound), failure);
  EXPECT_TRUE(sound);
  ULONGLONG tokens = 9;
  EXPECT_EQ(kw.Reader().GetLastLogonPolicyTokens(tokens), failure);
  EXPECT_EQ(tokens, 9u);
  EXPECT_EQ(Host().Buffers().Outstanding(), 0u);

  // The table getters and the fixed accessors raise the same code.
  auto raised = [](auto&& read) -> HRESULT {
    try {
      read();
    } catch (const CResultError& e) {
      return e.Result();
    }
    return S_OK;
  };
  EXPECT_EQ(raised([&] { kw.Get(Kw::kShowTaskbarIcon); }), failure);
  EXPECT_EQ(raised([&] { kw.Get(Kw::kOpenSecurityManager); }), failure);
  EXPECT_EQ(raised([&] { kw.GetLastLogonPolicyTokens(); }), failure);
  EXPECT_EQ(raised([&] { kw.GetNaggingPeriodTimestamp(); }), failure);
  EXPECT_EQ(raised([&] { CAgentSettings(plat).Get(SettingNames::Agent::kFingerprintBalloonCtr); }),
            failure);
  EXPECT_EQ(Host().Buffers().Outstanding(), 0u);
}

TEST_F(SettingsFaultTest, AnyOtherExceptionInsideAReadIsUnexpected) {
  Reg().SetDword(HkcuSection(), L"Unrelated", 1);
  struct NotAStdException {};
  const std::function<void()> throwers[] = {
      [] { throw std::runtime_error("registry gone"); },
      [] { throw NotAStdException{}; },
  };
  for (const auto& thrower : throwers) {
    plat.Reg().beforeQuery = thrower;
    CKwAppSettings kw(plat);
    DWORD count = 7;
    EXPECT_EQ(kw.GetDword(L"LogonCount", count), E_UNEXPECTED);
    EXPECT_EQ(count, 7u);
    try {
      kw.Get(Kw::kOOBEPassed);
      ADD_FAILURE() << "the table getter returned";
    } catch (const CResultError& e) {
      EXPECT_EQ(e.Result(), E_UNEXPECTED);
    }
  }
  // Once the registry behaves again, a new section reads normally.
  plat.Reg().beforeQuery = nullptr;
  Reg().SetDword(HkcuSection(), L"LogonCount", 3);
  DWORD count = 0;
  EXPECT_EQ(CKwAppSettings(plat).GetDword(L"LogonCount", count), S_OK);
  EXPECT_EQ(count, 3u);
}

}  // namespace
