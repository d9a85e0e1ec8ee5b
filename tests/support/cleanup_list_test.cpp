// The clean-up list for the uninstaller on the simulated machine: the file's byte-order-mark
// rule, the line format in UTF-16LE and the agent's complete list.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/sim/file_system.h"
#include "platform/sim/machine.h"
#include "platform/sim/process.h"
#include "platform/sim/registry_store.h"
#include "support/result_error.h"
#include "support/settings/cleanup_list.h"
#include "support/trace/trace.h"
#include "support/trace/trace_sink.h"

namespace {

constexpr const wchar_t* kFolder = L"C:\\Program Files\\Veridane";
constexpr const wchar_t* kFile = L"C:\\Program Files\\Veridane\\Cleanup.txt";
const std::string kMark = "\xFF\xFE";

// The UTF-16LE bytes of a text given as UTF-16 code units.
std::string Le(const std::u16string& text) {
  std::string out;
  for (char16_t u : text) {
    out += static_cast<char>(u & 0xFF);
    out += static_cast<char>(u >> 8);
  }
  return out;
}

class CleanupListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    VDTraceNS::Bind(nullptr);
    machine.Registry().SetString(L"HKLM\\SOFTWARE\\Veridane", L"VeridanePath", kFolder);
    std::filesystem::create_directories(machine.Files().HostPath(kFolder));
  }
  std::string File() { return machine.Files().ReadFile(kFile).value_or("<none>"); }

  sim::Machine machine;
  std::unique_ptr<sim::Process> agent = machine.CreateProcess({});
};

TEST_F(CleanupListTest, ANewListStartsWithTheMarkAndLinesAreAppended) {
  VDTraceNS::CRecordingSink sink;
  support::AddCleanupLine(*agent, L"HKU", L"SOFTWARE\\Veridane\\Applications\\Agent",
                          support::kCleanupValue, L"ShowUserWizard");
  support::AddCleanupLine(*agent, L"HK", L"SOFTWARE\\Veridane", support::kCleanupKey);
  support::AddCleanupLine(*agent, L"HKU", L"K", support::kCleanupValue, L"");
  EXPECT_EQ(File(),
            kMark + Le(u"HKU\tSOFTWARE\\Veridane\\Applications\\Agent\t1\tShowUserWizard\r\n"
                       u"HK\tSOFTWARE\\Veridane\t4\r\n"
                       u"HKU\tK\t1\t \r\n"));
  EXPECT_TRUE(sink.Contains('U', "FilePath = C:\\Program Files\\Veridane\\Cleanup.txt"));
  EXPECT_TRUE(sink.Contains('U', "accum = HK\tSOFTWARE\\Veridane\t4\r\n"));
}

TEST_F(CleanupListTest, AListWithoutTheMarkIsReplacedByTheMarkAndTheNewLine) {
  machine.Files().WriteFile(kFile, "HKU\tOld\t1\r\n");
  support::AddCleanupLine(*agent, L"HKLM", L"SOFTWARE\\Veridane\\Applications",
                          support::kCleanupKey);
  EXPECT_EQ(File(), kMark + Le(u"HKLM\tSOFTWARE\\Veridane\\Applications\t4\r\n"));

  // Too short to hold a mark: the same.
  machine.Files().WriteFile(kFile, "\xFF");
  support::AddCleanupLine(*agent, L"HKLM", L"A", support::kCleanupKey);
  EXPECT_EQ(File(), kMark + Le(u"HKLM\tA\t4\r\n"));

  // A list with the mark keeps what it holds.
  const std::string existing = kMark + Le(u"HKU\tOld\t1\r\n");
  machine.Files().WriteFile(kFile, existing);
  support::AddCleanupLine(*agent, L"HKLM", L"B", support::kCleanupKeyFlag);
  EXPECT_EQ(File(), existing + Le(u"HKLM\tB\t2\r\n"));
}

TEST_F(CleanupListTest, NamesBeyondAsciiAreWrittenAsUtf16) {
  support::AddCleanupLine(*agent, L"HKU", L"K", support::kCleanupValue, L"\u00C4\U0001F600");
  EXPECT_EQ(File(), kMark + Le(u"HKU\tK\t1\t\u00C4\U0001F600\r\n"));
}

TEST_F(CleanupListTest, MissingArgumentsOrFolderFailWithoutWriting) {
  auto codeOf = [&](auto&& call) -> HRESULT {
    try {
      call();
    } catch (const CResultError& e) {
      return e.Result();
    }
    return S_OK;
  };
  EXPECT_EQ(codeOf([&] { support::AddCleanupLine(*agent, nullptr, L"K", 4); }), E_INVALIDARG);
  EXPECT_EQ(codeOf([&] { support::AddCleanupLine(*agent, L"HK", L"", 4); }), E_INVALIDARG);
  EXPECT_FALSE(machine.Files().Exists(kFile));

  machine.Registry().SetString(L"HKLM\\SOFTWARE\\Veridane", L"VeridanePath", L"C:\\Nowhere");
  EXPECT_EQ(codeOf([&] { support::AddCleanupLine(*agent, L"HK", L"K", 4); }),
            HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND));
  machine.Registry().DeleteValue(L"HKLM\\SOFTWARE\\Veridane", L"VeridanePath");
  EXPECT_EQ(codeOf([&] { support::AddCleanupLine(*agent, L"HK", L"K", 4); }),
            HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
}

TEST_F(CleanupListTest, TheAgentListsEverySettingsValueAndKeyInTheUninstallersOrder) {
  support::AddAgentSettingsToCleanupList(*agent);
  const std::u16string kw = u"SOFTWARE\\Veridane\\Applications\\KwAppSettings";
  const std::u16string qa = kw + u"\\QuickActions\\";
  const std::u16string ag = u"SOFTWARE\\Veridane\\Applications\\Agent";
  const std::u16string apps = u"SOFTWARE\\Veridane\\Applications";
  const std::u16string root = u"SOFTWARE\\Veridane";
  std::u16string expected;
  auto line = [&](const char16_t* r, const std::u16string& key, int kind,
                  const char16_t* value = nullptr) {
    expected += std::u16string(r) + u"\t" + key + u"\t" + static_cast<char16_t>(u'0' + kind);
    if (value) expected += std::u16string(u"\t") + value;
    expected += u"\r\n";
  };
  for (auto v : {u"F+Shift", u"F+Ctrl", u"F+Alt"}) line(u"HKU", qa, 1, v);
  line(u"HKU", qa, 4);
  for (auto v : {u"LastLogonPolicyTokens", u"ShowComplexFeedback", u"SoundFeedback",
                 u"ShowTaskbarIcon", u"OpenSecurityManager", u"PostponeAdminWizard",
                 u"LastPostponeSelection", u"OOBEPassed", u"LogonCount", u"NaggingPeriodTimestamp"})
    line(u"HKU", kw, 1, v);
  line(u"HK", kw, 1, u"MachineConfigured");
  for (const auto& k : {kw, apps, root}) line(u"HK", k, 4);
  for (auto v :
       {u"ShowUserWizard", u"UserFPDoNotBotherAgain", u"SaveFeedbackIconX", u"SaveFeedbackIconY",
        u"RegistrationBalloonCtr", u"FingerprintBalloonCtr", u"AdminSetupBalloonCtr",
        u"NoDriversBalloonCtr", u"ReenrollmentPromptDoNotBotherAgain", u"PasswordManagerPriority"})
    line(u"HKU", ag, 1, v);
  for (const auto& k : {ag, apps, root}) line(u"HK", k, 4);
  line(u"HKU", apps, 4);
  line(u"HKLM", ag + u"\\PlugIns", 4);
  line(u"HKLM", ag + u"\\PasswordResets", 2);
  line(u"HKLM", ag, 4);
  line(u"HKLM", apps, 4);
  EXPECT_EQ(File(), kMark + Le(expected));
}

}  // namespace
