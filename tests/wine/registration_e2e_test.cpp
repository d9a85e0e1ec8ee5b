// VdAgent.exe /RegServer and /UnRegServer as the installer and uninstaller run them, read back
// through the registry: the toast activator's class in the machine's classes (where COM finds
// a local server under Wine too), the logon entry beside the system's, the environment. A
// second registration changes nothing; the unregistration takes it all back.
#include <windows.h>

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "tests/wine/machine_registry.h"

namespace {

using wine_test::kActivator;
using wine_test::kApplications;
using wine_test::kEnvironment;
using wine_test::kSystemUserinit;
using wine_test::kWinlogon;
using wine_test::OwnDir;
using wine_test::ReadMachineString;
using wine_test::WriteMachineString;

constexpr DWORD kGenerousMs = 60000;  // a bound for a hung program, never a speed claim
constexpr wchar_t kCitrix[] = L"SYSTEM\\CurrentControlSet\\Control\\Citrix\\wfshell\\TWI";
constexpr wchar_t kCplIcon[] =
    L"SOFTWARE\\Classes\\CLSID\\{F88E0DEA-5B22-4caa-AC21-C905D6BAF73B}\\DefaultIcon";

const std::wstring kServerKey = std::wstring(kActivator) + L"\\LocalServer32";

DWORD RunAgent(const wchar_t* args) {
  return wine_test::Run(L"\"" + OwnDir() + L"VdAgent.exe\" " + args, OwnDir(), kGenerousMs);
}

class RegistrationE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    m_userinit = ReadMachineString(kWinlogon, L"Userinit");
    m_binDir = ReadMachineString(kApplications, L"BinDir");
    WriteMachineString(kWinlogon, L"Userinit", std::wstring(kSystemUserinit) + L",");
    WriteMachineString(kApplications, L"BinDir", OwnDir());
    // A Citrix server's list, so its edit runs through the Win32 registry too.
    WriteMachineString(kCitrix, L"LogoffCheckSysModules", L"ctfmon.exe,");
  }
  void TearDown() override {
    if (m_userinit) WriteMachineString(kWinlogon, L"Userinit", *m_userinit);
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Citrix");
    if (m_binDir)
      WriteMachineString(kApplications, L"BinDir", *m_binDir);
    else
      ::RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kApplications, L"BinDir");
  }
  std::optional<std::wstring> m_userinit, m_binDir;
};

TEST_F(RegistrationE2E, RegisterTwiceThenUnregister) {
  const std::wstring agent = OwnDir() + L"VdAgent.exe";
  ASSERT_EQ(RunAgent(L"/RegServer"), 0u);
  EXPECT_EQ(ReadMachineString(kServerKey.c_str(), nullptr), L"\"" + agent + L"\"");
  const std::wstring registered = std::wstring(kSystemUserinit) + L"," + agent + L",";
  EXPECT_EQ(ReadMachineString(kWinlogon, L"Userinit"), registered);
  EXPECT_EQ(ReadMachineString(kEnvironment, L"NXWDINSTALLPATH_X86"), OwnDir());
  EXPECT_EQ(ReadMachineString(kEnvironment, L"NXWDINSTALLPATH"), OwnDir());
  EXPECT_EQ(ReadMachineString(kCitrix, L"LogoffCheckSysModules"), L"ctfmon.exe,VdAgent.exe,");
  EXPECT_EQ(ReadMachineString(kCplIcon, nullptr), agent + L",-108");

  ASSERT_EQ(RunAgent(L"/RegServer"), 0u);
  EXPECT_EQ(ReadMachineString(kWinlogon, L"Userinit"), registered) << "the agent is there once";
  EXPECT_EQ(ReadMachineString(kServerKey.c_str(), nullptr), L"\"" + agent + L"\"");

  ASSERT_EQ(RunAgent(L"/UnRegServer"), 0u);
  EXPECT_FALSE(ReadMachineString(kServerKey.c_str(), nullptr));
  EXPECT_EQ(ReadMachineString(kWinlogon, L"Userinit"), kSystemUserinit);
  EXPECT_FALSE(ReadMachineString(kEnvironment, L"NXWDINSTALLPATH_X86"));
  EXPECT_FALSE(ReadMachineString(kEnvironment, L"NXWDINSTALLPATH"));
  EXPECT_EQ(ReadMachineString(kCitrix, L"LogoffCheckSysModules"), L"ctfmon.exe");
}

// What the registration points the shell at must be in the executable: the icons, the
// Control Panel texts and each edition's tasks file.
TEST(RegistrationResources, TheExecutableCarriesWhatTheRegistrationNames) {
  HMODULE exe = ::LoadLibraryExW((OwnDir() + L"VdAgent.exe").c_str(), nullptr,
                                 LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  ASSERT_NE(exe, nullptr);
  for (UINT id : {103u, 910u, 911u, 912u}) {
    wchar_t text[256] = {};
    EXPECT_GT(::LoadStringW(exe, id, text, 256), 0) << id;
  }
  for (UINT id : {3u, 108u})
    EXPECT_NE(::FindResourceW(exe, MAKEINTRESOURCEW(id), RT_GROUP_ICON), nullptr) << id;
  for (UINT id : {902u, 903u, 904u}) {
    HRSRC r = ::FindResourceW(exe, MAKEINTRESOURCEW(id), L"XML");
    ASSERT_NE(r, nullptr) << id;
    const char* xml = static_cast<const char*>(::LockResource(::LoadResource(exe, r)));
    const std::string text(xml, ::SizeofResource(exe, r));
    EXPECT_NE(text.find("{53101971-FB3D-406b-83DE-E4FF17B4E8F8}"), std::string::npos) << id;
    EXPECT_NE(text.find("/OpenConsole"), std::string::npos) << id;
  }
  ::FreeLibrary(exe);
}

}  // namespace
