// The start-up sequence's logic on a simulated machine, with the window and the environment
// functions replaced by recording fakes. The fake task queue runs on the machine's virtual
// clock: a scheduled task ticks every period, a reschedule restarts the period from now.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/agent_process.h"
#include "platform/handles.h"
#include "platform/sim/clock.h"
#include "platform/sim/machine.h"
#include "platform/sim/module_table.h"
#include "platform/sim/process.h"
#include "platform/sim/registry_store.h"
#include "platform/sim/session_manager.h"
#include "policy/ux_logic.h"
#include "standins/vdfpapi/sim_install.h"
#include "support/result_error.h"
#include "support/settings/logon_settings.h"
#include "support/trace/trace.h"
#include "support/trace/trace_sink.h"
#include "support/vdfp/vdfp_api.h"

namespace ux_test {

struct Notice {
  UINT title = 0;
  UINT text = 0;
  DWORD flags = 0;
  std::wstring command;
  std::function<void()> onClick;
};

struct Command {
  std::wstring word;
  ULONGLONG mask = 0;
  bool operator==(const Command&) const = default;
};

class FakeUXHost final : public IUXHost {
 public:
  explicit FakeUXHost(sim::Clock& clock) : m_clock(clock) {}

  // ---- Task queue on the virtual clock ----
  void Post(std::function<void()> task) override { posted.push_back(std::move(task)); }
  UINT Schedule(UINT periodMs, std::function<bool(UINT)> task) override {
    const UINT id = m_nextId++;
    m_tasks[id] = {periodMs, std::move(task), 0};
    Arm(id);
    return id;
  }
  void Reschedule(UINT id, UINT periodMs) override {
    ++reschedules;
    auto it = m_tasks.find(id);
    if (it == m_tasks.end()) return;
    it->second.period = periodMs;
    Arm(id);
  }
  void CancelSchedule(UINT id) override { m_tasks.erase(id); }
  size_t ScheduledCount() const { return m_tasks.size(); }
  // Runs what was posted, in order, including what those tasks post.
  void RunPosted() {
    while (!posted.empty()) {
      auto task = std::move(posted.front());
      posted.erase(posted.begin());
      task();
    }
  }

  // ---- Tray and console ----
  void Notify(UINT titleId, UINT textId, DWORD flags, const std::wstring& command,
              std::function<void()> onClick) override {
    notices.push_back({titleId, textId, flags, command, std::move(onClick)});
  }
  HRESULT RunCommand(const std::wstring& word, ULONGLONG mask) override {
    commands.push_back({word, mask});
    return commandResult;
  }
  bool LaunchApp(int appId, const std::wstring& arguments) override {
    launches.push_back({appId, arguments});
    return true;
  }
  void FocusTaskbar() override { ++taskbarFocus; }
  bool IsConsoleRunning(const std::wstring&) override { return false; }

  // ---- User session ----
  CUser CurrentUser() override { return user; }
  ULONGLONG EnrolledCredentials() override { return enrolled; }
  bool UserHasEnoughCredentials() override { return enough; }
  bool UserHasCredentials(ULONGLONG mask) override { return (enrolled & mask) == mask; }
  ULONGLONG GetSuggestedCredentials() override {
    ++suggestionsAsked;
    return suggestion;
  }
  bool IsKioskSession() override { return kiosk; }
  HINSTANCE ResourceModule() override { return resources; }

  std::vector<std::function<void()>> posted;
  std::vector<Notice> notices;
  std::vector<Command> commands;
  std::vector<std::pair<int, std::wstring>> launches;
  HRESULT commandResult = S_OK;
  int taskbarFocus = 0;
  int reschedules = 0;
  CUser user;
  ULONGLONG enrolled = VDFP_CRED_PASSWORD | VDFP_CRED_FINGERPRINT;
  bool enough = true;
  ULONGLONG suggestion = 0;
  int suggestionsAsked = 0;
  bool kiosk = false;
  HINSTANCE resources = reinterpret_cast<HINSTANCE>(static_cast<uintptr_t>(0x5000));

 private:
  struct Task {
    UINT period;
    std::function<bool(UINT)> run;
    uint64_t generation;
  };
  void Arm(UINT id) {
    const uint64_t generation = ++m_tasks[id].generation;
    m_clock.ScheduleAt(m_clock.NowMs() + m_tasks[id].period, [this, id, generation] {
      auto it = m_tasks.find(id);
      if (it == m_tasks.end() || it->second.generation != generation) return;
      const bool done = it->second.run(id);
      it = m_tasks.find(id);
      if (it == m_tasks.end()) return;
      if (done)
        m_tasks.erase(it);
      else if (it->second.generation == generation)
        Arm(id);  // the next tick, unless the task rescheduled itself
    });
  }

  sim::Clock& m_clock;
  UINT m_nextId = 10000;
  std::map<UINT, Task> m_tasks;
};

class FakeUXEnvironment final : public IUXEnvironment {
 public:
  int IsHPImageReady() override { return imageState; }
  int RegisterLogon() override {
    ++logonsRegistered;
    return logonCount;
  }
  bool IsNaggingPostponed() override {
    ++naggingAsked;
    return postponed;
  }
  void UpdateNaggingTimestamp() override { ++timestampUpdates; }
  QUERY_USER_NOTIFICATION_STATE CheckQuietTime() override {
    ++quietAsked;
    if (quietFails) throw CResultError(E_FAIL);
    return quiet;
  }
  INT_PTR ShowPrompt(UXPrompt prompt, HINSTANCE module) override {
    prompts.push_back(prompt);
    promptModule = module;
    if (insidePrompt) insidePrompt();
    return answer;
  }

  int imageState = 0;
  int logonCount = 1;
  int logonsRegistered = 0;
  bool postponed = false;
  int naggingAsked = 0;
  int timestampUpdates = 0;
  QUERY_USER_NOTIFICATION_STATE quiet = QUNS_ACCEPTS_NOTIFICATIONS;
  bool quietFails = false;
  int quietAsked = 0;
  INT_PTR answer = IDCANCEL;
  std::vector<UXPrompt> prompts;
  HINSTANCE promptModule = nullptr;
  // Runs while the prompt is "up", as messages would inside its modal loop.
  std::function<void()> insidePrompt;
};

inline sim::MachineDescription Windows(DWORD major, DWORD minor) {
  sim::MachineDescription d;
  d.osMajor = major;
  d.osMinor = minor;
  return d;
}

class UXLogicTest : public ::testing::Test {
 protected:
  explicit UXLogicTest(sim::MachineDescription desc = {}) : machine(desc) {}

  void SetUp() override {
    vdfp = vdfp_standin::InstallVdfpApi(machine, vdfpDesc);
    proc = machine.CreateProcess({.sessionId = 1});
    scope = std::make_unique<sim::CurrentProcessScope>(proc.get());
    VDTraceNS::Bind(proc.get());
    agent = std::make_unique<core::CAgentProcess>(*proc, nullptr);
    ASSERT_EQ(agent->AuthLibrary().VDFPInit(), S_OK);
    host = std::make_unique<FakeUXHost>(machine.GetClock());
    host->user = CUser::FromSid(agent->AuthLibrary(), machine.Sessions().UserSid(1), VDFP_NAME_SAM);
    // No biometric-framework reader unless a test says so.
    SetPolicy(L"MS_WINBIO_Compatibility", 0);
    ux = std::make_unique<CUXLogic>(*agent, *host, env);
  }
  void TearDown() override {
    ux.reset();
    host.reset();
    agent->AuthLibrary().VDFPTerm();
    agent.reset();
    VDTraceNS::Bind(nullptr);
    scope.reset();
    proc.reset();
    vdfp.reset();
  }

  // A number-valued policy setting of the library.
  void SetPolicy(const std::wstring& name, ULONGLONG value) {
    vdfp_standin::PolicySettingDesc s;
    s.name = name;
    s.status = S_OK;
    s.value.type = VDVAR_UINT32;
    s.value.number = value;
    vdfp->Host().SetPolicySetting(s);
  }
  // A value of this session's logon record, written where the agent reads it.
  void SetLogonValue(const wchar_t* name, const void* data, DWORD size, DWORD type) {
    auto& reg = proc->Registry();
    const std::wstring path = LogonSettings(*proc).KeyPath();
    platform::UniqueHKey key(reg);
    ASSERT_EQ(reg.RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                  nullptr, key.put(), nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(reg.RegSetValueExW(key.get(), name, 0, type, static_cast<const BYTE*>(data), size),
              ERROR_SUCCESS);
  }
  void SetLogonDword(const wchar_t* name, DWORD value) {
    SetLogonValue(name, &value, sizeof(value), REG_DWORD);
  }
  void SetLogonQword(const wchar_t* name, ULONGLONG value) {
    SetLogonValue(name, &value, sizeof(value), REG_QWORD);
  }

  // Advances the clock and runs what the ticks posted.
  void Advance(ULONGLONG ms) {
    machine.AdvanceBy(ms);
    host->RunPosted();
  }
  bool Logged(const std::string& text) const { return sink.Contains('U', text); }
  bool Entered(const std::string& scopeName) const { return sink.Contains('>', scopeName); }
  // Trace records from here on, for Since().
  size_t Mark() const { return sink.Records().size(); }
  bool Since(size_t mark, char type, const std::string& text) const {
    const auto records = sink.Records();
    for (size_t i = mark; i < records.size(); ++i)
      if (records[i].type == type && records[i].text.find(text) != std::string::npos) return true;
    return false;
  }
  size_t OutstandingBuffers() { return vdfp->Host().Buffers().Outstanding(); }

  VDTraceNS::CRecordingSink sink;
  sim::Machine machine;
  // The library's machine, as SetUp installs it.
  vdfp_standin::VdfpDescription vdfpDesc = vdfp_standin::VdfpDescription::Default();
  std::unique_ptr<vdfp_standin::SimInstallation> vdfp;
  std::unique_ptr<sim::Process> proc;
  std::unique_ptr<sim::CurrentProcessScope> scope;
  std::unique_ptr<core::CAgentProcess> agent;
  std::unique_ptr<FakeUXHost> host;
  FakeUXEnvironment env;
  std::unique_ptr<CUXLogic> ux;
};

}  // namespace ux_test
