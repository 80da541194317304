// The opener of the Adapter setting: which names open what, and the message
// for names it does not know.
#include "chiplink/backends/hardware_ports.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "fake_system_calls.h"

namespace morvane {
namespace {

using ::testing::HasSubstr;
using testing::FakeSystemCalls;

TEST(OpenHardwarePorts, LeavesTheSimulatorToItsOwner) {
  for (const char* name : {"sim", "SIM", " sim "}) {
    FakeSystemCalls calls;
    std::string error = "stale";
    EXPECT_FALSE(OpenHardwarePorts(name, calls, &error)) << name;
    EXPECT_EQ(error, "") << name;
    EXPECT_TRUE(calls.log.empty()) << name;
  }
}

TEST(OpenHardwarePorts, OpensTheNamedAdapter) {
  struct Case {
    const char* adapter;
    const char* firstCall;
  } cases[] = {
      {"ports", "ioperm 0x278 2 1"},
      {"Ports", "ioperm 0x278 2 1"},
      {"ppdev", "open /dev/parport0"},
      {"ppdev:/dev/parport2", "open /dev/parport2"},
      {"PPDEV: /dev/parport1 ", "open /dev/parport1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.adapter);
    FakeSystemCalls calls;
    std::string error;
    auto ports = OpenHardwarePorts(c.adapter, calls, &error);
    EXPECT_TRUE(ports);
    EXPECT_EQ(error, "");
    ASSERT_FALSE(calls.log.empty());
    EXPECT_EQ(calls.log.front(), c.firstCall);
  }
}

TEST(OpenHardwarePorts, PassesOnWhyAnAdapterCannotBeOpened) {
  FakeSystemCalls calls;
  calls.failures["ioperm"] = EPERM;
  std::string error;
  EXPECT_FALSE(OpenHardwarePorts("ports", calls, &error));
  EXPECT_THAT(error, HasSubstr("Cannot open the I/O ports of the bus"));

  calls.failures["open /dev/parport3"] = ENOENT;
  EXPECT_FALSE(OpenHardwarePorts("ppdev:/dev/parport3", calls, &error));
  EXPECT_THAT(error, HasSubstr("/dev/parport3: the device does not exist"));
}

TEST(OpenHardwarePorts, RefusesAPpdevWithoutDevice) {
  FakeSystemCalls calls;
  std::string error;
  EXPECT_FALSE(OpenHardwarePorts("ppdev:", calls, &error));
  EXPECT_THAT(error, HasSubstr("names no device"));
  EXPECT_THAT(error, HasSubstr("ppdev:/dev/parport1"));
  EXPECT_TRUE(calls.log.empty());
}

TEST(OpenHardwarePorts, ListsTheNamesForAnUnknownOne) {
  for (const char* name : {"lpt1", "", "port", "ppdevx", "sim:1"}) {
    SCOPED_TRACE(name);
    FakeSystemCalls calls;
    std::string error;
    EXPECT_FALSE(OpenHardwarePorts(name, calls, &error));
    EXPECT_THAT(error, HasSubstr("Unknown adapter \"" + std::string(name) + "\"."));
    for (const char* listed : {"sim (", "ports (", "ppdev (", "ppdev:/dev/parportN ("})
      EXPECT_THAT(error, HasSubstr(listed));
    EXPECT_TRUE(calls.log.empty());
  }
}

}  // namespace
}  // namespace morvane
