// Placeholder until the simulated ICom lands: every operation fails.
#pragma once
#pragma GCC diagnostic ignored "-Wunused-parameter"

#include "platform/com.h"
#include "platform/sim/process.h"

namespace sim {

class ProcessCom : public platform::ICom {
 public:
  explicit ProcessCom(Process& p) : m_process(p) {}
  HRESULT CoInitializeEx(LPVOID pvReserved, DWORD dwCoInit) override { return {}; }
  void CoUninitialize() override {}

 private:
  [[maybe_unused]] Process& m_process;
};

}  // namespace sim
