// Placeholder until the simulated window manager lands.
#pragma once

namespace sim {

class Machine;

class WindowManager {
 public:
  explicit WindowManager(Machine& m) : m_machine(m) {}
  // Runs the calling thread's due messages; true when anything ran.
  bool PumpCurrentThread() { return false; }

 private:
  [[maybe_unused]] Machine& m_machine;
};

}  // namespace sim
