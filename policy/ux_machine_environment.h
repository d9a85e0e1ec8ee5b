// The start-up sequence's environment on the real (or simulated) machine: the environment
// functions of policy/ux_environment.h and the prompt dialogs of policy/prompts.h.
//
//   CUXMachineEnvironment env(process);
//   CUXLogic ux(process, host, env);
#pragma once

#include "core/agent_process.h"
#include "policy/ux_host.h"

class CUXMachineEnvironment final : public IUXEnvironment {
 public:
  explicit CUXMachineEnvironment(core::CAgentProcess& process) : m_process(process) {}

  int IsHPImageReady() override;
  int RegisterLogon() override;
  bool IsNaggingPostponed() override;
  void UpdateNaggingTimestamp() override;
  QUERY_USER_NOTIFICATION_STATE CheckQuietTime() override;
  INT_PTR ShowPrompt(UXPrompt prompt, HINSTANCE resources) override;

 private:
  core::CAgentProcess& m_process;
};
