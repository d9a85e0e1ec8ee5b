#include "core/timer_queue.h"

#include "support/result_error.h"
#include "support/trace/trace.h"

namespace core::timer_queue {

DWORD DormantDue(platform::IKernel& kernel) {
  OSVERSIONINFOEXW v{};
  v.dwOSVersionInfoSize = sizeof(v);
  // Far enough away to mean "not yet"; systems before 5.0 are given the largest value.
  if (kernel.GetVersionExW(&v) && v.dwMajorVersion < 5) return 0xFFFFFFFFu;
  return 0x1FFFFFFFu;
}

void LogStartFailure(DWORD error) {
  VDTraceNS::CScope ts("CVDTimerQueue::CVDTimerQueue");
  ts.Msg("Problem to start the timer!!! Error %d", static_cast<int>(error));
}

void LogStopFailure(DWORD error) {
  VDTraceNS::CScope ts("CVDTimerQueue::~CVDTimerQueue");
  ts.Msg("Problem with stoping timer!!! Error %d", static_cast<int>(error));
}

void LogCallbackFailure(const std::exception* e) {
  VDTraceNS::CScope ts("CVDTimerQueue::Tick");
  if (auto* r = dynamic_cast<const CResultError*>(e))
    ts.Result("Callback failed", r->Result());
  else if (e)
    ts.Msg("Callback failed: %s", e->what());
  else
    ts.Result("Callback failed", E_UNEXPECTED);
}

}  // namespace core::timer_queue
