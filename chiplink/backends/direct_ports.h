#pragma once
// The "ports" adapter: the processor's own in and out instructions on the
// fourteen ports of the port table. Every other port reads as a floating bus
// and ignores writes: the process has no permission for it, and touching it
// would kill the process.
//
// The kernel keeps port permissions per thread: a thread gets them from the
// thread that creates it. Open this space before starting any thread that
// drives the bus (the job threads), and on the thread that starts them.
#include <memory>
#include <string>

#include "chiplink/backends/system_calls.h"
#include "chiplink/ports.h"

namespace morvane {

class DirectPorts final : public PortSpace {
 public:
  // Opens the fourteen ports (ioperm), or takes them as already open when
  // morvane-ports started this process with them. Null with a message in
  // *error when the permission is missing.
  static std::unique_ptr<DirectPorts> Open(SystemCalls& calls, std::string* error);
  ~DirectPorts() override;

  uint8_t In(uint16_t port) override;
  void Out(uint16_t port, uint8_t value) override;

 private:
  DirectPorts(SystemCalls& calls, bool openedHere) : calls_(calls), openedHere_(openedHere) {}
  SystemCalls& calls_;
  bool openedHere_;  // withdrawn again on destruction; a launcher's grant is kept
};

}  // namespace morvane
