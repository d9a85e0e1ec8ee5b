// Tracing in a simulated agent process: the registry switches it, the trace and log files
// land on the machine's disk, and the virtual clock drives the refresh and the time records.
#include <gtest/gtest.h>

#include <latch>
#include <map>
#include <regex>
#include <thread>

#include "platform/sim/file_system.h"
#include "platform/sim/machine.h"
#include "platform/sim/process.h"
#include "platform/sim/registry_store.h"
#include "support/trace/trace.h"
#include "support/trace/trace_format.h"
#include "support/trace/trace_output.h"
#include "support/trace/trace_sink.h"
#include "tests/support/trace_test_util.h"

namespace {

using vdtest::ReadTraceFile;
using vdtest::TraceFileContents;
using VDTraceNS::CScope;

constexpr const wchar_t* kTracing = L"HKLM\\SOFTWARE\\Veridane\\Tracing";
constexpr const wchar_t* kAgentFolder = L"C:\\Program Files\\Veridane\\Agent\\";
constexpr const wchar_t* kTraceFile =
    L"C:\\Program Files\\Veridane\\Agent\\VdAgent.VdAgent.exe.1.trc3";

class TraceSimTest : public ::testing::Test {
 protected:
  explicit TraceSimTest(sim::MachineDescription desc = {}) : m_machine(std::move(desc)) {}
  ~TraceSimTest() override { StopAgent(); }

  void StartAgent(sim::ProcessOptions opts = {}) {
    m_agent = m_machine.CreateProcess(opts);
    VDTraceNS::Bind(m_agent.get());
  }
  void StopAgent() {
    VDTraceNS::Bind(nullptr);
    m_agent.reset();
  }
  sim::RegistryStore& Reg() { return m_machine.Registry(); }
  TraceFileContents Trace(const wchar_t* path = kTraceFile) {
    return ReadTraceFile(m_machine.Files().HostPath(path));
  }
  bool HostFileExists(const wchar_t* path) {
    return std::filesystem::exists(m_machine.Files().HostPath(path));
  }
  // One traced operation of the agent.
  static void Work(const char* text = "working") {
    CScope ts("CAgent::Work");
    ts.Msg("%s", text);
  }
  // A message record written straight to an output, as another process's tracer would.
  static void WriteMessage(VDTraceNS::CFileOutput& out, const std::string& text) {
    BYTE rec[VDTraceNS::kRecordHeaderSize + 64];
    const std::size_t n = VDTraceNS::EncodeRecord(rec, 7, 'U', text);
    out.Write(rec, n);
  }

  sim::Machine m_machine;
  std::unique_ptr<sim::Process> m_agent;
};

// ---- Switching tracing on and off in a running process ----

TEST_F(TraceSimTest, DoTraceSetInARunningAgentStartsRecordsWithin30SecondsAndStopsWhenCleared) {
  StartAgent();
  Work("off");  // reads the key: nothing there, tracing stays off
  EXPECT_FALSE(HostFileExists(kTraceFile));

  Reg().SetDword(kTracing, L"DoTrace", 1);
  m_machine.AdvanceBy(29999);
  Work("not yet");
  EXPECT_FALSE(HostFileExists(kTraceFile));

  m_machine.AdvanceBy(1);
  Work("on");
  TraceFileContents t = Trace();
  ASSERT_TRUE(t.ok) << t.error;
  EXPECT_EQ(t.Types(), "tT>U<");
  EXPECT_EQ(t.Texts('U'), (std::vector<std::string>{"on"}));
  EXPECT_EQ(t.Texts('T'), (std::vector<std::string>{"08:00:30.000"}));

  Reg().SetDword(kTracing, L"DoTrace", 0);
  m_machine.AdvanceBy(10000);
  Work("still on until the next refresh");
  m_machine.AdvanceBy(20000);
  Work("off again");
  m_machine.AdvanceBy(60000);
  Work("off again");
  t = Trace();
  EXPECT_EQ(t.Texts('U'), (std::vector<std::string>{"on", "still on until the next refresh"}));
}

// ---- The trace file ----

TEST_F(TraceSimTest, NewFileStartsWithThePlainHeader) {
  Reg().SetDword(kTracing, L"DoTrace", 1);
  // The agent is a 32-bit process: its default view of HKLM\SOFTWARE is the 32-bit one.
  Reg().SetString(L"HKLM\\SOFTWARE\\WOW6432Node\\Veridane\\Products\\Lumera", L"Version", L"5.1.2");
  Reg().CreateKey(L"HKLM\\SOFTWARE\\WOW6432Node\\Veridane\\Products\\NoVersion");
  Reg().SetDword(L"HKLM\\SOFTWARE\\WOW6432Node\\Policies\\Veridane\\Lumera", L"NetworkSupport", 1);
  m_machine.Files().SetFileVersion(L"C:\\Program Files\\Veridane\\Agent\\VdAgent.exe",
                                   {5, 2, 0, 100});
  StartAgent();
  Work();
  const TraceFileContents t = Trace();
  ASSERT_TRUE(t.ok) << t.error;
  ASSERT_EQ(t.header.size(), 13u);
  EXPECT_EQ(t.header[0], "trace3");
  EXPECT_TRUE(std::regex_match(
      t.header[1], std::regex(R"(Compiled: [A-Z][a-z]{2} [ 1-3]\d \d{4} \d\d:\d\d:\d\d)")))
      << t.header[1];
  EXPECT_EQ(t.header[2], "File location: C:\\Program Files\\Veridane\\Agent\\VdAgent.exe");
  EXPECT_EQ(t.header[3], "OS: Windows10");
  EXPECT_EQ(t.header[4], "ServicePack: ");
  EXPECT_EQ(t.header[5], "Machine name: VDSIM-PC");
  EXPECT_EQ(t.header[6], "Trace Ver: 3.0.1");
  EXPECT_EQ(t.header[7], "FileVersion: 5.2.0.100");
  EXPECT_EQ(t.header[8], "Product: Lumera; Version: 5.1.2");
  EXPECT_EQ(t.header[9], "Product: NoVersion; Version: ERROR(0x2)");
  EXPECT_EQ(t.header[10], "installation: NETWORK");
  EXPECT_EQ(t.header[11], "03/02/2026 08:00:00.000");
  EXPECT_EQ(t.header[12], ".");
}

TEST_F(TraceSimTest, HeaderWithoutProductsOnAServer) {
  sim::MachineDescription desc;
  desc.osMajor = 6;
  desc.osMinor = 1;
  desc.productType = VER_NT_SERVER;
  desc.servicePack = L"Service Pack 1";
  sim::Machine machine(desc);
  machine.Registry().SetDword(kTracing, L"DoTrace", 1);
  auto agent = machine.CreateProcess({});
  VDTraceNS::Bind(agent.get());
  Work();
  VDTraceNS::Bind(nullptr);
  const TraceFileContents t = ReadTraceFile(machine.Files().HostPath(kTraceFile));
  ASSERT_TRUE(t.ok) << t.error;
  ASSERT_GE(t.header.size(), 11u);
  EXPECT_EQ(t.header[3], "OS: Windows7");  // the 6.1 line comes before "Server2008"
  EXPECT_EQ(t.header[4], "ServicePack: Service Pack 1");
  EXPECT_EQ(t.header[7], "FileVersion: UNKNOWN");
  EXPECT_EQ(t.header[8], "No Printvue products found");
  EXPECT_EQ(t.header[9], "installation: LOCAL");
}

TEST_F(TraceSimTest, ResultsAreRecordedOnlyForFailures) {
  Reg().SetDword(kTracing, L"DoTrace", 1);
  StartAgent();
  {
    CScope ts("CPolicy::Init");
    ts.Result("VDFPGetPolicy", S_OK);
    ts.Result("VDFPInit", E_FAIL);
  }
  const TraceFileContents t = Trace();
  ASSERT_TRUE(t.ok) << t.error;
  EXPECT_EQ(t.Types(), "tT>E<");
  EXPECT_EQ(t.Texts('E'), (std::vector<std::string>{"-2147467259 VDFPInit"}));
}

TEST_F(TraceSimTest, EachStartRecreatesTheFileByDefault) {
  Reg().SetDword(kTracing, L"DoTrace", 1);
  StartAgent();
  Work("first run");
  StopAgent();
  StartAgent();
  Work("second run");
  const TraceFileContents t = Trace();
  ASSERT_TRUE(t.ok) << t.error;
  EXPECT_EQ(t.Texts('U'), (std::vector<std::string>{"second run"}));
}

TEST_F(TraceSimTest, NewFileAlwaysZeroContinuesTheFileAfterAnNRecord) {
  Reg().SetDword(kTracing, L"DoTrace", 1);
  Reg().SetDword(kTracing, L"NewFileAlways", 0);
  StartAgent();
  Work("first run");
  StopAgent();
  m_machine.AdvanceBy(26LL * 3600 * 1000);  // the next day, 10:00
  StartAgent();
  Work("second run");
  const TraceFileContents t = Trace();
  ASSERT_TRUE(t.ok) << t.error;  // a second header would not parse as records
  EXPECT_EQ(std::count(t.header.begin(), t.header.end(), "trace3"), 1);
  EXPECT_EQ(t.Types(), "tT>U<NtT>U<");
  EXPECT_EQ(t.Texts('N'), (std::vector<std::string>{"03-03-2026"}));
  EXPECT_EQ(t.Texts('t'), (std::vector<std::string>{"03/02/26", "03/03/26"}));
  EXPECT_EQ(t.Texts('U'), (std::vector<std::string>{"first run", "second run"}));
}

TEST_F(TraceSimTest, TwoProcessesContinuingOneFileKeepEachOthersRecords) {
  // A second agent of the session (on its way out as a second instance) or a command
  // process writes the same file while the first still traces: records interleave, none
  // overwrites another.
  auto first = m_machine.CreateProcess({});
  auto second = m_machine.CreateProcess({});
  VDTraceNS::CFileOutput a(*first, kTraceFile, /*newFileAlways=*/false);
  VDTraceNS::CFileOutput b(*second, kTraceFile, /*newFileAlways=*/false);
  ASSERT_TRUE(a.IsOpen());
  ASSERT_TRUE(b.IsOpen());
  WriteMessage(a, "a1");
  WriteMessage(b, "b1");
  WriteMessage(a, "a2");
  WriteMessage(b, "b2");
  const TraceFileContents t = Trace();
  ASSERT_TRUE(t.ok) << t.error;
  EXPECT_EQ(t.Texts('U'), (std::vector<std::string>{"a1", "b1", "a2", "b2"}));
}

TEST_F(TraceSimTest, ASecondProcessContinuesTheFileTheRunningAgentWrites) {
  // A command process (-OpenConsole), the About box or a refused second instance starts
  // while the agent traces: with "NewFileAlways" at its default it must not wipe the
  // agent's records, only mark with 'N' where its own begin.
  Reg().SetDword(kTracing, L"DoTrace", 1);
  StartAgent();
  Work("agent before");
  m_machine.AdvanceBy(1000);
  {
    auto command = m_machine.CreateProcess({});
    VDTraceNS::CFileOutput out(*command, kTraceFile, /*newFileAlways=*/true);
    ASSERT_TRUE(out.IsOpen());
    WriteMessage(out, "command");
    // The command ends here; the agent goes on.
  }
  Work("agent after");
  StopAgent();
  TraceFileContents t = Trace();
  ASSERT_TRUE(t.ok) << t.error;  // a second header would not parse as records
  EXPECT_EQ(std::count(t.header.begin(), t.header.end(), "trace3"), 1);
  EXPECT_EQ(t.Types(), "tT>U<NUT>U<");
  EXPECT_EQ(t.Texts('N'), (std::vector<std::string>{"03-02-2026"}));
  EXPECT_EQ(t.Texts('U'), (std::vector<std::string>{"agent before", "command", "agent after"}));

  // Nobody holds the file any more: the next start recreates it.
  StartAgent();
  Work("next run");
  t = Trace();
  ASSERT_TRUE(t.ok) << t.error;
  EXPECT_EQ(t.Types(), "tT>U<");
  EXPECT_EQ(t.Texts('U'), (std::vector<std::string>{"next run"}));
}

TEST_F(TraceSimTest, ScopesAndRecordsKeepTheCallersLastError) {
  // Code reads GetLastError after opening a scope (CVDFPInit does); the scope's refresh
  // reads the key and its first record creates the trace and log files, all of which set
  // the last error on Windows.
  Reg().SetDword(kTracing, L"DoTrace", 1);
  Reg().SetDword(kTracing, L"DoLog", 1);
  StartAgent();
  platform::IKernel& k = m_agent->Kernel();
  const auto failedCall = [&] {
    ASSERT_EQ(k.OpenEventW(SYNCHRONIZE, FALSE, L"No Such Event"), nullptr);
    ASSERT_EQ(k.GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  };
  for (const char* round : {"first scope: refresh, new files", "next refresh, files open"}) {
    SCOPED_TRACE(round);
    failedCall();
    {
      CScope ts("CVDFPInit::CVDFPInit");
      EXPECT_EQ(k.GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
      ts.Msg("Error is 0x%X", static_cast<unsigned>(HRESULT_FROM_WIN32(k.GetLastError())));
      ts.Result("VDFPInit", E_FAIL);
      EXPECT_EQ(k.GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    }
    EXPECT_EQ(k.GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    m_machine.AdvanceBy(30000);
  }
  const TraceFileContents t = Trace();
  ASSERT_TRUE(t.ok) << t.error;
  EXPECT_EQ(t.Texts('U'), (std::vector<std::string>{"Error is 0x80070002", "Error is 0x80070002"}));
}

TEST_F(TraceSimTest, SwitchingOffAndOnAgainKeepsWritingTheSameFile) {
  // The output lives as long as the process: a refresh must not recreate the file (and with
  // "NewFileAlways" wipe what was traced before).
  Reg().SetDword(kTracing, L"DoTrace", 1);
  StartAgent();
  Work("one");
  Reg().SetDword(kTracing, L"DoTrace", 0);
  m_machine.AdvanceBy(30000);
  Work("dropped");
  Reg().SetDword(kTracing, L"DoTrace", 1);
  Reg().SetDword(kTracing, L"TraceToFile", 0);  // too late: the output was chosen already
  m_machine.AdvanceBy(30000);
  Work("two");
  const TraceFileContents t = Trace();
  ASSERT_TRUE(t.ok) << t.error;
  EXPECT_EQ(t.Texts('U'), (std::vector<std::string>{"one", "two"}));
}

TEST_F(TraceSimTest, ConcurrentScopesInterleaveRecordByRecord) {
  Reg().SetDword(kTracing, L"DoTrace", 1);
  StartAgent();
  Work("main thread first");  // the first scope reads the configuration
  constexpr int kThreads = 4;
  constexpr int kScopes = 200;
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([i] {
      for (int n = 0; n < kScopes; ++n) {
        CScope ts("CWorker::Run");
        ts.Msg("thread %d scope %d", i, n);
      }
    });
  }
  for (auto& t : threads) t.join();
  const TraceFileContents t = Trace();
  ASSERT_TRUE(t.ok) << t.error;
  EXPECT_EQ(t.Texts('U').size(), static_cast<std::size_t>(kThreads * kScopes + 1));
  EXPECT_EQ(t.Texts('>').size(), static_cast<std::size_t>(kThreads * kScopes + 1));
  // Per thread, every message sits inside its own scope.
  std::map<DWORD, int> depth;
  for (const auto& r : t.records) {
    if (r.type == '>') ++depth[r.threadId];
    if (r.type == '<') --depth[r.threadId];
    if (r.type == 'U') {
      EXPECT_EQ(depth[r.threadId], 1);
    }
  }
}

TEST_F(TraceSimTest, TraceToFileOtherThanOneWritesNoTraceFile) {
  Reg().SetDword(kTracing, L"DoTrace", 1);
  Reg().SetDword(kTracing, L"TraceToFile", 2);
  StartAgent();
  Work();
  EXPECT_FALSE(HostFileExists(kTraceFile));
}

TEST_F(TraceSimTest, TracePathAndFileNameChooseWhereTheFileGoes) {
  std::filesystem::create_directories(m_machine.Files().HostPath(L"C:\\Logs"));
  Reg().SetDword(kTracing, L"DoTrace", 1);
  Reg().SetString(kTracing, L"TracePath", L"C:\\Logs");  // no trailing backslash
  StartAgent();
  Work("in folder");
  StopAgent();
  EXPECT_EQ(Trace(L"C:\\Logs\\VdAgent.VdAgent.exe.1.trc3").Texts('U'),
            (std::vector<std::string>{"in folder"}));

  Reg().SetString(kTracing, L"FileName", L"C:\\Logs\\named.trc3");
  StartAgent({.sessionId = 2});
  Work("named");
  EXPECT_EQ(Trace(L"C:\\Logs\\named.trc3").Texts('U'), (std::vector<std::string>{"named"}));
  EXPECT_FALSE(HostFileExists(L"C:\\Logs\\VdAgent.VdAgent.exe.2.trc3"));
}

TEST_F(TraceSimTest, SessionIdIsPartOfTheDefaultName) {
  Reg().SetDword(kTracing, L"DoTrace", 1);
  StartAgent({.sessionId = 3});
  Work("session three");
  EXPECT_EQ(Trace(L"C:\\Program Files\\Veridane\\Agent\\VdAgent.VdAgent.exe.3.trc3").Texts('U'),
            (std::vector<std::string>{"session three"}));
}

// ---- Which view the key is read from ----

TEST_F(TraceSimTest, The32BitViewWinsWhenItHasTheKey) {
  // A 32-bit agent finds the key in its own view first; the 64-bit one is only a fallback.
  Reg().SetDword(L"HKLM\\SOFTWARE\\WOW6432Node\\Veridane\\Tracing", L"DoTrace", 0);
  Reg().SetDword(kTracing, L"DoTrace", 1);
  StartAgent();
  Work();
  EXPECT_FALSE(HostFileExists(kTraceFile));
  StopAgent();

  StartAgent({.is32Bit = false});
  Work();
  EXPECT_TRUE(HostFileExists(kTraceFile));
}

// ---- Component filter, verbosity and profiling (captured through a sink) ----

class TraceFilterTest : public TraceSimTest {
 protected:
  void SetUp() override { Reg().SetDword(kTracing, L"DoTrace", 1); }
  // Whether a fresh agent records anything under the current registry.
  bool Records() {
    VDTraceNS::CRecordingSink sink(VDTraceNS::SinkMode::kFollowRegistry);
    StartAgent();
    Work();
    StopAgent();
    return !sink.Texts('U').empty();
  }
};

TEST_F(TraceFilterTest, ComponentsNotNamingTheModuleSilencesIt) {
  EXPECT_TRUE(Records());
  Reg().SetDword(kTracing + std::wstring(L"\\ComponentsNOT"), L"OtherModule", 1);
  EXPECT_TRUE(Records());
  Reg().SetDword(kTracing + std::wstring(L"\\ComponentsNOT"), L"vdAGENT", 1);  // any case
  EXPECT_FALSE(Records());
  // Listed in both: "NOT" wins.
  Reg().SetDword(kTracing + std::wstring(L"\\Components"), L"VdAgent", 1);
  EXPECT_FALSE(Records());
}

TEST_F(TraceFilterTest, ComponentsKeyEnablesOnlyTheModulesItLists) {
  Reg().CreateKey(kTracing + std::wstring(L"\\Components"));
  EXPECT_TRUE(Records());  // an empty key changes nothing
  Reg().SetDword(kTracing + std::wstring(L"\\Components"), L"VdHost", 1);
  EXPECT_FALSE(Records());
  Reg().SetString(kTracing + std::wstring(L"\\Components"), L"VDAGENT", L"");
  EXPECT_TRUE(Records());
}

TEST_F(TraceFilterTest, FilterAndVerbosityAreReadAgainOnlyWhenTheSwitchWordChanges) {
  VDTraceNS::CRecordingSink sink(VDTraceNS::SinkMode::kFollowRegistry);
  StartAgent();
  const auto levelOne = [](const char* text) {
    CScope ts("CAgent::Detail", 1);
    ts.Msg("%s", text);
  };
  levelOne("verbosity 0");
  Reg().SetDword(kTracing, L"Verbosity", 1);
  m_machine.AdvanceBy(30000);
  levelOne("verbosity alone changed");
  Reg().SetDword(kTracing, L"DoLog", 1);  // with a sink no log file is written
  m_machine.AdvanceBy(30000);
  levelOne("switch word changed");
  EXPECT_EQ(sink.Texts('U'), (std::vector<std::string>{"switch word changed"}));

  Reg().SetDword(kTracing + std::wstring(L"\\ComponentsNOT"), L"VdAgent", 1);
  m_machine.AdvanceBy(30000);
  Work("filter alone changed");
  Reg().SetDword(kTracing, L"DoLog", 0);
  m_machine.AdvanceBy(30000);
  Work("switch word changed again");
  EXPECT_EQ(sink.Texts('U'),
            (std::vector<std::string>{"switch word changed", "filter alone changed"}));
}

TEST_F(TraceFilterTest, VerbosityBoundsTheAbsoluteScopeLevel) {
  VDTraceNS::CRecordingSink sink(VDTraceNS::SinkMode::kFollowRegistry);
  StartAgent();
  {
    CScope l0("L0", 0);
    CScope l1("L1", 1);
    l1.Msg("in L1");
  }
  StopAgent();
  Reg().SetDword(kTracing, L"Verbosity", 2);
  StartAgent();
  {
    CScope l2("L2", 2);
    CScope m2("M2", -2);
    CScope l3("L3", 3);
    l3.Msg("in L3");
    l3.Result("L3 failed", E_FAIL);
    CScope m3("M3", -3);
  }
  EXPECT_EQ(sink.Texts('>'), (std::vector<std::string>{"L0", "L2", "M2"}));
  EXPECT_EQ(sink.Texts('<'), (std::vector<std::string>{"L0", "M2", "L2"}));
  EXPECT_TRUE(sink.Texts('U').empty());
  EXPECT_TRUE(sink.Texts('E').empty());
}

TEST_F(TraceFilterTest, ProfilingKeepsScopesAndResultsButDropsMessagesAndTags) {
  Reg().SetDword(kTracing, L"DoProfiling", 1);
  VDTraceNS::CRecordingSink sink(VDTraceNS::SinkMode::kFollowRegistry);
  StartAgent();
  {
    CScope ts("P");
    ts.Msg("dropped");
    ts.Msg(L"dropped too");
    ts.Tag("dropped tag");
    ts.Result("kept", E_FAIL);
  }
  std::string types;
  for (const auto& r : sink.Records()) types += r.type;
  EXPECT_EQ(types, "tT>E<");
}

// ---- Time records ----

class TraceMidnightTest : public TraceSimTest {
 protected:
  static sim::MachineDescription NearMidnight() {
    sim::MachineDescription d;
    d.bootUtc = {2026, 12, 0, 31, 23, 59, 59, 900};
    return d;
  }
  TraceMidnightTest() : TraceSimTest(NearMidnight()) {}
};

TEST_F(TraceMidnightTest, FirstRecordAfterMidnightIsPrecededByTheNewDate) {
  Reg().SetDword(kTracing, L"DoTrace", 1);
  StartAgent();
  {
    CScope ts("CAgent::Work");
    ts.Msg("same millisecond");  // no second date or time record
    m_machine.AdvanceBy(200);
    ts.Msg("new year");
  }
  const TraceFileContents t = Trace();
  ASSERT_TRUE(t.ok) << t.error;
  EXPECT_EQ(t.Types(), "tT>UtTU<");
  EXPECT_EQ(t.Texts('t'), (std::vector<std::string>{"12/31/26", "01/01/27"}));
  EXPECT_EQ(t.Texts('T'), (std::vector<std::string>{"23:59:59.900", "00:00:00.100"}));
}

// ---- Log file ----

std::u16string Utf16Le(const std::string& bytes) {
  std::u16string out;
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
    out += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                 (static_cast<unsigned char>(bytes[i + 1]) << 8));
  return out;
}

TEST_F(TraceSimTest, LogFileGetsMessagesAndResultsAsUtf16LinesAfterOneByteOrderMark) {
  Reg().SetDword(kTracing, L"DoTrace", 1);
  Reg().SetDword(kTracing, L"DoLog", 1);
  Reg().SetDword(kTracing, L"TraceToFile", 0);
  StartAgent();
  const std::wstring log =
      std::wstring(kAgentFolder) + L"VdAgent." + std::to_wstring(m_agent->Pid()) + L".log";
  {
    CScope ts("CAgent::Log");
    ts.Msg(L"caf\u00E9 %d", 1);
    m_machine.AdvanceBy(1500);
    ts.Result("VDFPInit", E_FAIL);
    ts.Tag("not in the log");
  }
  // The same process binds again (the log name has the pid): the file is continued.
  VDTraceNS::Bind(nullptr);
  VDTraceNS::Bind(m_agent.get());
  Work("again");
  EXPECT_FALSE(HostFileExists(kTraceFile));

  const std::string bytes = vdtest::ReadHostFile(m_machine.Files().HostPath(log.c_str()));
  ASSERT_GE(bytes.size(), 2u);
  EXPECT_EQ(static_cast<unsigned char>(bytes[0]), 0xFF);
  EXPECT_EQ(static_cast<unsigned char>(bytes[1]), 0xFE);
  EXPECT_EQ(Utf16Le(bytes.substr(2)),
            u"08:00:00.000 caf\u00E9 1\r\n"
            u"*ERR* 08:00:01.500 -2147467259 VDFPInit\r\n"
            u"08:00:01.500 again\r\n");
}

TEST_F(TraceSimTest, FileStreamAfterASinkStartsWithItsOwnDateAndTime) {
  Reg().SetDword(kTracing, L"DoTrace", 1);
  StartAgent();
  {
    VDTraceNS::CRecordingSink sink;
    Work("to the sink");
    EXPECT_EQ(sink.Texts('t').size(), 1u);
  }
  Work("to the file");  // same date, same millisecond
  const TraceFileContents t = Trace();
  ASSERT_TRUE(t.ok) << t.error;
  EXPECT_EQ(t.Types(), "tT>U<");
  EXPECT_EQ(t.Texts('U'), (std::vector<std::string>{"to the file"}));
}

// ---- Threads ----

TEST_F(TraceSimTest, RecordsCarryTheWritingThreadsId) {
  VDTraceNS::CRecordingSink sink;
  StartAgent();
  DWORD tidA = 0;
  DWORD tidB = 0;
  // Both threads alive at once: the host may reuse a finished thread's identity.
  std::latch bothAlive(2);
  std::thread a([&] {
    tidA = m_agent->Kernel().GetCurrentThreadId();
    Work("a");
    bothAlive.arrive_and_wait();
  });
  std::thread b([&] {
    tidB = m_agent->Kernel().GetCurrentThreadId();
    Work("b");
    bothAlive.arrive_and_wait();
  });
  a.join();
  b.join();
  ASSERT_NE(tidA, tidB);
  for (const auto& r : sink.Records()) {
    if (r.type == 'U') {
      EXPECT_EQ(r.threadId, r.text == "a" ? tidA : tidB);
    }
  }
  EXPECT_EQ(sink.Texts('U').size(), 2u);
}

}  // namespace
