// What one port access costs in the simulated hardware alone, without the
// chip link: an idle status read, and the port accesses of a byte streamed
// into chip memory the way a parallel-port master drives them (per bit: SDA,
// SCL high with its read-back, SCL low; then the acknowledge bit).
#include <benchmark/benchmark.h>

#include <cstdint>

#include "sim/machine.h"

namespace {

using morvane::sim::Config;
using morvane::sim::Machine;

constexpr uint16_t kData = 0x378;
constexpr uint16_t kStatus = 0x379;

class Streamer {
 public:
  explicit Streamer(Machine& m) : m_(m) {}
  void Scl(bool high) {
    shadow_ = high ? shadow_ & ~1 : shadow_ | 1;
    m_.Out(kData, shadow_);
    if (high) benchmark::DoNotOptimize(m_.In(kStatus));
  }
  void Sda(bool high) {
    shadow_ = high ? shadow_ & ~2 : shadow_ | 2;
    m_.Out(kData, shadow_);
  }
  void Send(uint8_t byte) {
    for (int i = 7; i >= 0; --i) {
      Sda(((byte >> i) & 1) != 0);
      Scl(true);
      Scl(false);
    }
    Sda(true);
    Scl(true);
    benchmark::DoNotOptimize(m_.In(kStatus));
    Scl(false);
  }
  void Open() {
    // Pointer to 0x1100 on page 4, then a burst on register 0xEF.
    Reg(0xFF, 0x04);
    Reg(0xF8, 0x00);
    Reg(0xF9, 0x11);
    Reg(0xFA, 0x00);
    Reg(0xF1, 0x10);
    Reg(0xF1, 0x00);
    Start();
    Send(0x7E);
    Send(0xEF);
  }
  void Start() {
    Scl(false);
    Sda(true);
    Scl(true);
    Sda(false);
    Scl(false);
  }
  void Stop() {
    Sda(false);
    Scl(true);
    Sda(true);
  }
  void Reg(uint8_t reg, uint8_t value) {
    Start();
    Send(0x7E);
    Send(reg);
    Send(value);
    Stop();
  }

 private:
  Machine& m_;
  uint8_t shadow_ = 0xFC;
};

void BM_StatusRead(benchmark::State& state) {
  Machine m{Config{}};
  for (auto _ : state) benchmark::DoNotOptimize(m.In(kStatus));
  state.counters["ns_per_access"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_StatusRead);

void StreamBytes(benchmark::State& state, bool trace) {
  Machine m{Config{}};
  Streamer s(m);
  s.Open();
  m.EnableTrace(trace);
  const uint64_t before = m.PortAccesses();
  uint8_t value = 0;
  uint64_t bytes = 0;
  for (auto _ : state) {
    s.Send(value++);
    ++bytes;
    if (trace && (bytes & 0xFFFF) == 0) {
      state.PauseTiming();
      m.EnableTrace(true);  // keeps the trace's memory bounded
      state.ResumeTiming();
    }
  }
  s.Stop();
  const double accesses = static_cast<double>(m.PortAccesses() - before);
  state.counters["accesses_per_byte"] = accesses / static_cast<double>(bytes);
  state.counters["ns_per_access"] = benchmark::Counter(accesses, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  state.SetBytesProcessed(static_cast<int64_t>(bytes));
}

void BM_StreamByte(benchmark::State& state) { StreamBytes(state, false); }
void BM_StreamByteTraced(benchmark::State& state) { StreamBytes(state, true); }
BENCHMARK(BM_StreamByte);
BENCHMARK(BM_StreamByteTraced);

}  // namespace

BENCHMARK_MAIN();
