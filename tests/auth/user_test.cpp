// CUser against the stand-in library (and, where an argument must be seen, a scripted one):
// lazy translation with caching and retry, validity, the equality rules, the factories.
#include <gtest/gtest.h>

#include <algorithm>
#include <cwctype>
#include <functional>

#include "auth/protected_data.h"
#include "auth/user.h"
#include "platform/sim/registry_store.h"
#include "platform/sim/session_manager.h"
#include "support/trace/trace_sink.h"
#include "tests/auth/auth_test_util.h"
#include "tests/auth/fake_vdfp_library.h"

namespace {

using authtest::SimAgentTest;
using vdfp_standin::VdfpDescription;

const std::wstring kAliceAccount = L"VDSIM-PC\\alice";
const std::wstring kBobSam = L"VDSIM-PC\\bob";

bool HasText(const VDTraceNS::CRecordingSink& sink, char type, const std::string& text) {
  const auto texts = sink.Texts(type);
  return std::find(texts.begin(), texts.end(), text) != texts.end();
}

std::string Narrow(const std::wstring& w) { return vdfp_standin::WideToUtf8(w); }

class UserTest : public SimAgentTest {
 protected:
  void SetUp() override {
    SimAgentTest::SetUp();
    Install(VdfpDescription::FromJson(R"({
      "users": [
        {"name": "alice", "session": 1, "names": {"Display": "Alice Anders"},
         "enrolled": ["Password"]},
        {"name": "bob", "session": 2, "enrolled": ["Password"]}
      ]})"));
    ASSERT_EQ(m_api.VDFPInit(), S_OK);
    m_aliceSid = m_machine.Sessions().UserSid(1);
  }
  void TearDown() override {
    EXPECT_EQ(Host().Buffers().OutstandingTags(), std::vector<std::string>{});
    EXPECT_EQ(Host().Buffers().InvalidFrees(), 0u);
  }
  unsigned Translations() { return Host().CallCount("VDFPTranslateName"); }

  CVDFPApi m_api{Agent()};
  std::wstring m_aliceSid;
};

// ---- Translation: once, cached, retried after a failure ------------------------------------

TEST_F(UserTest, NamedUserResolvesItsSidOnceAtConstructionAndKeepsIt) {
  VDTraceNS::CRecordingSink sink;
  CUser alice(m_api, kAliceAccount, VDFP_NAME_SAM);
  EXPECT_EQ(Translations(), 1u) << "the constructor's trace text needs the SID";
  EXPECT_EQ(alice.Sid(), m_aliceSid);
  EXPECT_EQ(alice.AccountName(), kAliceAccount);
  EXPECT_EQ(alice.ToString(), L"'" + kAliceAccount + L"' (SAM), SID=" + m_aliceSid);
  EXPECT_EQ(Translations(), 1u);

  EXPECT_TRUE(HasText(sink, 'U', "Found a user SID " + Narrow(m_aliceSid)));
  EXPECT_TRUE(HasText(sink, 'U', "User 'VDSIM-PC\\alice' (SAM), SID=" + Narrow(m_aliceSid)));
  EXPECT_TRUE(HasText(sink, '>', "CUser::CUser"));
}

TEST_F(UserTest, FailedTranslationLeavesTheFieldEmptyAndIsAskedAgain) {
  Host().Stop();
  CUser alice(m_api, kAliceAccount, VDFP_NAME_SAM);
  EXPECT_EQ(alice.Sid(), L"");
  EXPECT_EQ(Translations(), 2u);
  EXPECT_EQ(alice.ToString(), L"'" + kAliceAccount + L"' (SAM), SID=");
  EXPECT_EQ(Translations(), 3u);

  Host().Start();
  EXPECT_EQ(alice.Sid(), m_aliceSid);
  EXPECT_EQ(alice.Sid(), m_aliceSid);
  EXPECT_EQ(Translations(), 4u) << "asked again once, then kept";
}

TEST_F(UserTest, UserKnownBySidTranslatesItsNameIntoItsOwnFormatOnce) {
  VDTraceNS::CRecordingSink sink;
  CUser alice = CUser::FromSid(m_api, m_aliceSid, VDFP_NAME_DISPLAY);
  EXPECT_EQ(Translations(), 0u) << "nothing is asked before it is needed";
  EXPECT_EQ(alice.AccountName(), L"Alice Anders");
  EXPECT_EQ(alice.AccountName(), L"Alice Anders");
  EXPECT_EQ(alice.Sid(), m_aliceSid);
  EXPECT_EQ(Translations(), 1u);
  EXPECT_TRUE(HasText(sink, 'U', "Found a user name 'Alice Anders' (Display)"));
}

TEST_F(UserTest, UntranslatableNameStaysValidAndItsNameNeedsNoLibrary) {
  CUser ghost(m_api, L"VDSIM-PC\\ghost", VDFP_NAME_SAM);
  EXPECT_TRUE(ghost.IsValid());
  EXPECT_EQ(ghost.Sid(), L"");
  const unsigned before = Translations();
  EXPECT_EQ(ghost.AccountName(), L"VDSIM-PC\\ghost");
  EXPECT_EQ(Translations(), before);
}

TEST_F(UserTest, ValidityNeedsASidOrANameWithAFormat) {
  EXPECT_FALSE(CUser().IsValid());
  EXPECT_TRUE(CUser::FromSid(m_api, m_aliceSid).IsValid());
  EXPECT_TRUE(CUser(m_api, kAliceAccount, VDFP_NAME_SAM).IsValid());
  Host().Stop();  // no SID can be found for these
  EXPECT_FALSE(CUser(m_api, kAliceAccount, VDFP_NAME_NONE).IsValid());
  EXPECT_FALSE(CUser(m_api, L"", VDFP_NAME_SAM).IsValid());
}

// ---- Equality --------------------------------------------------------------------------------

TEST_F(UserTest, SidsAreComparedWithoutCaseAgainstTheRightUsersTranslatedSid) {
  std::wstring lower = m_aliceSid;
  std::transform(lower.begin(), lower.end(), lower.begin(), ::towlower);
  EXPECT_TRUE(CUser::FromSid(m_api, lower) == CUser::FromSid(m_api, m_aliceSid));
  // The right user is known by name only until compared.
  EXPECT_TRUE(CUser::FromSid(m_api, m_aliceSid) == CUser(m_api, kAliceAccount, VDFP_NAME_SAM));
  EXPECT_TRUE(CUser::FromSid(m_api, m_aliceSid) != CUser(m_api, kBobSam, VDFP_NAME_SAM));
  EXPECT_TRUE(CUser::FromSid(m_api, m_aliceSid) != CUser());
}

TEST_F(UserTest, WithoutSidsNamesMatchAsWindowsMatchesThemAndOnlyInTheSameFormat) {
  Host().Stop();  // keeps every SID empty
  const struct {
    std::wstring left, right;
    DWORD rightFormat;
    bool equal;
  } rows[] = {
      {L"VDSIM-PC\\ALICE", L"vdsim-pc\\alice", VDFP_NAME_SAM, true},
      {L"VDSIM-PC\\ALICE", L"VDSIM-PC\\ALICE", VDFP_NAME_NETBIOS, false},
      {L"VDSIM-PC\\ALICE", L"VDSIM-PC\\bob", VDFP_NAME_SAM, false},
      // A change of case is no change of user, in any script.
      {L"VDSIM-PC\\J\u00FCrgen", L"vdsim-pc\\J\u00DCRGEN", VDFP_NAME_SAM, true},
      {L"VDSIM-PC\\\u0410\u043B\u0451\u043D\u0430", L"VDSIM-PC\\\u0430\u041B\u0401\u041D\u0410",
       VDFP_NAME_SAM, true},
      // Folding is one unit for one unit: a sharp s never matches "SS".
      {L"VDSIM-PC\\Stra\u00DFer", L"VDSIM-PC\\STRASSER", VDFP_NAME_SAM, false},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(Narrow(r.left + L" / " + r.right));
    const CUser left(m_api, r.left, VDFP_NAME_SAM), right(m_api, r.right, r.rightFormat);
    EXPECT_EQ(left == right, r.equal);
    EXPECT_EQ(left != right, !r.equal);
  }
}

TEST_F(UserTest, NamedUserWithoutSidAsksTheRightUsersNameInItsOwnFormat) {
  Host().Stop();
  const CUser named(m_api, kAliceAccount, VDFP_NAME_SAM);  // its SID could not be found
  Host().Start();
  EXPECT_TRUE(named == CUser::FromSid(m_api, m_aliceSid, VDFP_NAME_SAM));
  EXPECT_TRUE(named != CUser::FromSid(m_api, m_aliceSid, VDFP_NAME_DISPLAY));
}

TEST_F(UserTest, AnInvalidLeftUserDiffersFromEverythingItselfIncluded) {
  const CUser empty;
  EXPECT_TRUE(empty != empty);
  EXPECT_FALSE(empty == CUser());
  Host().Stop();
  const CUser nameless(m_api, L"", VDFP_NAME_SAM);
  const CUser formatless(m_api, kAliceAccount, VDFP_NAME_NONE);
  EXPECT_TRUE(formatless != formatless);
  EXPECT_TRUE(nameless != CUser(m_api, L"", VDFP_NAME_SAM));
  // The rule belongs to the left side: a valid left user may still match.
  EXPECT_TRUE(CUser(m_api, kAliceAccount, VDFP_NAME_SAM) != formatless);
}

// ---- The arguments the library sees ----------------------------------------------------------

class UserArgumentsTest : public authtest::ScriptedVdfpTest {};

TEST_F(UserArgumentsTest, SidIsWantedAsFormat8AndTheNameInTheUsersOwnFormatEvenZero) {
  m_fake.OnTranslate([](const auto& call, std::wstring* out, bool* give) {
    *out = call.wanted == VDFP_NAME_SID ? L"S-1-5-21-1-2-3-1001" : L"someone";
    *give = true;
    return S_OK;
  });
  CUser named(m_api, L"dom\\u", VDFP_NAME_NETBIOS);
  CUser bySid = CUser::FromSid(m_api, L"S-1-5-21-9");
  EXPECT_EQ(bySid.AccountName(), L"someone");
  const auto& calls = m_fake.TranslateCalls();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].name, L"dom\\u");
  EXPECT_EQ(calls[0].format, VDFP_NAME_NETBIOS);
  EXPECT_EQ(calls[0].wanted, VDFP_NAME_SID);
  EXPECT_EQ(calls[1].name, L"S-1-5-21-9");
  EXPECT_EQ(calls[1].format, VDFP_NAME_SID);
  EXPECT_EQ(calls[1].wanted, VDFP_NAME_NONE);
  EXPECT_EQ(named.Sid(), L"S-1-5-21-1-2-3-1001");
  EXPECT_EQ(m_fake.OutstandingBuffers(), 0u);
}

TEST_F(UserArgumentsTest, ANameHandedOutWithAFailureIsFreedAndNotKept) {
  m_fake.OnTranslate([](const auto&, std::wstring* out, bool* give) {
    *out = L"half-done";
    *give = true;
    return E_FAIL;
  });
  CUser named(m_api, L"dom\\u", VDFP_NAME_NETBIOS);
  EXPECT_EQ(named.Sid(), L"");
  EXPECT_EQ(m_fake.TranslateCalls().size(), 2u);
  EXPECT_EQ(m_fake.OutstandingBuffers(), 0u);
  EXPECT_EQ(m_fake.InvalidFrees(), 0u);
}

TEST_F(UserArgumentsTest, WithoutTheLibraryEveryLookupDegradesToNothing) {
  m_machine.Modules().Uninstall(L"C:\\Windows\\system32\\VDFPApi.dll");
  CUser named(m_api, L"dom\\u", VDFP_NAME_NETBIOS);
  EXPECT_EQ(named.Sid(), L"");
  EXPECT_TRUE(named.IsValid());
  EXPECT_EQ(CUser::FromSid(m_api, L"S-1-5-21-9", VDFP_NAME_SAM).AccountName(), L"");
  EXPECT_FALSE(CUser::FromKioskSharedMemory(m_api).IsValid());
}

// ---- Factories -------------------------------------------------------------------------------

TEST_F(UserTest, FromWindowsIsTheSessionsUserInSamFormWithItsSid) {
  VDTraceNS::CRecordingSink sink;
  const CUser user = CUser::FromWindows(Agent(), m_api);
  EXPECT_EQ(user.AccountName(), kAliceAccount);
  EXPECT_EQ(user.NameFormat(), static_cast<DWORD>(VDFP_NAME_SAM));
  EXPECT_EQ(user.Sid(), m_aliceSid);
  EXPECT_TRUE(HasText(sink, '>', "CUser::FromWindows"));

  // In another session, that session's user.
  m_machine.Sessions().CreateSession({.id = 2, .userName = L"bob"});
  auto other = m_machine.CreateProcess({.sessionId = 2});
  sim::CurrentProcessScope scope(other.get());
  CVDFPApi api(*other);
  ASSERT_EQ(api.VDFPInit(), S_OK);
  EXPECT_EQ(CUser::FromWindows(*other, api).AccountName(), kBobSam);
  EXPECT_EQ(api.VDFPTerm(), S_OK);
}

class KioskUserTest : public UserTest {
 protected:
  static constexpr const wchar_t* kKey = L"HKLM\\SOFTWARE\\Veridane\\Kiosk\\Session\\1";
  void Seed(const wchar_t* key = kKey) {
    auto& reg = m_machine.Registry();
    reg.SetDword(key, L"KioskAccount", 1);
    reg.SetString(key, L"KioskUser", kBobSam);
    reg.SetDword(key, L"KioskUserType", VDFP_NAME_SAM);
  }
  CUser FromKiosk(bool enabled = true) { return CUser::FromKiosk(Agent(), m_api, enabled); }
};

TEST_F(KioskUserTest, TheSessionsKioskKeyNamesTheUser) {
  Seed();
  const CUser user = FromKiosk();
  EXPECT_EQ(user.AccountName(), kBobSam);
  EXPECT_EQ(user.NameFormat(), static_cast<DWORD>(VDFP_NAME_SAM));
  EXPECT_EQ(user.Sid(), vdfp_standin::SessionUserSid(2)) << "bob's SID, as the host knows him";
}

TEST_F(KioskUserTest, NobodyUnlessTheSessionsOwn64BitKeyNamesAUserWithAFormat) {
  auto& reg = m_machine.Registry();
  const struct {
    const char* what;
    std::function<void()> spoil;
    bool kioskLogon = true;
  } rows[] = {
      {"kiosk logon off", [] {}, false},
      {"KioskAccount 0", [&] { reg.SetDword(kKey, L"KioskAccount", 0); }},
      {"KioskAccount not a REG_DWORD", [&] { reg.SetString(kKey, L"KioskAccount", L"1"); }},
      {"no key", [&] { reg.DeleteKey(kKey); }},
      {"no KioskUser", [&] { reg.DeleteValue(kKey, L"KioskUser"); }},
      {"no KioskUserType", [&] { reg.DeleteValue(kKey, L"KioskUserType"); }},
      // A 32-bit agent on 64-bit Windows: the 32-bit copy of the key is not the one.
      {"32-bit view only",
       [&] {
         reg.DeleteKey(kKey);
         Seed(L"HKLM\\SOFTWARE\\WOW6432Node\\Veridane\\Kiosk\\Session\\1");
       }},
      {"another session's key",
       [&] {
         reg.DeleteKey(kKey);
         Seed(L"HKLM\\SOFTWARE\\Veridane\\Kiosk\\Session\\2");
       }},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.what);
    Seed();
    r.spoil();
    EXPECT_FALSE(FromKiosk(r.kioskLogon).IsValid());
  }
  Seed();
  m_machine.Registry().DeleteValue(kKey, L"KioskUserType");
  EXPECT_EQ(FromKiosk().AccountName(), kBobSam) << "the name is still read";
}

TEST_F(UserTest, FromOperationIsTheOperationsUserAndABadOperationNobody) {
  CVDFPAuthentication op(m_api);
  ASSERT_EQ(m_api.VDFPCreateAuthentication(kAliceAccount.c_str(), VDFP_NAME_SAM, op.put()), S_OK);
  const CUser user = CUser::FromOperation(m_api, op.get());
  EXPECT_EQ(user.AccountName(), kAliceAccount);
  EXPECT_EQ(user.NameFormat(), static_cast<DWORD>(VDFP_NAME_SAM));
  EXPECT_EQ(user.Sid(), m_aliceSid);

  VDTraceNS::CRecordingSink sink;
  EXPECT_FALSE(CUser::FromOperation(m_api, reinterpret_cast<HVDFPAUTHENTICATION>(0x77)).IsValid());
  EXPECT_EQ(sink.Texts('E').size(), 1u) << "the failed query is traced";
}

// ---- The kiosk user record through the library -----------------------------------------------

class KioskRecordTest : public UserTest {
 protected:
  void Put(std::vector<BYTE> data, std::optional<std::vector<BYTE>> entropy = std::nullopt) {
    vdfp_standin::SlotDesc slot;
    slot.slot = kVDKioskUserSlot;
    slot.data = std::move(data);
    slot.entropy = std::move(entropy);
    Host().SetProtectedData(slot);
  }
  CUser Read() { return CUser::FromKioskSharedMemory(m_api); }
};

TEST_F(KioskRecordTest, Version3NamesAValidUserInItsFormatUnderTheAgentsEntropyOnly) {
  const std::vector<BYTE> ours(std::begin(kVDProtectedDataEntropyBytes),
                               std::end(kVDProtectedDataEntropyBytes));
  Put(authtest::KioskRecord(3, VDFP_NAME_SAM, u"VDSIM-PC\\bob"), ours);
  const CUser user = Read();
  EXPECT_TRUE(user.IsValid());
  EXPECT_EQ(user.AccountName(), kBobSam);
  EXPECT_EQ(user.NameFormat(), static_cast<DWORD>(VDFP_NAME_SAM));
  std::vector<BYTE> other = ours;
  other[0] ^= 1;
  Put(authtest::KioskRecord(3, VDFP_NAME_SAM, u"VDSIM-PC\\bob"), other);
  EXPECT_FALSE(Read().IsValid());
}

TEST_F(KioskRecordTest, NoSlotABrokenRecordOrNoHostGiveTheEmptyUserWithEveryBufferBack) {
  EXPECT_FALSE(Read().IsValid());  // no slot
  const std::vector<BYTE> broken[] = {
      authtest::KioskRecord(3, VDFP_NAME_SAM, u"VDSIM-PC\\bob", false),
      {3, 0, 0, 0, 3, 0, 0},  // seven bytes
      {},
      authtest::KioskRecord(2, 1, u"VDSIM-PC\\bob"),  // version 2 carries no format
  };
  for (const auto& r : broken) {
    Put(r);
    EXPECT_FALSE(Read().IsValid()) << r.size() << " bytes";
  }
  Put(authtest::KioskRecord(3, VDFP_NAME_SAM, u"VDSIM-PC\\bob"));
  Host().Stop();
  EXPECT_FALSE(Read().IsValid());
  EXPECT_EQ(Host().CallCount("VDFPReadProtectedData"), 6u);
  // TearDown checks that every record block went back.
}

}  // namespace
