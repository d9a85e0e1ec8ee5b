// Named policies read through the authentication library's policy query.
//
// One policy, with the caller's default when the query itself fails:
//
//   auto lib = GPO::PolicyLibrary(process.AuthLibrary());
//   GPO::CPolicyItem item(lib, L"DisableRegistrationAtLogon");
//   const bool disabled = SUCCEEDED(item.Query()) && GPO::get<bool>(item);
//
// Several at once:
//
//   GPO::CPolicySettings batch(lib);
//   batch.Add(L"CredentialsSelfEnrollment");
//   if (SUCCEEDED(batch.GetEx()))
//     if (const VDFP_POLICY_ITEM* p = batch[L"credentialsselfenrollment"]) ... p->Value ...
//
// An item's status says how its value applies: S_OK overrides the registry, S_FALSE is a
// default for when no registry source has the value, negative means no value. Values are
// released (CVDVariant::Clear) when the item or the batch goes.
#pragma once

#include <cstddef>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "support/settings/policy_library.h"

namespace GPO {

// One policy item with its own copy of the name.
class CPolicyItem {
 public:
  CPolicyItem(IPolicyLibrary& lib, std::wstring name);
  ~CPolicyItem();
  CPolicyItem(const CPolicyItem&) = delete;
  CPolicyItem& operator=(const CPolicyItem&) = delete;

  // The single policy read: releases the previous value and asks the library for this one
  // item. Returns the query's result; the item's own status is in Item().hrStatus.
  HRESULT Query();
  // Releases the value and zeroes the status.
  void Clear();

  const std::wstring& Name() const { return m_name; }
  VDFP_POLICY_ITEM& Item() { return m_item; }
  const VDFP_POLICY_ITEM& Item() const { return m_item; }
  operator const VDFP_POLICY_ITEM&() const { return m_item; }

 private:
  IPolicyLibrary& m_lib;
  std::wstring m_name;
  VDFP_POLICY_ITEM m_item{};
};

// The library's policy query for one caller-filled item; E_POINTER for a missing item.
HRESULT QueryPolicy(IPolicyLibrary& lib, VDFP_POLICY_ITEM* item);

// Reads a queried item (only after a query that did not fail):
//   get<bool>:  status not negative and type 1 (value 1) or 3, 4 (value not 0); else false.
//   get<DWORD>: status not negative and type 1, 3 or 4 gives the 32-bit value; else 1.
// A missing value is traced as "<name> policy does not exists, default value is <d>".
template <typename T>
T get(const VDFP_POLICY_ITEM& item);
// The same read without the default: nothing (and no trace) where get<T> takes its default.
template <typename T>
std::optional<T> TryGet(const VDFP_POLICY_ITEM& item);
template <>
std::optional<bool> TryGet<bool>(const VDFP_POLICY_ITEM& item);
template <>
std::optional<DWORD> TryGet<DWORD>(const VDFP_POLICY_ITEM& item);
template <>
bool get<bool>(const VDFP_POLICY_ITEM& item);
template <>
DWORD get<DWORD>(const VDFP_POLICY_ITEM& item);

// A batch of policy items for one query. The array starts with room for one item and
// doubles; it never grows past kMaxItems.
class CPolicySettings {
 public:
  static constexpr std::size_t kMaxItems = std::size_t{1} << 26;

  // `maxItems` lowers the limit (tests); it is never raised above kMaxItems.
  explicit CPolicySettings(IPolicyLibrary& lib, std::size_t maxItems = kMaxItems);
  // Releases the values of the last query and the array.
  ~CPolicySettings();
  CPolicySettings(const CPolicySettings&) = delete;
  CPolicySettings& operator=(const CPolicySettings&) = delete;

  // Appends a zeroed item for `name`; false when the array cannot grow.
  bool Add(std::wstring name);
  // E_INVALIDARG for an empty batch; otherwise releases the previous values and runs the
  // query over every item, returning its result (an exception inside gives its code, or
  // E_UNEXPECTED).
  HRESULT GetEx();
  // The item named `name` (case-insensitive) that has a value; null (and a trace) when
  // there is no such item or its status is negative.
  const VDFP_POLICY_ITEM* operator[](std::wstring_view name) const;
  // Releases every item's value (tracing each name).
  void Free();

  std::size_t Count() const { return m_count; }
  std::size_t Capacity() const { return m_capacity; }

 private:
  IPolicyLibrary& m_lib;
  std::size_t m_maxItems;
  std::unique_ptr<VDFP_POLICY_ITEM[]> m_items;
  std::size_t m_count = 0;
  std::size_t m_capacity = 0;
  // The items point at these; a deque never moves what it holds when it grows.
  std::deque<std::wstring> m_names;
};

// Case-insensitive comparison of policy names.
bool EqualNames(std::wstring_view a, std::wstring_view b);

}  // namespace GPO
