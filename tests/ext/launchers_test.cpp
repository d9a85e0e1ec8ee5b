// The launcher table and its launchers on the simulated machine: loading from the user's
// registry, the decisions on odd tables, round trips, performing a group, and what each
// launcher starts, with the worker threads run to the end by the machine's idle wait.
#include "ext/launchers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/agent_process.h"
#include "ext/process_starter.h"
#include "platform/sim/file_system.h"
#include "platform/sim/machine.h"
#include "platform/sim/process.h"
#include "platform/sim/process_shell.h"
#include "platform/sim/program_table.h"
#include "support/result_error.h"
#include "support/trace/trace.h"
#include "support/trace/trace_sink.h"
#include "tests/ext/launcher_test_util.h"

namespace {

using namespace launcher_test;

constexpr wchar_t kDashBoard[] = L"SOFTWARE\\Veridane\\Applications\\DashBoard";
constexpr HRESULT kBadData = static_cast<HRESULT>(0x8007000DL);
constexpr HRESULT kFileNotFound = static_cast<HRESULT>(0x80070002L);

std::string E(HRESULT hr, const std::string& what) { return std::to_string(hr) + " " + what; }

// A launcher whose action throws, to see the worker's guard.
class ThrowingLauncher : public CLauncherImpl {
 public:
  explicit ThrowingLauncher(platform::IPlatform& plat)
      : CLauncherImpl(plat, {0x11111111, 0x2222, 0x3333, {4, 4, 4, 4, 4, 4, 4, 4}}) {}
  HRESULT OnAction() override {
    ++runs;
    throw std::runtime_error("launcher blew up");
  }
  std::atomic<int> runs{0};
};

class LaunchersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    VDTraceNS::Bind(proc.get());
    Links().calls.clear();
    Links().process = proc.get();
    Links().gate = nullptr;
  }
  void TearDown() override {
    machine.RunUntilIdle();
    VDTraceNS::Bind(nullptr);
  }

  void StoreTable(const Bytes& data, DWORD type = REG_BINARY) {
    platform::IRegistry& reg = proc->Registry();
    HKEY key = nullptr;
    ASSERT_EQ(reg.RegCreateKeyExW(HKEY_CURRENT_USER, kDashBoard, 0, nullptr, 0, KEY_WRITE, nullptr,
                                  &key, nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(reg.RegSetValueExW(key, L"AppLauncher", 0, type, data.data(),
                                 static_cast<DWORD>(data.size())),
              ERROR_SUCCESS);
    reg.RegCloseKey(key);
  }
  HRESULT LoadError() {
    try {
      CLauncherContainer::LoadLunchers(agent);
    } catch (const CResultError& e) {
      return e.Result();
    }
    return S_OK;
  }
  HRESULT UnserializeError(CLauncherContainer& c, const Bytes& table) {
    try {
      c.Unserialize(CCryptBlob(table));
    } catch (const CResultError& e) {
      return e.Result();
    }
    return S_OK;
  }
  std::vector<std::wstring> Describe(const CLauncherContainer& c) {
    std::vector<std::wstring> out;
    for (const auto& [g, group] : c.GetGroups())
      for (const auto& [s, l] : group)
        out.push_back(std::to_wstring(g) + L"." + std::to_wstring(s) + L" " + l->Description());
    return out;
  }
  std::vector<std::wstring> CommandLines() {
    std::vector<std::wstring> out;
    for (const auto& run : machine.Programs().Runs(1)) out.push_back(run.commandLine);
    return out;
  }
  std::vector<std::wstring> ShellOpens() {
    std::vector<std::wstring> out;
    for (const auto& c : sim::ShellExecuteCalls(*proc)) out.push_back(c.verb + L" " + c.file);
    return out;
  }
  void Install(const std::wstring& path) { machine.Files().WriteFile(path, "MZ"); }

  VDTraceNS::CRecordingSink sink;
  sim::Machine machine;
  std::unique_ptr<sim::Process> proc = machine.CreateProcess({});
  sim::CurrentProcessScope scope{proc.get()};
  core::CAgentProcess agent{*proc, nullptr};
  platform::IPlatform& plat = *proc;
};

// ---- Loading ---------------------------------------------------------------------------------

TEST_F(LaunchersTest, ATableInTheUsersRegistryLoadsInKeyOrder) {
  StoreTable(Seq({
      Seq({Key(2), Entry(1, Seq({kWebLinkType, Text(L"https://x.example/")}))}),
      Seq({Key(1), Entry(9, AppRecord(L"C:\\b.exe")), Entry(3, AppRecord(L"C:\\a.txt")),
           Entry(5, Seq({kPwdType, Text(L"Bank"), Text(L"id-7"), Bytes{0x02, 0x01, 0xF9}}))}),
  }));
  const CLauncherContainer c = CLauncherContainer::LoadLunchers(agent);
  EXPECT_EQ(Describe(c), (std::vector<std::wstring>{
                             L"1.3 App \"C:\\a.txt\"",
                             L"1.5 PwdManager \"Bank\" entry \"id-7\" number -7",
                             L"1.9 App \"C:\\b.exe\"",
                             L"2.1 WebLink \"https://x.example/\"",
                         }));
}

TEST_F(LaunchersTest, AMissingWrongOrEmptyValueIsARaisedAndTracedError) {
  EXPECT_EQ(LoadError(), kFileNotFound);  // no key
  StoreTable(Seq({}), REG_SZ);
  EXPECT_EQ(LoadError(), kBadData);
  StoreTable({}, REG_BINARY);
  EXPECT_EQ(LoadError(), kBadData);
  EXPECT_TRUE(sink.Contains('E', E(kBadData, "AppLauncher")));
  StoreTable(Seq({}));
  EXPECT_EQ(LoadError(), S_OK);
}

TEST_F(LaunchersTest, AnUnknownLauncherTypeIsSkippedAndTheRestLoads) {
  const Bytes unknown = Seq({Tlv(0x04, Bytes(16, 0xAB)), Text(L"future")});
  CLauncherContainer c(plat);
  ASSERT_EQ(UnserializeError(
                c, Seq({Seq({Key(1), Entry(1, unknown), Entry(2, AppRecord(L"C:\\a.exe"))})})),
            S_OK);
  EXPECT_EQ(Describe(c), (std::vector<std::wstring>{L"1.2 App \"C:\\a.exe\""}));
  EXPECT_TRUE(sink.Contains('U', "Unknown launcher type {ABABABAB-ABAB-ABAB-ABAB-ABABABABABAB}"));
  EXPECT_EQ(c.CreateLauncher(CCryptBlob(unknown)), nullptr);
}

TEST_F(LaunchersTest, RepeatedKeysLetTheLaterEntryWinAndMergeGroups) {
  CLauncherContainer c(plat);
  ASSERT_EQ(UnserializeError(
                c, Seq({
                       Seq({Key(1), Entry(1, AppRecord(L"first")), Entry(1, AppRecord(L"second"))}),
                       Seq({Key(4), Entry(1, AppRecord(L"x"))}),
                       Seq({Key(1), Entry(2, AppRecord(L"third"))}),
                   })),
            S_OK);
  EXPECT_EQ(Describe(c), (std::vector<std::wstring>{L"1.1 App \"second\"", L"1.2 App \"third\"",
                                                    L"4.1 App \"x\""}));
}

TEST_F(LaunchersTest, AMalformedTableFailsWholeAndLeavesTheContainerAsItWas) {
  CLauncherContainer c(plat);
  const Bytes good = Seq({Seq({Key(1), Entry(1, AppRecord(L"kept"))})});
  ASSERT_EQ(UnserializeError(c, good), S_OK);

  Bytes guid15 = kAppType;
  guid15.pop_back();
  guid15[1] = 15;
  const Bytes bigNumber{0x02, 0x05, 0x01, 0x00, 0x00, 0x00, 0x00};
  struct Case {
    const char* what;
    Bytes table;
    HRESULT error;
  } cases[] = {
      {"not a sequence", {0x01, 0x02, 0x03}, CRYPT_E_ASN1_BADTAG},
      {"cut short", Bytes(good.begin(), good.end() - 2), CRYPT_E_ASN1_EOD},
      {"group not a sequence", Seq({Key(1)}), CRYPT_E_ASN1_BADTAG},
      {"group without key", Seq({Seq({})}), CRYPT_E_ASN1_EOD},
      {"entry without record", Seq({Seq({Key(1), Seq({Key(1)})})}), CRYPT_E_ASN1_EOD},
      {"record without path", Seq({Seq({Key(1), Entry(1, Seq({kAppType}))})}), CRYPT_E_ASN1_EOD},
      {"GUID of 15 bytes", Seq({Seq({Key(1), Entry(1, Seq({guid15, Text(L"a")}))})}),
       CRYPT_E_ASN1_CORRUPT},
      {"number of 5 bytes",
       Seq({Seq({Key(1), Entry(1, Seq({kPwdType, Text(L"a"), Text(L"b"), bigNumber}))})}),
       CRYPT_E_ASN1_LARGE},
      {"key not an integer", Seq({Seq({Text(L"1"), Entry(1, AppRecord(L"a"))})}),
       CRYPT_E_ASN1_BADTAG},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.what);
    EXPECT_EQ(UnserializeError(c, k.table), k.error);
    EXPECT_EQ(Describe(c), (std::vector<std::wstring>{L"1.1 App \"kept\""}));
  }
}

TEST_F(LaunchersTest, EveryLauncherKindSurvivesARoundTrip) {
  CLauncherContainer c(plat);
  c.InsertLauncher(7, 2,
                   std::make_shared<CWebLinkLauncher>(plat, L"https://\u00e9.example/?a=1&b"));
  c.InsertLauncher(7, 1, std::make_shared<CAppLauncher>(plat, L"C:\\Tools\\App.exe"));
  c.InsertLauncher(0, 255,
                   std::make_shared<CPwdManagerLauncher>(plat, L"", L"{entry}", -2147483647 - 1));
  c.InsertLauncher(200, 128, std::make_shared<CAppLauncher>(plat, L""));
  const CCryptBlob stored = c.Serialize();

  CLauncherContainer back(plat);
  ASSERT_EQ(UnserializeError(back, stored.Bytes()), S_OK);
  EXPECT_EQ(Describe(back), Describe(c));
  EXPECT_EQ(back.Serialize().Bytes(), stored.Bytes());
  // Group 0 and slot 0 are ordinary keys.
  EXPECT_EQ(Describe(back).front(), L"0.255 PwdManager \"\" entry \"{entry}\" number -2147483648");

  back.Clear();
  EXPECT_TRUE(back.Empty());
  EXPECT_EQ(back.Serialize().Bytes(), (Bytes{0x30, 0x00}));
}

// ---- Performing a group ----------------------------------------------------------------------

TEST_F(LaunchersTest, AGroupRunsInSlotOrderAndOtherGroupsAndUnknownKeysDoNothing) {
  Install(L"C:\\a.exe");
  Install(L"C:\\b.exe");
  Install(L"C:\\c.exe");
  StoreTable(Seq({Seq({Key(3), Entry(9, AppRecord(L"C:\\c.exe")), Entry(1, AppRecord(L"C:\\a.exe")),
                       Entry(4, AppRecord(L"C:\\b.exe"))}),
                  Seq({Key(4), Entry(1, AppRecord(L"C:\\other.exe"))})}));
  CLauncherContainer::LoadLunchers(agent).PerformLauncher(5);
  machine.RunUntilIdle();
  EXPECT_TRUE(CommandLines().empty());
  EXPECT_TRUE(sink.Contains('U', "No group 5"));

  sink.Clear();
  CLauncherContainer::LoadLunchers(agent).PerformLauncher(3);
  machine.RunUntilIdle();
  std::vector<std::string> slots;
  for (const auto& t : sink.Texts('U'))
    if (t.rfind("Slot ", 0) == 0) slots.push_back(t);
  EXPECT_EQ(slots,
            (std::vector<std::string>{"Slot 1: App \"C:\\a.exe\"", "Slot 4: App \"C:\\b.exe\"",
                                      "Slot 9: App \"C:\\c.exe\""}));
  auto lines = CommandLines();
  std::sort(lines.begin(), lines.end());  // the three workers run side by side
  EXPECT_EQ(lines,
            (std::vector<std::wstring>{L"\"C:\\a.exe\"", L"\"C:\\b.exe\"", L"\"C:\\c.exe\""}));
}

TEST_F(LaunchersTest, ALauncherStillRunningIsSkippedAndTheTableIsReleasedWithoutWaiting) {
  InstallQuickLinks(machine);
  HANDLE gate = proc->Kernel().CreateEventW(nullptr, TRUE, FALSE, nullptr);
  Links().gate = gate;
  auto link = std::make_shared<CPwdManagerLauncher>(plat, L"Mail", L"id-1", 3);
  std::weak_ptr<CLauncherImpl> watch = link;
  {
    CLauncherContainer c(plat);
    c.InsertLauncher(1, 1, link);
    link.reset();
    c.PerformLauncher(1);
    machine.RunUntilIdle();  // the action waits at the gate
    ASSERT_FALSE(watch.expired());
    EXPECT_TRUE(watch.lock()->IsRunning());
    c.PerformLauncher(1);
    machine.RunUntilIdle();
    EXPECT_TRUE(
        sink.Contains('U', "Still running, skipped: PwdManager \"Mail\" entry \"id-1\" number 3"));
  }  // the table goes while the action still runs: the worker's reference keeps the launcher
  EXPECT_FALSE(watch.expired());
  proc->Kernel().SetEvent(gate);
  machine.RunUntilIdle();
  EXPECT_TRUE(watch.expired());  // released on its worker once the action ended
  EXPECT_EQ(Links().calls, (std::vector<std::pair<std::wstring, LONG>>{{L"id-1", 3}}));
  Links().gate = nullptr;
  proc->Kernel().CloseHandle(gate);
}

TEST_F(LaunchersTest, AnExceptionInAnActionIsCaughtOnTheWorkerAndTraced) {
  auto bad = std::make_shared<ThrowingLauncher>(plat);
  bad->PerformAction();
  machine.RunUntilIdle();
  EXPECT_TRUE(sink.Contains('U', "OnAction: launcher blew up"));
  EXPECT_FALSE(bad->IsRunning());
  bad->PerformAction();
  machine.RunUntilIdle();
  EXPECT_EQ(bad->runs, 2);
}

TEST_F(LaunchersTest, AThreadThatCannotStartIsTracedAndTheLauncherStaysIdle) {
  TestPlatform tp(*proc);
  tp.kernel.failThreads = true;
  auto app = std::make_shared<CAppLauncher>(tp, L"C:\\a.exe");
  app->PerformAction();
  EXPECT_FALSE(app->IsRunning());
  EXPECT_TRUE(sink.Contains('E', E(HRESULT_FROM_WIN32(ERROR_NOT_ENOUGH_MEMORY), "CreateThread")));
  Install(L"C:\\a.exe");
  tp.kernel.failThreads = false;
  app->PerformAction();
  machine.RunUntilIdle();
  EXPECT_EQ(CommandLines(), (std::vector<std::wstring>{L"\"C:\\a.exe\""}));
}

// ---- The actions -----------------------------------------------------------------------------

TEST_F(LaunchersTest, AProgramIsStartedAndAnythingElseIsOpenedByTheShell) {
  Install(L"C:\\Tools\\App.EXE");
  for (const wchar_t* text : {L"C:\\Tools\\App.EXE", L"C:\\x.exe.d\\a.txt", L"C:\\notes.exe.txt",
                              L"exe", L"C:\\Docs\\report.pdf"}) {
    std::make_shared<CAppLauncher>(plat, text)->PerformAction();
    machine.RunUntilIdle();
  }
  EXPECT_EQ(CommandLines(), (std::vector<std::wstring>{L"\"C:\\Tools\\App.EXE\""}));
  EXPECT_EQ(machine.Programs().Runs(1).front().creationFlags, NORMAL_PRIORITY_CLASS);
  EXPECT_EQ(ShellOpens(),
            (std::vector<std::wstring>{L"open C:\\x.exe.d\\a.txt", L"open C:\\notes.exe.txt",
                                       L"open exe", L"open C:\\Docs\\report.pdf"}));
  EXPECT_TRUE(sink.Contains('U', "Command line: '\"C:\\Tools\\App.EXE\"'"));
  EXPECT_TRUE(sink.Contains('U', "Process started: 1"));
}

TEST_F(LaunchersTest, AProgramThatIsNotThereIsTracedWithItsError) {
  std::make_shared<CAppLauncher>(plat, L"C:\\gone.exe")->PerformAction();
  machine.RunUntilIdle();
  EXPECT_TRUE(sink.Contains('U', "Process started: 0"));
  EXPECT_TRUE(sink.Contains('E', E(kFileNotFound, "CreateProcessW")));
  EXPECT_TRUE(sink.Contains('E', E(kFileNotFound, "OnAction")));
}

TEST_F(LaunchersTest,
       ALinkOfAnySchemeGoesToTheHttpProgramAsOneQuotedArgumentUnlessItCouldBreakOut) {
  TestPlatform tp(*proc);
  tp.shell.browser = L"C:\\Browser\\browser.exe";
  Install(tp.shell.browser);
  for (const wchar_t* url : {L"ftp://files.example/a b", L"https://x.example/dir\\"}) {
    std::make_shared<CWebLinkLauncher>(tp, url)->PerformAction();
    machine.RunUntilIdle();
  }
  EXPECT_EQ(CommandLines(), (std::vector<std::wstring>{
                                L"\"C:\\Browser\\browser.exe\" \"ftp://files.example/a b\"",
                                // a closing quotation mark after a backslash needs it doubled
                                L"\"C:\\Browser\\browser.exe\" \"https://x.example/dir\\\\\"",
                            }));
  EXPECT_EQ(tp.shell.asked, (std::vector<std::wstring>{L"http/open/exe", L"http/open/exe"}));

  // One that could break out of its argument is refused before anything is asked or started.
  for (const wchar_t* url : {L"https://x.example/\" --evil", L"https://x.example/\r\nx", L"",
                             L"https://x.example/\x7f"}) {
    std::make_shared<CWebLinkLauncher>(tp, url)->PerformAction();
    machine.RunUntilIdle();
  }
  EXPECT_EQ(CommandLines().size(), 2u);
  EXPECT_EQ(tp.shell.asked.size(), 2u);
  EXPECT_TRUE(ShellOpens().empty());
  const auto errors = sink.Texts('E');
  EXPECT_EQ(std::count(errors.begin(), errors.end(), E(E_INVALIDARG, "Refused URL")), 4);

  // Without an "http" program the shell opens it.
  tp.shell.browser.clear();
  std::make_shared<CWebLinkLauncher>(tp, L"https://x.example/")->PerformAction();
  machine.RunUntilIdle();
  EXPECT_EQ(ShellOpens(), (std::vector<std::wstring>{L"open https://x.example/"}));
  EXPECT_EQ(CommandLines().size(), 2u);
}

TEST_F(LaunchersTest, APasswordManagerEntryGoesToTheQuickLinkLibraryAgainOnceItEnded) {
  InstallQuickLinks(machine);
  auto link = std::make_shared<CPwdManagerLauncher>(plat, L"Bank", L"{5D2C}", 42);
  for (int i = 0; i < 2; ++i) {
    link->PerformAction();
    machine.RunUntilIdle();
    EXPECT_FALSE(link->IsRunning());
  }
  EXPECT_EQ(Links().calls,
            (std::vector<std::pair<std::wstring, LONG>>{{L"{5D2C}", 42}, {L"{5D2C}", 42}}));
}

TEST_F(LaunchersTest, AMissingQuickLinkLibraryOrEntryPointIsTracedWithItsError) {
  std::make_shared<CPwdManagerLauncher>(plat, L"", L"x", 1)->PerformAction();
  machine.RunUntilIdle();
  EXPECT_TRUE(sink.Contains('E', E(HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND), "LoadLibraryW")));

  machine.Modules().Install(kQuickLinkPath, {});
  std::make_shared<CPwdManagerLauncher>(plat, L"", L"x", 1)->PerformAction();
  machine.RunUntilIdle();
  EXPECT_TRUE(sink.Contains('E', E(HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND), "GetProcAddress")));
  EXPECT_TRUE(Links().calls.empty());
}

TEST_F(LaunchersTest, TheProcessStarterQuotesTheProgramAndRefusesWhatItCannotQuote) {
  Install(L"C:\\p q\\r.exe");
  EXPECT_EQ(ProcessStarter(plat, L"C:\\p q\\r.exe", L"-x \"y\""), S_OK);
  EXPECT_EQ(CommandLines(), (std::vector<std::wstring>{L"\"C:\\p q\\r.exe\" -x \"y\""}));
  EXPECT_EQ(ProcessStarter(plat, nullptr, nullptr), E_INVALIDARG);
  EXPECT_EQ(ProcessStarter(plat, L"C:\\a\" b.exe", nullptr), E_INVALIDARG);
  EXPECT_EQ(CommandLines().size(), 1u);
}

}  // namespace
