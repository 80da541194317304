#pragma once
// morvane-ports: opens the fourteen I/O ports of the bus to one program.
// Installed with the capability CAP_SYS_RAWIO, it opens the ports with
// ioperm, gives up every privilege it has (capabilities, and the set-uid or
// set-gid identity if it has one) and then becomes the program it was given.
// The port permissions survive the exec; nothing else of the privilege
// does. Only processes started this way get the ports.
#include <linux/capability.h>
#include <sys/types.h>

#include <ostream>

#include "chiplink/backends/system_calls.h"

namespace morvane {

// The calls of the privilege drop and the exec, replaceable like the port
// calls. Same convention: -1 and errno on failure.
class LauncherCalls {
 public:
  virtual ~LauncherCalls() = default;
  virtual int Prctl(int option, unsigned long arg2, unsigned long arg3) = 0;
  virtual int Capget(__user_cap_header_struct* header, __user_cap_data_struct* data) = 0;
  virtual int Capset(__user_cap_header_struct* header, const __user_cap_data_struct* data) = 0;
  virtual int Getresuid(uid_t* real, uid_t* effective, uid_t* saved) = 0;
  virtual int Getresgid(gid_t* real, gid_t* effective, gid_t* saved) = 0;
  virtual int Setresuid(uid_t real, uid_t effective, uid_t saved) = 0;
  virtual int Setresgid(gid_t real, gid_t effective, gid_t saved) = 0;
  virtual int Setenv(const char* name, const char* value) = 0;
  // Returns only on failure.
  virtual int Execvp(const char* file, char* const argv[]) = 0;
};

LauncherCalls& RealLauncherCalls();

// Exit statuses when the program cannot be started.
inline constexpr int kLauncherUsage = 2;
inline constexpr int kLauncherNoPorts = 1;
inline constexpr int kLauncherNoDrop = 1;
inline constexpr int kLauncherCannotRun = 126;
inline constexpr int kLauncherNotFound = 127;

// Runs morvane-ports with its command line (argv[0] is the launcher). Does
// not return when the program starts; otherwise returns the exit status
// after writing what went wrong to err.
int RunPortLauncher(int argc, char* const argv[], SystemCalls& system, LauncherCalls& calls,
                    std::ostream& err);

}  // namespace morvane
