#include "ext/launchers.h"

#include "support/result_error.h"
#include "support/trace/trace.h"

CLauncherContainer CLauncherContainer::LoadLunchers(core::CAgentProcess&) {
  VDTraceNS::CScope ts("CLauncherContainer::LoadLunchers");
  throw CResultError(ts.Result("AppLauncher", HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)));
}

void CLauncherContainer::PerformLauncher(BYTE) {}
