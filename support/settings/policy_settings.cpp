#include "support/settings/policy_settings.h"

#include <algorithm>
#include <cwctype>
#include <new>

#include "support/result_error.h"
#include "support/settings/vd_variant.h"
#include "support/trace/trace.h"

namespace GPO {

bool EqualNames(std::wstring_view a, std::wstring_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](wchar_t x, wchar_t y) {
           return std::towlower(static_cast<wint_t>(x)) == std::towlower(static_cast<wint_t>(y));
         });
}

// ---- One item ------------------------------------------------------------------------------

HRESULT QueryPolicy(IPolicyLibrary& lib, VDFP_POLICY_ITEM* item) {
  if (!item) return E_POINTER;
  return lib.GetPolicySettingsEx(1, item);
}

CPolicyItem::CPolicyItem(IPolicyLibrary& lib, std::wstring name)
    : m_lib(lib), m_name(std::move(name)) {
  m_item.pwszName = m_name.c_str();
}

CPolicyItem::~CPolicyItem() { Clear(); }

void CPolicyItem::Clear() {
  CVDVariant::Clear(m_item.Value, m_lib);
  m_item.hrStatus = S_OK;
}

HRESULT CPolicyItem::Query() {
  Clear();
  return QueryPolicy(m_lib, &m_item);
}

namespace {
void TraceMissing(const VDFP_POLICY_ITEM& item, int def) {
  VDTraceNS::CScope ts("GPO::get");
  ts.Msg("%ls policy does not exists, default value is %d", item.pwszName ? item.pwszName : L"",
         def);
}
}  // namespace

template <>
std::optional<bool> TryGet<bool>(const VDFP_POLICY_ITEM& item) {
  if (FAILED(item.hrStatus)) return std::nullopt;
  switch (item.Value.VarType) {
    case VDVAR_BOOL:
      return item.Value.ulVal == 1;
    case VDVAR_INT32:
    case VDVAR_UINT32:
      return item.Value.ulVal != 0;
    default:
      return std::nullopt;
  }
}

template <>
std::optional<DWORD> TryGet<DWORD>(const VDFP_POLICY_ITEM& item) {
  if (FAILED(item.hrStatus)) return std::nullopt;
  switch (item.Value.VarType) {
    case VDVAR_BOOL:
    case VDVAR_INT32:
    case VDVAR_UINT32:
      return item.Value.ulVal;
    default:
      return std::nullopt;
  }
}

template <>
bool get<bool>(const VDFP_POLICY_ITEM& item) {
  if (const auto v = TryGet<bool>(item)) return *v;
  TraceMissing(item, 0);
  return false;
}

template <>
DWORD get<DWORD>(const VDFP_POLICY_ITEM& item) {
  if (const auto v = TryGet<DWORD>(item)) return *v;
  TraceMissing(item, 1);
  return 1;
}

// ---- A batch --------------------------------------------------------------------------------

CPolicySettings::CPolicySettings(IPolicyLibrary& lib, std::size_t maxItems)
    : m_lib(lib), m_maxItems(std::min(maxItems, kMaxItems)) {}

CPolicySettings::~CPolicySettings() {
  // The last query's strings and blobs are library blocks: leaving them would leak them.
  if (m_count) Free();
}

bool CPolicySettings::Add(std::wstring name) {
  if (m_count == m_capacity) {
    const std::size_t grown = m_capacity ? m_capacity * 2 : 1;
    if (grown > m_maxItems) return false;
    std::unique_ptr<VDFP_POLICY_ITEM[]> items(new (std::nothrow) VDFP_POLICY_ITEM[grown]());
    if (!items) return false;
    std::copy(m_items.get(), m_items.get() + m_count, items.get());
    m_items = std::move(items);
    m_capacity = grown;
  }
  try {
    m_names.push_back(std::move(name));
  } catch (const std::bad_alloc&) {
    return false;
  }
  VDFP_POLICY_ITEM& item = m_items[m_count++];
  item = VDFP_POLICY_ITEM{};
  item.pwszName = m_names.back().c_str();
  return true;
}

HRESULT CPolicySettings::GetEx() {
  VDTraceNS::CScope ts("GPO::CPolicySettings::GetEx");
  if (m_count == 0) return ts.Result("Empty", E_INVALIDARG);
  HRESULT hr;
  try {
    Free();
    hr = m_lib.GetPolicySettingsEx(static_cast<DWORD>(m_count), m_items.get());
  } catch (const CResultError& e) {
    hr = e.Result();
  } catch (...) {
    hr = E_UNEXPECTED;
  }
  return ts.Result("VDFPGetPolicySettingsEx", hr);
}

const VDFP_POLICY_ITEM* CPolicySettings::operator[](std::wstring_view name) const {
  VDTraceNS::CScope ts("GPO::CPolicySettings::operator []");
  const std::wstring text(name);
  for (std::size_t i = 0; i < m_count; ++i) {
    const VDFP_POLICY_ITEM& item = m_items[i];
    if (!EqualNames(item.pwszName, name)) continue;
    if (FAILED(item.hrStatus)) {
      ts.Result(text.c_str(), item.hrStatus);
      return nullptr;
    }
    return &item;
  }
  ts.Result(text.c_str(), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
  return nullptr;
}

void CPolicySettings::Free() {
  VDTraceNS::CScope ts("GPO::CPolicySettings::Free");
  for (std::size_t i = 0; i < m_count; ++i) {
    ts.Msg("%ls", m_items[i].pwszName);
    CVDVariant::Clear(m_items[i].Value, m_lib);
  }
}

}  // namespace GPO
