// The process entry: commands, registration switches, single instance, safe mode, low
// profile, and an agent that starts and ends on its own.
#include "app/agent_main.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "core/messages.h"
#include "launch/about_resources.h"
#include "platform/sim/desktop.h"
#include "platform/sim/file_system.h"
#include "platform/sim/machine.h"
#include "platform/sim/module_table.h"
#include "platform/sim/process.h"
#include "platform/sim/process_shell.h"
#include "platform/sim/registry_store.h"
#include "platform/sim/session_manager.h"
#include "platform/sim/window_manager.h"
#include "standins/vdfpapi/sim_install.h"
#include "support/trace/trace.h"
#include "support/trace/trace_sink.h"
#include "tests/core/suite_install.h"

namespace {

class EntryTest : public ::testing::Test {
 protected:
  explicit EntryTest(sim::MachineDescription desc = {}) : machine(std::move(desc)) {}

  // Runs the entry point as a fresh process of `session`; returns its exit code.
  int Run(const wchar_t* cmdLine, DWORD session = 1) {
    auto p = machine.CreateProcess({.sessionId = session});
    sim::CurrentProcessScope scope(p.get());
    VDTraceNS::Bind(p.get());
    const int rc = app::AgentMain(*p, nullptr, cmdLine, SW_SHOWNORMAL);
    VDTraceNS::Bind(nullptr);
    return rc;
  }
  bool Traced(const char* text) { return sink.Contains('U', text); }
  size_t AgentWindows(DWORD session = 1) {
    return machine.Windows().WindowsOfClass(session, core::kAgentWindowClass).size();
  }
  // Ends every agent's message loop on this thread: when the loop goes idle, destroy the
  // agent's window (as closing it would).
  void EndAgentsWhenIdle() {
    machine.Windows().SetMachineIdleDriver([this] {
      for (DWORD s : {1u, 2u}) {
        for (HWND h : machine.Windows().WindowsOfClass(s, core::kAgentWindowClass)) {
          machine.Windows().DestroyAnyWindow(h);
          return true;
        }
      }
      return false;
    });
  }

  VDTraceNS::CRecordingSink sink;
  sim::Machine machine;
};

TEST_F(EntryTest, EveryCommandWordWithEitherPrefixAndAnyCaseEndsAtOnceWithoutAnAgent) {
  suite_test::InstallSuite(machine);
  suite_test::SetInstalledProduct(machine, L"Lumera Kiosk");
  struct Case {
    const wchar_t* line;
    const wchar_t* consoleArguments;  // null: the command starts no console
  } cases[] = {
      // The About box is shown by the command process itself (its library is missing here).
      {L"-ShowAbout", nullptr},
      {L"/runsetupwizard", L""},
      {L"-OPENCONSOLE", L""},
      {L"/EnrollCredentials", L""},
      {L"-manageCREDENTIALS", L"-tile:72AF293F-9D47-4B71-9C71-97232B991A83"},
      {L"/ResetCredentials", L"-mode:UserReset"},
      {L"-StartRecovery", L"{77CEA7E9-B930-4DBD-953F-BCFE32667182}"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(c.line)));
    sink.Clear();
    const size_t before = sim::LaunchedPrograms(machine.GetDesktop(), 1).size();
    EXPECT_EQ(Run(c.line), 0);
    EXPECT_FALSE(Traced("OK to run")) << "agent started for a command";
    const auto launched = sim::LaunchedPrograms(machine.GetDesktop(), 1);
    if (!c.consoleArguments) {
      EXPECT_EQ(launched.size(), before);
      continue;
    }
    ASSERT_EQ(launched.size(), before + 1);
    EXPECT_EQ(launched.back().path, suite_test::kLumeraConsole);
    EXPECT_EQ(launched.back().arguments, c.consoleArguments);
  }
  EXPECT_EQ(AgentWindows(), 0u);
}

TEST_F(EntryTest, AConsoleCommandWithoutAConsoleEndsQuietly) {
  suite_test::InstallSuite(machine);  // no edition
  EXPECT_EQ(Run(L"-OpenConsole"), 0);
  EXPECT_TRUE(Traced("Invalid process name for ID: 1"));
  EXPECT_FALSE(Traced("OK to run"));
  EXPECT_TRUE(sim::LaunchedPrograms(machine.GetDesktop(), 1).empty());
}

TEST_F(EntryTest, ShowAboutShowsTheBoxOnlyWhenTheLibraryStarts) {
  suite_test::InstallAgentResources(machine, L"C:\\Program Files\\Veridane\\Agent\\");
  EXPECT_EQ(Run(L"/ShowAbout"), 0);  // no library: logged, handled, no box
  EXPECT_TRUE(sink.Contains('E', "-2147024770 Command failed"));
  EXPECT_TRUE(machine.GetDesktop().Texts(1, sim::desktop_kind::kPrompt).empty());

  auto vdfp = vdfp_standin::InstallVdfpApi(machine);
  machine.Files().SetFileVersion(L"C:\\Program Files\\Veridane\\Agent\\VdAgent.exe",
                                 {5, 2, 0, 100});
  EXPECT_EQ(Run(L"-showabout"), 0);
  EXPECT_EQ(machine.GetDesktop().Texts(1, sim::desktop_kind::kPrompt),
            (std::vector<std::wstring>{
                L"About Veridane Classic: Veridane Classic Version 5.2.0.100 Copyright (C) "
                L"Veridane. All rights reserved. <a href=\"https://www.veridane.example/\">"
                L"https://www.veridane.example/</a>"}));
  EXPECT_EQ(AgentWindows(), 0u);
}

TEST_F(EntryTest, TheAboutBoxsInvisibleOwnerAnswersAsAnyTopLevelWindowWhileTheBoxIsUp) {
  suite_test::InstallAgentResources(machine, L"C:\\Program Files\\Veridane\\Agent\\");
  auto vdfp = vdfp_standin::InstallVdfpApi(machine);
  HWND seenOwner = nullptr;
  LRESULT queryEndSession = -1;
  machine.GetDesktop().SetPromptUser([&](DWORD, UINT, const std::wstring&) {
    const auto owners = machine.Windows().WindowsOfClass(1, L"VDInvisibleParent");
    if (owners.size() == 1) seenOwner = owners[0];
    auto* p = sim::CurrentProcess();
    // Windows asks every top-level window before the session ends; a 0 would hold it up.
    if (seenOwner) queryEndSession = p->Ui().SendMessageW(seenOwner, WM_QUERYENDSESSION, 0, 0);
    sim::PromptAnswer a;
    a.button = IDOK;
    return a;
  });
  EXPECT_EQ(Run(L"-ShowAbout"), 0);
  ASSERT_NE(seenOwner, nullptr);
  EXPECT_EQ(queryEndSession, TRUE);
  // Gone with the box, class and all.
  EXPECT_TRUE(machine.Windows().WindowsOfClass(1, L"VDInvisibleParent").empty());
}

TEST_F(EntryTest, TheAboutBoxsLinkOpensTheBrandedWebSiteInTheBrowser) {
  suite_test::InstallAgentResources(machine, L"C:\\Program Files\\Veridane\\Agent\\");
  auto vdfp = vdfp_standin::InstallVdfpApi(machine);
  machine.GetDesktop().SetPromptUser([](DWORD, UINT id, const std::wstring& caption) {
    sim::PromptAnswer a;
    a.button = IDOK;
    if (id == IDD_ABOUT && caption == L"About Acme Guard") a.link = IDC_ABOUT_LINK;
    return a;
  });
  // The brand names the product and its own site.
  const wchar_t brand[] = L"C:\\Program Files\\Acme\\Brand.dll";
  machine.Modules().Install(brand, {}, {{1100, L"Acme Guard"}, {1106, L"https://acme.example/"}});
  machine.Registry().SetString(L"HKLM\\SOFTWARE\\Veridane\\Branding\\Common", L"DLLPath", brand);
  EXPECT_EQ(Run(L"-ShowAbout"), 0);
  EXPECT_EQ(machine.GetDesktop().Texts(1, sim::desktop_kind::kLaunch),
            (std::vector<std::wstring>{L"open \"https://acme.example/\""}));
  EXPECT_EQ(machine.GetDesktop().Texts(1, sim::desktop_kind::kPromptAnswer),
            (std::vector<std::wstring>{L"link 1033", L"button 1"}));
}

TEST_F(EntryTest, AnAddressThatIsNoWebSiteIsNeverOpened) {
  suite_test::InstallAgentResources(machine, L"C:\\Program Files\\Veridane\\Agent\\");
  auto vdfp = vdfp_standin::InstallVdfpApi(machine);
  machine.GetDesktop().SetPromptUser([](DWORD, UINT, const std::wstring&) {
    sim::PromptAnswer a;
    a.button = IDOK;
    a.link = IDC_ABOUT_LINK;
    return a;
  });
  machine.Files().WriteFile(L"C:\\Windows\\System32\\calc.exe", "MZ");
  const wchar_t brand[] = L"C:\\Program Files\\Acme\\Brand.dll";
  machine.Modules().Install(brand, {}, {{1106, L"C:\\Windows\\System32\\calc.exe"}});
  machine.Registry().SetString(L"HKLM\\SOFTWARE\\Veridane\\Branding\\Common", L"DLLPath", brand);
  EXPECT_EQ(Run(L"-ShowAbout"), 0);
  EXPECT_TRUE(machine.GetDesktop().Texts(1, sim::desktop_kind::kLaunch).empty());
  EXPECT_TRUE(Traced("Not a web address, no link: C:\\Windows\\System32\\calc.exe"));
}

TEST_F(EntryTest, LastRegisterSwitchDecidesAndNoWizardStays) {
  auto p = machine.CreateProcess({});
  sim::CurrentProcessScope scope(p.get());
  core::CAgentProcess proc(*p, nullptr);
  struct Case {
    const wchar_t* line;
    app::RegisterMode mode;
    bool noWizard;
  } cases[] = {
      {L"-RegServer -NoWizard", app::RegisterMode::None, true},
      {L"/NoWizard /RegServer", app::RegisterMode::Register, true},
      {L"-RegServerAndMore", app::RegisterMode::Register, false},
      {L"-unregserver", app::RegisterMode::Unregister, false},
      {L"-RegServe", app::RegisterMode::None, false},
      // A '-' inside a switch starts another: the GUID's dashes reset the mode.
      {L"-RegServer{77CEA7E9-B930}", app::RegisterMode::None, false},
  };
  for (const auto& c : cases) {
    const auto scan = app::ScanCommandLine(proc, c.line);
    EXPECT_FALSE(scan.handledCommand);
    EXPECT_EQ(scan.mode, c.mode);
    EXPECT_EQ(scan.noWizard, c.noWizard);
  }
}

TEST_F(EntryTest, RegisteringCreatesThePasswordResetKeyInThe32BitView) {
  EXPECT_EQ(Run(L"/RegServer"), 0);
  EXPECT_TRUE(Traced("RegServer/UnRegServer done."));
  EXPECT_TRUE(machine.Registry().KeyExists(
      L"HKLM\\SOFTWARE\\WOW6432Node\\Veridane\\Applications\\Agent\\PasswordResets"));
  EXPECT_EQ(AgentWindows(), 0u);
}

TEST_F(EntryTest, UnregisteringIsCarriedOutBeforeTheInstanceCheckAndRegistersNothing) {
  const std::wstring folder = L"C:\\Program Files\\Veridane";
  machine.Registry().SetString(L"HKLM\\SOFTWARE\\Veridane", L"VeridanePath", folder);
  std::filesystem::create_directories(machine.Files().HostPath(folder));
  // The agent's texts name its Start menu link, which the run looks for.
  suite_test::InstallAgentResources(machine, L"C:\\Program Files\\Veridane\\Agent\\");
  // The uninstaller runs while the session's agent still runs.
  auto running = machine.CreateProcess({});
  HANDLE m = running->Kernel().CreateMutexW(nullptr, FALSE, core::kAgentInstanceMutex);

  // The last switch decides, whatever came before it.
  EXPECT_EQ(Run(L"-RegServer /UNREGSERVER"), 0);
  EXPECT_TRUE(sink.Contains('>', "CVdAgentModule::UnregisterServer"));
  EXPECT_FALSE(sink.Contains('>', "CVdAgentModule::RegisterServer"));
  EXPECT_TRUE(Traced("lowProfile = 0"));
  EXPECT_TRUE(Traced("RegServer/UnRegServer done."));
  EXPECT_FALSE(Traced("This is second instance, aborting."));
  EXPECT_TRUE(sink.Texts('E').empty());
  // The clean-up list was written; the registration's key was not made.
  EXPECT_TRUE(machine.Files().ReadFile(folder + L"\\Cleanup.txt").has_value());
  EXPECT_FALSE(machine.Registry().KeyExists(
      L"HKLM\\SOFTWARE\\WOW6432Node\\Veridane\\Applications\\Agent\\PasswordResets"));
  EXPECT_EQ(AgentWindows(), 0u);
  running->Kernel().CloseHandle(m);

  // A low-profile product unregisters in low profile.
  suite_test::SetInstalledProduct(machine, L"Printvue");
  sink.Clear();
  EXPECT_EQ(Run(L"/UnRegServer"), 0);
  EXPECT_TRUE(Traced("lowProfile = 1"));
  EXPECT_TRUE(Traced("RegServer/UnRegServer done."));
  EXPECT_FALSE(Traced("OK to run"));
}

TEST_F(EntryTest, AnAgentWithoutItsLibraryEndsAfterEveryHandlerSawTheFailedReady) {
  // The host signals at once; the library itself is not installed.
  auto host = machine.CreateProcess({.sessionId = 0});
  HANDLE ev = host->Kernel().CreateEventW(nullptr, TRUE, TRUE,
                                          L"Global\\{AA2FD877-ED65-4499-9C86-D90FB5CC1F9D}");
  ASSERT_NE(ev, nullptr);
  EXPECT_EQ(Run(L"-OpenConsole extra"), 0);  // not a command: the whole rest is compared
  EXPECT_TRUE(Traced("OK to run"));
  EXPECT_TRUE(sink.Contains('>', "CUXHandler<class CVdAgentMain>::OnReady"));
  EXPECT_TRUE(sink.Contains('>', "CVdAgentMain::OnReady"));
  EXPECT_TRUE(sink.Contains('E', "-2147024770 OnReady"));  // 0x8007007E
  EXPECT_TRUE(Traced("All done."));
  EXPECT_EQ(AgentWindows(), 0u);
  host->Kernel().CloseHandle(ev);
}

TEST_F(EntryTest, ASecondAgentInTheSameSessionEndsSilently) {
  auto first = machine.CreateProcess({});
  HANDLE m = first->Kernel().CreateMutexW(nullptr, FALSE, core::kAgentInstanceMutex);
  EXPECT_EQ(Run(L""), 0);
  EXPECT_TRUE(Traced("This is second instance, aborting."));
  EXPECT_FALSE(Traced("OK to run"));
  first->Kernel().CloseHandle(m);
}

TEST_F(EntryTest, ACommandWhileAnotherRunsFallsThroughToTheAgentStart) {
  auto other = machine.CreateProcess({});
  HANDLE cmd = other->Kernel().CreateMutexW(nullptr, FALSE, core::kCommandMutex);
  HANDLE agent = other->Kernel().CreateMutexW(nullptr, FALSE, core::kAgentInstanceMutex);
  EXPECT_EQ(Run(L"/OpenConsole"), 0);
  EXPECT_TRUE(Traced("This is a second instance, ignoring."));
  EXPECT_FALSE(Traced("Invalid process name for ID: 1"));
  EXPECT_TRUE(Traced("This is second instance, aborting."));
  other->Kernel().CloseHandle(agent);
  other->Kernel().CloseHandle(cmd);
}

TEST_F(EntryTest, WithItsLibraryTheAgentBecomesReadyAndRunsUntilItsWindowCloses) {
  auto vdfp = vdfp_standin::InstallVdfpApi(machine);
  EndAgentsWhenIdle();
  EXPECT_EQ(Run(L""), 0);
  EXPECT_TRUE(sink.Contains('>', "CVdAgentMain::OnReady"));
  EXPECT_FALSE(sink.Contains('E', "-2147024770 OnReady"));
  EXPECT_TRUE(sink.Contains('>', "CVdAgentMain::OnDestroy"));
  EXPECT_TRUE(Traced("All done."));
}

TEST_F(EntryTest, AMissingLibraryEntryPointIsLoggedAndTheAgentEndsInOrder) {
  vdfp_standin::SimInstallOptions options;
  options.missingExports = {"VDFPInit"};
  auto vdfp =
      vdfp_standin::InstallVdfpApi(machine, vdfp_standin::VdfpDescription::Default(), options);
  EXPECT_EQ(Run(L""), 0);
  bool logged = false;
  for (const auto& t : sink.Texts('U'))
    logged |= t.rfind("Cannot get VDFPInit[", 0) == 0 &&
              t.find("function from VDFPApi.dll, 0x8007007F") != std::string::npos;
  EXPECT_TRUE(logged);
  EXPECT_TRUE(sink.Contains('E', "-2147024769 OnReady"));  // 0x8007007F
  EXPECT_TRUE(sink.Contains('>', "CUXHandler<class CVdAgentMain>::OnReady"));
  EXPECT_TRUE(Traced("All done."));
}

TEST_F(EntryTest, AnAgentInAnotherSessionStartsWhileTheFirstRuns) {
  auto vdfp = vdfp_standin::InstallVdfpApi(machine);
  const DWORD second = machine.Sessions().CreateSession({.userName = L"bob", .remote = true});
  auto first = machine.CreateProcess({});
  HANDLE m = first->Kernel().CreateMutexW(nullptr, FALSE, core::kAgentInstanceMutex);
  EndAgentsWhenIdle();
  EXPECT_EQ(Run(L"", second), 0);
  EXPECT_FALSE(Traced("This is second instance, aborting."));
  EXPECT_TRUE(Traced("OK to run"));
  EXPECT_TRUE(sink.Contains('>', "CVdAgentMain::OnReady"));
  first->Kernel().CloseHandle(m);
}

TEST_F(EntryTest, KioskLogonTurnsTheWizardsOff) {
  machine.Registry().SetDword(L"HKLM\\SOFTWARE\\Veridane\\Kiosk\\Logon", L"KioskLogon", 1);
  auto vdfp = vdfp_standin::InstallVdfpApi(machine);
  EndAgentsWhenIdle();
  EXPECT_EQ(Run(L""), 0);
  EXPECT_TRUE(Traced("Wizards are disabled in kiosk"));
  // The policy value wins over the kiosk key, and the answer is kept for the process.
  auto p = machine.CreateProcess({});
  core::CAgentProcess proc(*p, nullptr);
  machine.Registry().SetDword(L"HKLM\\SOFTWARE\\Policies\\Veridane\\Lumera", L"KioskLogon", 0);
  EXPECT_FALSE(app::IsKioskLogon(proc));
  machine.Registry().SetDword(L"HKLM\\SOFTWARE\\Policies\\Veridane\\Lumera", L"KioskLogon", 1);
  EXPECT_FALSE(app::IsKioskLogon(proc));
}

class SafeModeTest : public EntryTest {
 protected:
  static sim::MachineDescription Safe() {
    sim::MachineDescription d;
    d.cleanBoot = 1;
    return d;
  }
  SafeModeTest() : EntryTest(Safe()) {}
};

TEST_F(SafeModeTest, SafeModeNeverCreatesTheWindow) {
  EXPECT_EQ(Run(L""), 0);
  EXPECT_TRUE(Traced("VdAgent not allowed in safemode."));
  EXPECT_FALSE(sink.Contains('>', "RunMainLoop"));
}

TEST_F(EntryTest, TheLiteEditionTurnsOnLowProfileAndNoWizardMode) {
  machine.Modules().Install(L"C:\\Program Files\\Veridane\\Brand.dll", {},
                            {{1102, L"Lumera Lite"}});
  machine.Registry().SetString(L"HKLM\\SOFTWARE\\Veridane\\Branding\\Common", L"DLLPath",
                               L"C:\\Program Files\\Veridane\\Brand.dll");
  EXPECT_EQ(Run(L"-RegServer"), 0);
  EXPECT_TRUE(Traced("Low profile mode on"));
  EXPECT_TRUE(Traced("lowProfile = 1"));
}

TEST(LowProfileTest, TheLowProfileProductsTurnTheWizardsOffWithoutTheSwitch) {
  const struct {
    const wchar_t* product;  // null: no product installed
    bool lowProfile;
  } cases[] = {
      {L"Printvue", true},
      {L"Lumera Lite", true},
      {L"Lumera Workstation", false},
      {nullptr, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(c.product ? c.product : L"(none)")));
    sim::Machine machine;
    if (c.product) suite_test::SetInstalledProduct(machine, c.product);
    auto p = machine.CreateProcess({});
    sim::CurrentProcessScope scope(p.get());
    core::CAgentProcess process(*p, nullptr);
    EXPECT_EQ(app::CheckLowProfile(process), c.lowProfile);
    EXPECT_EQ(process.LowProfileMode, c.lowProfile);
    EXPECT_EQ(process.NoWizardMode, c.lowProfile);
    // A NoWizard switch given on the command line is never taken back.
    process.NoWizardMode = true;
    app::CheckLowProfile(process);
    EXPECT_TRUE(process.NoWizardMode);
  }
}

}  // namespace
