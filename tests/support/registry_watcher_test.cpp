// The registry watcher on the simulated machine. The watcher thread blocks on a real wait, so
// every test waits for what it expects (a callback, a trace record) on a condition variable
// with a generous real-time bound; nothing sleeps and hopes.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/sim/machine.h"
#include "platform/sim/process.h"
#include "platform/sim/registry_store.h"
#include "support/registry_watcher.h"
#include "support/result_error.h"
#include "support/trace/trace.h"
#include "support/trace/trace_sink.h"

namespace {

constexpr auto kBound = std::chrono::seconds(20);
constexpr const wchar_t* kWatched = L"HKLM\\SOFTWARE\\Veridane\\Policies";

// Records trace messages and wakes whoever waits for one.
class WaitableSink : public VDTraceNS::ISink {
 public:
  WaitableSink() { VDTraceNS::SetSink(this); }
  ~WaitableSink() override { VDTraceNS::SetSink(nullptr); }
  void OnRecord(DWORD, char type, std::string_view text) override {
    {
      std::lock_guard lk(m_mu);
      m_records.emplace_back(std::string(1, type) + std::string(text));
    }
    m_cv.notify_all();
  }
  std::size_t Count(const std::string& typeAndText) {
    std::lock_guard lk(m_mu);
    std::size_t n = 0;
    for (const auto& r : m_records) n += r == typeAndText;
    return n;
  }
  // Waits until some record starts with `prefix` at least `n` times.
  bool WaitFor(const std::string& prefix, std::size_t n = 1) {
    std::unique_lock lk(m_mu);
    return m_cv.wait_for(lk, kBound, [&] {
      std::size_t seen = 0;
      for (const auto& r : m_records) seen += r.rfind(prefix, 0) == 0;
      return seen >= n;
    });
  }

 private:
  std::mutex m_mu;
  std::condition_variable m_cv;
  std::vector<std::string> m_records;
};

// Counts callbacks; tests wait for a number of them.
class Calls {
 public:
  void operator()() {
    {
      std::lock_guard lk(m_mu);
      ++m_count;
    }
    m_cv.notify_all();
  }
  bool WaitFor(int n) {
    std::unique_lock lk(m_mu);
    return m_cv.wait_for(lk, kBound, [&] { return m_count >= n; });
  }
  int Count() {
    std::lock_guard lk(m_mu);
    return m_count;
  }

 private:
  std::mutex m_mu;
  std::condition_variable m_cv;
  int m_count = 0;
};

class RegistryWatcherTest : public ::testing::Test {
 protected:
  void SetUp() override {
    VDTraceNS::Bind(nullptr);
    reg().CreateKey(kWatched);
  }
  sim::RegistryStore& reg() { return machine.Registry(); }
  HKEY Open(REGSAM access = KEY_READ) {
    HKEY key = nullptr;
    EXPECT_EQ(agent->Registry().RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Veridane\\Policies",
                                              0, access | KEY_WOW64_64KEY, &key),
              ERROR_SUCCESS);
    return key;
  }
  std::function<void()> Counter() {
    return [c = calls] { (*c)(); };
  }
  // Starts a watcher and returns once its thread waits on the key.
  std::unique_ptr<CRegKeyWatcher> Watching(bool subtree) {
    auto w = std::make_unique<CRegKeyWatcher>(*agent, Open(), subtree, Counter());
    EXPECT_TRUE(w->Start());
    EXPECT_TRUE(sink.WaitFor("UWaiting for changes..."));
    return w;
  }

  sim::Machine machine;
  std::unique_ptr<sim::Process> agent = machine.CreateProcess({});
  std::shared_ptr<Calls> calls = std::make_shared<Calls>();
  WaitableSink sink;
};

TEST_F(RegistryWatcherTest, AValueChangeCallsBackAndTheWatchIsArmedAgain) {
  auto w = Watching(false);
  reg().SetDword(kWatched, L"LockUponSmartcardRemoval", 1);
  ASSERT_TRUE(calls->WaitFor(1));
  // Re-subscribed after the callback: the next change is reported too.
  ASSERT_TRUE(sink.WaitFor("UWaiting for changes...", 2));
  reg().SetDword(kWatched, L"LockUponSmartcardRemoval", 0);
  ASSERT_TRUE(calls->WaitFor(2));
  w->Stop();
  EXPECT_EQ(sink.Count("URegistry key changed"), 2u);
}

TEST_F(RegistryWatcherTest, StoppingAWaitingWatcherEndsItsThreadWithoutACallback) {
  auto w = Watching(false);
  reg().SetDword(kWatched, L"A", 1);
  ASSERT_TRUE(calls->WaitFor(1));
  ASSERT_TRUE(sink.WaitFor("UWaiting for changes...", 2));
  // Closing the key wakes the thread; that wake-up is no change.
  w->Stop();
  EXPECT_FALSE(w->IsStarted());
  EXPECT_EQ(calls->Count(), 1);
  EXPECT_EQ(sink.Count("URegistry key changed"), 1u);
  EXPECT_EQ(sink.Count("UStopping"), 1u);
  EXPECT_EQ(sink.Count("UStopped"), 1u);
  EXPECT_EQ(sink.Count("<[registryWatcher]()"), 1u) << "the thread's scope has ended";
  // The key is closed: later changes reach nobody, and stopping again is harmless.
  reg().SetDword(kWatched, L"A", 2);
  w->Stop();
  EXPECT_EQ(calls->Count(), 1);
  EXPECT_EQ(sink.Count("UStopping"), 1u);
}

TEST_F(RegistryWatcherTest, ASubTreeWatchReportsSubKeyValuesAndSubKeysComingAndGoing) {
  auto w = Watching(true);
  // One store operation each: a change that also creates a key would be two changes, which
  // the watcher may report once or twice.
  int expected = 0;
  const std::function<void()> changes[] = {
      [&] { reg().CreateKey(std::wstring(kWatched) + L"\\Applications"); },
      [&] { reg().SetDword(std::wstring(kWatched) + L"\\Applications", L"X", 1); },
      [&] { reg().DeleteValue(std::wstring(kWatched) + L"\\Applications", L"X"); },
      [&] { reg().DeleteKey(std::wstring(kWatched) + L"\\Applications"); },
  };
  for (const auto& change : changes) {
    change();
    ++expected;
    ASSERT_TRUE(calls->WaitFor(expected)) << "change " << expected;
    ASSERT_TRUE(sink.WaitFor("UWaiting for changes...", expected + 1));
  }
  w->Stop();
  EXPECT_EQ(calls->Count(), expected);
}

TEST_F(RegistryWatcherTest, WatchReplacesTheKeyAndTheOldOneIsNoLongerWatched) {
  reg().CreateKey(L"HKLM\\SOFTWARE\\Veridane\\VDHost");
  auto w = Watching(false);
  HKEY host = nullptr;
  ASSERT_EQ(agent->Registry().RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Veridane\\VDHost", 0,
                                            KEY_READ | KEY_WOW64_64KEY, &host),
            ERROR_SUCCESS);
  auto second = std::make_shared<Calls>();
  w->Watch(host, false, [second] { (*second)(); });
  EXPECT_FALSE(w->IsStarted());
  ASSERT_TRUE(w->Start());
  EXPECT_FALSE(w->Start()) << "one thread per watcher";
  ASSERT_TRUE(sink.WaitFor("UWaiting for changes...", 2));
  reg().SetDword(kWatched, L"A", 1);  // the old key: closed by Watch
  reg().SetDword(L"HKLM\\SOFTWARE\\Veridane\\VDHost", L"WBFDevice", 1);
  ASSERT_TRUE(second->WaitFor(1));
  w.reset();  // the destructor stops it
  EXPECT_EQ(calls->Count(), 0);
  EXPECT_EQ(second->Count(), 1);
}

TEST_F(RegistryWatcherTest, AKeyThatCannotBeWatchedEndsTheThreadAfterATrace) {
  CRegKeyWatcher w(*agent, Open(KEY_QUERY_VALUE), false, Counter());
  ASSERT_TRUE(w.Start());
  ASSERT_TRUE(sink.WaitFor("E-2147024891 Failed to subscribe"));  // access denied
  ASSERT_TRUE(sink.WaitFor("<[registryWatcher]()"));
  reg().SetDword(kWatched, L"A", 1);
  w.Stop();
  EXPECT_EQ(calls->Count(), 0);
}

TEST_F(RegistryWatcherTest, AThrowingCallbackDoesNotEndTheWatch) {
  auto thrown = std::make_shared<Calls>();
  CRegKeyWatcher w(*agent, Open(), false, [thrown] {
    (*thrown)();
    throw CResultError(E_FAIL);
  });
  ASSERT_TRUE(w.Start());
  ASSERT_TRUE(sink.WaitFor("UWaiting for changes..."));
  reg().SetDword(kWatched, L"A", 1);
  ASSERT_TRUE(thrown->WaitFor(1));
  ASSERT_TRUE(sink.WaitFor("UWaiting for changes...", 2));
  EXPECT_EQ(sink.Count("E-2147467259 Callback failed"), 1u);
}

// What the watcher asks the registry for: the filter and sub-tree flag of every subscription.
class RecordingRegistry : public platform::IRegistry {
 public:
  explicit RecordingRegistry(platform::IRegistry& inner) : m(inner) {}
  struct Subscription {
    BOOL subtree;
    DWORD filter;
    BOOL async;
  };
  std::vector<Subscription> Subscriptions() {
    std::lock_guard lk(m_mu);
    return m_subs;
  }

  LSTATUS RegNotifyChangeKeyValue(HKEY k, BOOL subtree, DWORD filter, HANDLE ev,
                                  BOOL async) override {
    {
      std::lock_guard lk(m_mu);
      m_subs.push_back({subtree, filter, async});
    }
    return m.RegNotifyChangeKeyValue(k, subtree, filter, ev, async);
  }
  LSTATUS RegOpenKeyExW(HKEY a, LPCWSTR b, DWORD c, REGSAM d, PHKEY e) override {
    return m.RegOpenKeyExW(a, b, c, d, e);
  }
  LSTATUS RegCreateKeyExW(HKEY a, LPCWSTR b, DWORD c, LPWSTR d, DWORD e, REGSAM f,
                          LPSECURITY_ATTRIBUTES g, PHKEY h, LPDWORD i) override {
    return m.RegCreateKeyExW(a, b, c, d, e, f, g, h, i);
  }
  LSTATUS RegCloseKey(HKEY k) override { return m.RegCloseKey(k); }
  LSTATUS RegQueryValueExW(HKEY a, LPCWSTR b, LPDWORD c, LPDWORD d, LPBYTE e, LPDWORD f) override {
    return m.RegQueryValueExW(a, b, c, d, e, f);
  }
  LSTATUS RegSetValueExW(HKEY a, LPCWSTR b, DWORD c, DWORD d, const BYTE* e, DWORD f) override {
    return m.RegSetValueExW(a, b, c, d, e, f);
  }
  LSTATUS RegDeleteValueW(HKEY a, LPCWSTR b) override { return m.RegDeleteValueW(a, b); }
  LSTATUS RegDeleteKeyExW(HKEY a, LPCWSTR b, REGSAM c, DWORD d) override {
    return m.RegDeleteKeyExW(a, b, c, d);
  }
  LSTATUS RegDeleteTreeW(HKEY a, LPCWSTR b) override { return m.RegDeleteTreeW(a, b); }
  LSTATUS RegEnumKeyExW(HKEY a, DWORD b, LPWSTR c, LPDWORD d, LPDWORD e, LPWSTR f, LPDWORD g,
                        FILETIME* h) override {
    return m.RegEnumKeyExW(a, b, c, d, e, f, g, h);
  }
  LSTATUS RegEnumValueW(HKEY a, DWORD b, LPWSTR c, LPDWORD d, LPDWORD e, LPDWORD f, LPBYTE g,
                        LPDWORD h) override {
    return m.RegEnumValueW(a, b, c, d, e, f, g, h);
  }
  LSTATUS RegQueryInfoKeyW(HKEY a, LPWSTR b, LPDWORD c, LPDWORD d, LPDWORD e, LPDWORD f, LPDWORD g,
                           LPDWORD h, LPDWORD i, LPDWORD j, LPDWORD k, FILETIME* l) override {
    return m.RegQueryInfoKeyW(a, b, c, d, e, f, g, h, i, j, k, l);
  }
  BOOL IsWow64Process() override { return m.IsWow64Process(); }
  BOOL Is64BitWindows() override { return m.Is64BitWindows(); }

 private:
  platform::IRegistry& m;
  std::mutex m_mu;
  std::vector<Subscription> m_subs;
};

TEST_F(RegistryWatcherTest, AKeyAloneIsWatchedForValuesAndASubTreeForNamesToo) {
  RecordingRegistry recording(agent->Registry());
  for (const bool subtree : {false, true}) {
    CRegKeyWatcher w(recording, agent->Kernel());
    w.Watch(Open(), subtree, Counter());
    ASSERT_TRUE(w.Start());
    ASSERT_TRUE(sink.WaitFor("UWaiting for changes...", subtree ? 2 : 1));
    w.Stop();
  }
  const auto subs = recording.Subscriptions();
  ASSERT_EQ(subs.size(), 2u);
  EXPECT_EQ(subs[0].subtree, FALSE);
  EXPECT_EQ(subs[0].filter, DWORD{REG_NOTIFY_CHANGE_LAST_SET});
  EXPECT_EQ(subs[1].subtree, TRUE);
  EXPECT_EQ(subs[1].filter, DWORD{REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET});
  EXPECT_TRUE(subs[0].async && subs[1].async);
}

}  // namespace
