#include "platform/sim/process_counters.h"

#include <utility>
#include <vector>

#include "platform/sim/desktop.h"
#include "platform/sim/machine.h"
#include "platform/sim/menus.h"
#include "platform/sim/object_manager.h"
#include "platform/sim/process_kernel.h"
#include "platform/sim/process_registry.h"
#include "platform/sim/thread_pool.h"
#include "platform/sim/window_manager.h"

namespace sim {

namespace {

std::vector<std::pair<const char*, uint64_t>> Fields(const LiveCounts& c) {
  return {{"handles", c.handles},
          {"registryKeys", c.registryKeys},
          {"windows", c.windows},
          {"windowTimers", c.windowTimers},
          {"poolTimers", c.poolTimers},
          {"poolWaits", c.poolWaits},
          {"menus", c.menus},
          {"icons", c.gdi.icons},
          {"bitmaps", c.gdi.bitmaps},
          {"dcs", c.gdi.dcs},
          {"imageLists", c.gdi.imageLists},
          {"themes", c.gdi.themes}};
}

std::string Join(const std::vector<std::pair<const char*, uint64_t>>& fields) {
  std::string s;
  for (const auto& [name, value] : fields)
    s += (s.empty() ? "" : ", ") + std::string(name) + " " + std::to_string(value);
  return s;
}

}  // namespace

LiveCounts LiveObjects(Process& process) {
  Machine& m = process.GetMachine();
  const DWORD pid = process.Pid();
  const PoolCounts pool = m.Pool().Counts(pid);
  LiveCounts c;
  c.handles = m.Objects().HandleCount(pid);
  // The simulated process's parts are always these classes.
  c.registryKeys = static_cast<ProcessRegistry&>(process.Registry()).OpenKeyCount();
  c.windows = m.Windows().WindowsOfProcess(pid).size();
  c.windowTimers = m.Windows().TimerCount(pid);
  c.poolTimers = pool.timers;
  c.poolWaits = pool.waits;
  c.menus = static_cast<size_t>(m.GetDesktop().Menus().LiveCount(pid));
  c.gdi = GdiObjects(process);
  return c;
}

WakeCounts Wakeups(Process& process) {
  Machine& m = process.GetMachine();
  const UiActivity ui = m.Windows().Activity(process.Pid());
  const PoolCounts pool = m.Pool().Counts(process.Pid());
  WakeCounts w;
  w.messages = ui.sent + ui.posted;
  w.windowTimers = ui.timers;
  w.poolTimers = pool.timerCallbacks;
  w.poolWaits = pool.waitCallbacks;
  w.waitsEnded = static_cast<ProcessKernel&>(process.Kernel()).WaitsEnded();
  return w;
}

std::string Describe(const LiveCounts& c) { return Join(Fields(c)); }

std::string Describe(const WakeCounts& c) {
  return Join({{"messages", c.messages},
               {"windowTimers", c.windowTimers},
               {"poolTimers", c.poolTimers},
               {"poolWaits", c.poolWaits},
               {"waitsEnded", c.waitsEnded}});
}

std::string Difference(const LiveCounts& before, const LiveCounts& after) {
  const auto a = Fields(before), b = Fields(after);
  std::string s;
  for (size_t i = 0; i < a.size(); ++i)
    if (a[i].second != b[i].second)
      s += (s.empty() ? "" : "; ") + std::string(a[i].first) + " " + std::to_string(a[i].second) +
           " -> " + std::to_string(b[i].second);
  return s;
}

}  // namespace sim
