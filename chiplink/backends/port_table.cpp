#include "chiplink/backends/port_table.h"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace morvane {
namespace {

// The active lockdown mode, "" when the kernel is not locked down or does not
// say. The kernel shows the modes with the active one in brackets:
// "none [integrity] confidentiality".
std::string ActiveLockdown(SystemCalls& calls) {
  int fd = calls.Open("/sys/kernel/security/lockdown", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return "";
  char buffer[256];
  ssize_t n = calls.Read(fd, buffer, sizeof buffer - 1);
  calls.Close(fd);
  if (n <= 0) return "";
  std::string_view text(buffer, static_cast<size_t>(n));
  size_t open = text.find('[');
  size_t close = text.find(']', open);
  if (open == std::string_view::npos || close == std::string_view::npos) return "";
  std::string mode(text.substr(open + 1, close - open - 1));
  return mode == "none" ? "" : mode;
}

}  // namespace

bool InPortTable(uint16_t port) {
  return std::any_of(kPortTable.begin(), kPortTable.end(),
                     [port](uint16_t base) { return port == base || port == base + 1; });
}

bool PortsGrantedByLauncher(SystemCalls& calls) {
  const char* value = calls.Getenv(kPortsGrantedVariable);
  if (!value || !*value) return false;
  char* end = nullptr;
  errno = 0;
  long pid = std::strtol(value, &end, 10);
  if (errno != 0 || *end != '\0' || pid <= 0) return false;
  // Only the process the launcher became has the ports; a child that merely
  // inherited the variable does not count.
  return pid == static_cast<long>(calls.Getpid());
}

int OpenPortTable(SystemCalls& calls) {
  for (size_t i = 0; i < kPortTable.size(); ++i) {
    if (calls.Ioperm(kPortTable[i], 2, 1) != 0) {
      int error = errno;
      for (size_t j = 0; j < i; ++j) calls.Ioperm(kPortTable[j], 2, 0);
      return error;
    }
  }
  return 0;
}

void ClosePortTable(SystemCalls& calls) {
  for (uint16_t base : kPortTable) calls.Ioperm(base, 2, 0);
}

std::string DescribePortTableFailure(int error, PortRequester requester, SystemCalls& calls) {
  const std::string head = "Cannot open the I/O ports of the bus: ";
  const std::string ppdev =
      "use a parallel-port adapter through the kernel's parport driver instead "
      "(Adapter=ppdev), which needs no root.";
  if (error == ENOSYS || error == EINVAL) {
    return head + "direct port access is not available here (ioperm: " + std::strerror(error) +
           "). It needs an x86 processor and a kernel that offers ioperm, which some sandboxes "
           "and virtual machines do not; " + ppdev;
  }
  if (error == EPERM) {
    std::string lockdown = ActiveLockdown(calls);
    if (!lockdown.empty()) {
      return head + "the kernel is in lockdown (\"" + lockdown +
             "\"), which refuses direct port access even to root. Boot without lockdown "
             "(for example with Secure Boot off, or lockdown=none where the kernel allows it), or " +
             ppdev;
    }
    if (requester == PortRequester::kLauncher) {
      if (calls.Geteuid() == 0) {
        return head +
               "morvane-ports runs as root but lacks the capability CAP_SYS_RAWIO (as in a "
               "container started without it). Give it that capability, or " + ppdev;
      }
      return head +
             "morvane-ports lacks the capability CAP_SYS_RAWIO. Install it with "
             "\"sudo setcap cap_sys_rawio+ep /path/to/morvane-ports\" (on a file system that "
             "keeps file capabilities, not mounted nosuid), or run it as root; or " + ppdev;
    }
    if (calls.Geteuid() == 0) {
      return head +
             "the process runs as root but lacks the capability CAP_SYS_RAWIO (as in a "
             "container started without it). Give it that capability, or " + ppdev;
    }
    return head +
           "this process has no permission to use them (it is not root and lacks "
           "CAP_SYS_RAWIO). Run it as root, or start it through morvane-ports once that has "
           "the capability (\"sudo setcap cap_sys_rawio+ep morvane-ports\", then "
           "\"morvane-ports PROGRAM ARGS...\"), or " + ppdev;
  }
  return head + "ioperm failed (" + std::strerror(error) + ").";
}

}  // namespace morvane
