#include "chiplink/backends/hardware_ports.h"

#include <algorithm>
#include <cctype>

#include "chiplink/backends/direct_ports.h"
#include "chiplink/backends/parport_ports.h"

namespace morvane {
namespace {

std::string_view Trim(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
  return text;
}

bool SameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

const char kAdapterNames[] =
    "The adapters are: sim (the simulated chip), ports (the I/O ports themselves: root, or a "
    "start through morvane-ports), ppdev (a parallel-port adapter on /dev/parport0), "
    "ppdev:/dev/parportN (one on another parallel port).";

}  // namespace

std::unique_ptr<PortSpace> OpenHardwarePorts(std::string_view adapter, std::string* error) {
  return OpenHardwarePorts(adapter, RealSystemCalls(), error);
}

std::unique_ptr<PortSpace> OpenHardwarePorts(std::string_view adapter, SystemCalls& calls,
                                             std::string* error) {
  std::string ignored;
  if (!error) error = &ignored;
  error->clear();
  std::string_view name = Trim(adapter);
  if (SameName(name, "sim")) return nullptr;
  if (SameName(name, "ports")) return DirectPorts::Open(calls, error);
  if (SameName(name, "ppdev")) return ParportPorts::Open(kDefaultParport, calls, error);
  size_t colon = name.find(':');
  if (colon != std::string_view::npos && SameName(name.substr(0, colon), "ppdev")) {
    std::string_view device = Trim(name.substr(colon + 1));
    if (device.empty()) {
      *error =
          "Adapter=ppdev: names no device. Write the parallel-port device after the colon, "
          "such as ppdev:/dev/parport1, or ppdev alone for /dev/parport0.";
      return nullptr;
    }
    return ParportPorts::Open(std::string(device), calls, error);
  }
  *error = "Unknown adapter \"" + std::string(name) + "\". " + kAdapterNames;
  return nullptr;
}

}  // namespace morvane
