#include "app/cli.h"

#include <cwctype>

#include "core/messages.h"
#include "launch/commands.h"
#include "platform/handles.h"
#include "support/result_error.h"
#include "support/trace/trace.h"

namespace CLI {

namespace {

bool EqualsNoCase(const std::wstring& a, const wchar_t* b) {
  size_t i = 0;
  for (; i < a.size() && b[i]; ++i)
    if (std::towlower(a[i]) != std::towlower(b[i])) return false;
  return i == a.size() && !b[i];
}

}  // namespace

bool Handle(core::CAgentProcess& process, const std::wstring& text) {
  VDTraceNS::CScope ts("CLI::Handle");
  ts.Msg("Command: %ls", text.empty() ? L"<empty>" : text.c_str());
  auto& k = process.Platform().Kernel();
  platform::UniqueHandle mutex(k, k.CreateMutexW(nullptr, FALSE, core::kCommandMutex));
  if (k.GetLastError() == ERROR_ALREADY_EXISTS) {
    ts.Msg("This is a second instance, ignoring.");
    return false;
  }
  struct Command {
    const wchar_t* name;
    HRESULT (*run)(core::CAgentProcess&);
  };
  static const Command kCommands[] = {
      {L"ShowAbout", &ShowAbout},
      {L"RunSetupWizard", &OpenConsole},
      {L"OpenConsole", &OpenConsole},
      {L"EnrollCredentials", [](core::CAgentProcess& p) { return EnrollCredentials(p, 0, 0); }},
      {L"ManageCredentials", &ManageCredentials},
      {L"ResetCredentials", &ResetCredentials},
      {L"StartRecovery", &StartRecovery},
  };
  for (const auto& c : kCommands) {
    if (!EqualsNoCase(text, c.name)) continue;
    // Handled whatever the command gave: the launcher logged its failures. A library that
    // cannot start (About box) is logged here rather than ending the process abruptly.
    try {
      c.run(process);
    } catch (const CResultError& e) {
      ts.Result("Command failed", e.Result());
    }
    return true;
  }
  return false;
}

}  // namespace CLI
