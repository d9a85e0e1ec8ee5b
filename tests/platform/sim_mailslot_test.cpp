// Mailslots with overlapped reads and waits on several handles at once, on the simulated
// machine, as Windows behaves.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "platform/handles.h"
#include "platform/sim/machine.h"
#include "platform/sim/object_manager.h"
#include "platform/sim/process.h"
#include "platform/sim/window_manager.h"

namespace {

using platform::UniqueHandle;

constexpr const wchar_t* kPath = L"\\\\.\\mailslot\\{2FFE588A-4B8E-4F7F-A927-4162BD973FF2}:1";

class SimMailslotTest : public ::testing::Test {
 protected:
  SimMailslotTest()
      : m_agent(m_machine.CreateProcess({.sessionId = 1})),
        m_sender(m_machine.CreateProcess({.sessionId = 0})),
        m_k(m_agent->Kernel()),
        m_sk(m_sender->Kernel()) {}

  HANDLE OpenWriter(const wchar_t* path = kPath) {
    return m_sk.CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                            nullptr);
  }
  void Write(HANDLE writer, std::vector<BYTE> bytes) {
    DWORD written = 0;
    ASSERT_TRUE(m_sk.WriteFile(writer, bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                               nullptr));
    EXPECT_EQ(written, bytes.size());
  }
  DWORD NextSize(HANDLE slot, DWORD* count = nullptr) {
    DWORD next = 0;
    DWORD n = 0;
    EXPECT_TRUE(m_k.GetMailslotInfo(slot, nullptr, &next, &n, nullptr));
    if (count) *count = n;
    return next;
  }

  sim::Machine m_machine;
  std::unique_ptr<sim::Process> m_agent;
  std::unique_ptr<sim::Process> m_sender;
  platform::IKernel& m_k;
  platform::IKernel& m_sk;
};

TEST_F(SimMailslotTest, DatagramsQueueInOrderAndKeepTheirBoundaries) {
  UniqueHandle slot(m_k, m_k.CreateMailslotW(kPath, 0, MAILSLOT_WAIT_FOREVER, nullptr));
  ASSERT_NE(slot.get(), INVALID_HANDLE_VALUE);
  DWORD count = 99;
  EXPECT_EQ(NextSize(slot.get(), &count), MAILSLOT_NO_MESSAGE);
  EXPECT_EQ(count, 0u);

  // The name is case-insensitive, as a file system name is.
  UniqueHandle writer(m_sk, OpenWriter(L"\\\\.\\MailSlot\\{2ffe588a-4b8e-4f7f-a927-4162bd973ff2}:1"));
  ASSERT_NE(writer.get(), INVALID_HANDLE_VALUE);
  Write(writer.get(), {1, 2, 3});
  Write(writer.get(), {4, 5, 6, 7, 8});
  EXPECT_EQ(NextSize(slot.get(), &count), 3u);
  EXPECT_EQ(count, 2u);

  BYTE buffer[16] = {};
  DWORD read = 0;
  ASSERT_TRUE(m_k.ReadFile(slot.get(), buffer, sizeof buffer, &read, nullptr));
  EXPECT_EQ(read, 3u);
  EXPECT_EQ(buffer[2], 3);
  EXPECT_EQ(NextSize(slot.get()), 5u);
}

TEST_F(SimMailslotTest, NamesAreUniqueAndWritersNeedAServer) {
  EXPECT_EQ(OpenWriter(), INVALID_HANDLE_VALUE);
  EXPECT_EQ(m_sk.GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(m_k.CreateMailslotW(L"\\\\.\\pipe\\x", 0, 0, nullptr), INVALID_HANDLE_VALUE);
  EXPECT_EQ(m_k.GetLastError(), static_cast<DWORD>(ERROR_INVALID_NAME));

  HANDLE slot = m_k.CreateMailslotW(kPath, 0, 0, nullptr);
  ASSERT_NE(slot, INVALID_HANDLE_VALUE);
  EXPECT_EQ(m_sk.CreateMailslotW(kPath, 0, 0, nullptr), INVALID_HANDLE_VALUE);
  EXPECT_EQ(m_sk.GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));

  UniqueHandle writer(m_sk, OpenWriter());
  ASSERT_NE(writer.get(), INVALID_HANDLE_VALUE);
  m_k.CloseHandle(slot);
  DWORD written = 0;
  BYTE b = 1;
  EXPECT_FALSE(m_sk.WriteFile(writer.get(), &b, 1, &written, nullptr));
  // The name is free again once the server has gone.
  UniqueHandle again(m_k, m_k.CreateMailslotW(kPath, 0, 0, nullptr));
  EXPECT_NE(again.get(), INVALID_HANDLE_VALUE);
}

TEST_F(SimMailslotTest, OverlappedReadCompletesAtOnceOrRefusesASmallBuffer) {
  UniqueHandle slot(m_k, m_k.CreateMailslotW(kPath, 0, MAILSLOT_WAIT_FOREVER, nullptr));
  UniqueHandle writer(m_sk, OpenWriter());
  UniqueHandle event(m_k, m_k.CreateEventW(nullptr, FALSE, FALSE, nullptr));
  Write(writer.get(), {9, 8, 7, 6});

  OVERLAPPED ov{};
  ov.hEvent = event.get();
  BYTE small[2] = {};
  DWORD read = 0;
  EXPECT_FALSE(m_k.ReadFile(slot.get(), small, sizeof small, &read, &ov));
  EXPECT_EQ(m_k.GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(NextSize(slot.get()), 4u) << "the datagram stays";

  BYTE buffer[4] = {};
  ASSERT_TRUE(m_k.ReadFile(slot.get(), buffer, sizeof buffer, &read, &ov));
  EXPECT_EQ(read, 4u);
  EXPECT_EQ(buffer[3], 6);
  EXPECT_EQ(m_k.WaitForSingleObject(event.get(), 0), WAIT_OBJECT_0) << "event set";
  DWORD transferred = 0;
  EXPECT_TRUE(m_k.GetOverlappedResult(slot.get(), &ov, &transferred, FALSE));
  EXPECT_EQ(transferred, 4u);
  EXPECT_EQ(NextSize(slot.get()), MAILSLOT_NO_MESSAGE);
}

TEST_F(SimMailslotTest, PendingReadCompletesWithTheNextDatagramOrIsCancelled) {
  UniqueHandle slot(m_k, m_k.CreateMailslotW(kPath, 0, MAILSLOT_WAIT_FOREVER, nullptr));
  UniqueHandle writer(m_sk, OpenWriter());
  UniqueHandle event(m_k, m_k.CreateEventW(nullptr, FALSE, FALSE, nullptr));
  OVERLAPPED ov{};
  ov.hEvent = event.get();
  BYTE buffer[8] = {};
  DWORD read = 0;
  EXPECT_FALSE(m_k.ReadFile(slot.get(), buffer, sizeof buffer, &read, &ov));
  ASSERT_EQ(m_k.GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
  DWORD transferred = 0;
  EXPECT_FALSE(m_k.GetOverlappedResult(slot.get(), &ov, &transferred, FALSE));
  EXPECT_EQ(m_k.GetLastError(), static_cast<DWORD>(ERROR_IO_INCOMPLETE));
  EXPECT_EQ(m_k.WaitForSingleObject(event.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));

  Write(writer.get(), {1, 2});
  EXPECT_EQ(m_k.WaitForSingleObject(event.get(), 0), WAIT_OBJECT_0);
  EXPECT_TRUE(m_k.GetOverlappedResult(slot.get(), &ov, &transferred, FALSE));
  EXPECT_EQ(transferred, 2u);
  EXPECT_EQ(buffer[1], 2);
  EXPECT_EQ(NextSize(slot.get()), MAILSLOT_NO_MESSAGE) << "consumed by the pending read";

  // A zero-length pending read only announces the datagram, which stays queued.
  EXPECT_FALSE(m_k.ReadFile(slot.get(), nullptr, 0, &read, &ov));
  ASSERT_EQ(m_k.GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
  Write(writer.get(), {5, 5, 5});
  EXPECT_EQ(m_k.WaitForSingleObject(event.get(), 0), WAIT_OBJECT_0);
  EXPECT_FALSE(m_k.GetOverlappedResult(slot.get(), &ov, &transferred, FALSE));
  EXPECT_EQ(m_k.GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(NextSize(slot.get()), 3u);

  // Cancelled: the record says so and a later datagram is left alone.
  BYTE drain[3];
  ASSERT_TRUE(m_k.ReadFile(slot.get(), drain, 3, &read, nullptr));
  EXPECT_FALSE(m_k.ReadFile(slot.get(), buffer, sizeof buffer, &read, &ov));
  ASSERT_EQ(m_k.GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
  EXPECT_TRUE(m_k.CancelIo(slot.get()));
  EXPECT_FALSE(m_k.GetOverlappedResult(slot.get(), &ov, &transferred, TRUE));
  EXPECT_EQ(m_k.GetLastError(), static_cast<DWORD>(ERROR_OPERATION_ABORTED));
  Write(writer.get(), {4});
  EXPECT_EQ(NextSize(slot.get()), 1u);
}

TEST_F(SimMailslotTest, SynchronousReadOfAnEmptySlotDoesNotBlock) {
  UniqueHandle slot(m_k, m_k.CreateMailslotW(kPath, 0, 0, nullptr));
  BYTE buffer[4];
  DWORD read = 0;
  EXPECT_FALSE(m_k.ReadFile(slot.get(), buffer, sizeof buffer, &read, nullptr));
  EXPECT_EQ(m_k.GetLastError(), static_cast<DWORD>(ERROR_SEM_TIMEOUT));
}

// ---- MsgWaitForMultipleObjects on several handles ---------------------------------------------

TEST_F(SimMailslotTest, MsgWaitReportsTheLowestReadyHandleAndTakesOnlyThatOne) {
  platform::IUi& ui = m_agent->Ui();
  UniqueHandle a(m_k, m_k.CreateEventW(nullptr, FALSE, FALSE, nullptr));
  UniqueHandle b(m_k, m_k.CreateEventW(nullptr, FALSE, FALSE, nullptr));
  HANDLE both[2] = {a.get(), b.get()};
  m_k.SetEvent(b.get());
  EXPECT_EQ(ui.MsgWaitForMultipleObjects(2, both, FALSE, 0, QS_ALLINPUT), WAIT_OBJECT_0 + 1);
  m_k.SetEvent(a.get());
  m_k.SetEvent(b.get());
  EXPECT_EQ(ui.MsgWaitForMultipleObjects(2, both, FALSE, 0, QS_ALLINPUT), WAIT_OBJECT_0);
  EXPECT_EQ(m_k.WaitForSingleObject(b.get(), 0), WAIT_OBJECT_0) << "b was not consumed";

  // Messages of the thread: WAIT_OBJECT_0 + n.
  ui.PostThreadMessageW(m_k.GetCurrentThreadId(), WM_USER, 0, 0);
  EXPECT_EQ(ui.MsgWaitForMultipleObjects(2, both, FALSE, 0, QS_ALLINPUT), WAIT_OBJECT_0 + 2);

  std::vector<HANDLE> tooMany(64, a.get());
  EXPECT_EQ(ui.MsgWaitForMultipleObjects(64, tooMany.data(), FALSE, 0, QS_ALLINPUT), WAIT_FAILED);
}

TEST_F(SimMailslotTest, MsgWaitTimesOutOnTheVirtualClock) {
  platform::IUi& ui = m_agent->Ui();
  UniqueHandle a(m_k, m_k.CreateEventW(nullptr, FALSE, FALSE, nullptr));
  UniqueHandle b(m_k, m_k.CreateEventW(nullptr, TRUE, FALSE, nullptr));
  HANDLE both[2] = {a.get(), b.get()};
  const ULONGLONG start = m_machine.GetClock().NowMs();
  EXPECT_EQ(ui.MsgWaitForMultipleObjects(2, both, FALSE, 2500, QS_ALLINPUT),
            static_cast<DWORD>(WAIT_TIMEOUT));
  EXPECT_EQ(m_machine.GetClock().NowMs(), start + 2500);
}

TEST_F(SimMailslotTest, BlockedMsgWaitWakesForAPendingReadOrAnotherHandle) {
  UniqueHandle slot(m_k, m_k.CreateMailslotW(kPath, 0, MAILSLOT_WAIT_FOREVER, nullptr));
  UniqueHandle writer(m_sk, OpenWriter());
  UniqueHandle readDone(m_k, m_k.CreateEventW(nullptr, FALSE, FALSE, nullptr));
  UniqueHandle stop(m_k, m_k.CreateEventW(nullptr, TRUE, FALSE, nullptr));
  OVERLAPPED ov{};
  ov.hEvent = readDone.get();
  DWORD read = 0;
  ASSERT_FALSE(m_k.ReadFile(slot.get(), nullptr, 0, &read, &ov));

  DWORD first = 0;
  DWORD second = 0;
  std::thread waiter([&] {
    HANDLE handles[2] = {readDone.get(), stop.get()};
    first = m_agent->Ui().MsgWaitForMultipleObjects(2, handles, FALSE, INFINITE, QS_ALLINPUT);
    second = m_agent->Ui().MsgWaitForMultipleObjects(2, handles, FALSE, INFINITE, QS_ALLINPUT);
  });
  // Once the waiter blocks, the datagram wakes it; the stop event then ends the second wait.
  while (m_machine.Objects().WaiterCount(m_agent->Pid(), readDone.get()) == 0)
    std::this_thread::yield();
  Write(writer.get(), {1, 2, 3, 4, 5, 6, 7, 8});
  m_k.SetEvent(stop.get());
  waiter.join();
  EXPECT_EQ(first, WAIT_OBJECT_0);
  EXPECT_EQ(second, WAIT_OBJECT_0 + 1);
}

// A thread blocked in MsgWait that only a posted thread message wakes counts as busy from
// the post on: the machine's idle wait sees what it does with the message.
TEST_F(SimMailslotTest, AThreadMessageWakeIsSeenByTheIdleWait) {
  UniqueHandle stop(m_k, m_k.CreateEventW(nullptr, TRUE, FALSE, nullptr));
  std::atomic<DWORD> tid{0};
  std::atomic<bool> handled{false};
  std::thread waiter([&] {
    platform::IUi& ui = m_agent->Ui();
    HANDLE h = stop.get();
    tid = m_k.GetCurrentThreadId();
    while (ui.MsgWaitForMultipleObjects(1, &h, FALSE, INFINITE, QS_ALLINPUT) == WAIT_OBJECT_0 + 1) {
      MSG msg{};
      while (ui.PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        // Real time on purpose: an idle wait that did not count this thread would be over.
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        handled = msg.message == WM_APP;
      }
    }
  });
  // Blocked, not only arming its waits: a thread that never blocked is not seen at all.
  while (tid == 0 || !m_machine.Windows().IsThreadWaiting(tid)) std::this_thread::yield();
  ASSERT_TRUE(m_agent->Ui().PostThreadMessageW(tid, WM_APP, 0, 0));
  m_machine.RunUntilIdle();
  EXPECT_TRUE(handled);
  m_k.SetEvent(stop.get());
  waiter.join();
}

}  // namespace
