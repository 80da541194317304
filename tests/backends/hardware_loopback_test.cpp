// Bench test of a real adapter: the loop-back of the bus lines through the
// data and status ports. Runs only when MORVANE_HW_ADAPTER names the adapter
// (for example ppdev:/dev/parport0, or ports with MORVANE_HW_BASE=0x278 for
// another base than 0x378); skipped otherwise, so that no test reaches this
// machine's ports by accident.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "chiplink/backends/hardware_ports.h"

namespace morvane {
namespace {

constexpr uint8_t kSclHigh = 0x20;  // status bit 5
constexpr uint8_t kSdaHigh = 0x10;  // status bit 4

TEST(HardwareLoopback, LinesFollowTheDataPort) {
  const char* adapter = std::getenv("MORVANE_HW_ADAPTER");
  if (!adapter || !*adapter) GTEST_SKIP() << "set MORVANE_HW_ADAPTER to run on a bench adapter";
  uint16_t base = 0x378;
  if (const char* text = std::getenv("MORVANE_HW_BASE")) {
    base = static_cast<uint16_t>(std::strtoul(text, nullptr, 0));
  }

  std::string error;
  auto ports = OpenHardwarePorts(adapter, &error);
  ASSERT_TRUE(ports) << (error.empty() ? "not a hardware adapter" : error);

  struct Step {
    uint8_t data;
    const char* what;
    uint8_t lines;  // the status bits 5 and 4 expected
  } steps[] = {
      {0xFD, "SCL pulled low, SDA released", kSdaHigh},
      {0xFE, "SDA pulled low, SCL released", kSclHigh},
      {0xFC, "both lines released", kSclHigh | kSdaHigh},
  };
  for (const auto& step : steps) {
    ports->Out(base, step.data);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    uint8_t status = ports->In(static_cast<uint16_t>(base + 1));
    EXPECT_EQ(status & (kSclHigh | kSdaHigh), step.lines)
        << step.what << ": data port 0x" << std::hex << int(step.data) << ", status port 0x"
        << int(status) << " (SCL " << ((status & kSclHigh) ? "high" : "low") << ", SDA "
        << ((status & kSdaHigh) ? "high" : "low") << ")";
  }
  ports->Out(base, 0xFC);  // leave the lines released
}

}  // namespace
}  // namespace morvane
