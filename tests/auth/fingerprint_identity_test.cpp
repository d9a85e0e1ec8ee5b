// Verifying, identifying and authenticating a finger against the stand-in host: the answers,
// the request the host receives, the replies that must be refused, and nothing left behind.
#include <gtest/gtest.h>

#include "auth/fingerprint_identity.h"
#include "support/trace/trace_sink.h"
#include "support/vdfp/vdfp_api.h"
#include "tests/auth/auth_test_util.h"

namespace {

using authtest::SimAgentTest;
using Bytes = std::vector<BYTE>;
using VDTraceNS::CRecordingSink;

class FingerprintIdentityTest : public SimAgentTest {
 protected:
  void SetUp() override {
    SimAgentTest::SetUp();
    Install();
    ASSERT_EQ(api.VDFPInit(), S_OK);
  }
  void TearDown() override {
    api.VDFPTerm();
    EXPECT_EQ(Host().Buffers().Outstanding(), 0u);
    EXPECT_EQ(Host().OutstandingAuthentications(), 0u);
  }
  CCredential Finger(VDFP_CAPTURE capture) { return {VDFP_CRED_FINGERPRINT, capture, -1}; }
  CUser Alice() { return CUser(api, L"VDSIM-PC\\alice", VDFP_NAME_SAM); }

  CVDFPApi api{Agent()};
};

TEST_F(FingerprintIdentityTest, VerifyUserIsTrueOnlyForTheOwnersFinger) {
  const VDFP_CAPTURE alice = Host().TouchFinger(L"alice");
  const VDFP_CAPTURE nobody = Host().TouchFinger(L"mallory");
  EXPECT_TRUE(CFingerprintIdentity::VerifyUser(api, Alice(), Finger(alice)));
  EXPECT_FALSE(CFingerprintIdentity::VerifyUser(api, Alice(), Finger(nobody)));
  EXPECT_FALSE(CFingerprintIdentity::VerifyUser(api, Alice(), Finger(0xDEAD)))
      << "a capture the reader never made";
  const unsigned calls = Host().CallCount("VDFPIdentifyUser");
  EXPECT_FALSE(CFingerprintIdentity::VerifyUser(api, CUser(), Finger(alice)));
  EXPECT_EQ(Host().CallCount("VDFPIdentifyUser"), calls) << "no user: nothing to ask";
}

TEST_F(FingerprintIdentityTest, IdentifyUserNamesTheOwnerOrGivesTheEmptyUser) {
  const VDFP_CAPTURE alice = Host().TouchFinger(L"alice");
  const CUser found = CFingerprintIdentity::IdentifyUser(api, Finger(alice));
  ASSERT_TRUE(found.IsValid());
  EXPECT_EQ(found, Alice());

  CRecordingSink sink;
  const CUser none = CFingerprintIdentity::IdentifyUser(api, Finger(Host().TouchFinger(L"bob")));
  EXPECT_FALSE(none.IsValid());
  EXPECT_TRUE(sink.Contains('E', "-2147023579 No such user"));
  EXPECT_FALSE(CFingerprintIdentity::IdentifyUser(api, Finger(0xDEAD)).IsValid());
  // TearDown: every name buffer was given back.
}

// ---- Authenticate (needs the machine's DER codec) -----------------------------------------

TEST_F(FingerprintIdentityTest, AuthenticateSendsTheTwoIntegerRequestAndKeepsTheOperation) {
  const VDFP_CAPTURE alice = Host().TouchFinger(L"alice");  // 0x00010001
  HVDFPAUTHENTICATION h = CFingerprintIdentity::Authenticate(api, Alice(), Finger(alice));
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(Host().LastTokenAuthenticateRequest(),
            (Bytes{0x30, 0x08, 0x02, 0x01, 0x01, 0x02, 0x03, 0x01, 0x00, 0x01}));
  EXPECT_EQ(Host().OutstandingAuthentications(), 1u) << "the caller owns the operation";
  EXPECT_EQ(CUser::FromOperation(api, h), Alice());
  api.VDFPDestroyAuthentication(h);
}

TEST_F(FingerprintIdentityTest, AuthenticateEncodesAHighCaptureAsUnsigned) {
  // The reader's captures are numbers the host made; a high one still travels unsigned.
  EXPECT_EQ(CFingerprintIdentity::EncodeRequest(Agent().Crypt(), 0x80000000u),
            (Bytes{0x30, 0x0A, 0x02, 0x01, 0x01, 0x02, 0x05, 0x00, 0x80, 0x00, 0x00, 0x00}));
}

TEST_F(FingerprintIdentityTest, AuthenticateRefusesEveryReplyButTwoUnsignedIntegers) {
  const VDFP_CAPTURE alice = Host().TouchFinger(L"alice");
  struct Case {
    const char* name;
    Bytes reply;
  };
  const Case cases[] = {
      {"empty", {}},
      {"one integer", {0x30, 0x03, 0x02, 0x01, 0x01}},
      {"three integers", {0x30, 0x09, 0x02, 0x01, 0x01, 0x02, 0x01, 0x02, 0x02, 0x01, 0x03}},
      {"negative", {0x30, 0x06, 0x02, 0x01, 0x01, 0x02, 0x01, 0xFF}},
      {"octet string", {0x30, 0x06, 0x02, 0x01, 0x01, 0x04, 0x01, 0x02}},
      {"not a sequence", {0x31, 0x06, 0x02, 0x01, 0x01, 0x02, 0x01, 0x02}},
      {"cut short", {0x30, 0x08, 0x02, 0x01, 0x01, 0x02, 0x01}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Host().SetTokenAuthenticateReply(c.reply);
    EXPECT_EQ(CFingerprintIdentity::Authenticate(api, Alice(), Finger(alice)), nullptr);
    EXPECT_EQ(Host().OutstandingAuthentications(), 0u) << "the operation is destroyed";
  }
  Host().SetTokenAuthenticateReply(Bytes{0x30, 0x06, 0x02, 0x01, 0x01, 0x02, 0x01, 0x02});
  HVDFPAUTHENTICATION h = CFingerprintIdentity::Authenticate(api, Alice(), Finger(alice));
  EXPECT_NE(h, nullptr) << "the values themselves are not checked";
  api.VDFPDestroyAuthentication(h);
}

TEST_F(FingerprintIdentityTest, AuthenticateFailsWithoutLeftoversForWrongFingerOrUser) {
  const VDFP_CAPTURE bob = Host().TouchFinger(L"bob");
  EXPECT_EQ(CFingerprintIdentity::Authenticate(api, Alice(), Finger(bob)), nullptr);
  CRecordingSink sink;
  EXPECT_EQ(CFingerprintIdentity::Authenticate(api, CUser(), Finger(bob)), nullptr);
  EXPECT_TRUE(sink.Contains('E', "-2147023581 Invalid user"));
  EXPECT_EQ(Host().CallCount("VDFPCreateAuthentication"), 1u);
}

}  // namespace
