#pragma once
// The simulated machine behind the port seam: what the link sees when it
// runs on the simulator.
#include "chiplink/ports.h"
#include "sim/machine.h"

namespace morvane {

class SimPorts final : public PortSpace {
 public:
  explicit SimPorts(sim::Machine& machine) : machine_(machine) {}
  uint8_t In(uint16_t port) override { return machine_.In(port); }
  void Out(uint16_t port, uint8_t value) override { machine_.Out(port, value); }

 private:
  sim::Machine& machine_;
};

}  // namespace morvane
