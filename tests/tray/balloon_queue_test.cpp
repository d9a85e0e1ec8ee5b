// The notification queue: balloons one at a time on Windows 7, the 30-second rule on the
// tick count, the shell's end codes, and requesters told outside the queue's lock.
#include <thread>

#include "tests/tray/notify_recorder.h"
#include "tests/tray/tray_fixture.h"

namespace traytest {
namespace {

class BalloonQueueTest : public TrayTest {
 protected:
  void SetUp() override {
    plat.kernel.version = std::make_pair(DWORD{6}, DWORD{1});
    ShowIcon();
    ASSERT_FALSE(Logic().Balloons().UsesToasts());
  }
  bool Add(UINT id, IUnknown* callback = nullptr) {
    return Logic().Notify(L"title " + std::to_wstring(id), L"text", nullptr, callback, NIIF_INFO, 0,
                          id);
  }
  // The balloons handed to the shell so far, by title ("" for the empty balloon).
  std::vector<std::wstring> Shown() {
    std::vector<std::wstring> out;
    for (const auto& c : plat.shell.Calls())
      if (c.flags == NIF_INFO) out.push_back(c.title);
    return out;
  }
  void ShellSays(UINT code) {
    Logic().OnTrayMessage(code);
    host.RunPosted();
  }
  using V = std::vector<std::wstring>;
};

TEST_F(BalloonQueueTest, ThreeRequestsAreShownOneAfterAnotherInArrivalOrder) {
  auto cb = CRecordingCallback::Create();
  ASSERT_TRUE(Add(1, cb.get()));
  ASSERT_TRUE(Add(2, cb.get()));
  ASSERT_TRUE(Add(3, cb.get()));
  EXPECT_EQ(Shown(), V({L"title 1"}));
  EXPECT_EQ(Logic().Balloons().QueueSize(), 3u);

  ShellSays(NIN_BALLOONTIMEOUT);
  // The timed-out balloon is cleared with the empty balloon, then the next one shows.
  EXPECT_EQ(Shown(), V({L"title 1", L"", L"title 2"}));
  ShellSays(NIN_BALLOONUSERCLICK);
  EXPECT_EQ(Shown(), V({L"title 1", L"", L"title 2", L"title 3"}));
  ShellSays(NIN_BALLOONTIMEOUT);
  EXPECT_EQ(Logic().Balloons().QueueSize(), 0u);
  EXPECT_FALSE(Logic().Balloons().HasBalloonOnShow());
  EXPECT_EQ(cb->TellsSoFar(),
            (CRecordingCallback::Told{
                {NIN_BALLOONTIMEOUT, 1}, {NIN_BALLOONUSERCLICK, 2}, {NIN_BALLOONTIMEOUT, 3}}));
  EXPECT_EQ(cb->OtherReferences(), 0u) << "every ended request let its callback go";
}

TEST_F(BalloonQueueTest, AHiddenBalloonKeepsItsPlaceAndIsShownAgainFirst) {
  auto cb = CRecordingCallback::Create();
  Add(1, cb.get());
  ShellSays(NIN_BALLOONHIDE);
  EXPECT_EQ(cb->TellsSoFar(), (CRecordingCallback::Told{{NIN_BALLOONHIDE, 1}}));
  EXPECT_EQ(Shown(), V({L"title 1"})) << "hidden silently: no empty balloon";
  EXPECT_EQ(cb->OtherReferences(), 1u) << "still queued";

  Add(2);
  EXPECT_EQ(Shown(), V({L"title 1", L"title 1"}));
  ShellSays(NIN_BALLOONUSERCLICK);
  EXPECT_EQ(Shown(), V({L"title 1", L"title 1", L"title 2"}));
  EXPECT_EQ(cb->TellsSoFar().back(), std::make_pair(UINT{NIN_BALLOONUSERCLICK}, UINT{1}));
}

TEST_F(BalloonQueueTest, ABalloonNeverEndedStopsBlockingAfterThirtySeconds) {
  Add(1);
  machine.AdvanceBy(29999);
  Add(2);
  EXPECT_EQ(Shown(), V({L"title 1"}));
  machine.AdvanceBy(1);
  EXPECT_FALSE(Logic().Balloons().HasBalloonOnShow());
  Add(3);
  EXPECT_EQ(Shown(), V({L"title 1", L"title 1"})) << "the head again, not the newcomer";
  EXPECT_EQ(Logic().Balloons().QueueSize(), 3u);
}

TEST_F(BalloonQueueTest, AClockSetBackDoesNotBlockTheQueue) {
  Add(1);
  plat.kernel.wallShiftMs = -24LL * 3600 * 1000;  // the user sets the clock a day back
  machine.AdvanceBy(30000);
  Add(2);
  EXPECT_EQ(Shown(), V({L"title 1", L"title 1"}));
  plat.kernel.wallShiftMs = 24LL * 3600 * 1000;  // and forward: nothing shown early
  Add(3);
  EXPECT_EQ(Shown(), V({L"title 1", L"title 1"}));
}

TEST_F(BalloonQueueTest, ABalloonTheShellRefusesStaysAtTheHeadAndBlocksForThirtySeconds) {
  auto cb = CRecordingCallback::Create();
  plat.shell.Script({ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED,
                     ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED});
  EXPECT_TRUE(Add(1, cb.get())) << "queued, though not shown";
  EXPECT_TRUE(sink.Contains('U', "Cannot show balloon"));
  EXPECT_TRUE(Logic().Balloons().HasBalloonOnShow()) << "the display time is set anyway";
  plat.shell.Forget();
  Add(2);
  EXPECT_TRUE(Shown().empty());
  machine.AdvanceBy(30000);
  Add(3);
  EXPECT_EQ(Shown(), V({L"title 1"}));
  EXPECT_TRUE(cb->TellsSoFar().empty());
}

TEST_F(BalloonQueueTest, ARequesterMayNotifyFromItsCallback) {
  auto cb = CRecordingCallback::Create();
  // Told while the queue's lock is held, this would never return.
  cb->reaction = [&](UINT code, UINT id) {
    if (id == 1) {
      EXPECT_TRUE(Add(10 + code - NIN_BALLOONHIDE));
    }
  };
  Add(1, cb.get());
  ShellSays(NIN_BALLOONTIMEOUT);
  EXPECT_EQ(Logic().Balloons().QueueSize(), 1u);
  EXPECT_EQ(Shown(), V({L"title 1", L"", L"title 11"}));
}

TEST_F(BalloonQueueTest, CallbacksThatCannotBeToldOrFailAreOnlyReturned) {
  auto deaf = CRecordingCallback::Create();
  deaf->refuseNotify = true;
  auto failing = CRecordingCallback::Create(E_FAIL);
  Add(1, deaf.get());
  Add(2, failing.get());
  CTrayIconBalloons::CBalloonItem item;
  item.id = 5;
  EXPECT_EQ(item.DoAction(NIN_BALLOONTIMEOUT), S_OK) << "no callback";
  deaf->AddRef();
  item.callback.reset(deaf.get());
  EXPECT_EQ(item.DoAction(NIN_BALLOONTIMEOUT), S_OK) << "no such interface";
  EXPECT_TRUE(deaf->TellsSoFar().empty());

  ShellSays(NIN_BALLOONUSERCLICK);
  ShellSays(NIN_BALLOONUSERCLICK);
  EXPECT_EQ(failing->TellsSoFar(), (CRecordingCallback::Told{{NIN_BALLOONUSERCLICK, 2}}));
  ShellSays(NIN_BALLOONUSERCLICK);  // nothing left: nobody told twice
  EXPECT_EQ(failing->TellsSoFar().size(), 1u);
  EXPECT_EQ(Shown(), V({L"title 1", L"title 2"}));
}

TEST_F(BalloonQueueTest, RequestsFromManyThreadsAreAllKeptOnce) {
  auto cb = CRecordingCallback::Create();
  std::vector<std::thread> threads;
  for (UINT t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      sim::CurrentProcessScope in(proc.get());
      for (UINT i = 0; i < 25; ++i) Add(100 * t + i, cb.get());
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(Logic().Balloons().QueueSize(), 100u);
  EXPECT_EQ(Shown().size(), 1u);
  EXPECT_EQ(cb->OtherReferences(), 100u);
  for (int i = 0; i < 100; ++i) ShellSays(NIN_BALLOONUSERCLICK);
  EXPECT_EQ(cb->TellsSoFar().size(), 100u);
  EXPECT_EQ(cb->OtherReferences(), 0u);
}

}  // namespace
}  // namespace traytest
