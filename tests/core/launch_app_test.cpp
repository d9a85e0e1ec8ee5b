// Launching the suite's applications: the table (agent, console of each edition, the OEM
// fallback), the first-run mark, failures; and the simulated shell that starts them.
#include "launch/launch_app.h"

#include "agent_fixture.h"
#include "launch/commands.h"
#include "platform/sim/process_shell.h"
#include "platform/sim/session_manager.h"
#include "suite_install.h"

namespace {

using namespace suite_test;
using Launches = std::vector<sim::LaunchedProgram>;

class LaunchTest : public AgentWindowTest {
 protected:
  // Before SetUp creates the agent's process, so that it sees the suite's variables.
  LaunchTest() { InstallSuite(machine); }

  std::vector<std::pair<std::wstring, std::wstring>> Launched() {
    std::vector<std::pair<std::wstring, std::wstring>> out;
    for (auto& p : sim::LaunchedPrograms(machine.GetDesktop(), 1))
      out.emplace_back(p.path, p.arguments);
    return out;
  }
  std::wstring KwAppSettings() {
    return L"HKU\\" + machine.Sessions().UserSid(1) +
           L"\\SOFTWARE\\Veridane\\Applications\\KwAppSettings";
  }
  std::optional<DWORD> OOBEPassed() {
    return machine.Registry().GetDword(KwAppSettings(), L"OOBEPassed");
  }
  // A fresh agent process object: the edition answers are cached per process.
  bool LaunchConsoleFresh(const std::wstring& args) {
    core::CAgentProcess fresh(*proc, nullptr);
    return LAUNCHAPPID::LaunchApp(fresh, LAUNCHAPPID::Console, args);
  }
};

TEST_F(LaunchTest, TheAboutCommandStartsTheAgentItselfFromItsOwnFolder) {
  Send(WM_COMMAND, core::ID_APP_ABOUT);
  EXPECT_EQ(Launched(), (decltype(Launched()){{kAgentExe, L"-ShowAbout"}}));
  EXPECT_TRUE(sink.Contains('U', "Launching %NXWDINSTALLPATH_X86%VdAgent.exe -ShowAbout"));
  EXPECT_TRUE(sink.Contains('U', "Launch hr=0x0"));
}

TEST_F(LaunchTest, TheConsoleIsTheInstalledEditionsOne) {
  const wchar_t *mobile = L"Lumera Mobile Enrollment", *oem = L"Oemline Security Manager";
  const struct {
    const wchar_t* product;   // the branding module's installed product, or null
    const wchar_t* version;   // the edition whose key has a Version, or null
    bool oemClientConsole;    // VdClientConsole.exe is in the agent's folder
    const wchar_t* expected;  // null: no console
  } cases[] = {
      {nullptr, mobile, false, kMobileConsole},
      {L"Lumera Workstation", mobile, false, kMobileConsole},  // mobile wins
      {L"Lumera Workstation", nullptr, false, kLumeraConsole},
      {L"Lumera Kiosk", nullptr, false, kLumeraConsole},
      {mobile, nullptr, false, kLumeraConsole},  // as product only
      {L"Lumera Lite", nullptr, false, kLumeraConsole},
      {L"Lumera Server", nullptr, false, kLumeraConsole},
      {L"Lumera AD Workstation", nullptr, false, kLumeraConsole},
      {L"lumera ad kiosk", nullptr, false, kLumeraConsole},
      {L"Lumera AD Server", nullptr, false, kLumeraConsole},
      {L"Lumera Kiosk", oem, true, kLumeraConsole},  // Lumera wins over the OEM edition
      {nullptr, oem, true, kOemClientConsole},
      {nullptr, oem, false, kOemConsole},
      {oem, nullptr, true, nullptr},  // the OEM edition as product only
      {L"Printvue", L"Classic Home", false, nullptr},
      {nullptr, nullptr, false, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << "product " << testing::PrintToString(c.product) << ", version "
                 << testing::PrintToString(c.version) << ", client console " << c.oemClientConsole);
    // A clean machine state for the case.
    machine.Registry().DeleteKey(L"HKLM\\SOFTWARE\\WOW6432Node\\Veridane\\Products");
    machine.Registry().DeleteValue(L"HKLM\\SOFTWARE\\Veridane\\Branding\\Common", L"DLLPath");
    machine.Files().Delete(kOemClientConsole);
    if (c.product) SetInstalledProduct(machine, c.product);
    if (c.version) SetEditionVersion(machine, c.version);
    if (c.oemClientConsole) InstallFile(machine, kOemClientConsole);
    const size_t before = Launched().size();
    sink.Clear();

    const bool ok = LaunchConsoleFresh(L"-mode:UserReset");
    const auto launched = Launched();
    if (!c.expected) {
      EXPECT_FALSE(ok);
      EXPECT_EQ(launched.size(), before);
      EXPECT_TRUE(sink.Contains('U', "Invalid process name for ID: 1"));
      continue;
    }
    EXPECT_TRUE(ok);
    ASSERT_EQ(launched.size(), before + 1);
    EXPECT_EQ(launched.back().first, c.expected);
    EXPECT_EQ(launched.back().second, L"-mode:UserReset");
    // Only the OEM road probes for the client console.
    const bool oemRoad = c.expected == kOemClientConsole || c.expected == kOemConsole;
    EXPECT_EQ(sink.Contains('>', "LAUNCHAPPID::IsAppInstalled"), oemRoad);
  }
}

TEST_F(LaunchTest, TheOemProbeNamesTheExpandedClientConsole) {
  SetEditionVersion(machine, L"Oemline Security Manager");
  EXPECT_TRUE(LaunchConsoleFresh(L""));
  const std::string probe =
      "Detecting 'C:\\Program Files (x86)\\Veridane\\Agent\\VdClientConsole.exe' ... ";
  auto records = sink.Records();
  bool inScope = false, found = false;
  for (auto& r : records) {
    if (r.type == '>') inScope = r.text == "LAUNCHAPPID::IsAppInstalled";
    if (r.type == 'U' && r.text == probe) found = inScope;
  }
  EXPECT_TRUE(found);
  EXPECT_EQ(Launched().back().first, kOemConsole);
}

TEST_F(LaunchTest, AMissingProgramFailsButOOBEPassedIsWrittenUnlessTheProgramIsUnknown) {
  EXPECT_FALSE(LAUNCHAPPID::LaunchApp(*agent, 7, L"x"));
  EXPECT_TRUE(sink.Contains('U', "Invalid process name for ID: 7"));
  EXPECT_FALSE(OOBEPassed());

  // The program is missing, so only a mark written before the launch is there.
  machine.Files().Delete(kAgentExe);
  EXPECT_FALSE(LAUNCHAPPID::LaunchApp(*agent, LAUNCHAPPID::Agent, L""));
  EXPECT_EQ(OOBEPassed(), 1u);
  EXPECT_EQ(machine.Registry().GetValue(KwAppSettings(), L"OOBEPassed")->first, REG_DWORD);
  EXPECT_TRUE(sink.Contains('U', "Launch hr=0x80070002"));
  EXPECT_TRUE(Launched().empty());
}

TEST_F(LaunchTest, WithoutTheSuiteVariablesNothingIsFound) {
  // A process started before the installer set the variables sees none of them.
  machine.Registry().DeleteValue(sim::RegistryStore::kMachineEnvironmentPath,
                                 L"NXWDINSTALLPATH_X86");
  auto other = machine.CreateProcess({});
  core::CAgentProcess p(*other, nullptr);
  EXPECT_FALSE(LAUNCHAPPID::LaunchApp(p, LAUNCHAPPID::Agent, L"-ShowAbout"));
  EXPECT_TRUE(sink.Contains('U', "Launch hr=0x80070002"));
  EXPECT_TRUE(Launched().empty());
}

TEST_F(LaunchTest, ALaunchIsOwnedByTheCallersForegroundWindowAndAsksTheShellForNoUi) {
  // The agent's window took the foreground when it was created.
  ASSERT_EQ(proc->Ui().GetForegroundWindow(), window->m_hWnd);
  const wchar_t* agentExe = L"%NXWDINSTALLPATH_X86%VdAgent.exe";
  EXPECT_TRUE(LAUNCHAPPID::LaunchProcessName(*agent, agentExe, L"-ShowAbout"));

  // With another thread's window in front there is no owner: its errors would belong to
  // a window the agent does not run. The program fails to start, but the call is the same.
  HWND taskbar = machine.Sessions().ShellWindow(1);
  ASSERT_NE(proc->Ui().GetWindowThreadProcessId(taskbar, nullptr),
            proc->Kernel().GetCurrentThreadId());
  ASSERT_TRUE(proc->Ui().SetForegroundWindow(taskbar));
  machine.Files().Delete(kAgentExe);
  EXPECT_FALSE(LAUNCHAPPID::LaunchProcessName(*agent, agentExe, L""));

  const auto calls = sim::ShellExecuteCalls(*proc);
  ASSERT_EQ(calls.size(), 2u);
  const HWND owners[] = {window->m_hWnd, nullptr};
  const bool started[] = {true, false};
  for (size_t i = 0; i < calls.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(calls[i].owner, owners[i]);
    // The shell expands the suite's variables; a failure is the agent's to report, not a
    // message box of the shell's.
    EXPECT_EQ(calls[i].mask, ULONG{SEE_MASK_DOENVSUBST | SEE_MASK_FLAG_NO_UI});
    EXPECT_EQ(calls[i].show, SW_SHOWNORMAL);
    EXPECT_EQ(calls[i].verb, L"open");
    EXPECT_EQ(calls[i].file, agentExe);
    EXPECT_EQ(calls[i].started, started[i]);
  }
  EXPECT_EQ(calls[0].parameters, L"-ShowAbout");
}

// ---- The enrollment page ----

TEST(EnrollmentPageTest, EachKnownCredentialHasItsPageAndEveryOtherMaskNone) {
  const wchar_t* const kCards = L"{997948C3-DC26-46A5-AE18-83CB201C097F}";
  const struct {
    DWORD low;
    const wchar_t* page;
  } known[] = {
      {0x1, L"{92BF868E-7C95-4dba-810F-158A10350477}"},    // password
      {0x2, L"{FF45399C-4E0E-4D88-A3D4-7CBB2B09681F}"},    // fingerprint
      {0x4, kCards},                                       // smart card
      {0x20, kCards},                                      // contactless card
      {0x100, kCards},                                     // proximity card
      {0x8, L"{C3D91C3D-AD9A-4CFD-BFD0-7BCBE70B87E0}"},    // spare key
      {0x80, L"{9F5C6C1F-1E53-44B0-ADB1-CB6E346A4837}"},   // PIN code
      {0x200, L"{3FF58389-4A53-48C0-AFED-CA31A432DEF8}"},  // Bluetooth
      {0x800, L"{DC721D64-CBB2-4C73-AA43-3C99D11152EA}"},  // RSA token
  };
  for (const auto& k : known) {
    SCOPED_TRACE(testing::Message() << "mask 0x" << std::hex << k.low);
    EXPECT_EQ(CLI::EnrollmentPage(k.low, 0), k.page);
    // Any bit in the high half refuses even a known low half.
    EXPECT_EQ(CLI::EnrollmentPage(k.low, 0x1), L"");
    EXPECT_EQ(CLI::EnrollmentPage(k.low, 0x80000000u), L"");
  }
  // Nothing, two types, two cards of one page, unknown bits, the top bit, every bit.
  for (DWORD low :
       {0x0u, 0x3u, 0x24u, 0x802u, 0x10u, 0x40u, 0x400u, 0x1000u, 0x80000000u, 0xFFFFFFFFu})
    EXPECT_EQ(CLI::EnrollmentPage(low, 0), L"") << std::hex << low;
}

TEST_F(LaunchTest, EnrollingOpensTheConsoleOnThePageOfTheMask) {
  SetInstalledProduct(machine, L"Lumera Workstation");
  EXPECT_EQ(CLI::EnrollCredentials(*agent, 0x2, 0), S_OK);
  EXPECT_EQ(CLI::EnrollCredentials(*agent, 0x2, 0x4), S_OK);
  EXPECT_EQ(Launched(), (decltype(Launched()){
                            {kLumeraConsole, L"{FF45399C-4E0E-4D88-A3D4-7CBB2B09681F}"},
                            {kLumeraConsole, L""},
                        }));
}

// ---- The simulated shell ----

class SimShellTest : public LaunchTest {
 protected:
  SHELLEXECUTEINFOW Info(const wchar_t* file, ULONG mask = SEE_MASK_DOENVSUBST) {
    SHELLEXECUTEINFOW sei{};
    sei.cbSize = sizeof(sei);
    sei.fMask = mask;
    sei.lpFile = file;
    sei.nShow = SW_SHOWNORMAL;
    return sei;
  }
  platform::IShell& Shell() { return proc->Shell(); }
};

TEST_F(SimShellTest, EnvironmentStringsAreExpandedInTheFileOnlyWhenAskedAndNeverInTheArguments) {
  auto sei = Info(L"%NXWDINSTALLPATH%Veridane.Lumera.Console.exe");
  sei.lpParameters = L"%NXWDINSTALLPATH%";
  ASSERT_TRUE(Shell().ShellExecuteExW(&sei));
  EXPECT_GT(reinterpret_cast<INT_PTR>(sei.hInstApp), 32);
  const auto launched = sim::LaunchedPrograms(machine.GetDesktop(), 1);
  ASSERT_EQ(launched.size(), 1u);
  EXPECT_EQ(launched[0].verb, L"open");
  EXPECT_EQ(launched[0].path, kLumeraConsole);
  EXPECT_EQ(launched[0].arguments, L"%NXWDINSTALLPATH%");

  auto literal = Info(L"%NXWDINSTALLPATH%Veridane.Lumera.Console.exe", SEE_MASK_FLAG_NO_UI);
  EXPECT_FALSE(Shell().ShellExecuteExW(&literal));
  EXPECT_EQ(proc->Kernel().GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(reinterpret_cast<INT_PTR>(literal.hInstApp), SE_ERR_FNF);
}

TEST_F(SimShellTest, RelativeQuotedNamesTheirVerbAndABadStructureSize) {
  auto relative = Info(L"\"Veridane.Oemline.Console.exe\"");
  relative.lpDirectory = L"%NXWDINSTALLPATH%";
  relative.lpVerb = L"runas";
  EXPECT_TRUE(Shell().ShellExecuteExW(&relative));
  auto launched = sim::LaunchedPrograms(machine.GetDesktop(), 1);
  ASSERT_EQ(launched.size(), 1u);
  EXPECT_EQ(launched[0].verb, L"runas");
  EXPECT_EQ(launched[0].path, kOemConsole);
  EXPECT_EQ(launched[0].arguments, L"");

  auto badSize = Info(kOemConsole);
  badSize.cbSize = 12;
  EXPECT_FALSE(Shell().ShellExecuteExW(&badSize));
  EXPECT_EQ(sim::LaunchedPrograms(machine.GetDesktop(), 1).size(), 1u);
}

TEST_F(SimShellTest, ALaunchIsShownOnTheDesktopOfTheCallersSession) {
  const DWORD bob = machine.Sessions().CreateSession({.userName = L"bob"});
  auto p2 = machine.CreateProcess({.sessionId = bob});
  auto sei = Info(kAgentExe);
  sei.lpParameters = L"-OpenConsole";
  ASSERT_TRUE(p2->Shell().ShellExecuteExW(&sei));
  EXPECT_TRUE(sim::LaunchedPrograms(machine.GetDesktop(), 1).empty());
  const auto s2 = sim::LaunchedPrograms(machine.GetDesktop(), bob);
  ASSERT_EQ(s2.size(), 1u);
  EXPECT_EQ(s2[0].arguments, L"-OpenConsole");
  EXPECT_NE(machine.GetDesktop().Render().find(L"launch"), std::wstring::npos);
}

}  // namespace
