// What the start-up sequence asks of the machine and the user's settings before it speaks:
// the first-use image state, the logon count, reminder postponement and quiet time.
//
//   int count = ux_env::RegisterLogon(process);             // "LogonCount", stored at most 4
//   if (!ux_env::IsNaggingPostponed(process)) ...            // reminder due
//   auto state = ux_env::CheckQuietTime(plat);               // raises CResultError
//
// Window thread. Settings reads that fail raise their HRESULT (CResultError); every other
// failure is traced and gives the default stated below.
#pragma once

#include "core/agent_process.h"
#include "platform/platform.h"

namespace ux_env {

// HKLM "Software\Hewlett-Packard\HP Image" (64-bit view on 64-bit Windows), "StateName":
// 0 no key ("No HP Image, ready"), 2 "IMAGE_STATE_COMPLETE" in any case, 1 any other state.
int IsHPImageReady(platform::IPlatform& plat);

// Image state 1: false; 0: true; 2: "OOBEPassed" (KwAppSettings, default false).
bool IsOOBEPassed(core::CAgentProcess& process);

// Reads "LogonCount" (default 0); after the first-use period adds 1 and stores
// min(count, 4). Returns the count, uncapped. Traces "LogonCount=%d".
int RegisterLogon(core::CAgentProcess& process);

// The user satisfied the policy less than the policy's reminder interval ago: the
// administrator's or the user's "...NaggingPeriodReminder" policy (2: 1 day, 3: 7, 4: 30,
// else 0) counted from "NaggingPeriodTimestamp" (a date, default "1899-12-30"). A date that
// does not parse or a policy query that fails never postpones.
bool IsNaggingPostponed(core::CAgentProcess& process);

// Writes today's local date ("%Y-%m-%d") as "NaggingPeriodTimestamp".
void UpdateNaggingTimestamp(core::CAgentProcess& process);

// The shell's user-notification state through "SHQueryUserNotificationState" of the loaded
// Shell32.dll; QUNS_ACCEPTS_NOTIFICATIONS when the module or the entry is missing. A failing
// call raises its HRESULT (CResultError).
QUERY_USER_NOTIFICATION_STATE CheckQuietTime(platform::IPlatform& plat);

}  // namespace ux_env
