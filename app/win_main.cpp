// The Windows entry point: the process's platform is the real one.
#include "app/agent_main.h"
#include "platform/win32/win32_platform.h"
#include "support/trace/trace.h"

int WINAPI wWinMain(HINSTANCE hInstance, HINSTANCE, LPWSTR lpCmdLine, int nShowCmd) {
  platform::win32::CWin32Platform plat;
  // Unbound before the platform goes, so no record is written through a dead platform.
  struct TraceBinding {
    explicit TraceBinding(platform::IPlatform& p) { VDTraceNS::Bind(&p); }
    ~TraceBinding() { VDTraceNS::Bind(nullptr); }
  } binding(plat);
  return app::AgentMain(plat, hInstance, lpCmdLine, nShowCmd);
}
