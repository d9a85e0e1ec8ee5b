// The kiosk handler in the main window: its events reach the kiosk logic through the chain
// and go on to the handlers after it, and the plug-in framework's broadcast (wParam 8) sets
// the kiosk user.
#include <gtest/gtest.h>

#include <algorithm>

#include "auth/protected_data.h"
#include "platform/sim/registry_store.h"
#include "standins/eventlog/sim_install.h"
#include "standins/vdfpapi/sim_install.h"
#include "support/vdfp/vdfp_api.h"
#include "tests/auth/auth_test_util.h"
#include "tests/core/agent_fixture.h"

namespace {

constexpr const wchar_t* kPolicyKey = L"HKLM\\SOFTWARE\\Policies\\Veridane\\Lumera";

class KioskWindowTest : public AgentWindowTest {
 protected:
  void SetUp() override {
    vdfp = vdfp_standin::InstallVdfpApi(machine);
    events = eventlog_standin::InstallEventLog(machine);
    machine.Registry().SetDword(kPolicyKey, L"KioskLogon", 1);
    AgentWindowTest::SetUp();
    ASSERT_EQ(agent->AuthLibrary().VDFPInit(), S_OK);
  }
  void TearDown() override {
    agent->AuthLibrary().VDFPTerm();
    AgentWindowTest::TearDown();
    events.reset();
    vdfp.reset();
  }
  std::unique_ptr<vdfp_standin::SimInstallation> vdfp;
  std::unique_ptr<eventlog_standin::SimEventLogInstallation> events;
};

TEST_F(KioskWindowTest, TheIdentifiedBroadcastSetsTheKioskUser) {
  vdfp_standin::SlotDesc slot;
  slot.slot = kVDKioskUserSlot;
  slot.data = authtest::KioskRecord(3, VDFP_NAME_SAM, u"VDSIM-PC\\alice");
  vdfp->Host().SetProtectedData(slot);

  Send(agent->Messages().vdnxBroadcast, core::kVdnxKioskUserIdentified, 42);
  EXPECT_EQ(window->KioskLogic().KioskUser().AccountName(), L"VDSIM-PC\\alice");
}

TEST_F(KioskWindowTest, ALockAndARealLogOffAreRecordedAndTheChainGoesOn) {
  Entered();
  Send(WM_WTSSESSION_CHANGE, WTS_SESSION_LOCK, 1);
  const auto handlers = Handlers();
  const auto kiosk =
      std::find(handlers.begin(), handlers.end(), H("CKioskHandler", "OnSessionChange"));
  ASSERT_NE(kiosk, handlers.end());
  EXPECT_NE(kiosk + 1, handlers.end()) << "the handlers after the kiosk one see it too";
  // A real log-off is recorded, a vetoed one is not.
  Send(WM_ENDSESSION, FALSE, static_cast<LPARAM>(static_cast<LONG>(ENDSESSION_LOGOFF)));
  Send(WM_ENDSESSION, TRUE, static_cast<LPARAM>(static_cast<LONG>(ENDSESSION_LOGOFF)));
  std::vector<DWORD> ids;
  for (const auto& r : events->Component().Records()) ids.push_back(r.eventId);
  EXPECT_EQ(ids, (std::vector<DWORD>{0x41101307u, 0x41101308u}));
}

}  // namespace
