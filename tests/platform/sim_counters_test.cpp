// The per-process counts of live objects and wake-ups that the long-run and idle tests
// rely on: each must rise with what the process makes, fall with what it frees, and see
// nothing of another process.
#include <gtest/gtest.h>

#include "platform/sim/machine.h"
#include "platform/sim/process.h"
#include "platform/sim/process_counters.h"
#include "platform/sim/registry_store.h"

namespace {

void CALLBACK Ignore(PVOID, BOOLEAN) {}

class SimCountersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = agent->Ui().DefWindowProcAddress();
    wc.lpszClassName = L"CounterTest";
    ASSERT_NE(agent->Ui().RegisterClassExW(&wc), 0);
    machine.Registry().SetDword(L"HKLM\\SYSTEM\\CounterTest", L"On", 1);
  }
  HWND NewWindow() {
    return agent->Ui().CreateWindowExW(0, L"CounterTest", L"", WS_POPUP, 0, 0, 1, 1, nullptr,
                                       nullptr, nullptr, nullptr);
  }

  sim::Machine machine;
  std::unique_ptr<sim::Process> agent = machine.CreateProcess({.sessionId = 1});
  std::unique_ptr<sim::Process> other = machine.CreateProcess({.sessionId = 1});
};

TEST_F(SimCountersTest, LiveObjectsRiseWithWhatIsMadeAndFallWithWhatIsFreed) {
  auto& k = agent->Kernel();
  const sim::LiveCounts empty = sim::LiveObjects(*agent);
  EXPECT_EQ(empty, sim::LiveCounts{}) << sim::Describe(empty);

  HWND w = NewWindow();
  ASSERT_TRUE(w);
  ASSERT_EQ(agent->Ui().SetTimer(w, 7, 1000, nullptr), 7u);
  HANDLE ev = k.CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HKEY key = nullptr;
  ASSERT_EQ(agent->Registry().RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CounterTest", 0, KEY_READ,
                                            &key),
            ERROR_SUCCESS);
  HANDLE once = nullptr, wait = nullptr;
  ASSERT_TRUE(k.CreateTimerQueueTimer(&once, nullptr, &Ignore, nullptr, 10, 0, 0));
  ASSERT_TRUE(k.RegisterWaitForSingleObject(&wait, ev, &Ignore, nullptr, INFINITE, 0));
  // Another process's objects are its own.
  HANDLE foreign = other->Kernel().CreateEventW(nullptr, TRUE, FALSE, nullptr);

  machine.AdvanceBy(50);  // the one-shot timer fires: it still holds its handle
  sim::LiveCounts made = empty;
  made.windows = 1;
  made.windowTimers = 1;
  made.handles = 1;
  made.registryKeys = 1;
  made.poolTimers = 1;
  made.poolWaits = 1;
  EXPECT_EQ(sim::LiveObjects(*agent), made) << sim::Describe(sim::LiveObjects(*agent));
  EXPECT_EQ(sim::Difference(empty, sim::LiveObjects(*agent)),
            "handles 0 -> 1; registryKeys 0 -> 1; windows 0 -> 1; windowTimers 0 -> 1; "
            "poolTimers 0 -> 1; poolWaits 0 -> 1");

  EXPECT_TRUE(agent->Ui().KillTimer(w, 7));
  EXPECT_TRUE(k.DeleteTimerQueueTimer(nullptr, once, INVALID_HANDLE_VALUE));
  EXPECT_TRUE(k.UnregisterWaitEx(wait, INVALID_HANDLE_VALUE));
  EXPECT_EQ(agent->Registry().RegCloseKey(key), ERROR_SUCCESS);
  EXPECT_TRUE(k.CloseHandle(ev));
  EXPECT_TRUE(agent->Ui().DestroyWindow(w));
  EXPECT_EQ(sim::LiveObjects(*agent), empty) << sim::Difference(empty, sim::LiveObjects(*agent));
  EXPECT_EQ(sim::LiveObjects(*other).handles, 1u);
  other->Kernel().CloseHandle(foreign);
}

TEST_F(SimCountersTest, WakeupsCountEachKindOfWakingOnce) {
  auto& k = agent->Kernel();
  HWND w = NewWindow();
  ASSERT_TRUE(w);
  const sim::WakeCounts atStart = sim::Wakeups(*agent);  // creation messages were sent

  // A window timer of 1 s over 5 s, a periodic timer-queue timer of 2 s, and a wait whose
  // event is signalled twice.
  agent->Ui().SetTimer(w, 1, 1000, nullptr);
  HANDLE tick = nullptr, wait = nullptr;
  ASSERT_TRUE(k.CreateTimerQueueTimer(&tick, nullptr, &Ignore, nullptr, 2000, 2000, 0));
  HANDLE ev = k.CreateEventW(nullptr, FALSE, FALSE, nullptr);
  ASSERT_TRUE(k.RegisterWaitForSingleObject(&wait, ev, &Ignore, nullptr, INFINITE, 0));
  machine.AdvanceBy(5000);
  k.SetEvent(ev);
  machine.RunUntilIdle();
  k.SetEvent(ev);
  machine.RunUntilIdle();
  agent->Ui().PostMessageW(w, WM_USER, 0, 0);
  machine.RunUntilIdle();

  sim::WakeCounts expected = atStart;
  expected.windowTimers += 5;
  expected.poolTimers += 2;
  expected.poolWaits += 2;
  expected.messages += 1;
  EXPECT_EQ(sim::Wakeups(*agent), expected) << sim::Describe(sim::Wakeups(*agent));

  // A wait that is satisfied at once wakes nobody; one that lets time pass does, as does a
  // Sleep and a message wait with a time-out.
  k.UnregisterWaitEx(wait, INVALID_HANDLE_VALUE);
  k.SetEvent(ev);
  ASSERT_EQ(k.WaitForSingleObject(ev, 100), WAIT_OBJECT_0);
  EXPECT_EQ(sim::Wakeups(*agent).waitsEnded, expected.waitsEnded);
  EXPECT_EQ(k.WaitForSingleObject(ev, 100), static_cast<DWORD>(WAIT_TIMEOUT));
  k.Sleep(10);
  agent->Ui().KillTimer(w, 1);
  agent->Ui().MsgWaitForMultipleObjects(1, &ev, FALSE, 10, QS_ALLINPUT);
  EXPECT_EQ(sim::Wakeups(*agent).waitsEnded, expected.waitsEnded + 3);
  EXPECT_EQ(sim::Wakeups(*other), sim::WakeCounts{});

  k.DeleteTimerQueueTimer(nullptr, tick, INVALID_HANDLE_VALUE);
  k.CloseHandle(ev);
  agent->Ui().DestroyWindow(w);
}

}  // namespace
