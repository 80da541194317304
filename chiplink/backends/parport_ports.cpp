#include "chiplink/backends/parport_ports.h"

#include <fcntl.h>
#include <linux/ppdev.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cstring>

namespace morvane {
namespace {

std::string OpenFailure(const std::string& device, int error) {
  const std::string head = "Cannot open the parallel port " + device + ": ";
  switch (error) {
    case ENOENT:
      return head +
             "the device does not exist. Load the kernel's parallel-port drivers "
             "(\"sudo modprobe parport_pc ppdev\"), or name another port with "
             "Adapter=ppdev:/dev/parportN.";
    case ENXIO:
    case ENODEV:
      return head +
             "no parallel port answers behind the device. Check that the port is enabled in the "
             "firmware set-up and its driver is loaded (\"sudo modprobe parport_pc\"), or name "
             "another port with Adapter=ppdev:/dev/parportN.";
    case EACCES:
    case EPERM:
      return head +
             "permission denied. The user needs the lp group: \"sudo adduser $USER lp\", then "
             "log in again.";
    default:
      return head + std::strerror(error) + ".";
  }
}

std::string ClaimFailure(const std::string& device, const char* step, int error) {
  const std::string head = "Cannot claim the parallel port " + device + ": ";
  switch (error) {
    case EBUSY:
    case ENXIO:
      // A port that another driver has registered cannot be registered
      // exclusively; the kernel says busy, or no such device.
      return head +
             "it is busy, in use by another program or driver (such as the printer driver lp). "
             "Close that program or unload the driver (\"sudo rmmod lp\"), then try again.";
    case ENOTTY:
    case EINVAL:
      return head + "the device is not a parallel port (" + step + ": " + std::strerror(error) +
             "). Name a parallel-port device with Adapter=ppdev:/dev/parportN.";
    default:
      return head + step + " failed (" + std::strerror(error) + ").";
  }
}

}  // namespace

std::unique_ptr<ParportPorts> ParportPorts::Open(const std::string& device, SystemCalls& calls,
                                                 std::string* error) {
  int fd = calls.Open(device.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) {
    if (error) *error = OpenFailure(device, errno);
    return nullptr;
  }
  // Exclusive registration first: no other driver may share the lines while
  // the bus is driven bit by bit.
  if (calls.Ioctl(fd, PPEXCL, nullptr) != 0) {
    int failure = errno;
    calls.Close(fd);
    if (error) *error = ClaimFailure(device, "PPEXCL", failure);
    return nullptr;
  }
  if (calls.Ioctl(fd, PPCLAIM, nullptr) != 0) {
    int failure = errno;
    calls.Close(fd);
    if (error) *error = ClaimFailure(device, "PPCLAIM", failure);
    return nullptr;
  }
  return std::unique_ptr<ParportPorts>(new ParportPorts(calls, fd));
}

ParportPorts::~ParportPorts() {
  calls_.Ioctl(fd_, PPRELEASE, nullptr);
  calls_.Close(fd_);
}

uint8_t ParportPorts::In(uint16_t port) {
  unsigned char value = kFloatingBus;
  unsigned long request;
  if (port == kParportStatusPort) {
    request = PPRSTATUS;
  } else if (port == kParportDataPort) {
    request = PPRDATA;
  } else {
    return kFloatingBus;
  }
  if (calls_.Ioctl(fd_, request, &value) != 0) return kFloatingBus;
  return value;
}

void ParportPorts::Out(uint16_t port, uint8_t value) {
  if (port != kParportDataPort) return;
  unsigned char data = value;
  calls_.Ioctl(fd_, PPWDATA, &data);
}

}  // namespace morvane
