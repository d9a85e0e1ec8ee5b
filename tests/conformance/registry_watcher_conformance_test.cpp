// The registry watcher on both backends, where its threads meet the window system: a
// callback that sends to the owner's windows while the owner stops the watcher. The
// policy watcher does exactly that (a broadcast, SendMessageTimeoutW, 5000 ms) while the
// window thread stops it at destroy.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "support/registry_watcher.h"
#include "support/trace/trace.h"
#include "support/trace/trace_sink.h"
#include "tests/conformance/backend.h"

namespace conformance {
namespace {

constexpr UINT kBroadcastTimeoutMs = 5000;

class RegistryWatcherConformance : public ConformanceTest {
 protected:
  void SetUp() override {
    ConformanceTest::SetUp();
    VDTraceNS::Bind(nullptr);
    m_path = B().Unique(L"Software\\VdConformanceWatcher");
    ASSERT_EQ(Reg().RegCreateKeyExW(HKEY_CURRENT_USER, m_path.c_str(), 0, nullptr, 0,
                                    KEY_ALL_ACCESS, nullptr, &m_writer, nullptr),
              ERROR_SUCCESS);
  }
  void TearDown() override {
    if (m_writer) Reg().RegCloseKey(m_writer);
    Reg().RegDeleteTreeW(HKEY_CURRENT_USER, m_path.c_str());
    Reg().RegDeleteKeyExW(HKEY_CURRENT_USER, m_path.c_str(), 0, 0);
    ConformanceTest::TearDown();
  }
  platform::IRegistry& Reg() { return Plat().Registry(); }

  HKEY OpenForNotify() {
    HKEY key = nullptr;
    EXPECT_EQ(Reg().RegOpenKeyExW(HKEY_CURRENT_USER, m_path.c_str(), 0, KEY_NOTIFY, &key),
              ERROR_SUCCESS);
    return key;
  }
  void Change() {
    const DWORD one = 1;
    ASSERT_EQ(Reg().RegSetValueExW(m_writer, L"Changed", 0, REG_DWORD,
                                   reinterpret_cast<const BYTE*>(&one), sizeof(one)),
              ERROR_SUCCESS);
  }
  bool Traced(const VDTraceNS::CRecordingSink& sink, char type, const std::string& text) {
    for (const auto& r : sink.Records())
      if (r.type == type && r.text == text) return true;
    return false;
  }

  std::wstring m_path;
  HKEY m_writer = nullptr;  // the backend exists from SetUp on, so no owner type here
};

// Sets a flag and wakes whoever waits for it, within a real-time bound that only guards
// against a hang.
class Flag {
 public:
  void Set() {
    {
      std::lock_guard lk(m_mu);
      m_set = true;
    }
    m_cv.notify_all();
  }
  bool Wait() {
    std::unique_lock lk(m_mu);
    return m_cv.wait_for(lk, std::chrono::seconds(20), [&] { return m_set; });
  }

 private:
  std::mutex m_mu;
  std::condition_variable m_cv;
  bool m_set = false;
};

TEST_F(RegistryWatcherConformance, ABroadcastFromTheCallbackIsAnsweredWhileTheOwnerStops) {
  VDTraceNS::CRecordingSink sink;
  platform::IUi& ui = Plat().Ui();
  const UINT msg = ui.RegisterWindowMessageW(B().Unique(L"VdConformanceWatcherBroadcast").c_str());
  RecordingWindow owner(Plat(), B().Instance());  // this thread's window
  const DWORD ownerThread = Plat().Kernel().GetCurrentThreadId();

  Flag inCallback, stopped;
  std::atomic<bool> sendReturned{false};
  std::atomic<bool> answeredBeforeTheSendReturned{false};
  CRegKeyWatcher watcher(Plat(), OpenForNotify(), false, [&] {
    inCallback.Set();
    DWORD_PTR result = 0;
    ui.SendMessageTimeoutW(HWND_BROADCAST, msg, 0, 0, SMTO_NORMAL, kBroadcastTimeoutMs, &result);
    answeredBeforeTheSendReturned = owner.Count(msg) == 1;
    sendReturned = true;
  });
  ASSERT_TRUE(watcher.Start());
  ASSERT_TRUE(WaitUntil([&] { return Traced(sink, 'U', "Waiting for changes..."); }));

  Change();
  // Not pumping here: the broadcast must wait for this thread until it stops the watcher.
  ASSERT_TRUE(inCallback.Wait());
  // A watchdog for the failure this guards against: were Stop to wait without answering,
  // only the broadcast's time-out (on the platform clock) could end the wait.
  std::thread watchdog([&] {
    if (!stopped.Wait()) B().Pass(kBroadcastTimeoutMs + 1000);
  });
  watcher.Stop();
  stopped.Set();
  watchdog.join();

  EXPECT_TRUE(sendReturned);
  EXPECT_TRUE(answeredBeforeTheSendReturned) << "the broadcast timed out";
  const auto got = owner.Of(msg);
  ASSERT_EQ(got.size(), 1u) << "Stop did not answer the broadcast";
  EXPECT_EQ(got[0].tid, ownerThread);
  EXPECT_FALSE(watcher.IsStarted());
  EXPECT_TRUE(Traced(sink, 'U', "Stopped"));
}

}  // namespace
}  // namespace conformance
