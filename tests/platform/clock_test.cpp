#include "platform/clock.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace morvane {
namespace {

// A hand-driven clock for the replacement tests.
struct FakeTime {
  uint32_t ticks = 0;
  int64_t counter = 0;
  int64_t frequency = 0;
};

uint32_t FakeTicks(void* c) { return static_cast<FakeTime*>(c)->ticks; }
int64_t FakeCounter(void* c) { return static_cast<FakeTime*>(c)->counter; }
int64_t FakeFrequency(void* c) { return static_cast<FakeTime*>(c)->frequency; }

// Every test leaves the system clocks in place.
class ClockTest : public ::testing::Test {
 protected:
  void TearDown() override { SetTimeSource({}); }
};

TEST_F(ClockTest, SystemClocksAdvanceTogether) {
  EXPECT_EQ(PerformanceFrequency(), 1'000'000'000);
  const int64_t c0 = PerformanceCounter();
  const uint32_t t0 = TickCount();
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  const int64_t c1 = PerformanceCounter();
  const uint32_t t1 = TickCount();

  const int64_t counterMs = (c1 - c0) * 1000 / PerformanceFrequency();
  const uint32_t tickMs = t1 - t0;  // unsigned difference copes with the wrap
  EXPECT_GE(counterMs, 30);
  EXPECT_GE(tickMs, 29u);
  EXPECT_LE(tickMs, static_cast<uint32_t>(counterMs) + 2);
}

TEST_F(ClockTest, ReplacedSourceIsReadAndRestored) {
  FakeTime fake{0xFFFFFFF0u, 12345, 2'500'000};
  const TimeSource previous = SetTimeSource({FakeTicks, FakeCounter, FakeFrequency, &fake});
  EXPECT_EQ(previous.tickCount, nullptr);  // the system clocks were in place

  EXPECT_EQ(TickCount(), 0xFFFFFFF0u);
  EXPECT_EQ(PerformanceCounter(), 12345);
  EXPECT_EQ(PerformanceFrequency(), 2'500'000);
  fake.ticks += 0x20;  // the tick count wraps like a 32-bit count
  fake.counter += 10;
  EXPECT_EQ(TickCount(), 0x10u);
  EXPECT_EQ(PerformanceCounter(), 12355);

  const TimeSource mine = SetTimeSource(previous);
  EXPECT_EQ(mine.tickCount, &FakeTicks);
  EXPECT_EQ(mine.context, &fake);
  EXPECT_EQ(PerformanceFrequency(), 1'000'000'000);
  EXPECT_GT(PerformanceCounter(), 12355);
}

TEST_F(ClockTest, MissingMembersFallBackToTheSystemClocks) {
  FakeTime fake{7, 0, 0};
  SetTimeSource({FakeTicks, nullptr, nullptr, &fake});
  EXPECT_EQ(TickCount(), 7u);
  EXPECT_EQ(PerformanceFrequency(), 1'000'000'000);
  const int64_t c0 = PerformanceCounter();
  EXPECT_GE(PerformanceCounter(), c0);
  EXPECT_GT(c0, 0);
}

}  // namespace
}  // namespace morvane
