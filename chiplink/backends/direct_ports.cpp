#include "chiplink/backends/direct_ports.h"

#include "chiplink/backends/port_table.h"

namespace morvane {

std::unique_ptr<DirectPorts> DirectPorts::Open(SystemCalls& calls, std::string* error) {
  // Started through morvane-ports: the ports are open, and asking again
  // would fail, since the launcher gave up the capability before exec.
  if (PortsGrantedByLauncher(calls)) return std::unique_ptr<DirectPorts>(new DirectPorts(calls, false));
  if (int failure = OpenPortTable(calls)) {
    if (error) *error = DescribePortTableFailure(failure, PortRequester::kProgram, calls);
    return nullptr;
  }
  return std::unique_ptr<DirectPorts>(new DirectPorts(calls, true));
}

DirectPorts::~DirectPorts() {
  if (openedHere_) ClosePortTable(calls_);
}

uint8_t DirectPorts::In(uint16_t port) {
  return InPortTable(port) ? calls_.In(port) : kFloatingBus;
}

void DirectPorts::Out(uint16_t port, uint8_t value) {
  if (InPortTable(port)) calls_.Out(port, value);
}

}  // namespace morvane
