// VdAgent.exe /RegServer and /UnRegServer as the installer and uninstaller run them, read back
// through the registry: the toast activator's class in the machine's classes (where COM finds
// a local server under Wine too), the logon entry beside the system's, the environment. A
// second registration changes nothing; the unregistration takes it all back.
#include <windows.h>

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace {

constexpr DWORD kGenerousMs = 60000;  // a bound for a hung program, never a speed claim
constexpr wchar_t kWinlogon[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon";
constexpr wchar_t kServerKey[] =
    L"SOFTWARE\\Classes\\CLSID\\{A24611C3-A363-4950-B931-720A1618D98A}\\LocalServer32";
constexpr wchar_t kEnvironment[] =
    L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";
constexpr wchar_t kCitrix[] = L"SYSTEM\\CurrentControlSet\\Control\\Citrix\\wfshell\\TWI";
constexpr wchar_t kCplIcon[] =
    L"SOFTWARE\\Classes\\CLSID\\{F88E0DEA-5B22-4caa-AC21-C905D6BAF73B}\\DefaultIcon";
constexpr wchar_t kApplications[] = L"SOFTWARE\\Veridane\\Applications";
constexpr wchar_t kSystemUserinit[] = L"C:\\windows\\system32\\userinit.exe";

std::wstring OwnDir() {
  wchar_t path[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring p(path);
  return p.substr(0, p.find_last_of(L'\\') + 1);
}

std::optional<std::wstring> ReadString(const wchar_t* key, const wchar_t* name) {
  wchar_t buf[2048] = {};
  DWORD size = sizeof(buf) - sizeof(wchar_t);
  if (::RegGetValueW(HKEY_LOCAL_MACHINE, key, name,
                     RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND, nullptr, buf,
                     &size) != ERROR_SUCCESS)
    return std::nullopt;
  return std::wstring(buf);
}

void WriteString(const wchar_t* key, const wchar_t* name, const std::wstring& value) {
  HKEY k = nullptr;
  ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, key, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &k,
                              nullptr),
            ERROR_SUCCESS);
  ::RegSetValueExW(k, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  ::RegCloseKey(k);
}

DWORD RunAgent(const wchar_t* args) {
  STARTUPINFOW si{};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi{};
  std::wstring line = L"\"" + OwnDir() + L"VdAgent.exe\" " + args;
  if (!::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, OwnDir().c_str(),
                        &si, &pi))
    return ::GetLastError();
  DWORD code = STILL_ACTIVE;
  if (::WaitForSingleObject(pi.hProcess, kGenerousMs) == WAIT_OBJECT_0)
    ::GetExitCodeProcess(pi.hProcess, &code);
  else
    ::TerminateProcess(pi.hProcess, 99);
  ::CloseHandle(pi.hThread);
  ::CloseHandle(pi.hProcess);
  return code;
}

class RegistrationE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    m_userinit = ReadString(kWinlogon, L"Userinit");
    m_binDir = ReadString(kApplications, L"BinDir");
    WriteString(kWinlogon, L"Userinit", std::wstring(kSystemUserinit) + L",");
    WriteString(kApplications, L"BinDir", OwnDir());
    // A Citrix server's list, so its edit runs through the Win32 registry too.
    WriteString(kCitrix, L"LogoffCheckSysModules", L"ctfmon.exe,");
  }
  void TearDown() override {
    if (m_userinit) WriteString(kWinlogon, L"Userinit", *m_userinit);
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Citrix");
    if (m_binDir)
      WriteString(kApplications, L"BinDir", *m_binDir);
    else
      ::RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kApplications, L"BinDir");
  }
  std::optional<std::wstring> m_userinit, m_binDir;
};

TEST_F(RegistrationE2E, RegisterTwiceThenUnregister) {
  const std::wstring agent = OwnDir() + L"VdAgent.exe";
  ASSERT_EQ(RunAgent(L"/RegServer"), 0u);
  EXPECT_EQ(ReadString(kServerKey, nullptr), L"\"" + agent + L"\"");
  const std::wstring registered = std::wstring(kSystemUserinit) + L"," + agent + L",";
  EXPECT_EQ(ReadString(kWinlogon, L"Userinit"), registered);
  EXPECT_EQ(ReadString(kEnvironment, L"NXWDINSTALLPATH_X86"), OwnDir());
  EXPECT_EQ(ReadString(kEnvironment, L"NXWDINSTALLPATH"), OwnDir());
  EXPECT_EQ(ReadString(kCitrix, L"LogoffCheckSysModules"), L"ctfmon.exe,VdAgent.exe,");
  EXPECT_EQ(ReadString(kCplIcon, nullptr), agent + L",-108");

  ASSERT_EQ(RunAgent(L"/RegServer"), 0u);
  EXPECT_EQ(ReadString(kWinlogon, L"Userinit"), registered) << "the agent is there once";
  EXPECT_EQ(ReadString(kServerKey, nullptr), L"\"" + agent + L"\"");

  ASSERT_EQ(RunAgent(L"/UnRegServer"), 0u);
  EXPECT_FALSE(ReadString(kServerKey, nullptr));
  EXPECT_EQ(ReadString(kWinlogon, L"Userinit"), kSystemUserinit);
  EXPECT_FALSE(ReadString(kEnvironment, L"NXWDINSTALLPATH_X86"));
  EXPECT_FALSE(ReadString(kEnvironment, L"NXWDINSTALLPATH"));
  EXPECT_EQ(ReadString(kCitrix, L"LogoffCheckSysModules"), L"ctfmon.exe");
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
