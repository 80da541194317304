// The image buffer: a new image, binary loading, the file types, reset for
// reading, reading past the image, and the hex-dump lines.
#include "image/buffer.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <random>
#include <string>
#include <vector>

#include "tests/image/test_files.h"

namespace morvane {
namespace {

std::vector<uint8_t> RandomBytes(size_t size, unsigned seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> bytes(size);
  for (uint8_t& b : bytes) b = static_cast<uint8_t>(rng());
  return bytes;
}

TEST(TBuffer, NewImageIsEmptyWith64KiBOf0xFF) {
  TBuffer image("fw.bin", kBinaryFile);
  EXPECT_EQ(image.Length, 0);
  EXPECT_EQ(image.FileName, "fw.bin");
  EXPECT_EQ(image.FileType, kBinaryFile);
  ASSERT_EQ(image.Data.size(), 0x10000u);
  for (uint8_t b : image.Data) ASSERT_EQ(b, 0xFF);

  std::vector<std::string> lines{"old text"};
  image.HexDump(lines);
  EXPECT_TRUE(lines.empty());
}

TEST(TBuffer, BinaryLoadsExactlyTheFileBytes) {
  test::TempDir dir;
  for (size_t size : {size_t{0}, size_t{1}, size_t{100000}}) {
    SCOPED_TRACE(size);
    const std::vector<uint8_t> bytes = RandomBytes(size, static_cast<unsigned>(size));
    const std::string path = dir.File("fw" + std::to_string(size) + ".bin");
    test::WriteFile(path, bytes);
    TBuffer image(path, kBinaryFile);
    image.Load();
    EXPECT_EQ(image.Length, static_cast<int32_t>(size));
    EXPECT_EQ(image.Data, bytes);
  }
}

TEST(TBuffer, BinaryPastSixteenMebibytesIsTooLarge) {
  test::TempDir dir;
  const std::string exact = dir.File("exact.bin");
  const std::string over = dir.File("over.bin");
  test::WriteFile(exact, "");
  test::WriteFile(over, "");
  ASSERT_EQ(::truncate(exact.c_str(), kMaxImageSize), 0);
  ASSERT_EQ(::truncate(over.c_str(), kMaxImageSize + 1), 0);

  TBuffer fits(exact, kBinaryFile);
  fits.Load();
  EXPECT_EQ(fits.Length, static_cast<int32_t>(kMaxImageSize));

  TBuffer tooLarge(over, kBinaryFile);
  try {
    tooLarge.Load();
    FAIL() << "Load did not throw";
  } catch (const Bad_FileType& error) {
    EXPECT_EQ(error.Reason(), LoadFailure::TooLarge);
    EXPECT_STREQ(error.what(), "too large");
  }
  EXPECT_EQ(tooLarge.Length, 0);
  EXPECT_LT(tooLarge.Data.capacity(), size_t{1} << 20);
}

TEST(TBuffer, BinaryThatCannotBeOpened) {
  test::TempDir dir;
  TBuffer missing(dir.File("missing.bin"), kBinaryFile);
  EXPECT_THROW(missing.Load(), FileOpenError);
  TBuffer folder(dir.path(), kBinaryFile);
  EXPECT_THROW(folder.Load(), FileOpenError);
}

TEST(TBuffer, UnknownFileTypeThrowsAndLeavesImage) {
  test::TempDir dir;
  const std::string path = dir.File("fw.bin");
  test::WriteFile(path, "abc");
  TBuffer image(path, 2);
  try {
    image.Load();
    FAIL() << "Load did not throw";
  } catch (const Bad_FileType& error) {
    EXPECT_EQ(error.Reason(), LoadFailure::UnknownFileType);
  }
  EXPECT_EQ(image.Length, 0);
  EXPECT_EQ(image.Data.size(), 0x10000u);
}

TEST(TBuffer, ResetForRead) {
  test::TempDir dir;
  const std::string path = dir.File("fw.bin");
  test::WriteFile(path, RandomBytes(0x80000, 1));
  TBuffer image(path, kBinaryFile);
  image.Load();

  image.ResetForRead(0x80000);  // the loaded bytes are gone
  EXPECT_EQ(image.Length, 0x80000);
  ASSERT_EQ(image.Data.size(), 0x80000u);
  for (uint8_t b : image.Data) ASSERT_EQ(b, 0xFF);

  image.ResetForRead(16);
  EXPECT_EQ(image.Length, 16);
  EXPECT_EQ(image.Data, std::vector<uint8_t>(16, 0xFF));

  image.ResetForRead(1000);  // refilled, not only grown
  image[999] = 0x12;
  image.ResetForRead(1000);
  EXPECT_EQ(image.ByteAt(999), 0xFF);

  for (int32_t m : {0, -5}) {
    image.ResetForRead(m);
    EXPECT_EQ(image.Length, 0);
    EXPECT_TRUE(image.Data.empty());
  }
}

TEST(TBuffer, ByteAtCounts0xFFPastLength) {
  TBuffer image("buffer", kBinaryFile);
  image.ResetForRead(4);
  image[3] = 0x00;
  image.Data.resize(8, 0x55);  // bytes in Data past Length are no part of the image
  EXPECT_EQ(image.ByteAt(3), 0x00);
  EXPECT_EQ(image.ByteAt(4), 0xFF);
  EXPECT_EQ(image.ByteAt(7), 0xFF);
  EXPECT_EQ(image.ByteAt(0xFFFFFFFF), 0xFF);
}

struct DumpCase {
  const char* name;
  std::vector<uint8_t> bytes;
  std::vector<std::string> lines;
};

void PrintTo(const DumpCase& c, std::ostream* os) { *os << c.name; }

class HexDumpTest : public testing::TestWithParam<DumpCase> {};

TEST_P(HexDumpTest, Lines) {
  const DumpCase& c = GetParam();
  TBuffer image("buffer", kBinaryFile);
  image.ResetForRead(static_cast<int32_t>(c.bytes.size()));
  std::copy(c.bytes.begin(), c.bytes.end(), image.Data.begin());
  std::vector<std::string> lines{"replaced"};
  image.HexDump(lines);
  EXPECT_EQ(lines, c.lines);
}

std::vector<uint8_t> Range(int from, int to) {
  std::vector<uint8_t> bytes;
  for (int b = from; b <= to; ++b) bytes.push_back(static_cast<uint8_t>(b));
  return bytes;
}

INSTANTIATE_TEST_SUITE_P(
    HexDumpExamples, HexDumpTest,
    testing::Values(
        DumpCase{"SixteenDigits", Range(0x30, 0x3F),
                 {"00000000: 30 31 32 33 34 35 36 37 38 39 3A 3B 3C 3D 3E 3F 0123456789:;<=>?"}},
        DumpCase{"ShortLastLine", {0x41, 0x42, 0x00}, {"00000000: 41 42 00 " + std::string(39, ' ') + "AB."}},
        DumpCase{"PrintableRange", {0x1F, 0x20, 0x7E, 0x7F, 0x80, 0xFF},
                 {"00000000: 1F 20 7E 7F 80 FF " + std::string(30, ' ') + ". ~\x7F.."}},
        DumpCase{"SeventeenBytes", Range(0x40, 0x50),
                 {"00000000: 40 41 42 43 44 45 46 47 48 49 4A 4B 4C 4D 4E 4F @ABCDEFGHIJKLMNO",
                  "00000010: 50 " + std::string(45, ' ') + "P"}},
        DumpCase{"Empty", {}, {}}),
    [](const testing::TestParamInfo<DumpCase>& info) { return info.param.name; });

TEST(HexDump, HalfMebibyteImage) {
  TBuffer image("buffer", kBinaryFile);
  image.ResetForRead(0x80000);
  image[0x7FFFF] = 0x41;
  std::vector<std::string> lines;
  image.HexDump(lines);
  ASSERT_EQ(lines.size(), 32768u);
  for (const std::string& line : lines) ASSERT_EQ(line.size(), 74u);
  EXPECT_EQ(lines.back(), "0007FFF0: " + [] {
    std::string groups;
    for (int i = 0; i < 15; ++i) groups += "FF ";
    return groups + "41 ";
  }() + "...............A");
}

}  // namespace
}  // namespace morvane
