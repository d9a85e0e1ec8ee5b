// Pure parts of the configuration: the switch word, file names and the OS header line.
#include <gtest/gtest.h>

#include "support/trace/trace_config.h"
#include "support/trace/trace_output.h"

namespace {

using namespace VDTraceNS;

TEST(TraceSwitchWordTest, FoldsTheValuesIntoTheirBits) {
  // Defaults: TraceToFile 1 and NewFileAlways 1 give the low bits 12.
  EXPECT_EQ(MakeSwitchWord(0, 1, 1, 0, 0), 12u);
  EXPECT_EQ(MakeSwitchWord(1, 1, 1, 0, 0), 12u | 32u);
  // NewFileAlways without a file output still sets bit 3 (8) but not bit 2.
  EXPECT_EQ(MakeSwitchWord(1, 0, 1, 0, 0), 8u | 32u);
  // Only exactly 1 selects the file; 2 is "any other value".
  EXPECT_EQ(MakeSwitchWord(1, 2, 0, 0, 0), 32u);
  EXPECT_EQ(MakeSwitchWord(1, 1, 0, 0, 0), 4u | 32u);
  EXPECT_EQ(MakeSwitchWord(7, 1, 0, 3, 9), 4u | 32u | 64u | 128u);
}

TEST(TraceFileNameTest, AgentNameSessionAndFolderRules) {
  const ModuleNames exe = SplitModulePath(L"C:\\Program Files\\Veridane\\Agent\\VdAgent.exe");
  EXPECT_EQ(exe.folder, L"C:\\Program Files\\Veridane\\Agent\\");
  EXPECT_EQ(exe.base, L"VdAgent");
  EXPECT_EQ(exe.ext, L".exe");

  EXPECT_EQ(TraceFileName(L"", TraceFolder(L"", exe), exe, exe, 3),
            L"C:\\Program Files\\Veridane\\Agent\\VdAgent.VdAgent.exe.3.trc3");
  EXPECT_EQ(TraceFileName(L"D:\\t\\my.trc3", L"C:\\x\\", exe, exe, 3), L"D:\\t\\my.trc3");
  EXPECT_EQ(LogFileName(TraceFolder(L"D:\\Logs", exe), exe, 4012), L"D:\\Logs\\VdAgent.4012.log");
  // A trailing backslash is kept, not doubled.
  EXPECT_EQ(TraceFolder(L"D:\\Logs\\", exe), L"D:\\Logs\\");
  // A TracePath longer than a path can be is cut to 259 characters before the backslash.
  const std::wstring longPath = L"D:\\" + std::wstring(400, L'a');
  const std::wstring folder = TraceFolder(longPath, exe);
  EXPECT_EQ(folder.size(), 260u);
  EXPECT_EQ(folder.substr(0, 259), longPath.substr(0, 259));
  EXPECT_EQ(folder.back(), L'\\');
}

TEST(TraceHeaderTest, OperatingSystemLineTakesTheFirstNameThatApplies) {
  const auto os = [](DWORD major, DWORD minor, BYTE type) {
    OSVERSIONINFOEXW v{};
    v.dwMajorVersion = major;
    v.dwMinorVersion = minor;
    v.wProductType = type;
    return OsLine(v);
  };
  constexpr BYTE ws = VER_NT_WORKSTATION;
  constexpr BYTE srv = VER_NT_SERVER;
  // Ranges only where the name says "or later": 10.0, a 6.2 server, a 6.0 server.
  EXPECT_EQ(os(10, 0, ws), "OS: Windows10");
  EXPECT_EQ(os(10, 0, srv), "OS: Windows10");
  EXPECT_EQ(os(11, 2, ws), "OS: Windows10");
  EXPECT_EQ(os(6, 3, srv), "OS: Server2012");
  EXPECT_EQ(os(6, 2, VER_NT_DOMAIN_CONTROLLER), "OS: Server2012");
  EXPECT_EQ(os(6, 2, ws), "OS: Windows8");
  EXPECT_EQ(os(6, 1, ws), "OS: Windows7");
  // A 6.1 server is named by the 6.1 line, which comes before "Server2008".
  EXPECT_EQ(os(6, 1, srv), "OS: Windows7");
  EXPECT_EQ(os(6, 0, srv), "OS: Server2008");
  EXPECT_EQ(os(6, 0, ws), "OS: WindowsVista");
  EXPECT_EQ(os(5, 2, srv), "OS: Server2003");
  EXPECT_EQ(os(5, 1, ws), "OS: WindowsXP");
  EXPECT_EQ(os(5, 0, ws), "OS: Windows2000");
  // Versions between the named ones are not rounded down to the release before them.
  EXPECT_EQ(os(6, 3, ws), "OS: UNKNOWN OS(Major:6 Minor:3)");
  EXPECT_EQ(os(7, 0, ws), "OS: UNKNOWN OS(Major:7 Minor:0)");
  EXPECT_EQ(os(5, 2, ws), "OS: UNKNOWN OS(Major:5 Minor:2)");
  EXPECT_EQ(os(5, 1, srv), "OS: WindowsXP");
  EXPECT_EQ(os(4, 0, ws), "OS: UNKNOWN OS(Major:4 Minor:0)");
}

}  // namespace
