// A simulated machine with the stand-in authentication library, one agent process whose
// desktop pieces are test doubles (desktop_doubles.h), a fake host for everything the quick
// actions reach in other subsystems, and every trace record captured.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "actions/action_host.h"
#include "actions/quick_actions.h"
#include "core/agent_process.h"
#include "platform/sim/machine.h"
#include "platform/sim/process.h"
#include "platform/sim/registry_store.h"
#include "platform/sim/session_manager.h"
#include "standins/vdfpapi/sim_install.h"
#include "support/result_error.h"
#include "support/trace/trace.h"
#include "support/trace/trace_sink.h"
#include "tests/actions/desktop_doubles.h"

namespace actiontest {

struct KwsCall {
  DWORD code;
  ULONG_PTR param;
  bool operator==(const KwsCall&) const = default;
};

class FakeHost final : public IActionHost {
 public:
  explicit FakeHost(CVDFPApi& api) : m_api(api) {}

  bool IsKioskSession() override { return kiosk; }
  CUser KioskUser() override { return kioskUser; }
  void ChangeKioskUser(const CUser& user, bool, DWORD) override { kioskChanges.push_back(user); }
  CUser SessionUser() override { return sessionUser; }
  bool UserHasCredentials(ULONGLONG) override { return true; }
  std::optional<ULONGLONG> FetchUserPolicy(const CUser&) override { return policy; }
  HRESULT ShareFUSData(const CCredential&, const std::wstring& name) override {
    shared.push_back(name);
    return S_OK;
  }
  HRESULT ClearFUSData(const CCredential&) override {
    ++cleared;
    return S_OK;
  }
  HRESULT KwsCommand(DWORD code, ULONG_PTR param, DWORD* result) override {
    kws.push_back({code, param});
    if (onKws) onKws(code);
    if (result) *result = kwsAnswer;
    return kwsResult;
  }
  DWORD KwsFeedbackState() override { return feedbackState; }
  void SetLockAfterFillIn(bool lock) override { lockAfterFillIn.push_back(lock); }
  bool IsPasswordManagerInstalled() override { return pmInstalled; }
  bool HasWBFReader() override { return wbf; }
  bool IsThereWorkingFpReader() override { return true; }
  bool IsMachineConfigured() override { return machineConfigured; }
  bool IsUserAdministrator() override { return admin; }
  int RunWizardsAtRuntimeIfNeeded(ULONGLONG) override { return wizardResult; }
  bool ModalMode() override { return modal; }
  void PerformLauncher(LONG) override { throw CResultError(E_FAIL); }  // none applies
  HWND FeedbackWindow() override { return nullptr; }
  bool VerifyUser(const CUser& user, const CCredential&) override {
    return user.IsValid() && user == verifies;
  }
  CUser IdentifyUser(const CCredential&) override { return identifies; }
  HVDFPAUTHENTICATION Authenticate(const CUser& user, const CCredential&) override {
    HVDFPAUTHENTICATION h = nullptr;
    m_api.VDFPCreateAuthentication(user.AccountName().c_str(), user.NameFormat(), &h);
    return h;
  }
  void ShowTrayIcon(bool present) override { trayStates.push_back(present); }
  void Notify(const CActionBalloon& b) override { balloons.push_back(b); }
  std::wstring ResourceString(UINT id) override { return L"S" + std::to_wstring(id); }
  HWND Window() override { return nullptr; }
  void Post(std::function<void()> task) override { posted.push_back(std::move(task)); }
  UINT Schedule(UINT delayMs, std::function<bool(UINT)> task) override {
    const UINT id = m_nextId++;
    scheduled[id] = {delayMs, std::move(task)};
    return id;
  }
  void CancelSchedule(UINT id) override { scheduled.erase(id); }

  // Runs the posted tasks, in order, including those they post.
  void RunPosted() {
    while (!posted.empty()) {
      auto task = std::move(posted.front());
      posted.erase(posted.begin());
      task();
    }
  }

  bool kiosk = false;
  CUser kioskUser;
  CUser sessionUser;
  std::vector<CUser> kioskChanges;
  std::optional<ULONGLONG> policy = VDFP_CRED_PASSWORD | VDFP_CRED_FINGERPRINT;
  std::vector<std::wstring> shared;
  int cleared = 0;
  std::vector<KwsCall> kws;
  std::function<void(DWORD)> onKws;
  HRESULT kwsResult = S_OK;
  DWORD kwsAnswer = 0;
  DWORD feedbackState = 0;
  std::vector<bool> lockAfterFillIn;
  bool pmInstalled = true;
  bool wbf = false;
  bool machineConfigured = true;
  bool admin = false;
  int wizardResult = 1;
  bool modal = false;
  CUser verifies;
  CUser identifies;
  std::vector<bool> trayStates;
  std::vector<CActionBalloon> balloons;
  std::vector<std::function<void()>> posted;
  struct Scheduled {
    UINT delayMs;
    std::function<bool(UINT)> task;
  };
  std::map<UINT, Scheduled> scheduled;

 private:
  CVDFPApi& m_api;
  UINT m_nextId = 10000;
};

// One agent process (with its own CAgentProcess, as a fresh start of the agent would have)
// on the fixture's machine.
struct AgentRun {
  explicit AgentRun(sim::Process& p)
      : desk(p), agent(desk, nullptr), host(agent.AuthLibrary()), actions(agent, host) {
    // As the fingerprint handler does at start-up.
    EXPECT_EQ(agent.AuthLibrary().VDFPInit(), S_OK);
  }
  ~AgentRun() {
    actions.Dispose();
    agent.AuthLibrary().VDFPTerm();
  }
  AgentRun(const AgentRun&) = delete;
  AgentRun& operator=(const AgentRun&) = delete;
  DesktopPlatform desk;
  core::CAgentProcess agent;
  FakeHost host;
  CQuickActions actions;
};

class ActionsTest : public ::testing::Test {
 protected:
  explicit ActionsTest(sim::MachineDescription desc = {}) : machine(std::move(desc)) {}

  void SetUp() override {
    VDTraceNS::Bind(nullptr);
    vdfp = vdfp_standin::InstallVdfpApi(machine, Description());
    proc = machine.CreateProcess({.sessionId = 1});
    scope = std::make_unique<sim::CurrentProcessScope>(proc.get());
    run = std::make_unique<AgentRun>(*proc);
  }
  void TearDown() override {
    run.reset();
    scope.reset();
    proc.reset();
    vdfp.reset();
  }

  // alice is signed in to session 1; bob is known to the host and signed in nowhere.
  static vdfp_standin::VdfpDescription Description() {
    auto d = vdfp_standin::VdfpDescription::Default();
    vdfp_standin::UserDesc bob;
    bob.name = bob.names[VDFP_NAME_SIMPLE] = bob.names[VDFP_NAME_DISPLAY] = L"bob";
    bob.names[VDFP_NAME_SAM] = bob.names[VDFP_NAME_NETBIOS] = L"VDSIM-PC\\bob";
    bob.sid = bob.names[VDFP_NAME_SID] = L"S-1-5-21-3623811015-3361044348-30300820-1101";
    bob.sidGiven = true;
    bob.enrolled = VDFP_CRED_PASSWORD | VDFP_CRED_FINGERPRINT;
    d.users.push_back(bob);
    return d;
  }

  CQuickActions& Actions() { return run->actions; }
  FakeHost& Host() { return run->host; }
  DesktopPlatform& Desk() { return run->desk; }
  ActionContext& Ctx() { return run->actions.Context(); }
  CVDFPApi& Api() { return run->agent.AuthLibrary(); }
  CUser Alice() { return CUser(Api(), L"VDSIM-PC\\alice", VDFP_NAME_SAM); }
  CUser Bob() { return CUser(Api(), L"VDSIM-PC\\bob", VDFP_NAME_SAM); }
  size_t OpenHandles() { return vdfp->Host().OutstandingAuthentications(); }

  // HKCU of session 1's user, and its policies key.
  std::wstring Hkcu() { return L"HKU\\" + machine.Sessions().UserSid(1) + L"\\SOFTWARE"; }
  std::wstring Apps() { return Hkcu() + L"\\Veridane\\Applications\\"; }
  std::wstring Policies() { return Hkcu() + L"\\Policies\\Veridane\\Lumera"; }
  sim::RegistryStore& Reg() { return machine.Registry(); }

  bool Logged(const std::string& text) const { return sink.Contains('U', text); }
  bool Entered(const std::string& scope) const { return sink.Contains('>', scope); }

  VDTraceNS::CRecordingSink sink;
  sim::Machine machine;
  std::unique_ptr<vdfp_standin::SimInstallation> vdfp;
  std::unique_ptr<sim::Process> proc;
  std::unique_ptr<sim::CurrentProcessScope> scope;
  std::unique_ptr<AgentRun> run;
};

}  // namespace actiontest
