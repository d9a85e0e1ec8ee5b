// The vdtrace program itself: exit codes, stdout and stderr.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "tests/tools/trace_file_builder.h"

namespace {

namespace fs = std::filesystem;

struct RunResult {
  int exitCode = -1;
  std::string out;
  std::string err;
};

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

}  // namespace
