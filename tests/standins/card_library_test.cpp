// The stand-in card library reached as the agent reaches it: VDSCApi.dll loaded by path on
// the simulated machine, entry points called from the agent's process, events seen by a
// window, and cards driven through the model's host interface.
#include <gtest/gtest.h>

#include <set>

#include "platform/sim/process_com.h"
#include "standins/vdscapi/exports.h"
#include "standins/vdscapi/sim_install.h"
#include "support/vdfp/vdsc_api.h"
#include "tests/auth/auth_test_util.h"
#include "tests/standins/standin_exports.h"

namespace {

using authtest::Posted;
using authtest::RecordingWindow;
using vdfp_standin::DescriptionError;
using vdsc_standin::CardError;
using vdsc_standin::CardsDescription;

constexpr UINT kCardMsg = 0x52C;

// alice enrolled a contactless card, bob a smart card and a proximity card. alice's badge lies
// on the tap reader and bob's smart card in the slot when the machine starts.
constexpr const char* kMachine = R"({
  "users": [{"name": "alice", "session": 1, "enrolled": ["Password", "Contactless card"]},
            {"name": "bob", "enrolled": ["Password", "Smartcard", "Proximity card"]}],
  "cardReaders": [{"name": "Tap Reader"}, {"name": "Slot Reader", "kind": "contact"},
                  {"name": "Spare Reader", "connected": false}],
  "cards": [{"name": "alice-badge", "type": 2, "id": 4660, "owner": "alice",
             "reader": "Tap Reader", "site": 7, "generation": 3},
            {"name": "alice-nfc", "type": 8, "id": 17, "owner": "alice"},
            {"name": "bob-prox", "type": 4, "id": 99, "owner": "bob"},
            {"name": "bob-smart", "type": 1, "id": 5, "owner": "bob", "reader": "Slot Reader",
             "description": "Bob's smart card"},
            {"name": "alice-smart", "type": 1, "id": 6, "owner": "alice"},
            {"name": "odd", "type": 64, "id": 1, "owner": "alice"},
            {"name": "lost", "type": 2, "id": 2}]
})";

struct Event {
  WPARAM code;
  std::wstring reader;
  bool operator==(const Event&) const = default;
};
void PrintTo(const Event& e, std::ostream* os) {
  *os << "{" << e.code << ", " << vdfp_standin::WideToUtf8(e.reader) << "}";
}

using standintest::Export;

class CardLibraryTest : public authtest::SimAgentTest {
 protected:
  void SetUp() override {
    SimAgentTest::SetUp();
    Install(vdfp_standin::VdfpDescription::FromJson(kMachine));
    InstallCards();
  }
  void InstallCards(vdsc_standin::CardInstallOptions opts = {}) {
    if (m_lib) Agent().Modules().FreeLibrary(m_lib);
    m_cards.reset();
    m_cards = vdsc_standin::InstallVdscApi(m_machine, *m_vdfp, CardsDescription::FromJson(kMachine),
                                           std::move(opts));
    m_lib = Agent().Modules().LoadLibraryExW(vdsc_standin::kSimCardLibraryPath, nullptr, 0);
    ASSERT_NE(m_lib, nullptr);
    init = Export<PFN_VDSCInit>(Agent(), m_lib, "VDSCInit");
    term = Export<PFN_VDSCTerm>(Agent(), m_lib, "VDSCTerm");
    info = Export<PFN_VDSCGetCardInfo>(Agent(), m_lib, "VDSCGetCardInfo");
    identify = Export<PFN_VDSCTokenIdentify>(Agent(), m_lib, "VDSCTokenIdentify");
    authenticate = Export<PFN_VDSCTokenAuthenticate>(Agent(), m_lib, "VDSCTokenAuthenticate");
  }
  void TearDown() override {
    m_cards.reset();
    m_vdfp.reset();
  }
  vdsc_standin::CCardHost& Cards() { return m_cards->Host(); }
  HRESULT Init(HWND w) {
    VDSC_INIT in{VDSC_INIT_VERSION, w, kCardMsg, VDSC_INIT_EVENTS};
    return init(&in);
  }
  // The events the window received, the reader name read from each message as it arrives.
  std::vector<Event> Events() {
    m_machine.RunUntilIdle();
    std::vector<Event> out;
    for (const Posted& p : window.Take())
      out.push_back({p.wp, reinterpret_cast<const wchar_t*>(p.lp)});
    return out;
  }
  // A VDFPApi authentication operation of the agent for `user`.
  HVDFPAUTHENTICATION AuthenticationOf(const wchar_t* user) {
    HMODULE fp = Agent().Modules().LoadLibraryExW(vdfp_standin::kSimLibraryPath, nullptr, 0);
    auto fpInit = Export<HRESULT(WINAPI*)()>(Agent(), fp, "VDFPInit");
    auto create = Export<HRESULT(WINAPI*)(LPCWSTR, DWORD, HVDFPAUTHENTICATION*)>(
        Agent(), fp, "VDFPCreateAuthentication");
    EXPECT_EQ(fpInit(), S_OK);
    HVDFPAUTHENTICATION h = nullptr;
    EXPECT_EQ(create(user, VDFP_NAME_SIMPLE, &h), S_OK);
    return h;
  }
  // VDSCTokenIdentify's answer, the string freed; "" on failure (the code in `hr`).
  std::wstring Identify(const wchar_t* reader, HRESULT& hr) {
    BSTR name = nullptr;
    hr = identify(reader, VDSC_NAME_SAM, &name);
    std::wstring out = name ? name : L"";
    Agent().Com().SysFreeString(name);
    return out;
  }

  std::unique_ptr<vdsc_standin::SimCardInstallation> m_cards;
  HMODULE m_lib = nullptr;
  PFN_VDSCInit init = nullptr;
  PFN_VDSCTerm term = nullptr;
  PFN_VDSCGetCardInfo info = nullptr;
  PFN_VDSCTokenIdentify identify = nullptr;
  PFN_VDSCTokenAuthenticate authenticate = nullptr;
  RecordingWindow window{Agent(), kCardMsg, kCardMsg};
};

// ---- Events -------------------------------------------------------------------------------

TEST_F(CardLibraryTest, InitAnnouncesPresentCardsThenEventsFollowTheReaders) {
  ASSERT_EQ(Init(window.hwnd()), S_OK);
  // A multiplexing reader says inserted, then ready; a contact reader inserted only.
  EXPECT_EQ(Events(),
            (std::vector<Event>{{3, L"Tap Reader"}, {5, L"Tap Reader"}, {3, L"Slot Reader"}}));

  EXPECT_EQ(Cards().Remove(L"Tap Reader"), L"alice-badge");
  EXPECT_EQ(Events(), (std::vector<Event>{{4, L"Tap Reader"}}));
  Cards().Insert(L"Tap Reader", L"17");  // by id
  EXPECT_EQ(Cards().CardIn(L"Tap Reader"), L"alice-nfc");
  EXPECT_EQ(Events(), (std::vector<Event>{{3, L"Tap Reader"}, {5, L"Tap Reader"}}));

  // Pulling a reader with a card in it: the card goes first, then the reader; plugging it
  // back announces both again.
  Cards().UnplugReader(L"Tap Reader");
  EXPECT_EQ(Events(), (std::vector<Event>{{4, L"Tap Reader"}, {2, L"Tap Reader"}}));
  Cards().PlugReader(L"Tap Reader");
  EXPECT_EQ(Events(),
            (std::vector<Event>{{1, L"Tap Reader"}, {3, L"Tap Reader"}, {5, L"Tap Reader"}}));
  Cards().PlugReader(L"Tap Reader");  // plugged already: nothing
  Cards().PlugReader(L"Spare Reader");
  EXPECT_EQ(Events(), (std::vector<Event>{{1, L"Spare Reader"}}));

  // Requests the machine cannot carry out are refused and change nothing.
  EXPECT_THROW(Cards().Insert(L"Slot Reader", L"bob-prox"), CardError);     // slot taken
  EXPECT_THROW(Cards().Insert(L"Spare Reader", L"bob-smart"), CardError);   // in the slot
  EXPECT_THROW(Cards().Insert(L"Spare Reader", L"nobody's"), CardError);    // no such card
  EXPECT_THROW(Cards().Insert(L"Missing Reader", L"bob-prox"), CardError);  // no such reader
  EXPECT_THROW(Cards().Remove(L"Spare Reader"), CardError);                 // empty
  EXPECT_EQ(Cards().CardIn(L"Slot Reader"), L"bob-smart");
  EXPECT_EQ(Cards().CardIn(L"Spare Reader"), std::nullopt);
  EXPECT_TRUE(Events().empty());
}

TEST_F(CardLibraryTest, ATapLeavesTheReaderAfterItsHoldUnlessTakenMeanwhile) {
  ASSERT_EQ(Init(window.hwnd()), S_OK);
  Cards().Remove(L"Tap Reader");
  Events();
  // No card named: the first card lying in no reader.
  Cards().Tap(L"Tap Reader");
  EXPECT_EQ(Cards().CardIn(L"Tap Reader"), L"alice-badge");
  EXPECT_EQ(Events(), (std::vector<Event>{{3, L"Tap Reader"}, {5, L"Tap Reader"}}));
  m_machine.AdvanceBy(vdsc_standin::kTapHoldMs - 1);
  EXPECT_TRUE(Events().empty());
  m_machine.AdvanceBy(1);
  EXPECT_EQ(Events(), (std::vector<Event>{{4, L"Tap Reader"}}));
  EXPECT_EQ(Cards().CardIn(L"Tap Reader"), std::nullopt);

  // Taken off early and another card put on: the first tap's end must not pull the second.
  Cards().Tap(L"Tap Reader", L"alice-nfc", 300);
  m_machine.AdvanceBy(100);
  Cards().Remove(L"Tap Reader");
  Cards().Insert(L"Tap Reader", L"bob-prox");
  m_machine.AdvanceBy(1000);
  EXPECT_EQ(Cards().CardIn(L"Tap Reader"), L"bob-prox");
  EXPECT_EQ(Events(), (std::vector<Event>{{3, L"Tap Reader"},
                                          {5, L"Tap Reader"},
                                          {4, L"Tap Reader"},
                                          {3, L"Tap Reader"},
                                          {5, L"Tap Reader"}}));
}

TEST_F(CardLibraryTest, EventNamesStayReadableAfterTheReaderIsPulled) {
  ASSERT_EQ(Init(window.hwnd()), S_OK);
  Events();
  Cards().PlugReader(L"USB Reader");  // not described: a new multiplexing reader
  Cards().Insert(L"USB Reader", L"bob-prox");
  Cards().UnplugReader(L"USB Reader");
  // The messages are handled only now, after the reader went.
  m_machine.RunUntilIdle();
  const auto posted = window.Take();
  ASSERT_EQ(posted.size(), 5u);
  for (const Posted& p : posted) {
    EXPECT_EQ(p.lp, posted[0].lp) << "one string per reader";
    EXPECT_STREQ(reinterpret_cast<const wchar_t*>(p.lp), L"USB Reader");
  }
  // Many more readers later, the first name has not moved.
  for (int i = 0; i < 100; ++i) Cards().PlugReader(L"Reader " + std::to_wstring(i));
  EXPECT_STREQ(reinterpret_cast<const wchar_t*>(posted[0].lp), L"USB Reader");
  EXPECT_EQ(Cards().CardIn(L"USB Reader"), L"bob-prox");  // still in the pulled reader
}

TEST_F(CardLibraryTest, InitsNestPerProcessAndOnlyTheLastTermEndsEvents) {
  auto other = m_machine.CreateProcess({.sessionId = 1});
  {
    sim::CurrentProcessScope scope(other.get());
    VDSC_INIT in{VDSC_INIT_VERSION, nullptr, kCardMsg, 0};  // no events wanted
    ASSERT_EQ(init(&in), S_OK);
  }
  ASSERT_EQ(Init(window.hwnd()), S_OK);
  ASSERT_EQ(Init(window.hwnd()), S_OK);
  Events();
  EXPECT_EQ(term(), S_OK);
  Cards().Remove(L"Tap Reader");
  EXPECT_EQ(Events().size(), 1u) << "one of two inits ended: still subscribed";
  {
    // Another process's end touches only its own count.
    sim::CurrentProcessScope scope(other.get());
    EXPECT_EQ(term(), S_OK);
    EXPECT_EQ(term(), VDFP_E_NOT_INITIALIZED);
  }
  Cards().Insert(L"Tap Reader", L"alice-badge");
  EXPECT_EQ(Events().size(), 2u);
  EXPECT_EQ(term(), S_OK);
  EXPECT_EQ(Cards().SubscriberOf(Agent().Pid()), std::nullopt);
  Cards().Remove(L"Tap Reader");
  EXPECT_TRUE(Events().empty());
  EXPECT_EQ(term(), VDFP_E_NOT_INITIALIZED);

  // Bad init records are refused and subscribe nothing.
  EXPECT_EQ(init(nullptr), E_POINTER);
  VDSC_INIT wrongVersion{1, window.hwnd(), kCardMsg, VDSC_INIT_EVENTS};
  EXPECT_EQ(init(&wrongVersion), E_INVALIDARG);
  VDSC_INIT noWindow{VDSC_INIT_VERSION, nullptr, kCardMsg, VDSC_INIT_EVENTS};
  EXPECT_EQ(init(&noWindow), E_INVALIDARG);
  EXPECT_EQ(Cards().SubscriberOf(Agent().Pid()), std::nullopt);
}

TEST_F(CardLibraryTest, ACodeBuiltDescriptionGetsTheReadersItsCardsLieIn) {
  m_cards.reset();
  CardsDescription d;
  for (const wchar_t* name : {L"a", L"b"}) {
    vdsc_standin::CardDesc c;
    c.name = name;
    c.type = VDSC_CARD_CONTACTLESS;
    c.id = name[0];
    c.reader = L"Loose Reader";
    d.cards.push_back(c);
  }
  m_cards = vdsc_standin::InstallVdscApi(m_machine, *m_vdfp, d);
  ASSERT_EQ(Cards().Readers().size(), 1u);
  EXPECT_EQ(Cards().CardIn(L"Loose Reader"), L"b");
  EXPECT_EQ(Cards().Remove(L"Loose Reader"), L"b");
  // The card the later one displaced lies in no reader, so it is the next one put in.
  EXPECT_EQ(Cards().Insert(L"Loose Reader"), L"a");
}

// ---- Card information ---------------------------------------------------------------------

TEST_F(CardLibraryTest, CardInfoDescribesTheCardAndEveryStringIsTheCallersToFree) {
  const long live = sim::ProcessCom::LiveStrings();
  VDSC_CARD_INFO ci{};
  ci.dwVersion = VDSC_CARD_INFO_VERSION;
  BSTR text = nullptr;
  EXPECT_EQ(info(L"Tap Reader", &text, &ci), VDFP_E_NOT_INITIALIZED) << "before VDSCInit";
  EXPECT_EQ(text, nullptr);
  ASSERT_EQ(Init(window.hwnd()), S_OK);

  ASSERT_EQ(info(L"tap reader", &text, &ci), S_OK);  // reader names in any case
  EXPECT_EQ(ci.dwCardType, VDSC_CARD_CONTACTLESS);
  EXPECT_EQ(ci.dwCardId, 4660u);
  EXPECT_EQ(ci.dwField3, 7u);
  EXPECT_EQ(ci.dwField4, 3u);
  EXPECT_STREQ(text, L"Contactless card 4660");
  Agent().Com().SysFreeString(text);
  ASSERT_EQ(info(L"Slot Reader", &text, &ci), S_OK);
  EXPECT_EQ(ci.dwCardType, VDSC_CARD_SMARTCARD);
  EXPECT_STREQ(text, L"Bob's smart card");
  Agent().Com().SysFreeString(text);
  EXPECT_EQ(info(L"Slot Reader", nullptr, &ci), S_OK) << "the description is optional";

  // An unknown type is passed on as it is.
  Cards().Remove(L"Tap Reader");
  Cards().Insert(L"Tap Reader", L"odd");
  ASSERT_EQ(info(L"Tap Reader", &text, &ci), S_OK);
  EXPECT_EQ(ci.dwCardType, 64u);
  Agent().Com().SysFreeString(text);

  // An empty reader fails, with a text all the same: callers free it on failure too.
  Cards().Remove(L"Tap Reader");
  ci.dwCardType = 0xAAAA;
  EXPECT_EQ(info(L"Tap Reader", &text, &ci), vdsc_standin::kNoCard);
  EXPECT_NE(text, nullptr);
  EXPECT_EQ(ci.dwCardType, 0xAAAAu) << "a failure leaves the record alone";
  Agent().Com().SysFreeString(text);
  EXPECT_EQ(info(L"Spare Reader", &text, &ci), vdsc_standin::kReaderUnavailable);
  EXPECT_EQ(info(L"No Reader", &text, &ci), vdsc_standin::kUnknownReader);
  EXPECT_EQ(info(nullptr, &text, &ci), E_POINTER);
  EXPECT_EQ(info(L"Slot Reader", &text, nullptr), E_POINTER);
  ci.dwVersion = 1;
  EXPECT_EQ(info(L"Slot Reader", &text, &ci), E_INVALIDARG);
  EXPECT_EQ(text, nullptr);
  EXPECT_EQ(sim::ProcessCom::LiveStrings(), live);
}

// ---- Identification and authentication ----------------------------------------------------

TEST_F(CardLibraryTest, IdentifyNamesTheOwnerOnlyWithATokenOfTheCardsKindEnrolled) {
  const long live = sim::ProcessCom::LiveStrings();
  ASSERT_EQ(Init(window.hwnd()), S_OK);
  HRESULT hr = S_OK;
  EXPECT_EQ(Identify(L"Tap Reader", hr), L"VDSIM-PC\\alice");
  EXPECT_EQ(hr, S_OK);
  EXPECT_EQ(Identify(L"Slot Reader", hr), L"VDSIM-PC\\bob");
  EXPECT_EQ(hr, S_OK);

  struct Case {
    const wchar_t* card;
    const wchar_t* owner;  // null: nobody is identified
  } cases[] = {
      {L"alice-nfc", L"VDSIM-PC\\alice"},  // NFC is enrolled as a contactless card
      {L"bob-prox", L"VDSIM-PC\\bob"},
      {L"alice-smart", nullptr},  // alice enrolled no smart card
      {L"odd", nullptr},          // a type no credential stands for
      {L"lost", nullptr},         // nobody's
  };
  for (const auto& c : cases) {
    Cards().Remove(L"Tap Reader");
    Cards().Insert(L"Tap Reader", c.card);
    const std::wstring name = Identify(L"Tap Reader", hr);
    EXPECT_EQ(name, c.owner ? c.owner : L"") << vdfp_standin::WideToUtf8(c.card);
    EXPECT_EQ(SUCCEEDED(hr), c.owner != nullptr) << vdfp_standin::WideToUtf8(c.card);
  }

  // Enrollment is the authentication host's: a change there shows at once.
  Cards().Remove(L"Tap Reader");
  Cards().Insert(L"Tap Reader", L"alice-smart");
  ASSERT_TRUE(Host().SetEnrolled(L"alice", VDFP_CRED_SMARTCARD, true));
  EXPECT_EQ(Identify(L"Tap Reader", hr), L"VDSIM-PC\\alice");
  ASSERT_TRUE(Host().SetEnrolled(L"bob", VDFP_CRED_SMARTCARD, false));
  EXPECT_EQ(Identify(L"Slot Reader", hr), L"");
  EXPECT_TRUE(FAILED(hr));

  BSTR name = nullptr;
  EXPECT_EQ(identify(L"Tap Reader", VDFP_NAME_DISPLAY, &name), E_INVALIDARG);
  EXPECT_EQ(identify(L"Spare Reader", VDSC_NAME_SAM, &name), vdsc_standin::kReaderUnavailable);
  EXPECT_EQ(identify(L"Tap Reader", VDSC_NAME_SAM, nullptr), E_POINTER);
  EXPECT_EQ(name, nullptr);
  EXPECT_EQ(sim::ProcessCom::LiveStrings(), live);
}

TEST_F(CardLibraryTest, AuthenticateAcceptsOnlyTheAuthenticationsOwnCard) {
  ASSERT_EQ(Init(window.hwnd()), S_OK);
  HVDFPAUTHENTICATION alice = AuthenticationOf(L"alice");
  HVDFPAUTHENTICATION bob = AuthenticationOf(L"bob");
  ASSERT_NE(alice, nullptr);
  ASSERT_NE(bob, nullptr);
  EXPECT_EQ(authenticate(alice, L"Tap Reader", 0), S_OK);
  EXPECT_EQ(authenticate(bob, L"Slot Reader", 0), S_OK);
  EXPECT_TRUE(FAILED(authenticate(bob, L"Tap Reader", 0)));
  EXPECT_TRUE(FAILED(authenticate(alice, L"Slot Reader", 0)));
  EXPECT_EQ(authenticate(alice, L"Tap Reader", 1), E_INVALIDARG);
  EXPECT_EQ(authenticate(reinterpret_cast<HVDFPAUTHENTICATION>(0x7777), L"Tap Reader", 0),
            E_HANDLE);
  Cards().Remove(L"Tap Reader");
  EXPECT_EQ(authenticate(alice, L"Tap Reader", 0), vdsc_standin::kNoCard);
  Cards().Insert(L"Tap Reader", L"lost");  // nobody's card proves nobody
  EXPECT_TRUE(FAILED(authenticate(alice, L"Tap Reader", 0)));
  // Another process's operation is not this process's handle.
  auto other = m_machine.CreateProcess({.sessionId = 1});
  sim::CurrentProcessScope scope(other.get());
  VDSC_INIT in{VDSC_INIT_VERSION, nullptr, kCardMsg, 0};
  ASSERT_EQ(init(&in), S_OK);
  EXPECT_EQ(authenticate(bob, L"Slot Reader", 0), E_HANDLE);
}

// ---- Entry points and installation --------------------------------------------------------

TEST_F(CardLibraryTest, EveryContractEntryPointIsExportedAndTheOthersAreNotImplemented) {
  const auto& exports = vdsc_standin::CardExports();
  ASSERT_EQ(exports.size(), kVDSCApiExportCount);
  for (std::size_t i = 0; i < kVDSCApiExportCount; ++i) {
    EXPECT_EQ(exports[i].first, kVDSCApiExports[i]);
    EXPECT_NE(Agent().Modules().GetProcAddress(m_lib, kVDSCApiExports[i]), nullptr);
  }
  const std::set<std::string> used = {"VDSCInit", "VDSCTerm", "VDSCGetCardInfo",
                                      "VDSCTokenIdentify", "VDSCTokenAuthenticate"};
  for (const char* name : kVDSCApiExports) {
    if (used.count(name)) continue;
    auto fn = Export<PFN_VDSCUnused>(Agent(), m_lib, name);
    EXPECT_EQ(fn(), E_NOTIMPL) << name;
    EXPECT_EQ(Cards().CallCount(name), 1u) << name;
  }

  // The installation the agent must refuse: one entry point missing.
  InstallCards({.missingExports = {"VDSCClearCard"}});
  EXPECT_EQ(Agent().Modules().GetProcAddress(m_lib, "VDSCClearCard"), nullptr);
  EXPECT_NE(Agent().Modules().GetProcAddress(m_lib, "VDSCGetEnrolledCards"), nullptr);
}

// ---- The description ----------------------------------------------------------------------

TEST(CardDescriptionTest, BadDescriptionsAreRefusedNamingTheFault) {
  struct Case {
    const char* json;
    const char* says;
  } cases[] = {
      {"[", "not JSON"},
      {"[]", "JSON object"},
      {R"({"cards": {}})", "\"cards\": an array"},
      {R"({"cards": [{"type": 0, "id": 1}]})", "cards[0].type: 0 is no card"},
      {R"({"cards": [{"type": 2}]})", "\"id\" is missing"},
      {R"({"cards": [{"type": 2, "id": -1}]})", "cards[0].id"},
      {R"({"cards": [{"type": 2, "id": 4294967296}]})", "out of range"},
      {R"({"cards": [{"type": "2", "id": 1}]})", "not a number"},
      {R"({"cards": [{"type": 2, "id": 1, "ower": "alice"}]})", "unknown member \"ower\""},
      {R"({"cards": [{"type": 2, "id": 1, "reader": "R"}]})", "no reader \"R\""},
      {R"({"cards": [{"type": 2, "id": 1}, {"type": 4, "id": 1}]})", "described already"},
      {R"({"cardReaders": [{"name": "R"}], "cards": [{"type": 2, "id": 1, "reader": "R"},
          {"type": 2, "id": 2, "reader": "r"}]})",
       "holds a card already"},
      {R"({"cardReaders": [{"name": "R", "kind": "usb"}]})", "neither multiplexing nor contact"},
      {R"({"cardReaders": [{"kind": "contact"}]})", "\"name\" is missing"},
      {R"({"cardReaders": [{"name": "R"}, {"name": "r"}]})", "described twice"},
      {R"({"cardReaders": [{"name": "R", "connected": 1}]})", "true or false"},
  };
  for (const auto& c : cases) {
    try {
      CardsDescription::FromJson(c.json);
      ADD_FAILURE() << "accepted: " << c.json;
    } catch (const DescriptionError& e) {
      EXPECT_NE(std::string(e.what()).find(c.says), std::string::npos)
          << c.json << " said: " << e.what();
    }
  }
  // What the authentication library reads alone is no fault here, and the reverse.
  const auto d = CardsDescription::FromJson(kMachine);
  EXPECT_EQ(d.readers.size(), 3u);
  EXPECT_EQ(d.readers[1].kind, vdsc_standin::ReaderKind::Contact);
  EXPECT_FALSE(d.readers[2].connected);
  EXPECT_EQ(d.cards[5].type, 64u);
  EXPECT_EQ(CardsDescription::FromJson(R"({"cards": [{"type": 2, "id": 9}]})").cards[0].name, L"9");
  EXPECT_NO_THROW(vdfp_standin::VdfpDescription::FromJson(kMachine));
}

}  // namespace
