// The registration run on the simulated machine: what /RegServer writes, that a second run
// changes nothing, that /UnRegServer gives the machine back, and how the list values, the
// environment and the terminal-services client registration cope with odd machines.
#include "app/agent_registration.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "app/agent_module.h"
#include "platform/handles.h"
#include "platform/sim/file_system.h"
#include "platform/sim/machine.h"
#include "platform/sim/module_table.h"
#include "platform/sim/process.h"
#include "platform/sim/registry_store.h"
#include "support/trace/trace.h"
#include "support/trace/trace_sink.h"
#include "tests/testing/forwarding_platform.h"

namespace {

constexpr wchar_t kAgentPath[] = L"C:\\Program Files\\Veridane\\Agent\\VdAgent.exe";
constexpr wchar_t kSystemUserinit[] = L"C:\\Windows\\system32\\userinit.exe";
constexpr wchar_t kWinlogon[] = L"HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon";
constexpr wchar_t kCitrix[] = L"HKLM\\SYSTEM\\CurrentControlSet\\Control\\Citrix\\wfshell\\TWI";
constexpr wchar_t kEnvironment[] =
    L"HKLM\\SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";
constexpr wchar_t kActivatorKey[] =
    L"HKLM\\SOFTWARE\\Classes\\CLSID\\{A24611C3-A363-4950-B931-720A1618D98A}";
constexpr wchar_t kCplClassKey[] =
    L"HKLM\\SOFTWARE\\Classes\\CLSID\\{F88E0DEA-5B22-4caa-AC21-C905D6BAF73B}";
constexpr wchar_t kCplNameSpaceKey[] =
    L"HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\ControlPanel\\NameSpace\\"
    L"{F88E0DEA-5B22-4caa-AC21-C905D6BAF73B}";
constexpr wchar_t kNotificationKey[] =
    L"HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Notifications\\Settings\\"
    L"Veridane.Dashboard";

std::vector<BYTE> Bytes(const std::wstring& s, bool terminated = true) {
  const BYTE* p = reinterpret_cast<const BYTE*>(s.c_str());
  return std::vector<BYTE>(p, p + (s.size() + (terminated ? 1 : 0)) * sizeof(wchar_t));
}

// Every key and value below `path`, as text, so two states compare whole.
void Dump(const sim::RegistryStore& reg, const std::wstring& path,
          std::map<std::wstring, std::wstring>* out) {
  (*out)[path] = L"<key>";
  for (const auto& name : reg.ValueNames(path)) {
    auto v = reg.GetValue(path, name);
    std::wstring text = std::to_wstring(v->first) + L":";
    for (BYTE b : v->second) text += std::to_wstring(b) + L" ";
    (*out)[path + L"|" + name] = text;
  }
  for (const auto& sub : reg.SubKeyNames(path)) Dump(reg, path + L"\\" + sub, out);
}

class UiRecorder : public vdtest::ForwardingUi {
 public:
  using ForwardingUi::ForwardingUi;
  LRESULT SendMessageTimeoutW(HWND h, UINT msg, WPARAM wp, LPARAM lp, UINT flags, UINT timeout,
                              PDWORD_PTR result) override {
    if (msg == WM_SETTINGCHANGE && lp)
      settingChanges.push_back({h, reinterpret_cast<const wchar_t*>(lp), flags, timeout});
    return ForwardingUi::SendMessageTimeoutW(h, msg, wp, lp, flags, timeout, result);
  }
  struct Change {
    HWND target;
    std::wstring area;
    UINT flags;
    UINT timeout;
  };
  std::vector<Change> settingChanges;
};

class RegistrationPlatform : public platform::IPlatform {
 public:
  explicit RegistrationPlatform(sim::Process& p) : process(p), ui(p.Ui()) {}
  platform::IRegistry& Registry() override { return process.Registry(); }
  platform::IKernel& Kernel() override { return process.Kernel(); }
  platform::IUi& Ui() override { return ui; }
  platform::ISessions& Sessions() override { return process.Sessions(); }
  platform::ICom& Com() override { return process.Com(); }
  platform::IModules& Modules() override { return process.Modules(); }
  platform::IShell& Shell() override { return process.Shell(); }
  platform::ICrypt& Crypt() override { return process.Crypt(); }
  platform::IGdi& Gdi() override { return process.Gdi(); }
  sim::Process& process;
  UiRecorder ui;
};

class RegistrationTest : public ::testing::Test {
 protected:
  RegistrationTest() { Start(kAgentPath); }
  ~RegistrationTest() override { VDTraceNS::Bind(nullptr); }

  void Start(const std::wstring& exePath) {
    agent.reset();
    plat.reset();
    scope.reset();
    VDTraceNS::Bind(nullptr);
    proc = machine.CreateProcess({.exePath = exePath, .elevatedAdmin = true});
    scope = std::make_unique<sim::CurrentProcessScope>(proc.get());
    plat = std::make_unique<RegistrationPlatform>(*proc);
    agent = std::make_unique<core::CAgentProcess>(*plat, nullptr);
    VDTraceNS::Bind(proc.get());
  }
  // A machine as the installer finds it: the system's Userinit with an older agent, the
  // suite's folders, a Citrix server and an unrelated environment variable.
  void SeedMachine() {
    auto& r = machine.Registry();
    r.SetString(kWinlogon, L"Userinit",
                std::wstring(kSystemUserinit) + L",C:\\Old Suite\\VdAgent.exe");
    r.SetString(kWinlogon, L"Shell", L"explorer.exe");
    r.SetString(kCitrix, L"LogoffCheckSysModules", L"ctfmon.exe,");
    r.SetString(kEnvironment, L"Path", L"C:\\Windows");
    r.SetString(L"HKLM\\SOFTWARE\\Veridane\\Applications", L"BinDir",
                L"C:\\Program Files\\Veridane\\Bin\\");
    r.SetString(L"HKLM\\SOFTWARE\\Veridane", L"VeridanePath", L"C:\\Program Files\\Veridane");
    std::filesystem::create_directories(machine.Files().HostPath(L"C:\\Program Files\\Veridane"));
  }
  std::map<std::wstring, std::wstring> State() {
    std::map<std::wstring, std::wstring> s;
    Dump(machine.Registry(), L"HKLM", &s);
    return s;
  }
  bool Traced(const std::string& part) {
    for (const auto& r : sink.Records())
      if (r.text.find(part) != std::string::npos) return true;
    return false;
  }
  std::wstring Userinit() { return *machine.Registry().GetString(kWinlogon, L"Userinit"); }

  VDTraceNS::CRecordingSink sink;
  sim::Machine machine;
  std::unique_ptr<sim::Process> proc;
  std::unique_ptr<sim::CurrentProcessScope> scope;
  std::unique_ptr<RegistrationPlatform> plat;
  std::unique_ptr<core::CAgentProcess> agent;
};

TEST_F(RegistrationTest, RegisterWritesTheActivatorLogonEntryEnvironmentAndControlPanelItem) {
  SeedMachine();
  ASSERT_EQ(CVdAgentModule::RegisterServer(*agent, false), S_OK);
  auto& r = machine.Registry();

  // A path with spaces is quoted, or COM would start "C:\Program".
  const std::wstring server = L"\"" + std::wstring(kAgentPath) + L"\"";
  EXPECT_EQ(r.GetValue(std::wstring(kActivatorKey) + L"\\LocalServer32", L"")->second,
            Bytes(server));
  EXPECT_EQ(r.GetValue(kActivatorKey, L"")->second, Bytes(L"Veridane Agent Toast Activator Class"))
      << "the terminating NUL is counted";
  EXPECT_EQ(r.GetDword(kNotificationKey, L"ShowInActionCenter"), 1u);

  EXPECT_EQ(Userinit(), std::wstring(kSystemUserinit) + L"," + kAgentPath + L",")
      << "the older agent is replaced by this one";
  EXPECT_EQ(r.GetString(kCitrix, L"LogoffCheckSysModules"), L"ctfmon.exe,VdAgent.exe,");

  auto bin = r.GetValue(kEnvironment, L"NXWDINSTALLPATH");
  ASSERT_TRUE(bin);
  EXPECT_EQ(bin->first, static_cast<DWORD>(REG_EXPAND_SZ));
  EXPECT_EQ(bin->second, Bytes(L"C:\\Program Files\\Veridane\\Bin\\"));
  EXPECT_EQ(r.GetString(kEnvironment, L"NXWDINSTALLPATH_X86"),
            L"C:\\Program Files\\Veridane\\Agent\\");
  ASSERT_EQ(plat->ui.settingChanges.size(), 2u);
  EXPECT_EQ(plat->ui.settingChanges[0].target, HWND_BROADCAST);
  EXPECT_EQ(plat->ui.settingChanges[0].area, L"Environment");
  EXPECT_EQ(plat->ui.settingChanges[0].timeout, 1000u);

  EXPECT_TRUE(r.KeyExists(kCplNameSpaceKey));
  EXPECT_EQ(r.GetString(kCplClassKey, L"System.ControlPanel.Category"), L"10");
  EXPECT_EQ(r.GetDword(kCplClassKey, L"{305CA226-D286-468e-B848-2B2E8E697B74} 2"), 10u);
  EXPECT_EQ(r.GetString(kCplClassKey, L"System.Software.TasksFileUrl"),
            L"%NXWDINSTALLPATH_X86%VdAgent.exe,-903");
  EXPECT_EQ(r.GetString(kCplClassKey, L"LocalizedString"),
            L"@%NXWDINSTALLPATH_X86%VdAgent.exe,-103");
  EXPECT_EQ(r.GetString(std::wstring(kCplClassKey) + L"\\DefaultIcon", L""),
            std::wstring(kAgentPath) + L",-108");
  EXPECT_EQ(r.GetString(std::wstring(kCplClassKey) + L"\\Shell\\Open\\Command", L""),
            L"\"%NXWDINSTALLPATH_X86%VdAgent.exe\" /OpenConsole");
}

TEST_F(RegistrationTest, RegisteringTwiceLeavesTheSameMachineAndUnregisteringGivesItBack) {
  SeedMachine();
  // The installer's run: an older agent is already replaced, the list keeps its comma.
  machine.Registry().SetString(kWinlogon, L"Userinit", std::wstring(kSystemUserinit) + L",");
  const auto before = State();
  ASSERT_EQ(CVdAgentModule::RegisterServer(*agent, false), S_OK);
  const auto once = State();
  ASSERT_EQ(CVdAgentModule::RegisterServer(*agent, false), S_OK);
  EXPECT_EQ(State(), once);
  // One Start menu link, however often registered; it goes with its folder.
  const auto links = machine.Files().HostPath(
      L"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\Veridane");
  ASSERT_TRUE(std::filesystem::is_directory(links));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(links), {}), 1);

  ASSERT_EQ(CVdAgentModule::UnregisterServer(*agent, false), S_OK);
  EXPECT_FALSE(std::filesystem::exists(links));
  auto after = State();
  // What stays by design: the Control Panel keys go with the uninstaller's list, the
  // parents of the keys written are the system's, and the lists lose their last comma.
  for (auto it = after.begin(); it != after.end();) {
    const bool cpl =
        it->first.rfind(kCplClassKey, 0) == 0 || it->first.rfind(kCplNameSpaceKey, 0) == 0;
    bool parent = false;
    for (const wchar_t* written : {kNotificationKey, kActivatorKey, kCplNameSpaceKey})
      parent =
          parent || (!before.count(it->first) && std::wstring(written).rfind(it->first, 0) == 0);
    it = cpl || parent ? after.erase(it) : std::next(it);
  }
  EXPECT_EQ(Userinit(), kSystemUserinit);
  EXPECT_EQ(machine.Registry().GetString(kCitrix, L"LogoffCheckSysModules"), L"ctfmon.exe");
  for (const std::wstring& list :
       {std::wstring(kWinlogon) + L"|Userinit", std::wstring(kCitrix) + L"|LogoffCheckSysModules"})
    after[list] = before.at(list);
  for (const auto& [k, v] : after)
    if (!before.count(k) || before.at(k) != v)
      ADD_FAILURE() << "left or changed: " << std::string(k.begin(), k.end());
  for (const auto& [k, v] : before)
    if (!after.count(k)) ADD_FAILURE() << "lost: " << std::string(k.begin(), k.end());

  std::ifstream list(machine.Files().HostPath(L"C:\\Program Files\\Veridane\\Cleanup.txt"),
                     std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(list)), {});
  std::string narrow;
  for (size_t i = 2; i + 1 < bytes.size(); i += 2) narrow += bytes[i];
  EXPECT_NE(
      narrow.find("HKLM\tSOFTWARE\\Classes\\CLSID\\{F88E0DEA-5B22-4caa-AC21-C905D6BAF73B}\t2"),
      std::string::npos);
  EXPECT_NE(narrow.find("ControlPanel\\NameSpace\\{F88E0DEA-5B22-4caa-AC21-C905D6BAF73B}\t2"),
            std::string::npos);
}

TEST_F(RegistrationTest, LowProfileRegistersWithComAndLogonOnly) {
  SeedMachine();
  ASSERT_EQ(CVdAgentModule::RegisterServer(*agent, true), S_OK);
  auto& r = machine.Registry();
  EXPECT_TRUE(r.KeyExists(kActivatorKey));
  EXPECT_EQ(Userinit(), std::wstring(kSystemUserinit) + L"," + kAgentPath + L",");
  EXPECT_FALSE(r.GetValue(kEnvironment, L"NXWDINSTALLPATH"));
  EXPECT_FALSE(r.KeyExists(kCplClassKey));
  EXPECT_EQ(r.GetString(kCitrix, L"LogoffCheckSysModules"), L"ctfmon.exe");
  EXPECT_TRUE(plat->ui.settingChanges.empty());
}

TEST_F(RegistrationTest, UnregisteringKeepsAnotherAgentsEntryAndSurvivesAMissingCleanupList) {
  auto& r = machine.Registry();
  r.SetString(kWinlogon, L"Userinit",
              std::wstring(kSystemUserinit) + L",D:\\Other\\VdAgent.exe," + kAgentPath + L",");
  // No VeridanePath: the clean-up list cannot be written, the rest still goes.
  r.SetString(kActivatorKey, L"", L"stale");
  // Force-removed means whole, in the 64-bit view this 32-bit agent wrote it to.
  r.SetString(std::wstring(kActivatorKey) + L"\\Extra", L"", L"x");
  EXPECT_EQ(CVdAgentModule::UnregisterServer(*agent, false), S_OK);
  EXPECT_EQ(Userinit(), std::wstring(kSystemUserinit) + L",D:\\Other\\VdAgent.exe");
  EXPECT_TRUE(Traced("AddCleanupLine"));
  EXPECT_FALSE(r.KeyExists(kActivatorKey));
}

TEST_F(RegistrationTest, ListValuesOfAnotherTypeOrAbsentAreLeftAlone) {
  auto& r = machine.Registry();
  const std::wstring odd = std::wstring(kSystemUserinit) + L",";
  r.SetValue(kWinlogon, L"Userinit", REG_EXPAND_SZ, Bytes(odd));
  r.SetValue(kCitrix, L"LogoffCheckSysModules", REG_BINARY, {1, 2, 3});
  EXPECT_EQ(CVdAgentModule::RegisterServer(*agent, true), S_OK);
  EXPECT_EQ(r.GetValue(kWinlogon, L"Userinit")->first, static_cast<DWORD>(REG_EXPAND_SZ));
  EXPECT_EQ(r.GetValue(kWinlogon, L"Userinit")->second, Bytes(odd));
  EXPECT_EQ(r.GetValue(kCitrix, L"LogoffCheckSysModules")->second, (std::vector<BYTE>{1, 2, 3}));
  EXPECT_TRUE(Traced("Userinit is not a string value"));

  // Without the system's entry the agent alone would leave the user without a shell.
  r.DeleteValue(kWinlogon, L"Userinit");
  EXPECT_EQ(CVdAgentModule::RegisterServer(*agent, true), S_OK);
  EXPECT_FALSE(r.GetValue(kWinlogon, L"Userinit"));

  // No Citrix on the machine: nothing is created there.
  r.DeleteKey(kCitrix);
  citrixlogoffmodulecheck_t citrix(*plat);
  citrix.addUniqueValue(kAgentPath);
  EXPECT_TRUE(Traced("Failed at Step 1."));
  EXPECT_FALSE(r.KeyExists(kCitrix));
}

TEST_F(RegistrationTest, UnterminatedStringsAreReadAsFarAsTheyGo) {
  auto& r = machine.Registry();
  r.SetValue(kWinlogon, L"Userinit", REG_SZ, Bytes(kSystemUserinit, /*terminated=*/false));
  userinitkey_t userinit(*plat);
  EXPECT_EQ(userinit.Current(), kSystemUserinit);
  userinit.addUniqueValue(kAgentPath);
  EXPECT_EQ(Userinit(), std::wstring(kSystemUserinit) + L"," + kAgentPath + L",");

  // An odd byte count: the half character is no character.
  auto bytes = Bytes(L"ab", false);
  bytes.push_back(0x41);
  r.SetValue(kWinlogon, L"Odd", REG_SZ, bytes);
  platform::UniqueHKey key(plat->Registry());
  ASSERT_EQ(plat->Registry().RegOpenKeyExW(HKEY_LOCAL_MACHINE, registration::kUserinitKey, 0,
                                           KEY_READ | KEY_WOW64_64KEY, key.put()),
            ERROR_SUCCESS);
  std::wstring text;
  EXPECT_EQ(registration::ReadString(plat->Registry(), key.get(), L"Odd", &text),
            registration::StringRead::Ok);
  EXPECT_EQ(text, L"ab");
  r.SetDword(kWinlogon, L"Number", 7);
  EXPECT_EQ(registration::ReadString(plat->Registry(), key.get(), L"Number", &text),
            registration::StringRead::WrongType);
  // Longer than any fixed buffer: read whole.
  const std::wstring lengthy(5000, L'x');
  r.SetString(kWinlogon, L"Long", lengthy);
  EXPECT_EQ(registration::ReadString(plat->Registry(), key.get(), L"Long", &text),
            registration::StringRead::Ok);
  EXPECT_EQ(text, lengthy);
}

TEST_F(RegistrationTest, AnEmptyVariableIsDeletedAndTheChangeStillAnnounced) {
  auto& r = machine.Registry();
  r.SetString(kEnvironment, L"NXWDINSTALLPATH", L"C:\\Old\\");
  using Tessaline::System::Environment::WriteEnvironmentVariable;
  EXPECT_EQ(WriteEnvironmentVariable(*plat, L"NXWDINSTALLPATH", L""), S_OK);
  EXPECT_FALSE(r.GetValue(kEnvironment, L"NXWDINSTALLPATH"));
  EXPECT_EQ(WriteEnvironmentVariable(*plat, L"NXWDINSTALLPATH", L""), S_OK) << "already gone";
  ASSERT_EQ(plat->ui.settingChanges.size(), 2u);
  EXPECT_EQ(plat->ui.settingChanges[1].area, L"Environment");
  EXPECT_EQ(plat->ui.settingChanges[1].flags, static_cast<UINT>(SMTO_NORMAL));
}

TEST_F(RegistrationTest, TheTasksFileFollowsTheEditionAndARegistrationFailureStopsTheChain) {
  SeedMachine();
  auto& r = machine.Registry();
  r.SetString(L"HKLM\\SOFTWARE\\WOW6432Node\\Veridane\\Products\\Lumera Mobile Enrollment",
              L"Version", L"3.0");
  ASSERT_EQ(CVdAgentModule::RegisterServer(*agent, false), S_OK);
  EXPECT_EQ(r.GetString(kCplClassKey, L"System.Software.TasksFileUrl"),
            L"%NXWDINSTALLPATH_X86%VdAgent.exe,-902");
  r.SetString(L"HKLM\\SOFTWARE\\WOW6432Node\\Veridane\\Products\\Oemline Security Manager",
              L"Version", L"3.0");
  Start(kAgentPath);  // the editions are read once per process
  ASSERT_EQ(CVdAgentModule::RegisterServer(*agent, false), S_OK);
  EXPECT_EQ(r.GetString(kCplClassKey, L"System.Software.TasksFileUrl"),
            L"%NXWDINSTALLPATH_X86%VdAgent.exe,-904");

  // No BinDir: the environment fails and nothing after it runs; the logon entry is made.
  r.DeleteKey(kCplClassKey + std::wstring(L"\\Shell\\Open\\Command"));
  r.DeleteValue(L"HKLM\\SOFTWARE\\Veridane\\Applications", L"BinDir");
  r.SetString(kCitrix, L"LogoffCheckSysModules", L"ctfmon.exe");
  EXPECT_TRUE(FAILED(CVdAgentModule::RegisterServer(*agent, false)));
  EXPECT_TRUE(Traced("Setting environment strings"));
  EXPECT_EQ(r.GetString(kCitrix, L"LogoffCheckSysModules"), L"ctfmon.exe");
  EXPECT_FALSE(r.KeyExists(kCplClassKey + std::wstring(L"\\Shell\\Open\\Command")));
}

TEST_F(RegistrationTest, AModulePathTheBufferCutsRegistersNothing) {
  SeedMachine();
  Start(L"C:\\" + std::wstring(300, L'd') + L"\\VdAgent.exe");
  const HRESULT hr = CVdAgentModule::RegisterServer(*agent, false);
  EXPECT_EQ(hr, HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_TRUE(Traced("Registering module"));
  EXPECT_FALSE(machine.Registry().KeyExists(kActivatorKey));
  EXPECT_EQ(Userinit(), std::wstring(kSystemUserinit) + L",C:\\Old Suite\\VdAgent.exe");
}

// The terminal-services client: a stand-in that counts its registrations.
int g_tsCalls = 0;
HRESULT g_tsResult = S_OK;
HRESULT TsRegister() {
  ++g_tsCalls;
  return g_tsResult;
}

TEST_F(RegistrationTest, TheTerminalServicesClientIsRegisteredWhenPresentAndFreedAfter) {
  g_tsCalls = 0;
  constexpr wchar_t kBeside[] = L"C:\\Program Files\\Veridane\\Agent\\VDTSClnt.dll";
  EXPECT_EQ(RegisterTSClient(*plat), HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND));
  EXPECT_TRUE(Traced("module not found"));

  machine.Modules().Install(kBeside, {});
  EXPECT_EQ(RegisterTSClient(*plat), HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND));
  EXPECT_TRUE(Traced("other error"));

  machine.Modules().Install(
      kBeside, {{"DllRegisterServer",
                 reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(&TsRegister))}});
  g_tsResult = E_ACCESSDENIED;
  EXPECT_EQ(RegisterTSClient(*plat), E_ACCESSDENIED);
  g_tsResult = S_OK;
  EXPECT_EQ(RegisterTSClient(*plat), S_OK);
  EXPECT_EQ(g_tsCalls, 2);
  EXPECT_EQ(proc->Modules().GetModuleHandleW(L"VDTSClnt.dll"), nullptr) << "freed after the call";
}

}  // namespace
