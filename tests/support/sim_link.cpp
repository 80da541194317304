#include "tests/support/sim_link.h"

#include "chiplink/lines.h"
#include "chiplink/linkstate.h"

namespace morvane::testing {

SimLink::SimLink(const sim::Config& config, bool asDiscovered)
    : machine_(std::make_unique<sim::Machine>(config)), ports_(*machine_), recorder_(&ports_) {
  ResetLinkState();
  recorder_.SetRecording(false);
  SetPortSpace(&recorder_);
  TimeSource source;
  source.tickCount = &SimLink::Ticks;
  source.context = machine_.get();
  previousTime_ = SetTimeSource(source);
  if (asDiscovered) {
    BusPort = config.port;
    LineShadow = IsVgaPort(config.port) ? 0x00 : kDataIdle;
    SlaveAddress = config.address;
    LoopsPerUnit = 1;
  }
}

SimLink::~SimLink() {
  SetPortSpace(nullptr);
  SetTimeSource(previousTime_);
  ResetLinkState();
}

uint32_t SimLink::Ticks(void* self) {
  return static_cast<uint32_t>(static_cast<sim::Machine*>(self)->NowMicros() / 1000);
}

}  // namespace morvane::testing
