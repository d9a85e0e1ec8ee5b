// What the Wine cases that install or register the agent read, write and run: the test
// program's own folder, HKLM strings in the program's own view, and programs run to their end.
//
//   using namespace wine_test;
//   WriteMachineString(L"SOFTWARE\\Veridane\\Applications", L"BinDir", OwnDir());
//   EXPECT_EQ(ReadMachineString(L"SOFTWARE\\Veridane\\Applications", L"BinDir"), OwnDir());
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace wine_test {

// The machine's keys that registration writes and its clean-up leaves or removes.
constexpr wchar_t kWinlogon[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon";
constexpr wchar_t kEnvironment[] =
    L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";
constexpr wchar_t kActivator[] =
    L"SOFTWARE\\Classes\\CLSID\\{A24611C3-A363-4950-B931-720A1618D98A}";
constexpr wchar_t kApplications[] = L"SOFTWARE\\Veridane\\Applications";
// Winlogon's "Userinit" before any agent is registered.
constexpr wchar_t kSystemUserinit[] = L"C:\\windows\\system32\\userinit.exe";

// With its trailing backslash.
inline std::wstring OwnDir() {
  wchar_t path[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring p(path);
  return p.substr(0, p.find_last_of(L'\\') + 1);
}

// A REG_SZ or REG_EXPAND_SZ value as stored (not expanded); nullopt when missing. `name`
// null: the key's default value.
inline std::optional<std::wstring> ReadMachineString(const wchar_t* key, const wchar_t* name) {
  wchar_t buf[2048] = {};
  DWORD size = sizeof(buf) - sizeof(wchar_t);
  if (::RegGetValueW(HKEY_LOCAL_MACHINE, key, name,
                     RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND, nullptr, buf,
                     &size) != ERROR_SUCCESS)
    return std::nullopt;
  return std::wstring(buf);
}

// A REG_SZ value, creating the key; a key that cannot be created fails the case.
inline void WriteMachineString(const wchar_t* key, const wchar_t* name, const std::wstring& value) {
  HKEY k = nullptr;
  ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, key, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &k,
                              nullptr),
            ERROR_SUCCESS);
  ::RegSetValueExW(k, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  ::RegCloseKey(k);
}

// A program run in `folder` until it ends: its exit code, the error when it could not start,
// or STILL_ACTIVE when it did not end within `ms` (it is then ended).
inline DWORD Run(const std::wstring& commandLine, const std::wstring& folder, DWORD ms) {
  STARTUPINFOW si{};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi{};
  std::wstring line = commandLine;
  if (!::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(),
                        &si, &pi))
    return ::GetLastError();
  DWORD code = STILL_ACTIVE;
  if (::WaitForSingleObject(pi.hProcess, ms) == WAIT_OBJECT_0)
    ::GetExitCodeProcess(pi.hProcess, &code);
  else
    ::TerminateProcess(pi.hProcess, 99);
  ::CloseHandle(pi.hThread);
  ::CloseHandle(pi.hProcess);
  return code;
}

}  // namespace wine_test
