#pragma once
// A simulated machine wired to the chip link for a test: the link's port
// space is the machine's, its tick count the machine's simulated time, and
// the link state is set as a successful discovery would leave it on the
// machine's adapter (unless told not to). Everything is put back when the
// object goes.
#include <memory>

#include "chiplink/ports.h"
#include "chiplink/recording_ports.h"
#include "chiplink/sim_ports.h"
#include "platform/clock.h"
#include "sim/machine.h"

namespace morvane::testing {

class SimLink {
 public:
  explicit SimLink(const sim::Config& config = {}, bool asDiscovered = true);
  ~SimLink();
  SimLink(const SimLink&) = delete;
  SimLink& operator=(const SimLink&) = delete;

  sim::Machine& machine() { return *machine_; }
  // Every port access, in order (recording is off until switched on).
  RecordingPorts& ports() { return recorder_; }

 private:
  static uint32_t Ticks(void* self);

  std::unique_ptr<sim::Machine> machine_;
  SimPorts ports_;
  RecordingPorts recorder_;
  TimeSource previousTime_;
};

}  // namespace morvane::testing
