// The simulated machine's registry: one tree for the whole machine, with typed values,
// the 32-bit view of HKLM\SOFTWARE and change notification.
//
// Tests and machine descriptions seed it through real paths (no redirection applies here):
//
//   auto& reg = machine.Registry();
//   reg.SetDword(L"HKLM\\SOFTWARE\\Veridane\\Tracing", L"DoTrace", 1);
//   reg.SetString(L"HKLM\\SOFTWARE\\WOW6432Node\\Veridane", L"VeridanePath", L"C:\\Vd");
//   EXPECT_EQ(reg.GetDword(L"HKU\\" + sid + L"\\Software\\X", L"Y"), 7u);
//
// Root names: HKLM / HKEY_LOCAL_MACHINE, HKU / HKEY_USERS, HKCR / HKEY_CLASSES_ROOT (which
// is HKLM\SOFTWARE\Classes). Changes made here notify watchers like any other change.
//
// Processes reach the tree through `ProcessRegistry`, which owns their handles and picks
// the view; the engine operations below take a node and do the rest under one lock.
//
// String data is stored as the caller's bytes. For REG_SZ and friends that is WCHAR units
// of the native wchar_t, terminator included, as RegSetValueExW receives them.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/win_types.h"

namespace sim {

class Machine;

class RegistryStore {
 public:
  // Where the machine-wide environment lives (REG_SZ / REG_EXPAND_SZ values), as on
  // Windows. A process takes its environment from here and from HKU\<sid>\Environment
  // when it starts.
  static constexpr const wchar_t* kMachineEnvironmentPath =
      L"HKLM\\SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";

  explicit RegistryStore(Machine& m);
  ~RegistryStore();
  RegistryStore(const RegistryStore&) = delete;
  RegistryStore& operator=(const RegistryStore&) = delete;

  // ---- Seeding and inspection by real path ----
  // Setters create the key (and its parents) when missing. They throw
  // std::invalid_argument for a path that does not start with a known root.
  void CreateKey(std::wstring_view path);
  void SetValue(std::wstring_view path, std::wstring_view name, DWORD type, std::vector<BYTE> data);
  void SetDword(std::wstring_view path, std::wstring_view name, DWORD value);
  void SetQword(std::wstring_view path, std::wstring_view name, ULONGLONG value);
  // type: REG_SZ or REG_EXPAND_SZ; the terminating zero is stored, as Windows programs do.
  void SetString(std::wstring_view path, std::wstring_view name, std::wstring_view value,
                 DWORD type = REG_SZ);
  void SetMultiString(std::wstring_view path, std::wstring_view name,
                      const std::vector<std::wstring>& values);
  void SetBinary(std::wstring_view path, std::wstring_view name, std::vector<BYTE> data);
  // False when the key or value does not exist.
  bool DeleteValue(std::wstring_view path, std::wstring_view name);
  // Deletes the key and everything below it; false when it does not exist.
  bool DeleteKey(std::wstring_view path);

  bool KeyExists(std::wstring_view path) const;
  std::optional<std::pair<DWORD, std::vector<BYTE>>> GetValue(std::wstring_view path,
                                                              std::wstring_view name) const;
  // A REG_DWORD of 4 bytes; nothing for any other type or size.
  std::optional<DWORD> GetDword(std::wstring_view path, std::wstring_view name) const;
  // A REG_SZ or REG_EXPAND_SZ, up to its first zero; nothing for any other type.
  std::optional<std::wstring> GetString(std::wstring_view path, std::wstring_view name) const;
  // Names in enumeration order (sub-keys sorted, values in creation order).
  std::vector<std::wstring> SubKeyNames(std::wstring_view path) const;
  std::vector<std::wstring> ValueNames(std::wstring_view path) const;

  // ---- Engine, used by ProcessRegistry ----
  struct Node;
  using NodePtr = std::shared_ptr<Node>;

  enum class Root { kLocalMachine, kUsers };
  NodePtr RootNode(Root r);
  // The node at an existing real path, created when missing (HKU\<sid>, HKLM\SOFTWARE\Classes).
  NodePtr EnsureKey(std::wstring_view realPath);

  // `view32`: resolve in the 32-bit view (effective only on 64-bit Windows).
  LSTATUS Open(const NodePtr& base, std::wstring_view subKey, bool view32, NodePtr* out);
  // `mayCreate` is asked before anything is created; false gives ERROR_ACCESS_DENIED.
  LSTATUS Create(const NodePtr& base, std::wstring_view subKey, bool view32, bool mayCreate,
                 NodePtr* out, bool* created);
  LSTATUS QueryValue(const NodePtr& key, std::wstring_view name, LPDWORD type, LPBYTE data,
                     LPDWORD cbData);
  LSTATUS SetValue(const NodePtr& key, std::wstring_view name, DWORD type, const BYTE* data,
                   DWORD cbData);
  LSTATUS DeleteValue(const NodePtr& key, std::wstring_view name);
  // Deletes base\subKey (base itself when subKey is empty); it must have no sub-keys.
  LSTATUS DeleteKey(const NodePtr& base, std::wstring_view subKey, bool view32);
  // Deletes base\subKey and all below it; with an empty subKey, base's values and sub-keys.
  LSTATUS DeleteTree(const NodePtr& base, std::wstring_view subKey, bool view32);
  LSTATUS EnumKey(const NodePtr& key, DWORD index, LPWSTR name, LPDWORD cchName,
                  FILETIME* lastWrite);
  LSTATUS EnumValue(const NodePtr& key, DWORD index, LPWSTR name, LPDWORD cchName, LPDWORD type,
                    LPBYTE data, LPDWORD cbData);
  struct KeyInfo {
    DWORD subKeys = 0;
    DWORD maxSubKeyLen = 0;  // characters, without the terminator
    DWORD values = 0;
    DWORD maxValueNameLen = 0;  // characters, without the terminator
    DWORD maxValueLen = 0;      // bytes
    FILETIME lastWrite{};
  };
  LSTATUS QueryInfo(const NodePtr& key, KeyInfo* info);
  bool IsDeleted(const NodePtr& key);

  // Arms a one-shot watch owned by `owner` (one per open handle): `signal` runs once, after
  // the store's lock is released, on the next matching change, when the key is deleted, or
  // when the owner closes it (CloseWatches).
  LSTATUS Watch(const NodePtr& key, uint64_t owner, DWORD filter, bool subtree,
                std::function<void()> signal);
  void CloseWatches(const NodePtr& key, uint64_t owner);

 private:
  struct Value {
    std::wstring name;
    DWORD type;
    std::vector<BYTE> data;
  };
  struct Watcher {
    uint64_t owner;
    DWORD filter;
    bool subtree;
    std::function<void()> signal;
  };
  using Signals = std::vector<std::function<void()>>;

  static std::vector<std::wstring> CanonicalPath(std::wstring_view realPath);
  NodePtr FindLocked(const std::vector<std::wstring>& path) const;
  NodePtr ResolveRealLocked(std::wstring_view realPath, bool create, Signals& fire);
  std::vector<std::wstring> FullPathLocked(const Node* n) const;
  std::vector<std::wstring> RedirectLocked(std::vector<std::wstring> path, bool view32) const;
  NodePtr WalkLocked(const std::vector<std::wstring>& path, bool create, Signals& fire);
  NodePtr AddChildLocked(Node* parent, const std::wstring& name, Signals& fire);
  void ChangedLocked(Node* n, DWORD kind, Signals& fire);
  void DeleteSubtreeLocked(Node* n, Signals& fire, bool* hadValues);
  void DetachLocked(Node* n, Signals& fire);
  void TouchLocked(Node* n);
  static void Fire(Signals& fire);
  static Value* FindValue(Node* n, std::wstring_view name);

  Machine& m_machine;
  mutable std::mutex m_mu;
  NodePtr m_top;  // holds HKEY_LOCAL_MACHINE and HKEY_USERS
};

}  // namespace sim
