#include "support/settings/user_settings_get.h"

#include <cstring>
#include <vector>

#include "support/registry_read.h"
#include "support/result_error.h"
#include "support/settings/settings_names.h"
#include "support/settings/vd_variant.h"
#include "support/vdfp/vdfp_api.h"

namespace {

bool IsBoolType(DWORD t) { return t == VDVAR_BOOL || t == VDVAR_INT32 || t == VDVAR_UINT32; }
bool IsDwordType(DWORD t) { return t == VDVAR_INT32 || t == VDVAR_UINT32; }
bool IsStringType(DWORD t) { return t == VDVAR_STRING; }
bool IsQwordType(DWORD t) { return t == VDVAR_INT64 || t == VDVAR_UINT64; }

bool BoolOf(const VDVARIANT& v) { return v.VarType == VDVAR_BOOL ? v.ulVal == 1 : v.ulVal != 0; }

std::optional<DWORD> QueryDword(platform::IRegistry& reg, HKEY key, const wchar_t* name) {
  DWORD type = 0, value = 0, size = sizeof(value);
  if (reg.RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) !=
          ERROR_SUCCESS ||
      type != REG_DWORD || size != sizeof(value))
    return std::nullopt;
  return value;
}

// The value's type and size, without its data.
bool QueryShape(platform::IRegistry& reg, HKEY key, const wchar_t* name, DWORD* type, DWORD* size) {
  *type = REG_NONE;
  *size = 0;
  return reg.RegQueryValueExW(key, name, nullptr, type, nullptr, size) == ERROR_SUCCESS;
}

std::optional<std::wstring> QueryString(platform::IRegistry& reg, HKEY key, const wchar_t* name) {
  DWORD type = 0, size = 0;
  if (!QueryShape(reg, key, name, &type, &size)) return std::nullopt;
  if (type != REG_SZ && type != REG_EXPAND_SZ) return std::nullopt;
  // Another writer may grow the value between the two calls: ask again with the new size.
  for (int attempt = 0; attempt < 4; ++attempt) {
    // One spare unit so that a value stored without its terminating zero still ends.
    std::vector<wchar_t> buf(size / sizeof(wchar_t) + 2, L'\0');
    DWORD cb = static_cast<DWORD>((buf.size() - 1) * sizeof(wchar_t));
    const LSTATUS s =
        reg.RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buf.data()), &cb);
    if (s == ERROR_MORE_DATA) {
      size = cb;
      continue;
    }
    if (s != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return std::nullopt;
    const std::size_t units = cb / sizeof(wchar_t);
    std::size_t len = 0;
    while (len < units && buf[len] != L'\0') ++len;
    return std::wstring(buf.data(), len);
  }
  return std::nullopt;
}

std::optional<ULONGLONG> QueryBinary8(platform::IRegistry& reg, HKEY key, const wchar_t* name) {
  BYTE bytes[8] = {};
  DWORD type = 0, size = sizeof(bytes);
  if (reg.RegQueryValueExW(key, name, nullptr, &type, bytes, &size) != ERROR_SUCCESS ||
      type != REG_BINARY || size != sizeof(bytes))
    return std::nullopt;
  ULONGLONG v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | bytes[i];
  return v;
}

}  // namespace

const wchar_t* ToString(SettingSource s) {
  switch (s) {
    case SettingSource::PolicyKey:
      return L"PolicyKey";
    case SettingSource::LibraryPolicy:
      return L"LibraryPolicy";
    case SettingSource::Hkcu:
      return L"HKCU";
    case SettingSource::Hklm:
      return L"HKLM";
    case SettingSource::Hklm32:
      return L"HKLM32";
    case SettingSource::LibraryDefault:
      return L"LibraryDefault";
    case SettingSource::BuiltInDefault:
      return L"Default";
  }
  return L"?";
}

CUserSettingsGet::CUserSettingsGet(platform::IPlatform& plat, std::wstring keyPath)
    : m_plat(plat), m_keyPath(std::move(keyPath)) {
  platform::IRegistry& reg = plat.Registry();
  const REGSAM native = support::SuiteView(reg);
  m_sources.push_back({HKEY_CURRENT_USER, native, platform::UniqueHKey(reg), SettingSource::Hkcu});
  m_sources.push_back({HKEY_LOCAL_MACHINE, native, platform::UniqueHKey(reg), SettingSource::Hklm});
  // On 32-bit Windows there is no other view to ask.
  if (reg.Is64BitWindows())
    m_sources.push_back(
        {HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY, platform::UniqueHKey(reg), SettingSource::Hklm32});
}

CUserSettingsGet::~CUserSettingsGet() = default;

GPO::IPolicyLibrary& CUserSettingsGet::Library() {
  if (!m_lib) {
    m_api = std::make_unique<CVDFPApiWr>(m_plat);
    m_lib = std::make_unique<GPO::CPolicyLibrary<CVDFPApiWr>>(*m_api);
  }
  return *m_lib;
}

HKEY CUserSettingsGet::SourceKey(Source& s) {
  // A key that did not open is tried again by the next read: it may have been created since.
  if (!s.key)
    m_plat.Registry().RegOpenKeyExW(s.root, m_keyPath.c_str(), 0, KEY_READ | s.view, s.key.put());
  return s.key.get();
}

bool CUserSettingsGet::ReadPolicyKey(const wchar_t* name, VDFP_POLICY_ITEM& item) {
  platform::IRegistry& reg = m_plat.Registry();
  std::wstring path = kPoliciesPath;
  std::wstring leaf = name;
  if (const auto slash = leaf.rfind(L'\\'); slash != std::wstring::npos) {
    path += L'\\';
    path += leaf.substr(0, slash);
    leaf.erase(0, slash + 1);
  }
  platform::UniqueHKey key(reg);
  if (reg.RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS)
    return false;
  DWORD type = 0, size = 0;
  if (!QueryShape(reg, key.get(), leaf.c_str(), &type, &size)) return false;
  if (type == REG_DWORD) {
    const auto v = QueryDword(reg, key.get(), leaf.c_str());
    if (!v) return false;
    item.hrStatus = S_OK;
    item.Value.VarType = VDVAR_UINT32;
    item.Value.ulVal = *v;
    return true;
  }
  if (type != REG_SZ && type != REG_EXPAND_SZ) return false;
  // The value's size plus one zero unit, so that a value stored without its terminating zero
  // still reads as a terminated string.
  GPO::IPolicyLibrary& lib = Library();
  auto* buf = static_cast<wchar_t*>(lib.BufferAlloc(size + sizeof(wchar_t)));
  if (!buf) return false;
  std::memset(buf, 0, size + sizeof(wchar_t));
  DWORD cb = size;
  if (reg.RegQueryValueExW(key.get(), leaf.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buf),
                           &cb) != ERROR_SUCCESS ||
      (type != REG_SZ && type != REG_EXPAND_SZ)) {
    lib.BufferFree(buf);
    return false;
  }
  item.hrStatus = S_OK;
  item.Value.VarType = VDVAR_STRING;
  item.Value.pwszVal = buf;
  return true;
}

HRESULT CUserSettingsGet::PolicyStep(const wchar_t* name, VDFP_POLICY_ITEM& item, bool& fromKey) {
  fromKey = ReadPolicyKey(name, item);
  if (fromKey) return S_OK;
  return Library().GetPolicySettingsEx(1, &item);
}

HRESULT CUserSettingsGet::Read(const wchar_t* name, const Getter& getter) {
  // Every way out below that stores a value names its layer first.
  m_lastSource = SettingSource::BuiltInDefault;
  try {
    const std::wstring wholeName = name ? name : L"";
    VDFP_POLICY_ITEM item{};
    item.pwszName = wholeName.c_str();
    // The item's value goes back to the library however the read ends.
    struct Release {
      CUserSettingsGet* self;
      VDFP_POLICY_ITEM* item;
      // Only the library's own blocks need it, and those exist only once it is bound.
      ~Release() {
        if (self->m_lib) CVDVariant::Clear(item->Value, *self->m_lib);
      }
    } release{this, &item};

    bool fromKey = false;
    const HRESULT hr = PolicyStep(wholeName.c_str(), item, fromKey);
    const bool accepted = getter.acceptsPolicyType(item.Value.VarType);
    if (SUCCEEDED(hr) && item.hrStatus == S_OK && accepted) {
      getter.fromPolicy(item.Value);
      m_lastSource = fromKey ? SettingSource::PolicyKey : SettingSource::LibraryPolicy;
      return S_OK;
    }
    for (Source& s : m_sources) {
      if (HKEY key = SourceKey(s); key && getter.fromRegistry(key, wholeName.c_str())) {
        m_lastSource = s.source;
        return S_OK;
      }
    }
    if (SUCCEEDED(hr) && item.hrStatus == S_FALSE && accepted) {
      getter.fromPolicy(item.Value);
      m_lastSource = SettingSource::LibraryDefault;
      return S_OK;
    }
    return S_FALSE;
  } catch (const CResultError& e) {
    return e.Result();
  } catch (...) {
    return E_UNEXPECTED;
  }
}

HRESULT CUserSettingsGet::GetBool(const wchar_t* name, bool& value) {
  platform::IRegistry& reg = m_plat.Registry();
  return Read(name, {&IsBoolType, [&](const VDVARIANT& v) { value = BoolOf(v); },
                     [&](HKEY key, const wchar_t* n) {
                       const auto v = QueryDword(reg, key, n);
                       if (v) value = *v != 0;
                       return v.has_value();
                     }});
}

HRESULT CUserSettingsGet::GetDword(const wchar_t* name, DWORD& value) {
  platform::IRegistry& reg = m_plat.Registry();
  return Read(name, {&IsDwordType, [&](const VDVARIANT& v) { value = v.ulVal; },
                     [&](HKEY key, const wchar_t* n) {
                       const auto v = QueryDword(reg, key, n);
                       if (v) value = *v;
                       return v.has_value();
                     }});
}

HRESULT CUserSettingsGet::GetString(const wchar_t* name, std::wstring& value) {
  platform::IRegistry& reg = m_plat.Registry();
  return Read(name,
              {&IsStringType, [&](const VDVARIANT& v) { value = v.pwszVal ? v.pwszVal : L""; },
               [&](HKEY key, const wchar_t* n) {
                 auto v = QueryString(reg, key, n);
                 if (v) value = std::move(*v);
                 return v.has_value();
               }});
}

HRESULT CUserSettingsGet::GetLastLogonPolicyTokens(ULONGLONG& value) {
  platform::IRegistry& reg = m_plat.Registry();
  return Read(SettingNames::kLastLogonPolicyTokens,
              {&IsQwordType, [&](const VDVARIANT& v) { value = v.ullVal; },
               [&](HKEY key, const wchar_t* n) {
                 const auto v = QueryBinary8(reg, key, n);
                 if (v) value = *v;
                 return v.has_value();
               }});
}
