#include "core/launch_app.h"

#include "support/trace/trace.h"

namespace LAUNCHAPPID {

// The executable table (the agent itself, the console of the installed edition) resolves
// nothing yet, so every launch is reported as unresolvable.
HRESULT LaunchApp(core::CAgentProcess&, int appId, const std::wstring& arguments) {
  VDTraceNS::CScope ts("LAUNCHAPPID::LaunchApp");
  ts.Msg("Arguments: %ls", arguments.c_str());
  ts.Msg("Invalid process name for ID: %d", appId);
  return E_FAIL;
}

}  // namespace LAUNCHAPPID
