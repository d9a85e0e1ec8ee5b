// The installation tasks of the agent's registration run (/RegServer, /UnRegServer) and the
// terminal-services client registration of each start, as plain pieces the module composes:
//
//   registration::CRegistryScript script(plat, registration::ActivatorScript(modulePath));
//   script.Register();                        // or Unregister(): force-removed keys go whole
//   userinitkey_t userinit(plat);
//   userinit.removeValue(modulePath, true);   // an older agent path goes,
//   userinit.addUniqueValue(modulePath);      // the current one is there exactly once
//   Tessaline::System::Environment::WriteEnvironmentVariable(plat, L"NXWDINSTALLPATH", dir);
//   RegisterCPL(process, modulePath, true);
//   RegisterTSClient(plat);
//
// Registry strings are read bounded by the size the registry returns (a stored string need
// not be terminated) and written with their terminating NUL counted. A list value of another
// type than REG_SZ is somebody else's data: it is traced and never rewritten.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "core/agent_process.h"
#include "platform/platform.h"

namespace VDTraceNS {
class CScope;
}

namespace registration {

inline constexpr wchar_t kActivatorClsid[] = L"{A24611C3-A363-4950-B931-720A1618D98A}";
inline constexpr wchar_t kActivatorName[] = L"Veridane Agent Toast Activator Class";
inline constexpr wchar_t kNotificationSettingsKey[] =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Notifications\\Settings\\Veridane.Dashboard";
inline constexpr wchar_t kControlPanelClsid[] = L"{F88E0DEA-5B22-4caa-AC21-C905D6BAF73B}";
inline constexpr wchar_t kControlPanelNameSpaceKey[] =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\ControlPanel\\NameSpace\\"
    L"{F88E0DEA-5B22-4caa-AC21-C905D6BAF73B}";
inline constexpr wchar_t kControlPanelClassKey[] =
    L"SOFTWARE\\Classes\\CLSID\\{F88E0DEA-5B22-4caa-AC21-C905D6BAF73B}";
inline constexpr wchar_t kUserinitKey[] =
    L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon";
inline constexpr wchar_t kCitrixTwiKey[] =
    L"SYSTEM\\CurrentControlSet\\Control\\Citrix\\wfshell\\TWI";
inline constexpr wchar_t kEnvironmentKey[] =
    L"System\\CurrentControlSet\\Control\\Session Manager\\Environment";
inline constexpr wchar_t kTsClientModule[] = L"VDTSClnt.dll";

// ---- Registry strings ----

enum class StringRead { Ok, Missing, WrongType, Failed };

// Reads string value `name` of an open key, whole, whatever its length. REG_SZ is accepted,
// REG_EXPAND_SZ too when `allowExpand` (never expanded). A stored string without its
// terminator is read as far as the registry says it goes; trailing NULs are dropped.
StringRead ReadString(platform::IRegistry& reg, HKEY key, const wchar_t* name, std::wstring* out,
                      bool allowExpand = false);
// Writes `value` as `type` (REG_SZ or REG_EXPAND_SZ) with its terminating NUL counted.
LSTATUS WriteString(platform::IRegistry& reg, HKEY key, const wchar_t* name, DWORD type,
                    const std::wstring& value);

// ---- Table-driven registration script ----

struct ScriptValue {
  std::wstring name;  // empty: the key's default value
  DWORD type = REG_SZ;
  std::wstring text;  // REG_SZ, REG_EXPAND_SZ
  DWORD number = 0;   // REG_DWORD
};

struct ScriptKey {
  HKEY root = HKEY_LOCAL_MACHINE;
  std::wstring path;
  // Removed with everything below it on unregistration; other keys lose only the values the
  // script wrote, and go themselves when nothing is left in them.
  bool forceRemove = false;
  std::vector<ScriptValue> values;
};

// The toast activator's class (its local server the quoted module path, so a path with
// spaces starts the right program) and its notification settings. The class is written to
// the machine's classes: COM does not find a local server registered for one user only.
std::vector<ScriptKey> ActivatorScript(const std::wstring& modulePath);

class CRegistryScript {
 public:
  // Keys are listed parents first.
  CRegistryScript(platform::IPlatform& plat, std::vector<ScriptKey> keys, REGSAM view = 0);
  // Creates every key and writes its values; the first failure ends the run and is returned.
  HRESULT Register();
  // Force-removed keys go whole, the rest as described above; a key that is already gone is
  // no failure. Runs to the end and returns the first failure.
  HRESULT Unregister();

 private:
  platform::IPlatform& m_plat;
  std::vector<ScriptKey> m_keys;
  REGSAM m_view;
};

// The part of `path` after its last backslash; empty when it has none.
std::wstring FileNameOf(const std::wstring& path);

// The module path of the process (GetModuleFileNameW of the process module). A path the
// buffer cuts short is an error (ERROR_INSUFFICIENT_BUFFER), never a truncated registration.
HRESULT GetModulePath(platform::IPlatform& plat, std::wstring* path);

// The folder of `modulePath`, surrounding quotes removed, with a trailing backslash.
std::wstring ModuleFolder(std::wstring modulePath);

}  // namespace registration

// ---- Comma-separated list values ----

// One comma-separated REG_SZ list of program entries. The key is opened at construction; a
// failed open makes every later call trace "Failed at Step 1." and do nothing.
class CCommaListValue {
 public:
  struct Texts {
    const char* addScope;
    const char* removeScope;
    const char* removeEmptyKey;  // the removal's empty key message, with its %ls
    const char* removeEmptyList;
  };
  CCommaListValue(platform::IPlatform& plat, const wchar_t* keyPath, const wchar_t* valueName,
                  Texts texts);
  ~CCommaListValue();
  CCommaListValue(const CCommaListValue&) = delete;
  CCommaListValue& operator=(const CCommaListValue&) = delete;

  bool IsOpen() const { return m_key != nullptr; }
  // The value as it is; nullopt when it cannot be read as a list (absent, wrong type).
  std::optional<std::wstring> Current() const;

 protected:
  // Appends `item` unless the list already holds `key` anywhere in its text.
  void AddUnique(const std::wstring& key, const std::wstring& item, bool refuseEmptyList);
  // Drops every entry holding `key`; joins the rest with single commas.
  void Remove(const std::wstring& key, const std::wstring& shown);

 private:
  // Reads the list; false (and traced) when it must be left alone.
  bool Read(const VDTraceNS::CScope& ts, std::wstring* value, bool* absent) const;
  void Write(const VDTraceNS::CScope& ts, const std::wstring& value);

  platform::IRegistry& m_reg;
  HKEY m_key = nullptr;
  std::wstring m_valueName;
  Texts m_texts;
};

// Winlogon's "Userinit": the programs Windows starts at each logon.
class userinitkey_t : public CCommaListValue {
 public:
  explicit userinitkey_t(platform::IPlatform& plat);
  // Appends `value` and a comma unless the list holds it already. An absent or empty list is
  // left alone: the agent alone there would leave the user without a shell at logon.
  void addUniqueValue(const std::wstring& value);
  // Drops every entry holding `value`, or with `compareFileName` its file name.
  void removeValue(const std::wstring& value, bool compareFileName);
};

// Citrix's "LogoffCheckSysModules": processes that do not keep a published-application
// session alive. Entries are file names.
class citrixlogoffmodulecheck_t : public CCommaListValue {
 public:
  explicit citrixlogoffmodulecheck_t(platform::IPlatform& plat);
  void addUniqueValue(const std::wstring& value);
  void removeValue(const std::wstring& value);
};

namespace Tessaline::System::Environment {
// Sets machine environment variable `name` (REG_EXPAND_SZ); an empty value deletes it. Either
// way every top-level window is told ("Environment") so new processes see the change.
HRESULT WriteEnvironmentVariable(platform::IPlatform& plat, const wchar_t* name,
                                 const std::wstring& value);
}  // namespace Tessaline::System::Environment

// Registers the Control Panel item, or (`reg` false) hands its keys to the uninstaller's
// clean-up list; a clean-up failure is traced and the unregistration goes on.
HRESULT RegisterCPL(core::CAgentProcess& process, const std::wstring& modulePath, bool reg);

// Loads "VDTSClnt.dll", calls its DllRegisterServer and frees it again. The agent goes on
// whatever happens; the answer is the registration's result for the trace and the tests.
HRESULT RegisterTSClient(platform::IPlatform& plat);
