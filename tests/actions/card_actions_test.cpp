// Card taps and removals once the card logic has debounced them: the quick action a tap
// starts (identification, the PIN path, a contactless lock left for the card's leaving) and
// the lock rules of a removal under the administrator's policy.
#include "actions/card_actions.h"

#include "platform/sim/registry_store.h"
#include "tests/actions/action_test_util.h"
#include "tests/auth/fake_vdsc_library.h"
#include "tests/core/suite_install.h"

namespace actiontest {
namespace {

using authtest::FakeVdscLibrary;

const std::wstring kReader = L"Reader A";
constexpr CCardRecord kSmart{VDSC_CARD_SMARTCARD, 21, 0, 0};
constexpr CCardRecord kProx{VDSC_CARD_PROXIMITY, 7, 0, 0};
constexpr CCardRecord kContactless{VDSC_CARD_CONTACTLESS, 9, 0, 0};

class CardActionsTest : public ActionsTest {
 protected:
  void SetUp() override {
    ActionsTest::SetUp();
    lib = std::make_unique<FakeVdscLibrary>(machine);
    cards = std::make_unique<CVDSCApi>(Desk());
    ASSERT_EQ(cards->Load(), S_OK);
    cardActions = std::make_unique<CCardActions>(run->agent, Host(), Actions());
    Host().sessionUser = Alice();
    vdfp->Host().SetEnrolled(L"alice", VDFP_CRED_SMARTCARD, true);
  }
  void TearDown() override {
    cardActions.reset();
    cards.reset();
    lib.reset();
    ActionsTest::TearDown();
  }

  void SetUserAction(const wchar_t* row, const wchar_t* action) {
    Reg().SetString(Apps() + L"KwAppSettings\\QuickActions", row, action);
  }
  void SetLockPolicy(DWORD value) {
    vdfp_standin::PolicySettingDesc s;
    s.name = CCardActions::kLockPolicy;
    s.value.type = VDVAR_UINT32;
    s.value.number = value;
    vdfp->Host().SetPolicySetting(s);
  }
  void SetLogonMethods(ULONGLONG mask) {
    for (const wchar_t* root :
         {L"HKLM\\SOFTWARE\\Veridane", L"HKLM\\SOFTWARE\\WOW6432Node\\Veridane"})
      Reg().SetQword(std::wstring(root) + L"\\Applications\\Logon\\1", L"Methods", mask);
  }
  // A tap of the card in the reader, owned by `owner`; what it posts is carried out.
  void Tap(CCardRecord card, const std::wstring& owner) {
    lib->Insert(kReader, card, owner);
    cardActions->OnCardReady(*cards, kReader, card);
    Host().RunPosted();
  }
  void Leave(CCardRecord card) {
    lib->Remove(kReader);
    cardActions->OnCardRemoved(card);
    Host().RunPosted();
  }

  // The password manager got the action (command 100); starting KwI only announces it (5).
  bool HandedToPasswordManager() {
    for (const auto& c : Host().kws)
      if (c.code == 100) return true;
    return false;
  }

  std::unique_ptr<FakeVdscLibrary> lib;
  std::unique_ptr<CVDSCApi> cards;
  std::unique_ptr<CCardActions> cardActions;
};

// ---- Taps --------------------------------------------------------------------------------

TEST_F(CardActionsTest, AContactlessLockTapLocksOnlyWhenTheCardLeavesUnderPolicyZero) {
  SetUserAction(L"Finger", L"LockWorkstation");
  Tap(kContactless, L"VDSIM-PC\\alice");
  EXPECT_EQ(Desk().ui.locks, 0);
  EXPECT_EQ(Ctx().info.PendingAction(), 3);
  EXPECT_TRUE(Logged("Contactless card tap initiated"));

  Leave(kContactless);
  EXPECT_TRUE(Logged("Complete contactless card tap"));
  EXPECT_TRUE(Entered("[CompletingCardTap]"));
  EXPECT_EQ(Desk().ui.locks, 1);
  EXPECT_TRUE(Actions().CanStartAction());
  // Completed once: a second leaving does nothing more.
  Leave(kContactless);
  EXPECT_EQ(Desk().ui.locks, 1);
}

TEST_F(CardActionsTest, UnderTheLockPolicyAPendingTapIsNotCompletedByTheLeaving) {
  SetUserAction(L"Finger", L"LockWorkstation");
  SetLockPolicy(1);
  SetLogonMethods(VDFP_CRED_SMARTCARD);
  Tap(kContactless, L"VDSIM-PC\\alice");
  Leave(kContactless);
  EXPECT_TRUE(Logged("Contactless/proxy card lock is not supported."));
  EXPECT_FALSE(Logged("Complete contactless card tap"));
  EXPECT_EQ(Desk().ui.locks, 0);
}

TEST_F(CardActionsTest, ALockTapWithModifiersLocksAtOnce) {
  SetUserAction(L"F+Ctrl", L"LockWorkstation");
  Desk().ui.keysDown = {VK_CONTROL};
  Actions().Keyboard().StartCapture();  // as the card's insertion does
  Tap(kProx, L"VDSIM-PC\\alice");
  EXPECT_EQ(Ctx().info.PendingAction(), 0);
  EXPECT_EQ(Desk().ui.locks, 1);
}

TEST_F(CardActionsTest, AFingerprintActionIsNeverRerunByACardLeaving) {
  ASSERT_TRUE(Actions().StartAction(CCredential(VDFP_CRED_FINGERPRINT, 7, -1), Alice()));
  Leave(kProx);
  EXPECT_FALSE(Logged("Complete contactless card tap"));
  EXPECT_TRUE(Host().posted.empty());
  EXPECT_EQ(Ctx().info.PendingAction(), -1);
}

TEST_F(CardActionsTest, ASmartCardTapVerifiesTheSessionUserAndAsksForThePin) {
  Tap(kSmart, L"");  // KwI by default
  EXPECT_TRUE(Logged("Token is enrolled"));
  EXPECT_EQ(vdfp->Host().CallCount("VDFPVerifyUserUI"), 1u);
  EXPECT_TRUE(FakeVdscLibrary::S().authenticated.empty());
  ASSERT_FALSE(Host().kws.empty());
  EXPECT_EQ(Host().kws.back().code, 100u);
  EXPECT_NE(Host().kws.back().param, 0u);
}

TEST_F(CardActionsTest, ASmartCardOfAUserWithoutOneEnrolledOrACancelledPinStartsNothing) {
  Host().sessionUser = Bob();
  Tap(kSmart, L"");
  EXPECT_TRUE(Logged("User was nod verified"));
  EXPECT_FALSE(HandedToPasswordManager());
  EXPECT_TRUE(Actions().CanStartAction()) << "the refused action is reset";

  Host().sessionUser = Alice();
  auto dialogs = vdfp->Host().Dialogs();
  dialogs.verifyAccepts = false;
  vdfp->Host().SetDialogs(dialogs);
  Tap(kSmart, L"");
  EXPECT_TRUE(
      sink.Contains('E', std::to_string(static_cast<int>(E_ABORT)) + " Authentication failed"));
  EXPECT_FALSE(HandedToPasswordManager());
  EXPECT_TRUE(Actions().CanStartAction());
  EXPECT_EQ(OpenHandles(), 0u);
}

TEST_F(CardActionsTest, AnotherUsersCardChangesTheKioskUserOnlyInAKioskSession) {
  Tap(kProx, L"VDSIM-PC\\bob");
  EXPECT_TRUE(Logged("No card-initiated FUS for non-kiosk"));
  EXPECT_TRUE(Host().kioskChanges.empty());
  EXPECT_TRUE(Actions().CanStartAction());

  Host().kiosk = true;
  Host().kioskUser = Alice();
  Tap(kProx, L"VDSIM-PC\\bob");
  ASSERT_FALSE(Host().kioskChanges.empty());
  EXPECT_EQ(Host().kioskChanges.front(), Bob());
}

TEST_F(CardActionsTest, ACardNobodyEnrolledLeavesTheActionStarted) {
  Tap(kProx, L"");
  EXPECT_TRUE(Logged("User is not recognized with the proximity/contactless card"));
  EXPECT_FALSE(Actions().CanStartAction());
}

// ---- The lock rules ----------------------------------------------------------------------

TEST_F(CardActionsTest, APulledLogonSmartCardLocksUnderThePolicy) {
  SetLockPolicy(1);
  SetLogonMethods(VDFP_CRED_PASSWORD | VDFP_CRED_SMARTCARD);
  Leave(kSmart);
  EXPECT_EQ(Desk().ui.locks, 1);
  EXPECT_TRUE(Logged("Workstation locked."));
  EXPECT_TRUE(Logged("token type 0000000000000004"));
  EXPECT_EQ(Desk().ui.desktopAccess, static_cast<ACCESS_MASK>(GENERIC_READ));
  EXPECT_EQ(Desk().ui.openDesktops, 0) << "the input desktop is closed again";
}

TEST_F(CardActionsTest, EachLockRuleRefuses) {
  SetLockPolicy(1);
  SetLogonMethods(VDFP_CRED_SMARTCARD);
  struct Case {
    const char* name;
    std::function<void()> arrange;
    CCardRecord card;
    const char* trace;
  };
  const Case cases[] = {
      {"another session has the console", [&] { Desk().sessions.consoleSession = 2; }, kSmart,
       "Not a console session, no action"},
      {"no input desktop", [&] { Desk().ui.inputDesktop = false; }, kSmart,
       "Not an active desktop, no action"},
      {"a proximity card without a Lumera edition", [] {}, kProx,
       "Contactless/proxy card lock is not supported."},
      {"logged on with another card type", [&] { SetLogonMethods(VDFP_CRED_CONTACTLESS); }, kSmart,
       "Not logged with the same card type, no action"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sink.Clear();
    Desk().sessions.consoleSession.reset();
    Desk().ui.inputDesktop = true;
    SetLogonMethods(VDFP_CRED_SMARTCARD);
    c.arrange();
    Leave(c.card);
    EXPECT_TRUE(Logged(c.trace));
    EXPECT_EQ(Desk().ui.locks, 0);
    EXPECT_EQ(Desk().ui.openDesktops, 0);
  }
  // No console session at all counts as the console.
  Desk().sessions.consoleSession = 0xFFFFFFFF;
  Desk().ui.inputDesktop = true;
  SetLogonMethods(VDFP_CRED_SMARTCARD);
  Leave(kSmart);
  EXPECT_EQ(Desk().ui.locks, 1);
}

TEST_F(CardActionsTest, WithALumeraEditionProximityAndUnknownCardsLock) {
  suite_test::SetInstalledProduct(machine, L"Lumera Workstation");
  SetLockPolicy(1);
  SetLogonMethods(VDFP_CRED_PROXIMITY);
  Leave(kProx);
  EXPECT_EQ(Desk().ui.locks, 1);
  // A card type nobody knows stands for no credential: it locks, the safe side.
  Leave(CCardRecord{0x40, 1, 0, 0});
  EXPECT_EQ(Desk().ui.locks, 2);
}

TEST_F(CardActionsTest, AFailedLockIsTracedNotReportedAsLocked) {
  SetLockPolicy(1);
  SetLogonMethods(VDFP_CRED_SMARTCARD);
  Desk().ui.lockError = 120;  // ERROR_CALL_NOT_IMPLEMENTED
  Leave(kSmart);
  EXPECT_EQ(Desk().ui.locks, 1);
  EXPECT_FALSE(Logged("Workstation locked."));
  EXPECT_TRUE(sink.Contains(
      'E', std::to_string(static_cast<int>(HRESULT_FROM_WIN32(120))) + " LockWorkStation"));
}

TEST_F(CardActionsTest, WithoutThePolicyNothingLocks) {
  SetLogonMethods(VDFP_CRED_SMARTCARD);
  Leave(kSmart);
  EXPECT_EQ(Desk().ui.locks, 0);
  bool traced = false;
  for (const auto& t : sink.Texts('U'))
    if (t.find("LockUponSmartcardRemoval = 0[") != std::string::npos) traced = true;
  EXPECT_TRUE(traced);
}

}  // namespace
}  // namespace actiontest
