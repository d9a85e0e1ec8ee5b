// Placeholder until the simulated component lands.
#pragma once

namespace sim {

class Machine;

class Desktop {
 public:
  explicit Desktop(Machine& m) : m_machine(m) {}

 private:
  [[maybe_unused]] Machine& m_machine;
};

}  // namespace sim
