// The simulated window system: windows, queues, sends across threads, quit, window timers
// on the virtual clock, registered messages, broadcasts, idle drivers, delivery order.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/sim/desktop.h"
#include "platform/sim/session_manager.h"
#include "tests/platform/sim_ui_test_util.h"

namespace {

using simtest::DeliveryLog;
using simtest::TestWindow;
using simtest::WaitFor;
using Via = sim::Delivery::Via;

constexpr wchar_t kClass[] = L"Veridane Classic5.x Agent Window Class";

std::vector<UINT> Msgs(const TestWindow& w) {
  std::vector<UINT> r;
  for (const auto& m : w.All()) r.push_back(m.msg);
  return r;
}

class SimUiTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_NE(TestWindow::RegisterClass(*p, kClass), 0); }
  DWORD Error() { return m.LastError(); }
  DWORD Me() { return m.CurrentThreadId(); }

  sim::Machine m;
  std::unique_ptr<sim::Process> p = m.CreateProcess({});
  platform::IUi& ui = p->Ui();
  sim::WindowManager& wm = m.Windows();
};

// ---- Classes and windows ----------------------------------------------------------------------

TEST_F(SimUiTest, CreationSendsNcCreateThenCreateWithTheCreationParameters) {
  TestWindow w(*p);
  const void* params = nullptr;
  std::wstring name;
  w.SetHandler([&](HWND, UINT msg, WPARAM, LPARAM lp) -> std::optional<LRESULT> {
    if (msg == WM_CREATE) {
      const auto* cs = reinterpret_cast<const CREATESTRUCTW*>(lp);
      params = cs->lpCreateParams;
      name = cs->lpszName;
    }
    return std::nullopt;
  });
  HWND h = w.Create(kClass, L"Agent Window");
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(Msgs(w), (std::vector<UINT>{WM_NCCREATE, WM_CREATE}));
  EXPECT_EQ(params, &w);
  EXPECT_EQ(name, L"Agent Window");
  DWORD pid = 0;
  EXPECT_EQ(ui.GetWindowThreadProcessId(h, &pid), Me());
  EXPECT_EQ(pid, p->Pid());
  EXPECT_EQ(w.All()[0].tid, Me());
}

TEST_F(SimUiTest, RefusedCreationDestroysTheWindowAndReturnsNull) {
  TestWindow a(*p);
  a.SetHandler([](HWND, UINT msg, WPARAM, LPARAM) -> std::optional<LRESULT> {
    if (msg == WM_CREATE) return -1;
    return std::nullopt;
  });
  EXPECT_EQ(a.Create(kClass), nullptr);
  EXPECT_EQ(Msgs(a), (std::vector<UINT>{WM_NCCREATE, WM_CREATE, WM_DESTROY, WM_NCDESTROY}));

  TestWindow b(*p);
  b.SetHandler([](HWND, UINT msg, WPARAM, LPARAM) -> std::optional<LRESULT> {
    if (msg == WM_NCCREATE) return FALSE;
    return std::nullopt;
  });
  EXPECT_EQ(b.Create(kClass), nullptr);
  EXPECT_EQ(Msgs(b), (std::vector<UINT>{WM_NCCREATE, WM_NCDESTROY}));
  EXPECT_TRUE(wm.WindowsOfProcess(p->Pid()).empty());
  EXPECT_TRUE(ui.UnregisterClassW(kClass, nullptr));  // no window of it is left
}

TEST_F(SimUiTest, ClassesArePerProcessCaseInsensitiveAndHeldByTheirWindows) {
  EXPECT_EQ(TestWindow::RegisterClass(*p, L"VERIDANE classic5.x AGENT window class"), 0);
  EXPECT_EQ(Error(), static_cast<DWORD>(ERROR_CLASS_ALREADY_EXISTS));
  auto other = m.CreateProcess({});
  EXPECT_NE(TestWindow::RegisterClass(*other, kClass), 0);  // its own class of that name
  TestWindow stranger(*other);
  EXPECT_EQ(stranger.Create(L"Only Registered Elsewhere"), nullptr);
  EXPECT_EQ(m.LastError(), static_cast<DWORD>(ERROR_CANNOT_FIND_WND_CLASS));

  TestWindow w(*p);
  ASSERT_NE(w.Create(L"veridane classic5.x agent window class"), nullptr);
  EXPECT_FALSE(ui.UnregisterClassW(kClass, nullptr));
  EXPECT_EQ(Error(), static_cast<DWORD>(ERROR_CLASS_HAS_WINDOWS));
  EXPECT_TRUE(ui.DestroyWindow(w.hwnd()));
  EXPECT_TRUE(ui.UnregisterClassW(kClass, nullptr));
  EXPECT_FALSE(ui.UnregisterClassW(kClass, nullptr));
  EXPECT_EQ(Error(), static_cast<DWORD>(ERROR_CLASS_DOES_NOT_EXIST));
}

TEST_F(SimUiTest, OnlyTheOwnerThreadDestroysAndADeadHandleStaysInvalid) {
  TestWindow w(*p);
  HWND h = w.Create(kClass);
  std::thread([&] {
    EXPECT_FALSE(ui.DestroyWindow(h));
    EXPECT_EQ(m.LastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  }).join();
  EXPECT_TRUE(ui.IsWindow(h));

  ui.PostMessageW(h, WM_USER, 0, 0);
  ui.SetTimer(h, 7, 100, nullptr);
  EXPECT_TRUE(ui.DestroyWindow(h));
  EXPECT_EQ(Msgs(w), (std::vector<UINT>{WM_NCCREATE, WM_CREATE, WM_DESTROY, WM_NCDESTROY}));
  EXPECT_FALSE(ui.IsWindow(h));
  EXPECT_FALSE(ui.PostMessageW(h, WM_USER, 0, 0));
  EXPECT_EQ(Error(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
  m.AdvanceBy(1000);  // the queued message and the timer went with the window
  EXPECT_EQ(w.Count(WM_USER), 0u);
  EXPECT_EQ(w.Count(WM_TIMER), 0u);
  TestWindow next(*p);
  EXPECT_NE(next.Create(kClass), h);  // handles are not reused
}

TEST_F(SimUiTest, DestroyingAParentTakesOwnedAndChildWindowsInWindowsOrder) {
  TestWindow parent(*p), owned(*p), child(*p);
  HWND h = parent.Create(kClass);
  owned.Create(kClass, L"", WS_POPUP, h);
  child.Create(kClass, L"", WS_CHILD, h);
  DeliveryLog log(wm, {parent.hwnd(), owned.hwnd(), child.hwnd()});
  ASSERT_TRUE(ui.DestroyWindow(h));
  std::vector<std::pair<HWND, UINT>> got;
  for (const auto& d : log.Take()) got.emplace_back(d.hwnd, d.message);
  const std::vector<std::pair<HWND, UINT>> expected{
      {owned.hwnd(), WM_DESTROY}, {owned.hwnd(), WM_NCDESTROY}, {h, WM_DESTROY},
      {child.hwnd(), WM_DESTROY}, {child.hwnd(), WM_NCDESTROY}, {h, WM_NCDESTROY},
  };
  EXPECT_EQ(got, expected);
  EXPECT_FALSE(ui.IsWindow(child.hwnd()));
}

LRESULT AnswerSeventySeven(HWND, UINT, WPARAM, LPARAM) { return 77; }

TEST_F(SimUiTest, WindowLongsHoldUserDataAndReplaceTheProcedure) {
  TestWindow w(*p);
  HWND h = w.Create(kClass);
  EXPECT_EQ(ui.SetWindowLongPtrW(h, GWLP_USERDATA, 1234), 0);
  EXPECT_EQ(ui.GetWindowLongPtrW(h, GWLP_USERDATA), 1234);

  const LONG_PTR old =
      ui.SetWindowLongPtrW(h, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&AnswerSeventySeven));
  EXPECT_NE(old, 0);
  EXPECT_EQ(ui.SendMessageW(h, WM_USER, 0, 0), 77);
  EXPECT_EQ(w.Count(WM_USER), 0u);
  ui.SetWindowLongPtrW(h, GWLP_WNDPROC, old);
  ui.SendMessageW(h, WM_USER, 0, 0);
  EXPECT_EQ(w.Count(WM_USER), 1u);

  auto other = m.CreateProcess({});
  EXPECT_EQ(other->Ui().SetWindowLongPtrW(h, GWLP_USERDATA, 1), 0);
  EXPECT_EQ(m.LastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(ui.GetWindowLongPtrW(h, GWLP_USERDATA), 1234);
  EXPECT_EQ(ui.GetWindowLongPtrW(h, 12345), 0);
  EXPECT_EQ(Error(), static_cast<DWORD>(ERROR_INVALID_INDEX));
}

// ---- Posting ----------------------------------------------------------------------------------

TEST_F(SimUiTest, PostsFromOtherThreadsArriveInTheOrderEachThreadPosted) {
  TestWindow w(*p);
  HWND h = w.Create(kClass);
  constexpr int kThreads = 4;
  constexpr int kEach = 200;
  std::vector<std::thread> posters;
  for (int t = 0; t < kThreads; ++t) {
    posters.emplace_back([&, t] {
      for (int i = 0; i < kEach; ++i) ui.PostMessageW(h, WM_USER + t, i, 0);
    });
  }
  for (auto& t : posters) t.join();
  m.RunUntilIdle();
  for (int t = 0; t < kThreads; ++t) {
    const auto got = w.Of(WM_USER + t);
    ASSERT_EQ(got.size(), static_cast<size_t>(kEach));
    for (int i = 0; i < kEach; ++i) {
      EXPECT_EQ(got[i].wp, static_cast<WPARAM>(i));
      EXPECT_EQ(got[i].tid, Me());
    }
  }
}

TEST_F(SimUiTest, GetMessageBlocksUntilAnotherThreadPosts) {
  TestWindow w(*p);
  HWND h = w.Create(kClass);
  const DWORD me = Me();
  std::thread poster([&] {
    EXPECT_TRUE(WaitFor([&] { return wm.IsThreadWaiting(me); }));
    ui.PostMessageW(h, WM_USER + 5, 42, 0);
  });
  MSG msg{};
  EXPECT_EQ(ui.GetMessageW(&msg, nullptr, 0, 0), 1);
  poster.join();
  EXPECT_EQ(msg.hwnd, h);
  EXPECT_EQ(msg.message, WM_USER + 5);
  EXPECT_EQ(msg.wParam, 42u);
}

TEST_F(SimUiTest, ThreadMessagesNeedAQueueAndCarryNoWindow) {
  std::promise<DWORD> idPromise;
  std::promise<void> posted, queueMade;
  MSG got{};
  std::thread worker([&] {
    idPromise.set_value(m.CurrentThreadId());
    queueMade.get_future().wait();
    MSG msg;
    ui.PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);  // the classic way to get a queue
    posted.set_value();
    ui.GetMessageW(&got, nullptr, 0, 0);
  });
  const DWORD tid = idPromise.get_future().get();
  EXPECT_FALSE(ui.PostThreadMessageW(tid, WM_USER, 1, 0));
  EXPECT_EQ(Error(), static_cast<DWORD>(ERROR_INVALID_THREAD_ID));
  queueMade.set_value();
  posted.get_future().wait();
  EXPECT_TRUE(ui.PostThreadMessageW(tid, WM_USER, 2, 0));
  worker.join();
  EXPECT_EQ(got.hwnd, nullptr);
  EXPECT_EQ(got.message, WM_USER);
  EXPECT_EQ(got.wParam, 2u);

  // A null window posts to the calling thread.
  EXPECT_TRUE(ui.PostMessageW(nullptr, WM_USER + 1, 0, 0));
  MSG mine{};
  ASSERT_TRUE(ui.PeekMessageW(&mine, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(mine.message, WM_USER + 1);
}

// ---- Sending across threads -------------------------------------------------------------------

TEST_F(SimUiTest, SendFromAnotherThreadRunsOnTheOwnerThreadWhileTheSenderWaits) {
  TestWindow w(*p);
  HWND h = w.Create(kClass);
  w.SetHandler([](HWND, UINT msg, WPARAM wp, LPARAM) -> std::optional<LRESULT> {
    if (msg == WM_USER + 1) return static_cast<LRESULT>(wp * 2);
    return std::nullopt;
  });
  const DWORD me = Me();
  std::atomic<bool> returned{false};
  std::atomic<DWORD> senderTid{0};
  LRESULT result = 0;
  std::thread sender([&] {
    senderTid = m.CurrentThreadId();
    result = ui.SendMessageW(h, WM_USER + 1, 21, 0);
    returned = true;
  });
  ASSERT_TRUE(WaitFor([&] { return wm.QueuedMessages(me) == 1; }));
  EXPECT_FALSE(returned);
  EXPECT_TRUE(wm.IsThreadWaiting(senderTid));
  EXPECT_EQ(w.Count(WM_USER + 1), 0u);
  m.RunUntilIdle();
  sender.join();
  EXPECT_EQ(result, 42);
  ASSERT_EQ(w.Count(WM_USER + 1), 1u);
  EXPECT_EQ(w.Of(WM_USER + 1)[0].tid, me);
}

TEST_F(SimUiTest, SentMessagesAreHandledBeforePostedOnes) {
  TestWindow w(*p);
  HWND h = w.Create(kClass);
  const DWORD me = Me();
  std::thread worker([&] {
    ui.PostMessageW(h, WM_USER + 1, 0, 0);
    ui.SendMessageW(h, WM_USER + 2, 0, 0);
  });
  ASSERT_TRUE(WaitFor([&] { return wm.QueuedMessages(me) == 2; }));
  MSG msg{};
  ASSERT_EQ(ui.GetMessageW(&msg, nullptr, 0, 0), 1);  // runs the sent one inside
  ui.DispatchMessageW(&msg);
  worker.join();
  EXPECT_EQ(Msgs(w), (std::vector<UINT>{WM_NCCREATE, WM_CREATE, WM_USER + 2, WM_USER + 1}));
}

TEST_F(SimUiTest, TwoThreadsSendingToEachOtherDoNotDeadlock) {
  TestWindow mine(*p);
  mine.Create(kClass);
  mine.SetHandler([](HWND, UINT msg, WPARAM, LPARAM) -> std::optional<LRESULT> {
    if (msg == WM_USER + 2) return 5;
    return std::nullopt;
  });
  simtest::UiThread thread(*p);
  TestWindow theirs(*p);
  thread.Run([&] { theirs.Create(kClass); });
  theirs.SetHandler([&](HWND, UINT msg, WPARAM, LPARAM) -> std::optional<LRESULT> {
    if (msg == WM_USER + 1) return 10 + ui.SendMessageW(mine.hwnd(), WM_USER + 2, 0, 0);
    return std::nullopt;
  });
  EXPECT_EQ(ui.SendMessageW(theirs.hwnd(), WM_USER + 1, 0, 0), 15);
  EXPECT_EQ(theirs.Of(WM_USER + 1).at(0).tid, thread.Tid());
  EXPECT_EQ(mine.Of(WM_USER + 2).at(0).tid, Me());
}

TEST_F(SimUiTest, SendTimeoutRunsOnTheVirtualClockAndWithdrawsTheMessage) {
  // The window's thread is busy elsewhere and does not read its queue.
  std::promise<void> created, release;
  HWND h = nullptr;
  std::thread busy([&] {
    TestWindow w(*p);
    h = w.Create(kClass);
    created.set_value();
    release.get_future().wait();
  });
  created.get_future().wait();
  const DWORD busyTid = wm.Info(h)->threadId;
  const DWORD me = Me();
  std::atomic<bool> waitingAt4999{false};
  std::thread clockMover([&] {
    EXPECT_TRUE(WaitFor([&] { return wm.QueuedMessages(busyTid) == 1; }));
    m.GetClock().AdvanceBy(4999);
    waitingAt4999 = wm.IsThreadWaiting(me);
    m.GetClock().AdvanceBy(1);
  });
  DWORD_PTR r = 123;
  EXPECT_EQ(ui.SendMessageTimeoutW(h, WM_USER, 0, 0, SMTO_NORMAL, 5000, &r), 0);
  EXPECT_EQ(Error(), static_cast<DWORD>(ERROR_TIMEOUT));
  clockMover.join();
  EXPECT_TRUE(waitingAt4999);
  EXPECT_EQ(m.GetClock().NowMs(), 5000u);
  EXPECT_EQ(wm.QueuedMessages(busyTid), 0u);  // never delivered late
  release.set_value();
  busy.join();
}

TEST_F(SimUiTest, SendToAWindowThatDiesFailsInsteadOfHanging) {
  std::promise<void> created, destroy;
  HWND h = nullptr;
  std::thread owner([&] {
    TestWindow w(*p);
    h = w.Create(kClass);
    created.set_value();
    destroy.get_future().wait();
    ui.DestroyWindow(h);
  });
  created.get_future().wait();
  const DWORD ownerTid = wm.Info(h)->threadId;
  std::thread helper([&] {
    EXPECT_TRUE(WaitFor([&] { return wm.QueuedMessages(ownerTid) == 1; }));
    destroy.set_value();
  });
  DWORD_PTR r = 0;
  EXPECT_EQ(ui.SendMessageTimeoutW(h, WM_USER, 0, 0, SMTO_NORMAL, 60000, &r), 0);
  EXPECT_EQ(Error(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
  helper.join();
  owner.join();
}

// ---- Quit ---------------------------------------------------------------------------------

TEST_F(SimUiTest, QuitComesAfterPostedMessagesBeforeTimersAndIgnoresFilters) {
  TestWindow w(*p);
  HWND h = w.Create(kClass);
  ui.SetTimer(h, 1, 10, nullptr);
  m.GetClock().AdvanceBy(10);  // the tick waits, nobody pumps
  ui.PostMessageW(h, WM_USER, 0, 0);
  ui.PostQuitMessage(3);
  ui.PostMessageW(h, WM_USER + 1, 0, 0);
  MSG msg{};
  ASSERT_EQ(ui.GetMessageW(&msg, nullptr, 0, 0), 1);
  EXPECT_EQ(msg.message, WM_USER);
  ASSERT_EQ(ui.GetMessageW(&msg, nullptr, 0, 0), 1);
  EXPECT_EQ(msg.message, WM_USER + 1);
  ASSERT_EQ(ui.GetMessageW(&msg, nullptr, 0, 0), 0);
  EXPECT_EQ(msg.message, WM_QUIT);
  EXPECT_EQ(msg.wParam, 3u);
  ASSERT_EQ(ui.GetMessageW(&msg, nullptr, 0, 0), 1);
  EXPECT_EQ(msg.message, WM_TIMER);

  ui.PostMessageW(h, WM_USER, 0, 0);
  ui.PostQuitMessage(4);
  ASSERT_EQ(ui.GetMessageW(&msg, h, WM_USER + 100, WM_USER + 100), 0);
  EXPECT_EQ(msg.wParam, 4u);
}

TEST_F(SimUiTest, FiltersPickByWindowAndMessageRange) {
  TestWindow a(*p), b(*p);
  a.Create(kClass);
  b.Create(kClass);
  ui.PostMessageW(a.hwnd(), WM_USER + 1, 0, 0);
  ui.PostMessageW(b.hwnd(), WM_USER + 2, 0, 0);
  ui.PostMessageW(nullptr, WM_USER + 3, 0, 0);
  ui.PostMessageW(a.hwnd(), WM_USER + 4, 0, 0);
  MSG msg{};
  ASSERT_EQ(ui.GetMessageW(&msg, b.hwnd(), 0, 0), 1);
  EXPECT_EQ(msg.message, WM_USER + 2);
  ASSERT_TRUE(ui.PeekMessageW(&msg, reinterpret_cast<HWND>(static_cast<LONG_PTR>(-1)), 0, 0,
                              PM_REMOVE));  // thread messages only
  EXPECT_EQ(msg.message, WM_USER + 3);
  ASSERT_EQ(ui.GetMessageW(&msg, nullptr, WM_USER + 4, WM_USER + 10), 1);
  EXPECT_EQ(msg.message, WM_USER + 4);
  EXPECT_FALSE(ui.PeekMessageW(&msg, b.hwnd(), 0, 0, PM_REMOVE));
  ASSERT_TRUE(ui.PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE));
  EXPECT_EQ(msg.message, WM_USER + 1);
  ASSERT_TRUE(ui.PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));  // still there
  EXPECT_EQ(msg.message, WM_USER + 1);
  EXPECT_EQ(ui.GetMessageW(&msg, reinterpret_cast<HWND>(0x7777), 0, 0), -1);
  EXPECT_EQ(Error(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
}

TEST_F(SimUiTest, PumpingRecordsAQuitWithoutDispatchingIt) {
  TestWindow w(*p);
  HWND h = w.Create(kClass);
  ui.PostMessageW(h, WM_USER, 0, 0);
  ui.PostQuitMessage(7);
  EXPECT_FALSE(wm.QuitPosted(Me()).has_value());
  m.RunUntilIdle();
  EXPECT_EQ(w.Count(WM_USER), 1u);
  EXPECT_EQ(w.Count(WM_QUIT), 0u);
  EXPECT_EQ(wm.QuitPosted(Me()), 7);
  wm.ClearQuit(Me());
  EXPECT_FALSE(wm.QuitPosted(Me()).has_value());
}

// ---- Window timers ----------------------------------------------------------------------------

std::vector<std::pair<UINT_PTR, ULONGLONG>> Ticks(const TestWindow& w) {
  std::vector<std::pair<UINT_PTR, ULONGLONG>> r;
  for (const auto& t : w.Of(WM_TIMER)) r.emplace_back(t.wp, t.timeMs);
  return r;
}

TEST_F(SimUiTest, TimersFireInTimeOrderOnTheVirtualClock) {
  TestWindow w(*p);
  HWND h = w.Create(kClass);
  EXPECT_EQ(ui.SetTimer(h, 1, 100, nullptr), 1u);
  EXPECT_EQ(ui.SetTimer(h, 2, 250, nullptr), 2u);
  m.AdvanceBy(450);
  const std::vector<std::pair<UINT_PTR, ULONGLONG>> expected{
      {1, 100}, {1, 200}, {2, 250}, {1, 300}, {1, 400}};
  EXPECT_EQ(Ticks(w), expected);
}

TEST_F(SimUiTest, TimerElapseBelowTheMinimumBecomesTenMilliseconds) {
  TestWindow w(*p);
  HWND h = w.Create(kClass);
  ui.SetTimer(h, 3, 1, nullptr);
  m.AdvanceBy(25);
  const std::vector<std::pair<UINT_PTR, ULONGLONG>> expected{{3, 10}, {3, 20}};
  EXPECT_EQ(Ticks(w), expected);
}

TEST_F(SimUiTest, SettingTheSameIdAgainRestartsTheTimer) {
  TestWindow w(*p);
  HWND h = w.Create(kClass);
  ui.SetTimer(h, 5, 100, nullptr);
  m.AdvanceBy(60);
  ui.SetTimer(h, 5, 100, nullptr);
  m.AdvanceBy(150);
  const std::vector<std::pair<UINT_PTR, ULONGLONG>> expected{{5, 160}};
  EXPECT_EQ(Ticks(w), expected);
  EXPECT_EQ(wm.TimerIds(h), (std::vector<UINT_PTR>{5}));
}

TEST_F(SimUiTest, KillTimerDropsAPendingTickAndHighIdsAreOrdinary) {
  TestWindow w(*p);
  HWND h = w.Create(kClass);
  ui.SetTimer(h, 9999, 100, nullptr);
  ui.SetTimer(h, 10000, 100, nullptr);
  m.GetClock().AdvanceBy(100);  // both ticks wait in the queue
  MSG msg{};
  ASSERT_TRUE(ui.PeekMessageW(&msg, h, WM_TIMER, WM_TIMER, PM_NOREMOVE));
  EXPECT_EQ(msg.wParam, 9999u);
  EXPECT_TRUE(ui.KillTimer(h, 9999));
  EXPECT_FALSE(ui.KillTimer(h, 9999));
  m.RunUntilIdle();
  const std::vector<std::pair<UINT_PTR, ULONGLONG>> expected{{10000, 100}};
  EXPECT_EQ(Ticks(w), expected);
  EXPECT_EQ(wm.TimerIds(h), (std::vector<UINT_PTR>{10000}));
}

TEST_F(SimUiTest, AtMostOneTickWaitsPerTimer) {
  TestWindow w(*p);
  HWND h = w.Create(kClass);
  ui.SetTimer(h, 1, 100, nullptr);
  m.GetClock().AdvanceBy(1000);  // ten periods pass unread
  m.RunUntilIdle();
  EXPECT_EQ(w.Count(WM_TIMER), 1u);
  m.AdvanceBy(100);
  EXPECT_EQ(w.Count(WM_TIMER), 2u);
}

TEST_F(SimUiTest, PostedMessagesGoBeforeAnEarlierTick) {
  TestWindow w(*p);
  HWND h = w.Create(kClass);
  ui.SetTimer(h, 1, 10, nullptr);
  m.GetClock().AdvanceBy(10);
  ui.PostMessageW(h, WM_USER, 0, 0);
  m.RunUntilIdle();
  EXPECT_EQ(Msgs(w), (std::vector<UINT>{WM_NCCREATE, WM_CREATE, WM_USER, WM_TIMER}));
}

std::vector<std::tuple<HWND, UINT_PTR, DWORD>> g_timerProcCalls;
void RecordTimerProc(HWND h, UINT, UINT_PTR id, DWORD time) {
  g_timerProcCalls.emplace_back(h, id, time);
}

TEST_F(SimUiTest, ATimerWithACallbackCallsItInsteadOfTheWindow) {
  g_timerProcCalls.clear();
  TestWindow w(*p);
  HWND h = w.Create(kClass);
  ui.SetTimer(h, 4, 50, &RecordTimerProc);
  const UINT_PTR threadTimer = ui.SetTimer(nullptr, 0, 30, &RecordTimerProc);
  EXPECT_NE(threadTimer, 0u);
  m.AdvanceBy(100);
  EXPECT_EQ(w.Count(WM_TIMER), 0u);
  const std::vector<std::tuple<HWND, UINT_PTR, DWORD>> expected{{nullptr, threadTimer, 30},
                                                                {h, 4, 50},
                                                                {nullptr, threadTimer, 60},
                                                                {nullptr, threadTimer, 90},
                                                                {h, 4, 100}};
  EXPECT_EQ(g_timerProcCalls, expected);
  EXPECT_TRUE(ui.KillTimer(nullptr, threadTimer));
}

TEST_F(SimUiTest, ATickWakesTheOwnerThreadBlockedInGetMessage) {
  simtest::UiThread thread(*p);
  TestWindow w(*p);
  thread.Run([&] {
    w.Create(kClass);
    ui.SetTimer(w.hwnd(), 1, 100, nullptr);
  });
  m.AdvanceBy(100);  // the tick is pending for the other thread, which wakes up
  ASSERT_TRUE(WaitFor([&] { return w.Count(WM_TIMER) == 1; }));
  EXPECT_EQ(w.Of(WM_TIMER)[0].tid, thread.Tid());
}

// ---- Registered messages, broadcasts, FindWindow ------------------------------------------------

TEST_F(SimUiTest, RegisteredMessagesAreSharedAcrossProcessesAndIgnoreCase) {
  auto other = m.CreateProcess({.sessionId = 2});
  const UINT a = ui.RegisterWindowMessageW(L"VdSettingsChanged");
  EXPECT_GE(a, 0xC000u);
  EXPECT_LE(a, 0xFFFFu);
  EXPECT_EQ(other->Ui().RegisterWindowMessageW(L"vdsettingschanged"), a);
  EXPECT_NE(ui.RegisterWindowMessageW(L"TaskbarCreated"), a);
  EXPECT_EQ(ui.RegisterWindowMessageW(L""), 0u);
  EXPECT_EQ(Error(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST_F(SimUiTest, BroadcastsReachTopLevelWindowsOfTheSessionOnly) {
  const DWORD s2 = m.Sessions().CreateSession({.userName = L"bob", .remote = true});
  auto sibling = m.CreateProcess({.sessionId = 1});
  auto remote = m.CreateProcess({.sessionId = s2});
  TestWindow::RegisterClass(*sibling, kClass);
  TestWindow::RegisterClass(*remote, kClass);
  TestWindow a(*p), messageOnly(*p), child(*p), b(*sibling), c(*remote);
  a.Create(kClass);
  messageOnly.Create(kClass, L"", 0, HWND_MESSAGE);
  child.Create(kClass, L"", WS_CHILD, a.hwnd());
  b.Create(kClass);
  c.Create(kClass);
  const UINT msg = ui.RegisterWindowMessageW(L"VDNX_BROADCAST_NOTIFICATION");

  EXPECT_TRUE(ui.PostMessageW(HWND_BROADCAST, msg, 8, 99));
  m.RunUntilIdle();
  ASSERT_EQ(a.Count(msg), 1u);
  EXPECT_EQ(a.Of(msg)[0].wp, 8u);
  EXPECT_EQ(a.Of(msg)[0].lp, 99);
  EXPECT_EQ(b.Count(msg), 1u);
  EXPECT_EQ(messageOnly.Count(msg), 0u);
  EXPECT_EQ(child.Count(msg), 0u);
  EXPECT_EQ(c.Count(msg), 0u);

  ui.SendMessageW(HWND_BROADCAST, msg, 5, 0);
  EXPECT_EQ(a.Count(msg), 2u);
  EXPECT_EQ(b.Count(msg), 2u);
  EXPECT_EQ(messageOnly.Count(msg) + child.Count(msg) + c.Count(msg), 0u);

  remote->Ui().PostMessageW(HWND_BROADCAST, msg, 1, 0);
  m.RunUntilIdle();
  EXPECT_EQ(c.Count(msg), 1u);
  EXPECT_EQ(a.Count(msg), 2u);

  // A handle from another session means nothing here.
  EXPECT_FALSE(ui.PostMessageW(c.hwnd(), msg, 0, 0));
  EXPECT_EQ(Error(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
}

TEST_F(SimUiTest, FindWindowLooksAtTopLevelWindowsOfTheCallersSession) {
  const DWORD s2 = m.Sessions().CreateSession({.userName = L"bob", .remote = true});
  auto remote = m.CreateProcess({.sessionId = s2});
  TestWindow::RegisterClass(*remote, kClass);
  const ATOM hidden = TestWindow::RegisterClass(*p, L"Hidden Sink");
  TestWindow a(*p), c(*remote), sink(*p);
  a.Create(kClass, L"Veridane Classic5.x Agent Window");
  c.Create(kClass, L"Veridane Classic5.x Agent Window");
  sink.Create(L"Hidden Sink", L"", 0, HWND_MESSAGE);

  EXPECT_EQ(ui.FindWindowW(kClass, nullptr), a.hwnd());
  EXPECT_EQ(remote->Ui().FindWindowW(kClass, nullptr), c.hwnd());
  EXPECT_EQ(wm.WindowsOfClass(s2, kClass), (std::vector<HWND>{c.hwnd()}));
  EXPECT_EQ(ui.FindWindowW(nullptr, L"VERIDANE CLASSIC5.X AGENT WINDOW"), a.hwnd());
  EXPECT_EQ(ui.FindWindowW(kClass, L"another title"), nullptr);
  EXPECT_EQ(ui.FindWindowW(L"Hidden Sink", nullptr), nullptr);  // message-only
  EXPECT_EQ(ui.FindWindowW(reinterpret_cast<LPCWSTR>(static_cast<ULONG_PTR>(hidden)), nullptr),
            nullptr);
  const HWND tray = ui.FindWindowW(L"Shell_TrayWnd", nullptr);
  EXPECT_NE(tray, nullptr);
  EXPECT_EQ(tray, m.Sessions().ShellWindow(1));
  EXPECT_NE(remote->Ui().FindWindowW(L"Shell_TrayWnd", nullptr), tray);
}

// ---- Idle drivers: a real message loop on virtual time ----------------------------------------

// Five one-second ticks, then the window closes itself and its WM_DESTROY ends the loop.
struct ClosingAfterFiveTicks {
  explicit ClosingAfterFiveTicks(sim::Process& p) : w(p) {
    platform::IUi& ui = p.Ui();
    w.SetHandler([&ui, this](HWND h, UINT msg, WPARAM, LPARAM) -> std::optional<LRESULT> {
      if (msg == WM_TIMER && ++ticks == 5) ui.PostMessageW(h, WM_CLOSE, 0, 0);
      if (msg == WM_DESTROY) ui.PostQuitMessage(9);
      return std::nullopt;
    });
    w.Create(kClass);
    ui.SetTimer(w.hwnd(), 1, 1000, nullptr);
  }
  TestWindow w;
  int ticks = 0;
};

int RunLoop(platform::IUi& ui) {
  MSG msg{};
  BOOL r;
  while ((r = ui.GetMessageW(&msg, nullptr, 0, 0)) != 0) {
    if (r == -1) return -1;
    ui.TranslateMessage(&msg);
    ui.DispatchMessageW(&msg);
  }
  return static_cast<int>(msg.wParam);
}

TEST_F(SimUiTest, AnIdleDriverRunsARealMessageLoopOnVirtualTime) {
  ClosingAfterFiveTicks agent(*p);
  int calls = 0;
  wm.SetIdleDriver(Me(), [&] {
    ++calls;
    return wm.StepClock(60000);
  });
  EXPECT_EQ(RunLoop(ui), 9);
  wm.SetIdleDriver(Me(), {});
  EXPECT_EQ(m.GetClock().NowMs(), 5000u);
  EXPECT_EQ(agent.ticks, 5);
  EXPECT_GE(calls, 5);
  EXPECT_FALSE(ui.IsWindow(agent.w.hwnd()));
}

TEST_F(SimUiTest, AMachineAdvanceInsideTheDriverLeavesTheMessagesToTheLoop) {
  ClosingAfterFiveTicks agent(*p);
  wm.SetMachineIdleDriver([&] {
    m.AdvanceBy(1000);  // would pump: inside the loop's own GetMessageW it must not
    return true;
  });
  EXPECT_EQ(RunLoop(ui), 9);
  wm.SetMachineIdleDriver({});
  EXPECT_EQ(m.GetClock().NowMs(), 5000u);
  EXPECT_FALSE(wm.QuitPosted(Me()).has_value());  // the loop itself saw the quit
}

TEST_F(SimUiTest, ADriverWithNothingToDoLetsGetMessageBlock) {
  TestWindow w(*p);
  HWND h = w.Create(kClass);
  const DWORD me = Me();
  std::atomic<int> calls{0};
  wm.SetIdleDriver(me, [&] {
    ++calls;
    return false;
  });
  std::thread poster([&] {
    EXPECT_TRUE(WaitFor([&] { return wm.IsThreadWaiting(me); }));
    ui.PostMessageW(h, WM_USER, 0, 0);
  });
  MSG msg{};
  EXPECT_EQ(ui.GetMessageW(&msg, nullptr, 0, 0), 1);
  poster.join();
  wm.SetIdleDriver(me, {});
  EXPECT_EQ(msg.message, WM_USER);
  EXPECT_EQ(calls, 1);
}

// ---- Delivery order as a table ------------------------------------------------------------------

TEST_F(SimUiTest, TheDeliveryLogGivesTheMessageSequence) {
  DeliveryLog log(wm);
  TestWindow w(*p);
  w.SetHandler([&](HWND h, UINT msg, WPARAM, LPARAM) -> std::optional<LRESULT> {
    if (msg == WM_CREATE) {
      ui.SetTimer(h, 9999, 500, nullptr);
      ui.PostMessageW(h, WM_USER + 301, 0, 0);
    }
    if (msg == WM_USER + 301) ui.SendMessageW(h, WM_USER + 500, 0, 0);
    return std::nullopt;
  });
  HWND h = w.Create(kClass);
  m.AdvanceBy(500);
  ui.DestroyWindow(h);

  struct Row {
    UINT msg;
    Via via;
    WPARAM wp;
  };
  const Row expected[] = {
      {WM_NCCREATE, Via::Sent, 0},   {WM_CREATE, Via::Sent, 0},    {WM_USER + 301, Via::Posted, 0},
      {WM_USER + 500, Via::Sent, 0}, {WM_TIMER, Via::Timer, 9999}, {WM_DESTROY, Via::Sent, 0},
      {WM_NCDESTROY, Via::Sent, 0},
  };
  std::vector<sim::Delivery> got;
  for (const auto& d : log.Take()) {
    if (d.hwnd == h) got.push_back(d);
  }
  ASSERT_EQ(got.size(), std::size(expected));
  for (size_t i = 0; i < got.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(got[i].message, expected[i].msg);
    EXPECT_EQ(got[i].via, expected[i].via);
    EXPECT_EQ(got[i].wParam, expected[i].wp);
    EXPECT_EQ(got[i].threadId, Me());
  }
}

// ---- Process end, desktop bits, metrics
// ----------------------------------------------------------

TEST_F(SimUiTest, AnEndedProcessLosesItsWindowsClassesAndTimersSilently) {
  auto doomed = m.CreateProcess({});
  TestWindow::RegisterClass(*doomed, L"Doomed Class");
  TestWindow w(*doomed);
  HWND h = w.Create(L"Doomed Class");
  doomed->Ui().SetTimer(h, 1, 100, nullptr);
  const DWORD pid = doomed->Pid();
  DeliveryLog log(wm);
  doomed.reset();
  EXPECT_TRUE(log.Take().empty());  // nothing is sent to a dead process
  EXPECT_FALSE(ui.IsWindow(h));
  EXPECT_TRUE(wm.WindowsOfProcess(pid).empty());
  EXPECT_EQ(ui.FindWindowW(L"Doomed Class", nullptr), nullptr);
  m.AdvanceBy(1000);
  EXPECT_EQ(w.Count(WM_TIMER), 0u);
}

TEST_F(SimUiTest, ForegroundFocusAndVisibilityAreRecordedPerSession) {
  TestWindow w(*p);
  HWND h = w.Create(kClass);
  EXPECT_FALSE(wm.Info(h)->visible);
  EXPECT_FALSE(ui.ShowWindow(h, SW_SHOW));
  EXPECT_TRUE(wm.Info(h)->visible);
  EXPECT_TRUE(ui.ShowWindow(h, SW_HIDE));
  EXPECT_FALSE(wm.Info(h)->visible);

  EXPECT_TRUE(ui.SetForegroundWindow(h));
  EXPECT_EQ(ui.GetForegroundWindow(), h);
  const DWORD s2 = m.Sessions().CreateSession({.userName = L"bob", .remote = true});
  auto remote = m.CreateProcess({.sessionId = s2});
  EXPECT_EQ(remote->Ui().GetForegroundWindow(), nullptr);

  const HWND tray = ui.FindWindowW(L"Shell_TrayWnd", nullptr);
  EXPECT_EQ(ui.SetFocus(tray), nullptr);
  EXPECT_EQ(m.GetDesktop().Focus(1), tray);
  EXPECT_EQ(ui.SetFocus(h), tray);
  EXPECT_EQ(m.GetDesktop().Texts(1, sim::desktop_kind::kWindow),
            (std::vector<std::wstring>{std::wstring(L"foreground ") + kClass,
                                       L"focus Shell_TrayWnd", std::wstring(L"focus ") + kClass}));
  ui.DestroyWindow(h);
  EXPECT_EQ(ui.GetForegroundWindow(), nullptr);
  EXPECT_EQ(m.GetDesktop().Focus(1), nullptr);
}

TEST_F(SimUiTest, MetricsCursorAndMessageFilter) {
  EXPECT_EQ(ui.GetSystemMetrics(SM_CXSCREEN), 1920);
  EXPECT_EQ(ui.GetSystemMetrics(SM_CYSCREEN), 1080);
  EXPECT_EQ(ui.GetSystemMetrics(SM_CLEANBOOT), 0);
  EXPECT_EQ(ui.GetSystemMetrics(SM_REMOTESESSION), 0);
  sim::MachineDescription safeBoot;
  safeBoot.cleanBoot = 1;
  sim::Machine safeMode(safeBoot);
  EXPECT_EQ(safeMode.CreateProcess({})->Ui().GetSystemMetrics(SM_CLEANBOOT), 1);
  const DWORD s2 = m.Sessions().CreateSession({.userName = L"bob", .remote = true});
  EXPECT_EQ(m.CreateProcess({.sessionId = s2})->Ui().GetSystemMetrics(SM_REMOTESESSION), 1);

  EXPECT_NE(ui.LoadCursorW(nullptr, IDC_ARROW), nullptr);

  const UINT msg = ui.RegisterWindowMessageW(L"VDNX_BROADCAST_NOTIFICATION");
  EXPECT_TRUE(ui.ChangeWindowMessageFilter(msg, MSGFLT_ADD));
  EXPECT_EQ(wm.AllowedMessages(p->Pid()), (std::set<UINT>{msg}));
  EXPECT_TRUE(ui.ChangeWindowMessageFilter(msg, MSGFLT_REMOVE));
  EXPECT_TRUE(wm.AllowedMessages(p->Pid()).empty());
  EXPECT_FALSE(ui.ChangeWindowMessageFilter(msg, 7));
}

}  // namespace
