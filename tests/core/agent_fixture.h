// A simulated machine with one agent process, its main window created on the test thread,
// and every trace record captured in memory.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "app/main_window.h"
#include "core/agent_process.h"
#include "platform/sim/machine.h"
#include "platform/sim/process.h"
#include "support/trace/trace.h"
#include "support/trace/trace_sink.h"

class AgentWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    proc = machine.CreateProcess({});
    scope = std::make_unique<sim::CurrentProcessScope>(proc.get());
    VDTraceNS::Bind(proc.get());
    // The agent's window thread lives in a single-threaded apartment, as at its entry.
    ASSERT_EQ(proc->Com().CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    agent = std::make_unique<core::CAgentProcess>(*proc, nullptr);
    window = std::make_unique<CExceptionSafeWindow<CVdAgentMain>>(*agent);
    ASSERT_NE(window->CreateMainWindow(), nullptr);
    machine.RunUntilIdle();
  }
  void TearDown() override {
    window.reset();
    agent.reset();
    if (proc) proc->Com().CoUninitialize();
    VDTraceNS::Bind(nullptr);
    scope.reset();
    proc.reset();
  }

  // Scope names entered since the last call, in order.
  std::vector<std::string> Entered() {
    std::vector<std::string> out;
    const auto records = sink.Records();
    for (size_t i = m_seen; i < records.size(); ++i)
      if (records[i].type == '>') out.push_back(records[i].text);
    m_seen = records.size();
    return out;
  }
  // Only the handler scopes "X<class CVdAgentMain>::Event" and "CVdAgentMain::Event".
  std::vector<std::string> Handlers() {
    std::vector<std::string> out;
    for (auto& s : Entered())
      if (s.find("::On") != std::string::npos || s.find("::Dispose") != std::string::npos)
        out.push_back(s);
    return out;
  }
  LRESULT Send(UINT msg, WPARAM wp = 0, LPARAM lp = 0) {
    return proc->Ui().SendMessageW(window->m_hWnd, msg, wp, lp);
  }

  VDTraceNS::CRecordingSink sink;
  sim::Machine machine;
  std::unique_ptr<sim::Process> proc;
  std::unique_ptr<sim::CurrentProcessScope> scope;
  std::unique_ptr<core::CAgentProcess> agent;
  std::unique_ptr<CExceptionSafeWindow<CVdAgentMain>> window;

 private:
  size_t m_seen = 0;
};

inline std::string H(const char* mixin, const char* event) {
  return std::string(mixin) + "<class CVdAgentMain>::" + event;
}
