// Which quick action a reader event or the hotkey runs: the modifier keys pick a row, the
// administrator's policy status decides whether the policy's action or the user's own
// choice applies.
//
//   DWORD action = QUICKACTIONS::getQuickAction(process, host, ctx);   // logs its reasons
#pragma once

#include <string_view>

#include "actions/action_context.h"
#include "actions/action_host.h"
#include "core/agent_process.h"

namespace QUICKACTIONS {

// "None", "KwI", "FastConnect", "LockWorkstation", "FastSwitch"; empty for other numbers.
const wchar_t* NameOf(DWORD action);
// Case-insensitive; an unknown or empty name is 0.
DWORD FromName(std::wstring_view name);

// The action for the context's credential and keyboard state. The hotkey (credential mask 0)
// ignores held modifiers. An invalid modifier combination gives 0 with 0x80070032 traced.
// Settings failures are raised as CResultError.
DWORD getQuickAction(core::CAgentProcess& process, IActionHost& host, const ActionContext& ctx);

}  // namespace QUICKACTIONS
