// The write, read and verify jobs against the simulated chip, for the rules
// a user cannot easily see from outside: progress stepping, attempts, the
// blocks around the boot area, the chains and their end.
#include "flash/Actionthread.h"

#include <gtest/gtest.h>

#include <numeric>

#include "chiplink/linkstate.h"
#include "flash/device.h"
#include "flash/iap.h"
#include "sim/machine.h"
#include "tests/flash/fake_host.h"
#include "tests/support/sim_link.h"

namespace morvane {
namespace {

using testing::FakeHost;
using testing::SimLink;

class JobsTest : public ::testing::Test {
 protected:
  JobsTest() : image_("fw.bin", kBinaryFile) {
    IapAnswer = 5;
    BootSize = 0x4000;
    ChainPending = 0;
    host_.image = &image_;
  }
  ~JobsTest() override { BootSize = 0x4000; }

  sim::Machine& chip() { return link_.machine(); }
  // An image of n bytes of a pattern that is never 0xFF.
  void MakeImage(uint32_t n, uint8_t seed = 1) {
    image_.ResetForRead(static_cast<int32_t>(n));
    for (uint32_t i = 0; i < n; ++i) image_[i] = static_cast<uint8_t>((i * 7 + seed) % 0xFF);
  }
  std::vector<uint8_t> Flash(uint32_t from, uint32_t count) {
    auto f = chip().Flash();
    return {f.begin() + from, f.begin() + from + count};
  }
  std::vector<uint8_t> Image(uint32_t from, uint32_t count) {
    return {image_.Data.begin() + from, image_.Data.begin() + from + count};
  }
  const std::string& FinalStatus() { return host_.ended.back().status; }

  SimLink link_;
  TBuffer image_;
  FakeHost host_;
};

TEST_F(JobsTest, WriteStreamsAndProgramsAroundTheSkippedBootArea) {
  MakeImage(0x8000);
  host_.SetRange("0", "7FFF", "0", "7FFF");
  const uint32_t before = chip().CommandsDone();
  host_.Run(JobKind::kWrite);
  EXPECT_EQ(FinalStatus(), "Done");
  EXPECT_EQ(Flash(0, 0x4000), Image(0, 0x4000));
  EXPECT_EQ(Flash(0x4000, 0x100), std::vector<uint8_t>(0x100, 0xFF));  // never programmed
  EXPECT_EQ(Flash(0x4100, 0x3F00), Image(0x4100, 0x3F00));
  // The boot-size mark, then the two blocks.
  EXPECT_EQ(chip().CommandsDone() - before, 3u);
  EXPECT_EQ(chip().Mark(0), 0x4000);
  // The second block: from BootSize + 0x100, DevEnd - BootSize - 0xFF bytes,
  // its data where those image bytes were streamed.
  EXPECT_EQ(chip().Memory(0x1000, 12),
            (std::vector<uint8_t>{0x01, 0x00, 0x00, 0x00, 0x52, 0x00, 0x00, 0x41, 0x00, 0x00, 0x7F, 0xFF}));
  EXPECT_TRUE(host_.commandsEnabled);
  EXPECT_FALSE(host_.cancelEnabled);
  EXPECT_EQ(ChainPending, 0);
}

TEST_F(JobsTest, WriteAboveTheBootAreaIsOneBlock) {
  MakeImage(0x10000);
  host_.SetRange("8000", "FFFF", "8000", "FFFF");
  host_.Run(JobKind::kWrite);
  EXPECT_EQ(FinalStatus(), "Done");
  EXPECT_EQ(chip().Memory(0x1000, 12),
            (std::vector<uint8_t>{0x01, 0x00, 0x00, 0x00, 0x91, 0x00, 0x00, 0x80, 0x00, 0x00, 0xFF, 0xFF}));
  EXPECT_EQ(Flash(0x8000, 0x8000), Image(0x8000, 0x8000));
  EXPECT_EQ(Flash(0, 0x100), std::vector<uint8_t>(0x100, 0xFF));
}

TEST_F(JobsTest, BlocksWithNoBytesAreNotSentAndUnequalStartsProgramTheRightBytes) {
  MakeImage(0x20000);
  const struct {
    const char* devStart;
    const char* devEnd;
    const char* bufStart;
    uint32_t programs;  // program commands sent
  } cases[] = {
      {"4000", "7FFF", "4000", 1},   // starts in the skipped area: no first block
      {"0", "40FF", "0", 1},         // ends in it: no second block
      {"0", "7FFF", "10000", 2},     // image bytes from 0x10000 on
  };
  for (const auto& c : cases) {
    IapEraseChip();
    const uint32_t before = chip().CommandsDone();
    host_.SetRange(c.devStart, c.devEnd, c.bufStart, "1FFFF");
    host_.Run(JobKind::kWrite);
    EXPECT_EQ(FinalStatus(), "Done") << c.devStart;
    EXPECT_EQ(chip().CommandsDone() - before, 1 + c.programs) << c.devStart;
    const uint32_t dev = std::stoul(c.devStart, nullptr, 16), end = std::stoul(c.devEnd, nullptr, 16);
    const uint32_t buf = std::stoul(c.bufStart, nullptr, 16);
    for (uint32_t f = dev; f <= end; ++f) {
      const uint8_t expected = (f >= 0x4000 && f <= 0x40FF) ? 0xFF : image_[buf + f - dev];
      ASSERT_EQ(chip().Flash()[f], expected) << c.devStart << " at " << std::hex << f;
    }
  }
}

TEST_F(JobsTest, ProgressStepsNinetySixTimesForMultiplesOf96) {
  MakeImage(9600);
  host_.SetRange("8000", "A57F", "0", "257F");  // 9600 bytes
  host_.Run(JobKind::kWrite);
  // 1 and 2 before the stream, 96 steps (3 .. 98), "Writing..." at 98, then 100.
  std::vector<int> expected = {0, 1, 2};
  for (int p = 3; p <= 98; ++p) expected.push_back(p);
  expected.insert(expected.end(), {98, 100, 0});
  EXPECT_EQ(host_.progress, expected);
}

TEST_F(JobsTest, ShortTransfersStepAtEveryByteAndReadStepsPastTheBar) {
  // 50 bytes: fewer than 96, which would make a step of 0.
  MakeImage(0x200);
  host_.SetRange("8000", "8031", "0", "31");
  host_.Run(JobKind::kWrite);
  EXPECT_EQ(FinalStatus(), "Done");
  EXPECT_EQ(host_.progress.size(), 3u + 50u + 3u);

  // Read 0x100 .. 0x1FF into buffer start 0x100: step 2, 128 steps.
  host_.progress.clear();
  host_.SetRange("100", "1FF", "100", "1FF");
  host_.Run(JobKind::kRead);
  EXPECT_EQ(FinalStatus(), "SUCCESS!");
  EXPECT_EQ(image_.Length, 0x200);
  EXPECT_EQ(Image(0, 0x100), std::vector<uint8_t>(0x100, 0xFF));
  EXPECT_EQ(*std::max_element(host_.progress.begin(), host_.progress.end()), 130);
  EXPECT_EQ(host_.buffersShown, std::vector<int32_t>{0x200});
}

TEST_F(JobsTest, ReadTriesThreeTimesThenReportsTheChipsCode) {
  MakeImage(0x100);
  host_.SetRange("8000", "80FF", "0", "FF");
  chip().ForceStatus(kCmdReadBlock, 0x05, 2);
  host_.Run(JobKind::kRead);
  EXPECT_EQ(FinalStatus(), "SUCCESS!");

  chip().ForceStatus(kCmdReadBlock, 0x05, 3);
  host_.Run(JobKind::kRead);
  EXPECT_EQ(FinalStatus(), "FAILED!");
  EXPECT_EQ(host_.ended.back().detail, "Error in read flash\n  Address = 0x8000\n  PageSize = 256\n  ErrorCode = 5");
  EXPECT_EQ(Image(0, 0x100), std::vector<uint8_t>(0x100, 0xFF));
}

TEST_F(JobsTest, ProgrammingThatFailsThreeTimesEndsWithFailAndTheCode) {
  MakeImage(0x10000);
  host_.SetRange("8000", "8FFF", "8000", "8FFF");
  chip().ForceStatus(kCmdProgramBlock, 0x09, 3);
  host_.Run(JobKind::kWrite);
  EXPECT_EQ(FinalStatus(), "FAIL!");
  EXPECT_NE(host_.ended.back().detail.find("ErrorCode = 9"), std::string::npos);

  // Two failures and a success: the third attempt counts.
  chip().ForceStatus(kCmdProgramBlock, 0x09, 2);
  host_.Run(JobKind::kWrite);
  EXPECT_EQ(FinalStatus(), "Done");
}

TEST_F(JobsTest, FailedProgrammingStillHandsOverToItsVerifyJob) {
  MakeImage(0x10000);
  host_.SetRange("8000", "8FFF", "8000", "8FFF");
  host_.verifyAfterWrite = true;
  chip().ForceStatus(kCmdProgramBlock, 0x09, 3);
  host_.Run(JobKind::kWrite);
  ASSERT_EQ(host_.ended.size(), 2u);
  EXPECT_EQ(host_.ended[0].status, "FAIL!");
  EXPECT_EQ(host_.ended[1].status, "FAILED!");
  EXPECT_EQ(host_.ended[1].detail, "Chip Addr : 00008000, Buffer Addr : 00008000");
  EXPECT_EQ(ChainPending, 0);
}

TEST_F(JobsTest, UnprotectAndEraseFailuresStopBeforeAnythingIsStreamed) {
  MakeImage(0x1000);
  host_.SetRange("8000", "8FFF", "8000", "8FFF");
  const struct {
    bool unprotect, wholeChip;
    uint8_t command;
    const char* detail;
  } cases[] = {{true, false, kCmdSetProtection, "Set flash rom unprotected error!"},
               {false, true, kCmdEraseChip, "Erase flash rom error!"}};
  for (const auto& c : cases) {
    host_.unprotect = c.unprotect;
    host_.wholeChip = c.wholeChip;
    chip().ForceStatus(c.command, 0x04, 1);
    const uint32_t before = chip().CommandsDone();
    host_.Run(JobKind::kWrite);
    EXPECT_EQ(FinalStatus(), "FAIL!");
    EXPECT_EQ(host_.ended.back().detail, c.detail);
    EXPECT_EQ(chip().CommandsDone() - before, 1u);
  }
}

TEST_F(JobsTest, EqualStartAndEndSendsNothing) {
  MakeImage(0x100);
  host_.SetRange("8000", "8000", "0", "0");
  const uint64_t before = chip().PortAccesses();
  for (JobKind kind : {JobKind::kWrite, JobKind::kRead, JobKind::kVerify}) {
    host_.Run(kind);
    EXPECT_EQ(FinalStatus(), "");
    EXPECT_TRUE(host_.commandsEnabled);
  }
  EXPECT_EQ(chip().PortAccesses(), before);
}

TEST_F(JobsTest, VerifySkipsTheBootAreaAndTheBootBlockWhenLocked) {
  MakeImage(0x3000);
  BootSize = 0x2000;
  chip().SetFlash(0, std::vector<uint8_t>(Image(0, 0x3000)));
  // Differences inside 0x2000 .. 0x20FF never count; below 0x2000 only when
  // the boot block is not locked.
  chip().SetFlash(0x2080, std::vector<uint8_t>{0x00});
  chip().SetFlash(0x1000, std::vector<uint8_t>{static_cast<uint8_t>(image_[0x1000] ^ 1)});
  host_.SetRange("0", "2FFF", "0", "2FFF");
  host_.bootLocked = true;
  host_.Run(JobKind::kVerify);
  EXPECT_EQ(FinalStatus(), "SUCCESS!");
  EXPECT_EQ(chip().Mark(1), 0x2000);

  host_.bootLocked = false;
  host_.Run(JobKind::kVerify);
  EXPECT_EQ(FinalStatus(), "FAILED!");
  EXPECT_EQ(host_.ended.back().detail, "Chip Addr : 00001000, Buffer Addr : 00001000");
}

TEST_F(JobsTest, BytesBeyondTheImageAreWrittenAndComparedAsErased) {
  MakeImage(0x80);
  host_.SetRange("8000", "80FF", "0", "FF");
  host_.verifyAfterWrite = true;
  host_.Run(JobKind::kWrite);
  ASSERT_EQ(host_.ended.size(), 2u);
  EXPECT_EQ(host_.ended[1].status, "SUCCESS!");
  EXPECT_EQ(Flash(0x8080, 0x80), std::vector<uint8_t>(0x80, 0xFF));
}

TEST_F(JobsTest, WriteTillSuccessChainsFromTheDifferingPageUntilTheVerifyPasses) {
  MakeImage(0x10000);
  host_.SetRange("8000", "9FFF", "8000", "9FFF");
  host_.verifyAfterWrite = host_.writeTillSuccess = true;
  // One cell does not take its value until the first verify has seen it.
  chip().DeafCell(0x9234);
  host_.onEnded = [&](const std::string& status) {
    if (status == "FAILED!") chip().ClearFaults();
  };
  std::vector<int> chainDuring;
  host_.onProgress = [&](int) { chainDuring.push_back(ChainPending); };
  host_.Run(JobKind::kWrite);

  std::vector<std::string> statuses;
  for (const auto& e : host_.ended) statuses.push_back(e.status);
  EXPECT_EQ(statuses, (std::vector<std::string>{"Done", "FAILED!", "Done", "SUCCESS!"}));
  EXPECT_EQ(host_.ended[1].detail, "Chip Addr : 00009234, Buffer Addr : 00009234");
  EXPECT_EQ(host_.fields[RangeField::kDevStart], "9200");
  EXPECT_EQ(host_.fields[RangeField::kBufStart], "9200");
  EXPECT_EQ(Flash(0x8000, 0x2000), Image(0x8000, 0x2000));
  // Commands stay off through the chain and come on once, at its end.
  EXPECT_EQ(host_.enableCalls, (std::vector<bool>{false, false, false, false, true}));
  EXPECT_EQ(ChainPending, 0);
  EXPECT_EQ(host_.jobsStarted, 4);
  EXPECT_TRUE(host_.cancelEnabled == false);
}

TEST_F(JobsTest, ChainEndsWhereWriteTillSuccessIsOff) {
  MakeImage(0x10000);
  host_.SetRange("8000", "8FFF", "8000", "8FFF");
  host_.verifyAfterWrite = true;
  chip().DeafCell(0x8010);
  host_.Run(JobKind::kWrite);
  ASSERT_EQ(host_.ended.size(), 2u);
  EXPECT_EQ(host_.ended[1].status, "FAILED!");
  EXPECT_TRUE(host_.commandsEnabled);
  EXPECT_EQ(ChainPending, 0);
}

TEST_F(JobsTest, VerifyDeviceOutsideAChainNeverStartsAWrite) {
  MakeImage(0x10000);
  host_.SetRange("8000", "8FFF", "8000", "8FFF");
  host_.writeTillSuccess = true;
  host_.Run(JobKind::kVerify);  // the flash is erased: a difference at once
  EXPECT_EQ(host_.ended.size(), 1u);
  EXPECT_EQ(FinalStatus(), "FAILED!");
}

TEST_F(JobsTest, CancelDuringStreamingClosesTheBurstAndEndsTheChain) {
  MakeImage(0x10000);
  host_.SetRange("8000", "FFFF", "8000", "FFFF");
  host_.verifyAfterWrite = true;
  host_.onProgress = [&](int position) {
    if (position == 10) host_.job->Terminate();
  };
  const uint32_t before = chip().CommandsDone();
  host_.Run(JobKind::kWrite);
  ASSERT_EQ(host_.ended.size(), 1u);
  EXPECT_EQ(FinalStatus(), "Canceled");
  EXPECT_EQ(chip().CommandsDone() - before, 1u);  // the mark only: nothing programmed
  EXPECT_TRUE(BusLock.try_lock());
  BusLock.unlock();
  EXPECT_FALSE(chip().Busy());
  EXPECT_TRUE(host_.commandsEnabled);
  EXPECT_EQ(ChainPending, 0);
  // The bus is usable at once.
  uint16_t id = 0;
  EXPECT_EQ(IapReadInfo(kInfoFlashId, id), 0);
}

TEST_F(JobsTest, LockedBootBlockKeepsLockBootBlockOffAfterAJob) {
  MakeImage(0x1000);
  host_.SetRange("8000", "80FF", "0", "FF");
  host_.bootLocked = true;
  host_.Run(JobKind::kVerify);
  EXPECT_TRUE(host_.commandsEnabled);
  EXPECT_FALSE(host_.lockBootBlockEnabled);
}

TEST(RangeFields, ReadAsHexadecimalBehind0x) {
  const struct {
    const char* text;
    int32_t value;
    bool ok;
  } cases[] = {{"0", 0, true},       {"7FFFF", 0x7FFFF, true}, {"ff", 0xFF, true},   {"FFFFFFFF", -1, true},
               {"", 0, false},       {"G", 0, false},          {" 1", 0, false},      {"100000000", 0, false}};
  for (const auto& c : cases) {
    if (c.ok)
      EXPECT_EQ(ReadRangeField(c.text), c.value) << c.text;
    else
      EXPECT_THROW(ReadRangeField(c.text), RangeFieldError) << c.text;
  }
}

}  // namespace
}  // namespace morvane
