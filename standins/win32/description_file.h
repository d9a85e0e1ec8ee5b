// The machine description file of the stand-in libraries on Windows: the authentication and
// the card library read the same one. Its name is the REG_SZ (or REG_EXPAND_SZ)
// "DescriptionFile" under HKLM\SOFTWARE\Veridane\StandIns\VDFPApi, else the environment
// variable VDFP_STANDIN_DESCRIPTION; neither: the built-in default machine. A file named but
// not usable fails with CDescriptionFailure, whose code the library's calls answer with; the
// library reports the text itself.
#pragma once

#include <windows.h>

#include <string>

#include "standins/vdfpapi/description.h"

namespace standin_win32 {

inline constexpr const wchar_t* kDescriptionValue = L"DescriptionFile";
inline constexpr const wchar_t* kDescriptionVariable = L"VDFP_STANDIN_DESCRIPTION";

// Why the description the administrator named cannot be used, with the code every entry point
// answers from then on.
struct CDescriptionFailure {
  HRESULT hr;
  std::wstring what;
};

[[noreturn]] inline void FailDescription(HRESULT hr, const std::wstring& what) {
  // A last error of 0 must not turn into a library that answers S_OK to every call.
  throw CDescriptionFailure{FAILED(hr) ? hr : E_FAIL, what};
}

inline std::wstring ErrorText(DWORD error) { return L"error " + std::to_wstring(error); }

// The REG_SZ or REG_EXPAND_SZ "DescriptionFile", empty when there is none. RegGetValueW
// refuses RRF_RT_REG_EXPAND_SZ without RRF_NOEXPAND (ERROR_INVALID_PARAMETER, on Windows and
// on Wine alike): the value is read as stored and expanded here.
inline std::wstring RegistryDescriptionPath() {
  constexpr const wchar_t* kKey = L"SOFTWARE\\Veridane\\StandIns\\VDFPApi";
  constexpr DWORD kFlags = RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND;
  std::wstring value;
  DWORD type = 0;
  DWORD bytes = 0;
  LSTATUS st =
      ::RegGetValueW(HKEY_LOCAL_MACHINE, kKey, kDescriptionValue, kFlags, &type, nullptr, &bytes);
  // The value may grow between the size query and the read: ask again until it fits.
  while (st == ERROR_SUCCESS || st == ERROR_MORE_DATA) {
    value.resize(bytes / sizeof(wchar_t) + 1);
    bytes = static_cast<DWORD>(value.size() * sizeof(wchar_t));
    st = ::RegGetValueW(HKEY_LOCAL_MACHINE, kKey, kDescriptionValue, kFlags, &type, value.data(),
                        &bytes);
    if (st == ERROR_SUCCESS) {
      value.resize(bytes / sizeof(wchar_t));
      while (!value.empty() && value.back() == L'\0') value.pop_back();
      break;
    }
  }
  if (st == ERROR_FILE_NOT_FOUND) return {};  // no key or no value: the default machine
  if (st != ERROR_SUCCESS)
    FailDescription(HRESULT_FROM_WIN32(st),
                    L"cannot read the registry value DescriptionFile: " + ErrorText(st));
  if (type == REG_EXPAND_SZ && !value.empty()) {
    const DWORD n = ::ExpandEnvironmentStringsW(value.c_str(), nullptr, 0);
    std::wstring expanded(n, L'\0');
    if (n == 0 || ::ExpandEnvironmentStringsW(value.c_str(), expanded.data(), n) != n)
      FailDescription(HRESULT_FROM_WIN32(::GetLastError()),
                      L"cannot expand the DescriptionFile " + value);
    expanded.resize(n - 1);
    value = expanded;
  }
  return value;
}

inline std::wstring DescriptionPath() {
  std::wstring path = RegistryDescriptionPath();
  if (!path.empty()) return path;
  const DWORD n = ::GetEnvironmentVariableW(kDescriptionVariable, nullptr, 0);
  if (n <= 1) return {};
  path.resize(n);
  path.resize(::GetEnvironmentVariableW(kDescriptionVariable, path.data(), n));
  return path;
}

// The file's text, at most vdfp_standin::kMaxDescriptionBytes: the wide path reaches every file
// name (the narrow one of std::ifstream is in the ANSI code page), and the error is the system's.
inline std::string ReadDescriptionFile(const std::wstring& path) {
  HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD error = ::GetLastError();
    FailDescription(HRESULT_FROM_WIN32(error), L"cannot read " + path + L": " + ErrorText(error));
  }
  std::string text(vdfp_standin::kMaxDescriptionBytes + 1, '\0');
  std::size_t got = 0;
  DWORD error = ERROR_SUCCESS;
  for (DWORD n = 0; got < text.size(); got += n) {
    if (!::ReadFile(file, text.data() + got, static_cast<DWORD>(text.size() - got), &n, nullptr)) {
      error = ::GetLastError();
      break;
    }
    if (n == 0) break;
  }
  ::CloseHandle(file);
  if (error != ERROR_SUCCESS)
    FailDescription(HRESULT_FROM_WIN32(error), L"cannot read " + path + L": " + ErrorText(error));
  if (got > vdfp_standin::kMaxDescriptionBytes)
    FailDescription(
        HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE),
        path + L" is larger than " + vdfp_standin::Utf8ToWide(vdfp_standin::kMaxDescriptionSize));
  text.resize(got);
  return text;
}

}  // namespace standin_win32
