// VdAgent.exe end to end, as a real Windows program: started as separate processes from the
// build directory, with the stand-in library in the system directory and tracing switched on
// in the registry. Each case leaves its trace in traces\<case>\ for the native vdtrace check
// (check_traces.sh), which reads them after this program.
#include <windows.h>

#include <gtest/gtest.h>

#include <sddl.h>
#include <shellapi.h>
#define SECURITY_WIN32
#include <security.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <vector>

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
    // The card library beside it, always there: its absence has tests of its own.
    ASSERT_TRUE(::CopyFileW((OwnDir() + L"VDSCApi.dll").c_str(),
                            (SystemDir() + L"VDSCApi.dll").c_str(), FALSE));
    ASSERT_EQ(::FindWindowW(kWindowClass, nullptr), nullptr) << "an agent of an earlier case runs";
    // The console stand-in, started as %NXWDINSTALLPATH%Veridane.Lumera.Console.exe: agents
    // inherit this process's environment. It logs each start to ConsoleLog().
    ::SetEnvironmentVariableW(L"NXWDINSTALLPATH", OwnDir().c_str());
    ::DeleteFileW(ConsoleLog().c_str());
  }
  static std::wstring ConsoleLog() { return OwnDir() + L"Veridane.Lumera.Console.log"; }
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

// Datagrams written before the agent is ready wait in its session's mailslot; once ready the
// inbox delivers them in order with the repeat dropped: two proximity messages and one lock
// (which Wine refuses, traced). Under Wine the zero-length read then fails and the inbox
// retries; closing the window still stops it at once.
TEST_F(AgentE2E, MailslotDatagramsBeforeReady) {
  Program first(Agent());
  HWND window = WaitForWindow(first);
  ASSERT_NE(window, nullptr);
  DWORD session = 0;
  ASSERT_TRUE(::ProcessIdToSessionId(::GetCurrentProcessId(), &session));
  const std::wstring path =
      L"\\\\.\\mailslot\\{2FFE588A-4B8E-4F7F-A927-4162BD973FF2}:" + std::to_wstring(session);
  HANDLE slot = ::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              0, nullptr);
  ASSERT_NE(slot, INVALID_HANDLE_VALUE);
  const DWORD datagrams[][2] = {{7, 2}, {7, 2}, {8, 5}};
  for (const auto& d : datagrams) {
    BYTE bytes[8];
    for (int i = 0; i < 4; ++i) {
      bytes[i] = static_cast<BYTE>(d[0] >> (8 * i));
      bytes[4 + i] = static_cast<BYTE>(d[1] >> (8 * i));
    }
    DWORD written = 0;
    EXPECT_TRUE(::WriteFile(slot, bytes, sizeof bytes, &written, nullptr));
  }
  ::CloseHandle(slot);
  Program host(L"\"" + OwnDir() + L"VDHostStandIn.exe\" -delay 1000");
  ::Sleep(3000);  // ready comes, then the inbox reads what waits
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
  EXPECT_TRUE(monitor.SawWithin("machine.json: \"session\": 1e+30 is out of range")) << monitor.All();
}

// ---- Quick actions and kiosk sessions with the suite's stand-ins installed ----

std::string Narrow(const std::wstring& w) {
  std::string s;
  for (wchar_t c : w) s += static_cast<char>(c);
  return s;
}

// A JSON string literal of an ASCII text (account names, SIDs).
std::string JsonText(const std::wstring& w) {
  std::string s = "\"";
  for (char c : Narrow(w)) {
    if (c == '"' || c == '\\') s += '\\';
    s += c;
  }
  return s + "\"";
}

std::vector<std::string> ReadLines(const std::wstring& path) {
  std::vector<std::string> lines;
  std::ifstream in(Narrow(path));
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

// Polls until `done` holds or the bound passes; whether it held.
bool WaitUntil(const std::function<bool()>& done, DWORD ms = kGenerousMs) {
  for (DWORD waited = 0; waited < ms; waited += 100) {
    if (done()) return true;
    ::Sleep(100);
  }
  return done();
}

void SetString(HKEY root, const wchar_t* path, const wchar_t* name, const std::wstring& value) {
  ASSERT_EQ(::RegSetKeyValueW(root, path, name, REG_SZ, value.c_str(),
                              static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))),
            ERROR_SUCCESS);
}

void SetDword(HKEY root, const wchar_t* path, const wchar_t* name, DWORD value) {
  ASSERT_EQ(::RegSetKeyValueW(root, path, name, REG_DWORD, &value, sizeof(value)), ERROR_SUCCESS);
}

// Who runs this test, as the stand-in library must know the session's user.
struct SessionAccount {
  std::wstring name;  // short name
  std::wstring sam;   // "COMPUTER\\name", as the agent asks for the session's user
  std::wstring sid;
  std::wstring computer;
  DWORD session = 0;
};

SessionAccount ThisAccount() {
  SessionAccount a;
  wchar_t buf[512] = {};
  DWORD n = 512;
  if (::GetUserNameW(buf, &n)) a.name = buf;
  ULONG un = 512;
  if (::GetUserNameExW(NameSamCompatible, buf, &un)) a.sam = buf;
  n = 512;
  if (::GetComputerNameW(buf, &n)) a.computer = buf;
  ::ProcessIdToSessionId(::GetCurrentProcessId(), &a.session);
  HANDLE token = nullptr;
  if (::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) {
    BYTE user[256] = {};
    DWORD size = sizeof(user);
    LPWSTR text = nullptr;
    if (::GetTokenInformation(token, TokenUser, user, size, &size) &&
        ::ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(user)->User.Sid, &text)) {
      a.sid = text;
      ::LocalFree(text);
    }
    ::CloseHandle(token);
  }
  return a;
}

constexpr const wchar_t* kApplicationsKey = L"SOFTWARE\\Veridane\\Applications";
constexpr const wchar_t* kPwdMgrClass =
    L"SOFTWARE\\Classes\\CLSID\\{FA676DEB-D10A-4D84-925D-66B4C232D571}";
constexpr const wchar_t* kQuickActionsKey =
    L"SOFTWARE\\Veridane\\Applications\\KwAppSettings\\QuickActions";
constexpr const wchar_t* kKioskLogonKey = L"SOFTWARE\\Veridane\\Kiosk\\Logon";
constexpr const wchar_t* kLumeraPolicyKey = L"SOFTWARE\\Policies\\Veridane\\Lumera";
// The second account the stand-in knows, the kiosk user that takes over.
constexpr const wchar_t* kOtherUser = L"kioskbob";

// The agent with the suite's stand-ins installed as an installer would: the runner and the
// fast-connect component in the folder BinDir names (the build folder, where they log), the
// password manager registered (its "training tool" record in VDPwdMgr.log is the agent's own
// ready, which comes after every mixin's: the acquisition has started and the kiosk user is
// known by then). The stand-in library knows this account with a fingerprint enrolled and
// says there is no WBF reader, so the agent acquires.
class AgentSuiteE2E : public AgentE2E {
 protected:
  void SetUp() override {
    AgentE2E::SetUp();
    if (HasFatalFailure()) return;
    m_account = ThisAccount();
    ASSERT_FALSE(m_account.name.empty() || m_account.sam.empty() || m_account.sid.empty());
    WriteDescription();
    SetString(HKEY_LOCAL_MACHINE, kApplicationsKey, L"BinDir", OwnDir());
    SetString(HKEY_LOCAL_MACHINE, (std::wstring(kPwdMgrClass) + L"\\InprocServer32").c_str(),
              nullptr, OwnDir() + L"VDPwdMgr.dll");
    ::DeleteFileW(RunnerLog().c_str());
    ::DeleteFileW((OwnDir() + L"VDPwdMgr.log").c_str());
  }
  void TearDown() override {
    ::RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kApplicationsKey, L"BinDir");
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, kPwdMgrClass);
    ::RegDeleteKeyValueW(HKEY_CURRENT_USER, kQuickActionsKey, L"Finger");
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Veridane\\Kiosk");
    ::RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kLumeraPolicyKey, L"KioskUnlockScript");
    AgentE2E::TearDown();
  }

  static std::wstring RunnerLog() { return OwnDir() + L"VDRunDll.log"; }

  // The machine description the stand-in libraries read; `more` adds top-level members and
  // `policies` more entries of "policySettings" (each text starts with a comma).
  void WriteDescription(const std::string& more = "", const std::string& policies = "") {
    const std::wstring path = m_traceDir + L"machine.json";
    std::ofstream(Narrow(path), std::ios::trunc)
        << "{\"computerName\": " << JsonText(m_account.computer) << ",\n"
        << " \"users\": [{\"name\": " << JsonText(m_account.name)
        << ", \"sid\": " << JsonText(m_account.sid) << ", \"session\": " << m_account.session
        << ", \"names\": {\"SAM\": " << JsonText(m_account.sam) << "},"
        << " \"enrolled\": " << m_enrolled << "},\n"
        << "   {\"name\": " << JsonText(kOtherUser) << ", \"enrolled\": [\"Fingerprint\"]}],\n"
        << more << " \"policySettings\": [{\"name\": \"MS_WINBIO_Compatibility\", \"type\": 4,"
        << " \"value\": 0, \"status\": 0}" << policies << "]}\n";
    SetDescription(path);
  }

  // The line the runner logs when started for `entry` of the fast-connect component.
  static bool IsFastConnectRun(const std::string& line, const char* entry) {
    // Built by appending: GCC 12 at -O3 warns falsely (-Wrestrict) on "literal" + string&&.
    std::string tail = "\"";
    tail += Narrow(OwnDir());
    tail += "VDFstCon.dll\" ";
    tail += entry;
    return line.find("VDRunDll.exe") != std::string::npos && line.size() >= tail.size() &&
           line.compare(line.size() - tail.size(), tail.size(), tail) == 0;
  }

  // The agent's window once its ready has run to the end; null when it never did.
  HWND StartReadyAgent(Program& agent) {
    HWND window = WaitForWindow(agent);
    if (!window) return nullptr;
    const bool ready = WaitUntil([] {
      for (const auto& line : ReadLines(OwnDir() + L"VDPwdMgr.log"))
        if (line == "training tool") return true;
      return false;
    });
    return ready ? window : nullptr;
  }

  SessionAccount m_account;
  // The session user's enrolled credentials in the description.
  std::string m_enrolled = R"(["Password", "Fingerprint"])";
};

// A finger of the session's user with "Finger" = "FastConnect": the runner starts the
// fast-connect component's "VDFCRun".
TEST_F(AgentSuiteE2E, FingerTouchRunsFastConnect) {
  SetString(HKEY_CURRENT_USER, kQuickActionsKey, L"Finger", L"FastConnect");
  Program host(L"\"" + OwnDir() + L"VDHostStandIn.exe\"");
  Program agent(Agent());
  ASSERT_TRUE(agent.started);
  HWND window = StartReadyAgent(agent);
  ASSERT_NE(window, nullptr);
  Program touch(L"\"" + OwnDir() + L"VDHostStandIn.exe\" -touch " + m_account.name);
  EXPECT_EQ(touch.WaitExit(), 0u);
  EXPECT_TRUE(WaitUntil([] { return !ReadLines(RunnerLog()).empty(); }));
  const auto lines = ReadLines(RunnerLog());
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_TRUE(IsFastConnectRun(lines[0], "VDFCRun")) << lines[0];
  ::PostMessageW(window, WM_CLOSE, 0, 0);
  EXPECT_EQ(agent.WaitExit(), 0u);
}

// The hotkey with "Finger" = "LockWorkstation" and no password manager's fill-in to hand the
// lock to: the agent locks itself (check_traces.sh reads "Locking the workstation (no PM)").
// Wine's LockWorkStation fails with 120, so the lock itself is asserted on the simulated
// machine only.
TEST_F(AgentSuiteE2E, HotKeyLocksWorkstation) {
  SetString(HKEY_CURRENT_USER, kQuickActionsKey, L"Finger", L"LockWorkstation");
  Program host(L"\"" + OwnDir() + L"VDHostStandIn.exe\"");
  Program agent(Agent());
  ASSERT_TRUE(agent.started);
  HWND window = StartReadyAgent(agent);
  ASSERT_NE(window, nullptr);
  // Posted messages are handled in order: the close comes after the hotkey's action.
  ::PostMessageW(window, WM_HOTKEY, 1, 0);
  ::PostMessageW(window, WM_CLOSE, 0, 0);
  EXPECT_EQ(agent.WaitExit(), 0u);
  EXPECT_TRUE(ReadLines(RunnerLog()).empty());
}

// A kiosk session: at ready, at a lock and at an unlock the fast-connect component runs its
// logon, log-off and logon entries; an unlock that finds another kiosk user recorded runs the
// administrator's unlock program, named by a "\\?\" path, once. Wine sends no session
// changes: the test posts them.
TEST_F(AgentSuiteE2E, KioskLockAndUnlock) {
  // The unlock program, where an administrator would put it: on drive C.
  const std::wstring folder = L"C:\\vd-e2e";
  ::CreateDirectoryW(folder.c_str(), nullptr);
  const std::wstring probe = folder + L"\\unlock_probe.exe";
  ASSERT_TRUE(::CopyFileW((OwnDir() + L"unlock_probe.exe").c_str(), probe.c_str(), FALSE));
  const std::wstring probeLog = m_traceDir + L"unlock_probe.log";
  ::DeleteFileW(probeLog.c_str());
  // Inherited by the agent and from it by the program it starts.
  ASSERT_TRUE(::SetEnvironmentVariableW(L"VD_UNLOCK_PROBE_LOG", probeLog.c_str()));
  SetString(HKEY_LOCAL_MACHINE, kLumeraPolicyKey, L"KioskUnlockScript", L"\\\\?\\" + probe);
  SetDword(HKEY_LOCAL_MACHINE, kKioskLogonKey, L"KioskLogon", 1);
  const std::wstring session =
      L"SOFTWARE\\Veridane\\Kiosk\\Session\\" + std::to_wstring(m_account.session);
  SetDword(HKEY_LOCAL_MACHINE, session.c_str(), L"KioskAccount", 1);
  SetString(HKEY_LOCAL_MACHINE, session.c_str(), L"KioskUser", m_account.sam);
  SetDword(HKEY_LOCAL_MACHINE, session.c_str(), L"KioskUserType", 3);  // SAM

  Program host(L"\"" + OwnDir() + L"VDHostStandIn.exe\"");
  Program agent(Agent());
  ASSERT_TRUE(agent.started);
  HWND window = StartReadyAgent(agent);
  ASSERT_NE(window, nullptr);
  const auto runs = [](std::size_t n) {
    return WaitUntil([n] { return ReadLines(RunnerLog()).size() >= n; });
  };
  // One at a time: each runner logs when it runs, which need not be the order of the starts.
  EXPECT_TRUE(runs(1));
  ::PostMessageW(window, WM_WTSSESSION_CHANGE, WTS_SESSION_LOCK, 0);
  EXPECT_TRUE(runs(2));
  SetString(HKEY_LOCAL_MACHINE, session.c_str(), L"KioskUser", std::wstring(kOtherUser));
  SetDword(HKEY_LOCAL_MACHINE, session.c_str(), L"KioskUserType", 4);  // simple name
  ::PostMessageW(window, WM_WTSSESSION_CHANGE, WTS_SESSION_UNLOCK, 0);
  EXPECT_TRUE(runs(3));
  // The agent waits for the unlock program before it handles the next message.
  ::PostMessageW(window, WM_CLOSE, 0, 0);
  EXPECT_EQ(agent.WaitExit(), 0u);
  ::SetEnvironmentVariableW(L"VD_UNLOCK_PROBE_LOG", nullptr);

  const auto lines = ReadLines(RunnerLog());
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_TRUE(IsFastConnectRun(lines[0], "VDFCRunLogon")) << lines[0];
  EXPECT_TRUE(IsFastConnectRun(lines[1], "VDFCLogoffUser")) << lines[1];
  EXPECT_TRUE(IsFastConnectRun(lines[2], "VDFCRunLogon")) << lines[2];
  EXPECT_EQ(ReadLines(probeLog), std::vector<std::string>{"unlocked"});
}

// The suite's event-log component (the stand-in, logging to VDEvtLog.log beside itself)
// registered for the agent: a lock and a log-off of the session's user become its records.
// Wine sends neither: the test posts the lock and sends the end of session as Windows would,
// first a cancelled one.
TEST_F(AgentSuiteE2E, LockAndLogOffReachTheEventLog) {
  constexpr const wchar_t* kEventLogClass =
      L"SOFTWARE\\Classes\\CLSID\\{337779A6-4848-428E-BE47-5C1C951794A7}";
  SetString(HKEY_LOCAL_MACHINE, (std::wstring(kEventLogClass) + L"\\InprocServer32").c_str(),
            nullptr, OwnDir() + L"VDEvtLog.dll");
  const std::wstring log = OwnDir() + L"VDEvtLog.log";
  ::DeleteFileW(log.c_str());

  Program host(L"\"" + OwnDir() + L"VDHostStandIn.exe\"");
  Program agent(Agent());
  ASSERT_TRUE(agent.started);
  HWND window = StartReadyAgent(agent);
  ASSERT_NE(window, nullptr);
  const auto records = [&log](std::size_t n) {
    return WaitUntil([&log, n] { return ReadLines(log).size() >= n; });
  };
  ::PostMessageW(window, WM_WTSSESSION_CHANGE, WTS_SESSION_LOCK, 0);
  EXPECT_TRUE(records(1));
  DWORD_PTR answer = 0;
  // A log-off someone refused: the session goes on and nothing is recorded for it.
  EXPECT_NE(::SendMessageTimeoutW(window, WM_ENDSESSION, FALSE, ENDSESSION_LOGOFF, SMTO_BLOCK,
                                  kGenerousMs, &answer),
            0);
  EXPECT_NE(::SendMessageTimeoutW(window, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF, SMTO_BLOCK,
                                  kGenerousMs, &answer),
            0);
  EXPECT_TRUE(records(2));
  ::PostMessageW(window, WM_CLOSE, 0, 0);
  EXPECT_NE(agent.WaitExit(), STILL_ACTIVE);
  ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, kEventLogClass);

  // The agent's own source, by its GUID text, and the user's name as the one string.
  const std::string source = "{FB4CA59D-9C36-4DA7-A1E8-E0E3FA7A77B0}: event ";
  // Built by appending: GCC 12 at -O3 warns falsely (-Wrestrict) on "literal" + string&&.
  std::string user = "\"";
  user += Narrow(m_account.name);
  user += "\"";
  std::string domainUser = "\\";  // behind its domain: "COMPUTER\\name"
  domainUser.append(user, 1);
  const auto lines = ReadLines(log);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].rfind(source + "0x41101305 (information, category 0x1300) ", 0), 0u)
      << lines[0];
  EXPECT_EQ(lines[1].rfind(source + "0x41101306 (information, category 0x1300) ", 0), 0u)
      << lines[1];
  for (const auto& line : lines) {
    const bool named =
        line.find(user) != std::string::npos || line.find(domainUser) != std::string::npos;
    EXPECT_TRUE(named) << line;
  }
}

// The password manager's fill-in component registered for the agent (the stand-in, answering
// command 100 with "ShowMenu" as SuiteStandIns.json beside it says): a touch hands the user
// over, the reply opens the mini dashboard (VDPwdMgr.log), and replies forged by another
// program with any wParam and lParam are each traced (check_traces.sh) without harm: a
// "ShowMenu" posted afterwards still opens the dashboard.
TEST_F(AgentSuiteE2E, FillInReplyOpensTheDashboardAndForgedRepliesAreSurvived) {
  constexpr const wchar_t* kFillInKey =
      L"SOFTWARE\\Veridane\\Applications\\Agent\\PlugIns\\{3FDDA325-1EE7-4dc3-8A5C-6C60D3982A37}";
  constexpr UINT kReplyMessage = 1424;
  const std::wstring description = OwnDir() + L"SuiteStandIns.json";
  std::ofstream(Narrow(description), std::ios::trunc)
      << R"({"fillIn": {"commands": {"100": {"result": 1, "reply": [1, 1]}}},)"
      << R"( "passwordManager": {"dashboardOpenMs": 300}})"
      << "\n";
  SetString(HKEY_LOCAL_MACHINE, kFillInKey, nullptr, OwnDir() + L"VDKwsPlugin.dll");
  struct Cleanup {
    std::wstring description;
    ~Cleanup() {
      ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, kFillInKey);
      ::DeleteFileW(description.c_str());
    }
  } cleanup{description};
  const std::wstring kwsLog = OwnDir() + L"VDKws.log";
  ::DeleteFileW(kwsLog.c_str());
  const auto dashboards = [] {
    std::size_t closed = 0;
    for (const auto& line : ReadLines(OwnDir() + L"VDPwdMgr.log"))
      if (line == "mini dashboard closed") ++closed;
    return closed;
  };

  Program host(L"\"" + OwnDir() + L"VDHostStandIn.exe\"");
  Program agent(Agent());
  ASSERT_TRUE(agent.started);
  HWND window = StartReadyAgent(agent);
  ASSERT_NE(window, nullptr);
  Program touch(L"\"" + OwnDir() + L"VDHostStandIn.exe\" -touch " + m_account.name);
  EXPECT_EQ(touch.WaitExit(), 0u);
  EXPECT_TRUE(WaitUntil([&] { return dashboards() == 1; })) << "the reply opened no dashboard";

  struct Forged {
    WPARAM wParam;
    LPARAM lParam;
  } const forged[] = {
      {0, 0}, {3, 1}, {1, -1}, {1, 7}, {2, -1}, {2, 0}, {static_cast<WPARAM>(-1), 0x12345678},
      {1, 0}};
  for (const auto& f : forged)
    EXPECT_TRUE(::PostMessageW(window, kReplyMessage, f.wParam, f.lParam));
  EXPECT_TRUE(::PostMessageW(window, kReplyMessage, 1, 1));
  EXPECT_TRUE(WaitUntil([&] { return dashboards() == 2; })) << "the agent no longer answers";
  ::PostMessageW(window, WM_CLOSE, 0, 0);
  EXPECT_EQ(agent.WaitExit(), 0u);

  const auto pm = ReadLines(OwnDir() + L"VDPwdMgr.log");
  EXPECT_EQ(pm, (std::vector<std::string>{
                    "training tool", "mini dashboard opened trained 0", "mini dashboard closed",
                    "mini dashboard opened trained 0", "mini dashboard closed"}));
  const auto kws = ReadLines(kwsLog);
  ASSERT_FALSE(kws.empty());
  EXPECT_EQ(kws.front(), "init message 1424");
  EXPECT_TRUE(std::any_of(kws.begin(), kws.end(), [](const std::string& l) {
    return l.rfind("command 100 param 0x", 0) == 0;
  }));
  EXPECT_EQ(kws.back(), "terminate");
}

// ---- The notification-area icon, its menu, policies and cards ----

constexpr const wchar_t* kKwAppSettingsKey = L"SOFTWARE\\Veridane\\Applications\\KwAppSettings";
constexpr const wchar_t* kPolicyKey = L"SOFTWARE\\Veridane\\Policies";
constexpr const wchar_t* kLogonKey = L"SOFTWARE\\Veridane\\Applications\\Logon";

// Sends `msg` and waits for the agent to have handled it; whether it did.
bool SendToAgent(HWND window, UINT msg, WPARAM wParam = 0, LPARAM lParam = 0) {
  DWORD_PTR answer = 0;
  return ::SendMessageTimeoutW(window, msg, wParam, lParam, SMTO_BLOCK, kGenerousMs, &answer) != 0;
}

// A visible popup menu window of process `pid`; null when there is none.
HWND VisibleMenuOf(DWORD pid) {
  for (HWND w = ::FindWindowExW(nullptr, nullptr, L"#32768", nullptr); w;
       w = ::FindWindowExW(nullptr, w, L"#32768", nullptr)) {
    DWORD owner = 0;
    ::GetWindowThreadProcessId(w, &owner);
    if (owner == pid && ::IsWindowVisible(w)) return w;
  }
  return nullptr;
}

class AgentTrayE2E : public AgentSuiteE2E {
 protected:
  void TearDown() override {
    ::RegDeleteKeyValueW(HKEY_CURRENT_USER, kKwAppSettingsKey, L"ShowTaskbarIcon");
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Veridane\\VDNX\\Plugins\\TrayIcon");
    AgentSuiteE2E::TearDown();
  }
};

// The icon is added at the start; a restarted taskbar's "TaskbarCreated" adds it again, and
// "VdSettingsChanged" hides or shows it as "ShowTaskbarIcon" now says. The calls and their
// outcome are read in the trace (check_traces.sh): Wine's tray has no view from outside.
TEST_F(AgentTrayE2E, IconFollowsTaskbarAndSettings) {
  ::RegDeleteKeyValueW(HKEY_CURRENT_USER, kKwAppSettingsKey, L"ShowTaskbarIcon");
  Program host(L"\"" + OwnDir() + L"VDHostStandIn.exe\"");
  Program agent(Agent());
  ASSERT_TRUE(agent.started);
  HWND window = StartReadyAgent(agent);
  ASSERT_NE(window, nullptr);
  EXPECT_TRUE(SendToAgent(window, ::RegisterWindowMessageW(L"TaskbarCreated")));
  const UINT settingsChanged = ::RegisterWindowMessageW(L"VdSettingsChanged");
  SetDword(HKEY_CURRENT_USER, kKwAppSettingsKey, L"ShowTaskbarIcon", 0);
  EXPECT_TRUE(SendToAgent(window, settingsChanged));
  SetDword(HKEY_CURRENT_USER, kKwAppSettingsKey, L"ShowTaskbarIcon", 1);
  EXPECT_TRUE(SendToAgent(window, settingsChanged));
  EXPECT_TRUE(agent.Running());
  ::PostMessageW(window, WM_CLOSE, 0, 0);
  EXPECT_EQ(agent.WaitExit(), 0u);
}

// A theme change reloads the icons, which asks the real uxtheme and GDI for the taskbar's
// colour (Wine has no active theme: the fallback colour is the one traced).
TEST_F(AgentTrayE2E, ThemeChangeReadsTaskbarColour) {
  Program host(L"\"" + OwnDir() + L"VDHostStandIn.exe\"");
  Program agent(Agent());
  ASSERT_TRUE(agent.started);
  HWND window = StartReadyAgent(agent);
  ASSERT_NE(window, nullptr);
  EXPECT_TRUE(SendToAgent(window, WM_THEMECHANGED));
  EXPECT_TRUE(agent.Running());
  ::PostMessageW(window, WM_CLOSE, 0, 0);
  EXPECT_EQ(agent.WaitExit(), 0u);
}

// A right click on the icon, as the shell reports it, opens the real menu; Escape closes it
// and the agent goes on.
TEST_F(AgentTrayE2E, RightClickOpensMenuEscapeClosesIt) {
  Program host(L"\"" + OwnDir() + L"VDHostStandIn.exe\"");
  Program agent(Agent());
  ASSERT_TRUE(agent.started);
  HWND window = StartReadyAgent(agent);
  ASSERT_NE(window, nullptr);
  const DWORD pid = agent.pi.dwProcessId;
  ASSERT_EQ(VisibleMenuOf(pid), nullptr);
  ::PostMessageW(window, WM_USER + 100, 0, WM_RBUTTONUP);
  HWND menu = nullptr;
  EXPECT_TRUE(WaitUntil([&] { return (menu = VisibleMenuOf(pid)) != nullptr; }));
  ASSERT_NE(menu, nullptr);
  ::PostMessageW(menu, WM_KEYDOWN, VK_ESCAPE, 0);
  EXPECT_TRUE(WaitUntil([&] { return VisibleMenuOf(pid) == nullptr; }));
  // The window answers again once the menu's loop has ended.
  EXPECT_TRUE(SendToAgent(window, WM_NULL));
  EXPECT_TRUE(agent.Running());
  ::PostMessageW(window, WM_CLOSE, 0, 0);
  EXPECT_EQ(agent.WaitExit(), 0u);
}

// A window of this test, which sees the broadcasts the agent sends.
class BroadcastWatcher {
 public:
  BroadcastWatcher() {
    WNDCLASSW wc{};
    wc.lpfnWndProc = &Proc;
    wc.lpszClassName = L"VdE2EBroadcastWatcher";
    ::RegisterClassW(&wc);
    m_window = ::CreateWindowW(wc.lpszClassName, L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                               nullptr, nullptr);
    s_policyChanges = 0;
  }
  ~BroadcastWatcher() {
    if (m_window) ::DestroyWindow(m_window);
  }
  BroadcastWatcher(const BroadcastWatcher&) = delete;
  BroadcastWatcher& operator=(const BroadcastWatcher&) = delete;
  bool Created() const { return m_window != nullptr; }
  // Handles this thread's messages until a policy change arrived; whether one did.
  bool WaitPolicyChange() {
    for (DWORD waited = 0; waited < kGenerousMs && s_policyChanges == 0; waited += 20) {
      ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
      MSG m;
      while (::PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&m);
    }
    return s_policyChanges > 0;
  }

 private:
  static LRESULT CALLBACK Proc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_SETTINGCHANGE && lp &&
        ::lstrcmpiW(reinterpret_cast<const wchar_t*>(lp), L"Policy") == 0)
      ++s_policyChanges;
    return ::DefWindowProcW(h, msg, wp, lp);
  }
  static inline int s_policyChanges = 0;
  HWND m_window = nullptr;
};

// A write under the machine's policy key while the agent runs: the agent's watcher broadcasts
// the policy change (this test's window sees it) and the agent's own window refreshes the
// policy (check_traces.sh).
TEST_F(AgentSuiteE2E, PolicyWriteIsBroadcastAndRefreshed) {
  SetDword(HKEY_LOCAL_MACHINE, kPolicyKey, L"E2EProbe", 0);
  BroadcastWatcher watcher;
  ASSERT_TRUE(watcher.Created());
  Program host(L"\"" + OwnDir() + L"VDHostStandIn.exe\"");
  Program agent(Agent());
  ASSERT_TRUE(agent.started);
  HWND window = StartReadyAgent(agent);
  ASSERT_NE(window, nullptr);
  SetDword(HKEY_LOCAL_MACHINE, kPolicyKey, L"E2EProbe", 1);
  EXPECT_TRUE(watcher.WaitPolicyChange());
  // The broadcast goes to one window after the other: give the agent's its turn before the
  // close is posted (the trace shows whether it came).
  ::Sleep(1000);
  EXPECT_TRUE(agent.Running());
  ::PostMessageW(window, WM_CLOSE, 0, 0);
  EXPECT_EQ(agent.WaitExit(), 0u);
  ::RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kPolicyKey, L"E2EProbe");
}

// A smart card of the session's user pulled from its reader, with "LockUponSmartcardRemoval"
// on and the session logged on with a smart card: the agent locks the workstation. Wine's
// LockWorkStation fails with 120; the trace shows the agent tried and reported the failure
// rather than a lock (check_traces.sh).
TEST_F(AgentSuiteE2E, PulledCardLocksWorkstation) {
  WriteDescription(
      " \"cardReaders\": [{\"name\": \"Wine Reader\"}],\n"
      " \"cards\": [{\"name\": \"badge\", \"type\": 1, \"id\": 4660, \"owner\": " +
          JsonText(m_account.name) + "}],\n",
      ", {\"name\": \"LockUponSmartcardRemoval\", \"type\": 4, \"value\": 1,"
      " \"status\": 0}");
  const std::wstring logon = std::wstring(kLogonKey) + L"\\" + std::to_wstring(m_account.session);
  ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, logon.c_str());
  Program host(L"\"" + OwnDir() + L"VDHostStandIn.exe\"");
  Program agent(Agent());
  ASSERT_TRUE(agent.started);
  HWND window = StartReadyAgent(agent);
  ASSERT_NE(window, nullptr);
  // Written after the start, so the start's check for a card already gone finds no card
  // logon to act on.
  const ULONGLONG methods = 0x4;  // smart card
  ASSERT_EQ(::RegSetKeyValueW(HKEY_LOCAL_MACHINE, logon.c_str(), L"Methods", REG_QWORD, &methods,
                              sizeof(methods)),
            ERROR_SUCCESS);
  const auto drive = [](const std::wstring& args) {
    Program card(L"\"" + OwnDir() + L"VDCardStandIn.exe\" " + args);
    return card.started ? card.WaitExit() : 0xFFFFFFFF;
  };
  EXPECT_EQ(drive(L"insert \"Wine Reader\" badge"), 0u);
  EXPECT_EQ(drive(L"remove \"Wine Reader\""), 0u);
  // The agent checks a removal after a moment (a card put back at once is no removal): let
  // that check run before the close.
  ::Sleep(4000);
  EXPECT_TRUE(agent.Running());
  ::PostMessageW(window, WM_CLOSE, 0, 0);
  EXPECT_EQ(agent.WaitExit(), 0u);
  ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, logon.c_str());
}

// ---- Start-up reminders, prompts, toasts and the toast activator ----

constexpr const wchar_t* kAgentSettingsKey = L"SOFTWARE\\Veridane\\Applications\\Agent";
constexpr const wchar_t* kAppDefaultsKey = L"Software\\Wine\\AppDefaults\\VdAgent.exe";
constexpr UINT kDontAskAgainBox = 1021;

// A DWORD of the user's settings as the agent's settings store reads and writes them (the
// suite's 32-bit view); nothing when absent.
std::optional<DWORD> UserSetting(const wchar_t* path, const wchar_t* name) {
  HKEY key = nullptr;
  if (::RegOpenKeyExW(HKEY_CURRENT_USER, path, 0, KEY_READ | KEY_WOW64_32KEY, &key) !=
      ERROR_SUCCESS)
    return std::nullopt;
  DWORD value = 0, size = sizeof(value), type = REG_NONE;
  const LSTATUS s =
      ::RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
  ::RegCloseKey(key);
  if (s != ERROR_SUCCESS || type != REG_DWORD) return std::nullopt;
  return value;
}

void SetUserSetting(const wchar_t* path, const wchar_t* name, std::optional<DWORD> value) {
  HKEY key = nullptr;
  ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, path, 0, nullptr, 0,
                              KEY_ALL_ACCESS | KEY_WOW64_32KEY, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  if (value)
    ::RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&*value), 4);
  else
    ::RegDeleteValueW(key, name);
  ::RegCloseKey(key);
}

// A visible dialog window (#32770) of process `pid`; null when there is none.
HWND VisibleDialogOf(DWORD pid) {
  for (HWND w = ::FindWindowExW(nullptr, nullptr, L"#32770", nullptr); w;
       w = ::FindWindowExW(nullptr, w, L"#32770", nullptr)) {
    DWORD owner = 0;
    ::GetWindowThreadProcessId(w, &owner);
    if (owner == pid && ::IsWindowVisible(w)) return w;
  }
  return nullptr;
}

bool FileHasLine(const std::wstring& path, const std::function<bool(const std::string&)>& match) {
  const auto lines = ReadLines(path);
  return std::any_of(lines.begin(), lines.end(), match);
}

// A user of the session with only the password enrolled who never finished a first enrollment:
// the start-up sequence reminds them, once the shell accepts notifications.
class AgentReminderE2E : public AgentSuiteE2E {
 protected:
  void SetUp() override {
    AgentSuiteE2E::SetUp();
    if (HasFatalFailure()) return;
    m_enrolled = R"(["Password"])";
    WriteDescription();
    SetUserSetting(kKwAppSettingsKey, L"UserEnrollmentComplete", 0);
    SetUserSetting(kKwAppSettingsKey, L"LogonCount", std::nullopt);
    SetUserSetting(kAgentSettingsKey, L"ShowUserWizard", std::nullopt);
    SetUserSetting(kKwAppSettingsKey, L"LastLogonPolicyTokens", std::nullopt);
  }
  void TearDown() override {
    SetUserSetting(kKwAppSettingsKey, L"UserEnrollmentComplete", std::nullopt);
    SetUserSetting(kKwAppSettingsKey, L"LastLogonPolicyTokens", std::nullopt);
    SetUserSetting(kKwAppSettingsKey, L"LogonCount", std::nullopt);
    SetUserSetting(kAgentSettingsKey, L"ShowUserWizard", std::nullopt);
    ::RegDeleteTreeW(HKEY_CURRENT_USER, kAppDefaultsKey);
    ::DeleteFileW((OwnDir() + L"VDWinRTUtils.answer").c_str());
    AgentSuiteE2E::TearDown();
  }
};

// Windows 7 (the prefix's own version): the reminder is the modal start-up prompt. Its "do not
// ask again" box ticked and the prompt cancelled, the wizard is off for this user and no
// console was started.
TEST_F(AgentReminderE2E, StartupPromptRemembersDontAskAgain) {
  Program host(L"\"" + OwnDir() + L"VDHostStandIn.exe\"");
  Program agent(Agent());
  ASSERT_TRUE(agent.started);
  HWND window = StartReadyAgent(agent);
  ASSERT_NE(window, nullptr);
  const DWORD pid = agent.pi.dwProcessId;
  HWND dialog = nullptr;
  ASSERT_TRUE(WaitUntil([&] { return (dialog = VisibleDialogOf(pid)) != nullptr; }))
      << "no start-up prompt";
  HWND box = ::GetDlgItem(dialog, kDontAskAgainBox);
  ASSERT_NE(box, nullptr);
  DWORD_PTR answer = 0;
  ASSERT_NE(::SendMessageTimeoutW(box, BM_CLICK, 0, 0, SMTO_BLOCK, kGenerousMs, &answer), 0);
  EXPECT_EQ(::SendMessageW(box, BM_GETCHECK, 0, 0), BST_CHECKED);
  if (HWND cancel = ::GetDlgItem(dialog, IDCANCEL))
    ::PostMessageW(cancel, BM_CLICK, 0, 0);
  else
    ::PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
  EXPECT_TRUE(WaitUntil([&] { return VisibleDialogOf(pid) == nullptr; }));
  EXPECT_TRUE(WaitUntil([] { return UserSetting(kAgentSettingsKey, L"ShowUserWizard") == 0u; }));
  EXPECT_TRUE(SendToAgent(window, WM_NULL));
  ::PostMessageW(window, WM_CLOSE, 0, 0);
  EXPECT_EQ(agent.WaitExit(), 0u);
  EXPECT_TRUE(ReadLines(ConsoleLog()).empty()) << "a cancelled prompt started the console";
}

// Windows 7, a user with every credential of the policy on a later logon, whose policy now
// suggests credentials not suggested before: the additional-credentials notice is a balloon.
// Wine never reports balloon clicks, so the test posts the click the shell would; it runs
// the notice's action, the console's credential management.
TEST_F(AgentReminderE2E, BalloonClickManagesCredentials) {
  m_enrolled = R"(["Password", "Fingerprint"])";
  WriteDescription();
  SetUserSetting(kKwAppSettingsKey, L"LogonCount", 1);
  Program host(L"\"" + OwnDir() + L"VDHostStandIn.exe\"");
  Program agent(Agent());
  ASSERT_TRUE(agent.started);
  HWND window = StartReadyAgent(agent);
  ASSERT_NE(window, nullptr);
  // The balloon comes with the start-up sequence; a click before it is nobody's and ignored.
  // The click's action is read in the trace (check_traces.sh): the console it asks for is
  // named by the installed edition, which this prefix does not have.
  for (int i = 0; i < 40; ++i) {
    ::PostMessageW(window, WM_USER + 100, 0, NIN_BALLOONUSERCLICK);
    ::Sleep(500);
  }
  EXPECT_EQ(VisibleDialogOf(agent.pi.dwProcessId), nullptr) << "a prompt instead of a balloon";
  EXPECT_TRUE(SendToAgent(window, WM_NULL));
  ::PostMessageW(window, WM_CLOSE, 0, 0);
  EXPECT_EQ(agent.WaitExit(), 0u);
}

// Windows 10 for the agent alone: the reminder is a toast through the suite's toast library,
// which the answer file makes a click; the click runs the set-up wizard in the console.
TEST_F(AgentReminderE2E, ToastClickRunsTheWizard) {
  SetString(HKEY_CURRENT_USER, kAppDefaultsKey, L"Version", L"win10");
  const std::wstring toastLog = OwnDir() + L"VDWinRTUtils.log";
  ::DeleteFileW(toastLog.c_str());
  std::ofstream(Narrow(OwnDir() + L"VDWinRTUtils.answer"), std::ios::trunc) << "0 50\n";

  Program host(L"\"" + OwnDir() + L"VDHostStandIn.exe\"");
  Program agent(Agent());
  ASSERT_TRUE(agent.started);
  HWND window = StartReadyAgent(agent);
  ASSERT_NE(window, nullptr);
  const auto shown = [&] {
    return FileHasLine(toastLog, [](const std::string& l) {
      return l.rfind("show ", 0) == 0 && l.find("param \"RunSetupWizard\"") != std::string::npos;
    });
  };
  EXPECT_TRUE(WaitUntil(shown)) << "no toast";
  EXPECT_TRUE(WaitUntil(
      [&] { return FileHasLine(toastLog, [](const std::string& l) { return l == "ended 0"; }); }));
  // The action itself is read in the trace (check_traces.sh): the console it asks for is
  // named by the installed edition, which this prefix does not have.
  EXPECT_TRUE(SendToAgent(window, WM_NULL));
  EXPECT_EQ(VisibleDialogOf(agent.pi.dwProcessId), nullptr) << "a prompt on Windows 10";
  ::PostMessageW(window, WM_CLOSE, 0, 0);
  EXPECT_EQ(agent.WaitExit(), 0u);
}

// The agent's toast activator is registered with COM while it runs: another process (this
// one) reaches its class object and the activation interface.
TEST_F(AgentSuiteE2E, ToastActivatorReachableFromAnotherProcess) {
  // {A24611C3-A363-4950-B931-720A1618D98A}
  constexpr CLSID kActivator = {
      0xA24611C3, 0xA363, 0x4950, {0xB9, 0x31, 0x72, 0x0A, 0x16, 0x18, 0xD9, 0x8A}};
  // {53E31837-6600-4A81-9395-75CFFE746F94}
  constexpr IID kActivationCallback = {
      0x53E31837, 0x6600, 0x4A81, {0x93, 0x95, 0x75, 0xCF, 0xFE, 0x74, 0x6F, 0x94}};
  // Wine finds local servers registered under HKLM only; the running agent's registration
  // answers before COM would think of starting the program named here.
  const std::wstring classKey = L"SOFTWARE\\Classes\\CLSID\\{A24611C3-A363-4950-B931-720A1618D98A}";
  SetString(HKEY_LOCAL_MACHINE, (classKey + L"\\LocalServer32").c_str(), nullptr,
            L"\"" + OwnDir() + L"VdAgent.exe\"");
  struct Cleanup {
    std::wstring key;
    ~Cleanup() { ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, key.c_str()); }
  } cleanup{classKey};

  Program host(L"\"" + OwnDir() + L"VDHostStandIn.exe\"");
  Program agent(Agent());
  ASSERT_TRUE(agent.started);
  HWND window = StartReadyAgent(agent);
  ASSERT_NE(window, nullptr);
  ASSERT_TRUE(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
  IClassFactory* factory = nullptr;
  const HRESULT got = ::CoGetClassObject(kActivator, CLSCTX_LOCAL_SERVER, nullptr,
                                         IID_IClassFactory, reinterpret_cast<void**>(&factory));
  IUnknown* activator = nullptr;
  HRESULT created = E_FAIL;
  if (factory) {
    created =
        factory->CreateInstance(nullptr, kActivationCallback, reinterpret_cast<void**>(&activator));
    factory->Release();
  }
  if (activator) activator->Release();
  ::CoUninitialize();
  EXPECT_TRUE(agent.Running());
  ::PostMessageW(window, WM_CLOSE, 0, 0);
  EXPECT_EQ(agent.WaitExit(), 0u);
  const bool onWine =
      ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
  // Wine 8 finds the running class object but answers E_NOINTERFACE for its IClassFactory
  // across processes (a plain local server of the same shape works there).
  if (onWine && got == E_NOINTERFACE)
    GTEST_SKIP() << "Wine: CoGetClassObject of the agent's activator gives E_NOINTERFACE";
  EXPECT_EQ(got, S_OK);
  if (onWine && got == S_OK && (created == E_NOINTERFACE || created == REGDB_E_IIDNOTREG))
    GTEST_SKIP() << "Wine has no proxy for the activation interface: the class object was "
                    "reached, the interface cannot be marshalled";
  EXPECT_EQ(created, S_OK);
}

// The toast-display message forged by another program with any wParam and lParam: the agent
// ignores what it carries, survives, and still answers.
TEST_F(AgentSuiteE2E, ForgedToastMessagesAreSurvived) {
  constexpr UINT kShowToast = WM_USER + 501;
  Program host(L"\"" + OwnDir() + L"VDHostStandIn.exe\"");
  Program agent(Agent());
  ASSERT_TRUE(agent.started);
  HWND window = StartReadyAgent(agent);
  ASSERT_NE(window, nullptr);
  struct Forged {
    WPARAM wParam;
    LPARAM lParam;
  } const forged[] = {{0, 0},
                      {static_cast<WPARAM>(-1), -1},
                      {0x12345678, 0x0BADF00D},
                      {1, static_cast<LPARAM>(0xFFFFFFFF00000000ull)}};
  for (const auto& f : forged) EXPECT_TRUE(::PostMessageW(window, kShowToast, f.wParam, f.lParam));
  for (const auto& f : forged) EXPECT_TRUE(SendToAgent(window, kShowToast, f.wParam, f.lParam));
  EXPECT_TRUE(SendToAgent(window, WM_NULL));
  EXPECT_TRUE(agent.Running());
  ::PostMessageW(window, WM_CLOSE, 0, 0);
  EXPECT_EQ(agent.WaitExit(), 0u);
}

// Each start registers the terminal-services client found beside the agent and goes on
// whatever it answers; without the component the agent still becomes ready.
TEST_F(AgentSuiteE2E, EachStartRegistersTheTerminalServicesClient) {
  const std::wstring log = OwnDir() + L"VDTSClnt.log";
  const std::wstring dll = OwnDir() + L"VDTSClnt.dll";
  const std::wstring away = OwnDir() + L"VDTSClnt.dll.away";
  ::DeleteFileW(log.c_str());
  Program host(L"\"" + OwnDir() + L"VDHostStandIn.exe\"");
  auto startAndClose = [this]() {
    ::DeleteFileW((OwnDir() + L"VDPwdMgr.log").c_str());
    Program agent(Agent());
    ASSERT_TRUE(agent.started);
    HWND window = StartReadyAgent(agent);
    ASSERT_NE(window, nullptr);
    ::PostMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(agent.WaitExit(), 0u);
  };
  // Agents inherit this process's environment: the stand-in's answer.
  ::SetEnvironmentVariableW(L"VDTSCLNT_RESULT", L"80004005");
  startAndClose();
  startAndClose();
  ::SetEnvironmentVariableW(L"VDTSCLNT_RESULT", nullptr);
  EXPECT_EQ(ReadLines(log), (std::vector<std::string>{"DllRegisterServer 0x80004005",
                                                      "DllRegisterServer 0x80004005"}));
  ASSERT_TRUE(::MoveFileExW(dll.c_str(), away.c_str(), MOVEFILE_REPLACE_EXISTING));
  startAndClose();
  ASSERT_TRUE(::MoveFileExW(away.c_str(), dll.c_str(), MOVEFILE_REPLACE_EXISTING));
  EXPECT_EQ(ReadLines(log).size(), 2u);
}

constexpr const wchar_t* kTrayPluginsKey =
    L"SOFTWARE\\Veridane\\VDNX\\Plugins\\TrayIcon";  // removed by TearDown
// Enumerated in this order: the hanging plug-in comes second, so the first is usable while
// the loader hangs in the other one's creation.
constexpr const char* kVaultClsid = "{1A2B3C4D-0000-4000-8000-000000000001}";
constexpr const char* kStuckClsid = "{9F8E7D6C-0000-4000-8000-000000000002}";

// Two plug-ins of the stand-in DLL: "Vault" adds one item that notifies through the host;
// "Stuck" hangs in its creation far longer than any case runs. The item runs; the agent
// still ends at once when closed, leaving the hung loader behind.
TEST_F(AgentTrayE2E, PluginItemNotifiesAndAHangingPluginDoesNotHoldUpExit) {
  const std::wstring log = OwnDir() + L"VDTrayPluginStandIn.log";
  ::DeleteFileW(log.c_str());
  WriteDescription(std::string(" \"trayPlugins\": [{\"clsid\": \"") + kVaultClsid +
                   "\", \"name\": \"Vault\", \"roles\": [\"menu\", \"hostAware\"],"
                   " \"items\": [\"Open vault\"], \"execute\": \"notify\"},\n"
                   "   {\"clsid\": \"" +
                   kStuckClsid + "\", \"name\": \"Stuck\", \"blockCreationMs\": 600000}],\n");
  for (const char* clsid : {kVaultClsid, kStuckClsid}) {
    const std::wstring key =
        std::wstring(kTrayPluginsKey) + L"\\" + std::wstring(clsid, clsid + std::strlen(clsid));
    SetString(HKEY_LOCAL_MACHINE, key.c_str(), nullptr, OwnDir() + L"VDTrayPluginStandIn.dll");
    SetString(HKEY_LOCAL_MACHINE, key.c_str(), L"DescriptionFile", m_traceDir + L"machine.json");
  }
  Program host(L"\"" + OwnDir() + L"VDHostStandIn.exe\"");
  Program agent(Agent());
  ASSERT_TRUE(agent.started);
  HWND window = StartReadyAgent(agent);
  ASSERT_NE(window, nullptr);
  // The plug-in range exists once the menu has been built, with the loaded plug-in's item.
  const auto logged = [&](const char* line) {
    return WaitUntil(
        [&] { return FileHasLine(log, [line](const std::string& l) { return l == line; }); });
  };
  ASSERT_TRUE(logged("Vault host")) << "the plug-in was not loaded";
  // The plug-in is published just after it got its host: a menu opened in between lacks it,
  // and the next one has it.
  const DWORD pid = agent.pi.dwProcessId;
  bool offered = false;
  for (int attempt = 0; attempt < 5 && !offered; ++attempt) {
    ::PostMessageW(window, WM_USER + 100, 0, WM_RBUTTONUP);
    HWND menu = nullptr;
    ASSERT_TRUE(WaitUntil([&] { return (menu = VisibleMenuOf(pid)) != nullptr; }));
    offered = WaitUntil(
        [&] {
          return FileHasLine(log, [](const std::string& l) { return l == "Vault items 20000 1"; });
        },
        1000);
    ::PostMessageW(menu, WM_KEYDOWN, VK_ESCAPE, 0);
    ASSERT_TRUE(WaitUntil([&] { return VisibleMenuOf(pid) == nullptr; }));
  }
  EXPECT_TRUE(offered) << "the menu did not offer the plug-in's item";
  ::PostMessageW(window, WM_COMMAND, 20000, 0);
  EXPECT_TRUE(logged("Vault item 20000 \"Open vault\""));
  EXPECT_TRUE(logged("Vault notify 0x00000000")) << "the plug-in's notification failed";
  // Unloading waits a bounded time for the hung loader, then the agent ends normally.
  ::PostMessageW(window, WM_CLOSE, 0, 0);
  EXPECT_EQ(agent.WaitExit(), 0u);
}

}  // namespace
