// Start-up checks the policy and session handlers run.
//
//   if (IsLumeraStandaloneWksta(process)) ...           // policy "StandaloneMode", once
//   CheckUserPasswordReset(process, user);              // at ready, outside kiosk sessions
#pragma once

#include "auth/user.h"
#include "core/agent_process.h"

// The machine is a standalone workstation: the boolean policy "StandaloneMode" (false when
// the policy cannot be read), asked once per process.
bool IsLumeraStandaloneWksta(core::CAgentProcess& process);

// A password reset recorded for `user` (a sub-key named by the user's SID under HKLM
// "SOFTWARE\Veridane\Applications\Agent\PasswordResets", 32-bit view) is consumed: the flag
// key is deleted and "UserEnrollmentComplete" cleared, so the user enrolls again. A user
// known by name alone is translated to a SID first; without a SID nothing is touched, since
// an empty sub-key name would be the parent key itself.
void CheckUserPasswordReset(core::CAgentProcess& process, const CUser& user);
