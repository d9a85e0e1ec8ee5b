#include "support/trace/trace_config.h"

#include <cwctype>
#include <vector>

#include "platform/handles.h"

namespace VDTraceNS {

namespace {

// Opens the tracing key (or a sub-key of it): default view first; a 32-bit process on 64-bit
// Windows then tries the 64-bit view, where a 64-bit installer writes it.
platform::UniqueHKey OpenTracingKey(platform::IRegistry& reg, const std::wstring& subKey = {}) {
  std::wstring path = kTracingKey;
  if (!subKey.empty()) path += L"\\" + subKey;
  platform::UniqueHKey key(reg);
  if (reg.RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, key.put()) ==
      ERROR_SUCCESS) {
    return key;
  }
  if (reg.IsWow64Process() &&
      reg.RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ | KEY_WOW64_64KEY,
                        key.put()) == ERROR_SUCCESS) {
    return key;
  }
  key.reset();
  return key;
}

bool QueryDword(platform::IRegistry& reg, HKEY key, const wchar_t* name, DWORD& value) {
  DWORD type = 0;
  DWORD data = 0;
  DWORD size = sizeof data;
  if (reg.RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&data), &size) !=
          ERROR_SUCCESS ||
      type != REG_DWORD || size != sizeof data) {
    return false;
  }
  value = data;
  return true;
}

DWORD DwordOr(platform::IRegistry& reg, HKEY key, const wchar_t* name, DWORD def) {
  DWORD v = def;
  return key != nullptr && QueryDword(reg, key, name, v) ? v : def;
}

bool SameName(std::wstring_view a, std::wstring_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::towupper(static_cast<wint_t>(a[i])) != std::towupper(static_cast<wint_t>(b[i])))
      return false;
  }
  return true;
}

// Value names of a sub-key of the tracing key; `exists` tells whether the key opened.
std::vector<std::wstring> ValueNames(platform::IRegistry& reg, const wchar_t* subKey) {
  std::vector<std::wstring> names;
  platform::UniqueHKey key = OpenTracingKey(reg, subKey);
  if (!key) return names;
  std::vector<wchar_t> buf(16384);  // the longest value name the registry allows
  for (DWORD i = 0;; ++i) {
    DWORD len = static_cast<DWORD>(buf.size());
    const LSTATUS st =
        reg.RegEnumValueW(key.get(), i, buf.data(), &len, nullptr, nullptr, nullptr, nullptr);
    if (st == ERROR_NO_MORE_ITEMS) break;
    if (st != ERROR_SUCCESS) {
      // ERROR_MORE_DATA here is about the data, which we did not ask for; anything else ends
      // the enumeration as Windows' own callers do.
      if (st != ERROR_MORE_DATA) break;
    }
    names.emplace_back(buf.data(), len);
  }
  return names;
}

bool ComponentEnabled(platform::IRegistry& reg, std::wstring_view moduleBase) {
  for (const auto& n : ValueNames(reg, L"ComponentsNOT")) {
    if (SameName(n, moduleBase)) return false;
  }
  const auto only = ValueNames(reg, L"Components");
  if (only.empty()) return true;
  for (const auto& n : only) {
    if (SameName(n, moduleBase)) return true;
  }
  return false;
}

}  // namespace

DWORD MakeSwitchWord(DWORD doTrace, DWORD traceToFile, DWORD newFileAlways, DWORD doProfiling,
                     DWORD doLog) {
  DWORD word = traceToFile == 1 ? kSwitchTraceToFile : 0;
  if (newFileAlways != 0) word = (word & ~0x0Fu) | (traceToFile == 1 ? 12u : 8u);
  if (doTrace != 0) word |= kSwitchDoTrace;
  if (doProfiling != 0) word |= kSwitchDoProfiling;
  if (doLog != 0) word |= kSwitchDoLog;
  return word;
}

DWORD ReadTraceSwitchWord(platform::IPlatform& plat) {
  platform::IRegistry& reg = plat.Registry();
  platform::UniqueHKey key = OpenTracingKey(reg);
  const HKEY k = key.get();
  return MakeSwitchWord(DwordOr(reg, k, L"DoTrace", 0), DwordOr(reg, k, L"TraceToFile", 1),
                        DwordOr(reg, k, L"NewFileAlways", 1), DwordOr(reg, k, L"DoProfiling", 0),
                        DwordOr(reg, k, L"DoLog", 0));
}

TraceFilter ReadTraceFilter(platform::IPlatform& plat, std::wstring_view moduleBaseName) {
  platform::IRegistry& reg = plat.Registry();
  platform::UniqueHKey key = OpenTracingKey(reg);
  TraceFilter f;
  f.verbosity = static_cast<LONG>(DwordOr(reg, key.get(), L"Verbosity", 0));
  f.componentEnabled = ComponentEnabled(reg, moduleBaseName);
  return f;
}

std::wstring ReadTraceString(platform::IPlatform& plat, const wchar_t* valueName) {
  platform::IRegistry& reg = plat.Registry();
  platform::UniqueHKey key = OpenTracingKey(reg);
  if (!key) return {};
  DWORD type = 0;
  DWORD size = 0;
  if (reg.RegQueryValueExW(key.get(), valueName, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
      (type != REG_SZ && type != REG_EXPAND_SZ) || size < sizeof(WCHAR)) {
    return {};
  }
  // Whole characters covering every stored byte (a value of an odd byte count is read too,
  // its half character dropped), and one zero more.
  std::vector<WCHAR> buf((size + sizeof(WCHAR) - 1) / sizeof(WCHAR) + 1, 0);
  DWORD got = static_cast<DWORD>((buf.size() - 1) * sizeof(WCHAR));
  if (reg.RegQueryValueExW(key.get(), valueName, nullptr, &type,
                           reinterpret_cast<BYTE*>(buf.data()), &got) != ERROR_SUCCESS) {
    return {};
  }
  // The stored data need not end in a terminator: only the whole characters returned count,
  // as far as the first zero.
  const std::size_t units = got / sizeof(WCHAR);
  std::size_t len = 0;
  while (len < units && buf[len] != 0) ++len;
  std::wstring value(buf.data(), len);
  if (type == REG_EXPAND_SZ && !value.empty()) {
    std::vector<WCHAR> expanded(32768);
    const DWORD n = plat.Kernel().ExpandEnvironmentStringsW(value.c_str(), expanded.data(),
                                                            static_cast<DWORD>(expanded.size()));
    if (n > 0 && n <= expanded.size()) value = expanded.data();
  }
  return value;
}

ModuleNames SplitModulePath(std::wstring_view path) {
  ModuleNames m;
  m.path = path;
  const std::size_t slash = path.find_last_of(L"\\/:");
  const std::size_t nameAt = slash == std::wstring_view::npos ? 0 : slash + 1;
  m.folder = path.substr(0, nameAt);
  const std::wstring_view name = path.substr(nameAt);
  const std::size_t dot = name.find_last_of(L'.');
  m.base = name.substr(0, dot);
  if (dot != std::wstring_view::npos) m.ext = name.substr(dot);
  return m;
}

ModuleNames GetModuleNames(platform::IKernel& kernel) {
  std::vector<WCHAR> buf(MAX_PATH);
  for (;;) {
    const DWORD n = kernel.GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
    if (n == 0) return {};
    if (n < buf.size()) return SplitModulePath(std::wstring_view(buf.data(), n));
    if (buf.size() >= 32768) return SplitModulePath(std::wstring_view(buf.data(), n));
    buf.resize(buf.size() * 2);
  }
}

std::wstring TraceFolder(std::wstring_view tracePath, const ModuleNames& module) {
  if (tracePath.empty()) return module.folder;
  std::wstring folder(tracePath.substr(0, MAX_PATH - 1));
  if (folder.back() != L'\\') folder += L'\\';
  return folder;
}

std::wstring TraceFileName(std::wstring_view fileName, std::wstring_view folder,
                           const ModuleNames& exe, const ModuleNames& module, DWORD sessionId) {
  if (!fileName.empty()) return std::wstring(fileName);
  return std::wstring(folder) + exe.base + L"." + module.base + module.ext + L"." +
         std::to_wstring(sessionId) + L".trc3";
}

std::wstring LogFileName(std::wstring_view folder, const ModuleNames& module, DWORD pid) {
  return std::wstring(folder) + module.base + L"." + std::to_wstring(pid) + L".log";
}

}  // namespace VDTraceNS
