// The "ports" adapter: which ports it opens, which it touches, how it gives
// them back, and what it says when the permission is missing.
#include "chiplink/backends/direct_ports.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <set>

#include "chiplink/backends/port_table.h"
#include "fake_system_calls.h"

namespace morvane {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using testing::FakeSystemCalls;

TEST(DirectPorts, OpensExactlyTheFourteenPortsOfTheTable) {
  FakeSystemCalls calls;
  std::string error;
  auto ports = DirectPorts::Open(calls, &error);
  ASSERT_TRUE(ports) << error;
  EXPECT_THAT(calls.log, ElementsAre("ioperm 0x278 2 1", "ioperm 0x378 2 1", "ioperm 0x3BC 2 1",
                                     "ioperm 0x2BC 2 1", "ioperm 0x3C4 2 1", "ioperm 0x3D4 2 1",
                                     "ioperm 0x3CE 2 1"));
  std::set<unsigned> covered;
  for (uint16_t base : kPortTable) covered.insert({base, base + 1u});
  EXPECT_EQ(covered, (std::set<unsigned>{0x278, 0x279, 0x378, 0x379, 0x3BC, 0x3BD, 0x2BC, 0x2BD,
                                         0x3C4, 0x3C5, 0x3D4, 0x3D5, 0x3CE, 0x3CF}));
}

TEST(DirectPorts, TouchesOnlyTheFourteenPorts) {
  FakeSystemCalls calls;
  calls.reader = [](uint16_t port) { return static_cast<uint8_t>(port & 0x7F); };
  auto ports = DirectPorts::Open(calls, nullptr);
  ASSERT_TRUE(ports);
  calls.log.clear();

  std::vector<std::string> expected;
  for (unsigned port = 0; port <= 0xFFFF; ++port) {
    uint16_t p = static_cast<uint16_t>(port);
    uint8_t value = ports->In(p);
    ports->Out(p, 0xA5);
    if (InPortTable(p)) {
      EXPECT_EQ(value, p & 0x7F) << testing::Hex(port);
      expected.push_back("in " + testing::Hex(port) + " -> " + testing::Hex(p & 0x7F));
      expected.push_back("out " + testing::Hex(port) + " 0xA5");
    } else {
      EXPECT_EQ(value, kFloatingBus) << testing::Hex(port);
    }
  }
  EXPECT_EQ(calls.log, expected);
  EXPECT_EQ(expected.size(), 28u);
}

TEST(DirectPorts, GivesThePortsBackWhenDestroyed) {
  FakeSystemCalls calls;
  auto ports = DirectPorts::Open(calls, nullptr);
  ASSERT_TRUE(ports);
  calls.log.clear();
  ports.reset();
  EXPECT_THAT(calls.log, ElementsAre("ioperm 0x278 2 0", "ioperm 0x378 2 0", "ioperm 0x3BC 2 0",
                                     "ioperm 0x2BC 2 0", "ioperm 0x3C4 2 0", "ioperm 0x3D4 2 0",
                                     "ioperm 0x3CE 2 0"));
}

TEST(DirectPorts, AFailureHalfWayClosesWhatWasOpenedAndTouchesNoPort) {
  FakeSystemCalls calls;
  calls.failures["ioperm 0x3BC"] = EPERM;
  std::string error;
  EXPECT_FALSE(DirectPorts::Open(calls, &error));
  EXPECT_THAT(calls.LogWithout("open /sys"),
              ElementsAre("ioperm 0x278 2 1", "ioperm 0x378 2 1", "ioperm 0x3BC 2 1",
                          "ioperm 0x278 2 0", "ioperm 0x378 2 0"));
  EXPECT_THAT(error, HasSubstr("no permission"));
}

TEST(DirectPorts, TakesThePortsFromTheLauncherWithoutAskingAgain) {
  FakeSystemCalls calls;
  calls.failures["ioperm"] = EPERM;  // the launcher dropped the capability
  calls.environment[kPortsGrantedVariable] = "4242";
  calls.pid = 4242;
  calls.reader = [](uint16_t) { return uint8_t{0x78}; };
  std::string error;
  auto ports = DirectPorts::Open(calls, &error);
  ASSERT_TRUE(ports) << error;
  EXPECT_EQ(ports->In(0x379), 0x78);
  ports->Out(0x378, 0xFC);
  ports.reset();
  // No ioperm at all: nothing asked, nothing withdrawn.
  EXPECT_THAT(calls.log, ElementsAre("in 0x379 -> 0x78", "out 0x378 0xFC"));
}

TEST(DirectPorts, IgnoresALauncherMarkForAnotherProcess) {
  for (const char* value : {"4241", "", "abc", "4242x", "-4242", "0"}) {
    SCOPED_TRACE(value);
    FakeSystemCalls calls;
    calls.pid = 4242;
    calls.environment[kPortsGrantedVariable] = value;
    calls.failures["ioperm"] = EPERM;
    std::string error;
    EXPECT_FALSE(DirectPorts::Open(calls, &error));
    EXPECT_EQ(calls.log.front(), "ioperm 0x278 2 1");
    EXPECT_FALSE(error.empty());
  }
}

struct PermissionCase {
  const char* name;
  int error;
  const char* lockdown;  // contents of the kernel's lockdown file, null when absent
  uid_t euid;
  std::vector<std::string> says;
};

void PrintTo(const PermissionCase& c, std::ostream* os) { *os << c.name; }

class DirectPortsFailure : public ::testing::TestWithParam<PermissionCase> {};

TEST_P(DirectPortsFailure, SaysWhatHappenedAndHowToGetThePorts) {
  const PermissionCase& c = GetParam();
  FakeSystemCalls calls;
  calls.failures["ioperm"] = c.error;
  calls.euid = c.euid;
  if (c.lockdown) calls.files["/sys/kernel/security/lockdown"] = c.lockdown;
  std::string error;
  EXPECT_FALSE(DirectPorts::Open(calls, &error));
  EXPECT_THAT(error, HasSubstr("Cannot open the I/O ports of the bus: "));
  for (const auto& part : c.says) EXPECT_THAT(error, HasSubstr(part));
  // Nothing was probed.
  for (const auto& line : calls.log) EXPECT_EQ(line.rfind("in ", 0), std::string::npos) << line;
}

INSTANTIATE_TEST_SUITE_P(
    Errors, DirectPortsFailure,
    ::testing::Values(
        PermissionCase{"NotRoot", EPERM, nullptr, 1000,
                       {"not root and lacks CAP_SYS_RAWIO", "Run it as root",
                        "sudo setcap cap_sys_rawio+ep morvane-ports", "morvane-ports PROGRAM",
                        "Adapter=ppdev"}},
        PermissionCase{"NotRootNoLockdown", EPERM, "[none] integrity confidentiality\n", 1000,
                       {"not root and lacks CAP_SYS_RAWIO"}},
        PermissionCase{"Lockdown", EPERM, "none [integrity] confidentiality\n", 0,
                       {"kernel is in lockdown (\"integrity\")", "even to root",
                        "Boot without lockdown", "Adapter=ppdev"}},
        PermissionCase{"LockdownConfidentiality", EPERM, "none integrity [confidentiality]\n",
                       1000, {"lockdown (\"confidentiality\")"}},
        PermissionCase{"RootWithoutCapability", EPERM, "[none] integrity confidentiality\n", 0,
                       {"runs as root but lacks the capability CAP_SYS_RAWIO", "container",
                        "Adapter=ppdev"}},
        PermissionCase{"NoSystemCall", ENOSYS, nullptr, 0,
                       {"direct port access is not available here (ioperm: Function not implemented)",
                        "x86 processor", "Adapter=ppdev"}},
        PermissionCase{"Unsupported", EINVAL, nullptr, 1000, {"direct port access is not available here"}},
        PermissionCase{"Other", EIO, nullptr, 0, {"ioperm failed (Input/output error)."}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace morvane
