// The mailslot inbox on the simulated machine: decoding, the repeat filter, the reader's
// passes, stop and restart. No window: a recording listener stands in for the main window.
#include "ext/mailslot.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/sim/machine.h"
#include "platform/sim/process.h"
#include "support/result_error.h"
#include "support/trace/trace.h"
#include "support/trace/trace_sink.h"
#include "tests/testing/forwarding_platform.h"

namespace {

using Bytes = std::vector<BYTE>;

Bytes MakeDatagram(DWORD id, DWORD code, const Bytes& payload = {}) {
  Bytes out;
  for (DWORD v : {id, code})
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<BYTE>(v >> (8 * i)));
  out.insert(out.end(), payload.begin(), payload.end());
  return out;
}

struct Delivery {
  DWORD code;
  Bytes payload;
  bool operator==(const Delivery&) const = default;
};

void PrintTo(const Delivery& d, std::ostream* os) {
  *os << "{code " << d.code << ", " << d.payload.size() << " bytes}";
}

class RecordingListener : public Mailslot::Inbox::Events {
 public:
  void OnInboundMessage(DWORD code, const BYTE* payload, DWORD size) override {
    std::lock_guard lk(m_mu);
    m_got.push_back({code, Bytes(payload, payload + size)});
  }
  void OnInboxStopped() override { ++stopped; }
  std::vector<Delivery> Got() {
    std::lock_guard lk(m_mu);
    return m_got;
  }
  std::vector<DWORD> Codes() {
    std::vector<DWORD> codes;
    for (const auto& d : Got()) codes.push_back(d.code);
    return codes;
  }
  std::atomic<int> stopped{0};

 private:
  std::mutex m_mu;
  std::vector<Delivery> m_got;
};

// ---- Decoding --------------------------------------------------------------------------------

TEST(MailslotDecode, ReadsLittleEndianFieldsAtAnyAlignmentAndRefusesShortDatagrams) {
  Bytes storage(1, 0xEE);  // the datagram starts at an odd address
  const Bytes d = MakeDatagram(0x04030201, 0x102, {0xAA, 0xBB});
  storage.insert(storage.end(), d.begin(), d.end());
  auto got = Mailslot::DecodeDatagram(storage.data() + 1, d.size());
  ASSERT_TRUE(got);
  EXPECT_EQ(got->id, 0x04030201u);
  EXPECT_EQ(got->code, 0x102u);
  ASSERT_EQ(got->payloadSize, 2u);
  EXPECT_EQ(got->payload[1], 0xBB);

  EXPECT_FALSE(Mailslot::DecodeDatagram(d.data(), 7));
  EXPECT_FALSE(Mailslot::DecodeDatagram(nullptr, 8));
  auto eight = Mailslot::DecodeDatagram(d.data(), 8);
  ASSERT_TRUE(eight);
  EXPECT_EQ(eight->payloadSize, 0u);
  EXPECT_EQ(eight->payload, nullptr);
}

TEST(MailslotRepeatFilter, DropsOnlyConsecutiveRepeatsAndKnowsNoIdAtFirst) {
  Mailslot::RepeatFilter f;
  EXPECT_TRUE(f.Accept(0xFFFFFFFFu)) << "no id yet: the first is new whatever its value";
  EXPECT_FALSE(f.Accept(0xFFFFFFFFu));
  EXPECT_TRUE(f.Accept(5));
  EXPECT_TRUE(f.Accept(6));
  EXPECT_TRUE(f.Accept(5));
  EXPECT_FALSE(f.Accept(5));
}

// ---- The inbox -------------------------------------------------------------------------------

class MailslotInboxTest : public ::testing::Test {
 protected:
  MailslotInboxTest()
      : m_agent(m_machine.CreateProcess({.sessionId = 1})),
        m_sender(m_machine.CreateProcess({.sessionId = 0})) {}

  std::wstring Name() {
    return Mailslot::GetBthMailslotName(m_agent->Kernel(), m_agent->Sessions());
  }
  void Send(const Bytes& datagram, const std::wstring& name = {}) {
    platform::IKernel& k = m_sender->Kernel();
    const std::wstring path = L"\\\\.\\mailslot\\" + (name.empty() ? Name() : name);
    HANDLE h = k.CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                             0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    EXPECT_TRUE(k.WriteFile(h, datagram.data(), static_cast<DWORD>(datagram.size()), &written,
                            nullptr));
    k.CloseHandle(h);
  }
  bool Traced(const std::string& text) { return m_sink.Contains('U', text); }

  VDTraceNS::CRecordingSink m_sink;
  sim::Machine m_machine;
  std::unique_ptr<sim::Process> m_agent;
  std::unique_ptr<sim::Process> m_sender;
  RecordingListener m_listener;
};

TEST_F(MailslotInboxTest, NameIsPerSessionAndTraced) {
  auto other = m_machine.CreateProcess({.sessionId = 2});
  EXPECT_EQ(Name(), L"{2FFE588A-4B8E-4F7F-A927-4162BD973FF2}:1");
  EXPECT_TRUE(Traced("GetMailslotName(), '{2FFE588A-4B8E-4F7F-A927-4162BD973FF2}:1'"));
  EXPECT_EQ(Mailslot::GetBthMailslotName(other->Kernel(), other->Sessions()),
            L"{2FFE588A-4B8E-4F7F-A927-4162BD973FF2}:2");

  // Each session's agent gets only its own datagrams.
  // The listener outlives its inbox: a stopping reader still tells it so.
  RecordingListener second;
  Mailslot::Inbox one(m_agent->Kernel(), m_agent->Ui(), Name(), nullptr);
  Mailslot::Inbox two(other->Kernel(), other->Ui(),
                      Mailslot::GetBthMailslotName(other->Kernel(), other->Sessions()), nullptr);
  one.Notify(&m_listener);
  two.Notify(&second);
  Send(MakeDatagram(1, 2));
  Send(MakeDatagram(1, 9), L"{2FFE588A-4B8E-4F7F-A927-4162BD973FF2}:2");
  m_machine.RunUntilIdle();
  EXPECT_EQ(m_listener.Codes(), std::vector<DWORD>{2});
  EXPECT_EQ(second.Codes(), std::vector<DWORD>{9});
}

TEST_F(MailslotInboxTest, RepeatsAreDroppedOnlyWhenConsecutiveAndTheFirstIsNewWhateverItsId) {
  Mailslot::Inbox inbox(m_agent->Kernel(), m_agent->Ui(), Name(), nullptr);
  inbox.Notify(&m_listener);
  for (DWORD id : {0xFFFFFFFFu, 7u, 7u, 5u, 6u, 5u}) Send(MakeDatagram(id, id));
  m_machine.RunUntilIdle();
  EXPECT_EQ(m_listener.Codes(), (std::vector<DWORD>{0xFFFFFFFFu, 7, 5, 6, 5}));
  EXPECT_TRUE(Traced("IDs: 7, 7"));
}

TEST_F(MailslotInboxTest, ShortDatagramIsSkippedAndTheNextDelivered) {
  Mailslot::Inbox inbox(m_agent->Kernel(), m_agent->Ui(), Name(), nullptr);
  inbox.Notify(&m_listener);
  Bytes seven = MakeDatagram(3, 2);
  seven.pop_back();
  Send(seven);
  m_machine.RunUntilIdle();
  EXPECT_TRUE(Traced("Wrong size, return"));
  EXPECT_TRUE(m_listener.Got().empty());
  // Sent later, after the reader went back to waiting: it must still be listening.
  Send(MakeDatagram(4, 5, {1, 2, 3}));
  Send(MakeDatagram(5, 6));
  m_machine.RunUntilIdle();
  EXPECT_EQ(m_listener.Got(),
            (std::vector<Delivery>{{5, {1, 2, 3}}, {6, {}}}));  // 8 bytes: empty payload
}

TEST_F(MailslotInboxTest, DatagramsSentBeforeStartArriveInOrder) {
  Mailslot::Inbox inbox(m_agent->Kernel(), m_agent->Ui(), Name(), nullptr);
  Send(MakeDatagram(7, 2));
  Send(MakeDatagram(7, 2));
  Send(MakeDatagram(8, 5));
  m_machine.RunUntilIdle();
  EXPECT_TRUE(m_listener.Got().empty());
  inbox.Notify(&m_listener);
  m_machine.RunUntilIdle();
  EXPECT_EQ(m_listener.Codes(), (std::vector<DWORD>{2, 5}));
  EXPECT_TRUE(Traced("count=3"));
}

TEST_F(MailslotInboxTest, StopWhileNotRunningOnlyClearsTheListener) {
  Mailslot::Inbox inbox(m_agent->Kernel(), m_agent->Ui(), Name(), nullptr);
  inbox.Notify(nullptr);
  EXPECT_FALSE(inbox.IsRunning());
  EXPECT_EQ(m_listener.stopped, 0);
  EXPECT_FALSE(Traced("Cannot stop thread."));
}

TEST_F(MailslotInboxTest, RestartAfterStopRunsANewReaderThatForgetsTheLastId) {
  Mailslot::Inbox inbox(m_agent->Kernel(), m_agent->Ui(), Name(), nullptr);
  inbox.Notify(&m_listener);
  inbox.Notify(&m_listener);  // a second start while running does nothing
  Send(MakeDatagram(7, 1));
  m_machine.RunUntilIdle();
  inbox.Notify(nullptr);
  EXPECT_FALSE(inbox.IsRunning());
  EXPECT_EQ(m_listener.stopped, 1);
  EXPECT_TRUE(Traced("Loop finished"));

  Send(MakeDatagram(8, 9));  // waits in the mailslot while stopped
  m_machine.RunUntilIdle();
  EXPECT_EQ(m_listener.Codes(), std::vector<DWORD>{1});
  inbox.Notify(&m_listener);
  EXPECT_TRUE(inbox.IsRunning());
  Send(MakeDatagram(7, 1));
  m_machine.RunUntilIdle();
  EXPECT_EQ(m_listener.Codes(), (std::vector<DWORD>{1, 9, 1}));
}

TEST_F(MailslotInboxTest, DestructionStopsTheReader) {
  {
    Mailslot::Inbox inbox(m_agent->Kernel(), m_agent->Ui(), Name(), nullptr);
    inbox.Notify(&m_listener);
    m_machine.RunUntilIdle();
  }
  EXPECT_EQ(m_listener.stopped, 1);
  // The name is free again: the mailslot was closed.
  Mailslot::Inbox again(m_agent->Kernel(), m_agent->Ui(), Name(), nullptr);
  EXPECT_TRUE(again.IsValid());
}

TEST_F(MailslotInboxTest, OverLargeDatagramIsRefusedByTheMailslot) {
  Mailslot::Inbox inbox(m_agent->Kernel(), m_agent->Ui(), Name(), nullptr);
  platform::IKernel& k = m_sender->Kernel();
  const std::wstring path = L"\\\\.\\mailslot\\" + Name();
  HANDLE h = k.CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  Bytes big(Mailslot::kMaxDatagramSize + 1);
  DWORD written = 0;
  EXPECT_FALSE(k.WriteFile(h, big.data(), static_cast<DWORD>(big.size()), &written, nullptr));
  k.CloseHandle(h);
}

// A kernel whose mailslot calls the test can disturb.
struct DisturbedKernel : vdtest::ForwardingKernel {
  using ForwardingKernel::ForwardingKernel;
  BOOL GetMailslotInfo(HANDLE a0, LPDWORD a1, LPDWORD a2, LPDWORD a3, LPDWORD a4) override {
    if (failInfo > 0) {
      --failInfo;
      SetLastError(ERROR_INVALID_HANDLE);
      return FALSE;
    }
    const BOOL ok = ForwardingKernel::GetMailslotInfo(a0, a1, a2, a3, a4);
    if (afterEmptyQuery && a2 && *a2 == MAILSLOT_NO_MESSAGE) {
      auto send = std::move(afterEmptyQuery);
      afterEmptyQuery = nullptr;
      send();
    }
    return ok;
  }
  BOOL ReadFile(HANDLE a0, LPVOID a1, DWORD a2, LPDWORD a3, void* a4) override {
    ++reads;
    return ForwardingKernel::ReadFile(a0, a1, a2, a3, a4);
  }
  std::atomic<int> failInfo{0};
  std::atomic<int> reads{0};
  std::function<void()> afterEmptyQuery;
};

// Notes the thread that waits, so the test can post it a thread message.
struct WaiterUi : vdtest::ForwardingUi {
  WaiterUi(platform::IUi& ui, platform::IKernel& k) : ForwardingUi(ui), kernel(k) {}
  DWORD MsgWaitForMultipleObjects(DWORD a0, const HANDLE* a1, BOOL a2, DWORD a3,
                                  DWORD a4) override {
    waiter = kernel.GetCurrentThreadId();
    ++waits;
    return ForwardingUi::MsgWaitForMultipleObjects(a0, a1, a2, a3, a4);
  }
  platform::IKernel& kernel;
  std::atomic<DWORD> waiter{0};
  std::atomic<int> waits{0};
};

TEST_F(MailslotInboxTest, ThreadMessageWhileAReadIsPendingStartsNoSecondRead) {
  DisturbedKernel k(m_agent->Kernel());
  WaiterUi ui(m_agent->Ui(), m_agent->Kernel());
  Mailslot::Inbox inbox(k, ui, Name(), nullptr);
  inbox.Notify(&m_listener);
  m_machine.RunUntilIdle();
  ASSERT_NE(ui.waiter.load(), 0u);
  ASSERT_EQ(k.reads, 1) << "one zero-length read pending";
  const int before = ui.waits;
  ASSERT_TRUE(m_agent->Ui().PostThreadMessageW(ui.waiter, WM_USER, 0, 0));
  // A thread message wakes the reader without the pool seeing it busy: wait for it to be
  // back in its wait.
  while (ui.waits == before) std::this_thread::yield();
  EXPECT_EQ(k.reads, 1) << "the pending read is still the one";
  Send(MakeDatagram(1, 2));
  m_machine.RunUntilIdle();
  EXPECT_EQ(m_listener.Codes(), std::vector<DWORD>{2});
}

TEST_F(MailslotInboxTest, DatagramArrivingBetweenSizeQueryAndReadIsReadNext) {
  DisturbedKernel k(m_agent->Kernel());
  Mailslot::Inbox inbox(k, m_agent->Ui(), Name(), nullptr);
  k.afterEmptyQuery = [&] { Send(MakeDatagram(1, 2, {7})); };
  inbox.Notify(&m_listener);
  m_machine.RunUntilIdle();
  EXPECT_TRUE(Traced("ERROR_INSUFFICIENT_BUFFER"));
  EXPECT_EQ(m_listener.Got(), (std::vector<Delivery>{{2, {7}}}));
}

TEST_F(MailslotInboxTest, FailedPassIsRetriedWithGrowingPauses) {
  DisturbedKernel k(m_agent->Kernel());
  k.failInfo = 3;
  Mailslot::Inbox inbox(k, m_agent->Ui(), Name(), nullptr);
  inbox.Notify(&m_listener);
  Send(MakeDatagram(1, 2));
  m_machine.RunUntilIdle();
  EXPECT_TRUE(Traced("Retry in 1000 ms"));
  EXPECT_TRUE(m_listener.Got().empty());
  m_machine.AdvanceBy(999);
  EXPECT_FALSE(Traced("Retry in 2000 ms"));
  m_machine.AdvanceBy(1);
  EXPECT_TRUE(Traced("Retry in 2000 ms"));
  m_machine.AdvanceBy(2000);
  EXPECT_TRUE(Traced("Retry in 4000 ms"));
  EXPECT_TRUE(m_listener.Got().empty());
  m_machine.AdvanceBy(4000);
  EXPECT_TRUE(Traced("Receiving again"));
  EXPECT_EQ(m_listener.Codes(), std::vector<DWORD>{2});
  // Back to waiting without a time-out: the clock moving wakes nothing.
  const size_t records = m_sink.Records().size();
  m_machine.AdvanceBy(120000);
  EXPECT_EQ(m_sink.Records().size(), records);
}

TEST_F(MailslotInboxTest, MailslotThatCannotBeCreatedIsTracedAndStillStops) {
  Mailslot::Inbox first(m_agent->Kernel(), m_agent->Ui(), Name(), nullptr);
  Mailslot::Inbox second(m_agent->Kernel(), m_agent->Ui(), Name(), nullptr);
  EXPECT_FALSE(second.IsValid());
  second.Notify(&m_listener);
  m_machine.RunUntilIdle();
  second.Notify(nullptr);
  EXPECT_FALSE(second.IsRunning());
  EXPECT_EQ(m_listener.stopped, 1);
}

}  // namespace
