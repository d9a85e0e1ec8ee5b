// The guarded delay-load layer: what a missing library, a missing entry point and an
// exception inside a call produce (code and trace text), and that the agent carries on.
#include <gtest/gtest.h>

#include <stdexcept>

#include "platform/sim/module_table.h"
#include "support/delay_load.h"
#include "support/result_error.h"
#include "support/trace/trace_sink.h"
#include "support/vdfp/vdfp_api.h"
#include "tests/auth/auth_test_util.h"

namespace {

using authtest::SimAgentTest;
using VDTraceNS::CRecordingSink;

constexpr HRESULT kModNotFound = static_cast<HRESULT>(0x8007007E);
constexpr HRESULT kProcNotFound = static_cast<HRESULT>(0x8007007F);

class DelayLoadTest : public SimAgentTest {
 protected:
  void SetUp() override {
    SimAgentTest::SetUp();
    // Not the executable's folder: the texts must name the directory current at the call.
    Agent().SetCurrentDirectory(L"C:\\Users\\alice\\Documents");
  }
};

TEST_F(DelayLoadTest, MissingLibraryIsTracedAtEachCallAndPickedUpOnceInstalled) {
  CRecordingSink sink;
  CVDFPApi api(Agent());
  EXPECT_EQ(api.VDFPInit(), kModNotFound);
  EXPECT_EQ(api.VDFPTerm(), kModNotFound);
  const std::string text = "Cannot load VDFPApi.dll, 0x8007007E, C:\\Users\\alice\\Documents";
  EXPECT_EQ(sink.Texts('U'), (std::vector<std::string>{text, text}));

  // The agent went on; the library installed now is found by the next call.
  Install();
  EXPECT_EQ(api.VDFPInit(), S_OK);
  EXPECT_EQ(api.VDFPTerm(), S_OK);
  EXPECT_EQ(sink.Texts('U').size(), 2u);
}

TEST_F(DelayLoadTest, MissingEntryPointIsTracedWithItsIndexAndOtherCallsWork) {
  vdfp_standin::SimInstallOptions opts;
  opts.missingExports = {"VDFPTranslateName"};
  Install(vdfp_standin::VdfpDescription::Default(), opts);
  CRecordingSink sink;
  CVDFPApi api(Agent());
  ASSERT_EQ(api.VDFPInit(), S_OK);

  CVDFPString sid(api);
  EXPECT_EQ(api.VDFPTranslateName(L"VDSIM-PC\\alice", VDFP_NAME_SAM, VDFP_NAME_SID, sid.put()),
            kProcNotFound);
  EXPECT_FALSE(sid);
  EXPECT_TRUE(sink.Contains('U',
                            "Cannot get VDFPTranslateName[18] function from VDFPApi.dll, "
                            "0x8007007F, C:\\Users\\alice\\Documents"));

  DWORD count = 0;
  CVDFPBuffer<GUID> tokens(api);
  EXPECT_EQ(api.VDFPTokenEnum(&count, tokens.put()), S_OK);
  EXPECT_EQ(count, 5u);
  EXPECT_EQ(api.VDFPTerm(), S_OK);
}

TEST_F(DelayLoadTest, DialogsLiveInTheirOwnLibrary) {
  vdfp_standin::SimInstallOptions opts;
  opts.installDialogs = false;
  Install(vdfp_standin::VdfpDescription::Default(), opts);
  CRecordingSink sink;
  CVDFPApi api(Agent());
  ASSERT_EQ(api.VDFPInit(), S_OK);
  CVDFPString sam(api);
  HVDFPAUTHENTICATION auth = nullptr;
  EXPECT_EQ(api.VDFPIdentifyUserUI2(nullptr, 0, 0, L"", L"", sam.put(), &auth), kModNotFound);
  EXPECT_EQ(auth, nullptr);
  EXPECT_TRUE(
      sink.Contains('U', "Cannot load VDFPApiUI.dll, 0x8007007E, C:\\Users\\alice\\Documents"));
  EXPECT_EQ(api.VDFPTerm(), S_OK);
}

// A library of our own whose entry points misbehave.
HRESULT WINAPI Throws() { throw std::runtime_error("inside the library"); }
HRESULT WINAPI ThrowsResult() { throw CResultError(E_ACCESSDENIED); }
HRESULT WINAPI Answers() { return S_FALSE; }
template <typename F>
FARPROC Proc(F* f) {
  return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(f));
}

TEST_F(DelayLoadTest, AnythingThrownInsideBecomesUnexpectedAndTheNextCallWorks) {
  m_machine.Modules().Install(L"C:\\Windows\\system32\\Odd.dll",
                              {{"Throws", Proc(&Throws)},
                               {"ThrowsResult", Proc(&ThrowsResult)},
                               {"Answers", Proc(&Answers)}});
  CRecordingSink sink;
  CDelayLoadLibrary lib(Agent(), "Odd.dll", &CDelayLoadLibrary::SystemDirectoryPath);
  EXPECT_FALSE(lib.IsLoaded());  // nothing happens before the first call
  using Pfn = HRESULT(WINAPI*)();
  EXPECT_EQ(lib.Call<Pfn>("Throws", 0), E_UNEXPECTED);
  EXPECT_EQ(lib.Call<Pfn>("ThrowsResult", 1), E_UNEXPECTED);
  EXPECT_EQ(sink.Texts('E'), (std::vector<std::string>{"-2147418113 Unexpected exception",
                                                       "-2147418113 Unexpected exception"}));
  EXPECT_EQ(lib.Call<Pfn>("Answers", 2), S_FALSE);
  EXPECT_TRUE(lib.IsLoaded());
  EXPECT_TRUE(sink.Texts('U').empty());
}

TEST_F(DelayLoadTest, TheLibraryComesFromTheSystemDirectory) {
  // The same library beside the executable is not the one the agent loads.
  m_machine.Modules().Install(L"C:\\Program Files\\Veridane\\Agent\\VDFPApi.dll",
                              {{"VDFPInit", Proc(&Answers)}});
  CVDFPApi api(Agent());
  EXPECT_EQ(api.VDFPInit(), kModNotFound);
  Install();
  EXPECT_EQ(api.VDFPInit(), S_OK);
  EXPECT_EQ(api.VDFPTerm(), S_OK);
}

}  // namespace
