// libFuzzer target for the policy values the authentication library hands back: a batch and
// a single query answered with any tagged values (every type, known or not; strings, blobs
// and arrays nested inside arrays, each in a block of the library), any item status and any
// query result. The readers must give back every block exactly once, whatever the query
// returned, read nothing past a block (ASan: every block is its exact size), find an item by
// its name in any case only when it has a value, and read booleans and numbers as the plain
// model below says.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <cwctype>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "support/settings/policy_settings.h"
#include "support/trace/trace.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

// Exact-size blocks it remembers; a block given back twice or never handed out is counted.
class TrackingLibrary final : public GPO::IPolicyLibrary {
 public:
  std::function<HRESULT(DWORD, VDFP_POLICY_ITEM*)> query;
  int badFrees = 0;

  HRESULT GetPolicySettingsEx(DWORD n, VDFP_POLICY_ITEM* items) override { return query(n, items); }
  LPVOID BufferAlloc(SIZE_T cb) override {
    void* p = std::calloc(cb ? cb : 1, 1);
    m_live.insert(p);
    return p;
  }
  void BufferFree(LPVOID pv) override {
    if (!pv) return;
    if (m_live.erase(pv) == 0) {
      ++badFrees;
      return;
    }
    std::free(pv);
  }
  std::size_t Outstanding() const { return m_live.size(); }
  ~TrackingLibrary() override {
    for (void* p : m_live) std::free(p);
  }

 private:
  std::set<void*> m_live;
};

// The fuzzer's bytes, read one at a time; zeros once they run out.
struct Bytes {
  const std::uint8_t* p;
  std::size_t n;
  std::uint8_t Next() {
    if (!n) return 0;
    --n;
    return *p++;
  }
  ULONGLONG Next64() {
    ULONGLONG v = 0;
    for (int i = 0; i < 8; ++i) v = (v << 8) | Next();
    return v;
  }
};

// A value as the library would build it: blocks for strings, blobs and arrays; a bare
// number for every other type, the unknown ones too.
void Build(VDVARIANT& v, Bytes& in, TrackingLibrary& lib, int depth) {
  v = VDVARIANT{};
  v.VarType = in.Next() % 16;
  if (v.VarType == VDVAR_ARRAY && depth >= 6) v.VarType = VDVAR_UINT32;
  switch (v.VarType) {
    case VDVAR_STRING: {
      const std::size_t len = in.Next() % 24;
      auto* s = static_cast<wchar_t*>(lib.BufferAlloc((len + 1) * sizeof(wchar_t)));
      for (std::size_t i = 0; i < len; ++i) s[i] = static_cast<wchar_t>(in.Next() | 1);
      v.pwszVal = s;
      break;
    }
    case VDVAR_BLOB: {
      v.blob.cElems = in.Next() % 40;
      v.blob.pElems = static_cast<BYTE*>(lib.BufferAlloc(v.blob.cElems));
      for (DWORD i = 0; i < v.blob.cElems; ++i) v.blob.pElems[i] = in.Next();
      break;
    }
    case VDVAR_ARRAY: {
      v.array.cElems = in.Next() % 5;
      v.array.pElems =
          static_cast<VDVARIANT*>(lib.BufferAlloc(v.array.cElems * sizeof(VDVARIANT)));
      for (DWORD i = 0; i < v.array.cElems; ++i) Build(v.array.pElems[i], in, lib, depth + 1);
      break;
    }
    default:
      v.ullVal = in.Next64();
      break;
  }
}

const HRESULT kStatuses[] = {S_OK, S_FALSE, E_FAIL, static_cast<HRESULT>(0x80070002), 2};

// The library's answer: a status and a value for every item, and a result for the query.
HRESULT Answer(DWORD n, VDFP_POLICY_ITEM* items, Bytes& in, TrackingLibrary& lib) {
  for (DWORD i = 0; i < n; ++i) {
    const std::uint8_t fill = in.Next();
    if (fill & 1) continue;  // left as the caller gave it
    items[i].hrStatus = kStatuses[(fill >> 1) % (sizeof(kStatuses) / sizeof(kStatuses[0]))];
    Build(items[i].Value, in, lib, 0);
  }
  return (in.Next() & 3) == 3 ? E_FAIL : S_OK;
}

// What a boolean and a number read from an item must be.
std::optional<bool> ModelBool(const VDFP_POLICY_ITEM& item) {
  if (item.hrStatus < 0) return std::nullopt;
  if (item.Value.VarType == VDVAR_BOOL) return item.Value.ulVal == 1;
  if (item.Value.VarType == VDVAR_INT32 || item.Value.VarType == VDVAR_UINT32)
    return item.Value.ulVal != 0;
  return std::nullopt;
}

std::optional<DWORD> ModelDword(const VDFP_POLICY_ITEM& item) {
  if (item.hrStatus < 0) return std::nullopt;
  const DWORD t = item.Value.VarType;
  if (t == VDVAR_BOOL || t == VDVAR_INT32 || t == VDVAR_UINT32) return item.Value.ulVal;
  return std::nullopt;
}

const wchar_t* const kNames[] = {L"CredentialsSelfEnrollment", L"StandaloneMode",
                                 L"MS_WINBIO_Compatibility", L"DisableRegistrationAtLogon"};

std::wstring Upper(const wchar_t* s) {
  std::wstring u(s);
  for (auto& c : u) c = static_cast<wchar_t>(std::towupper(static_cast<wint_t>(c)));
  return u;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool bound = (VDTraceNS::Bind(nullptr), true);
  (void)bound;
  Bytes in{data, size};
  TrackingLibrary lib;
  lib.query = [&](DWORD n, VDFP_POLICY_ITEM* items) { return Answer(n, items, in, lib); };
  {
    const std::size_t count = 1 + in.Next() % 4;
    GPO::CPolicySettings batch(lib, 1 + in.Next() % 4);
    std::size_t added = 0;
    for (std::size_t i = 0; i < count; ++i) added += batch.Add(kNames[i]) ? 1 : 0;
    Check(batch.Count() == added && added <= batch.Capacity());
    // Two queries in a row: the second releases the first one's values.
    for (int round = 0; round < 2; ++round) {
      const HRESULT hr = batch.GetEx();
      if (FAILED(hr)) continue;
      for (std::size_t i = 0; i < sizeof(kNames) / sizeof(kNames[0]); ++i) {
        const VDFP_POLICY_ITEM* item = batch[Upper(kNames[i])];
        if (i >= added) {
          Check(item == nullptr);
          continue;
        }
        if (!item) continue;
        Check(GPO::EqualNames(item->pwszName, kNames[i]) && item->hrStatus >= 0);
        Check(GPO::TryGet<bool>(*item) == ModelBool(*item));
        Check(GPO::TryGet<DWORD>(*item) == ModelDword(*item));
        Check(GPO::get<DWORD>(*item) == ModelDword(*item).value_or(1));
      }
    }
  }
  {
    GPO::CPolicyItem item(lib, L"StandaloneMode");
    if (SUCCEEDED(item.Query())) Check(GPO::TryGet<bool>(item) == ModelBool(item));
    item.Clear();
    Check(item.Item().Value.VarType == VDVAR_EMPTY);
    item.Query();
  }
  Check(lib.Outstanding() == 0);
  Check(lib.badFrees == 0);
  return 0;
}
