#pragma once
// The fourteen I/O ports through which the chip link can reach the bus:
// seven pairs, each a port and the one after it (the four parallel-port
// bases with their status ports, and the index/data pairs of the VGA
// sequencer, CRTC and graphics controller). Direct port access opens exactly
// these and nothing else.
#include <array>
#include <cstdint>
#include <string>

#include "chiplink/backends/system_calls.h"

namespace morvane {

inline constexpr std::array<uint16_t, 7> kPortTable = {0x278, 0x378, 0x3BC, 0x2BC,
                                                       0x3C4, 0x3D4, 0x3CE};

// True for the fourteen ports of the table.
bool InPortTable(uint16_t port);

// The environment variable through which morvane-ports tells the program it
// starts that the ports are already open: its value is the process id that
// received them (the launcher's, which the program keeps across exec).
inline constexpr char kPortsGrantedVariable[] = "MORVANE_PORTS_GRANTED";

// True when this process was started by morvane-ports with the ports open.
bool PortsGrantedByLauncher(SystemCalls& calls);

// Opens the fourteen ports with one ioperm call per pair. On failure the
// pairs already opened are closed again and the errno of the failing call is
// returned; 0 on success.
int OpenPortTable(SystemCalls& calls);

// Withdraws access to the fourteen ports.
void ClosePortTable(SystemCalls& calls);

// Who asked for the ports, which decides the advice in a failure message.
enum class PortRequester { kProgram, kLauncher };

// The message for a failed OpenPortTable: what happened and how to get the
// permission. Looks at the kernel's lockdown state and the effective user.
std::string DescribePortTableFailure(int error, PortRequester requester, SystemCalls& calls);

}  // namespace morvane
