// The simulated chip's IAP firmware, driven through the wires: its commands
// with their descriptors and status codes, the handshake and its timing,
// the chip without IAP and the Enter IAP reset, firmware faults and the
// flash file.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "sim/machine.h"
#include "tests/sim/test_master.h"

namespace morvane::sim {
namespace {

using testing::TestMaster;

constexpr uint8_t kChip = 0x7E;

std::vector<uint8_t> DescriptorBytes(uint16_t pageSize, uint32_t data, uint32_t first, uint32_t last) {
  return {static_cast<uint8_t>(pageSize >> 8), static_cast<uint8_t>(pageSize),
          static_cast<uint8_t>(data >> 24),    static_cast<uint8_t>(data >> 16),
          static_cast<uint8_t>(data >> 8),     static_cast<uint8_t>(data),
          static_cast<uint8_t>(first >> 16),   static_cast<uint8_t>(first >> 8),
          static_cast<uint8_t>(first),         static_cast<uint8_t>(last >> 16),
          static_cast<uint8_t>(last >> 8),     static_cast<uint8_t>(last)};
}

class SimFirmware : public ::testing::Test {
 protected:
  explicit SimFirmware(Config config = {}) { Reset(config); }

  void Reset(const Config& config) {
    master_.reset();
    machine_ = std::make_unique<Machine>(config);
    master_ = std::make_unique<TestMaster>(*machine_, config.port);
  }

  Machine& m() { return *machine_; }
  TestMaster& master() { return *master_; }

  void Write(uint8_t reg, uint8_t value) { ASSERT_TRUE(master().WriteReg(kChip, reg, value)); }
  uint8_t Read(uint8_t reg) { return master().ReadReg(kChip, reg).value_or(0xEE); }

  // A block command with its descriptor, as the flash sequences build it.
  uint8_t Block(uint8_t code, uint32_t descriptorAt, const std::vector<uint8_t>& descriptor,
                TestMaster::Handshake* h = nullptr) {
    Write(0xE3, static_cast<uint8_t>(descriptor.size()));
    Write(0xE4, static_cast<uint8_t>(descriptorAt));
    Write(0xE5, static_cast<uint8_t>(descriptorAt >> 8));
    Write(0xE6, static_cast<uint8_t>(descriptorAt >> 16));
    master().WriteMemory(kChip, descriptorAt, descriptor);
    return master().Command(kChip, code, h);
  }
  uint8_t Program(uint32_t work, uint32_t first, uint32_t count, TestMaster::Handshake* h = nullptr) {
    return Block(0x0B, 0x1000, DescriptorBytes(0x100, work + 0x100, first, first + count - 1), h);
  }
  uint8_t ReadBlock(uint32_t first, uint32_t count) {
    return Block(0x0D, 0x90000, DescriptorBytes(0x100, 0x90100, first, first + count));
  }
  uint8_t Command(uint8_t code, TestMaster::Handshake* h = nullptr) { return master().Command(kChip, code, h); }

  std::vector<uint8_t> Pattern(size_t n, uint8_t salt) {
    std::vector<uint8_t> out(n);
    for (size_t i = 0; i < n; ++i) out[i] = static_cast<uint8_t>(i * 13 + salt);
    return out;
  }

  std::unique_ptr<Machine> machine_;
  std::unique_ptr<TestMaster> master_;
};

TEST_F(SimFirmware, PresenceQueryAnswers5) {
  Write(0xE1, 0x00);
  EXPECT_EQ(Command(0x03), 0);
  EXPECT_EQ(Read(0xE1), 5);
  EXPECT_EQ(m().LastCommand(), 0x03);
  EXPECT_EQ(Read(0xE0), 0x00);  // cleared when done
}

TEST_F(SimFirmware, InformationItems) {
  Write(0xE5, 1);
  EXPECT_EQ(Command(0x09), 0);
  EXPECT_EQ(Read(0xE5), 0x01);
  EXPECT_EQ(Read(0xE6), 0xBF);
  Write(0xE5, 2);
  EXPECT_EQ(Command(0x09), 0);
  EXPECT_EQ(Read(0xE5), 0x00);
  EXPECT_EQ(Read(0xE6), 0x00);
  EXPECT_EQ(Command(0x11), 0);
  EXPECT_TRUE(m().BootLocked());
  Write(0xE5, 2);
  EXPECT_EQ(Command(0x09), 0);
  EXPECT_EQ(Read(0xE5), 0x01);
  Write(0xE5, 3);
  EXPECT_EQ(Command(0x09), kStatusBadItem);
  EXPECT_EQ(Read(0xE5), 3);  // left as it was
}

TEST_F(SimFirmware, ProgramAndReadBlock) {
  const std::vector<uint8_t> data = Pattern(0x100, 5);
  master().WriteMemory(kChip, 0x1100, data);
  // The descriptor bytes of the flash sequence for work area 0x1000, page
  // size 0x100, first address 0x4000, count 0x100.
  const std::vector<uint8_t> programDescriptor = {0x01, 0x00, 0x00, 0x00, 0x11, 0x00,
                                                  0x00, 0x40, 0x00, 0x00, 0x40, 0xFF};
  EXPECT_EQ(Block(0x0B, 0x1000, programDescriptor), 0);
  EXPECT_TRUE(std::equal(data.begin(), data.end(), m().Flash().begin() + 0x4000));
  EXPECT_EQ(m().Flash()[0x3FFF], 0xFF);
  EXPECT_EQ(m().Flash()[0x4100], 0xFF);

  const std::vector<uint8_t> readDescriptor = {0x01, 0x00, 0x00, 0x09, 0x01, 0x00,
                                               0x00, 0x40, 0x00, 0x00, 0x41, 0x00};
  EXPECT_EQ(Block(0x0D, 0x90000, readDescriptor), 0);
  // first..last inclusive: 0x101 bytes land at 0x90100.
  std::vector<uint8_t> expected = data;
  expected.push_back(0xFF);
  EXPECT_EQ(m().Memory(0x90100, 0x101), expected);
  EXPECT_EQ(master().ReadMemory(kChip, 0x90100, 0x100), data);
}

TEST_F(SimFirmware, ProgrammingOverwritesWithoutErase) {
  master().WriteMemory(kChip, 0x1100, Pattern(16, 1));
  ASSERT_EQ(Program(0x1000, 0x8000, 16), 0);
  const std::vector<uint8_t> second = Pattern(16, 0x80);
  master().WriteMemory(kChip, 0x1100, second);
  ASSERT_EQ(Program(0x1000, 0x8000, 16), 0);
  EXPECT_TRUE(std::equal(second.begin(), second.end(), m().Flash().begin() + 0x8000));
}

TEST_F(SimFirmware, WholeFlashReadTakesTheByteBeyondTheEnd) {
  const uint32_t size = m().config().flashSize;
  EXPECT_EQ(ReadBlock(0, size), 0);  // last = size: one byte past the end reads erased
  EXPECT_EQ(m().Memory(0x90100 + size), 0xFF);
  EXPECT_EQ(ReadBlock(0, size + 1), kStatusOutsideFlash);
  EXPECT_EQ(ReadBlock(size, 0), kStatusOutsideFlash);
}

TEST_F(SimFirmware, RefusedBlocksLeaveTheFlashAlone) {
  master().WriteMemory(kChip, 0x1100, Pattern(0x200, 9));
  struct Case {
    const char* what;
    uint8_t code;
    std::vector<uint8_t> descriptor;
    uint8_t length;
    uint8_t status;
  };
  const uint32_t size = m().config().flashSize;
  const Case cases[] = {
      {"last below first", 0x0B, DescriptorBytes(0x100, 0x1100, 0x5000, 0x4FFF), 12, kStatusBadRange},
      {"beyond the flash", 0x0B, DescriptorBytes(0x100, 0x1100, size - 0x10, size), 12, kStatusOutsideFlash},
      {"read last below first", 0x0D, DescriptorBytes(0x100, 0x90100, 0x10, 0x0F), 12, kStatusBadRange},
      {"descriptor length", 0x0B, DescriptorBytes(0x100, 0x1100, 0x5000, 0x50FF), 11, kStatusBadDescriptor},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<uint8_t> d = c.descriptor;
    Write(0xE3, c.length);
    Write(0xE4, 0x00);
    Write(0xE5, 0x10);
    Write(0xE6, 0x00);
    master().WriteMemory(kChip, 0x1000, d);
    EXPECT_EQ(Command(c.code), c.status);
  }
  EXPECT_TRUE(std::all_of(m().Flash().begin(), m().Flash().end(), [](uint8_t b) { return b == 0xFF; }));
  EXPECT_EQ(Command(0x42), kStatusBadCommand);
}

TEST_F(SimFirmware, LockedBootBlock) {
  const uint32_t boot = m().config().bootSize;
  master().WriteMemory(kChip, 0x1100, Pattern(0x200, 3));
  ASSERT_EQ(Program(0x1000, 0, 0x100), 0);
  ASSERT_EQ(Command(0x11), 0);
  EXPECT_EQ(Program(0x1000, boot - 0x100, 0x200), kStatusBootLocked);  // reaches into it
  EXPECT_EQ(Program(0x1000, boot, 0x100), 0);                          // just after it
  ASSERT_EQ(Command(0x10), 0);  // the erase spares the locked boot block
  EXPECT_EQ(m().Flash()[0], Pattern(1, 3)[0]);
  EXPECT_EQ(m().Flash()[boot], 0xFF);
}

TEST_F(SimFirmware, ProtectionRefusesProgramAndErase) {
  master().WriteMemory(kChip, 0x1100, Pattern(0x10, 3));
  Write(0xE3, 0x01);
  ASSERT_EQ(Command(0x0F), 0);
  EXPECT_TRUE(m().Protected());
  EXPECT_EQ(Program(0x1000, 0x8000, 0x10), kStatusProtected);
  EXPECT_EQ(Command(0x10), kStatusProtected);
  EXPECT_EQ(ReadBlock(0x8000, 0x10), 0);  // reading is allowed
  Write(0xE3, 0x00);
  ASSERT_EQ(Command(0x0F), 0);
  EXPECT_EQ(Program(0x1000, 0x8000, 0x10), 0);
}

TEST_F(SimFirmware, EraseSetMarkAndRestart) {
  master().WriteMemory(kChip, 0x1100, Pattern(0x10, 3));
  ASSERT_EQ(Program(0x1000, 0x20, 0x10), 0);
  EXPECT_EQ(Command(0x10), 0);
  EXPECT_TRUE(std::all_of(m().Flash().begin(), m().Flash().end(), [](uint8_t b) { return b == 0xFF; }));

  Write(0xE3, 0x01);
  Write(0xE5, 0x00);
  Write(0xE6, 0x40);
  EXPECT_EQ(Command(0x0E), 0);
  EXPECT_EQ(m().Mark(1), 0x4000);

  EXPECT_EQ(Command(0x0C), 0);
  EXPECT_EQ(m().Restarts(), 1u);
  EXPECT_TRUE(m().IapRunning());
  Write(0xE1, 0);
  EXPECT_EQ(Command(0x03), 0);
  EXPECT_EQ(Read(0xE1), 5);
}

TEST_F(SimFirmware, HandshakeTiming) {
  const Config& c = m().config();
  struct Case {
    const char* what;
    uint8_t code;
    uint64_t atLeast;
  };
  master().WriteMemory(kChip, 0x1100, Pattern(0x100, 1));
  TestMaster::Handshake h;
  // Program: base time plus the time per byte.
  Program(0x1000, 0x4000, 0x100, &h);
  const uint64_t program = h.finished - h.taken;
  EXPECT_GE(program, c.commandMicros + 0x100 * c.programMicros);
  EXPECT_LT(program, c.commandMicros + 0x100 * c.programMicros + 20);
  // Take-up counts from the stop that ended the command write.
  Write(0xE0, 0x10);
  const uint64_t stop = m().NowMicros();
  h = master().DoHandshake(60'000'000, 60'000'000);
  EXPECT_GE(h.taken - stop, c.takeUpMicros);
  EXPECT_LT(h.taken - stop, c.takeUpMicros + 10);
  EXPECT_GE(h.finished - h.taken, c.eraseMicros);
  EXPECT_GT(h.finished - h.taken, program);
  // Both lines are free afterwards: the master's stop went through.
  EXPECT_TRUE(m().Scl());
  EXPECT_TRUE(m().Sda());
  EXPECT_FALSE(m().Busy());
  EXPECT_EQ(Read(0xE7), 0);
}

TEST_F(SimFirmware, NoHandshakeWithoutACommand) {
  const TestMaster::Handshake h = master().DoHandshake(1'000'000, 1'000'000);
  EXPECT_EQ(h.taken, 0u);
  EXPECT_TRUE(m().Scl());
}

TEST_F(SimFirmware, StatusIsBusyUntilTheCommandFinishes) {
  m().SetHang(Hang::kNotTaken);
  TestMaster::Handshake h;
  Write(0xE0, 0x10);
  h = master().DoHandshake(5'000'000, 5'000'000);
  EXPECT_EQ(h.taken, 0u);
  EXPECT_EQ(Read(0xE7), kStatusBusy);
  EXPECT_TRUE(m().Busy());
  // Once the firmware works again it takes the command at the next request.
  m().SetHang(Hang::kNone);
  h = master().DoHandshake(5'000'000, 5'000'000);
  EXPECT_NE(h.taken, 0u);
  EXPECT_NE(h.finished, 0u);
  EXPECT_EQ(Read(0xE7), 0);
}

TEST_F(SimFirmware, CommandThatNeverFinishes) {
  m().SetHang(Hang::kNotFinished);
  Write(0xE0, 0x10);
  const TestMaster::Handshake h = master().DoHandshake(5'000'000, 5'000'000);
  EXPECT_NE(h.taken, 0u);
  EXPECT_EQ(h.finished, 0u);
  EXPECT_TRUE(m().Scl());   // the clock was given back for the stop
  EXPECT_FALSE(m().Sda());  // data stays held
  m().SetHang(Hang::kNone);
  m().AdvanceMicros(m().config().eraseMicros + 10);
  EXPECT_TRUE(m().Sda());
  EXPECT_EQ(Read(0xE7), 0);
}

TEST_F(SimFirmware, ForcedStatus) {
  master().WriteMemory(kChip, 0x1100, Pattern(0x10, 3));
  m().ForceStatus(0x0B, 0x42, 2);
  EXPECT_EQ(Program(0x1000, 0x100, 0x10), 0x42);
  EXPECT_EQ(Program(0x1000, 0x100, 0x10), 0x42);
  EXPECT_EQ(m().Flash()[0x100], 0xFF);
  EXPECT_EQ(Program(0x1000, 0x100, 0x10), 0);
  EXPECT_EQ(m().Flash()[0x100], Pattern(1, 3)[0]);
  m().ForceStatus(0x10, 0x09, -1);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(Command(0x10), 0x09);
}

TEST_F(SimFirmware, CellsThatDoNotTakeAValue) {
  m().StickCell(0x4010, 0x00);
  m().DeafCell(0x4011);
  const std::vector<uint8_t> data(0x20, 0x55);
  master().WriteMemory(kChip, 0x1100, data);
  ASSERT_EQ(Program(0x1000, 0x4000, 0x20), 0);
  ASSERT_EQ(ReadBlock(0x4000, 0x20), 0);
  const std::vector<uint8_t> back = master().ReadMemory(kChip, 0x90100, 0x20);
  for (size_t i = 0; i < back.size(); ++i) {
    const uint8_t expected = i == 0x10 ? 0x00 : i == 0x11 ? 0xFF : 0x55;
    EXPECT_EQ(back[i], expected) << i;
  }
  ASSERT_EQ(Command(0x10), 0);
  EXPECT_EQ(m().Flash()[0x4010], 0x00);  // stuck through the erase too
  EXPECT_EQ(m().Flash()[0x4011], 0xFF);
}

TEST_F(SimFirmware, CellThatIgnoresItsFirstProgrammingsTakesTheNext) {
  m().DeafCell(0x4002, 2);
  const std::vector<uint8_t> data(4, 0x33);
  master().WriteMemory(kChip, 0x1100, data);
  for (uint8_t expected : {0xFF, 0xFF, 0x33}) {
    ASSERT_EQ(Program(0x1000, 0x4000, 4), 0);
    EXPECT_EQ(m().Flash()[0x4002], expected);
    EXPECT_EQ(m().Flash()[0x4001], 0x33);
  }
}

// The handshake exactly as the link drives it on a VGA adapter, where each
// sample of a line first writes SDA free.
class VgaLinkLines {
 public:
  VgaLinkLines(Machine& m, uint16_t port) : m_(m), port_(port), index_(port == 0x3D4 ? 0x37 : 0x3B) {}
  void SetScl(bool high) {
    shadow_ = high ? shadow_ | 2 : shadow_ & ~2;
    for (int i = 0; i < 1000; ++i) {
      if (((Access(static_cast<uint8_t>(shadow_ | 0x0C)) & 0x40) != 0) || !high || port_ == 0x3CE) return;
    }
  }
  void SetSda(bool high) {
    shadow_ = high ? shadow_ | 1 : shadow_ & ~1;
    Unlock();
    m_.Out(port_, index_);
    m_.Out(port_ + 1, static_cast<uint8_t>(shadow_ | 0x0C));
  }
  bool GetScl() { return (Access(static_cast<uint8_t>(shadow_ | 0x04)) & 0x40) != 0; }
  bool GetSda() { return (Access(static_cast<uint8_t>(shadow_ | 0x04)) & 0x01) != 0; }

 private:
  void Unlock() {
    m_.Out(0x3C4, 0x11);
    m_.Out(0x3C5, 0x92);
  }
  uint8_t Access(uint8_t value) {
    Unlock();
    m_.Out(port_, index_);
    m_.Out(port_ + 1, value);
    return m_.In(port_ + 1);
  }
  Machine& m_;
  uint16_t port_;
  uint8_t index_;
  uint8_t shadow_ = 0x03;
};

TEST(SimVgaHandshake, AnsweredOnBothIndexPorts) {
  for (uint16_t port : {0x3D4, 0x3CE}) {
    SCOPED_TRACE(port);
    Config c;
    c.port = port;
    Machine m{c};
    TestMaster master(m, port);
    ASSERT_TRUE(master.WriteReg(kChip, 0xE1, 0));
    ASSERT_TRUE(master.WriteReg(kChip, 0xE0, 0x03));
    VgaLinkLines lines(m, port);
    lines.SetScl(false);
    lines.SetSda(false);
    lines.SetScl(true);
    int polls = 0;
    while (lines.GetScl() && polls < 100000) ++polls;
    ASSERT_LT(polls, 100000);
    lines.SetScl(false);
    lines.SetSda(true);
    polls = 0;
    while (!lines.GetSda() && polls < 100000) ++polls;
    ASSERT_LT(polls, 100000);
    lines.SetSda(false);
    lines.SetScl(true);
    lines.SetSda(true);
    EXPECT_TRUE(m.Scl());
    EXPECT_EQ(master.ReadReg(kChip, 0xE1), 5);
  }
}

TEST(SimVgaHandshake, EnterIapPatternOnBothIndexPorts) {
  for (uint16_t port : {0x3D4, 0x3CE}) {
    SCOPED_TRACE(port);
    Config c;
    c.port = port;
    c.iap = false;
    c.resetMicros = 20'000;
    Machine m{c};
    VgaLinkLines lines(m, port);
    lines.SetScl(false);
    lines.SetSda(false);
    lines.SetScl(true);
    const uint64_t t0 = m.NowMicros();
    while (lines.GetScl() && m.NowMicros() - t0 < 100'000) {
    }
    EXPECT_GE(m.NowMicros() - t0, c.resetMicros);
    EXPECT_LT(m.NowMicros() - t0, 30'000u);
    lines.SetScl(false);
    lines.SetSda(true);
    while (!lines.GetSda() && m.NowMicros() - t0 < 100'000) {
    }
    lines.SetSda(false);
    lines.SetScl(true);
    lines.SetSda(true);
    EXPECT_TRUE(m.Scl());
    EXPECT_TRUE(m.Sda());
    EXPECT_TRUE(m.IapRunning());
  }
}

// --- A chip whose IAP firmware is not running ------------------------------

class SimNoIap : public SimFirmware {
 protected:
  static Config NoIap() {
    Config c;
    c.iap = false;
    return c;
  }
  SimNoIap() : SimFirmware(NoIap()) {}
};

TEST_F(SimNoIap, QueryIsNotAnswered) {
  Write(0xE1, 0x00);
  TestMaster::Handshake h;
  master().WriteReg(kChip, 0xE0, 0x03);
  h = master().DoHandshake(1'000'000, 10'000'000);  // the first query's limits
  EXPECT_EQ(h.taken, 0u);
  EXPECT_NE(Read(0xE1), 5);
  EXPECT_EQ(Read(0xE7), 0x00);  // no busy status: nobody looked at the command
  EXPECT_FALSE(m().IapRunning());
  EXPECT_EQ(m().Resets(), 0u);
  // Nor does any other command run.
  Write(0xE5, 1);
  master().WriteReg(kChip, 0xE0, 0x09);
  EXPECT_EQ(master().DoHandshake(1'000'000, 1'000'000).taken, 0u);
  EXPECT_EQ(m().CommandsDone(), 0u);
}

TEST_F(SimNoIap, EnterIapPatternResetsTheBoardIntoIap) {
  Write(0xFF, 0x04);
  const uint64_t t0 = m().NowMicros();
  const TestMaster::Handshake h = master().DoHandshake(UINT64_MAX, UINT64_MAX);
  EXPECT_GE(h.taken - t0, m().config().resetMicros);
  EXPECT_LT(h.taken - t0, m().config().resetMicros + m().config().takeUpMicros + 20);
  EXPECT_NE(h.finished, 0u);
  EXPECT_TRUE(m().IapRunning());
  EXPECT_EQ(m().Resets(), 1u);
  EXPECT_EQ(m().Page(), 0x00);  // the reset set the registers back
  Write(0xE1, 0x00);
  EXPECT_EQ(Command(0x03), 0);
  EXPECT_EQ(Read(0xE1), 5);
}

// --- The flash file --------------------------------------------------------

class SimFlashFile : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = (std::filesystem::temp_directory_path() /
             ("morvane_sim_flash_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + ".bin"))
                .string();
    std::filesystem::remove(path_);
  }
  void TearDown() override { std::filesystem::remove(path_); }
  Config WithFile() {
    Config c;
    c.flashFile = path_;
    c.flashSize = 0x8000;
    c.bootSize = 0x2000;
    return c;
  }
  std::vector<uint8_t> FileBytes() {
    std::ifstream in(path_, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
  std::string path_;
};

TEST_F(SimFlashFile, CreatedErasedAndKeptBetweenRuns) {
  const std::vector<uint8_t> data = {0xDE, 0xAD, 0xBE, 0xEF};
  {
    Machine m{WithFile()};
    const std::vector<uint8_t> file = FileBytes();
    ASSERT_EQ(file.size(), 0x8000u);
    EXPECT_TRUE(std::all_of(file.begin(), file.end(), [](uint8_t b) { return b == 0xFF; }));
    TestMaster master(m, 0x378);
    master.WriteMemory(kChip, 0x1100, data);
    master.WriteReg(kChip, 0xE3, 0x0C);
    master.WriteReg(kChip, 0xE4, 0x00);
    master.WriteReg(kChip, 0xE5, 0x10);
    master.WriteReg(kChip, 0xE6, 0x00);
    master.WriteMemory(kChip, 0x1000, DescriptorBytes(0x100, 0x1100, 0x7000, 0x7003));
    ASSERT_EQ(master.Command(kChip, 0x0B), 0);
    // Written back as soon as the command changed the flash.
    EXPECT_EQ(FileBytes()[0x7001], 0xAD);
  }
  // A byte changed by hand between runs.
  {
    std::fstream f(path_, std::ios::binary | std::ios::in | std::ios::out);
    f.seekp(0x10);
    f.put(0x42);
  }
  Machine again{WithFile()};
  EXPECT_TRUE(std::equal(data.begin(), data.end(), again.Flash().begin() + 0x7000));
  EXPECT_EQ(again.Flash()[0x10], 0x42);
}

TEST_F(SimFlashFile, WrittenAtTheEnd) {
  {
    Machine m{WithFile()};
    const std::vector<uint8_t> bytes = {1, 2, 3};
    m.SetFlash(0x100, bytes);
  }
  EXPECT_EQ(FileBytes()[0x101], 2);
}

TEST_F(SimFlashFile, WrongSizeIsRefused) {
  {
    std::ofstream out(path_, std::ios::binary);
    out << "too short";
  }
  try {
    Machine m{WithFile()};
    FAIL() << "a flash file of the wrong size was taken";
  } catch (const std::runtime_error& e) {
    const std::string message = e.what();
    EXPECT_NE(message.find(path_), std::string::npos) << message;
    EXPECT_NE(message.find("FlashSize"), std::string::npos) << message;
    EXPECT_NE(message.find("9 bytes"), std::string::npos) << message;
  }
  EXPECT_EQ(FileBytes().size(), 9u);  // left as it was
}

TEST_F(SimFlashFile, UncreatableFileIsReported) {
  Config c = WithFile();
  c.flashFile = "/nonexistent-folder/flash.bin";
  EXPECT_THROW(Machine{c}, std::runtime_error);
}

TEST(SimConfig, ImpossibleSizesAreRefused) {
  Config c;
  c.flashSize = 0;
  EXPECT_THROW(Machine{c}, std::runtime_error);
  c.flashSize = 0x1000001;
  EXPECT_THROW(Machine{c}, std::runtime_error);
  c.flashSize = 0x1000;
  c.bootSize = 0x2000;
  EXPECT_THROW(Machine{c}, std::runtime_error);
}

}  // namespace
}  // namespace morvane::sim
