#include "platform/clock.h"

#include <time.h>

#include <utility>

namespace morvane {
namespace {
TimeSource g_source;

int64_t MonotonicNanos() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return int64_t{ts.tv_sec} * 1'000'000'000 + ts.tv_nsec;
}
}  // namespace

uint32_t TickCount() {
  if (g_source.tickCount) return g_source.tickCount(g_source.context);
  return static_cast<uint32_t>(MonotonicNanos() / 1'000'000);
}

int64_t PerformanceCounter() {
  if (g_source.performanceCounter) return g_source.performanceCounter(g_source.context);
  return MonotonicNanos();
}

int64_t PerformanceFrequency() {
  if (g_source.performanceFrequency) return g_source.performanceFrequency(g_source.context);
  return 1'000'000'000;
}

TimeSource SetTimeSource(const TimeSource& source) { return std::exchange(g_source, source); }

}  // namespace morvane
