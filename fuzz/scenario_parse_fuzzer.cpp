// The scenario reader on any input: it either gives a scenario or refuses with a message that
// names a position; it never crashes, and what it accepts it accepts again the same way.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "tools/vdagent_sim/scenario.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  try {
    const vdsim::Scenario sc = vdsim::ParseScenario(text);
    // Events come out ordered by time.
    for (std::size_t i = 1; i < sc.events.size(); ++i)
      if (sc.events[i - 1].atMs > sc.events[i].atMs) std::abort();
  } catch (const vdsim::ScenarioError& e) {
    if (std::string(e.what()).empty()) std::abort();
  }
  return 0;
}
