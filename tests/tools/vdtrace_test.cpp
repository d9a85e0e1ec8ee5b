// The vdtrace program itself: exit codes, stdout and stderr.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>

#include "platform/sim/file_system.h"
#include "platform/sim/machine.h"
#include "platform/sim/process.h"
#include "platform/sim/registry_store.h"
#include "support/trace/trace.h"
#include "tests/tools/trace_file_builder.h"

namespace {

namespace fs = std::filesystem;

struct RunResult {
  int exitCode = -1;
  std::string out;
  std::string err;
};

// Single-quoted for the shell (the simulated disk has "program files" in its paths).
std::string Quote(const fs::path& p) {
  std::string q = "'";
  for (char c : p.string()) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

std::string ReadText(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

class VdtraceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_dir = fs::temp_directory_path() /
            ("vdtrace-test-" + std::to_string(::getpid()) + "-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(m_dir);
  }
  void TearDown() override { fs::remove_all(m_dir); }

  fs::path Write(const std::string& name, const std::vector<std::uint8_t>& bytes) {
    const fs::path p = m_dir / name;
    std::ofstream(p, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    return p;
  }

  RunResult Run(const std::string& args) {
    const fs::path out = m_dir / "stdout.txt";
    const fs::path err = m_dir / "stderr.txt";
    const std::string cmd = std::string(VDTRACE_PATH) + " " + args + " >" + out.string() + " 2>" +
                            err.string() + " </dev/null";
    const int status = std::system(cmd.c_str());
    RunResult r;
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    r.out = ReadText(out);
    r.err = ReadText(err);
    return r;
  }

  fs::path m_dir;
};

TEST_F(VdtraceTest, PrintsAGoodFileAndExitsZero) {
  vdtest::TraceFileBuilder f;
  f.Header().Record(9, 't', "12/31/26").Record(9, 'T', "23:59:59.999").Record(9, '>', "S");
  const RunResult r = Run(Write("good.trc3", f.Bytes()).string());
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out,
            "trace3\nTrace Ver: 3.0.1\n.\n"
            "12/31/26 --:--:--.---      9 t 12/31/26\n"
            "12/31/26 23:59:59.999      9 T 23:59:59.999\n"
            "12/31/26 23:59:59.999      9 > S\n");
}

TEST_F(VdtraceTest, BadInputExitsNonZeroNamingTheOffset) {
  vdtest::TraceFileBuilder f;
  f.Header().Record(1, 'U', "whole");
  const std::size_t cutAt = f.Size();
  f.Record(1, 'U', "cut short");
  std::vector<std::uint8_t> truncated = f.Bytes();
  truncated.pop_back();
  RunResult r = Run(Write("cut.trc3", truncated).string());
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("offset " + std::to_string(cutAt) + ": truncated record"), std::string::npos)
      << r.err;
  EXPECT_NE(r.out.find("whole"), std::string::npos);  // records before the damage are shown

  std::vector<std::uint8_t> random(4096);
  std::uint32_t x = 12345;
  for (auto& b : random) b = static_cast<std::uint8_t>((x = x * 1103515245u + 12345u) >> 24);
  r = Run(Write("random.bin", random).string());
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("offset 0: not a trace file"), std::string::npos) << r.err;

  r = Run(
      Write("header.trc3", vdtest::TraceFileBuilder().Line("trace3").Line("x").Bytes()).string());
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("bad header"), std::string::npos) << r.err;
}

TEST_F(VdtraceTest, UsageAndMissingFilesAreErrors) {
  EXPECT_EQ(Run("").exitCode, 2);
  EXPECT_EQ(Run("--bogus x").exitCode, 2);
  const RunResult r = Run((m_dir / "missing.trc3").string());
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_NE(r.err.find("missing.trc3"), std::string::npos);
}

// ---- Files written by the tracer on a simulated machine ----

constexpr const wchar_t* kTracing = L"HKLM\\SOFTWARE\\Veridane\\Tracing";
constexpr const wchar_t* kTraceFile =
    L"C:\\Program Files\\Veridane\\Agent\\VdAgent.VdAgent.exe.1.trc3";

// One run of a traced "agent": nested scopes, a message and a failed result.
void AgentRun(sim::Machine& machine, const char* what) {
  auto agent = machine.CreateProcess({});
  VDTraceNS::Bind(agent.get());
  {
    VDTraceNS::CScope outer("CVdAgentMain::OnCreate");
    outer.Msg("%s", what);
    VDTraceNS::CScope inner("CPolicy::Init");
    machine.AdvanceBy(1234);
    inner.Result("VDFPInit", E_FAIL);
  }
  VDTraceNS::Bind(nullptr);
}

TEST_F(VdtraceTest, ReadsAFileWrittenByTheTracer) {
  sim::Machine machine;
  machine.Registry().SetDword(kTracing, L"DoTrace", 1);
  AgentRun(machine, "first run");
  const RunResult r = Run(Quote(machine.Files().HostPath(kTraceFile)));
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out.rfind("trace3\n", 0), 0u);
  EXPECT_NE(r.out.find("\nTrace Ver: 3.0.1\n"), std::string::npos);
  EXPECT_NE(r.out.find("\n.\n"), std::string::npos);
  // Records: time from the 't' and 'T' records, nesting by indentation.
  const std::regex tid(R"( +\d+ )");
  std::string body = r.out.substr(r.out.find("\n.\n") + 3);
  body = std::regex_replace(body, tid, " # ");
  EXPECT_EQ(body,
            "03/02/26 --:--:--.--- # t 03/02/26\n"
            "03/02/26 08:00:00.000 # T 08:00:00.000\n"
            "03/02/26 08:00:00.000 # > CVdAgentMain::OnCreate\n"
            "03/02/26 08:00:00.000 # U   first run\n"
            "03/02/26 08:00:00.000 # >   CPolicy::Init\n"
            "03/02/26 08:00:01.234 # T 08:00:01.234\n"
            "03/02/26 08:00:01.234 # E     -2147467259 VDFPInit\n"
            "03/02/26 08:00:01.234 # <   CPolicy::Init\n"
            "03/02/26 08:00:01.234 # < CVdAgentMain::OnCreate\n");
}

TEST_F(VdtraceTest, ReadsAFileContinuedAfterARestart) {
  sim::Machine machine;
  machine.Registry().SetDword(kTracing, L"DoTrace", 1);
  machine.Registry().SetDword(kTracing, L"NewFileAlways", 0);
  AgentRun(machine, "first run");
  machine.AdvanceBy(60000);
  AgentRun(machine, "second run");
  const RunResult r = Run(Quote(machine.Files().HostPath(kTraceFile)));
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("U   first run"), std::string::npos);
  EXPECT_NE(r.out.find(" N 03-02-2026\n"), std::string::npos);
  EXPECT_NE(r.out.find("08:00:01.234 "), std::string::npos);
  EXPECT_NE(r.out.find("08:01:01.234 "), std::string::npos);
  EXPECT_NE(r.out.find("U   second run"), std::string::npos);
  EXPECT_EQ(r.out.find("trace3"), r.out.rfind("trace3"));  // one header
}

TEST_F(VdtraceTest, CorruptedTracerFilesGiveAnErrorExit) {
  sim::Machine machine;
  machine.Registry().SetDword(kTracing, L"DoTrace", 1);
  AgentRun(machine, "run");
  const std::string good = ReadText(machine.Files().HostPath(kTraceFile));
  const std::vector<std::uint8_t> bytes(good.begin(), good.end());

  std::vector<std::uint8_t> truncated(bytes.begin(), bytes.end() - 5);
  RunResult r = Run(Write("truncated.trc3", truncated).string());
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("truncated record"), std::string::npos) << r.err;

  std::vector<std::uint8_t> badHeader = bytes;
  badHeader[3] = 'X';  // "traXe3"
  r = Run(Write("badheader.trc3", badHeader).string());
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("offset 3: not a trace file"), std::string::npos) << r.err;

  // The type byte of the first record flipped: the record no longer deciphers to a known type.
  const std::size_t firstRecord = good.find("\r\n.\r\n") + 5;
  std::vector<std::uint8_t> badType = bytes;
  badType[firstRecord + 4] ^= 0x40;
  r = Run(Write("badtype.trc3", badType).string());
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("offset " + std::to_string(firstRecord) + ": bad record"), std::string::npos)
      << r.err;
}

}  // namespace
