// morvane-ports: the order of its steps (ports, privilege drop, exec), what
// it gives up, and that it starts nothing when a step fails.
#include "driver/linux/launcher.h"

#include <sys/prctl.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sstream>

#include "chiplink/backends/port_table.h"
#include "fake_system_calls.h"

namespace morvane {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

// The port calls and the launcher's own calls in one log.
class FakeLauncher : public testing::FakeSystemCalls, public LauncherCalls {
 public:
  uid_t ruid = 1000, euidNow = 1000, suid = 1000;
  gid_t rgid = 100, egid = 100, sgid = 100;
  __u32 capabilities = 1u << 17;  // CAP_SYS_RAWIO, from the file
  bool canShrinkBounding = false;  // CAP_SETPCAP held (a set-uid root launcher)
  unsigned long lastCapability = 40;
  bool capsetIgnored = false;  // capset "succeeds" but leaves the capability
  int execError = ENOENT;
  std::vector<std::string> execArgs;

  int Prctl(int option, unsigned long arg2, unsigned long arg3) override {
    if (option == PR_CAPBSET_DROP) {
      Note("prctl PR_CAPBSET_DROP " + std::to_string(arg2));
      if (Fails("PR_CAPBSET_DROP")) return -1;
      errno = !canShrinkBounding ? EPERM : EINVAL;
      return canShrinkBounding && arg2 <= lastCapability ? 0 : -1;
    }
    if (option == PR_CAP_AMBIENT && arg2 == PR_CAP_AMBIENT_CLEAR_ALL) {
      Note("prctl PR_CAP_AMBIENT_CLEAR_ALL");
      return Fails("PR_CAP_AMBIENT") ? -1 : 0;
    }
    Note("prctl " + std::to_string(option) + " " + std::to_string(arg2) + " " +
         std::to_string(arg3));
    return 0;
  }
  int Capget(__user_cap_header_struct* header, __user_cap_data_struct* data) override {
    Note("capget");
    EXPECT_EQ(header->version, static_cast<__u32>(_LINUX_CAPABILITY_VERSION_3));
    data[0] = {capabilities, capabilities, 0};
    data[1] = {0, 0, 0};
    return 0;
  }
  int Capset(__user_cap_header_struct* header, const __user_cap_data_struct* data) override {
    Note("capset " + testing::Hex(data[0].effective | data[1].effective) + " " +
         testing::Hex(data[0].permitted | data[1].permitted) + " " +
         testing::Hex(data[0].inheritable | data[1].inheritable));
    EXPECT_EQ(header->version, static_cast<__u32>(_LINUX_CAPABILITY_VERSION_3));
    EXPECT_EQ(header->pid, 0);
    if (Fails("capset")) return -1;
    if (!capsetIgnored) capabilities = data[0].permitted;
    return 0;
  }
  int Getresuid(uid_t* r, uid_t* e, uid_t* s) override {
    *r = ruid, *e = euidNow, *s = suid;
    return 0;
  }
  int Getresgid(gid_t* r, gid_t* e, gid_t* s) override {
    *r = rgid, *e = egid, *s = sgid;
    return 0;
  }
  int Setresuid(uid_t r, uid_t e, uid_t s) override {
    Note("setresuid " + std::to_string(r) + " " + std::to_string(e) + " " + std::to_string(s));
    if (Fails("setresuid")) return -1;
    ruid = r, euidNow = e, suid = s;
    if (e != 0) capabilities = 0;  // leaving root clears the capabilities
    return 0;
  }
  int Setresgid(gid_t r, gid_t e, gid_t s) override {
    Note("setresgid " + std::to_string(r) + " " + std::to_string(e) + " " + std::to_string(s));
    if (Fails("setresgid")) return -1;
    rgid = r, egid = e, sgid = s;
    return 0;
  }
  int Setenv(const char* name, const char* value) override {
    Note(std::string("setenv ") + name + "=" + value);
    environment[name] = value;
    return 0;
  }
  int Execvp(const char* file, char* const argv[]) override {
    std::string line = std::string("exec ") + file;
    for (int i = 0; argv[i]; ++i) {
      line += std::string(" [") + argv[i] + "]";
      execArgs.push_back(argv[i]);
    }
    Note(line);
    errno = execError;
    return -1;
  }
};

struct Launch {
  int status;
  std::string err;
};

Launch Launcher(FakeLauncher& calls, std::vector<std::string> args) {
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::ostringstream err;
  int status = RunPortLauncher(static_cast<int>(args.size()), argv.data(), calls, calls, err);
  return {status, err.str()};
}

const std::vector<std::string> kOpenPorts = {
    "ioperm 0x278 2 1", "ioperm 0x378 2 1", "ioperm 0x3BC 2 1", "ioperm 0x2BC 2 1",
    "ioperm 0x3C4 2 1", "ioperm 0x3D4 2 1", "ioperm 0x3CE 2 1"};

std::vector<std::string> Then(std::vector<std::string> first, const std::vector<std::string>& more) {
  first.insert(first.end(), more.begin(), more.end());
  return first;
}

TEST(PortLauncher, OpensThePortsDropsEverythingAndRunsTheProgram) {
  FakeLauncher calls;
  calls.pid = 3100;
  Launch run = Launcher(calls, {"morvane-ports", "morvane-cli", "--adapter", "ports", "info"});
  EXPECT_THAT(calls.log,
              ElementsAreArray(Then(kOpenPorts, {
                                                    "prctl PR_CAPBSET_DROP 0",
                                                    "prctl PR_CAP_AMBIENT_CLEAR_ALL",
                                                    "capset 0x0 0x0 0x0",
                                                    "capget",
                                                    "setenv MORVANE_PORTS_GRANTED=3100",
                                                    "exec morvane-cli [morvane-cli] [--adapter] "
                                                    "[ports] [info]",
                                                })));
  // Only an exec that fails comes back.
  EXPECT_EQ(run.status, kLauncherNotFound);
  EXPECT_THAT(run.err, HasSubstr("cannot run morvane-cli: No such file or directory"));
}

TEST(PortLauncher, TheProgramItStartsFindsThePortsOpen) {
  FakeLauncher calls;
  calls.pid = 3100;
  Launcher(calls, {"morvane-ports", "prog"});
  // After exec the same process, now without the capability, opens the
  // "ports" adapter: it must not ask again.
  calls.log.clear();
  calls.failures["ioperm"] = EPERM;
  EXPECT_TRUE(PortsGrantedByLauncher(calls));
}

TEST(PortLauncher, ASetuidRootLauncherGoesBackToTheRealUserAndEmptiesTheBoundingSet) {
  FakeLauncher calls;
  calls.euidNow = 0, calls.suid = 0, calls.egid = 0, calls.sgid = 0;
  calls.capabilities = 0xFFFFFFFF;
  calls.canShrinkBounding = true;
  calls.lastCapability = 2;
  Launcher(calls, {"morvane-ports", "prog"});
  EXPECT_THAT(calls.LogWithout("ioperm"),
              ElementsAre("prctl PR_CAPBSET_DROP 0", "prctl PR_CAPBSET_DROP 1",
                          "prctl PR_CAPBSET_DROP 2", "prctl PR_CAPBSET_DROP 3",
                          "prctl PR_CAP_AMBIENT_CLEAR_ALL", "setresgid 100 100 100",
                          "setresuid 1000 1000 1000", "capset 0x0 0x0 0x0", "capget",
                          "setenv MORVANE_PORTS_GRANTED=4242", "exec prog [prog]"));
  EXPECT_EQ(calls.euidNow, 1000u);
  EXPECT_EQ(calls.egid, 100u);
}

TEST(PortLauncher, WithoutAProgramSaysHowToUseItAndOpensNothing) {
  for (auto args : {std::vector<std::string>{"morvane-ports"},
                    std::vector<std::string>{"morvane-ports", ""}}) {
    FakeLauncher calls;
    Launch run = Launcher(calls, args);
    EXPECT_EQ(run.status, kLauncherUsage);
    EXPECT_THAT(run.err, HasSubstr("morvane-ports: no program given."));
    EXPECT_THAT(run.err, HasSubstr("usage: morvane-ports PROGRAM [ARGS...]"));
    EXPECT_THAT(run.err, HasSubstr("sudo setcap cap_sys_rawio+ep"));
    EXPECT_THAT(calls.log, IsEmpty());
  }
}

struct StepFailure {
  const char* name;
  const char* failing;
  int error;
  int status;
  std::vector<std::string> says;
};

void PrintTo(const StepFailure& c, std::ostream* os) { *os << c.name; }

class PortLauncherFailure : public ::testing::TestWithParam<StepFailure> {};

TEST_P(PortLauncherFailure, StartsNothing) {
  const StepFailure& c = GetParam();
  FakeLauncher calls;
  // Set-uid and set-gid root, so that both ids are changed.
  calls.euidNow = 0, calls.suid = 0, calls.egid = 0, calls.sgid = 0;
  calls.failures[c.failing] = c.error;
  Launch run = Launcher(calls, {"morvane-ports", "prog"});
  EXPECT_EQ(run.status, c.status);
  for (const auto& part : c.says) EXPECT_THAT(run.err, HasSubstr(part));
  EXPECT_THAT(run.err, HasSubstr("was not started."));
  for (const auto& line : calls.log) {
    EXPECT_EQ(line.rfind("exec", 0), std::string::npos);
    EXPECT_EQ(line.rfind("setenv", 0), std::string::npos);
  }
  // Ports opened before a failed drop are closed again.
  if (std::string(c.failing) != "ioperm") {
    EXPECT_EQ(calls.log.back(), "ioperm 0x3CE 2 0");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Steps, PortLauncherFailure,
    ::testing::Values(
        StepFailure{"NoCapability", "ioperm", EPERM, kLauncherNoPorts,
                    {"morvane-ports lacks the capability CAP_SYS_RAWIO",
                     "sudo setcap cap_sys_rawio+ep /path/to/morvane-ports", "run it as root"}},
        StepFailure{"NotX86", "ioperm", ENOSYS, kLauncherNoPorts, {"direct port access is not available here"}},
        StepFailure{"Ambient", "PR_CAP_AMBIENT", EPERM, kLauncherNoDrop,
                    {"could not give up its privileges (clearing the ambient capabilities"}},
        StepFailure{"Group", "setresgid", EPERM, kLauncherNoDrop, {"(setresgid: "}},
        StepFailure{"User", "setresuid", EAGAIN, kLauncherNoDrop, {"(setresuid: "}},
        StepFailure{"Capabilities", "capset", EPERM, kLauncherNoDrop, {"(capset: "}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PortLauncher, AnOldKernelWithoutAmbientCapabilitiesIsNoFailure) {
  FakeLauncher calls;
  calls.failures["PR_CAP_AMBIENT"] = EINVAL;
  Launcher(calls, {"morvane-ports", "prog"});
  EXPECT_EQ(calls.log.back(), "exec prog [prog]");
}

TEST(PortLauncher, RefusesToRunTheProgramWhenACapabilityIsStillHeld) {
  FakeLauncher calls;
  calls.capsetIgnored = true;
  Launch run = Launcher(calls, {"morvane-ports", "prog"});
  EXPECT_EQ(run.status, kLauncherNoDrop);
  EXPECT_THAT(run.err, HasSubstr("capabilities are still held"));
  EXPECT_THAT(calls.log, Not(::testing::Contains("exec prog [prog]")));
}

TEST(PortLauncher, AProgramThatCannotBeRunGivesTheShellsStatus) {
  FakeLauncher calls;
  calls.execError = EACCES;
  Launch run = Launcher(calls, {"morvane-ports", "./notes.txt", "x"});
  EXPECT_EQ(run.status, kLauncherCannotRun);
  EXPECT_THAT(run.err, HasSubstr("cannot run ./notes.txt: Permission denied."));
  EXPECT_EQ(calls.execArgs, (std::vector<std::string>{"./notes.txt", "x"}));
}

}  // namespace
}  // namespace morvane
