#include "app/agent_registration.h"

#include <algorithm>
#include <cwchar>
#include <utility>

#include "platform/handles.h"
#include "support/branding_strings.h"
#include "support/editions/editions.h"
#include "support/registry_read.h"
#include "support/result_error.h"
#include "support/settings/cleanup_list.h"
#include "support/trace/trace.h"

namespace registration {

namespace {

HRESULT FromStatus(LSTATUS s) { return s == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(s); }

// A key that is already gone is what removal wants.
bool IsGone(LSTATUS s) { return s == ERROR_FILE_NOT_FOUND || s == ERROR_PATH_NOT_FOUND; }

}  // namespace

StringRead ReadString(platform::IRegistry& reg, HKEY key, const wchar_t* name, std::wstring* out,
                      bool allowExpand) {
  out->clear();
  DWORD type = 0, size = 0;
  LSTATUS s = reg.RegQueryValueExW(key, name, nullptr, &type, nullptr, &size);
  // The value may grow between the size query and the read: ask again with the new size.
  for (int attempt = 0; attempt < 4; ++attempt) {
    if (IsGone(s)) return StringRead::Missing;
    if (s != ERROR_SUCCESS && s != ERROR_MORE_DATA) return StringRead::Failed;
    if (type != REG_SZ && !(allowExpand && type == REG_EXPAND_SZ)) return StringRead::WrongType;
    // One more character than asked for, zeroed, so an unterminated string ends inside.
    std::vector<wchar_t> buf(size / sizeof(wchar_t) + 2, L'\0');
    DWORD got = static_cast<DWORD>((buf.size() - 1) * sizeof(wchar_t));
    s = reg.RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buf.data()), &got);
    if (s == ERROR_MORE_DATA) {
      size = got;
      continue;
    }
    if (s != ERROR_SUCCESS) return IsGone(s) ? StringRead::Missing : StringRead::Failed;
    if (type != REG_SZ && !(allowExpand && type == REG_EXPAND_SZ)) return StringRead::WrongType;
    // Only what the registry returned counts; an odd last byte is no character.
    const size_t chars = std::min<size_t>(got / sizeof(wchar_t), buf.size() - 1);
    out->assign(buf.data(), chars);
    while (!out->empty() && out->back() == L'\0') out->pop_back();
    // An embedded NUL ends the string as every reader of the value sees it.
    const size_t nul = out->find(L'\0');
    if (nul != std::wstring::npos) out->resize(nul);
    return StringRead::Ok;
  }
  return StringRead::Failed;
}

LSTATUS WriteString(platform::IRegistry& reg, HKEY key, const wchar_t* name, DWORD type,
                    const std::wstring& value) {
  return reg.RegSetValueExW(key, name, 0, type, reinterpret_cast<const BYTE*>(value.c_str()),
                            static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

std::vector<ScriptKey> ActivatorScript(const std::wstring& modulePath) {
  const std::wstring clsidKey = std::wstring(L"SOFTWARE\\Classes\\CLSID\\") + kActivatorClsid;
  return {
      {HKEY_LOCAL_MACHINE, clsidKey, true, {{L"", REG_SZ, kActivatorName, 0}}},
      {HKEY_LOCAL_MACHINE,
       clsidKey + L"\\LocalServer32",
       false,
       {{L"", REG_SZ, L"\"" + modulePath + L"\"", 0}}},
      {HKEY_LOCAL_MACHINE,
       kNotificationSettingsKey,
       true,
       {{L"ShowInActionCenter", REG_DWORD, L"", 1}}},
  };
}

CRegistryScript::CRegistryScript(platform::IPlatform& plat, std::vector<ScriptKey> keys,
                                 REGSAM view)
    : m_plat(plat), m_keys(std::move(keys)), m_view(view) {}

HRESULT CRegistryScript::Register() {
  auto& reg = m_plat.Registry();
  for (const ScriptKey& k : m_keys) {
    platform::UniqueHKey key(reg);
    LSTATUS s = reg.RegCreateKeyExW(k.root, k.path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                    KEY_READ | KEY_WRITE | m_view, nullptr, key.put(), nullptr);
    if (s != ERROR_SUCCESS) return FromStatus(s);
    for (const ScriptValue& v : k.values) {
      const wchar_t* name = v.name.empty() ? nullptr : v.name.c_str();
      if (v.type == REG_DWORD) {
        s = reg.RegSetValueExW(key.get(), name, 0, REG_DWORD,
                               reinterpret_cast<const BYTE*>(&v.number), sizeof(v.number));
      } else {
        s = WriteString(reg, key.get(), name, v.type, v.text);
      }
      if (s != ERROR_SUCCESS) return FromStatus(s);
    }
  }
  return S_OK;
}

HRESULT CRegistryScript::Unregister() {
  auto& reg = m_plat.Registry();
  HRESULT first = S_OK;
  auto note = [&first](LSTATUS s) {
    if (s != ERROR_SUCCESS && !IsGone(s) && SUCCEEDED(first)) first = HRESULT_FROM_WIN32(s);
  };
  // Children first, so a parent that is not force-removed can see whether it is empty.
  for (auto it = m_keys.rbegin(); it != m_keys.rend(); ++it) {
    if (it->forceRemove) {
      // Through a handle opened in the script's view: the tree call itself takes no view and
      // would reach the other one in a 32-bit agent on 64-bit Windows.
      platform::UniqueHKey tree(reg);
      const LSTATUS s = reg.RegOpenKeyExW(it->root, it->path.c_str(), 0,
                                          KEY_READ | KEY_WRITE | DELETE | m_view, tree.put());
      if (s != ERROR_SUCCESS) {
        note(s);
        continue;
      }
      note(reg.RegDeleteTreeW(tree.get(), nullptr));
      tree.reset();
      note(reg.RegDeleteKeyExW(it->root, it->path.c_str(), m_view, 0));
      continue;
    }
    platform::UniqueHKey key(reg);
    LSTATUS s =
        reg.RegOpenKeyExW(it->root, it->path.c_str(), 0, KEY_READ | KEY_WRITE | m_view, key.put());
    if (s != ERROR_SUCCESS) {
      note(s);
      continue;
    }
    for (const ScriptValue& v : it->values)
      note(reg.RegDeleteValueW(key.get(), v.name.empty() ? nullptr : v.name.c_str()));
    DWORD subKeys = 0, values = 0;
    s = reg.RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr,
                             &values, nullptr, nullptr, nullptr, nullptr);
    key.reset();
    if (s == ERROR_SUCCESS && subKeys == 0 && values == 0)
      note(reg.RegDeleteKeyExW(it->root, it->path.c_str(), m_view, 0));
  }
  return first;
}

std::wstring FileNameOf(const std::wstring& path) {
  const size_t slash = path.find_last_of(L'\\');
  return slash == std::wstring::npos ? std::wstring() : path.substr(slash + 1);
}

HRESULT GetModulePath(platform::IPlatform& plat, std::wstring* path) {
  path->clear();
  auto& k = plat.Kernel();
  wchar_t buf[MAX_PATH + 1] = {};
  const DWORD n = k.GetModuleFileNameW(nullptr, buf, MAX_PATH);
  if (n == 0) {
    const DWORD e = k.GetLastError();
    return HRESULT_FROM_WIN32(e ? e : ERROR_MOD_NOT_FOUND);
  }
  // A full buffer means the name was cut: registering a cut path would start nothing.
  if (n >= MAX_PATH) return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
  path->assign(buf, n);
  return S_OK;
}

std::wstring ModuleFolder(std::wstring modulePath) {
  if (modulePath.size() >= 2 && modulePath.front() == L'"' && modulePath.back() == L'"')
    modulePath = modulePath.substr(1, modulePath.size() - 2);
  const size_t slash = modulePath.find_last_of(L'\\');
  return slash == std::wstring::npos ? std::wstring() : modulePath.substr(0, slash + 1);
}

}  // namespace registration

// ---- Comma-separated list values ----

namespace {

// The list's entries in order, empty ones left out.
std::vector<std::wstring> SplitList(const std::wstring& list) {
  std::vector<std::wstring> items;
  size_t start = 0;
  while (start <= list.size()) {
    size_t comma = list.find(L',', start);
    if (comma == std::wstring::npos) comma = list.size();
    if (comma > start) items.push_back(list.substr(start, comma - start));
    start = comma + 1;
  }
  return items;
}

}  // namespace

CCommaListValue::CCommaListValue(platform::IPlatform& plat, const wchar_t* keyPath,
                                 const wchar_t* valueName, Texts texts)
    : m_reg(plat.Registry()), m_valueName(valueName), m_texts(texts) {
  HKEY key = nullptr;
  if (m_reg.RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0,
                          KEY_READ | KEY_WRITE | support::SuiteView(m_reg), &key) == ERROR_SUCCESS)
    m_key = key;
}

CCommaListValue::~CCommaListValue() {
  if (m_key) m_reg.RegCloseKey(m_key);
}

std::optional<std::wstring> CCommaListValue::Current() const {
  std::wstring value;
  if (!m_key || registration::ReadString(m_reg, m_key, m_valueName.c_str(), &value) !=
                    registration::StringRead::Ok)
    return std::nullopt;
  return value;
}

bool CCommaListValue::Read(const VDTraceNS::CScope& ts, std::wstring* value, bool* absent) const {
  *absent = false;
  switch (registration::ReadString(m_reg, m_key, m_valueName.c_str(), value)) {
    case registration::StringRead::Ok:
      return true;
    case registration::StringRead::Missing:
      *absent = true;
      value->clear();
      return true;
    case registration::StringRead::WrongType:
      ts.Msg(L"%ls is not a string value: left alone", m_valueName.c_str());
      return false;
    case registration::StringRead::Failed:
      break;
  }
  ts.Msg(L"Cannot read %ls", m_valueName.c_str());
  return false;
}

void CCommaListValue::Write(const VDTraceNS::CScope& ts, const std::wstring& value) {
  const LSTATUS s = registration::WriteString(m_reg, m_key, m_valueName.c_str(), REG_SZ, value);
  if (s != ERROR_SUCCESS) {
    ts.Result("Writing value", HRESULT_FROM_WIN32(s));
    return;
  }
  ts.Msg(L"New value   = %ls", value.c_str());
}

void CCommaListValue::AddUnique(const std::wstring& key, const std::wstring& item,
                                bool refuseEmptyList) {
  VDTraceNS::CScope ts(m_texts.addScope);
  if (!m_key) {
    ts.Msg("Failed at Step 1.");
    return;
  }
  if (key.empty()) {
    ts.Msg(L"Invalid value to add: %ls", item.c_str());
    return;
  }
  std::wstring value;
  bool absent = false;
  if (!Read(ts, &value, &absent)) return;
  if (value.find(key) != std::wstring::npos) {
    ts.Msg(L"Value already exist: %ls", key.c_str());
    return;
  }
  if (refuseEmptyList && value.empty()) {
    ts.Msg(L"%ls is empty: nothing added", m_valueName.c_str());
    return;
  }
  if (!value.empty() && value.back() != L',') value += L',';
  value += item;
  value += L',';
  Write(ts, value);
}

void CCommaListValue::Remove(const std::wstring& key, const std::wstring& shown) {
  VDTraceNS::CScope ts(m_texts.removeScope);
  if (!m_key) {
    ts.Msg("Failed at Step 1.");
    return;
  }
  if (key.empty()) {
    ts.Msg(m_texts.removeEmptyKey, shown.c_str());
    return;
  }
  std::wstring value;
  bool absent = false;
  if (!Read(ts, &value, &absent)) return;
  if (value.empty()) {
    ts.Msg("%s", m_texts.removeEmptyList);
    return;
  }
  std::wstring kept;
  for (const std::wstring& item : SplitList(value)) {
    if (item.find(key) != std::wstring::npos) continue;
    if (!kept.empty()) kept += L',';
    kept += item;
  }
  Write(ts, kept);
}

userinitkey_t::userinitkey_t(platform::IPlatform& plat)
    : CCommaListValue(plat, registration::kUserinitKey, L"Userinit",
                      {"userinitkey_t::addUniqueValue", "userinitkey_t::removeValue",
                       "Invalid value to remove: %ls", "Userinit key value is empty."}) {}

void userinitkey_t::addUniqueValue(const std::wstring& value) {
  AddUnique(value, value, /*refuseEmptyList=*/true);
}

void userinitkey_t::removeValue(const std::wstring& value, bool compareFileName) {
  Remove(compareFileName ? registration::FileNameOf(value) : value, value);
}

citrixlogoffmodulecheck_t::citrixlogoffmodulecheck_t(platform::IPlatform& plat)
    : CCommaListValue(
          plat, registration::kCitrixTwiKey, L"LogoffCheckSysModules",
          {"citrixlogoffmodulecheck_t::addUniqueValue", "citrixlogoffmodulecheck_t::removeValue",
           "Value to remove is empty: %ls", "Current keyvalue is empty."}) {}

void citrixlogoffmodulecheck_t::addUniqueValue(const std::wstring& value) {
  const std::wstring name = registration::FileNameOf(value);
  AddUnique(name, name, /*refuseEmptyList=*/false);
}

void citrixlogoffmodulecheck_t::removeValue(const std::wstring& value) {
  Remove(registration::FileNameOf(value), value);
}

// ---- Environment ----

namespace Tessaline::System::Environment {

HRESULT WriteEnvironmentVariable(platform::IPlatform& plat, const wchar_t* name,
                                 const std::wstring& value) {
  VDTraceNS::CScope ts("Tessaline::System::Environment::WriteEnvironmentVariable");
  auto& reg = plat.Registry();
  platform::UniqueHKey key(reg);
  LSTATUS s = reg.RegOpenKeyExW(HKEY_LOCAL_MACHINE, registration::kEnvironmentKey, 0,
                                KEY_READ | KEY_WRITE | support::SuiteView(reg), key.put());
  if (s != ERROR_SUCCESS) return ts.Result("Opening environment key", HRESULT_FROM_WIN32(s));
  if (value.empty()) {
    s = reg.RegDeleteValueW(key.get(), name);
    if (s == ERROR_FILE_NOT_FOUND) s = ERROR_SUCCESS;  // already absent
  } else {
    s = registration::WriteString(reg, key.get(), name, REG_EXPAND_SZ, value);
  }
  const HRESULT hr = s == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(s);
  ts.Result(value.empty() ? "Deleting variable" : "Writing variable", hr);
  // Running programs keep their environment; the shell re-reads it on this message, so the
  // programs it starts from now on see the change.
  DWORD_PTR answer = 0;
  plat.Ui().SendMessageTimeoutW(HWND_BROADCAST, WM_SETTINGCHANGE, 0,
                                reinterpret_cast<LPARAM>(L"Environment"), SMTO_NORMAL, 1000,
                                &answer);
  return hr;
}

}  // namespace Tessaline::System::Environment

// ---- Control Panel item ----

namespace {

constexpr UINT kTasksFileMobileEnrollment = 902;
constexpr UINT kTasksFileDefault = 903;
constexpr UINT kTasksFileOem = 904;
constexpr UINT kProductNameString = 1100;

// An indirect reference to a resource of the agent's executable, through the variable the
// registration publishes, so the item follows the agent when the suite moves.
std::wstring ResourceReference(const wchar_t* prefix, UINT id) {
  return std::wstring(prefix) + L"%NXWDINSTALLPATH_X86%VdAgent.exe,-" + std::to_wstring(id);
}

LSTATUS SetValues(platform::IRegistry& reg, HKEY key,
                  const std::vector<registration::ScriptValue>& values) {
  for (const auto& v : values) {
    const wchar_t* name = v.name.empty() ? nullptr : v.name.c_str();
    const LSTATUS s =
        v.type == REG_DWORD
            ? reg.RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v.number),
                                 sizeof(v.number))
            : registration::WriteString(reg, key, name, v.type, v.text);
    if (s != ERROR_SUCCESS) return s;
  }
  return ERROR_SUCCESS;
}

}  // namespace

HRESULT RegisterCPL(core::CAgentProcess& process, const std::wstring& modulePath, bool reg) {
  VDTraceNS::CScope ts("RegisterCPL");
  auto& plat = process.Platform();
  if (!reg) {
    // The uninstaller removes these keys; a list that cannot take them must not stop the
    // rest of the unregistration.
    for (const wchar_t* key :
         {registration::kControlPanelNameSpaceKey, registration::kControlPanelClassKey}) {
      try {
        support::AddCleanupLine(plat, L"HKLM", key, support::kCleanupKeyFlag);
      } catch (const CResultError& e) {
        ts.Result("AddCleanupLine", e.Result());
      }
    }
    return S_OK;
  }
  auto& r = plat.Registry();
  const REGSAM access = KEY_READ | KEY_WRITE | support::SuiteView(r);
  auto create = [&](HKEY parent, const wchar_t* path, platform::UniqueHKey& key) {
    return r.RegCreateKeyExW(parent, path, 0, nullptr, REG_OPTION_NON_VOLATILE, access, nullptr,
                             key.put(), nullptr);
  };
  support::CBrandingStrings strings(plat, registration::ModuleFolder(modulePath));
  const std::wstring appName = strings.String(kProductNameString);

  platform::UniqueHKey nameSpace(r);
  LSTATUS s = create(HKEY_LOCAL_MACHINE, registration::kControlPanelNameSpaceKey, nameSpace);
  if (s == ERROR_SUCCESS) s = SetValues(r, nameSpace.get(), {{L"", REG_SZ, appName, 0}});
  if (s != ERROR_SUCCESS)
    return ts.Result("Cannot access or create ControlPanel namespace", HRESULT_FROM_WIN32(s));

  OSVERSIONINFOEXW version{};
  version.dwOSVersionInfoSize = sizeof(version);
  const bool vistaOrLater = plat.Kernel().GetVersionExW(&version) && version.dwMajorVersion >= 6;
  const auto editions = process.Editions();
  const UINT tasks = EDITIONS::IsInstalled(editions, EDITIONS::kOemlineSecurityManager)
                         ? kTasksFileOem
                     : EDITIONS::IsInstalled(editions, EDITIONS::kLumeraMobileEnrollment)
                         ? kTasksFileMobileEnrollment
                         : kTasksFileDefault;
  platform::UniqueHKey item(r);
  s = create(HKEY_LOCAL_MACHINE, registration::kControlPanelClassKey, item);
  if (s == ERROR_SUCCESS)
    s = SetValues(
        r, item.get(),
        {{L"", REG_SZ, appName, 0},
         {L"LocalizedString", REG_EXPAND_SZ, ResourceReference(L"@", 103), 0},
         {L"InfoTip", REG_EXPAND_SZ, vistaOrLater ? ResourceReference(L"@", 910) : std::wstring(),
          0},
         {L"System.ApplicationName", REG_SZ, appName, 0},
         {L"System.ControlPanel.Category", REG_SZ, L"10", 0},
         {L"{305CA226-D286-468e-B848-2B2E8E697B74} 2", REG_DWORD, L"", 10},
         {L"System.Software.TasksFileUrl", REG_EXPAND_SZ, ResourceReference(L"", tasks), 0}});
  if (s != ERROR_SUCCESS)
    return ts.Result("Cannot access or create ControlPanel item CLSID", HRESULT_FROM_WIN32(s));

  wchar_t icon[MAX_PATH + 16] = {};
  std::swprintf(icon, sizeof(icon) / sizeof(icon[0]), L"%ls,-%u", modulePath.c_str(), 108u);
  platform::UniqueHKey defaultIcon(r);
  s = create(item.get(), L"DefaultIcon", defaultIcon);
  if (s == ERROR_SUCCESS) s = SetValues(r, defaultIcon.get(), {{L"", REG_EXPAND_SZ, icon, 0}});
  if (s != ERROR_SUCCESS)
    return ts.Result("Cannot access or create ControlPanel item icon", HRESULT_FROM_WIN32(s));

  platform::UniqueHKey command(r);
  s = create(item.get(), L"Shell\\Open\\Command", command);
  if (s == ERROR_SUCCESS)
    s = SetValues(r, command.get(),
                  {{L"", REG_EXPAND_SZ, L"\"%NXWDINSTALLPATH_X86%VdAgent.exe\" /OpenConsole", 0}});
  return ts.Result("Cannot access or create ControlPanel item command",
                   s == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(s));
}

// ---- Terminal-services client ----

HRESULT RegisterTSClient(platform::IPlatform& plat) {
  VDTraceNS::CScope ts("RegisterTSClient");
  auto& mods = plat.Modules();
  // By name: the component sits beside the agent or on the system's search path.
  platform::UniqueModule lib(mods, mods.LoadLibraryExW(registration::kTsClientModule, nullptr, 0));
  if (!lib) {
    const DWORD e = plat.Kernel().GetLastError();
    ts.Msg("%s", e == ERROR_MOD_NOT_FOUND ? "module not found" : "other error");
    return HRESULT_FROM_WIN32(e ? e : ERROR_MOD_NOT_FOUND);
  }
  using DllRegisterServerFn = HRESULT(WINAPI*)();
  FARPROC proc = mods.GetProcAddress(lib.get(), "DllRegisterServer");
  if (!proc) {
    ts.Msg("other error");
    return HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
  }
  // Through void(*)(): the one function-pointer type any other converts to without a warning.
  const HRESULT hr = reinterpret_cast<DllRegisterServerFn>(reinterpret_cast<void (*)()>(proc))();
  ts.Msg("DllRegisterServer result = 0x%08X", static_cast<unsigned>(hr));
  return hr;
}
