// The reader against independent tools: random images with gaps made into
// Intel HEX files by binutils' objcopy and by srecord's srec_cat (extended
// segment and extended linear addresses, several record lengths, start
// address records), loaded, and compared byte for byte with the binary the
// same tool makes of the same file.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "image/buffer.h"
#include "tests/image/test_files.h"

namespace morvane {
namespace {

struct Region {
  uint32_t start;
  std::vector<uint8_t> bytes;
};

// count regions inside [0, limit), each 1 .. maxSize bytes, in address
// order with a gap of at least one byte between neighbours.
std::vector<Region> RandomRegions(std::mt19937& rng, int count, uint32_t limit, uint32_t maxSize) {
  std::vector<uint32_t> starts;
  for (int i = 0; i < count; ++i) starts.push_back(static_cast<uint32_t>(rng() % (limit - maxSize)));
  std::sort(starts.begin(), starts.end());
  std::vector<Region> regions;
  uint32_t free = 0;
  for (uint32_t start : starts) {
    start = std::max(start, free);
    const uint32_t size = 1 + static_cast<uint32_t>(rng() % maxSize);
    if (start + size >= limit) break;
    Region region{start, std::vector<uint8_t>(size)};
    for (uint8_t& b : region.bytes) b = static_cast<uint8_t>(rng());
    regions.push_back(std::move(region));
    free = start + size + 1 + static_cast<uint32_t>(rng() % 300);
  }
  return regions;
}

std::string Hex(uint32_t value) {
  std::ostringstream text;
  text << "0x" << std::hex << value;
  return text.str();
}

void RunTool(const std::string& program, const std::vector<std::string>& args) {
  const test::RunResult r = test::RunProgram(program, args);
  ASSERT_EQ(r.status, 0) << program << " failed: " << r.err;
}

// Loads hexPath with the image layer and compares it with the tool's binary
// (which starts at address `first`), the bytes before `first` being 0xFF.
void ExpectSameImage(const std::string& hexPath, const std::string& binPath, uint32_t first) {
  std::vector<uint8_t> expected(first, 0xFF);
  const std::vector<uint8_t> tool = test::ReadFile(binPath);
  expected.insert(expected.end(), tool.begin(), tool.end());

  TBuffer image(hexPath, kIntelHexFile);
  ASSERT_NO_THROW(image.Load()) << hexPath;
  ASSERT_EQ(image.Length, static_cast<int32_t>(expected.size()));
  ASSERT_TRUE(std::equal(expected.begin(), expected.end(), image.Data.begin()));
}

bool HasRecordType(const std::string& hexText, const std::string& type) {
  std::istringstream lines(hexText);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.size() >= 9 && line[0] == ':' && line.substr(7, 2) == type) return true;
  }
  return false;
}

struct Layout {
  const char* name;
  uint32_t limit;    // regions lie below this address
  uint32_t maxSize;  // bytes per region at most
  const char* extendedType;  // the extended-address record the file must hold
};

// Below 1 MiB objcopy writes extended segment addresses, above it extended
// linear ones.
constexpr Layout kObjcopyLayouts[] = {
    {"Segment", 0x100000, 40000, "02"},
    {"Linear", 0x1000000, 40000, "04"},
};

TEST(PeerObjcopy, SameImageAsObjcopy) {
  if (!test::HaveProgram("objcopy")) GTEST_SKIP() << "objcopy not installed (Debian package binutils)";
  std::mt19937 rng(4711);
  for (const Layout& layout : kObjcopyLayouts) {
    for (int round = 0; round < 4; ++round) {
      SCOPED_TRACE(std::string(layout.name) + " round " + std::to_string(round));
      test::TempDir dir;
      std::vector<Region> regions = RandomRegions(rng, 2 + round, layout.limit, layout.maxSize);
      // One region above 64 KiB, so that an extended-address record is needed.
      if (regions.back().start < 0x10000) regions.push_back({0x10000 + 0x123, {0x5A, 0xA5, 0x00}});
      ASSERT_FALSE(regions.empty());

      // The first region is objcopy's input file; the others are added as
      // loadable sections at their addresses.
      std::vector<std::string> args{"-I", "binary", "-O", "ihex", "--change-section-address",
                                    ".data=" + Hex(regions[0].start)};
      for (size_t k = 0; k < regions.size(); ++k) {
        const std::string file = dir.File("r" + std::to_string(k) + ".bin");
        test::WriteFile(file, regions[k].bytes);
        if (k == 0) continue;
        const std::string section = ".r" + std::to_string(k);
        args.insert(args.end(), {"--add-section", section + "=" + file, "--set-section-flags",
                                 section + "=alloc,load,contents", "--change-section-address",
                                 section + "=" + Hex(regions[k].start)});
      }
      if (round % 2 == 1) args.insert(args.end(), {"--set-start", Hex(0x1234 + round)});
      const std::string hex = dir.File("image.hex");
      args.insert(args.end(), {dir.File("r0.bin"), hex});
      RunTool("objcopy", args);

      const std::string text = test::ReadText(hex);
      EXPECT_TRUE(HasRecordType(text, layout.extendedType)) << text.substr(0, 400);
      if (round % 2 == 1) {
        EXPECT_TRUE(HasRecordType(text, "03") || HasRecordType(text, "05"));
      }

      const std::string bin = dir.File("objcopy.bin");
      RunTool("objcopy", {"-I", "ihex", "-O", "binary", "--gap-fill", "0xff", hex, bin});
      ExpectSameImage(hex, bin, regions[0].start);
    }
  }
}

struct SrecCase {
  const char* name;
  uint32_t limit;
  bool segmented;     // -address-length=3: extended segment addresses
  int blockSize;      // data bytes per record
  bool startAddress;  // with an execution start address record
};

constexpr SrecCase kSrecCases[] = {
    {"LinearBlock16", 0x1000000, false, 16, false},
    {"LinearBlock1", 0x400000, false, 1, true},
    {"LinearBlock255", 0x1000000, false, 255, true},
    {"LinearBlock33", 0x200000, false, 33, false},
    {"SegmentBlock16", 0x100000, true, 16, true},
    {"SegmentBlock7", 0x100000, true, 7, false},
    {"SegmentBlock255", 0x100000, true, 255, false},
};

TEST(PeerSrecCat, SameImageAsSrecCat) {
  if (!test::HaveProgram("srec_cat")) GTEST_SKIP() << "srec_cat not installed (Debian package srecord)";
  std::mt19937 rng(1213);
  for (const SrecCase& c : kSrecCases) {
    for (int round = 0; round < 2; ++round) {
      SCOPED_TRACE(std::string(c.name) + " round " + std::to_string(round));
      test::TempDir dir;
      std::vector<Region> regions = RandomRegions(rng, 2 + 2 * round, c.limit, c.blockSize == 1 ? 3000 : 30000);
      if (regions.back().start < 0x10000) regions.push_back({0x10000 + 0x321, {0x11, 0x22, 0x33}});

      std::vector<std::string> args;
      for (size_t k = 0; k < regions.size(); ++k) {
        const std::string file = dir.File("r" + std::to_string(k) + ".bin");
        test::WriteFile(file, regions[k].bytes);
        args.insert(args.end(), {file, "-binary", "-offset", Hex(regions[k].start)});
      }
      const std::string hex = dir.File("image.hex");
      args.insert(args.end(), {"-o", hex, "-intel", "-Output_Block_Size=" + std::to_string(c.blockSize)});
      if (c.segmented) args.push_back("-address-length=3");
      if (c.startAddress) args.push_back("-Execution_Start_Address=" + Hex(0x4321));
      RunTool("srec_cat", args);

      const std::string text = test::ReadText(hex);
      EXPECT_TRUE(HasRecordType(text, c.segmented ? "02" : "04")) << text.substr(0, 400);
      if (c.startAddress) {
        EXPECT_TRUE(HasRecordType(text, c.segmented ? "03" : "05")) << text.substr(0, 400);
      }

      const uint32_t end = regions.back().start + static_cast<uint32_t>(regions.back().bytes.size());
      const std::string bin = dir.File("srec.bin");
      RunTool("srec_cat", {hex, "-intel", "-fill", "0xFF", "0", Hex(end), "-o", bin, "-binary"});
      ExpectSameImage(hex, bin, 0);
    }
  }
}

}  // namespace
}  // namespace morvane
