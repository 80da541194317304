#include "driver/linux/launcher.h"

#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "chiplink/backends/port_table.h"

namespace morvane {
namespace {

class Real final : public LauncherCalls {
 public:
  int Prctl(int option, unsigned long arg2, unsigned long arg3) override {
    return ::prctl(option, arg2, arg3, 0UL, 0UL);
  }
  int Capget(__user_cap_header_struct* header, __user_cap_data_struct* data) override {
    return static_cast<int>(::syscall(SYS_capget, header, data));
  }
  int Capset(__user_cap_header_struct* header, const __user_cap_data_struct* data) override {
    return static_cast<int>(::syscall(SYS_capset, header, data));
  }
  int Getresuid(uid_t* r, uid_t* e, uid_t* s) override { return ::getresuid(r, e, s); }
  int Getresgid(gid_t* r, gid_t* e, gid_t* s) override { return ::getresgid(r, e, s); }
  int Setresuid(uid_t r, uid_t e, uid_t s) override { return ::setresuid(r, e, s); }
  int Setresgid(gid_t r, gid_t e, gid_t s) override { return ::setresgid(r, e, s); }
  int Setenv(const char* name, const char* value) override { return ::setenv(name, value, 1); }
  int Execvp(const char* file, char* const argv[]) override { return ::execvp(file, argv); }
};

// Highest capability number tried when emptying the bounding set; the kernel
// answers EINVAL past its last one.
constexpr unsigned long kCapabilityLimit = 64;

void Usage(std::ostream& out) {
  out << "usage: morvane-ports PROGRAM [ARGS...]\n"
         "Opens the I/O ports of the bus (0x278/9, 0x378/9, 0x3BC/D, 0x2BC/D, 0x3C4/5,\n"
         "0x3D4/5, 0x3CE/F) to PROGRAM and runs it without any other privilege.\n"
         "morvane-ports needs the capability CAP_SYS_RAWIO:\n"
         "  sudo setcap cap_sys_rawio+ep /path/to/morvane-ports\n"
         "for example: morvane-ports morvane-cli --adapter ports info\n";
}

std::string Reason(const char* call, int error) {
  return std::string(call) + ": " + std::strerror(error);
}

// Gives up every privilege the launcher holds. Returns "" on success, or
// what could not be given up.
std::string DropPrivileges(LauncherCalls& calls) {
  // The bounding set first, while a set-uid root launcher still has
  // CAP_SETPCAP; a launcher with only CAP_SYS_RAWIO cannot shrink it, and
  // needs not: without ambient or inheritable capabilities nothing of it
  // reaches the program.
  for (unsigned long cap = 0; cap < kCapabilityLimit; ++cap) {
    if (calls.Prctl(PR_CAPBSET_DROP, cap, 0) != 0) break;  // EINVAL: past the last; EPERM: not allowed
  }
  // Kernels without ambient capabilities answer EINVAL: nothing to clear.
  if (calls.Prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0) != 0 && errno != EINVAL) {
    return Reason("clearing the ambient capabilities", errno);
  }

  // Back to the real identity, group first while the user id may still
  // allow the change.
  gid_t rgid, egid, sgid;
  if (calls.Getresgid(&rgid, &egid, &sgid) != 0) return Reason("getresgid", errno);
  if ((egid != rgid || sgid != rgid) && calls.Setresgid(rgid, rgid, rgid) != 0) {
    return Reason("setresgid", errno);
  }
  uid_t ruid, euid, suid;
  if (calls.Getresuid(&ruid, &euid, &suid) != 0) return Reason("getresuid", errno);
  if ((euid != ruid || suid != ruid) && calls.Setresuid(ruid, ruid, ruid) != 0) {
    return Reason("setresuid", errno);
  }

  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct none[_LINUX_CAPABILITY_U32S_3] = {};
  if (calls.Capset(&header, none) != 0) return Reason("capset", errno);

  // Check rather than trust: the program must not start with anything left.
  __user_cap_data_struct left[_LINUX_CAPABILITY_U32S_3] = {};
  header = {_LINUX_CAPABILITY_VERSION_3, 0};
  if (calls.Capget(&header, left) != 0) return Reason("capget", errno);
  for (const auto& word : left) {
    if (word.effective || word.permitted || word.inheritable) return "capabilities are still held";
  }
  if (calls.Getresgid(&rgid, &egid, &sgid) != 0) return Reason("getresgid", errno);
  if (calls.Getresuid(&ruid, &euid, &suid) != 0) return Reason("getresuid", errno);
  if (egid != rgid || sgid != rgid || euid != ruid || suid != ruid) {
    return "the set-uid or set-gid identity is still held";
  }
  return "";
}

}  // namespace

LauncherCalls& RealLauncherCalls() {
  static Real real;
  return real;
}

int RunPortLauncher(int argc, char* const argv[], SystemCalls& system, LauncherCalls& calls,
                    std::ostream& err) {
  if (argc < 2 || argv[1] == nullptr || argv[1][0] == '\0') {
    err << "morvane-ports: no program given.\n";
    Usage(err);
    return kLauncherUsage;
  }

  if (int failure = OpenPortTable(system)) {
    err << "morvane-ports: "
        << DescribePortTableFailure(failure, PortRequester::kLauncher, system) << "\n"
        << "The program was not started.\n";
    return kLauncherNoPorts;
  }

  if (std::string problem = DropPrivileges(calls); !problem.empty()) {
    ClosePortTable(system);
    err << "morvane-ports: could not give up its privileges (" << problem
        << "); the program was not started.\n";
    return kLauncherNoDrop;
  }

  // Tells the port backend of the program that the ports are open to it,
  // since asking for them again would fail without the capability. The
  // program keeps this process id across exec.
  std::string pid = std::to_string(system.Getpid());
  if (calls.Setenv(kPortsGrantedVariable, pid.c_str()) != 0) {
    err << "morvane-ports: " << Reason("setenv", errno) << "; the program was not started.\n";
    return kLauncherNoDrop;
  }

  calls.Execvp(argv[1], argv + 1);
  int error = errno;
  err << "morvane-ports: cannot run " << argv[1] << ": " << std::strerror(error) << ".\n";
  return error == ENOENT ? kLauncherNotFound : kLauncherCannotRun;
}

}  // namespace morvane
