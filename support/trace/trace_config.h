// Tracing configuration: HKLM "SOFTWARE\Veridane\Tracing" folded into one switch word, the
// component filter, and the names of the trace and log files.
#pragma once

#include <string>
#include <string_view>

#include "platform/platform.h"

namespace VDTraceNS {

// Bits of the switch word.
inline constexpr DWORD kSwitchTraceToFile = 0x04;    // "TraceToFile" is 1
inline constexpr DWORD kSwitchNewFileAlways = 0x08;  // "NewFileAlways" non-zero
inline constexpr DWORD kSwitchDoTrace = 0x20;
inline constexpr DWORD kSwitchDoProfiling = 0x40;
inline constexpr DWORD kSwitchDoLog = 0x80;

inline constexpr const wchar_t* kTracingKey = L"SOFTWARE\\Veridane\\Tracing";

// What a refresh reads only when the switch word changed.
struct TraceFilter {
  LONG verbosity = 0;
  bool componentEnabled = true;
  bool operator==(const TraceFilter&) const = default;
};

struct TraceSettings {
  DWORD word = 0;
  TraceFilter filter;
  bool operator==(const TraceSettings&) const = default;
};

// Raw values as read (defaults already applied) into the switch word.
DWORD MakeSwitchWord(DWORD doTrace, DWORD traceToFile, DWORD newFileAlways, DWORD doProfiling,
                     DWORD doLog);

// Read from the tracing key (default view; under WOW64 the 64-bit view when that fails).
// Missing values and values of another type take their defaults; no key means all off.
DWORD ReadTraceSwitchWord(platform::IPlatform& plat);
// "Verbosity" and the component filter ("ComponentsNOT", "Components") for the module.
TraceFilter ReadTraceFilter(platform::IPlatform& plat, std::wstring_view moduleBaseName);

// A string value of the tracing key ("FileName", "TracePath"), REG_EXPAND_SZ expanded; empty
// when absent, empty or of another type.
std::wstring ReadTraceString(platform::IPlatform& plat, const wchar_t* valueName);

// The program's own module, split the way the file names need it.
struct ModuleNames {
  std::wstring path;    // "C:\Program Files\Veridane\Agent\VdAgent.exe"
  std::wstring folder;  // "C:\Program Files\Veridane\Agent\" (drive and folder)
  std::wstring base;    // "VdAgent"
  std::wstring ext;     // ".exe"
};
ModuleNames SplitModulePath(std::wstring_view path);
ModuleNames GetModuleNames(platform::IKernel& kernel);

// "TracePath" (cut to 259 characters, with a trailing backslash) or the module's folder.
std::wstring TraceFolder(std::wstring_view tracePath, const ModuleNames& module);
// "FileName" when not empty, else "<folder><exe base>.<module base><module ext>.<session>.trc3".
std::wstring TraceFileName(std::wstring_view fileName, std::wstring_view folder,
                           const ModuleNames& exe, const ModuleNames& module, DWORD sessionId);
// "<folder><module base>.<pid>.log".
std::wstring LogFileName(std::wstring_view folder, const ModuleNames& module, DWORD pid);

}  // namespace VDTraceNS
