#pragma once
// The "ppdev" adapter: a parallel-port adapter reached through the kernel's
// parport driver (/dev/parportN), which needs no root, only access to the
// device file. The port is registered exclusively and claimed for as long as
// the object lives. The adapter shows at the first parallel base: its data
// lines at 0x378, its status lines at 0x379, so that bus discovery finds it
// first; every other port reads as a floating bus and ignores writes.
#include <cstdint>
#include <memory>
#include <string>

#include "chiplink/backends/system_calls.h"
#include "chiplink/ports.h"

namespace morvane {

inline constexpr char kDefaultParport[] = "/dev/parport0";
inline constexpr uint16_t kParportDataPort = 0x378;
inline constexpr uint16_t kParportStatusPort = 0x379;

class ParportPorts final : public PortSpace {
 public:
  // Opens the device, registers exclusively (PPEXCL) and claims it
  // (PPCLAIM). Null with a message in *error when the device is missing,
  // busy or not permitted.
  static std::unique_ptr<ParportPorts> Open(const std::string& device, SystemCalls& calls,
                                            std::string* error);
  // Releases the claim (PPRELEASE) and closes the device. Whatever ends the
  // process without running it, the kernel releases the claim when it closes
  // the file.
  ~ParportPorts() override;

  uint8_t In(uint16_t port) override;
  void Out(uint16_t port, uint8_t value) override;

 private:
  ParportPorts(SystemCalls& calls, int fd) : calls_(calls), fd_(fd) {}
  SystemCalls& calls_;
  int fd_;
};

}  // namespace morvane
