// In-process speed of the image layer: the Intel HEX reader on the text of
// an 8 MiB random image (16-byte records with extended linear addresses),
// and the hex dump of a 512 KiB image. bench/image-vs-peers measures the
// whole program against objcopy and xxd.
#include <benchmark/benchmark.h>

#include <random>
#include <string>
#include <vector>

#include "image/buffer.h"
#include "image/intel_hex.h"

namespace morvane {
namespace {

std::vector<uint8_t> RandomImage(size_t size) {
  std::mt19937 rng(8);
  std::vector<uint8_t> bytes(size);
  for (uint8_t& b : bytes) b = static_cast<uint8_t>(rng());
  return bytes;
}

void AppendRecord(std::string& text, uint8_t type, uint16_t address, const uint8_t* data, size_t count) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  auto put = [&](uint8_t b) {
    text += kHex[b >> 4];
    text += kHex[b & 0xF];
  };
  uint8_t sum = static_cast<uint8_t>(count + (address >> 8) + (address & 0xFF) + type);
  text += ':';
  put(static_cast<uint8_t>(count));
  put(static_cast<uint8_t>(address >> 8));
  put(static_cast<uint8_t>(address));
  put(type);
  for (size_t i = 0; i < count; ++i) {
    put(data[i]);
    sum = static_cast<uint8_t>(sum + data[i]);
  }
  put(static_cast<uint8_t>(-sum));
  text += "\r\n";
}

std::string IntelHexText(const std::vector<uint8_t>& image) {
  std::string text;
  for (size_t addr = 0; addr < image.size(); addr += 16) {
    if (addr % 0x10000 == 0) {
      const uint8_t base[2] = {static_cast<uint8_t>(addr >> 24), static_cast<uint8_t>(addr >> 16)};
      AppendRecord(text, 4, 0, base, 2);
    }
    AppendRecord(text, 0, static_cast<uint16_t>(addr), image.data() + addr, std::min<size_t>(16, image.size() - addr));
  }
  AppendRecord(text, 1, 0, nullptr, 0);
  return text;
}

void BM_IntelHexReader8MiB(benchmark::State& state) {
  const std::string text = IntelHexText(RandomImage(8 << 20));
  for (auto _ : state) {
    TBuffer image("bench.hex", kIntelHexFile);
    image.Data.clear();
    IntelHexReader reader(image);
    auto result = reader.Feed(text.data(), text.size());
    if (!result || *result != HexResult::Success) state.SkipWithError("the reader failed");
    benchmark::DoNotOptimize(image.Data.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_IntelHexReader8MiB)->Unit(benchmark::kMillisecond);

void BM_HexDump512KiB(benchmark::State& state) {
  TBuffer image("bench.bin", kBinaryFile);
  image.ResetForRead(512 << 10);
  image.Data = RandomImage(512 << 10);
  std::vector<std::string> lines;
  for (auto _ : state) {
    image.HexDump(lines);
    benchmark::DoNotOptimize(lines.data());
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * 32768);
}
BENCHMARK(BM_HexDump512KiB)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace morvane

BENCHMARK_MAIN();
