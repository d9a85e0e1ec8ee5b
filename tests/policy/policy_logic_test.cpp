// The policy logic against the stand-in library on the simulated machine: the one-minute
// reuse (per user, never across a clock set back), the announcement of changed texts, the
// suggestions, the policies-key watch with its broadcast reaching every agent, and a
// dispose that answers a broadcast in flight instead of hanging.
#include "policy/policy_logic.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <thread>

#include "core/agent_process.h"
#include "core/messages.h"
#include "platform/sim/machine.h"
#include "platform/sim/process.h"
#include "platform/sim/registry_store.h"
#include "platform/sim/session_manager.h"
#include "policy/user_policy.h"
#include "standins/vdfpapi/sim_install.h"
#include "support/settings/settings_section.h"
#include "support/trace/trace.h"
#include "support/trace/trace_sink.h"
#include "support/vdfp/vdfp_api.h"
#include "tests/policy/policy_test_util.h"
#include "tests/testing/forwarding_platform.h"

namespace {

using policytest::HasResult;

using policytest::kFingerprint;
using policytest::kPassword;
using policytest::kSmartcard;
constexpr const wchar_t* kPolicies = L"HKLM\\SOFTWARE\\Veridane\\Policies";

// Local time that can be set back (a daylight-saving change, a user fixing the clock).
class ShiftedKernel : public vdtest::ForwardingKernel {
 public:
  using ForwardingKernel::ForwardingKernel;
  void GetLocalTime(SYSTEMTIME* st) override {
    inner.GetLocalTime(st);
    if (!backMinutes) return;
    // Whole hours back within the same day keep the arithmetic simple for the test.
    st->wHour = static_cast<WORD>(st->wHour - backMinutes / 60);
  }
  int backMinutes = 0;
};

// Counts the broadcasts the watcher sends, as they begin.
class BroadcastUi : public vdtest::ForwardingUi {
 public:
  using ForwardingUi::ForwardingUi;
  LRESULT SendMessageTimeoutW(HWND h, UINT m, WPARAM wp, LPARAM lp, UINT flags, UINT timeout,
                              PDWORD_PTR result) override {
    if (h == HWND_BROADCAST && m == WM_SETTINGCHANGE) {
      lastFlags = flags;
      lastTimeout = timeout;
      ++broadcasts;
    }
    return inner.SendMessageTimeoutW(h, m, wp, lp, flags, timeout, result);
  }
  std::atomic<int> broadcasts{0};
  std::atomic<UINT> lastFlags{0}, lastTimeout{0};
};

class TestPlatform : public platform::IPlatform {
 public:
  explicit TestPlatform(sim::Process& p) : process(p), kernel(p.Kernel()), ui(p.Ui()) {}
  platform::IRegistry& Registry() override { return process.Registry(); }
  platform::IKernel& Kernel() override { return kernel; }
  platform::IUi& Ui() override { return ui; }
  platform::ISessions& Sessions() override { return process.Sessions(); }
  platform::ICom& Com() override { return process.Com(); }
  platform::IModules& Modules() override { return process.Modules(); }
  platform::IShell& Shell() override { return process.Shell(); }
  platform::ICrypt& Crypt() override { return process.Crypt(); }
  platform::IGdi& Gdi() override { return process.Gdi(); }

  sim::Process& process;
  ShiftedKernel kernel;
  BroadcastUi ui;
};

struct FakePolicyHost : IPolicyHost {
  bool kiosk = false;
  CUser kioskUser, sessionUser;
  bool IsKioskSession() override { return kiosk; }
  CUser KioskUser() override { return kioskUser; }
  CUser SessionUser() override { return sessionUser; }
};

// One agent: its process, platform, library, policy logic and a window that hands
// WM_SETTINGCHANGE to the logic and counts the policy-changed events posted to it.
struct Agent {
  Agent(sim::Machine& machine, DWORD session)
      : proc(machine.CreateProcess({.sessionId = session})), scope(proc.get()), plat(*proc) {
    agent = std::make_unique<core::CAgentProcess>(plat, nullptr);
    EXPECT_EQ(agent->AuthLibrary().VDFPInit(), S_OK);
    host.sessionUser = CUser::FromWindows(plat, agent->AuthLibrary());
    logic = std::make_unique<CPolicyLogic>(*agent, host);
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = &Proc;
    wc.lpszClassName = L"PolicyTestWindow";
    plat.Ui().RegisterClassExW(&wc);
    hwnd = plat.Ui().CreateWindowExW(0, L"PolicyTestWindow", L"", WS_POPUP, 0, 0, 10, 10, nullptr,
                                     nullptr, nullptr, nullptr);
    Windows()[hwnd] = this;
  }
  ~Agent() {
    sim::CurrentProcessScope again(proc.get());
    logic.reset();
    Windows().erase(hwnd);
    plat.Ui().DestroyWindow(hwnd);
    agent->AuthLibrary().VDFPTerm();
    agent.reset();
  }

  static std::map<HWND, Agent*>& Windows() {
    static std::map<HWND, Agent*> windows;
    return windows;
  }
  static LRESULT Proc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    auto it = Windows().find(h);
    if (it != Windows().end()) {
      Agent& a = *it->second;
      if (msg == WM_SETTINGCHANGE) {
        ++a.settingChanges;
        if (a.logic) a.logic->OnSettingChange(lp);
        return 0;
      }
      if (msg == core::WM_VD_POLICY_CHANGED) {
        ++a.policyChanged;
        return 0;
      }
    }
    return sim::CurrentProcess()->Ui().DefWindowProcW(h, msg, wp, lp);
  }

  std::unique_ptr<sim::Process> proc;
  sim::CurrentProcessScope scope;
  TestPlatform plat;
  std::unique_ptr<core::CAgentProcess> agent;
  FakePolicyHost host;
  std::unique_ptr<CPolicyLogic> logic;
  HWND hwnd = nullptr;
  int settingChanges = 0;
  int policyChanged = 0;
};

class PolicyLogicTest : public ::testing::Test {
 protected:
  void SetUp() override {
    VDTraceNS::Bind(nullptr);
    machine.Registry().CreateKey(kPolicies);
  }
  void TearDown() override {
    second.reset();
    first.reset();
    vdfp.reset();
  }
  void Install() {
    vdfp = vdfp_standin::InstallVdfpApi(machine, vdfp_standin::VdfpDescription::FromJson(
                                                     R"({"users": [{"name": "alice", "session": 1},
                                   {"name": "bob", "session": 2}]})"));
  }
  void Start() {
    Install();
    first = std::make_unique<Agent>(machine, 1);
    first->logic->OnReady(first->hwnd);
  }
  unsigned LibraryFetches() { return vdfp->Host().CallCount("VDFPGetUserInfo"); }
  // Delivers what was posted to the test thread's windows.
  void Pump() {
    machine.AdvanceBy(1);
    machine.RunUntilIdle();
  }
  size_t Count(const std::string& record) {
    size_t n = 0;
    for (const auto& r : sink.Records())
      if (std::string(1, r.type) + r.text == record) ++n;
    return n;
  }
  // Real threads reach their wait on their own time; the bound only guards against a hang.
  void WaitFor(const std::function<bool()>& done, const char* what) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!done()) {
      ASSERT_LT(std::chrono::steady_clock::now(), until) << "never: " << what;
      // Only this thread's messages: the machine's idle wait would wait for the watchers'
      // broadcasts, which wait for this thread.
      platform::IUi& ui = sim::CurrentProcess()->Ui();
      MSG msg{};
      while (ui.PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) ui.DispatchMessageW(&msg);
      std::this_thread::yield();
    }
  }
  void WaitUntilWatching(size_t watchers) {
    WaitFor([&] { return Count("UWaiting for changes...") >= watchers; }, "watching");
  }

  VDTraceNS::CRecordingSink sink;
  sim::Machine machine;
  std::unique_ptr<vdfp_standin::SimInstallation> vdfp;
  std::unique_ptr<Agent> first, second;
};

TEST_F(PolicyLogicTest, AFetchIsReusedForOneMinuteAndOnlyAChangedTextIsAnnounced) {
  Start();
  CPolicyLogic& logic = *first->logic;
  vdfp->Host().SetPolicy(L"alice", {kPassword | kFingerprint});
  logic.OnUserChanged();
  EXPECT_EQ(logic.CurrentPolicy().GetText(), L"0000000000000003");
  EXPECT_EQ(LibraryFetches(), 1u);

  // Within the minute: the library is not asked, even after the host changed its answer.
  vdfp->Host().SetPolicy(L"alice", {kSmartcard});
  machine.AdvanceBy(59'000);
  logic.RefreshPolicy();
  logic.OnSessionChange(WTS_SESSION_UNLOCK);
  EXPECT_EQ(LibraryFetches(), 1u);
  EXPECT_EQ(Count("UCached value: 0000000000000003"), 2u);
  Pump();
  EXPECT_EQ(first->policyChanged, 0) << "the user-changed fetch is never announced";

  machine.AdvanceBy(1'000);
  logic.RefreshPolicy();
  EXPECT_EQ(LibraryFetches(), 2u);
  EXPECT_EQ(logic.CurrentPolicy().GetText(), L"0000000000000004");
  EXPECT_TRUE(sink.Contains('U', "Last policy: 0000000000000003"));
  Pump();
  EXPECT_EQ(first->policyChanged, 1);

  // The same text again is no change; a lock is no reason to ask.
  machine.AdvanceBy(60'000);
  logic.OnSessionChange(WTS_SESSION_LOCK);
  EXPECT_EQ(LibraryFetches(), 2u);
  logic.OnSessionChange(WTS_SESSION_UNLOCK);
  EXPECT_EQ(LibraryFetches(), 3u);
  Pump();
  EXPECT_EQ(first->policyChanged, 1);
}

TEST_F(PolicyLogicTest, AClockSetBackIsNoFreshFetch) {
  Start();
  first->logic->OnUserChanged();
  ASSERT_EQ(LibraryFetches(), 1u);
  // An hour back: the last fetch lies in the future, which is no age at all.
  first->plat.kernel.backMinutes = 60;
  first->logic->RefreshPolicy();
  EXPECT_EQ(LibraryFetches(), 2u);
  // From the new time on the minute counts again.
  first->logic->RefreshPolicy();
  EXPECT_EQ(LibraryFetches(), 2u);
}

TEST_F(PolicyLogicTest, TheCacheHoldsOneUsersPolicyAndTheKioskUserCountsInKioskSessions) {
  Start();
  vdfp->Host().SetPolicy(L"alice", {kPassword});
  vdfp->Host().SetPolicy(L"bob", {kSmartcard, kFingerprint});
  Agent& a = *first;
  const CUser bob(a.agent->AuthLibrary(), L"VDSIM-PC\\bob", VDFP_NAME_SAM);
  EXPECT_EQ(a.logic->FetchUserPolicy(a.host.sessionUser).GetText(), L"0000000000000001");
  // A second user within the minute gets that user's own policy.
  EXPECT_EQ(a.logic->FetchUserPolicy(bob).GetText(), L"0000000000000002 0000000000000004");
  EXPECT_EQ(LibraryFetches(), 2u);
  EXPECT_EQ(a.logic->FetchUserPolicy(bob).GetText(), L"0000000000000002 0000000000000004");
  EXPECT_EQ(LibraryFetches(), 2u);

  // In a kiosk session the policy is the identified person's; a new person is asked about.
  a.host.kiosk = true;
  a.host.kioskUser = a.host.sessionUser;
  a.logic->OnUserChanged();
  EXPECT_EQ(a.logic->CurrentPolicy().GetText(), L"0000000000000001");
  a.host.kioskUser = bob;
  a.logic->RefreshPolicy();
  EXPECT_EQ(a.logic->CurrentPolicy().GetText(), L"0000000000000002 0000000000000004");
  Pump();
  EXPECT_EQ(a.policyChanged, 1);
}

TEST_F(PolicyLogicTest, AFailedFetchIsEmptyNotKeptAndAnnouncedOnce) {
  Start();
  Agent& a = *first;
  a.logic->OnUserChanged();
  ASSERT_EQ(a.logic->CurrentPolicy().GetText(), L"0000000000000001 0000000000000002");
  vdfp->Host().Stop();
  machine.AdvanceBy(60'000);
  a.logic->RefreshPolicy();
  EXPECT_TRUE(HasResult(sink, "VDFPGetUserInfo failed"));
  EXPECT_EQ(a.logic->CurrentPolicy().Shape(), kPolicyNotInitialized);
  // A failure is not reused: the next refresh asks again at once.
  a.logic->RefreshPolicy();
  EXPECT_EQ(LibraryFetches(), 3u);
  Pump();
  EXPECT_EQ(a.policyChanged, 1);
  vdfp->Host().Start();
  a.logic->RefreshPolicy();
  EXPECT_EQ(a.logic->CurrentPolicy().GetText(), L"0000000000000001 0000000000000002");
}

TEST(PolicyFromUserInfoTest, ARuleCountAboveTheLimitIsAFailureAndNothingIsRead) {
  // A header claiming more rules than any library sends, with no rules behind it: the
  // count must be refused before a single mask is read.
  VDFP_USER_INFO_4 damaged{kMaxPolicyRules + 1, 0};
  CPolicy policy;
  policy.Init({kPassword});
  EXPECT_TRUE(FAILED(PolicyFromUserInfo(damaged, policy)));
  EXPECT_TRUE(policy.Rules().empty());
  EXPECT_EQ(policy.Shape(), kPolicyNotInitialized);

  struct {
    VDFP_USER_INFO_4 header{2, 0};
    ULONGLONG rules[2] = {kSmartcard, kPassword};
  } good;
  EXPECT_EQ(PolicyFromUserInfo(good.header, policy), S_OK);
  EXPECT_EQ(policy.GetText(), L"0000000000000001 0000000000000004");
}

TEST_F(PolicyLogicTest, OnlyAPolicySettingChangeRefreshesAndANullOneIsHarmless) {
  Start();
  Agent& a = *first;
  a.logic->OnUserChanged();
  machine.AdvanceBy(60'000);
  a.logic->OnSettingChange(0);
  EXPECT_TRUE(sink.Contains('U', "No setting name"));
  a.logic->OnSettingChange(reinterpret_cast<LPARAM>(L"Environment"));
  a.logic->OnSettingChange(reinterpret_cast<LPARAM>(L"Policy2"));
  EXPECT_EQ(LibraryFetches(), 1u);
  a.logic->OnSettingChange(reinterpret_cast<LPARAM>(L"pOLICY"));
  EXPECT_EQ(LibraryFetches(), 2u);
}

TEST_F(PolicyLogicTest, SuggestionsAreTheTypesNotSuggestedBefore) {
  Start();
  Agent& a = *first;
  vdfp->Host().SetPolicy(L"alice", {kPassword | kFingerprint});
  a.logic->OnUserChanged();
  EXPECT_EQ(a.logic->GetSuggestedCredentials(), kPassword | kFingerprint);
  EXPECT_EQ(a.logic->GetSuggestedCredentials(), 0u);
  EXPECT_EQ(CKwAppSettings(a.plat).GetLastLogonPolicyTokens(), kPassword | kFingerprint);
  EXPECT_TRUE(sink.Contains('U',
                            "User policy: 0x0000000000000003, last suggestion="
                            "0x0000000000000003, current suggestion=0x0000000000000000"));
  // A smart card added by the administrator is suggested once.
  vdfp->Host().SetPolicy(L"alice", {kPassword | kFingerprint, kSmartcard});
  machine.AdvanceBy(60'000);
  EXPECT_EQ(a.logic->GetSuggestedCredentials(), kSmartcard);
  EXPECT_EQ(a.logic->GetSuggestedCredentials(), 0u);
}

TEST_F(PolicyLogicTest, WithoutThePoliciesKeyThereIsNoWatch) {
  machine.Registry().DeleteKey(kPolicies);
  Start();
  first->logic->OnReady(first->hwnd);
  EXPECT_FALSE(first->logic->IsWatching());
  first->logic->Dispose();
}

TEST_F(PolicyLogicTest, AWriteUnderThePoliciesKeyRefreshesTheAgentsOfTwoSessions) {
  Install();
  machine.Sessions().CreateSession({.userName = L"bob"});
  first = std::make_unique<Agent>(machine, 1);
  second = std::make_unique<Agent>(machine, 2);
  ASSERT_EQ(second->host.sessionUser.AccountName(), L"VDSIM-PC\\bob");
  for (Agent* a : {first.get(), second.get()}) {
    sim::CurrentProcessScope in(a->proc.get());
    a->logic->OnUserChanged();
    a->logic->OnReady(a->hwnd);
    EXPECT_TRUE(a->logic->IsWatching());
  }
  WaitUntilWatching(2);
  machine.AdvanceBy(60'000);

  vdfp->Host().SetPolicy(L"alice", {kSmartcard});
  vdfp->Host().SetPolicy(L"bob", {kFingerprint | kSmartcard});
  // A value in a sub-key: the sub-tree is watched.
  machine.Registry().SetDword(std::wstring(kPolicies) + L"\\Lumera", L"LockUponSmartcardRemoval",
                              1);
  WaitFor([&] { return first->policyChanged == 1 && second->policyChanged == 1; },
          "both agents announced the change");
  EXPECT_EQ(first->logic->CurrentPolicy().GetText(), L"0000000000000004");
  EXPECT_EQ(second->logic->CurrentPolicy().GetText(), L"0000000000000006");
  EXPECT_EQ(Count("U[registryChanged](HKLM/Veridane/Policies)") +
                Count(">[registryChanged](HKLM/Veridane/Policies)"),
            2u);
  EXPECT_EQ(first->plat.ui.lastFlags.load(), static_cast<UINT>(SMTO_NORMAL));
  EXPECT_EQ(first->plat.ui.lastTimeout.load(), 5000u);
  for (Agent* a : {first.get(), second.get()}) {
    sim::CurrentProcessScope in(a->proc.get());
    a->logic->Dispose();
    EXPECT_FALSE(a->logic->IsWatching());
  }
}

TEST_F(PolicyLogicTest, DisposingWhileTheBroadcastIsInFlightAnswersItInsteadOfHanging) {
  Start();
  Agent& a = *first;
  a.logic->OnUserChanged();
  a.logic->OnReady(a.hwnd);
  WaitUntilWatching(1);
  machine.Registry().SetDword(kPolicies, L"StandaloneMode", 1);
  // The watcher has begun its broadcast to this thread's window and waits for it: no pump
  // here, so it is still in flight when the window goes.
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (a.plat.ui.broadcasts.load() == 0) {
    ASSERT_LT(std::chrono::steady_clock::now(), until) << "the watcher never broadcast";
    std::this_thread::yield();
  }
  a.logic->Dispose();
  EXPECT_FALSE(a.logic->IsWatching());
  EXPECT_EQ(a.settingChanges, 1) << "the broadcast was answered while stopping";
  // A disposed logic refreshes no more.
  machine.AdvanceBy(60'000);
  a.logic->OnSettingChange(reinterpret_cast<LPARAM>(L"Policy"));
  EXPECT_EQ(LibraryFetches(), 1u);
}

}  // namespace
