#include "platform/sim/process_registry.h"

#include <algorithm>
#include <string_view>

#include "platform/sim/machine.h"
#include "platform/sim/object_manager.h"
#include "platform/sim/session_manager.h"

namespace sim {

namespace {
std::wstring_view View(LPCWSTR s) { return s ? std::wstring_view(s) : std::wstring_view(); }
constexpr REGSAM kViewFlags = KEY_WOW64_32KEY | KEY_WOW64_64KEY;
}  // namespace

ProcessRegistry::ProcessRegistry(Process& p) : m_process(p), m_store(p.GetMachine().Registry()) {}

ProcessRegistry::~ProcessRegistry() {
  // The process ends: its keys close, which fires their pending notifications.
  std::map<HKEY, KeyHandle> keys;
  {
    std::lock_guard lk(m_mu);
    keys.swap(m_keys);
  }
  for (auto& [h, k] : keys) m_store.CloseWatches(k.node, k.owner);
  for (auto& [node, owner] : m_predefinedWatches) m_store.CloseWatches(node, owner);
}

REGSAM ProcessRegistry::MapAccess(REGSAM sam) {
  REGSAM a = sam & ~kViewFlags;
  if (a & (MAXIMUM_ALLOWED | GENERIC_ALL)) a |= KEY_ALL_ACCESS;
  if (a & GENERIC_READ) a |= KEY_READ;
  if (a & GENERIC_WRITE) a |= KEY_WRITE;
  if (a & GENERIC_EXECUTE) a |= KEY_EXECUTE;
  return a;
}

LSTATUS ProcessRegistry::ViewOf(REGSAM sam, bool* view32) const {
  if ((sam & kViewFlags) == kViewFlags) return ERROR_INVALID_PARAMETER;
  if (sam & KEY_WOW64_32KEY)
    *view32 = true;
  else if (sam & KEY_WOW64_64KEY)
    *view32 = false;
  else
    *view32 = m_process.IsWow64();
  return ERROR_SUCCESS;
}

LSTATUS ProcessRegistry::Resolve(HKEY hKey, KeyHandle* out) {
  if (hKey == HKEY_LOCAL_MACHINE) {
    *out = KeyHandle{m_store.RootNode(RegistryStore::Root::kLocalMachine), KEY_ALL_ACCESS,
                     m_process.IsWow64(), 0};
    return ERROR_SUCCESS;
  }
  if (hKey == HKEY_USERS) {
    *out = KeyHandle{m_store.RootNode(RegistryStore::Root::kUsers), KEY_ALL_ACCESS, false, 0};
    return ERROR_SUCCESS;
  }
  if (hKey == HKEY_CURRENT_USER) {
    // A signed-in user's hive is always loaded.
    const std::wstring sid = m_process.GetMachine().Sessions().UserSid(m_process.SessionId());
    *out = KeyHandle{m_store.EnsureKey(L"HKU\\" + sid), KEY_ALL_ACCESS, false, 0};
    return ERROR_SUCCESS;
  }
  if (hKey == HKEY_CLASSES_ROOT) {
    *out = KeyHandle{m_store.EnsureKey(L"HKLM\\SOFTWARE\\Classes"), KEY_ALL_ACCESS,
                     m_process.IsWow64(), 0};
    return ERROR_SUCCESS;
  }
  std::lock_guard lk(m_mu);
  auto it = m_keys.find(hKey);
  if (it == m_keys.end()) return ERROR_INVALID_HANDLE;
  *out = it->second;
  return ERROR_SUCCESS;
}

HKEY ProcessRegistry::AddHandle(RegistryStore::NodePtr node, REGSAM access, bool view32) {
  const ULONG_PTR value = m_process.GetMachine().Objects().NewHandleValue();
  auto h = reinterpret_cast<HKEY>(value);
  std::lock_guard lk(m_mu);
  m_keys[h] = KeyHandle{std::move(node), access, view32, static_cast<uint64_t>(value)};
  return h;
}

size_t ProcessRegistry::OpenKeyCount() const {
  std::lock_guard lk(m_mu);
  return m_keys.size();
}

// ---------------------------------------------------------------------------------------

LSTATUS ProcessRegistry::RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD, REGSAM samDesired,
                                       PHKEY phkResult) {
  if (!phkResult) return ERROR_INVALID_PARAMETER;
  *phkResult = nullptr;
  KeyHandle base;
  if (LSTATUS s = Resolve(hKey, &base)) return s;
  bool view32;
  if (LSTATUS s = ViewOf(samDesired, &view32)) return s;
  RegistryStore::NodePtr node;
  if (LSTATUS s = m_store.Open(base.node, View(lpSubKey), view32, &node)) return s;
  *phkResult = AddHandle(std::move(node), MapAccess(samDesired), view32);
  return ERROR_SUCCESS;
}

LSTATUS ProcessRegistry::RegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD, LPWSTR, DWORD,
                                         REGSAM samDesired, LPSECURITY_ATTRIBUTES, PHKEY phkResult,
                                         LPDWORD lpdwDisposition) {
  if (!phkResult || !lpSubKey) return ERROR_INVALID_PARAMETER;
  *phkResult = nullptr;
  KeyHandle base;
  if (LSTATUS s = Resolve(hKey, &base)) return s;
  bool view32;
  if (LSTATUS s = ViewOf(samDesired, &view32)) return s;
  RegistryStore::NodePtr node;
  bool created = false;
  // Creating a sub-key needs KEY_CREATE_SUB_KEY on the key it is created from.
  const bool mayCreate = (base.access & KEY_CREATE_SUB_KEY) != 0;
  if (LSTATUS s = m_store.Create(base.node, View(lpSubKey), view32, mayCreate, &node, &created))
    return s;
  *phkResult = AddHandle(std::move(node), MapAccess(samDesired), view32);
  if (lpdwDisposition) *lpdwDisposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  return ERROR_SUCCESS;
}

LSTATUS ProcessRegistry::RegCloseKey(HKEY hKey) {
  if (hKey == HKEY_LOCAL_MACHINE || hKey == HKEY_USERS || hKey == HKEY_CURRENT_USER ||
      hKey == HKEY_CLASSES_ROOT)
    return ERROR_SUCCESS;  // closing a predefined key is allowed and changes nothing
  KeyHandle k;
  {
    std::lock_guard lk(m_mu);
    auto it = m_keys.find(hKey);
    if (it == m_keys.end()) return ERROR_INVALID_HANDLE;
    k = std::move(it->second);
    m_keys.erase(it);
  }
  // A pending notification on this handle fires: that is how a watcher thread is woken
  // to stop.
  m_store.CloseWatches(k.node, k.owner);
  return ERROR_SUCCESS;
}

LSTATUS ProcessRegistry::RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD, LPDWORD lpType,
                                          LPBYTE lpData, LPDWORD lpcbData) {
  KeyHandle k;
  if (LSTATUS s = Resolve(hKey, &k)) return s;
  if (!(k.access & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
  return m_store.QueryValue(k.node, View(lpValueName), lpType, lpData, lpcbData);
}

LSTATUS ProcessRegistry::RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD, DWORD dwType,
                                        const BYTE* lpData, DWORD cbData) {
  KeyHandle k;
  if (LSTATUS s = Resolve(hKey, &k)) return s;
  if (!(k.access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
  return m_store.SetValue(k.node, View(lpValueName), dwType, lpData, cbData);
}

LSTATUS ProcessRegistry::RegDeleteValueW(HKEY hKey, LPCWSTR lpValueName) {
  KeyHandle k;
  if (LSTATUS s = Resolve(hKey, &k)) return s;
  if (!(k.access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
  return m_store.DeleteValue(k.node, View(lpValueName));
}

LSTATUS ProcessRegistry::RegDeleteKeyExW(HKEY hKey, LPCWSTR lpSubKey, REGSAM samDesired, DWORD) {
  if (!lpSubKey) return ERROR_INVALID_PARAMETER;
  KeyHandle k;
  if (LSTATUS s = Resolve(hKey, &k)) return s;
  bool view32;
  if (LSTATUS s = ViewOf(samDesired, &view32)) return s;
  return m_store.DeleteKey(k.node, lpSubKey, view32);
}

LSTATUS ProcessRegistry::RegDeleteTreeW(HKEY hKey, LPCWSTR lpSubKey) {
  KeyHandle k;
  if (LSTATUS s = Resolve(hKey, &k)) return s;
  if (View(lpSubKey).empty()) {
    // Emptying the key itself needs the rights to list and delete what it holds.
    constexpr REGSAM kNeeded = KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE | KEY_SET_VALUE;
    if ((k.access & kNeeded) != kNeeded) return ERROR_ACCESS_DENIED;
  }
  return m_store.DeleteTree(k.node, View(lpSubKey), k.view32);
}

LSTATUS ProcessRegistry::RegEnumKeyExW(HKEY hKey, DWORD dwIndex, LPWSTR lpName, LPDWORD lpcchName,
                                       LPDWORD, LPWSTR lpClass, LPDWORD lpcchClass,
                                       FILETIME* lpftLastWriteTime) {
  KeyHandle k;
  if (LSTATUS s = Resolve(hKey, &k)) return s;
  if (!(k.access & KEY_ENUMERATE_SUB_KEYS)) return ERROR_ACCESS_DENIED;
  LSTATUS s = m_store.EnumKey(k.node, dwIndex, lpName, lpcchName, lpftLastWriteTime);
  if (s == ERROR_SUCCESS && lpcchClass) {
    // Keys here have no class.
    if (lpClass && *lpcchClass) lpClass[0] = L'\0';
    *lpcchClass = 0;
  }
  return s;
}

LSTATUS ProcessRegistry::RegEnumValueW(HKEY hKey, DWORD dwIndex, LPWSTR lpValueName,
                                       LPDWORD lpcchValueName, LPDWORD, LPDWORD lpType,
                                       LPBYTE lpData, LPDWORD lpcbData) {
  KeyHandle k;
  if (LSTATUS s = Resolve(hKey, &k)) return s;
  if (!(k.access & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
  return m_store.EnumValue(k.node, dwIndex, lpValueName, lpcchValueName, lpType, lpData, lpcbData);
}

LSTATUS ProcessRegistry::RegQueryInfoKeyW(HKEY hKey, LPWSTR lpClass, LPDWORD lpcchClass, LPDWORD,
                                          LPDWORD lpcSubKeys, LPDWORD lpcbMaxSubKeyLen,
                                          LPDWORD lpcbMaxClassLen, LPDWORD lpcValues,
                                          LPDWORD lpcbMaxValueNameLen, LPDWORD lpcbMaxValueLen,
                                          LPDWORD lpcbSecurityDescriptor,
                                          FILETIME* lpftLastWriteTime) {
  KeyHandle k;
  if (LSTATUS s = Resolve(hKey, &k)) return s;
  if (!(k.access & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
  RegistryStore::KeyInfo info;
  if (LSTATUS s = m_store.QueryInfo(k.node, &info)) return s;
  if (lpcchClass) {
    if (lpClass && *lpcchClass) lpClass[0] = L'\0';
    *lpcchClass = 0;
  }
  if (lpcSubKeys) *lpcSubKeys = info.subKeys;
  if (lpcbMaxSubKeyLen) *lpcbMaxSubKeyLen = info.maxSubKeyLen;
  if (lpcbMaxClassLen) *lpcbMaxClassLen = 0;
  if (lpcValues) *lpcValues = info.values;
  if (lpcbMaxValueNameLen) *lpcbMaxValueNameLen = info.maxValueNameLen;
  if (lpcbMaxValueLen) *lpcbMaxValueLen = info.maxValueLen;
  if (lpcbSecurityDescriptor) *lpcbSecurityDescriptor = 0;
  if (lpftLastWriteTime) *lpftLastWriteTime = info.lastWrite;
  return ERROR_SUCCESS;
}

LSTATUS ProcessRegistry::RegNotifyChangeKeyValue(HKEY hKey, BOOL bWatchSubtree,
                                                 DWORD dwNotifyFilter, HANDLE hEvent,
                                                 BOOL fAsynchronous) {
  // Only the asynchronous form is offered: a synchronous one would block the caller
  // until a change, which nothing here needs.
  if (!fAsynchronous) return ERROR_INVALID_PARAMETER;
  KeyHandle k;
  if (LSTATUS s = Resolve(hKey, &k)) return s;
  if (!(k.access & KEY_NOTIFY)) return ERROR_ACCESS_DENIED;
  if (k.owner == 0) {
    // A predefined key stands for a handle the process opens once and never closes: its
    // watches belong to this process and end with it.
    k.owner = (static_cast<uint64_t>(m_process.Pid()) << 32) |
              (reinterpret_cast<ULONG_PTR>(hKey) & 0xFFFFFFFFu);
    std::lock_guard lk(m_mu);
    const std::pair<RegistryStore::NodePtr, uint64_t> entry(k.node, k.owner);
    if (std::find(m_predefinedWatches.begin(), m_predefinedWatches.end(), entry) ==
        m_predefinedWatches.end())
      m_predefinedWatches.push_back(entry);
  }
  ObjectManager& objects = m_process.GetMachine().Objects();
  auto event = objects.Lookup(m_process.Pid(), hEvent);
  if (!event || event->GetKind() != KernelObject::Kind::kEvent) return ERROR_INVALID_HANDLE;
  // The watch holds the event itself, so it fires even if the caller closed its handle.
  return m_store.Watch(k.node, k.owner, dwNotifyFilter, bWatchSubtree != FALSE,
                       [&objects, event] { objects.SetEvent(event); });
}

BOOL ProcessRegistry::IsWow64Process() { return m_process.IsWow64() ? TRUE : FALSE; }

BOOL ProcessRegistry::Is64BitWindows() {
  return m_process.GetMachine().Description().is64BitWindows ? TRUE : FALSE;
}

}  // namespace sim
