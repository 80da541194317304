// The "ppdev" adapter: the claim and its release, where the adapter shows in
// the port space, and what it says when the device cannot be had.
#include "chiplink/backends/parport_ports.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>

#include "fake_system_calls.h"

namespace morvane {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using testing::FakeSystemCalls;

TEST(ParportPorts, RegistersExclusivelyBeforeClaimingAndReleasesWhenDestroyed) {
  FakeSystemCalls calls;
  std::string error;
  auto ports = ParportPorts::Open("/dev/parport0", calls, &error);
  ASSERT_TRUE(ports) << error;
  EXPECT_THAT(calls.log, ElementsAre("open /dev/parport0", "ioctl 7 PPEXCL", "ioctl 7 PPCLAIM"));
  calls.log.clear();
  ports.reset();
  EXPECT_THAT(calls.log, ElementsAre("ioctl 7 PPRELEASE", "close 7"));
}

TEST(ParportPorts, ShowsItsDataAndStatusLinesAtTheFirstParallelBase) {
  FakeSystemCalls calls;
  auto ports = ParportPorts::Open("/dev/parport1", calls, nullptr);
  ASSERT_TRUE(ports);
  calls.log.clear();

  ports->Out(0x378, 0xFD);
  calls.statusLines = 0x58;
  EXPECT_EQ(ports->In(0x379), 0x58);
  EXPECT_EQ(ports->In(0x378), 0xFD);
  EXPECT_THAT(calls.log,
              ElementsAre("ioctl 7 PPWDATA 0xFD", "ioctl 7 PPRSTATUS", "ioctl 7 PPRDATA"));
}

TEST(ParportPorts, EveryOtherPortFloatsAndIgnoresWrites) {
  FakeSystemCalls calls;
  auto ports = ParportPorts::Open("/dev/parport0", calls, nullptr);
  ASSERT_TRUE(ports);
  calls.log.clear();
  for (unsigned port = 0; port <= 0xFFFF; ++port) {
    if (port == 0x378 || port == 0x379) continue;
    EXPECT_EQ(ports->In(static_cast<uint16_t>(port)), kFloatingBus);
    ports->Out(static_cast<uint16_t>(port), 0x00);
  }
  EXPECT_TRUE(calls.log.empty()) << calls.log.front();
}

TEST(ParportPorts, AFailedReadFloats) {
  FakeSystemCalls calls;
  auto ports = ParportPorts::Open("/dev/parport0", calls, nullptr);
  ASSERT_TRUE(ports);
  calls.failures["PPRSTATUS"] = EIO;
  calls.statusLines = 0x00;
  EXPECT_EQ(ports->In(0x379), kFloatingBus);
}

// The claim must be given back even when the port space is torn down as the
// process exits, after main has returned.
TEST(ParportPortsDeathTest, ReleasesWhenTornDownAtProcessExit) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        static FakeSystemCalls calls;
        calls.logToStderr = true;
        static std::unique_ptr<PortSpace> held;
        held = ParportPorts::Open("/dev/parport0", calls, nullptr);
        std::fprintf(stderr, "exiting\n");
        std::exit(0);
      },
      ::testing::ExitedWithCode(0), "exiting\nioctl 7 PPRELEASE\nclose 7");
}

struct ClaimCase {
  const char* name;
  const char* failing;  // the call that fails
  int error;
  std::vector<std::string> says;
  std::vector<std::string> calls;  // every call made, in order
};

void PrintTo(const ClaimCase& c, std::ostream* os) { *os << c.name; }

class ParportFailure : public ::testing::TestWithParam<ClaimCase> {};

TEST_P(ParportFailure, SaysWhatHappenedAndLeavesNothingOpen) {
  const ClaimCase& c = GetParam();
  FakeSystemCalls calls;
  calls.failures[c.failing] = c.error;
  std::string error;
  EXPECT_FALSE(ParportPorts::Open("/dev/parport0", calls, &error));
  for (const auto& part : c.says) EXPECT_THAT(error, HasSubstr(part));
  EXPECT_EQ(calls.log, c.calls);
}

const std::vector<std::string> kOpenOnly = {"open /dev/parport0"};
const std::vector<std::string> kExclFails = {"open /dev/parport0", "ioctl 7 PPEXCL", "close 7"};
const std::vector<std::string> kClaimFails = {"open /dev/parport0", "ioctl 7 PPEXCL",
                                              "ioctl 7 PPCLAIM", "close 7"};

INSTANTIATE_TEST_SUITE_P(
    Errors, ParportFailure,
    ::testing::Values(
        ClaimCase{"Missing", "open /dev/parport0", ENOENT,
                  {"Cannot open the parallel port /dev/parport0: the device does not exist",
                   "sudo modprobe parport_pc ppdev", "Adapter=ppdev:/dev/parportN"},
                  kOpenOnly},
        ClaimCase{"NoPortBehind", "open /dev/parport0", ENXIO,
                  {"no parallel port answers behind the device"}, kOpenOnly},
        ClaimCase{"NoDevice", "open /dev/parport0", ENODEV,
                  {"no parallel port answers behind the device"}, kOpenOnly},
        ClaimCase{"NotPermitted", "open /dev/parport0", EACCES,
                  {"permission denied", "lp group", "sudo adduser $USER lp", "log in again"},
                  kOpenOnly},
        ClaimCase{"NotPermittedEperm", "open /dev/parport0", EPERM, {"sudo adduser $USER lp"},
                  kOpenOnly},
        ClaimCase{"OtherOpenError", "open /dev/parport0", EIO,
                  {"Cannot open the parallel port /dev/parport0: Input/output error."}, kOpenOnly},
        ClaimCase{"BusyAtExclusive", "PPEXCL", EBUSY,
                  {"Cannot claim the parallel port /dev/parport0: it is busy", "lp",
                   "sudo rmmod lp"},
                  kExclFails},
        ClaimCase{"BusyAtClaim", "PPCLAIM", EBUSY, {"it is busy", "sudo rmmod lp"}, kClaimFails},
        ClaimCase{"TakenByAnotherDriver", "PPCLAIM", ENXIO, {"it is busy"}, kClaimFails},
        ClaimCase{"NotAParallelPort", "PPEXCL", ENOTTY,
                  {"the device is not a parallel port (PPEXCL:", "Adapter=ppdev:/dev/parportN"},
                  kExclFails},
        ClaimCase{"OtherClaimError", "PPCLAIM", EIO, {"PPCLAIM failed (Input/output error)."},
                  kClaimFails}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace morvane
