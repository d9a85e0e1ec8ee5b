// The registry watcher on the simulated machine. Its thread blocks in a platform wait, so
// the machine's idle-waiting covers it (sim/thread_pool.h): a registry change wakes it and
// RunUntilIdle returns once it has called back and waits again, or has ended. What idle-
// waiting cannot see is a thread that has not blocked yet: after each Start the tests wait
// for the thread to reach its wait (WaitUntilWatching), or for a thread that never blocks
// to end (WaitForTrace), with a real-time bound that only guards against a hang.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/sim/machine.h"
#include "platform/sim/object_manager.h"
#include "platform/sim/process.h"
#include "platform/sim/registry_store.h"
#include "support/registry_watcher.h"
#include "support/result_error.h"
#include "support/trace/trace.h"
#include "support/trace/trace_sink.h"
#include "tests/testing/forwarding_registry.h"

namespace {

constexpr const wchar_t* kWatched = L"HKLM\\SOFTWARE\\Veridane\\Policies";
constexpr const wchar_t* kHost = L"HKLM\\SOFTWARE\\Veridane\\VDHost";

// What the watcher asks the registry for: the filter and sub-tree flag of every
// subscription, and the event it waits on (so a test can see the thread blocked on it).
class RecordingRegistry : public testing_support::ForwardingRegistry {
 public:
  using ForwardingRegistry::ForwardingRegistry;
  struct Subscription {
    BOOL subtree;
    DWORD filter;
    BOOL async;
    HANDLE event;
  };
  std::vector<Subscription> Subscriptions() {
    std::lock_guard lk(m_mu);
    return m_subs;
  }

  LSTATUS RegNotifyChangeKeyValue(HKEY k, BOOL subtree, DWORD filter, HANDLE ev,
                                  BOOL async) override {
    {
      std::lock_guard lk(m_mu);
      m_subs.push_back({subtree, filter, async, ev});
    }
    return inner.RegNotifyChangeKeyValue(k, subtree, filter, ev, async);
  }

 private:
  std::mutex m_mu;
  std::vector<Subscription> m_subs;
};

class RegistryWatcherTest : public ::testing::Test {
 protected:
  void SetUp() override {
    VDTraceNS::Bind(nullptr);
    reg().CreateKey(kWatched);
    reg().CreateKey(kHost);
  }
  sim::RegistryStore& reg() { return machine.Registry(); }
  HKEY Open(const wchar_t* path = L"SOFTWARE\\Veridane\\Policies", REGSAM access = KEY_READ) {
    HKEY key = nullptr;
    EXPECT_EQ(agent->Registry().RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, access | KEY_WOW64_64KEY,
                                              &key),
              ERROR_SUCCESS);
    return key;
  }
  std::unique_ptr<CRegKeyWatcher> Make() {
    return std::make_unique<CRegKeyWatcher>(recording, agent->Kernel(), agent->Ui());
  }
  std::function<void()> Counter() {
    return [this] { ++calls; };  // the test reads it only after RunUntilIdle
  }
  // Returns once the newest subscription's thread waits on its event.
  void WaitUntilWatching() {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    for (;;) {
      const auto subs = recording.Subscriptions();
      if (!subs.empty() && machine.Objects().WaiterCount(agent->Pid(), subs.back().event) > 0)
        return;
      ASSERT_LT(std::chrono::steady_clock::now(), until) << "the watcher never waited";
      std::this_thread::yield();
    }
  }
  std::unique_ptr<CRegKeyWatcher> Watching(bool subtree) {
    auto w = Make();
    w->Watch(Open(), subtree, Counter());
    EXPECT_TRUE(w->Start());
    WaitUntilWatching();
    return w;
  }
  // Waits for a thread that never blocks (it fails first) to trace `text`.
  void WaitForTrace(const std::string& text) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (Count(text) == 0) {
      ASSERT_LT(std::chrono::steady_clock::now(), until) << "never traced: " << text;
      std::this_thread::yield();
    }
  }
  size_t Count(const std::string& text) {
    const auto records = sink.Records();
    return static_cast<size_t>(std::count_if(records.begin(), records.end(), [&](const auto& r) {
      return std::string(1, r.type) + r.text == text;
    }));
  }

  sim::Machine machine;
  std::unique_ptr<sim::Process> agent = machine.CreateProcess({});
  RecordingRegistry recording{agent->Registry()};
  VDTraceNS::CRecordingSink sink;
  std::atomic<int> calls{0};
};

TEST_F(RegistryWatcherTest, AValueChangeCallsBackAndTheWatchIsArmedAgain) {
  auto w = Watching(false);
  reg().SetDword(kWatched, L"LockUponSmartcardRemoval", 1);
  machine.RunUntilIdle();
  EXPECT_EQ(calls.load(), 1);
  // Re-subscribed after the callback: the next change is reported too.
  reg().SetDword(kWatched, L"LockUponSmartcardRemoval", 0);
  machine.RunUntilIdle();
  EXPECT_EQ(calls.load(), 2);
  w->Stop();
  EXPECT_EQ(Count("URegistry key changed"), 2u);
  EXPECT_EQ(recording.Subscriptions().size(), 3u);
}

TEST_F(RegistryWatcherTest, StoppingAWaitingWatcherEndsItsThreadWithoutACallback) {
  auto w = Watching(false);
  reg().SetDword(kWatched, L"A", 1);
  machine.RunUntilIdle();
  ASSERT_EQ(calls.load(), 1);
  // Closing the key wakes the thread; that wake-up is no change.
  w->Stop();
  EXPECT_FALSE(w->IsStarted());
  EXPECT_EQ(calls.load(), 1);
  EXPECT_EQ(Count("URegistry key changed"), 1u);
  EXPECT_EQ(Count("UStopping"), 1u);
  EXPECT_EQ(Count("UStopped"), 1u);
  EXPECT_EQ(Count("<[registryWatcher]()"), 1u) << "the thread's scope has ended";
  // The key is closed: later changes reach nobody, and stopping again is harmless.
  reg().SetDword(kWatched, L"A", 2);
  machine.RunUntilIdle();
  w->Stop();
  EXPECT_EQ(calls.load(), 1);
  EXPECT_EQ(Count("UStopping"), 1u);
}

TEST_F(RegistryWatcherTest, ASubTreeWatchReportsSubKeyValuesAndSubKeysComingAndGoing) {
  auto w = Watching(true);
  // One store operation each: a change that also creates a key would be two changes, which
  // the watcher may report once or twice.
  const std::wstring sub = std::wstring(kWatched) + L"\\Applications";
  const std::function<void()> changes[] = {
      [&] { reg().CreateKey(sub); },
      [&] { reg().SetDword(sub, L"X", 1); },
      [&] { reg().DeleteValue(sub, L"X"); },
      [&] { reg().DeleteKey(sub); },
  };
  int expected = 0;
  for (const auto& change : changes) {
    change();
    machine.RunUntilIdle();
    EXPECT_EQ(calls.load(), ++expected) << "change " << expected;
  }
  w->Stop();
  EXPECT_EQ(calls.load(), expected);
}

TEST_F(RegistryWatcherTest, WatchReplacesTheKeyAndTheOldOneIsNoLongerWatched) {
  auto w = Watching(false);
  int second = 0;
  w->Watch(Open(L"SOFTWARE\\Veridane\\VDHost"), false, [&] { ++second; });
  EXPECT_FALSE(w->IsStarted());
  ASSERT_TRUE(w->Start());
  EXPECT_FALSE(w->Start()) << "one thread per watcher";
  WaitUntilWatching();
  reg().SetDword(kWatched, L"A", 1);  // the old key: closed by Watch
  reg().SetDword(kHost, L"WBFDevice", 1);
  machine.RunUntilIdle();
  w.reset();  // the destructor stops it
  EXPECT_EQ(calls.load(), 0);
  EXPECT_EQ(second, 1);
}

TEST_F(RegistryWatcherTest, AKeyThatCannotBeWatchedEndsTheThreadAfterATrace) {
  auto w = Make();
  w->Watch(Open(L"SOFTWARE\\Veridane\\Policies", KEY_QUERY_VALUE), false, Counter());
  ASSERT_TRUE(w->Start());
  WaitForTrace("<[registryWatcher]()");
  EXPECT_EQ(Count("E-2147024891 Failed to subscribe"), 1u);  // access denied
  w->Stop();
  reg().SetDword(kWatched, L"A", 1);
  machine.RunUntilIdle();
  EXPECT_EQ(calls.load(), 0);
}

TEST_F(RegistryWatcherTest, AThrowingCallbackDoesNotEndTheWatch) {
  auto w = Make();
  w->Watch(Open(), false, [this] {
    ++calls;
    throw CResultError(E_FAIL);
  });
  ASSERT_TRUE(w->Start());
  WaitUntilWatching();
  for (int i = 1; i <= 2; ++i) {
    reg().SetDword(kWatched, L"A", static_cast<DWORD>(i));
    machine.RunUntilIdle();
    EXPECT_EQ(calls.load(), i);
  }
  EXPECT_EQ(Count("E-2147467259 Callback failed"), 2u);
}

TEST_F(RegistryWatcherTest, AKeyAloneIsWatchedForValuesAndASubTreeForNamesToo) {
  for (const bool subtree : {false, true}) Watching(subtree)->Stop();
  const auto subs = recording.Subscriptions();
  ASSERT_EQ(subs.size(), 2u);
  EXPECT_EQ(subs[0].subtree, FALSE);
  EXPECT_EQ(subs[0].filter, DWORD{REG_NOTIFY_CHANGE_LAST_SET});
  EXPECT_EQ(subs[1].subtree, TRUE);
  EXPECT_EQ(subs[1].filter, DWORD{REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET});
  EXPECT_TRUE(subs[0].async && subs[1].async);
}

// ---- The callback and its own watcher ------------------------------------------------------

TEST_F(RegistryWatcherTest, StopFromTheCallbackEndsTheWatchWithoutWaitingForItself) {
  auto w = Make();
  CRegKeyWatcher* self = w.get();
  w->Watch(Open(), false, [this, self] {
    ++calls;
    self->Stop();
  });
  ASSERT_TRUE(w->Start());
  WaitUntilWatching();
  reg().SetDword(kWatched, L"A", 1);
  machine.RunUntilIdle();  // the thread has ended: idle-waiting saw it go
  EXPECT_EQ(calls.load(), 1);
  EXPECT_EQ(Count("UStopping from the watcher's own callback: its thread ends after the callback"),
            1u);
  EXPECT_EQ(Count("<[registryWatcher]()"), 1u);
  EXPECT_EQ(recording.Subscriptions().size(), 1u) << "no new subscription after the stop";
  EXPECT_TRUE(w->IsStarted()) << "joined by the owner, not by itself";
  reg().SetDword(kWatched, L"A", 2);
  machine.RunUntilIdle();
  EXPECT_EQ(calls.load(), 1);
  w->Stop();
  EXPECT_FALSE(w->IsStarted());
}

TEST_F(RegistryWatcherTest, WatchFromTheCallbackTakesTheNewKeyForTheNextStart) {
  auto w = Make();
  CRegKeyWatcher* self = w.get();
  int host = 0;
  w->Watch(Open(), false, [&, self] {
    ++calls;
    EXPECT_FALSE(self->Start()) << "not from the watcher's own thread";
    self->Watch(Open(L"SOFTWARE\\Veridane\\VDHost"), false, [&] { ++host; });
  });
  ASSERT_TRUE(w->Start());
  WaitUntilWatching();
  reg().SetDword(kWatched, L"A", 1);
  machine.RunUntilIdle();
  EXPECT_EQ(calls.load(), 1);
  // The old thread has ended; Start joins it and watches the new key.
  ASSERT_TRUE(w->Start());
  WaitUntilWatching();
  reg().SetDword(kWatched, L"A", 2);
  reg().SetDword(kHost, L"WBFDevice", 1);
  machine.RunUntilIdle();
  EXPECT_EQ(calls.load(), 1);
  EXPECT_EQ(host, 1);
  w->Stop();
}

}  // namespace
