// Running quick actions: touches and their refusals, the hotkey with its re-entry flag and
// its handle, fast user switching, the reader balloons and the keyboard capture.
#include "actions/quick_actions.h"

#include "tests/actions/action_test_util.h"

namespace actiontest {
namespace {

constexpr HRESULT kNotRunning = static_cast<HRESULT>(0x8000000EL);

class QuickActionsTest : public ActionsTest {
 protected:
  using ActionsTest::ActionsTest;
  void SetUserAction(const wchar_t* row, const wchar_t* action) {
    Reg().SetString(Apps() + L"KwAppSettings\\QuickActions", row, action);
  }
  // A touch by alice, who is the session's user; the posted run is carried out.
  void TouchAsAlice() {
    Host().sessionUser = Alice();
    Host().verifies = Alice();
    ASSERT_EQ(Actions().OnFingerprintReady(7), S_OK);
    Host().RunPosted();
  }
  std::vector<DWORD> KwsCodes() {
    std::vector<DWORD> out;
    for (auto& c : Host().kws) out.push_back(c.code);
    return out;
  }
};

TEST_F(QuickActionsTest, ATouchLocksUnlessThePasswordManagerTakesTheLock) {
  SetUserAction(L"Finger", L"LockWorkstation");
  TouchAsAlice();
  EXPECT_EQ(KwsCodes(), (std::vector<DWORD>{100}));
  EXPECT_EQ(Host().lockAfterFillIn, (std::vector<bool>{false}));
  EXPECT_EQ(Desk().ui.locks, 1);
  EXPECT_TRUE(Logged("Locking the workstation (no PM)"));
  EXPECT_TRUE(Actions().CanStartAction()) << "a finished action is reset";
  // Command 100 was delivered: the handle is the password manager's even though it declined.
  EXPECT_EQ(OpenHandles(), 1u);

  // One that takes it locks after its fill-in.
  Host().kwsAnswer = 1;
  Host().lockAfterFillIn.clear();
  TouchAsAlice();
  EXPECT_EQ(Host().lockAfterFillIn, (std::vector<bool>{false, true}));
  EXPECT_EQ(Desk().ui.locks, 1);
  EXPECT_FALSE(Actions().CanStartAction()) << "the password manager carries on";
}

TEST_F(QuickActionsTest, AnUndeliveredHandleStaysOursAndIsDestroyed) {
  for (HRESULT failure : {kNotRunning, E_FAIL}) {
    SCOPED_TRACE(failure);
    machine.AdvanceBy(61000);
    Host().kwsResult = failure;
    TouchAsAlice();  // KwI by default
    EXPECT_EQ(Host().kws.back().code, 100u);
    EXPECT_FALSE(Ctx().handedOver);
    EXPECT_EQ(OpenHandles(), 0u);
    EXPECT_TRUE(Actions().CanStartAction());
  }
  machine.AdvanceBy(61000);
  Host().kwsResult = S_OK;
  TouchAsAlice();
  EXPECT_TRUE(Ctx().handedOver);
  EXPECT_EQ(Host().kws.back().param, reinterpret_cast<ULONG_PTR>(Ctx().hAuth));
  Actions().Dispose();
  EXPECT_EQ(OpenHandles(), 1u) << "a delivered handle is never destroyed by us";
}

TEST_F(QuickActionsTest, RefusalsBeforeTheAction) {
  struct Refusal {
    const char* line;
    const wchar_t* action;
    std::function<void()> arrange;
  };
  const Refusal refusals[] = {
      {"Already in a modal state; skipped", L"KwI", [&] { Host().modal = true; }},
      {"Screensaver is active; skipped", L"KwI", [&] { Desk().ui.screenSaverRunning = TRUE; }},
      {"A wizard was run; skipped", L"KwI", [&] { Host().wizardResult = 0; }},
      {"Not supported with WBF readers", L"LockWorkstation", [&] { Host().wbf = true; }},
      {"Not supported with WBF readers", L"FastConnect", [&] { Host().wbf = true; }},
  };
  for (const auto& r : refusals) {
    SCOPED_TRACE(r.line);
    run = std::make_unique<AgentRun>(*proc);
    SetUserAction(L"Finger", r.action);
    sink.Clear();
    r.arrange();
    TouchAsAlice();
    EXPECT_TRUE(Logged(r.line));
    EXPECT_EQ(Desk().ui.locks, 0);
    EXPECT_TRUE(Host().kws.empty() || Host().kws.back().code != 100u);
    EXPECT_TRUE(Actions().CanStartAction());
    EXPECT_EQ(OpenHandles(), 0u);
  }
}

TEST_F(QuickActionsTest, AnUnknownFingerGivesFailureFeedbackAndTheWizardCheck) {
  Host().sessionUser = Alice();
  Host().identifies = CUser();
  EXPECT_EQ(Actions().OnFingerprintReady(7), S_FALSE);
  EXPECT_TRUE(Actions().CanStartAction());
  EXPECT_TRUE(Host().posted.empty());
}

TEST_F(QuickActionsTest, AnotherUsersFingerSwitchesUserOrInAKioskTheKioskUser) {
  Host().sessionUser = Host().kioskUser = Alice();
  Host().identifies = Bob();
  ASSERT_EQ(Actions().OnFingerprintReady(7), S_OK);
  EXPECT_EQ(Desk().sessions.disconnects, 1);
  EXPECT_EQ(Host().shared, (std::vector<std::wstring>{L"VDSIM-PC\\bob"}));
  EXPECT_TRUE(Host().posted.empty()) << "no action after a switch";
  EXPECT_TRUE(Host().kioskChanges.empty());

  machine.AdvanceBy(61000);
  Host().kiosk = true;
  ASSERT_EQ(Actions().OnFingerprintReady(7), S_OK);
  EXPECT_EQ(Desk().sessions.disconnects, 1);
  ASSERT_FALSE(Host().kioskChanges.empty());
  EXPECT_EQ(Host().kioskChanges.front().AccountName(), L"VDSIM-PC\\bob");
}

TEST_F(QuickActionsTest, PasswordManagerPriority) {
  Reg().SetDword(Apps() + L"Agent", L"PasswordManagerPriority", 1);
  SetUserAction(L"Finger", L"LockWorkstation");
  SetUserAction(L"F+Shift", L"FastConnect");
  Host().feedbackState = 1;
  ASSERT_TRUE(Actions().StartAction(CCredential(VDFP_CRED_CONTACTLESS, 0, 0), Alice()));
  EXPECT_EQ(Ctx().quickAction, 1u);
  EXPECT_TRUE(Logged("Selected QuickAction = KwI"));
  EXPECT_EQ(KwsCodes(), (std::vector<DWORD>{5}));

  machine.AdvanceBy(61000);
  Desk().ui.keysDown = {VK_SHIFT};
  Actions().Keyboard().StartCapture();
  ASSERT_TRUE(Actions().StartAction(CCredential(VDFP_CRED_CONTACTLESS, 0, 0), Alice()));
  EXPECT_EQ(Ctx().quickAction, 2u) << "a held modifier uses its row";
}

TEST_F(QuickActionsTest, TheHotkeyHandsTheCurrentAccountToThePasswordManager) {
  // Not delivered: the handle is still ours and goes, and the action ends.
  Host().kwsResult = kNotRunning;
  Actions().OnHotKey();
  EXPECT_EQ(OpenHandles(), 0u);
  EXPECT_TRUE(Actions().CanStartAction());

  Host().kwsResult = S_OK;
  Host().kws.clear();
  ASSERT_TRUE(Actions().AcceptHotKey(1));
  Actions().OnHotKey();
  EXPECT_EQ(KwsCodes(), (std::vector<DWORD>{5, 100}));
  EXPECT_TRUE(Ctx().handedOver);
  EXPECT_EQ(Ctx().user.AccountName(), L"VDSIM-PC\\alice");
  EXPECT_EQ(OpenHandles(), 1u);
  EXPECT_FALSE(run->agent.HotKeyInProgress);
}

TEST_F(QuickActionsTest, AForeignOrNestedHotkeyIsRefused) {
  EXPECT_FALSE(Actions().AcceptHotKey(2));
  EXPECT_TRUE(Logged("Invalid hotkey ID: 2."));
  std::vector<bool> nested;
  Host().onKws = [&](DWORD) { nested.push_back(Actions().AcceptHotKey(1)); };
  Actions().OnHotKey();
  EXPECT_EQ(nested, (std::vector<bool>{false, false}));
  EXPECT_TRUE(Logged("Action in progress or disallowed, ignored"));
}

TEST_F(QuickActionsTest, ACancelledIdentificationEndsEarlyAndKeepsTheSixtySeconds) {
  vdfp = nullptr;  // a machine whose identification dialog is cancelled
  run.reset();
  auto d = Description();
  d.dialogs.identifyUser.clear();
  vdfp = vdfp_standin::InstallVdfpApi(machine, d);
  run = std::make_unique<AgentRun>(*proc);
  SetUserAction(L"Finger", L"FastSwitch");
  Actions().OnHotKey();
  EXPECT_TRUE(sink.Contains('E', "-2147023673 Identification failed or canceled."));  // cancelled
  EXPECT_FALSE(Actions().CanStartAction());
  EXPECT_EQ(OpenHandles(), 0u);
  EXPECT_EQ(Desk().sessions.disconnects, 0);
}

class SwitchUserTest : public QuickActionsTest {
 protected:
  using QuickActionsTest::QuickActionsTest;
  bool Switch(ULONGLONG credential = VDFP_CRED_FINGERPRINT) {
    Ctx().user = Bob();
    Ctx().info = CCredential(credential, 0, -1);
    return Actions().SwitchUser();
  }
};

TEST_F(SwitchUserTest, Paths) {
  EXPECT_TRUE(Switch());
  EXPECT_TRUE(Logged("FUS Enabled = 1"));
  EXPECT_EQ(Desk().sessions.disconnects, 1);
  EXPECT_EQ(Host().cleared, 0);

  sink.Clear();
  Reg().SetDword(L"HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\System",
                 L"HideFastUserSwitching", 1);
  EXPECT_FALSE(Switch());
  EXPECT_TRUE(Logged("FUS Enabled = 0"));
  EXPECT_EQ(Desk().sessions.disconnects, 1) << "no disconnect";
  EXPECT_EQ(Host().cleared, 1);
  Reg().SetDword(L"HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\System",
                 L"HideFastUserSwitching", 0);

  Host().policy = VDFP_CRED_PASSWORD;  // the policy does not name the finger
  EXPECT_FALSE(Switch());
  Host().policy.reset();  // the policy cannot be fetched
  EXPECT_FALSE(Switch());
  EXPECT_EQ(Host().cleared, 3);
  Host().policy = VDFP_CRED_PASSWORD | VDFP_CRED_FINGERPRINT;

  Desk().sessions.disconnectSucceeds = FALSE;
  EXPECT_FALSE(Switch());
  EXPECT_EQ(Host().shared.size(), 2u);
  EXPECT_EQ(Host().cleared, 4) << "a failed hand-over clears the shared record";
}

TEST_F(SwitchUserTest, UsersAndCredentialsWithoutSwitching) {
  EXPECT_FALSE(Switch(VDFP_CRED_CONTACTLESS));
  EXPECT_TRUE(Logged("Credential type does not support FUS"));
  Ctx().user = CUser();
  EXPECT_FALSE(Actions().SwitchUser());
  EXPECT_TRUE(Logged("Not a valid user"));
  Ctx().user = CUser(Api(), L"bob", VDFP_NAME_VD);
  EXPECT_FALSE(Actions().SwitchUser());
  EXPECT_TRUE(Logged("No FUS for this user category, bob (VD), no FUS"));
  EXPECT_EQ(Desk().sessions.disconnects, 0);
}

// Windows XP: the Welcome screen and the switch event decide.
class XpSwitchUserTest : public SwitchUserTest {
 protected:
  XpSwitchUserTest() : SwitchUserTest(Xp()) {}
  static sim::MachineDescription Xp() {
    sim::MachineDescription xp;
    xp.osMajor = 5;
    xp.osMinor = 1;
    return xp;
  }
};

TEST_F(XpSwitchUserTest, TheWelcomeScreenAndTheEventDecide) {
  const std::wstring winlogon = L"HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon";
  Reg().SetDword(winlogon, L"LogonType", 1);
  EXPECT_FALSE(Switch()) << "AllowMultipleTSSessions absent";
  EXPECT_EQ(Host().shared.size(), 0u);

  Reg().SetDword(winlogon, L"AllowMultipleTSSessions", 1);
  EXPECT_FALSE(Switch()) << "nobody created the event";
  EXPECT_EQ(Host().shared.size(), 1u);
  EXPECT_EQ(Host().cleared, 2);

  auto& k = proc->Kernel();
  HANDLE ev = k.CreateEventW(nullptr, TRUE, FALSE, L"{D61DE181-0214-4661-B256-4963D562E286}");
  ASSERT_NE(ev, nullptr);
  EXPECT_TRUE(Switch());
  EXPECT_EQ(k.WaitForSingleObject(ev, 0), WAIT_OBJECT_0);
  EXPECT_EQ(Desk().sessions.disconnects, 0);

  Reg().SetString(winlogon, L"GinaDll", L"othergina.dll");
  EXPECT_FALSE(Switch()) << "no Welcome screen with another logon dialog";
  k.CloseHandle(ev);
}

TEST_F(QuickActionsTest, TheReaderBalloonAppearsThreeTimesOverFourRuns) {
  Reg().SetDword(Apps() + L"Agent", L"RegistrationBalloonCtr", 0);
  for (int i = 0; i < 4; ++i) {
    SCOPED_TRACE(i);
    run.reset();
    run = std::make_unique<AgentRun>(*proc);  // a fresh agent process
    Actions().OnFingerprintReaderConnected();
    Actions().OnFingerprintReaderConnected();  // considered once per run
    Host().RunPosted();
    EXPECT_EQ(Host().trayStates, (std::vector<bool>{true, true}));
    ASSERT_EQ(Host().balloons.size(), i < 3 ? 1u : 0u);
    if (i < 3) {
      EXPECT_EQ(Host().balloons[0].title, L"S124");
      EXPECT_EQ(Host().balloons[0].message, L"S122");
      ASSERT_TRUE(Host().balloons[0].onClick);
    }
    EXPECT_EQ(Reg().GetDword(Apps() + L"Agent", L"FingerprintBalloonCtr"),
              static_cast<DWORD>(std::max(2 - i, 0)));
  }
}

TEST_F(QuickActionsTest, TheReaderBalloonsConditions) {
  Reg().SetDword(Apps() + L"Agent", L"RegistrationBalloonCtr", 0xFFFFFFFF);  // -1: none left
  Host().admin = true;
  Host().machineConfigured = false;  // the administrator's setup balloon comes first
  Actions().OnFingerprintReaderConnected();
  Host().RunPosted();
  EXPECT_TRUE(Host().balloons.empty());

  run = std::make_unique<AgentRun>(*proc);
  Reg().SetDword(Apps() + L"Agent", L"AdminSetupBalloonCtr", 0);
  Host().admin = true;
  Host().machineConfigured = false;
  Actions().OnFingerprintReaderConnected();
  Host().RunPosted();
  ASSERT_EQ(Host().balloons.size(), 1u);
  Host().balloons[0].onClick();
  EXPECT_TRUE(Entered("[launch](ClientConsole -enroll -fingerprint){}"));

  run = std::make_unique<AgentRun>(*proc);
  Host().modal = true;
  Actions().OnFingerprintReaderConnected();
  EXPECT_TRUE(Logged("In modal mode, skipped"));
  EXPECT_TRUE(Host().posted.empty());
}

TEST_F(QuickActionsTest, TheNoDriversBalloonCountsDownToZero) {
  Host().admin = true;
  for (int i = 0; i < 4; ++i) Actions().OnFingerprintReaderDisconnected();
  EXPECT_EQ(Host().balloons.size(), 3u);
  EXPECT_EQ(Host().balloons[0].title, L"S605");
  EXPECT_FALSE(Host().balloons[0].onClick);
  EXPECT_EQ(Reg().GetDword(Apps() + L"Agent", L"NoDriversBalloonCtr"), 0u);
}

TEST_F(QuickActionsTest, KeyboardCapture) {
  auto& kb = Actions().Keyboard();
  kb.StartCapture();
  EXPECT_TRUE(Host().scheduled.empty()) << "nothing held: no expiry";
  Desk().ui.keysDown = {VK_CONTROL};
  kb.StartCapture();
  EXPECT_EQ(kb.Mask(), CKbdState::kCtrl);
  ASSERT_EQ(Host().scheduled.size(), 1u);
  EXPECT_EQ(Host().scheduled.begin()->second.delayMs, 6000u);
  Desk().ui.keysDown = {VK_SHIFT};
  kb.StartCapture();
  EXPECT_EQ(kb.Mask(), CKbdState::kCtrl) << "captured once";

  auto expiry = Host().scheduled.begin();
  EXPECT_TRUE(expiry->second.task(expiry->first));
  EXPECT_EQ(kb.Mask(), 0u);
  EXPECT_EQ(kb.PendingTask(), 0u);

  kb.StartCapture();
  EXPECT_EQ(Host().scheduled.size(), 2u);
  EXPECT_EQ(kb.CompleteCapture(), CKbdState::kShift);
  EXPECT_EQ(Host().scheduled.size(), 1u) << "the pending expiry is cancelled";
  EXPECT_TRUE(Logged("KeyState = SHIFT"));
}

}  // namespace
}  // namespace actiontest
