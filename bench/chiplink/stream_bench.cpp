// The cost of one streamed byte through the whole chip link (burst write and
// burst read) against the simulated chip, and the port accesses it takes.
// On hardware each port access takes about a microsecond; the software
// around it should cost a small fraction of that.
#include <benchmark/benchmark.h>

#include <vector>

#include "chiplink/i2c.h"
#include "chiplink/linkstate.h"
#include "chiplink/registers.h"
#include "tests/support/sim_link.h"

namespace morvane {
namespace {

constexpr int kBlock = 4096;

void BM_BurstWrite(benchmark::State& state) {
  testing::SimLink link;
  link.machine().EnableTrace(state.range(0) != 0);
  std::vector<uint8_t> data(kBlock, 0x5A);
  uint64_t accesses = 0;
  for (auto _ : state) {
    SetMemPointer(kWriteChannel, 0x1100);
    const uint64_t before = link.machine().PortAccesses();
    BurstBegin(kMemData);
    for (uint8_t b : data) I2cBurstByte(b);
    BurstEnd();
    accesses += link.machine().PortAccesses() - before;
    if (state.range(0)) link.machine().EnableTrace(true);  // keep the trace from growing without end
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * kBlock);
  state.counters["accesses/byte"] = double(accesses) / double(state.iterations() * kBlock);
  state.counters["ns/access"] = benchmark::Counter(double(accesses), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_BurstWrite)->Arg(0)->Arg(1)->ArgName("trace")->Unit(benchmark::kMicrosecond);

void BM_BurstRead(benchmark::State& state) {
  testing::SimLink link;
  uint64_t accesses = 0;
  for (auto _ : state) {
    SetMemPointer(kReadChannel, 0x90100);
    const uint64_t before = link.machine().PortAccesses();
    BurstBegin(kMemData);
    uint8_t sum = 0;
    for (int i = 0; i < kBlock; ++i) sum = static_cast<uint8_t>(sum + I2cReadNext());
    BurstEnd();
    benchmark::DoNotOptimize(sum);
    accesses += link.machine().PortAccesses() - before;
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * kBlock);
  state.counters["accesses/byte"] = double(accesses) / double(state.iterations() * kBlock);
  state.counters["ns/access"] = benchmark::Counter(double(accesses), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_BurstRead)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace morvane

BENCHMARK_MAIN();
