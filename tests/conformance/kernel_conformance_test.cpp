// Kernel: session-local and Global\ names, thread-pool waits, ordinal string comparison.
#include <atomic>
#include <cwchar>
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

// A started thread runs its routine with its parameter; its handle is signalled when the
// routine returns, can be waited on while it runs, and closing it does not stop the thread.
struct ThreadGate {
  platform::IKernel* kernel = nullptr;
  HANDLE release = nullptr;
  std::atomic<int> started{0};
  std::atomic<int> finished{0};
  static DWORD WINAPI Main(LPVOID p) {
    auto* g = static_cast<ThreadGate*>(p);
    ++g->started;
    g->kernel->WaitForSingleObject(g->release, INFINITE);
    ++g->finished;
    return 0;
  }
};

TEST_F(KernelConformance, AThreadHandleIsSignalledWhenTheThreadEnds) {
  ThreadGate gate;
  gate.kernel = &K();
  gate.release = K().CreateEventW(nullptr, TRUE, FALSE, nullptr);
  DWORD tid = 0;
  HANDLE first = K().CreateThread(nullptr, 0, &ThreadGate::Main, &gate, 0, &tid);
  ASSERT_NE(first, nullptr);
  EXPECT_NE(tid, 0u);
  HANDLE second = K().CreateThread(nullptr, 0, &ThreadGate::Main, &gate, 0, nullptr);
  ASSERT_NE(second, nullptr);
  ASSERT_TRUE(WaitUntil([&] { return gate.started == 2; }));
  EXPECT_EQ(K().WaitForSingleObject(first, 0), static_cast<DWORD>(WAIT_TIMEOUT));
  EXPECT_TRUE(K().CloseHandle(second));  // the thread goes on without its handle
  K().SetEvent(gate.release);
  EXPECT_EQ(K().WaitForSingleObject(first, INFINITE), WAIT_OBJECT_0);
  ASSERT_TRUE(WaitUntil([&] { return gate.finished == 2; }));
  EXPECT_TRUE(K().CloseHandle(first));

  K().SetLastError(0);
  EXPECT_EQ(
      K().CreateThread(nullptr, 0, &ThreadGate::Main, &gate, 0x4 /* CREATE_SUSPENDED */, nullptr),
      nullptr);
  EXPECT_EQ(K().GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  K().CloseHandle(gate.release);
}

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

// ---- Ordinal comparison, as Windows compares account names and SIDs ----------------------

// One comparison and what Windows answers. Folding is one UTF-16 unit to one unit through
// the system's table of simple case pairs: letters whose upper case maps back (ÿ/Ÿ, Cyrillic,
// Georgian) match; ß, final sigma, the micro sign and dotless i keep their own value.
struct OrdinalRow {
  const wchar_t* left;
  const wchar_t* right;
  BOOL ignoreCase;
  int expected;
  const char* why;
};

constexpr OrdinalRow kOrdinalRows[] = {
    {L"VDSIM-PC\\J\u00FCrgen", L"VDSIM-PC\\J\u00DCRGEN", TRUE, CSTR_EQUAL, "Latin-1 u umlaut"},
    {L"\u00FFves", L"\u0178VES", TRUE, CSTR_EQUAL, "y diaeresis folds outside Latin-1"},
    {L"stra\u00DFe", L"STRASSE", TRUE, CSTR_GREATER_THAN, "sharp s is no SS"},
    {L"stra\u00DFe", L"STRA\u1E9EE", TRUE, CSTR_LESS_THAN, "nor capital sharp s"},
    {L"\u03C3\u03AF\u03C3\u03C5\u03C6\u03BF\u03C3", L"\u03A3\u038A\u03A3\u03A5\u03A6\u039F\u03A3",
     TRUE, CSTR_EQUAL, "Greek, sigma and accented iota"},
    {L"\u03C3\u03AF\u03C3\u03C5\u03C6\u03BF\u03C2", L"\u03A3\u038A\u03A3\u03A5\u03A6\u039F\u03A3",
     TRUE, CSTR_GREATER_THAN, "final sigma keeps its own value"},
    {L"\u00B5s", L"\u039CS", TRUE, CSTR_LESS_THAN, "micro sign is no mu"},
    {L"\u0131d", L"ID", TRUE, CSTR_GREATER_THAN, "dotless i is no I"},
    {L"\u042E\u043B\u0438\u044F \u0401\u0436\u0438\u043A",
     L"\u044E\u041B\u0418\u042F \u0451\u0416\u0418\u041A", TRUE, CSTR_EQUAL,
     "Cyrillic, yo included"},
    {L"\u0410nna", L"ANNA", TRUE, CSTR_GREATER_THAN, "Cyrillic A is no Latin A"},
    {L"\u10DC\u10D8\u10DC\u10DD", L"\u1C9C\u1C98\u1C9C\u1C9D", TRUE, CSTR_EQUAL,
     "Georgian Mkhedruli and Mtavruli"},
    {L"\u2D00\u2D01", L"\u10A0\u10A1", TRUE, CSTR_EQUAL, "Georgian Nuskhuri and Asomtavruli"},
    {L"\U0001F600", L"\uFF21", TRUE, CSTR_LESS_THAN, "a surrogate orders below U+FF21"},
    {L"alice", L"ALICE2", TRUE, CSTR_LESS_THAN, "the shorter first"},
    {L"VDSIM-PC\\J\u00FCrgen", L"VDSIM-PC\\J\u00DCRGEN", FALSE, CSTR_GREATER_THAN, "case counts"},
    {L"S-1-5-21-1000", L"s-1-5-21-1000", TRUE, CSTR_EQUAL, "a SID"},
};

const char* CstrName(int r) {
  switch (r) {
    case CSTR_LESS_THAN:
      return "CSTR_LESS_THAN";
    case CSTR_EQUAL:
      return "CSTR_EQUAL";
    case CSTR_GREATER_THAN:
      return "CSTR_GREATER_THAN";
    default:
      return "0 (failed)";
  }
}

TEST_F(KernelConformance, OrdinalComparisonFoldsCaseAsWindowsDoes) {
  for (const auto& row : kOrdinalRows) {
    SCOPED_TRACE(row.why);
    EXPECT_STREQ(CstrName(K().CompareStringOrdinal(row.left, -1, row.right, -1, row.ignoreCase)),
                 CstrName(row.expected));
    // Swapped sides give the mirrored answer.
    EXPECT_STREQ(CstrName(K().CompareStringOrdinal(row.right, -1, row.left, -1, row.ignoreCase)),
                 CstrName(4 - row.expected));
  }
}

TEST_F(KernelConformance, OrdinalComparisonTakesCountsAndRefusesNullStrings) {
  // Counted strings may hold zeros and need none at the end.
  const wchar_t left[] = {L'a', 0, L'b', L'x'};
  const wchar_t right[] = {L'A', 0, L'B', L'y'};
  EXPECT_STREQ(CstrName(K().CompareStringOrdinal(left, 3, right, 3, TRUE)), "CSTR_EQUAL");
  EXPECT_STREQ(CstrName(K().CompareStringOrdinal(left, 4, right, 4, TRUE)), "CSTR_LESS_THAN");
  EXPECT_STREQ(CstrName(K().CompareStringOrdinal(L"ab", 0, L"", -1, TRUE)), "CSTR_EQUAL");
  // Any negative count reads up to the terminating zero.
  EXPECT_STREQ(CstrName(K().CompareStringOrdinal(L"ab", -7, L"AB", -1, TRUE)), "CSTR_EQUAL");

  K().SetLastError(0xCCCC);
  EXPECT_EQ(K().CompareStringOrdinal(nullptr, 0, L"a", -1, TRUE), 0);
  EXPECT_EQ(K().GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

}  // namespace
}  // namespace conformance
