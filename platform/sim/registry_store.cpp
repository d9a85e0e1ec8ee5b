#include "platform/sim/registry_store.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "platform/sim/machine.h"
#include "platform/sim/sim_text.h"

namespace sim {

struct RegistryStore::Node {
  std::wstring name;
  Node* parent = nullptr;  // null for the top and once deleted
  // Keyed by the folded name, so enumeration is in Windows' case-insensitive order.
  std::map<std::wstring, NodePtr> children;
  std::vector<Value> values;  // creation order, as RegEnumValueW reports them
  bool deleted = false;
  ULONGLONG lastWrite = 0;
  std::vector<Watcher> watchers;
};

namespace {

constexpr DWORD kNotifyKnown = REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_ATTRIBUTES |
                               REG_NOTIFY_CHANGE_LAST_SET | REG_NOTIFY_CHANGE_SECURITY;
constexpr DWORD kNotifyThreadAgnostic = 0x10000000;

const wchar_t kLocalMachine[] = L"HKEY_LOCAL_MACHINE";
const wchar_t kUsers[] = L"HKEY_USERS";

std::vector<std::wstring> SplitPath(std::wstring_view p) {
  std::vector<std::wstring> parts;
  size_t start = 0;
  while (start <= p.size()) {
    size_t end = p.find(L'\\', start);
    if (end == std::wstring_view::npos) end = p.size();
    // Empty components (a trailing backslash) are skipped, as Windows does.
    if (end > start) parts.emplace_back(p.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

// Classes sub-keys that WOW64 keeps apart for 32-bit programs (the rest of
// HKLM\SOFTWARE\Classes is shared since Windows 7).
bool IsRedirectedClassesKey(const std::wstring& name) {
  static const wchar_t* const kKeys[] = {L"CLSID", L"Interface", L"DirectShow", L"Media Type",
                                         L"MediaFoundation"};
  for (const wchar_t* k : kKeys)
    if (text::IEquals(name, k)) return true;
  return false;
}

FILETIME ToFileTime(ULONGLONG ft) {
  return FILETIME{static_cast<DWORD>(ft & 0xFFFFFFFFu), static_cast<DWORD>(ft >> 32)};
}

std::vector<BYTE> StringBytes(std::wstring_view s) {
  std::vector<BYTE> bytes((s.size() + 1) * sizeof(wchar_t), 0);
  std::memcpy(bytes.data(), s.data(), s.size() * sizeof(wchar_t));
  return bytes;
}

}  // namespace

RegistryStore::RegistryStore(Machine& m) : m_machine(m), m_top(std::make_shared<Node>()) {
  Signals none;
  std::lock_guard lk(m_mu);
  AddChildLocked(m_top.get(), kLocalMachine, none);
  AddChildLocked(m_top.get(), kUsers, none);
  // The keys every Windows installation has.
  for (const wchar_t* p :
       {L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes", L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft",
        L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Policies", L"HKEY_LOCAL_MACHINE\\SYSTEM",
        L"HKEY_USERS\\.DEFAULT"})
    ResolveRealLocked(p, true, none);
  if (m_machine.Description().is64BitWindows) {
    ResolveRealLocked(L"HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node", true, none);
    ResolveRealLocked(L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\Wow6432Node", true, none);
  }
  // The machine environment that ExpandEnvironmentStringsW sees.
  const bool is64 = m_machine.Description().is64BitWindows;
  std::vector<std::pair<std::wstring, std::wstring>> env = {
      {L"SystemRoot", L"C:\\Windows"},
      {L"windir", L"C:\\Windows"},
      {L"SystemDrive", L"C:"},
      {L"ComSpec", L"%SystemRoot%\\system32\\cmd.exe"},
      {L"OS", L"Windows_NT"},
      {L"ProgramData", L"C:\\ProgramData"},
      {L"ALLUSERSPROFILE", L"C:\\ProgramData"},
      {L"PUBLIC", L"C:\\Users\\Public"},
      {L"TEMP", L"%SystemRoot%\\TEMP"},
      {L"TMP", L"%SystemRoot%\\TEMP"},
      {L"PROCESSOR_ARCHITECTURE", is64 ? L"AMD64" : L"x86"},
  };
  Node* envKey = ResolveRealLocked(
                     L"HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Session "
                     L"Manager\\Environment",
                     true, none)
                     .get();
  for (auto& [name, value] : env) {
    const DWORD type = value.find(L'%') != std::wstring::npos ? REG_EXPAND_SZ : REG_SZ;
    envKey->values.push_back(Value{name, type, StringBytes(value)});
  }
}

RegistryStore::~RegistryStore() = default;

// ---------------------------------------------------------------------------------------
// Paths

std::vector<std::wstring> RegistryStore::FullPathLocked(const Node* n) const {
  std::vector<std::wstring> parts;
  for (; n && n != m_top.get(); n = n->parent) parts.push_back(n->name);
  std::reverse(parts.begin(), parts.end());
  return parts;
}

std::vector<std::wstring> RegistryStore::RedirectLocked(std::vector<std::wstring> path,
                                                        bool view32) const {
  // On 64-bit Windows a 32-bit view of HKLM\SOFTWARE\X is HKLM\SOFTWARE\WOW6432Node\X;
  // Classes is shared except for a few sub-keys, which live under Classes\Wow6432Node.
  if (!view32 || !m_machine.Description().is64BitWindows) return path;
  if (path.size() < 3 || !text::IEquals(path[0], kLocalMachine) ||
      !text::IEquals(path[1], L"SOFTWARE"))
    return path;
  if (text::IEquals(path[2], L"WOW6432Node")) return path;
  if (text::IEquals(path[2], L"Classes")) {
    if (path.size() >= 4 && IsRedirectedClassesKey(path[3]))
      path.insert(path.begin() + 3, L"Wow6432Node");
    return path;
  }
  path.insert(path.begin() + 2, L"WOW6432Node");
  return path;
}

RegistryStore::NodePtr RegistryStore::AddChildLocked(Node* parent, const std::wstring& name,
                                                     Signals& fire) {
  auto child = std::make_shared<Node>();
  child->name = name;
  child->parent = parent;
  TouchLocked(child.get());
  parent->children.emplace(text::Upper(name), child);
  if (parent != m_top.get()) {
    TouchLocked(parent);
    ChangedLocked(parent, REG_NOTIFY_CHANGE_NAME, fire);
  }
  return child;
}

RegistryStore::NodePtr RegistryStore::WalkLocked(const std::vector<std::wstring>& path, bool create,
                                                 Signals& fire) {
  NodePtr cur = m_top;
  for (const auto& part : path) {
    auto it = cur->children.find(text::Upper(part));
    if (it != cur->children.end()) {
      cur = it->second;
      continue;
    }
    if (!create || cur == m_top) return nullptr;
    cur = AddChildLocked(cur.get(), part, fire);
  }
  return cur;
}

std::vector<std::wstring> RegistryStore::CanonicalPath(std::wstring_view realPath) {
  auto parts = SplitPath(realPath);
  if (parts.empty()) throw std::invalid_argument("empty registry path");
  const std::wstring root = text::Upper(parts[0]);
  if (root == L"HKLM" || root == kLocalMachine) {
    parts[0] = kLocalMachine;
  } else if (root == L"HKU" || root == kUsers) {
    parts[0] = kUsers;
  } else if (root == L"HKCR" || root == L"HKEY_CLASSES_ROOT") {
    parts[0] = L"Classes";
    parts.insert(parts.begin(), {kLocalMachine, L"SOFTWARE"});
  } else {
    throw std::invalid_argument("unknown registry root");
  }
  return parts;
}

RegistryStore::NodePtr RegistryStore::FindLocked(const std::vector<std::wstring>& path) const {
  NodePtr cur = m_top;
  for (const auto& part : path) {
    auto it = cur->children.find(text::Upper(part));
    if (it == cur->children.end()) return nullptr;
    cur = it->second;
  }
  return cur;
}

RegistryStore::NodePtr RegistryStore::ResolveRealLocked(std::wstring_view realPath, bool create,
                                                        Signals& fire) {
  return WalkLocked(CanonicalPath(realPath), create, fire);
}

void RegistryStore::TouchLocked(Node* n) { n->lastWrite = m_machine.GetClock().UtcFileTime(); }

// ---------------------------------------------------------------------------------------
// Notification

void RegistryStore::ChangedLocked(Node* n, DWORD kind, Signals& fire) {
  for (Node* cur = n; cur && cur != m_top.get(); cur = cur->parent) {
    auto& ws = cur->watchers;
    for (auto it = ws.begin(); it != ws.end();) {
      if ((it->filter & kind) && (cur == n || it->subtree)) {
        fire.push_back(std::move(it->signal));
        it = ws.erase(it);
      } else {
        ++it;
      }
    }
  }
}

void RegistryStore::Fire(Signals& fire) {
  for (auto& f : fire)
    if (f) f();
  fire.clear();
}

LSTATUS RegistryStore::Watch(const NodePtr& key, uint64_t owner, DWORD filter, bool subtree,
                             std::function<void()> signal) {
  if ((filter & ~(kNotifyKnown | kNotifyThreadAgnostic)) != 0 || (filter & kNotifyKnown) == 0)
    return ERROR_INVALID_PARAMETER;
  std::lock_guard lk(m_mu);
  // The key was deleted: the watch would never fire, and Windows refuses it.
  if (key->deleted) return ERROR_KEY_DELETED;
  key->watchers.push_back(Watcher{owner, filter & kNotifyKnown, subtree, std::move(signal)});
  return ERROR_SUCCESS;
}

void RegistryStore::CloseWatches(const NodePtr& key, uint64_t owner) {
  Signals fire;
  {
    std::lock_guard lk(m_mu);
    auto& ws = key->watchers;
    for (auto it = ws.begin(); it != ws.end();) {
      if (it->owner == owner) {
        fire.push_back(std::move(it->signal));
        it = ws.erase(it);
      } else {
        ++it;
      }
    }
  }
  Fire(fire);
}

// ---------------------------------------------------------------------------------------
// Engine

RegistryStore::NodePtr RegistryStore::RootNode(Root r) {
  std::lock_guard lk(m_mu);
  return m_top->children.at(r == Root::kLocalMachine ? kLocalMachine : kUsers);
}

RegistryStore::NodePtr RegistryStore::EnsureKey(std::wstring_view realPath) {
  Signals fire;
  NodePtr n;
  {
    std::lock_guard lk(m_mu);
    n = ResolveRealLocked(realPath, true, fire);
  }
  Fire(fire);
  return n;
}

bool RegistryStore::IsDeleted(const NodePtr& key) {
  std::lock_guard lk(m_mu);
  return key->deleted;
}

LSTATUS RegistryStore::Open(const NodePtr& base, std::wstring_view subKey, bool view32,
                            NodePtr* out) {
  Signals none;
  std::lock_guard lk(m_mu);
  if (base->deleted) return ERROR_KEY_DELETED;
  auto path = FullPathLocked(base.get());
  for (auto& p : SplitPath(subKey)) path.push_back(std::move(p));
  NodePtr n = WalkLocked(RedirectLocked(std::move(path), view32), false, none);
  if (!n) return ERROR_FILE_NOT_FOUND;
  *out = n;
  return ERROR_SUCCESS;
}

LSTATUS RegistryStore::Create(const NodePtr& base, std::wstring_view subKey, bool view32,
                              bool mayCreate, NodePtr* out, bool* created) {
  Signals fire;
  {
    std::lock_guard lk(m_mu);
    if (base->deleted) return ERROR_KEY_DELETED;
    auto path = FullPathLocked(base.get());
    for (auto& p : SplitPath(subKey)) path.push_back(std::move(p));
    path = RedirectLocked(std::move(path), view32);
    NodePtr existing = WalkLocked(path, false, fire);
    if (existing) {
      *out = existing;
      *created = false;
      return ERROR_SUCCESS;
    }
    if (!mayCreate) return ERROR_ACCESS_DENIED;
    NodePtr n = WalkLocked(path, true, fire);
    if (!n) return ERROR_FILE_NOT_FOUND;
    *out = n;
    *created = true;
  }
  Fire(fire);
  return ERROR_SUCCESS;
}

RegistryStore::Value* RegistryStore::FindValue(Node* n, std::wstring_view name) {
  for (auto& v : n->values)
    if (text::IEquals(v.name, name)) return &v;
  return nullptr;
}

LSTATUS RegistryStore::QueryValue(const NodePtr& key, std::wstring_view name, LPDWORD type,
                                  LPBYTE data, LPDWORD cbData) {
  if (data && !cbData) return ERROR_INVALID_PARAMETER;
  std::lock_guard lk(m_mu);
  if (key->deleted) return ERROR_KEY_DELETED;
  const Value* v = FindValue(key.get(), name);
  if (!v) return ERROR_FILE_NOT_FOUND;
  if (type) *type = v->type;
  if (!cbData) return ERROR_SUCCESS;
  const auto size = static_cast<DWORD>(v->data.size());
  if (data) {
    if (*cbData < size) {
      *cbData = size;
      return ERROR_MORE_DATA;
    }
    // An empty value has no data pointer to copy from.
    if (size) std::memcpy(data, v->data.data(), size);
  }
  *cbData = size;
  return ERROR_SUCCESS;
}

LSTATUS RegistryStore::SetValue(const NodePtr& key, std::wstring_view name, DWORD type,
                                const BYTE* data, DWORD cbData) {
  if (!data && cbData != 0) return ERROR_NOACCESS;
  Signals fire;
  {
    std::lock_guard lk(m_mu);
    if (key->deleted) return ERROR_KEY_DELETED;
    std::vector<BYTE> bytes(data, data + cbData);
    if (Value* v = FindValue(key.get(), name)) {
      v->type = type;
      v->data = std::move(bytes);
    } else {
      key->values.push_back(Value{std::wstring(name), type, std::move(bytes)});
    }
    TouchLocked(key.get());
    ChangedLocked(key.get(), REG_NOTIFY_CHANGE_LAST_SET, fire);
  }
  Fire(fire);
  return ERROR_SUCCESS;
}

LSTATUS RegistryStore::DeleteValue(const NodePtr& key, std::wstring_view name) {
  Signals fire;
  {
    std::lock_guard lk(m_mu);
    if (key->deleted) return ERROR_KEY_DELETED;
    auto& vs = key->values;
    auto it = std::find_if(vs.begin(), vs.end(),
                           [&](const Value& v) { return text::IEquals(v.name, name); });
    if (it == vs.end()) return ERROR_FILE_NOT_FOUND;
    vs.erase(it);
    TouchLocked(key.get());
    ChangedLocked(key.get(), REG_NOTIFY_CHANGE_LAST_SET, fire);
  }
  Fire(fire);
  return ERROR_SUCCESS;
}

void RegistryStore::DeleteSubtreeLocked(Node* n, Signals& fire, bool* hadValues) {
  // Every watch inside a deleted key fires, whatever its filter: the key is gone.
  for (auto& w : n->watchers) fire.push_back(std::move(w.signal));
  n->watchers.clear();
  if (!n->values.empty()) *hadValues = true;
  n->values.clear();
  for (auto& [k, child] : n->children) DeleteSubtreeLocked(child.get(), fire, hadValues);
  n->children.clear();
  n->deleted = true;
  n->parent = nullptr;
}

void RegistryStore::DetachLocked(Node* n, Signals& fire) {
  Node* parent = n->parent;
  NodePtr keep = parent->children.at(text::Upper(n->name));
  parent->children.erase(text::Upper(n->name));
  bool hadValues = false;
  DeleteSubtreeLocked(n, fire, &hadValues);
  TouchLocked(parent);
  ChangedLocked(parent, REG_NOTIFY_CHANGE_NAME | (hadValues ? REG_NOTIFY_CHANGE_LAST_SET : 0),
                fire);
}

LSTATUS RegistryStore::DeleteKey(const NodePtr& base, std::wstring_view subKey, bool view32) {
  Signals fire;
  {
    std::lock_guard lk(m_mu);
    if (base->deleted) return ERROR_KEY_DELETED;
    auto path = FullPathLocked(base.get());
    for (auto& p : SplitPath(subKey)) path.push_back(std::move(p));
    NodePtr n = WalkLocked(RedirectLocked(std::move(path), view32), false, fire);
    if (!n) return ERROR_FILE_NOT_FOUND;
    // The roots (and the keys directly below the top) cannot be deleted.
    if (!n->parent || n->parent == m_top.get()) return ERROR_ACCESS_DENIED;
    if (!n->children.empty()) return ERROR_ACCESS_DENIED;
    DetachLocked(n.get(), fire);
  }
  Fire(fire);
  return ERROR_SUCCESS;
}

LSTATUS RegistryStore::DeleteTree(const NodePtr& base, std::wstring_view subKey, bool view32) {
  Signals fire;
  {
    std::lock_guard lk(m_mu);
    if (base->deleted) return ERROR_KEY_DELETED;
    auto parts = SplitPath(subKey);
    if (parts.empty()) {
      // The contents of the key itself; a whole root is not emptied.
      Node* n = base.get();
      if (!n->parent || n->parent == m_top.get()) return ERROR_ACCESS_DENIED;
      const bool hadValues = !n->values.empty();
      n->values.clear();
      const bool hadKeys = !n->children.empty();
      bool childValues = false;
      for (auto& [k, child] : n->children) DeleteSubtreeLocked(child.get(), fire, &childValues);
      n->children.clear();
      TouchLocked(n);
      const DWORD kind = (hadKeys ? REG_NOTIFY_CHANGE_NAME : 0) |
                         (hadValues || childValues ? REG_NOTIFY_CHANGE_LAST_SET : 0);
      if (kind) ChangedLocked(n, kind, fire);
    } else {
      auto path = FullPathLocked(base.get());
      for (auto& p : parts) path.push_back(std::move(p));
      NodePtr n = WalkLocked(RedirectLocked(std::move(path), view32), false, fire);
      if (!n) return ERROR_FILE_NOT_FOUND;
      if (!n->parent || n->parent == m_top.get()) return ERROR_ACCESS_DENIED;
      DetachLocked(n.get(), fire);
    }
  }
  Fire(fire);
  return ERROR_SUCCESS;
}

LSTATUS RegistryStore::EnumKey(const NodePtr& key, DWORD index, LPWSTR name, LPDWORD cchName,
                               FILETIME* lastWrite) {
  if (!name || !cchName) return ERROR_INVALID_PARAMETER;
  std::lock_guard lk(m_mu);
  if (key->deleted) return ERROR_KEY_DELETED;
  if (index >= key->children.size()) return ERROR_NO_MORE_ITEMS;
  auto it = key->children.begin();
  std::advance(it, index);
  const Node& child = *it->second;
  const auto len = static_cast<DWORD>(child.name.size());
  if (*cchName < len + 1) return ERROR_MORE_DATA;
  std::memcpy(name, child.name.c_str(), (len + 1) * sizeof(wchar_t));
  *cchName = len;
  if (lastWrite) *lastWrite = ToFileTime(child.lastWrite);
  return ERROR_SUCCESS;
}

LSTATUS RegistryStore::EnumValue(const NodePtr& key, DWORD index, LPWSTR name, LPDWORD cchName,
                                 LPDWORD type, LPBYTE data, LPDWORD cbData) {
  if (!name || !cchName || (data && !cbData)) return ERROR_INVALID_PARAMETER;
  std::lock_guard lk(m_mu);
  if (key->deleted) return ERROR_KEY_DELETED;
  if (index >= key->values.size()) return ERROR_NO_MORE_ITEMS;
  const Value& v = key->values[index];
  const auto len = static_cast<DWORD>(v.name.size());
  if (*cchName < len + 1) return ERROR_MORE_DATA;
  const auto size = static_cast<DWORD>(v.data.size());
  if (data && *cbData < size) {
    *cbData = size;
    return ERROR_MORE_DATA;
  }
  std::memcpy(name, v.name.c_str(), (len + 1) * sizeof(wchar_t));
  *cchName = len;
  if (type) *type = v.type;
  if (data) std::memcpy(data, v.data.data(), size);
  if (cbData) *cbData = size;
  return ERROR_SUCCESS;
}

LSTATUS RegistryStore::QueryInfo(const NodePtr& key, KeyInfo* info) {
  std::lock_guard lk(m_mu);
  if (key->deleted) return ERROR_KEY_DELETED;
  KeyInfo r;
  r.subKeys = static_cast<DWORD>(key->children.size());
  for (auto& [k, child] : key->children)
    r.maxSubKeyLen = std::max(r.maxSubKeyLen, static_cast<DWORD>(child->name.size()));
  r.values = static_cast<DWORD>(key->values.size());
  for (auto& v : key->values) {
    r.maxValueNameLen = std::max(r.maxValueNameLen, static_cast<DWORD>(v.name.size()));
    r.maxValueLen = std::max(r.maxValueLen, static_cast<DWORD>(v.data.size()));
  }
  r.lastWrite = ToFileTime(key->lastWrite);
  *info = r;
  return ERROR_SUCCESS;
}

// ---------------------------------------------------------------------------------------
// Seeding helpers

void RegistryStore::CreateKey(std::wstring_view path) { EnsureKey(path); }

void RegistryStore::SetValue(std::wstring_view path, std::wstring_view name, DWORD type,
                             std::vector<BYTE> data) {
  NodePtr key = EnsureKey(path);
  SetValue(key, name, type, data.data(), static_cast<DWORD>(data.size()));
}

void RegistryStore::SetDword(std::wstring_view path, std::wstring_view name, DWORD value) {
  std::vector<BYTE> bytes(sizeof value);
  std::memcpy(bytes.data(), &value, sizeof value);
  SetValue(path, name, REG_DWORD, std::move(bytes));
}

void RegistryStore::SetQword(std::wstring_view path, std::wstring_view name, ULONGLONG value) {
  std::vector<BYTE> bytes(sizeof value);
  std::memcpy(bytes.data(), &value, sizeof value);
  SetValue(path, name, REG_QWORD, std::move(bytes));
}

void RegistryStore::SetString(std::wstring_view path, std::wstring_view name,
                              std::wstring_view value, DWORD type) {
  if (type != REG_SZ && type != REG_EXPAND_SZ)
    throw std::invalid_argument("SetString takes REG_SZ or REG_EXPAND_SZ");
  SetValue(path, name, type, StringBytes(value));
}

void RegistryStore::SetMultiString(std::wstring_view path, std::wstring_view name,
                                   const std::vector<std::wstring>& values) {
  std::wstring joined;
  for (const auto& v : values) {
    joined += v;
    joined.push_back(L'\0');
  }
  SetValue(path, name, REG_MULTI_SZ, StringBytes(joined));  // adds the final zero
}

void RegistryStore::SetBinary(std::wstring_view path, std::wstring_view name,
                              std::vector<BYTE> data) {
  SetValue(path, name, REG_BINARY, std::move(data));
}

bool RegistryStore::DeleteValue(std::wstring_view path, std::wstring_view name) {
  const auto parts = CanonicalPath(path);
  NodePtr key;
  {
    std::lock_guard lk(m_mu);
    key = FindLocked(parts);
  }
  return key && DeleteValue(key, name) == ERROR_SUCCESS;
}

bool RegistryStore::DeleteKey(std::wstring_view path) {
  const auto parts = CanonicalPath(path);
  Signals fire;
  {
    std::lock_guard lk(m_mu);
    NodePtr key = FindLocked(parts);
    if (!key || !key->parent || key->parent == m_top.get()) return false;
    DetachLocked(key.get(), fire);
  }
  Fire(fire);
  return true;
}

bool RegistryStore::KeyExists(std::wstring_view path) const {
  const auto parts = CanonicalPath(path);
  std::lock_guard lk(m_mu);
  return FindLocked(parts) != nullptr;
}

std::optional<std::pair<DWORD, std::vector<BYTE>>> RegistryStore::GetValue(
    std::wstring_view path, std::wstring_view name) const {
  const auto parts = CanonicalPath(path);
  std::lock_guard lk(m_mu);
  NodePtr key = FindLocked(parts);
  if (!key) return std::nullopt;
  const Value* v = FindValue(key.get(), name);
  if (!v) return std::nullopt;
  return std::make_pair(v->type, v->data);
}

std::optional<DWORD> RegistryStore::GetDword(std::wstring_view path, std::wstring_view name) const {
  auto v = GetValue(path, name);
  if (!v || v->first != REG_DWORD || v->second.size() != sizeof(DWORD)) return std::nullopt;
  DWORD d;
  std::memcpy(&d, v->second.data(), sizeof d);
  return d;
}

std::optional<std::wstring> RegistryStore::GetString(std::wstring_view path,
                                                     std::wstring_view name) const {
  auto v = GetValue(path, name);
  if (!v || (v->first != REG_SZ && v->first != REG_EXPAND_SZ)) return std::nullopt;
  std::wstring s(v->second.size() / sizeof(wchar_t), L'\0');
  std::memcpy(s.data(), v->second.data(), s.size() * sizeof(wchar_t));
  const auto zero = s.find(L'\0');
  if (zero != std::wstring::npos) s.resize(zero);
  return s;
}

std::vector<std::wstring> RegistryStore::SubKeyNames(std::wstring_view path) const {
  const auto parts = CanonicalPath(path);
  std::lock_guard lk(m_mu);
  NodePtr key = FindLocked(parts);
  std::vector<std::wstring> names;
  if (key)
    for (auto& [k, child] : key->children) names.push_back(child->name);
  return names;
}

std::vector<std::wstring> RegistryStore::ValueNames(std::wstring_view path) const {
  const auto parts = CanonicalPath(path);
  std::lock_guard lk(m_mu);
  NodePtr key = FindLocked(parts);
  std::vector<std::wstring> names;
  if (key)
    for (auto& v : key->values) names.push_back(v.name);
  return names;
}

}  // namespace sim
