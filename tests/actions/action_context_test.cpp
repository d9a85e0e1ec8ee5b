// The action context: the 60-second window, stale resets, the keyboard state's text and who
// destroys the authentication handle.
#include "actions/action_context.h"

#include "tests/actions/action_test_util.h"

namespace actiontest {
namespace {

using ActionContextTest = ActionsTest;

TEST(KbdStateText, GroupsAreNamedInOrder) {
  // NONE, CTRL, SHIFT and ALT alone are read in the selection's log lines.
  EXPECT_EQ(CKbdState::ToString(0x30 | 0xC0), L"ALT+WIN");
  // One key of a group still names the group.
  EXPECT_EQ(CKbdState::ToString(0x1 | 0x08), L"CTRL+SHIFT");
}

TEST_F(ActionContextTest, KeyboardCaptureReadsTheHighBitOfEachModifier) {
  Desk().ui.keysDown = {VK_CONTROL, VK_RWIN};
  EXPECT_EQ(CKbdState::Capture(Desk().ui), CKbdState::kCtrl | CKbdState::kWin);
  Desk().ui.keysDown = {VK_SHIFT, VK_MENU};
  EXPECT_EQ(CKbdState::Capture(Desk().ui), CKbdState::kShift | CKbdState::kAlt);
}

TEST_F(ActionContextTest, AStartedActionBlocksForSixtySecondsInclusiveAndAFutureStartBlocks) {
  ASSERT_TRUE(Actions().StartAction(CCredential(VDFP_CRED_FINGERPRINT, 1, -1), Alice()));
  machine.AdvanceBy(30000);
  EXPECT_FALSE(Actions().StartAction(CCredential(VDFP_CRED_FINGERPRINT, 2, -1), Alice()));
  EXPECT_EQ(Ctx().info.Data(), 1u) << "a refused start changes nothing";
  machine.AdvanceBy(30000);
  EXPECT_FALSE(Actions().CanStartAction()) << "exactly 60 seconds is still the same action";
  machine.AdvanceBy(1000);
  EXPECT_TRUE(Actions().StartAction(CCredential(VDFP_CRED_FINGERPRINT, 3, -1), Alice()));
  EXPECT_EQ(Ctx().info.Data(), 3u);

  Ctx().startTime = NowSeconds(Desk().Kernel()) + 3600;  // the clock was set back an hour
  EXPECT_FALSE(Actions().CanStartAction());
  machine.AdvanceBy(61000);
  EXPECT_FALSE(Actions().CanStartAction());
}

TEST_F(ActionContextTest, AResetWithAnOldSequenceChangesNothing) {
  ASSERT_TRUE(Actions().StartAction(CCredential(VDFP_CRED_FINGERPRINT, 1, -1), Alice()));
  const DWORD first = Ctx().sequence;
  machine.AdvanceBy(61000);
  ASSERT_TRUE(Actions().StartAction(CCredential(VDFP_CRED_SMARTCARD, 0, 0), Alice()));
  EXPECT_EQ(Ctx().sequence, first + 1);

  Ctx().Reset(Api(), first);
  EXPECT_TRUE(Logged("The action is past due, skipped."));
  EXPECT_FALSE(Actions().CanStartAction());
  EXPECT_EQ(Ctx().info.Type(), VDFP_CRED_SMARTCARD);

  Ctx().Reset(Api(), first + 1);
  EXPECT_TRUE(Actions().CanStartAction());
  EXPECT_EQ(Ctx().info.Type(), 0u);
}

TEST_F(ActionContextTest, TheSequenceCounterBelongsToTheProcess) {
  core::CAgentProcess& agent = run->agent;
  ActionContext a, b;
  a.Init(agent);
  b.Init(agent);
  EXPECT_EQ(a.sequence + 1, b.sequence);
  EXPECT_EQ(agent.ActionSequence, b.sequence);
}

TEST_F(ActionContextTest, HandleOwnership) {
  auto make = [&] {
    HVDFPAUTHENTICATION h = nullptr;
    EXPECT_EQ(Api().VDFPCreateAuthentication(L"VDSIM-PC\\alice", VDFP_NAME_SAM, &h), S_OK);
    return h;
  };
  ActionContext ctx;
  {
    SCOPED_TRACE("an undelivered owned handle goes at Reset");
    ctx.Init(run->agent);
    ctx.SetHandle(Api(), make(), true);
    EXPECT_EQ(OpenHandles(), 1u);
    ctx.Reset(Api(), ctx.sequence);
    EXPECT_EQ(OpenHandles(), 0u);
    EXPECT_EQ(ctx.hAuth, nullptr);
  }
  {
    SCOPED_TRACE("a delivered handle is the password manager's");
    ctx.Init(run->agent);
    HVDFPAUTHENTICATION h = make();
    ctx.SetHandle(Api(), h, true);
    ctx.handedOver = true;
    ctx.Reset(Api(), ctx.sequence);
    EXPECT_EQ(OpenHandles(), 1u);
    EXPECT_EQ(ctx.hAuth, nullptr);
    Api().VDFPDestroyAuthentication(h);
  }
  {
    SCOPED_TRACE("the next start destroys what the last one left");
    ctx.Init(run->agent);
    ctx.SetHandle(Api(), make(), true);
    ctx.Init(run->agent);
    EXPECT_EQ(OpenHandles(), 0u);
  }
  {
    SCOPED_TRACE("a handle not owned is never destroyed");
    HVDFPAUTHENTICATION h = make();
    ctx.SetHandle(Api(), h, false);
    ctx.ReleaseHandle(Api());
    EXPECT_EQ(OpenHandles(), 1u);
    Api().VDFPDestroyAuthentication(h);
  }
  {
    SCOPED_TRACE("disposing the actions, twice, destroys an undelivered one");
    Ctx().SetHandle(Api(), make(), true);
    Actions().Dispose();
    Actions().Dispose();
    EXPECT_EQ(OpenHandles(), 0u);
  }
}

}  // namespace
}  // namespace actiontest
