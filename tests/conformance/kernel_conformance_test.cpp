// Kernel: session-local and Global\ names, and thread-pool waits.
#include <atomic>
#include <string>

#include "tests/conformance/backend.h"

namespace conformance {
namespace {

class KernelConformance : public ConformanceTest {
 protected:
  platform::IKernel& K() { return Plat().Kernel(); }

  // Creates a named mutex on p and says whether the name was already there.
  static bool Existed(platform::IPlatform& p, const std::wstring& name, HANDLE* out) {
    p.Kernel().SetLastError(0);
    *out = p.Kernel().CreateMutexW(nullptr, FALSE, name.c_str());
    EXPECT_NE(*out, nullptr);
    return p.Kernel().GetLastError() == ERROR_ALREADY_EXISTS;
  }
};

TEST_F(KernelConformance, SessionNamesAndGlobalNamesAreSeparateNamespaces) {
  const std::wstring name = B().Unique(L"VdConformanceMutex");
  auto peer = B().PeerInSameSession();
  HANDLE first, again, local, global, peerGlobal, peerLocal;
  EXPECT_FALSE(Existed(Plat(), name, &first));
  // A second instance in the same session sees the first one's name.
  EXPECT_TRUE(Existed(*peer, name, &again));
  // "Local\" is the session's namespace spelled out.
  EXPECT_TRUE(Existed(Plat(), L"Local\\" + name, &local));
  // The machine-wide namespace is another one.
  EXPECT_FALSE(Existed(Plat(), L"Global\\" + name, &global));
  EXPECT_TRUE(Existed(*peer, L"Global\\" + name, &peerGlobal));

  // The name goes with its last handle.
  for (HANDLE h : {first, local}) K().CloseHandle(h);
  peer->Kernel().CloseHandle(again);
  EXPECT_FALSE(Existed(*peer, name, &peerLocal));
  peer->Kernel().CloseHandle(peerLocal);
  K().CloseHandle(global);
  peer->Kernel().CloseHandle(peerGlobal);
}

TEST_F(KernelConformance, AnotherSessionSeesGlobalNamesOnly) {
  auto other = B().PeerInOtherSession();
  if (!other) GTEST_SKIP() << "this backend cannot start a process in a second session";
  const std::wstring name = B().Unique(L"VdConformanceSessionMutex");
  HANDLE mine, mineGlobal, theirs, theirsGlobal;
  EXPECT_FALSE(Existed(Plat(), name, &mine));
  EXPECT_FALSE(Existed(Plat(), L"Global\\" + name, &mineGlobal));
  EXPECT_FALSE(Existed(*other, name, &theirs));
  EXPECT_TRUE(Existed(*other, L"Global\\" + name, &theirsGlobal));
  K().CloseHandle(mine);
  K().CloseHandle(mineGlobal);
  other->Kernel().CloseHandle(theirs);
  other->Kernel().CloseHandle(theirsGlobal);
}

TEST_F(KernelConformance, ANameHeldByAMutexIsNoEvent) {
  const std::wstring name = B().Unique(L"VdConformanceKind");
  HANDLE m;
  EXPECT_FALSE(Existed(Plat(), name, &m));
  K().SetLastError(0);
  EXPECT_EQ(K().CreateEventW(nullptr, TRUE, FALSE, name.c_str()), nullptr);
  EXPECT_EQ(K().GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(K().OpenEventW(SYNCHRONIZE, FALSE, name.c_str()), nullptr);
  EXPECT_EQ(K().GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  K().SetLastError(0);
  EXPECT_EQ(K().OpenEventW(SYNCHRONIZE, FALSE, (name + L"-none").c_str()), nullptr);
  EXPECT_EQ(K().GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  K().CloseHandle(m);
}

struct PoolCalls {
  std::atomic<int> calls{0};
  std::atomic<int> timedOut{0};
  static void CALLBACK Callback(PVOID ctx, BOOLEAN timerOrWaitFired) {
    auto* self = static_cast<PoolCalls*>(ctx);
    if (timerOrWaitFired) self->timedOut++;
    self->calls++;
  }
};

TEST_F(KernelConformance, PoolWaitRunsOnceWhenSignalled) {
  HANDLE ev = K().CreateEventW(nullptr, FALSE, FALSE, nullptr);
  PoolCalls pc;
  HANDLE wait = nullptr;
  ASSERT_TRUE(K().RegisterWaitForSingleObject(&wait, ev, &PoolCalls::Callback, &pc, INFINITE,
                                              WT_EXECUTEONLYONCE));
  B().Pass(100);
  EXPECT_EQ(pc.calls, 0);
  K().SetEvent(ev);
  ASSERT_TRUE(WaitUntil([&] { return pc.calls == 1; }));
  EXPECT_EQ(pc.timedOut, 0);
  // Only once: a second signal stays on the event for whoever waits next.
  K().SetEvent(ev);
  B().Pass(200);
  EXPECT_EQ(pc.calls, 1);
  EXPECT_EQ(K().WaitForSingleObject(ev, 0), WAIT_OBJECT_0);
  EXPECT_TRUE(K().UnregisterWaitEx(wait, INVALID_HANDLE_VALUE));
  K().CloseHandle(ev);
}

TEST_F(KernelConformance, PoolWaitRepeatsUntilUnregistered) {
  HANDLE ev = K().CreateEventW(nullptr, FALSE, FALSE, nullptr);
  PoolCalls pc;
  HANDLE wait = nullptr;
  ASSERT_TRUE(K().RegisterWaitForSingleObject(&wait, ev, &PoolCalls::Callback, &pc, INFINITE,
                                              WT_EXECUTEDEFAULT));
  K().SetEvent(ev);
  ASSERT_TRUE(WaitUntil([&] { return pc.calls == 1; }));
  K().SetEvent(ev);
  ASSERT_TRUE(WaitUntil([&] { return pc.calls == 2; }));
  // Waits for a callback in flight, and none comes after.
  EXPECT_TRUE(K().UnregisterWaitEx(wait, INVALID_HANDLE_VALUE));
  K().SetEvent(ev);
  B().Pass(200);
  EXPECT_EQ(pc.calls, 2);
  EXPECT_EQ(pc.timedOut, 0);
  K().CloseHandle(ev);
}

TEST_F(KernelConformance, PoolWaitTimesOutOnThePlatformClock) {
  HANDLE ev = K().CreateEventW(nullptr, TRUE, FALSE, nullptr);
  PoolCalls pc;
  HANDLE wait = nullptr;
  ASSERT_TRUE(K().RegisterWaitForSingleObject(&wait, ev, &PoolCalls::Callback, &pc, 1000,
                                              WT_EXECUTEONLYONCE));
  B().Pass(100);
  EXPECT_EQ(pc.calls, 0) << "timed out early";
  B().Pass(1000);
  ASSERT_TRUE(WaitUntil([&] { return pc.calls == 1; }));
  EXPECT_EQ(pc.timedOut, 1);
  EXPECT_TRUE(K().UnregisterWaitEx(wait, INVALID_HANDLE_VALUE));
  K().CloseHandle(ev);
}

}  // namespace
}  // namespace conformance
