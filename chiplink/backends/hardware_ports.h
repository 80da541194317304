#pragma once
// Opens the port space of a real adapter named by the Adapter setting:
//   ports                the processor's in/out instructions on the fourteen
//                        ports of the port table (root, CAP_SYS_RAWIO, or a
//                        start through morvane-ports)
//   ppdev                a parallel-port adapter on /dev/parport0
//   ppdev:/dev/parportN  a parallel-port adapter on another device
// "sim", the simulated adapter, is not opened here.
#include <memory>
#include <string>
#include <string_view>

#include "chiplink/backends/system_calls.h"
#include "chiplink/ports.h"

namespace morvane {

// The port space of the named adapter. Null in three cases:
// - the name is "sim": not a hardware adapter; *error is left empty;
// - the adapter cannot be opened: *error says why and what to do;
// - the name is unknown: *error lists the names.
// Names are matched without regard to case or surrounding blanks; a device
// path is taken as written.
std::unique_ptr<PortSpace> OpenHardwarePorts(std::string_view adapter, std::string* error);
std::unique_ptr<PortSpace> OpenHardwarePorts(std::string_view adapter, SystemCalls& calls,
                                             std::string* error);

}  // namespace morvane
