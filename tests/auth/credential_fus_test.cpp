// The fast-user-switch record a credential hands to the logon side: its bytes, and how it is
// written to and cleared from the library's protected-data slot.
#include <gtest/gtest.h>

#include <vector>

#include "auth/credential.h"
#include "auth/protected_data.h"
#include "support/trace/trace_sink.h"
#include "tests/auth/auth_test_util.h"

namespace {

using Bytes = std::vector<BYTE>;

TEST(FUSRecordTest, VersionDataThenTheNameInUtf16WithItsTerminator) {
  const CCredential finger(VDFP_CRED_FINGERPRINT, 0x11223344, -1);
  const Bytes alice = finger.FUSRecord(L"alice");
  EXPECT_EQ(alice.size(), 20u) << "8 + 2 x (5 + 1)";
  EXPECT_EQ(alice, (Bytes{2,   0, 0,   0, 0x44, 0x33, 0x22, 0x11, 'a', 0,
                          'l', 0, 'i', 0, 'c',  0,    'e',  0,    0,   0}));

  const CCredential card(VDFP_CRED_SMARTCARD, 0, 0);
  EXPECT_EQ(card.FUSRecord(nullptr), (Bytes{2, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(card.FUSRecord(L""), card.FUSRecord(nullptr));
  // Beyond Latin-1 and beyond the basic plane: two bytes per UTF-16 unit, a surrogate pair.
  EXPECT_EQ(card.FUSRecord(L"\u00e9\u4e2d"),
            (Bytes{2, 0, 0, 0, 0, 0, 0, 0, 0xE9, 0x00, 0x2D, 0x4E, 0, 0}));
  const wchar_t clef[] = {static_cast<wchar_t>(0xD834), static_cast<wchar_t>(0xDD1E), 0};
  const wchar_t* clefText = sizeof(wchar_t) == 2 ? clef : L"\U0001D11E";
  EXPECT_EQ(card.FUSRecord(clefText),
            (Bytes{2, 0, 0, 0, 0, 0, 0, 0, 0x34, 0xD8, 0x1E, 0xDD, 0, 0}));
}

class FUSSlotTest : public authtest::SimAgentTest {
 protected:
  void SetUp() override {
    SimAgentTest::SetUp();
    Install();
    ASSERT_EQ(api.VDFPInit(), S_OK);
  }
  void TearDown() override { api.VDFPTerm(); }
  CVDFPApi api{Agent()};
};

TEST_F(FUSSlotTest, ShareWritesTheRecordWithTheEntropyAndClearEmptiesTheSlot) {
  const CCredential finger(VDFP_CRED_FINGERPRINT, 7, -1);
  EXPECT_EQ(finger.ShareFUSData(api, L"alice"), S_OK);
  const auto slot = Host().ProtectedData(kVDFusDataSlot);
  ASSERT_TRUE(slot);
  EXPECT_EQ(slot->data, finger.FUSRecord(L"alice"));
  EXPECT_EQ(slot->flags, 2u) << "Windows 10";
  EXPECT_EQ(slot->entropy, Bytes(std::begin(kVDProtectedDataEntropyBytes),
                                 std::end(kVDProtectedDataEntropyBytes)));

  EXPECT_EQ(CCredential::ClearFUSData(api), S_OK);
  EXPECT_FALSE(Host().ProtectedData(kVDFusDataSlot));
}

TEST_F(FUSSlotTest, AFailedWriteIsTracedAndReturned) {
  Host().Stop();
  VDTraceNS::CRecordingSink sink;
  const HRESULT hr = CCredential(VDFP_CRED_PASSWORD, 0, 0).ShareFUSData(api, L"alice");
  EXPECT_TRUE(FAILED(hr));
  EXPECT_EQ(sink.Texts('E').size(), 1u);
  EXPECT_TRUE(FAILED(CCredential::ClearFUSData(api)));
  Host().Start();
}

TEST(FUSSlotOldSystemTest, BeforeWindows60TheFlagsAreZero) {
  sim::MachineDescription xp;
  xp.osMajor = 5;
  xp.osMinor = 1;
  sim::Machine machine(xp);
  auto vdfp = vdfp_standin::InstallVdfpApi(machine);
  auto agent = machine.CreateProcess({.sessionId = 1});
  sim::CurrentProcessScope scope(agent.get());
  CVDFPApi api(*agent);
  ASSERT_EQ(api.VDFPInit(), S_OK);
  EXPECT_EQ(CCredential(VDFP_CRED_PASSWORD, 0, 0).ShareFUSData(api, L"bob"), S_OK);
  const auto slot = vdfp->Host().ProtectedData(kVDFusDataSlot);
  ASSERT_TRUE(slot);
  EXPECT_EQ(slot->flags, 0u);
  api.VDFPTerm();
}

}  // namespace
