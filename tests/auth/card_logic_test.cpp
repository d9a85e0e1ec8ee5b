// The card handler's logic on the simulated machine: the library binding, the reader events
// with their debounce on the virtual clock, the presence check after unlock, the identity
// operations, and the window's router.
#include <gtest/gtest.h>

#include <optional>

#include "auth/card_handler.h"
#include "auth/card_logic.h"
#include "core/agent_process.h"
#include "platform/sim/process_com.h"
#include "platform/sim/registry_store.h"
#include "support/result_error.h"
#include "support/trace/trace_sink.h"
#include "tests/auth/auth_test_util.h"
#include "tests/auth/fake_card_host.h"
#include "tests/auth/fake_vdsc_library.h"

namespace authtest {
namespace {

const std::wstring kReaderA = L"Reader A";
const std::wstring kReaderB = L"Reader B";
constexpr CCardRecord kProx{VDSC_CARD_PROXIMITY, 7, 1, 2};
constexpr CCardRecord kOtherProx{VDSC_CARD_PROXIMITY, 8, 1, 2};
constexpr CCardRecord kSmart{VDSC_CARD_SMARTCARD, 21, 0, 0};
constexpr CCardRecord kNfc{VDSC_CARD_NFC, 99, 0, 0};

vdfp_standin::VdfpDescription CardUsers() {
  auto d = vdfp_standin::VdfpDescription::Default();
  d.users[0].enrolled |= VDFP_CRED_SMARTCARD | VDFP_CRED_CONTACTLESS;
  vdfp_standin::UserDesc bob;
  bob.name = L"bob";
  bob.names[VDFP_NAME_SAM] = L"VDSIM-PC\\bob";
  bob.enrolled = VDFP_CRED_PASSWORD;
  d.users.push_back(bob);
  return d;
}

class CardTest : public SimAgentTest {
 protected:
  void SetUp() override {
    SimAgentTest::SetUp();
    Install(CardUsers());
    ASSERT_EQ(api.VDFPInit(), S_OK);
  }
  void TearDown() override {
    logic.reset();
    api.VDFPTerm();
  }
  CCardLogic& Logic() {
    if (!logic) logic.emplace(Agent(), host);
    return *logic;
  }
  // "Methods" of this session's logon record (both registry views: the agent reads its own).
  void SetLogonMethods(ULONGLONG mask) {
    for (const wchar_t* root :
         {L"HKLM\\SOFTWARE\\Veridane", L"HKLM\\SOFTWARE\\WOW6432Node\\Veridane"})
      m_machine.Registry().SetQword(std::wstring(root) + L"\\Applications\\Logon\\1", L"Methods",
                                    mask);
  }
  void Event(WPARAM code, const std::wstring& reader) {
    Logic().OnCardMessage(code, FakeVdscLibrary::Name(reader));
  }
  void Put(const std::wstring& reader, CCardRecord card, std::wstring owner = {}) {
    lib.Insert(reader, card, std::move(owner));
    Event(VDSC_EVENT_CARD_INSERTED, reader);
  }
  void Pull(const std::wstring& reader) {
    lib.Remove(reader);
    Event(VDSC_EVENT_CARD_REMOVED, reader);
  }
  // Subscribed, past the start-up presence check.
  void Running() {
    Logic().OnReady();
    host.Advance(CCardLogic::kPresenceCheckMs);
    ASSERT_FALSE(Logic().Suspended());
  }
  bool Logged(const std::string& text) const { return sink.Contains('U', text); }
  CUser Alice() { return CUser(api, L"VDSIM-PC\\alice", VDFP_NAME_SAM); }
  CUser Bob() { return CUser(api, L"VDSIM-PC\\bob", VDFP_NAME_SAM); }

  VDTraceNS::CRecordingSink sink;
  CVDFPApi api{Agent()};
  FakeVdscLibrary lib{m_machine};
  FakeCardHost host{m_machine};
  std::optional<CCardLogic> logic;
};

// ---- The binding -------------------------------------------------------------------------

TEST_F(CardTest, TheBindingResolvesEveryEntryPointAndInitialisesWithTheWindowsMessage) {
  CVDSCApi cards(Agent());
  ASSERT_EQ(cards.Load(), S_OK);
  for (size_t i = 0; i < kVDSCApiExportCount; ++i) EXPECT_TRUE(cards.IsResolved(i)) << i;
  EXPECT_EQ(cards.Load(), S_FALSE);

  Logic().OnReady();
  EXPECT_EQ(FakeVdscLibrary::S().inits, 1);
  const VDSC_INIT& init = FakeVdscLibrary::S().lastInit;
  EXPECT_EQ(init.dwVersion, 2u);
  EXPECT_EQ(init.hWnd, host.window);
  EXPECT_EQ(init.uMessage, 0x52Cu);
  EXPECT_EQ(init.dwFlags, 3u);
}

TEST_F(CardTest, OneMissingEntryPointLeavesNothingLoaded) {
  for (const char* missing : {"VDSCGetEnrolledCards", "VDSCTokenIdentify", "VDSCClearCard"}) {
    FakeVdscLibrary partial(m_machine, {missing});
    CVDSCApi cards(Agent());
    EXPECT_EQ(cards.Load(), static_cast<HRESULT>(0x8007007FL)) << missing;
    EXPECT_FALSE(cards.IsLoaded());
    for (size_t i = 0; i < kVDSCApiExportCount; ++i) EXPECT_FALSE(cards.IsResolved(i)) << i;
    // Nothing is called through what was resolved before the missing one.
    EXPECT_EQ(cards.VDSCInit(nullptr), CVDSCApi::kIllegalMethodCall);
    EXPECT_EQ(FakeVdscLibrary::S().inits, 0);
  }
}

TEST_F(CardTest, WithoutTheLibraryEveryCallIsIllegalAndLoadGivesTheWindowsError) {
  m_machine.Modules().Uninstall(FakeVdscLibrary::kPath);
  CVDSCApi cards(Agent());
  const HRESULT hr = cards.Load();
  EXPECT_EQ(hr, static_cast<HRESULT>(0x8007007EL));  // ERROR_MOD_NOT_FOUND
  BSTR s = nullptr;
  VDSC_CARD_INFO info{};
  EXPECT_EQ(cards.VDSCTokenIdentify(L"R", 3, &s), CVDSCApi::kIllegalMethodCall);

  // Unloading after a successful load clears the entries again.
  FakeVdscLibrary again(m_machine);
  ASSERT_EQ(cards.Load(), S_OK);
  cards.Unload();
  EXPECT_FALSE(cards.IsResolved(0));
  EXPECT_EQ(cards.VDSCGetCardInfo(L"R", &s, &info), CVDSCApi::kIllegalMethodCall);
}

TEST_F(CardTest, TermRunsOnlyAfterOurOwnSuccessfulInit) {
  FakeVdscLibrary::S().initResult = E_ACCESSDENIED;
  Logic().OnReady();
  Logic().Dispose();
  EXPECT_EQ(FakeVdscLibrary::S().inits, 1);
  EXPECT_EQ(FakeVdscLibrary::S().terms, 0);

  CCardLogic second(Agent(), host);
  FakeVdscLibrary::S().initResult = S_OK;
  second.OnReady();
  second.OnReady();  // a second ready does not nest another init
  second.Dispose();
  second.Dispose();
  EXPECT_EQ(FakeVdscLibrary::S().inits, 2);
  EXPECT_EQ(FakeVdscLibrary::S().terms, 1);
  EXPECT_FALSE(second.Library().IsLoaded());
}

// ---- Reader events -------------------------------------------------------------------------

TEST_F(CardTest, InsertedCardsAreRecordedAndEveryDescriptionIsFreed) {
  Running();
  const long strings = sim::ProcessCom::LiveStrings();
  Event(VDSC_EVENT_READER_CONNECTED, kReaderB);
  EXPECT_EQ(Logic().Readers().at(kReaderB), CCardRecord{});
  Put(kReaderA, kProx);
  EXPECT_EQ(Logic().Readers().at(kReaderA), kProx);
  EXPECT_EQ(FakeVdscLibrary::S().lastInfoVersion, VDSC_CARD_INFO_VERSION);
  EXPECT_EQ(host.captures, 1);
  EXPECT_TRUE(Logged("Event: 'Card inserted', reader: 'Reader A'."));
  EXPECT_TRUE(Logged("Card Type: Proximity"));

  // A failed read keeps what the reader had, and its string is freed all the same.
  FakeVdscLibrary::S().cardInfoResult = E_FAIL;
  Put(kReaderA, kSmart);
  EXPECT_EQ(Logic().Readers().at(kReaderA), kProx);
  EXPECT_EQ(host.captures, 1);
  EXPECT_EQ(sim::ProcessCom::LiveStrings(), strings);

  Event(VDSC_EVENT_READER_DISCONNECTED, kReaderA);
  EXPECT_EQ(Logic().Readers().count(kReaderA), 0u);
}

TEST_F(CardTest, ACardPutBackWithinTheRemovalDelayIsNoRemoval) {
  Running();
  Put(kReaderA, kProx);
  Pull(kReaderA);
  host.Advance(1000);
  Put(kReaderA, kProx);
  host.Advance(600);
  EXPECT_TRUE(host.removed.empty());
  EXPECT_TRUE(Logged("Card was quickly replaced back, no action"));
  // Another card in its place is a removal all the same.
  Pull(kReaderA);
  Put(kReaderA, kOtherProx);
  host.Advance(1500);
  ASSERT_EQ(host.removed.size(), 1u);
  EXPECT_EQ(host.removed[0], kProx);
  host.removed.clear();

  // Gone for good: handled when the delay has passed, not before.
  Put(kReaderA, kProx);
  Pull(kReaderA);
  host.Advance(1499);
  EXPECT_TRUE(host.removed.empty());
  host.Advance(1);
  ASSERT_EQ(host.removed.size(), 1u);
  EXPECT_EQ(host.removed[0], kProx);
  EXPECT_EQ(Logic().Readers().at(kReaderA), CCardRecord{});
}

TEST_F(CardTest, ATapStartsTheActionOnlyWhenTheSameCardStaysForTheReadyDelay) {
  Running();
  Put(kReaderA, kProx);
  Event(VDSC_EVENT_CARD_READY, kReaderA);
  Pull(kReaderA);
  Put(kReaderA, kOtherProx);
  host.Advance(200);
  EXPECT_TRUE(host.ready.empty());

  Event(VDSC_EVENT_CARD_READY, kReaderA);
  host.Advance(199);
  EXPECT_TRUE(host.ready.empty());
  host.Advance(1);
  ASSERT_EQ(host.ready.size(), 1u);
  EXPECT_EQ(host.ready[0].reader, kReaderA);
  EXPECT_EQ(host.ready[0].record, kOtherProx);
}

TEST_F(CardTest, NoTapIsTakenWhileSuspendedOrWhileAnActionRuns) {
  Running();
  Put(kReaderA, kProx);
  Logic().OnSessionChange(7);  // locked
  EXPECT_TRUE(Logic().Suspended());
  Event(VDSC_EVENT_CARD_READY, kReaderA);
  host.Advance(500);
  EXPECT_TRUE(host.ready.empty());

  Logic().OnSessionChange(8);  // unlocked: suspended until the presence check
  Event(VDSC_EVENT_CARD_READY, kReaderA);
  host.Advance(1500);
  EXPECT_TRUE(host.ready.empty());
  EXPECT_FALSE(Logic().Suspended());

  host.canStart = false;
  Event(VDSC_EVENT_CARD_READY, kReaderA);
  host.Advance(500);
  EXPECT_TRUE(host.ready.empty());
  EXPECT_TRUE(Logged("Action is in progress or disabled. Ignored"));

  // A reader without a card has nothing to tap.
  host.canStart = true;
  Event(VDSC_EVENT_CARD_READY, kReaderB);
  host.Advance(500);
  EXPECT_TRUE(host.ready.empty());
}

TEST_F(CardTest, ForgedEventsAreTracedAndChangeNothing) {
  Running();
  Put(kReaderA, kProx);
  for (WPARAM code : {WPARAM{0}, WPARAM{6}, WPARAM{0xFFFFFFFF}}) Event(code, kReaderA);
  // No reader name at all: every event, none acts.
  for (WPARAM code = 1; code <= 5; ++code) Logic().OnCardMessage(code, 0);
  host.Advance(3000);
  EXPECT_TRUE(Logged("Event: 'Unknown', reader: 'Reader A'."));
  EXPECT_TRUE(Logged("Event: 'Card removed', reader: 'Unknown'."));
  EXPECT_EQ(Logic().Readers().size(), 1u);
  EXPECT_EQ(Logic().Readers().at(kReaderA), kProx);
  EXPECT_TRUE(host.removed.empty());
  EXPECT_TRUE(host.ready.empty());
}

// ---- The presence check ----------------------------------------------------------------

TEST_F(CardTest, AfterUnlockAMissingLogonCardIsTreatedAsRemoved) {
  SetLogonMethods(VDFP_CRED_PASSWORD | VDFP_CRED_SMARTCARD);
  Logic().OnReady();
  host.Advance(1499);
  EXPECT_TRUE(host.removed.empty());
  host.Advance(1);
  ASSERT_EQ(host.removed.size(), 1u);
  EXPECT_EQ(host.removed[0], (CCardRecord{VDSC_CARD_SMARTCARD, 0, 0, 0}));
  EXPECT_TRUE(
      Logged("No card of type 'Smartcard' was detected. Probably the card was removed "
             "before VdAgent started."));

  // Present at the next unlock: nothing.
  Put(kReaderA, kSmart);
  Logic().OnSessionChange(7);
  Logic().OnSessionChange(8);
  host.Advance(1500);
  EXPECT_EQ(host.removed.size(), 1u);
}

TEST_F(CardTest, EachMissingCardKindIsReportedHighestBitFirst) {
  SetLogonMethods(0x124 | VDFP_CRED_FINGERPRINT);
  Logic().OnReady();
  host.Advance(1500);
  ASSERT_EQ(host.removed.size(), 3u);
  EXPECT_EQ(host.removed[0].cardType, VDSC_CARD_PROXIMITY);
  EXPECT_EQ(host.removed[1].cardType, VDSC_CARD_CONTACTLESS);
  EXPECT_EQ(host.removed[2].cardType, VDSC_CARD_SMARTCARD);
}

TEST_F(CardTest, AnNfcTagCountsAsTheContactlessCardItLogsOnAs) {
  SetLogonMethods(VDFP_CRED_CONTACTLESS);
  Logic().OnReady();
  Put(kReaderA, kNfc);
  host.Advance(1500);
  EXPECT_TRUE(host.removed.empty());
  // Unlocked again and again: never taken for a removal while the tag is there.
  for (int i = 0; i < 3; ++i) {
    Logic().OnSessionChange(7);
    Logic().OnSessionChange(8);
    host.Advance(1500);
  }
  EXPECT_TRUE(host.removed.empty());
}

TEST_F(CardTest, DisposeEndsTheLibraryAndCancelsPendingChecks) {
  Running();
  Put(kReaderA, kProx);
  Event(VDSC_EVENT_CARD_READY, kReaderA);
  Pull(kReaderA);
  Logic().Dispose();
  EXPECT_EQ(host.Scheduled(), 0u);
  host.Advance(2000);
  EXPECT_TRUE(host.removed.empty());
  EXPECT_TRUE(host.ready.empty());
  EXPECT_TRUE(Logic().Readers().empty());
  EXPECT_EQ(FakeVdscLibrary::S().terms, 1);
  // Events after the end are traced only.
  Put(kReaderA, kProx);
  EXPECT_TRUE(Logic().Readers().empty());
}

// A host whose queue fails: the logic traces it at its entry and goes on.
class ThrowingHost final : public FakeCardHost {
 public:
  using FakeCardHost::FakeCardHost;
  UINT Schedule(UINT, std::function<bool(UINT)>) override { throw CResultError(E_OUTOFMEMORY); }
};

TEST_F(CardTest, AnErrorInAHandlerIsTracedAndGoesNoFurther) {
  ThrowingHost failing(m_machine);
  CCardLogic cards(Agent(), failing);
  cards.OnReady();
  EXPECT_TRUE(sink.Contains('E', std::to_string(static_cast<int>(E_OUTOFMEMORY)) + " OnReady"));
  cards.OnCardMessage(VDSC_EVENT_CARD_INSERTED, FakeVdscLibrary::Name(kReaderA));
  cards.OnSessionChange(8);
  EXPECT_TRUE(
      sink.Contains('E', std::to_string(static_cast<int>(E_OUTOFMEMORY)) + " OnSessionChange"));
}

// ---- Identity operations ---------------------------------------------------------------

TEST_F(CardTest, VerifyUserAsksWhetherTheCardTokenIsEnrolled) {
  const CCredential smart(VDFP_CRED_SMARTCARD, 0, 0);
  EXPECT_TRUE(CCardLogic::VerifyUser(api, Alice(), smart));
  EXPECT_TRUE(Logged("Token is enrolled"));
  EXPECT_FALSE(CCardLogic::VerifyUser(api, Bob(), smart));
  EXPECT_TRUE(Logged("Token is NOT enrolled"));
  EXPECT_FALSE(CCardLogic::VerifyUser(api, CUser(), smart));
  EXPECT_TRUE(sink.Contains('E', "-2147023581 Invalid user"));
}

TEST_F(CardTest, IdentifyUserNamesTheCardsOwnerAndFreesTheAnswer) {
  CVDSCApi cards(Agent());
  ASSERT_EQ(cards.Load(), S_OK);
  lib.Insert(kReaderA, kProx, L"VDSIM-PC\\alice");
  lib.Insert(kReaderB, kOtherProx);
  const long strings = sim::ProcessCom::LiveStrings();
  const CUser owner = CCardLogic::IdentifyUser(cards, api, kReaderA);
  EXPECT_TRUE(owner.IsValid());
  EXPECT_EQ(owner, Alice());
  EXPECT_TRUE(Logged("User 'VDSIM-PC\\alice' is detected"));
  EXPECT_FALSE(CCardLogic::IdentifyUser(cards, api, kReaderB).IsValid());
  EXPECT_EQ(FakeVdscLibrary::S().identifyFormats, (std::vector<DWORD>{3, 3}));
  EXPECT_EQ(sim::ProcessCom::LiveStrings(), strings);
}

TEST_F(CardTest, ASmartCardAuthenticatesThroughThePinDialogOtherCardsThroughTheLibrary) {
  CVDSCApi cards(Agent());
  ASSERT_EQ(cards.Load(), S_OK);
  const CCredential smart(VDFP_CRED_SMARTCARD, 0, 0);
  const CCredential prox(VDFP_CRED_PROXIMITY, 0, 0);

  HVDFPAUTHENTICATION h =
      CCardLogic::Authenticate(cards, api, host.window, kReaderA, Alice(), smart);
  EXPECT_NE(h, nullptr);
  EXPECT_EQ(Host().CallCount("VDFPVerifyUserUI"), 1u);
  EXPECT_TRUE(FakeVdscLibrary::S().authenticated.empty());
  api.VDFPDestroyAuthentication(h);

  h = CCardLogic::Authenticate(cards, api, host.window, kReaderB, Alice(), prox);
  EXPECT_NE(h, nullptr);
  EXPECT_EQ(FakeVdscLibrary::S().authenticated, (std::vector<std::wstring>{kReaderB}));
  EXPECT_EQ(Host().CallCount("VDFPVerifyUserUI"), 1u);
  api.VDFPDestroyAuthentication(h);

  // Refused PIN, refused card, invalid user: no handle, none left behind.
  auto dialogs = Host().Dialogs();
  dialogs.verifyAccepts = false;
  Host().SetDialogs(dialogs);
  EXPECT_EQ(CCardLogic::Authenticate(cards, api, host.window, kReaderA, Alice(), smart), nullptr);
  FakeVdscLibrary::S().authenticateResult = E_ACCESSDENIED;
  EXPECT_EQ(CCardLogic::Authenticate(cards, api, host.window, kReaderB, Alice(), prox), nullptr);
  EXPECT_EQ(CCardLogic::Authenticate(cards, api, host.window, kReaderB, CUser(), prox), nullptr);
  EXPECT_EQ(Host().OutstandingAuthentications(), 0u);
}

// ---- The window's router ---------------------------------------------------------------

class CardWindow : public CCardHandler<CardWindow> {
 public:
  CardWindow(core::CAgentProcess& p, ICardHost& h) : m_process(p), m_host(h) {}
  core::CAgentProcess& Process() { return m_process; }
  ICardHost& CardHost() { return m_host; }
  void SetMsgHandled(BOOL b) { m_handled = b; }
  BOOL IsMsgHandled() const { return m_handled; }
  BOOL Send(UINT msg, WPARAM wp, LPARAM lp) {
    LRESULT r = 0;
    return ProcessHandlerMessage(nullptr, msg, wp, lp, r);
  }

 private:
  core::CAgentProcess& m_process;
  ICardHost& m_host;
  BOOL m_handled = FALSE;
};

TEST_F(CardTest, TheRouterConsumesOnlyTheCardMessage) {
  core::CAgentProcess process(Agent(), nullptr);
  CardWindow window(process, host);
  EXPECT_FALSE(window.Send(core::WM_VD_READY, 0, 0));
  ASSERT_NE(window.Card(), nullptr);
  EXPECT_EQ(FakeVdscLibrary::S().inits, 1);
  EXPECT_FALSE(window.Send(WM_WTSSESSION_CHANGE, 7, 0));
  EXPECT_TRUE(window.Card()->Suspended());
  EXPECT_TRUE(
      window.Send(core::WM_VD_CARD, VDSC_EVENT_READER_CONNECTED, FakeVdscLibrary::Name(kReaderA)));
  EXPECT_EQ(window.Card()->Readers().size(), 1u);
  EXPECT_FALSE(window.Send(WM_DESTROY, 0, 0));
  EXPECT_EQ(FakeVdscLibrary::S().terms, 1);
}

}  // namespace
}  // namespace authtest
