// The unlock script: the policy value, where the script is fetched from, the local copy and
// its two-second refresh, how it is started and how long the agent waits for it.
#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "kiosk/unlock_script.h"
#include "tests/kiosk/kiosk_fixture.h"

namespace kiosktest {
namespace {

const std::wstring kShareScript = L"\\\\corp.test\\sysvol\\corp.test\\scripts\\unlock.vbs";
const std::wstring kLocalVbs = std::wstring(kScriptFolder) + L"\\unlock.vbs";
const std::wstring kLocalExe = std::wstring(kScriptFolder) + L"\\unlock.exe";
const std::wstring kExeSource = L"\\\\files.corp.test\\kiosk\\unlock.exe";

class UnlockScriptTest : public KioskFixture {
 protected:
  void SetPolicy(const std::wstring& value) {
    reg().SetString(kPolicyKey, L"KioskUnlockScript", value);
  }
  void Remote(const std::wstring& path, std::string bytes, ULONGLONG copyMs = 0) {
    plat.kernel.remote[Lower(path)] = {std::move(bytes), copyMs};
  }
  std::string Local(const std::wstring& path) {
    return m_machine.Files().ReadFile(path).value_or("<none>");
  }
  bool Exists(const std::wstring& path) { return m_machine.Files().Exists(path); }
  // What a start ran, from where and on which desktop, and whether it started.
  static auto How(const ScriptKernel::Start& s) {
    return std::make_tuple(s.application, s.commandLine, s.directory, s.desktop, s.started);
  }
  static auto Expected(std::wstring app, std::wstring command) {
    return std::make_tuple(app, command, std::wstring(kSystemDir),
                           std::wstring(L"winsta0\\default"), true);
  }
};

// ---- The policy value -------------------------------------------------------------------------

TEST_F(UnlockScriptTest, OnlyAStringWithRoomForItsTerminatorIsTaken) {
  const std::wstring k259(259, L'a'), k260(260, L'a');
  auto raw = [](const std::wstring& s) {  // the characters without a terminator
    std::vector<BYTE> b(s.size() * sizeof(wchar_t));
    std::memcpy(b.data(), s.data(), b.size());
    return b;
  };
  EXPECT_EQ(KIOSK::GetUnlockScript(plat), std::nullopt) << "no value";
  SetPolicy(L"unlock.vbs");
  EXPECT_EQ(KIOSK::GetUnlockScript(plat), L"unlock.vbs");
  reg().SetString(kPolicyKey, L"KioskUnlockScript", L"u.cmd", REG_EXPAND_SZ);
  EXPECT_EQ(KIOSK::GetUnlockScript(plat), L"u.cmd");
  SetPolicy(k259);
  EXPECT_EQ(KIOSK::GetUnlockScript(plat), k259);
  reg().SetValue(kPolicyKey, L"KioskUnlockScript", REG_SZ, raw(k259));
  EXPECT_EQ(KIOSK::GetUnlockScript(plat), k259) << "259 unterminated: the buffer adds the NUL";

  VDTraceNS::CRecordingSink sink;
  SetPolicy(k260);
  EXPECT_EQ(KIOSK::GetUnlockScript(plat), std::nullopt);
  reg().SetValue(kPolicyKey, L"KioskUnlockScript", REG_SZ, raw(k260));
  EXPECT_EQ(KIOSK::GetUnlockScript(plat), std::nullopt) << "260 without room for the NUL";
  EXPECT_TRUE(Traced(sink, "KioskUnlockScript is too long (260 characters)"));
  reg().SetDword(kPolicyKey, L"KioskUnlockScript", 1);
  EXPECT_EQ(KIOSK::GetUnlockScript(plat), std::nullopt);
  reg().SetString(kPolicyKey, L"KioskUnlockScript", L"");
  EXPECT_EQ(KIOSK::GetUnlockScript(plat), std::nullopt);
}

TEST_F(UnlockScriptTest, ABareNameIsFetchedFromTheDomainsScriptsShare) {
  struct Row {
    const wchar_t* value;
    const wchar_t* domain;
    std::optional<std::wstring> source;
  } const rows[] = {
      {L"\\\\srv\\share\\u.vbs", L"corp.test", L"\\\\srv\\share\\u.vbs"},
      {L"\\\\x", L"", L"\\\\x"},  // a full path needs no domain
      {L"unlock.vbs", L"corp.test", kShareScript},
      {L"sub\\u.js", L"ad.example.org",
       L"\\\\ad.example.org\\sysvol\\ad.example.org\\scripts\\sub\\u.js"},
      {L"\\\\", L"corp.test", L"\\\\corp.test\\sysvol\\corp.test\\scripts\\\\\\"},  // too short
      {L"unlock.vbs", L"", std::nullopt},  // outside a domain there is no share
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(testing::Message() << r.value);
    plat.kernel.dnsDomain = r.domain;
    EXPECT_EQ(KIOSK::UnlockScriptSource(plat, r.value), r.source);
  }
  plat.kernel.dnsDomain = std::wstring(300, L'd');  // longer than the first buffer
  EXPECT_EQ(KIOSK::UnlockScriptSource(plat, L"u"), L"\\\\" + plat.kernel.dnsDomain + L"\\sysvol\\" +
                                                       plat.kernel.dnsDomain + L"\\scripts\\u");
}

// ---- The local copy ---------------------------------------------------------------------------

TEST_F(UnlockScriptTest, TheFirstCopyCreatesTheFolderUnderTempAndAFailedOneGivesNoPath) {
  std::wstring local = L"untouched";
  EXPECT_EQ(KIOSK::CopyScriptFile(plat, kShareScript, &local),
            HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(local, L"");
  EXPECT_FALSE(Exists(kLocalVbs));
  EXPECT_EQ(KIOSK::CopyScriptFile(plat, L"", &local), E_INVALIDARG);
  EXPECT_EQ(KIOSK::CopyScriptFile(plat, L"\\\\srv\\share\\", &local), E_INVALIDARG);

  Remote(kShareScript, "WScript.Echo 1");
  ASSERT_EQ(KIOSK::CopyScriptFile(plat, kShareScript, &local), S_OK);
  EXPECT_EQ(local, kLocalVbs);
  EXPECT_EQ(Local(kLocalVbs), "WScript.Echo 1");
  EXPECT_EQ(plat.shell.folders.back(), kScriptFolder);
}

TEST_F(UnlockScriptTest, AFolderThatCannotBeMadeIsOnlyTraced) {
  plat.shell.folderError = ERROR_ACCESS_DENIED;
  Remote(kShareScript, "x");
  VDTraceNS::CRecordingSink sink;
  std::wstring local;
  EXPECT_EQ(KIOSK::CopyScriptFile(plat, kShareScript, &local),
            HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND))
      << "the copy itself then fails";
  const std::wstring folder = kScriptFolder;
  EXPECT_TRUE(Traced(sink, "Cannot create directory " + std::string(folder.begin(), folder.end()) +
                               ". Error is 0x80070005"));
}

TEST_F(UnlockScriptTest, ARefreshReplacesThePreviousCopyOnlyWhenItEndsWithinTwoSeconds) {
  const struct {
    const char* what;
    std::optional<ULONGLONG> copyMs;  // none: the share is away
    const char* kept;
  } rows[] = {
      {"1996 ms, the last progress call", 1996, "new"},
      {"2000 ms: cancelled", 2000, "old"},
      {"the share is away", std::nullopt, "old"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.what);
    m_machine.Files().WriteFile(kLocalVbs, "old");
    plat.kernel.remote.clear();
    plat.kernel.copies.clear();
    if (r.copyMs) Remote(kShareScript, "new", *r.copyMs);
    VDTraceNS::CRecordingSink sink;
    std::wstring local;
    ASSERT_EQ(KIOSK::CopyScriptFile(plat, kShareScript, &local), S_OK);
    EXPECT_EQ(local, kLocalVbs);
    EXPECT_EQ(Local(kLocalVbs), r.kept);
    EXPECT_FALSE(Exists(kLocalVbs + L".tmp"));
    EXPECT_TRUE(Traced(sink, "File exists, trying to refresh quickly..."));
    EXPECT_EQ(Traced(sink, "Local copy has been refreshed successfully."), r.kept[0] == 'n');
    ASSERT_EQ(plat.kernel.copies.size(), 1u);
    EXPECT_TRUE(plat.kernel.copies[0].withProgress);
  }
  EXPECT_TRUE(plat.shell.folders.empty());
}

TEST_F(UnlockScriptTest, APreviousCopyThatCannotBeMovedAsideFailsTheCopy) {
  m_machine.Files().WriteFile(kLocalVbs, "old");
  Remote(kShareScript, "new");
  plat.kernel.moveError = ERROR_ACCESS_DENIED;
  VDTraceNS::CRecordingSink sink;
  std::wstring local;
  EXPECT_EQ(KIOSK::CopyScriptFile(plat, kShareScript, &local), E_ACCESSDENIED);
  EXPECT_TRUE(Traced(sink, "Cannot move existing script!!!"));
  EXPECT_EQ(Local(kLocalVbs), "old");
  EXPECT_TRUE(plat.kernel.copies.empty());
}

// ---- Running it -------------------------------------------------------------------------------

TEST_F(UnlockScriptTest, AProgramRunsOnceOnTheUsersDesktopAndBothHandlesAreClosed) {
  SetPolicy(kExeSource);
  Remote(kExeSource, "MZ");
  VDTraceNS::CRecordingSink sink;
  KIOSK::RunUnlockScript(plat);
  EXPECT_TRUE(Traced(sink, "Start script \\\\files.corp.test\\kiosk\\unlock.exe on session 1."));
  EXPECT_TRUE(Traced(sink, "Full path script!!!"));
  ASSERT_EQ(plat.kernel.starts.size(), 1u);
  const auto& s = plat.kernel.starts[0];
  EXPECT_EQ(How(s), Expected(kLocalExe, L""));
  EXPECT_EQ(s.flags, static_cast<DWORD>(CREATE_UNICODE_ENVIRONMENT | NORMAL_PRIORITY_CLASS));
  EXPECT_FALSE(s.inherit);
  EXPECT_TRUE(plat.kernel.AllProcessHandlesClosedOnce());
  EXPECT_FALSE(Traced(sink, "Process cannot be stoped!!!"));
}

TEST_F(UnlockScriptTest, AScriptThatIsNoProgramRunsThroughCscript) {
  SetPolicy(L"unlock.vbs");
  Remote(kShareScript, "WScript.Echo 1");
  VDTraceNS::CRecordingSink sink;
  KIOSK::RunUnlockScript(plat);
  EXPECT_TRUE(
      Traced(sink, "Script file path is \\\\corp.test\\sysvol\\corp.test\\scripts\\unlock.vbs"));
  EXPECT_TRUE(Traced(sink, "Error happened 0x800700C1")) << "193: not a program";
  ASSERT_EQ(plat.kernel.starts.size(), 2u);
  EXPECT_EQ(plat.kernel.starts[0].application, kLocalVbs);
  EXPECT_FALSE(plat.kernel.starts[0].started);
  const std::wstring command = L"C:\\Windows\\system32\\cscript.exe \"" + kLocalVbs + L"\" //B";
  EXPECT_EQ(How(plat.kernel.starts[1]), Expected(L"", command));
  EXPECT_TRUE(Traced(sink, "Script path is " + std::string(command.begin(), command.end())));
  EXPECT_TRUE(plat.kernel.AllProcessHandlesClosedOnce());
}

TEST_F(UnlockScriptTest, WithoutTheScriptHostTheRunEnds) {
  m_machine.Files().Delete(std::wstring(kSystemDir) + L"\\cscript.exe");
  SetPolicy(L"unlock.vbs");
  Remote(kShareScript, "x");
  VDTraceNS::CRecordingSink sink;
  KIOSK::RunUnlockScript(plat);
  EXPECT_EQ(plat.kernel.starts.size(), 2u);
  EXPECT_TRUE(Traced(sink, "Error happened 0x80070002"));
  EXPECT_TRUE(plat.kernel.processHandles.empty());
}

TEST_F(UnlockScriptTest, NothingStartsWithoutAScriptOrACopy) {
  KIOSK::RunUnlockScript(plat);  // no policy value
  SetPolicy(L"unlock.vbs");
  KIOSK::RunUnlockScript(plat);  // the share does not have it
  plat.kernel.dnsDomain = L"";
  Remote(kShareScript, "x");
  KIOSK::RunUnlockScript(plat);  // no domain to look in
  EXPECT_TRUE(plat.kernel.starts.empty());
  EXPECT_EQ(plat.kernel.copies.size(), 1u);
}

TEST_F(UnlockScriptTest, TheAgentWaitsTwentySecondsForTheScriptAndNoLonger) {
  SetPolicy(kExeSource);
  Remote(kExeSource, "MZ");
  struct Row {
    ULONGLONG runMs;
    ULONGLONG waitedMs;
    bool leftRunning;
  } const rows[] = {
      {100, 100, false}, {19999, 19999, false}, {20001, 20000, true}, {600000, 20000, true}};
  for (const auto& r : rows) {
    SCOPED_TRACE(r.runMs);
    plat.kernel.runMs = r.runMs;
    VDTraceNS::CRecordingSink sink;
    const ULONGLONG start = m_machine.GetClock().NowMs();
    KIOSK::RunUnlockScript(plat);
    EXPECT_EQ(m_machine.GetClock().NowMs() - start, r.waitedMs);
    EXPECT_EQ(Traced(sink, "Process cannot be stoped!!!"), r.leftRunning);
    EXPECT_TRUE(plat.kernel.AllProcessHandlesClosedOnce());
    m_machine.GetClock().AdvanceBy(r.runMs);  // the program ends before the next row
  }
}

}  // namespace
}  // namespace kiosktest
