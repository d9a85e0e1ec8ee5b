// The Windows stand-ins' own record of what they were asked: one UTF-8 line per call,
// appended to "<name>.log" in the folder of the module (DLL or program) holding this code, so
// a test that put the module there reads it back.
//
//   standins::AppendBesideLog(L"VDNXUtils.log", L"sound success");
#pragma once

#include <windows.h>

#include <string>

namespace standins {

// The folder of the module this function is linked into, with a trailing backslash.
inline std::wstring OwnFolder() {
  HMODULE self = nullptr;
  ::GetModuleHandleExW(
      GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
      reinterpret_cast<LPCWSTR>(&OwnFolder), &self);
  wchar_t path[MAX_PATH] = {};
  const DWORD n = ::GetModuleFileNameW(self, path, MAX_PATH);
  std::wstring p(path, n);
  return p.substr(0, p.find_last_of(L'\\') + 1);
}

inline std::string ToUtf8(const std::wstring& w) {
  if (w.empty()) return {};
  const int n = ::WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0,
                                      nullptr, nullptr);
  std::string s(static_cast<std::size_t>(n), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), s.data(), n, nullptr,
                        nullptr);
  return s;
}

// Appends `line` and a line break; several processes may append at once (FILE_APPEND_DATA
// writes land whole at the end).
inline void AppendBesideLog(const wchar_t* logName, const std::wstring& line) {
  HANDLE f = ::CreateFileW((OwnFolder() + logName).c_str(), FILE_APPEND_DATA,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) return;  // a stand-in's log never fails the call it records
  const std::string bytes = ToUtf8(line) + "\r\n";
  DWORD written = 0;
  ::WriteFile(f, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  ::CloseHandle(f);
}

// The text of "<name>" beside the module, empty when there is none.
inline std::string ReadBesideFile(const wchar_t* name) {
  HANDLE f =
      ::CreateFileW((OwnFolder() + name).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) return {};
  std::string text;
  char buf[4096];
  DWORD n = 0;
  // A description is small; anything past 1 MiB is not one.
  while (text.size() < (1u << 20) && ::ReadFile(f, buf, sizeof(buf), &n, nullptr) && n)
    text.append(buf, n);
  ::CloseHandle(f);
  return text;
}

}  // namespace standins
