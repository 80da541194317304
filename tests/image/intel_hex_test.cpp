// The Intel HEX reader: the records of the format's examples loaded from
// files, the extended-address and growth rules, and the buffered reader
// checked against the literal state machine on random input.
#include "image/intel_hex.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "image/buffer.h"
#include "tests/image/reference_reader.h"
#include "tests/image/test_files.h"

namespace morvane {
namespace {

using test::HexRecord;
using test::HexRecordWithChecksum;

const std::string kEof = ":00000001FF";

struct ByteAtAddress {
  uint32_t address;
  uint8_t value;
};

struct ReaderCase {
  const char* name;
  std::string text;
  HexResult result;
  int32_t length;                     // expected Length after Load
  std::vector<ByteAtAddress> bytes;   // image bytes that must hold these values
  std::vector<uint32_t> erased;       // image addresses that must hold 0xFF
};

std::vector<ReaderCase> ReaderCases() {
  return {
      {"FourBytes", ":0400000001020304F2\n" + kEof + "\n", HexResult::Success, 4,
       {{0, 1}, {1, 2}, {2, 3}, {3, 4}}, {}},
      {"LowerCaseDigits", ":04000000abcdef0194\n:00000001ff\n", HexResult::Success, 4,
       {{0, 0xAB}, {1, 0xCD}, {2, 0xEF}, {3, 0x01}}, {}},
      {"TextBeforeFirstColonAndEmptyLines", "firmware v1.2\r\n\r\n\n:0400000001020304F2\r\n\r\n\n" + kEof,
       HexResult::Success, 4, {{0, 1}, {3, 4}}, {}},
      {"LinearBase", ":020000040001F9\n:0100000055AA\n" + kEof, HexResult::Success, 0x10001,
       {{0x10000, 0x55}}, {0, 0x8000, 0xFFFF}},
      {"SegmentBase", ":020000021000EC\n:0100000055AA\n" + kEof, HexResult::Success, 0x10001,
       {{0x10000, 0x55}}, {0, 0xFFFF}},
      {"SegmentBasePlusOffset", HexRecord(2, 0, {0x12, 0x34}) + "\n" + HexRecord(0, 0x0010, {0x77}) + "\n" + kEof,
       HexResult::Success, 0x12351, {{0x12350, 0x77}}, {0x1234F}},
      {"OnlyEndOfFile", kEof, HexResult::Success, 1, {{0, 0xFF}}, {}},
      {"WrongChecksumDigit", ":0400000001020304F3\n" + kEof, HexResult::ChecksumError, 0, {}, {}},
      {"NoEndOfFileRecord", ":0400000001020304F2\n", HexResult::EndOfFile, 0, {}, {}},
      {"EmptyFile", "", HexResult::EndOfFile, 0, {}, {}},
      {"GAsDigitFailsChecksum", ":0400000001020G04F2\n" + kEof, HexResult::ChecksumError, 0, {}, {}},
      // "G4" counts as 0x04, so this record's sum still matches.
      {"GAsDigitCountsZero", ":04000000010203G4F2\n" + kEof, HexResult::Success, 4, {{3, 0x04}}, {}},
      {"LaterByteWins", HexRecord(0, 0x20, {0x11, 0x22}) + "\n" + HexRecord(0, 0x21, {0x33}) + "\n" + kEof,
       HexResult::Success, 0x22, {{0x20, 0x11}, {0x21, 0x33}}, {0x1F}},
      {"EndOfFileRecordCarriesData", HexRecord(0, 0, {0x01}) + "\n" + HexRecord(1, 0x0010, {0xAA, 0xBB}),
       HexResult::Success, 0x12, {{0, 0x01}, {0x10, 0xAA}, {0x11, 0xBB}}, {0x0F}},
      {"NotReadPastEndOfFile", kEof + "\n" + HexRecord(0, 0x100, {1, 2}) + "\n:zz garbage", HexResult::Success, 1,
       {{0, 0xFF}}, {0x100}},
      // A count of 3 with four bytes on the line: the fourth byte is taken
      // as the checksum. No resynchronisation on the line end.
      {"ShortCountConsumesNextCharacters", ":0300000001020304F2\n" + kEof, HexResult::ChecksumError, 0, {}, {}},
      // A line end inside a record is read as digits, so the record fails.
      {"LineEndInsideRecord", ":04000000010\n20304F2\n" + kEof, HexResult::ChecksumError, 0, {}, {}},
      // An extended-address record always carries two bytes, whatever its count says.
      {"ExtendedRecordWithCountZero", ":000000040001FB\n:0100000055AA\n" + kEof, HexResult::Success, 0x10001,
       {{0x10000, 0x55}}, {}},
      {"ExtendedValueUntilReplaced",
       HexRecord(4, 0, {0x00, 0x02}) + "\n" + HexRecord(0, 0x0001, {0xA1}) + "\n" + HexRecord(0, 0x0002, {0xA2}) +
           "\n" + HexRecord(4, 0, {0x00, 0x00}) + "\n" + HexRecord(0, 0x0003, {0xA3}) + "\n" + kEof,
       HexResult::Success, 0x20003, {{0x20001, 0xA1}, {0x20002, 0xA2}, {0x0003, 0xA3}}, {0x0001, 0x10001}},
      {"SegmentReplacedByLinear",
       HexRecord(2, 0, {0x10, 0x00}) + "\n" + HexRecord(4, 0, {0x00, 0x03}) + "\n" + HexRecord(0, 0x0004, {0x5A}) +
           "\n" + kEof,
       HexResult::Success, 0x30005, {{0x30004, 0x5A}}, {0x10004}},
      {"FileEndsInsideExtendedValue", ":02000004000", HexResult::EndOfFile, 0, {}, {}},
      // Start-address records carry no image bytes: read for the checksum only.
      {"StartSegmentAddressStoresNothing",
       HexRecord(3, 0, {0x00, 0x00, 0x12, 0x34}) + "\n" + HexRecord(0, 0x0008, {0x99}) + "\n" + kEof,
       HexResult::Success, 9, {{8, 0x99}}, {0, 1, 2, 3}},
      {"StartLinearAddressStoresNothing",
       HexRecord(0, 0x0002, {0x42}) + "\n" + HexRecord(5, 0x0000, {0x00, 0x01, 0x00, 0x00}) + "\n" + kEof,
       HexResult::Success, 3, {{2, 0x42}}, {0, 1}},
      {"OtherTypeStoresNothing",
       HexRecord(0x07, 0x0000, {0xDE, 0xAD, 0xBE, 0xEF}) + "\n" + HexRecord(0, 0x0005, {0x01}) + "\n" + kEof,
       HexResult::Success, 6, {{5, 0x01}}, {0, 1, 2, 3}},
      {"StartAddressRecordBadChecksum",
       HexRecordWithChecksum(5, 0, {0x00, 0x00, 0x12, 0x34}, "00") + "\n" + kEof, HexResult::ChecksumError, 0, {}, {}},
      {"LastAddressOfFlash", HexRecord(4, 0, {0x00, 0xFF}) + "\n" + HexRecord(0, 0xFFFF, {0x5E}) + "\n" + kEof,
       HexResult::Success, 0x1000000, {{0xFFFFFF, 0x5E}}, {0, 0xFFFFFE}},
      {"PastSixteenMebibytes", HexRecord(4, 0, {0x01, 0x00}) + "\n" + HexRecord(0, 0x0000, {0x5E}) + "\n" + kEof,
       HexResult::TooLarge, 0, {}, {}},
      {"FourGibibyteAddress", ":02000004FFFFFC\n" + HexRecord(0, 0xFFF0, {1, 2, 3}) + "\n" + kEof,
       HexResult::TooLarge, 0, {}, {}},
      // A record that crosses 16 MiB stops at its first byte past it.
      {"RecordCrossingSixteenMebibytes", HexRecord(4, 0, {0x00, 0xFF}) + "\n" + HexRecord(0, 0xFFFF, {1, 2}) + "\n" + kEof,
       HexResult::TooLarge, 0, {}, {}},
  };
}

void PrintTo(const ReaderCase& c, std::ostream* os) { *os << c.name; }

class ReaderCaseTest : public testing::TestWithParam<ReaderCase> {};

// Each case goes through Load on a file, the way a front end loads it.
TEST_P(ReaderCaseTest, LoadsAsTheStateMachineSays) {
  const ReaderCase& c = GetParam();
  test::TempDir dir;
  const std::string path = dir.File("image.hex");
  test::WriteFile(path, c.text);

  TBuffer image(path, kIntelHexFile);
  EXPECT_EQ(ReadIntelHex(image), c.result);
  if (c.result == HexResult::Success) {
    EXPECT_EQ(image.Length, c.length);
    EXPECT_GE(image.Data.size(), static_cast<size_t>(image.Length));
  }

  TBuffer loaded(path, kIntelHexFile);
  switch (c.result) {
    case HexResult::Success:
      ASSERT_NO_THROW(loaded.Load());
      break;
    case HexResult::ChecksumError:
    case HexResult::EndOfFile:
    case HexResult::TooLarge: {
      const LoadFailure reason = c.result == HexResult::ChecksumError ? LoadFailure::ChecksumError
                                 : c.result == HexResult::EndOfFile  ? LoadFailure::NoEndOfFile
                                                                     : LoadFailure::TooLarge;
      try {
        loaded.Load();
        FAIL() << "Load did not throw";
      } catch (const Bad_FileType& error) {
        EXPECT_EQ(error.Reason(), reason);
      }
      break;
    }
  }
  EXPECT_EQ(loaded.Length, c.length);
  EXPECT_LE(loaded.Data.size(), size_t{kMaxImageSize});
  for (const ByteAtAddress& b : c.bytes) {
    ASSERT_LT(b.address, loaded.Data.size());
    EXPECT_EQ(loaded.Data[b.address], b.value) << "at 0x" << std::hex << b.address;
    EXPECT_EQ(loaded.ByteAt(b.address), b.value) << "at 0x" << std::hex << b.address;
  }
  for (uint32_t address : c.erased) EXPECT_EQ(loaded.ByteAt(address), 0xFF) << "at 0x" << std::hex << address;
}

INSTANTIATE_TEST_SUITE_P(IntelHexRecords, ReaderCaseTest, testing::ValuesIn(ReaderCases()),
                         [](const testing::TestParamInfo<ReaderCase>& info) { return info.param.name; });

TEST(IntelHexReader, FailedLoadKeepsLengthZeroWithReadBytesPastIt) {
  test::TempDir dir;
  const std::string path = dir.File("broken.hex");
  test::WriteFile(path, HexRecord(0, 0, {0xAB, 0xCD}) + "\n:0100020011EE\n" + kEof);  // second checksum wrong

  TBuffer image(path, kIntelHexFile);
  EXPECT_THROW(image.Load(), Bad_FileType);
  EXPECT_EQ(image.Length, 0);
  ASSERT_GE(image.Data.size(), 2u);
  EXPECT_EQ(image.Data[0], 0xAB);  // the first record's bytes sit in Data ...
  EXPECT_EQ(image.ByteAt(0), 0xFF);  // ... but are no part of the image
}

TEST(IntelHexReader, TooLargeIsRefusedBeforeAllocating) {
  test::TempDir dir;
  const std::string path = dir.File("huge.hex");
  test::WriteFile(path, HexRecord(0, 0, {1}) + "\n:02000004FFFFFC\n" + HexRecord(0, 0xFFFF, {2}) + "\n" + kEof);

  TBuffer image(path, kIntelHexFile);
  EXPECT_THROW(image.Load(), Bad_FileType);
  EXPECT_LT(image.Data.capacity(), size_t{1} << 20);
}

TEST(IntelHexReader, GrowsByDoublingAndFillsWith0xFF) {
  // Three records far apart: 4 bytes, then doubling is not enough (to
  // highest + count), then doubling is.
  test::TempDir dir;
  const std::string path = dir.File("grow.hex");
  test::WriteFile(path, HexRecord(0, 0, {1, 2, 3, 4}) + "\n" + HexRecord(0, 0x1000, {5, 6}) + "\n" +
                            HexRecord(0, 0x1002, {7}) + "\n" + kEof);
  TBuffer image(path, kIntelHexFile);
  image.Load();
  EXPECT_EQ(image.Length, 0x1003);
  EXPECT_EQ(image.Data.size(), 0x1002u * 2);
  for (uint32_t a = 4; a < 0x1000; ++a) ASSERT_EQ(image.Data[a], 0xFF) << a;
  for (size_t a = 0x1003; a < image.Data.size(); ++a) ASSERT_EQ(image.Data[a], 0xFF) << a;
}

TEST(IntelHexReader, CannotOpen) {
  test::TempDir dir;
  TBuffer missing(dir.File("missing.hex"), kIntelHexFile);
  try {
    missing.Load();
    FAIL() << "Load did not throw";
  } catch (const FileOpenError& error) {
    EXPECT_NE(std::string(error.what()).find("cannot open '" + dir.File("missing.hex") + "'"), std::string::npos)
        << error.what();
  }
  TBuffer folder(dir.path(), kIntelHexFile);
  EXPECT_THROW(folder.Load(), FileOpenError);
}

// Random input, mostly well-formed records with damage sprinkled in, read by
// the buffered reader in random pieces and by the literal state machine.
std::string RandomHexText(std::mt19937& rng) {
  std::uniform_int_distribution<int> pick(0, 99);
  std::string text;
  const int records = 1 + pick(rng) % 40;
  for (int r = 0; r < records; ++r) {
    const int kind = pick(rng);
    std::vector<uint8_t> data(static_cast<size_t>(pick(rng) % 20));
    for (uint8_t& b : data) b = static_cast<uint8_t>(rng());
    const uint16_t address = static_cast<uint16_t>(rng());
    std::string record;
    if (kind < 60) {
      record = HexRecord(0, address, data);
    } else if (kind < 70) {
      record = HexRecord(4, 0, {0, static_cast<uint8_t>(pick(rng) % 2)});
    } else if (kind < 78) {
      record = HexRecord(2, 0, {static_cast<uint8_t>(pick(rng) % 0x20), static_cast<uint8_t>(rng())});
    } else if (kind < 84) {
      record = HexRecord(static_cast<uint8_t>(3 + 2 * (pick(rng) % 2)), 0, {0, 0, 0x12, 0x34});
    } else if (kind < 86) {
      record = HexRecord(4, 0, {0x01, 0x00});  // past 16 MiB
    } else if (kind < 90) {
      record = HexRecord(1, address, data);
    } else {
      record = HexRecord(static_cast<uint8_t>(rng()), address, data);
    }
    if (pick(rng) < 8 && !record.empty()) {
      record[static_cast<size_t>(rng() % record.size())] = "0123456789abcdefG:\n "[rng() % 20];
    }
    text += record;
    text += pick(rng) < 10 ? "\r\n" : pick(rng) < 5 ? "" : "\n";
  }
  if (pick(rng) < 70) text += kEof + "\n";
  return text;
}

TEST(IntelHexReader, MatchesLiteralStateMachineInAnyPieces) {
  std::mt19937 rng(20240611);
  int successes = 0;
  for (int round = 0; round < 3000; ++round) {
    const std::string text = RandomHexText(rng);
    const test::ReferenceImage expected = test::ReferenceRead(text);

    TBuffer image("random.hex", kIntelHexFile);
    image.Data.clear();
    IntelHexReader reader(image);
    std::optional<HexResult> result;
    size_t pos = 0;
    while (!result && pos < text.size()) {
      const size_t piece = std::min<size_t>(text.size() - pos, 1 + rng() % 64);
      result = reader.Feed(text.data() + pos, piece);
      pos += piece;
    }
    const HexResult got = result ? *result : reader.Finish();

    ASSERT_EQ(got, expected.result) << text;
    ASSERT_EQ(image.Length, expected.length) << text;
    // Data may differ in size (the reader caps its growth); every byte
    // beyond the smaller one counts as 0xFF.
    std::vector<uint8_t> mine = image.Data;
    std::vector<uint8_t> theirs = expected.data;
    const size_t span = std::max(mine.size(), theirs.size());
    mine.resize(span, 0xFF);
    theirs.resize(span, 0xFF);
    ASSERT_TRUE(mine == theirs) << text;
    successes += got == HexResult::Success;
  }
  EXPECT_GT(successes, 300);  // the random input reaches the interesting ends
}

}  // namespace
}  // namespace morvane
