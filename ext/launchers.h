// The dashboard's launcher table: applications, web links and password-manager entries in
// numbered groups, stored per user under HKCU "...\Applications\DashBoard", "AppLauncher".
// A quick action loads the table and performs one group.
//
//   auto launchers = CLauncherContainer::LoadLunchers(process);   // raises CResultError
//   launchers.PerformLauncher(groupKey);
//
// The table is not read yet: loading always raises 0x80070002, exactly as a user without a
// stored table does, so callers take their no-launcher path.
#pragma once

#include "core/agent_process.h"

class CLauncherContainer {
 public:
  // Raises the reason the table cannot be read.
  static CLauncherContainer LoadLunchers(core::CAgentProcess& process);

  // Starts every launcher of the group `groupKey`; a group not in the table does nothing.
  void PerformLauncher(BYTE groupKey);
  bool Empty() const { return true; }

 private:
  CLauncherContainer() = default;
};
