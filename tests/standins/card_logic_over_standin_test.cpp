// The agent's card logic over the stand-in card library: what the library posts and answers
// is what the logic was built against, through the real binding on the simulated machine.
#include <gtest/gtest.h>

#include <optional>

#include "auth/card_logic.h"
#include "core/messages.h"
#include "platform/sim/process_com.h"
#include "standins/vdscapi/sim_install.h"
#include "support/trace/trace_sink.h"
#include "tests/auth/auth_test_util.h"
#include "tests/auth/fake_card_host.h"

namespace {

using authtest::Posted;
using authtest::RecordingWindow;

constexpr const char* kCardMachine = R"({
  "users": [{"name": "alice", "session": 1, "enrolled": ["Password", "Contactless card"]},
            {"name": "bob", "enrolled": ["Password", "Proximity card"]}],
  "cardReaders": [{"name": "Tap Reader"}, {"name": "Slot Reader", "kind": "contact"}],
  "cards": [{"name": "alice-badge", "type": 2, "id": 4660, "owner": "alice"},
            {"name": "bob-prox", "type": 4, "id": 99, "owner": "bob", "reader": "Slot Reader"}]
})";

class CardLogicOverStandInTest : public authtest::SimAgentTest {
 protected:
  void SetUp() override {
    SimAgentTest::SetUp();
    Install(vdfp_standin::VdfpDescription::FromJson(kCardMachine));
    m_cards = vdsc_standin::InstallVdscApi(m_machine, *m_vdfp,
                                           vdsc_standin::CardsDescription::FromJson(kCardMachine));
    ASSERT_EQ(api.VDFPInit(), S_OK);
    host.window = window.hwnd();
    strings = sim::ProcessCom::LiveStrings();
  }
  void TearDown() override {
    logic.reset();
    api.VDFPTerm();
    m_cards.reset();
    m_vdfp.reset();
  }
  // The window hands the library's messages to the logic, as the handler does.
  void Deliver() {
    m_machine.RunUntilIdle();
    for (const Posted& p : window.Take()) logic->OnCardMessage(p.wp, p.lp);
  }
  vdsc_standin::CCardHost& Cards() { return m_cards->Host(); }

  VDTraceNS::CRecordingSink sink;
  CVDFPApi api{Agent()};
  std::unique_ptr<vdsc_standin::SimCardInstallation> m_cards;
  RecordingWindow window{Agent(), core::WM_VD_CARD, core::WM_VD_CARD};
  authtest::FakeCardHost host{m_machine};
  std::optional<CCardLogic> logic;
  long strings = 0;
};

TEST_F(CardLogicOverStandInTest, ATapIsReadyAfterItsCheckAndItsLeavingIsARemoval) {
  logic.emplace(Agent(), host);
  logic->OnReady();
  Deliver();  // the card already in the slot
  host.Advance(CCardLogic::kPresenceCheckMs);
  ASSERT_FALSE(logic->Suspended());
  EXPECT_EQ(logic->Readers().at(L"Slot Reader").cardType, VDSC_CARD_PROXIMITY);

  Cards().Tap(L"Tap Reader", L"alice-badge");
  Deliver();
  host.Advance(CCardLogic::kReadyCheckMs);
  ASSERT_EQ(host.ready.size(), 1u);
  EXPECT_EQ(host.ready[0].reader, L"Tap Reader");
  EXPECT_EQ(host.ready[0].record.cardType, VDSC_CARD_CONTACTLESS);
  // Identification through the library while the card is on the reader.
  EXPECT_EQ(CCardLogic::IdentifyUser(logic->Library(), api, L"Tap Reader"),
            CUser(api, L"VDSIM-PC\\alice", VDFP_NAME_SAM));

  host.Advance(vdsc_standin::kTapHoldMs - CCardLogic::kReadyCheckMs);
  Deliver();  // the tap's end
  EXPECT_TRUE(host.removed.empty());
  host.Advance(CCardLogic::kRemovalCheckMs);
  ASSERT_EQ(host.removed.size(), 1u);
  EXPECT_EQ(host.removed[0].cardType, VDSC_CARD_CONTACTLESS);

  // Pulled and put back within the removal check: nothing.
  Cards().Remove(L"Slot Reader");
  Deliver();
  host.Advance(500);
  Cards().Insert(L"Slot Reader", L"bob-prox");
  Deliver();
  host.Advance(CCardLogic::kRemovalCheckMs);
  EXPECT_EQ(host.removed.size(), 1u);

  logic->Dispose();
  EXPECT_EQ(Cards().SubscriberOf(Agent().Pid()), std::nullopt) << "its init ended";
  EXPECT_EQ(sim::ProcessCom::LiveStrings(), strings) << "every card text freed";
}

TEST_F(CardLogicOverStandInTest, AProximityCardAuthenticatesOnlyItsOwner) {
  logic.emplace(Agent(), host);
  logic->OnReady();
  Deliver();
  const CCredential prox(VDFP_CRED_PROXIMITY, 0, 0);
  HVDFPAUTHENTICATION h =
      CCardLogic::Authenticate(logic->Library(), api, host.window, L"Slot Reader",
                               CUser(api, L"VDSIM-PC\\bob", VDFP_NAME_SAM), prox);
  EXPECT_NE(h, nullptr);
  if (h) api.VDFPDestroyAuthentication(h);
  EXPECT_EQ(CCardLogic::Authenticate(logic->Library(), api, host.window, L"Slot Reader",
                                     CUser(api, L"VDSIM-PC\\alice", VDFP_NAME_SAM), prox),
            nullptr);
  EXPECT_EQ(Host().OutstandingAuthentications(), 0u);
}

}  // namespace
