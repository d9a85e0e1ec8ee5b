// VdAgent.exe end to end, as a real Windows program: started as separate processes from the
// build directory, with the stand-in library in the system directory and tracing switched on
// in the registry. Each case leaves its trace in traces\<case>\ for the native vdtrace check
// (check_traces.sh), which reads them after this program.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>

#include "tests/wine/debug_output_monitor.h"

namespace {

constexpr const wchar_t* kWindowClass = L"Veridane Classic5.x Agent Window Class";
constexpr DWORD kGenerousMs = 30000;  // a bound for a hung program, never a speed claim

std::wstring OwnDir() {
  wchar_t path[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring p(path);
  return p.substr(0, p.find_last_of(L'\\') + 1);
}

std::wstring SystemDir() {
  wchar_t path[MAX_PATH] = {};
  ::GetSystemDirectoryW(path, MAX_PATH);
  return std::wstring(path) + L"\\";
}

// A started program; ended (TerminateProcess) when the test did not see it end.
struct Program {
  PROCESS_INFORMATION pi{};
  bool started = false;
  explicit Program(const std::wstring& commandLine) {
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    std::wstring line = commandLine;
    started = ::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                               OwnDir().c_str(), &si, &pi) != FALSE;
  }
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;
  ~Program() {
    if (!started) return;
    if (::WaitForSingleObject(pi.hProcess, 0) == WAIT_TIMEOUT) ::TerminateProcess(pi.hProcess, 99);
    ::CloseHandle(pi.hThread);
    ::CloseHandle(pi.hProcess);
  }
  // The exit code, or STILL_ACTIVE when it did not end within the bound.
  DWORD WaitExit(DWORD ms = kGenerousMs) {
    if (::WaitForSingleObject(pi.hProcess, ms) != WAIT_OBJECT_0) return STILL_ACTIVE;
    DWORD code = 0;
    ::GetExitCodeProcess(pi.hProcess, &code);
    return code;
  }
  bool Running() { return ::WaitForSingleObject(pi.hProcess, 0) == WAIT_TIMEOUT; }
};

std::wstring Agent(const std::wstring& args = L"") {
  return L"\"" + OwnDir() + L"VdAgent.exe\"" + (args.empty() ? L"" : L" " + args);
}

// append: "NewFileAlways" 0; otherwise the value is removed and its default (recreate the
// file at each start) applies.
void SetTracing(const std::wstring& folder, DWORD on = 1, bool append = true) {
  HKEY key = nullptr;
  ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Veridane\\Tracing", 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  const DWORD zero = 0;
  ::RegSetValueExW(key, L"DoTrace", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&on), 4);
  if (append) {
    ::RegSetValueExW(key, L"NewFileAlways", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&zero), 4);
  } else {
    ::RegDeleteValueW(key, L"NewFileAlways");
  }
  ::RegSetValueExW(key, L"TracePath", 0, REG_SZ, reinterpret_cast<const BYTE*>(folder.c_str()),
                   static_cast<DWORD>((folder.size() + 1) * sizeof(wchar_t)));
  ::RegCloseKey(key);
}

// The stand-in library's machine description, by name; empty: the built-in machine.
void SetDescription(const std::wstring& path) {
  constexpr const wchar_t* kKey = L"SOFTWARE\\Veridane\\StandIns\\VDFPApi";
  if (path.empty()) {
    ::RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kKey, L"DescriptionFile");
    return;
  }
  HKEY key = nullptr;
  ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                              nullptr),
            ERROR_SUCCESS);
  ::RegSetValueExW(key, L"DescriptionFile", 0, REG_SZ, reinterpret_cast<const BYTE*>(path.c_str()),
                   static_cast<DWORD>((path.size() + 1) * sizeof(wchar_t)));
  ::RegCloseKey(key);
}

class AgentE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::wstring name = [] {
      const char* n = ::testing::UnitTest::GetInstance()->current_test_info()->name();
      return std::wstring(n, n + std::strlen(n));
    }();
    const std::wstring root = OwnDir() + L"traces\\";
    ::CreateDirectoryW(root.c_str(), nullptr);
    m_traceDir = root + name + L"\\";
    ::CreateDirectoryW(m_traceDir.c_str(), nullptr);
    const std::wstring old = m_traceDir + L"VdAgent.VdAgent.exe.1.trc3";
    ::DeleteFileW(old.c_str());
    SetTracing(m_traceDir);
    SetDescription(L"");
    InstallLibrary(true);
    ASSERT_EQ(::FindWindowW(kWindowClass, nullptr), nullptr) << "an agent of an earlier case runs";
  }
  void TearDown() override {
    InstallLibrary(true);
    SetDescription(L"");
  }

  static void InstallLibrary(bool present) {
    const std::wstring target = SystemDir() + L"VDFPApi.dll";
    if (present)
      ASSERT_TRUE(::CopyFileW((OwnDir() + L"VDFPApi.dll").c_str(), target.c_str(), FALSE));
    else
      ::DeleteFileW(target.c_str());
  }

  static HWND WaitForWindow(Program& agent) {
    for (DWORD waited = 0; waited < kGenerousMs && agent.Running(); waited += 50) {
      if (HWND w = ::FindWindowW(kWindowClass, nullptr)) return w;
      ::Sleep(50);
    }
    return nullptr;
  }

  std::wstring m_traceDir;
};

// Any prefix character, any letter case: the command runs in this process, which ends at once
// with 0 (no agent window ever appears).
TEST_F(AgentE2E, CommandSwitchEndsAtOnce) {
  for (const wchar_t* sw : {L"/OpenConsole", L"-openconsole", L"/RUNSETUPWIZARD"}) {
    Program cmd(Agent(sw));
    ASSERT_TRUE(cmd.started);
    EXPECT_EQ(cmd.WaitExit(), 0u) << sw;
    EXPECT_EQ(::FindWindowW(kWindowClass, nullptr), nullptr) << sw;
  }
}

// The second agent of a session exits 0 while the first keeps running; the first then ends
// with 0 when its window is closed.
TEST_F(AgentE2E, SecondInstanceThenCloseWindow) {
  // Only the second agent traces: two processes of one session share one trace file, and
  // the first one's records would be written over the second one's.
  SetTracing(m_traceDir, 0);
  Program host(L"\"" + OwnDir() + L"VDHostStandIn.exe\"");
  Program first(Agent());
  ASSERT_TRUE(first.started);
  HWND window = WaitForWindow(first);
  ASSERT_NE(window, nullptr);
  SetTracing(m_traceDir, 1);
  Program second(Agent());
  EXPECT_EQ(second.WaitExit(), 0u);
  EXPECT_TRUE(first.Running());
  ::PostMessageW(window, WM_CLOSE, 0, 0);
  EXPECT_EQ(first.WaitExit(), 0u);
}

// With "NewFileAlways" at its default, a command process and a refused second instance that
// start while the agent runs continue its trace file rather than recreate it: the agent's
// records survive and each newcomer's are preceded by an 'N' record (check_traces.sh).
TEST_F(AgentE2E, LaterProcessesContinueTheRunningAgentsTrace) {
  SetTracing(m_traceDir, 1, /*append=*/false);
  Program host(L"\"" + OwnDir() + L"VDHostStandIn.exe\"");
  Program first(Agent());
  ASSERT_TRUE(first.started);
  HWND window = WaitForWindow(first);
  ASSERT_NE(window, nullptr);
  Program command(Agent(L"-OpenConsole"));
  ASSERT_TRUE(command.started);
  EXPECT_EQ(command.WaitExit(), 0u);
  Program second(Agent());
  ASSERT_TRUE(second.started);
  EXPECT_EQ(second.WaitExit(), 0u);
  EXPECT_TRUE(first.Running());
  ::PostMessageW(window, WM_CLOSE, 0, 0);
  EXPECT_EQ(first.WaitExit(), 0u);
}

// With the library and a host that starts late, the agent becomes ready through its chain
// (checked in the trace by check_traces.sh) and ends with 0 when its window is closed.
TEST_F(AgentE2E, ReadyAfterLateHost) {
  Program first(Agent());
  HWND window = WaitForWindow(first);
  ASSERT_NE(window, nullptr);
  Program host(L"\"" + OwnDir() + L"VDHostStandIn.exe\" -delay 1000");
  ::Sleep(3000);  // lets the pool wait see the event; the trace shows whether ready came
  EXPECT_TRUE(first.Running());
  ::PostMessageW(window, WM_CLOSE, 0, 0);
  EXPECT_EQ(first.WaitExit(), 0u);
}

// No VDFPApi.dll at all: the guarded load fails, every mixin sees the failed ready and the
// agent ends by itself with 0.
TEST_F(AgentE2E, MissingLibraryEndsAgent) {
  InstallLibrary(false);
  Program host(L"\"" + OwnDir() + L"VDHostStandIn.exe\"");
  Program first(Agent());
  ASSERT_TRUE(first.started);
  EXPECT_EQ(first.WaitExit(), 0u);
}

// The description the registry names cannot be used: the library says why, fails the agent's
// initialisation (traced, checked by check_traces.sh) rather than serving the built-in
// machine, and the agent ends by itself with 0.
TEST_F(AgentE2E, BadDescriptionEndsAgent) {
  const std::wstring path = m_traceDir + L"machine.json";
  std::ofstream(std::string(path.begin(), path.end()))
      << R"({"users": [{"name": "alice", "session": 1e30}]})";
  SetDescription(path);
  DebugOutputMonitor monitor;
  ASSERT_TRUE(monitor.Listening());
  Program host(L"\"" + OwnDir() + L"VDHostStandIn.exe\"");
  Program first(Agent());
  ASSERT_TRUE(first.started);
  EXPECT_EQ(first.WaitExit(), 0u);
  EXPECT_TRUE(monitor.Saw("machine.json: \"session\": 1e+30 is out of range")) << monitor.All();
}

}  // namespace
