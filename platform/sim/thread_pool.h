// Placeholder until the simulated thread pool lands.
#pragma once

namespace sim {

class Machine;

class ThreadPool {
 public:
  explicit ThreadPool(Machine& m) : m_machine(m) {}
  void WaitIdle() {}
  bool IsIdle() const { return true; }

 private:
  [[maybe_unused]] Machine& m_machine;
};

}  // namespace sim
