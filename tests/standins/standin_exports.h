// A stand-in library's export, looked up in a simulated process as the agent looks it up.
#pragma once

#include "platform/sim/process.h"

namespace standintest {

template <typename Pfn>
Pfn Export(sim::Process& p, HMODULE lib, const char* name) {
  return reinterpret_cast<Pfn>(reinterpret_cast<void (*)()>(p.Modules().GetProcAddress(lib, name)));
}

}  // namespace standintest
