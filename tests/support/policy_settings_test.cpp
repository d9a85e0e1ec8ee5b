// Named policies: releasing policy values, the policy batch, the single read's two forms and
// the self-enrollment answer. A small fake library stands in where a test needs to see every
// block or make the query fail; the stand-in library checks the real contract.
#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <stdexcept>
#include <string>

#include "support/result_error.h"
#include "support/settings/environment_utils.h"
#include "support/settings/policy_settings.h"
#include "support/settings/vd_variant.h"
#include "support/trace/trace_sink.h"
#include "support/vdfp/vdfp_api.h"
#include "tests/support/settings_test_util.h"

namespace {

// Hands out blocks it remembers; answers the query through `query`.
class FakeLibrary : public GPO::IPolicyLibrary {
 public:
  std::function<HRESULT(DWORD, VDFP_POLICY_ITEM*)> query = [](DWORD, VDFP_POLICY_ITEM*) {
    return S_OK;
  };
  int queries = 0;
  int invalidFrees = 0;

  HRESULT GetPolicySettingsEx(DWORD n, VDFP_POLICY_ITEM* items) override {
    ++queries;
    return query(n, items);
  }
  LPVOID BufferAlloc(SIZE_T cb) override {
    void* p = ::operator new(cb ? cb : 1);
    m_live.insert(p);
    return p;
  }
  void BufferFree(LPVOID pv) override {
    if (!pv) return;
    if (m_live.erase(pv) == 0) {
      ++invalidFrees;
      return;
    }
    ::operator delete(pv);
  }
  std::size_t Outstanding() const { return m_live.size(); }
  ~FakeLibrary() override {
    for (void* p : m_live) ::operator delete(p);
  }

  LPWSTR String(const wchar_t* s) {
    const std::size_t n = std::wcslen(s) + 1;
    auto* p = static_cast<LPWSTR>(BufferAlloc(n * sizeof(wchar_t)));
    std::wmemcpy(p, s, n);
    return p;
  }

 private:
  std::set<void*> m_live;
};

class PolicyTest : public ::testing::Test {
 protected:
  void SetUp() override { VDTraceNS::Bind(nullptr); }
  FakeLibrary lib;
};

// ---- Releasing values ---------------------------------------------------------------------

TEST_F(PolicyTest, ClearingReleasesNestedBlocksAndZeroesTheValue) {
  // An array of a string, a blob and an array holding another string.
  auto* inner = static_cast<VDVARIANT*>(lib.BufferAlloc(sizeof(VDVARIANT)));
  *inner = VDVARIANT{};
  inner->VarType = VDVAR_STRING;
  inner->pwszVal = lib.String(L"deep");
  auto* elems = static_cast<VDVARIANT*>(lib.BufferAlloc(3 * sizeof(VDVARIANT)));
  for (int i = 0; i < 3; ++i) elems[i] = VDVARIANT{};
  elems[0].VarType = VDVAR_STRING;
  elems[0].pwszVal = lib.String(L"s");
  elems[1].VarType = VDVAR_BLOB;
  elems[1].blob.cElems = 4;
  elems[1].blob.pElems = static_cast<BYTE*>(lib.BufferAlloc(4));
  elems[2].VarType = VDVAR_ARRAY;
  elems[2].array.cElems = 1;
  elems[2].array.pElems = inner;
  VDVARIANT v{};
  v.VarType = VDVAR_ARRAY;
  v.array.cElems = 3;
  v.array.pElems = elems;
  ASSERT_EQ(lib.Outstanding(), 5u);

  VDTraceNS::CRecordingSink sink;
  CVDVariant::Clear(v, lib);
  EXPECT_EQ(lib.Outstanding(), 0u);
  EXPECT_EQ(lib.invalidFrees, 0);
  EXPECT_EQ(v.VarType, DWORD{VDVAR_EMPTY});
  EXPECT_EQ(v.array.cElems, 0u);
  EXPECT_EQ(v.array.pElems, nullptr);
  const auto texts = sink.Texts('U');
  ASSERT_EQ(texts.size(), 5u);
  EXPECT_EQ(texts[0].rfind("VDVAR_ARRAY, 0x", 0), 0u);
  EXPECT_EQ(texts[0].substr(texts[0].size() - 3), "[3]");
  EXPECT_EQ(texts[2].substr(texts[2].size() - 3), "[4]");  // the blob's count

  // Clearing twice is harmless: nothing is released again.
  CVDVariant::Clear(v, lib);
  EXPECT_EQ(lib.invalidFrees, 0);
}

TEST_F(PolicyTest, AnUnknownTypeIsOnlyZeroed) {
  VDVARIANT v{};
  v.VarType = 12;
  v.pwszVal = lib.String(L"unknown owner");
  VDTraceNS::CRecordingSink sink;
  CVDVariant::Clear(v, lib);
  EXPECT_EQ(lib.Outstanding(), 1u) << "a payload of an unknown type is not the library's to free";
  EXPECT_EQ(v.VarType, 0u);
  EXPECT_EQ(v.pwszVal, nullptr);
  EXPECT_TRUE(sink.Contains('U', "pcvdvariant->VarType = 12"));
}

// ---- The batch ---------------------------------------------------------------------------------

TEST_F(PolicyTest, TheBatchGrowsByDoublingUpToItsLimitAndKeepsItsNames) {
  GPO::CPolicySettings batch(lib, 4);
  const std::size_t expected[] = {1, 2, 4, 4};
  for (int i = 0; i < 4; ++i) {
    // Long names: their text lives outside the string object, short ones inside it.
    ASSERT_TRUE(batch.Add(L"Policy number " + std::to_wstring(i) + L" with a long name"));
    EXPECT_EQ(batch.Capacity(), expected[i]);
  }
  EXPECT_FALSE(batch.Add(L"one too many"));
  EXPECT_EQ(batch.Count(), 4u);

  std::vector<std::wstring> seen;
  lib.query = [&](DWORD n, VDFP_POLICY_ITEM* items) {
    for (DWORD i = 0; i < n; ++i) {
      seen.emplace_back(items[i].pwszName);
      items[i].hrStatus = S_OK;
      items[i].Value.VarType = VDVAR_UINT32;
      items[i].Value.ulVal = i;
    }
    return S_OK;
  };
  ASSERT_EQ(batch.GetEx(), S_OK);
  ASSERT_EQ(seen.size(), 4u);
  EXPECT_EQ(seen[0], L"Policy number 0 with a long name");
  EXPECT_EQ(seen[3], L"Policy number 3 with a long name");
  const VDFP_POLICY_ITEM* item = batch[L"POLICY NUMBER 2 WITH A LONG NAME"];
  ASSERT_NE(item, nullptr);
  EXPECT_EQ(item->Value.ulVal, 2u);
}

TEST_F(PolicyTest, GetExRefusesAnEmptyBatchAndReleasesThePreviousAnswer) {
  GPO::CPolicySettings batch(lib);
  EXPECT_EQ(batch.GetEx(), E_INVALIDARG);
  EXPECT_EQ(lib.queries, 0);

  ASSERT_TRUE(batch.Add(L"QuickActions\\Finger"));
  lib.query = [&](DWORD, VDFP_POLICY_ITEM* items) {
    items[0].hrStatus = S_FALSE;
    items[0].Value.VarType = VDVAR_STRING;
    items[0].Value.pwszVal = lib.String(L"Lock");
    return S_OK;
  };
  ASSERT_EQ(batch.GetEx(), S_OK);
  ASSERT_EQ(batch.GetEx(), S_OK);
  EXPECT_EQ(lib.Outstanding(), 1u) << "the first answer's string was not given back";
  {
    VDTraceNS::CRecordingSink sink;
    batch.Free();
    EXPECT_TRUE(sink.Contains('U', "QuickActions\\Finger"));
  }
  EXPECT_EQ(lib.Outstanding(), 0u);
}

TEST_F(PolicyTest, TheBatchGivesTheLastAnswerBackWhenItGoes) {
  {
    GPO::CPolicySettings batch(lib);
    ASSERT_TRUE(batch.Add(L"A"));
    lib.query = [&](DWORD, VDFP_POLICY_ITEM* items) {
      items[0].Value.VarType = VDVAR_STRING;
      items[0].Value.pwszVal = lib.String(L"x");
      return S_OK;
    };
    ASSERT_EQ(batch.GetEx(), S_OK);
  }
  EXPECT_EQ(lib.Outstanding(), 0u);
}

TEST_F(PolicyTest, LookupsTraceMissingItemsAndItemsWithoutValue) {
  GPO::CPolicySettings batch(lib);
  ASSERT_TRUE(batch.Add(L"Present"));
  ASSERT_TRUE(batch.Add(L"Unset"));
  lib.query = [](DWORD, VDFP_POLICY_ITEM* items) {
    items[0].hrStatus = S_OK;
    items[0].Value.VarType = VDVAR_BOOL;
    items[0].Value.ulVal = 1;
    items[1].hrStatus = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    return S_OK;
  };
  ASSERT_EQ(batch.GetEx(), S_OK);
  VDTraceNS::CRecordingSink sink;
  EXPECT_NE(batch[L"present"], nullptr);
  EXPECT_EQ(batch[L"Unset"], nullptr);
  EXPECT_EQ(batch[L"Absent"], nullptr);
  EXPECT_EQ(sink.Texts('E'), (std::vector<std::string>{"-2147024894 Unset", "-2147024894 Absent"}));
}

TEST_F(PolicyTest, AnExceptionInsideTheQueryBecomesItsResult) {
  GPO::CPolicySettings batch(lib);
  ASSERT_TRUE(batch.Add(L"A"));
  lib.query = [](DWORD, VDFP_POLICY_ITEM*) -> HRESULT { throw CResultError(E_ACCESSDENIED); };
  EXPECT_EQ(batch.GetEx(), E_ACCESSDENIED);
  lib.query = [](DWORD, VDFP_POLICY_ITEM*) -> HRESULT { throw std::runtime_error("boom"); };
  EXPECT_EQ(batch.GetEx(), E_UNEXPECTED);
}

// ---- The single read ------------------------------------------------------------------------

TEST_F(PolicyTest, TheTwoFormsOfGetAndTheirDefaults) {
  struct Case {
    HRESULT status;
    DWORD type;
    DWORD value;
    bool asBool;
    DWORD asNumber;
  } cases[] = {
      {S_OK, VDVAR_BOOL, 1, true, 1},      {S_OK, VDVAR_BOOL, 2, false, 2},
      {S_FALSE, VDVAR_UINT32, 2, true, 2}, {S_OK, VDVAR_INT32, 0, false, 0},
      {S_OK, VDVAR_STRING, 0, false, 1},   {E_FAIL, VDVAR_UINT32, 5, false, 1},
  };
  for (const auto& c : cases) {
    VDFP_POLICY_ITEM item{};
    item.pwszName = L"StandaloneMode";
    item.hrStatus = c.status;
    item.Value.VarType = c.type;
    item.Value.ulVal = c.value;
    EXPECT_EQ(GPO::get<bool>(item), c.asBool) << c.type << "/" << c.value;
    EXPECT_EQ(GPO::get<DWORD>(item), c.asNumber) << c.type << "/" << c.value;
  }
  VDFP_POLICY_ITEM missing{};
  missing.pwszName = L"StandaloneMode";
  missing.hrStatus = E_FAIL;
  VDTraceNS::CRecordingSink sink;
  GPO::get<bool>(missing);
  GPO::get<DWORD>(missing);
  EXPECT_EQ(sink.Texts('U'), (std::vector<std::string>{
                                 "StandaloneMode policy does not exists, default value is 0",
                                 "StandaloneMode policy does not exists, default value is 1"}));
  EXPECT_EQ(GPO::QueryPolicy(lib, nullptr), E_POINTER);
}

// ---- Self-enrollment ---------------------------------------------------------------------------

TEST_F(PolicyTest, SelfEnrollmentIsAskedUntilOneQuerySucceeds) {
  CSelfEnrollmentState state;
  lib.query = [](DWORD, VDFP_POLICY_ITEM*) { return static_cast<HRESULT>(0x800706BAL); };
  EXPECT_TRUE(CEnvironmentUtils::IsCredentialsSelfEnrollmentAllowed(lib, state));
  EXPECT_TRUE(CEnvironmentUtils::IsCredentialsSelfEnrollmentAllowed(lib, state));
  EXPECT_EQ(lib.queries, 2) << "a failed query is asked again";

  lib.query = [](DWORD n, VDFP_POLICY_ITEM* items) {
    EXPECT_EQ(n, 1u);
    EXPECT_EQ(std::wstring(items[0].pwszName), L"CredentialsSelfEnrollment");
    items[0].hrStatus = S_OK;
    items[0].Value.VarType = VDVAR_UINT32;
    items[0].Value.ulVal = 0;
    return S_OK;
  };
  EXPECT_FALSE(CEnvironmentUtils::IsCredentialsSelfEnrollmentAllowed(lib, state));
  lib.query = [](DWORD, VDFP_POLICY_ITEM*) { return E_FAIL; };
  EXPECT_FALSE(CEnvironmentUtils::IsCredentialsSelfEnrollmentAllowed(lib, state));
  EXPECT_EQ(lib.queries, 3) << "a successful query is never repeated";
}

TEST_F(PolicyTest, SelfEnrollmentTakesOnlyA32BitUnsignedValue) {
  CSelfEnrollmentState state;
  lib.query = [](DWORD, VDFP_POLICY_ITEM* items) {
    items[0].hrStatus = S_OK;
    items[0].Value.VarType = VDVAR_BOOL;
    items[0].Value.ulVal = 0;
    return S_OK;
  };
  EXPECT_TRUE(CEnvironmentUtils::IsCredentialsSelfEnrollmentAllowed(lib, state));
  EXPECT_FALSE(state.requery);
}

// ---- Against the stand-in library --------------------------------------------------------

class PolicyStandinTest : public settingstest::SimSettingsTest {};

TEST_F(PolicyStandinTest, EveryBlockOfABatchGoesBackToTheLibrary) {
  vdfp_standin::PolicySettingDesc arr;
  arr.name = L"Applications\\Launchers";
  arr.value.type = VDVAR_ARRAY;
  arr.value.items.resize(2);
  arr.value.items[0].type = VDVAR_STRING;
  arr.value.items[0].text = L"one";
  arr.value.items[1].type = VDVAR_BLOB;
  arr.value.items[1].blob = {1, 2, 3};
  Host().SetPolicySetting(arr);
  LibraryNumber(L"CredentialsSelfEnrollment", S_OK, VDVAR_UINT32, 0);

  CVDFPApiWr api(Agent());
  auto lib = GPO::PolicyLibrary(api);
  {
    GPO::CPolicySettings batch(lib);
    ASSERT_TRUE(batch.Add(L"applications\\launchers"));
    ASSERT_TRUE(batch.Add(L"StandaloneMode"));
    ASSERT_EQ(batch.GetEx(), S_OK);
    const VDFP_POLICY_ITEM* item = batch[L"Applications\\Launchers"];
    ASSERT_NE(item, nullptr);
    ASSERT_EQ(item->Value.VarType, DWORD{VDVAR_ARRAY});
    EXPECT_EQ(std::wstring(item->Value.array.pElems[0].pwszVal), L"one");
    EXPECT_EQ(batch[L"StandaloneMode"], nullptr);
    EXPECT_GT(Host().Buffers().Outstanding(), 0u);
  }
  EXPECT_EQ(Host().Buffers().Outstanding(), 0u);

  CSelfEnrollmentState state;
  EXPECT_FALSE(CEnvironmentUtils::IsCredentialsSelfEnrollmentAllowed(lib, state));
  EXPECT_FALSE(state.requery);

  GPO::CPolicyItem one(lib, L"CredentialsSelfEnrollment");
  ASSERT_EQ(one.Query(), S_OK);
  EXPECT_FALSE(GPO::get<bool>(one));
  EXPECT_EQ(GPO::get<DWORD>(one), 0u);
}

}  // namespace
