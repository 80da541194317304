// The simulated hardware seen from the ports: adapters, the open-drain bus,
// the chip's registers, pages and memory port, faults on the bus, time and
// the trace.
#include "sim/machine.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/sim/test_master.h"

namespace morvane::sim {
namespace {

using testing::TestMaster;

constexpr uint8_t kChip = 0x7E;

Config WithPort(uint16_t port) {
  Config c;
  c.port = port;
  return c;
}

// --- Ports and adapters ----------------------------------------------------

TEST(SimPorts, PortsWithNothingBehindReadFF) {
  Machine m{Config{}};
  for (uint16_t port : {0x0080, 0x0200, 0x0278, 0x0279, 0x3BD, 0x3C4, 0x3C5, 0x3D5, 0x3CF, 0x37B, 0xFFFF}) {
    EXPECT_EQ(m.In(port), 0xFF) << std::hex << port;
  }
  m.Out(0x278, 0x03);  // a write to nothing changes nothing
  EXPECT_TRUE(m.Scl());
  EXPECT_TRUE(m.Sda());
}

TEST(SimPorts, ParallelAdapterAtEveryBase) {
  for (uint16_t base : {0x378, 0x278, 0x3BC, 0x2BC, 0x300}) {
    SCOPED_TRACE(base);
    Machine m{WithPort(base)};
    EXPECT_EQ(m.In(base + 1) & 0x30, 0x30);  // both lines high at rest
    m.Out(base, 0xFD);                        // bit 0: SCL pulled low
    EXPECT_EQ(m.In(base + 1) & 0x30, 0x10);
    EXPECT_EQ(m.In(base), 0xFD);  // the data port reads back
    m.Out(base, 0xFE);            // bit 1: SDA pulled low
    EXPECT_EQ(m.In(base + 1) & 0x30, 0x20);
    m.Out(base, 0xFC);
    EXPECT_EQ(m.In(base + 1), 0xFF);  // idle status with both lines high
  }
}

TEST(SimPorts, TimeAdvancesOneMicrosecondPerAccess) {
  Machine m{Config{}};
  EXPECT_EQ(m.NowMicros(), 0u);
  m.In(0x379);
  m.Out(0x378, 0xFC);
  m.In(0x100);
  EXPECT_EQ(m.NowMicros(), 3u);
  EXPECT_EQ(m.PortAccesses(), 3u);
  m.AdvanceMicros(1000);
  EXPECT_EQ(m.NowMicros(), 1003u);
  EXPECT_EQ(m.PortAccesses(), 3u);
}

// --- The open-drain bus ----------------------------------------------------

TEST(SimBus, LinesAreTheWiredAndOfTheirDrivers) {
  Machine m{Config{}};
  m.SetSclStuck(true);
  m.Out(0x378, 0xFC);  // master releases both
  EXPECT_FALSE(m.Scl());
  EXPECT_EQ(m.In(0x379) & 0x20, 0);
  m.SetSclStuck(false);
  EXPECT_TRUE(m.Scl());
  // The chip's acknowledge pulls SDA low while the master has released it.
  TestMaster master(m, 0x378);
  master.Start();
  for (int i = 7; i >= 0; --i) {
    master.SetSda(((kChip >> i) & 1) != 0);
    master.SetScl(true);
    master.SetScl(false);
  }
  master.SetSda(true);
  EXPECT_FALSE(master.GetSda());
  EXPECT_EQ(m.In(0x378) & 0x02, 0);  // the master does not pull it
}

// --- Registers and pages ---------------------------------------------------

TEST(SimRegisters, WriteAndReadOnEveryPage) {
  Machine m{Config{}};
  TestMaster master(m, 0x378);
  struct Case {
    uint8_t page, reg, value;
  };
  const Case cases[] = {{0x01, 0x00, 0x11}, {0x01, 0x91, 0x5A}, {0x02, 0x0D, 0x80}, {0x04, 0x65, 0x3C},
                        {0x08, 0x40, 0xA5}, {0x08, 0xC0, 0x12}, {0x10, 0x83, 0xFE}};
  for (const Case& c : cases) {
    ASSERT_TRUE(master.WriteReg(kChip, 0xFF, c.page));
    ASSERT_TRUE(master.WriteReg(kChip, c.reg, c.value));
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << std::hex << int(c.page) << ":" << int(c.reg));
    master.WriteReg(kChip, 0xFF, c.page);
    EXPECT_EQ(master.ReadReg(kChip, c.reg), c.value);
    EXPECT_EQ(m.Register(c.page, c.reg), c.value);
  }
  // Pages are separate banks.
  master.WriteReg(kChip, 0xFF, 0x02);
  EXPECT_EQ(master.ReadReg(kChip, 0x00), 0x00);
}

TEST(SimRegisters, PageProbeReadsBack) {
  Machine m{Config{}};
  TestMaster master(m, 0x378);
  EXPECT_EQ(master.ReadReg(kChip, 0xFF), 0x00);
  ASSERT_TRUE(master.WriteReg(kChip, 0xFF, 0x02));
  EXPECT_EQ(master.ReadReg(kChip, 0xFF), 0x02);
  EXPECT_EQ(m.Page(), 0x02);
}

TEST(SimRegisters, IdentificationOnPage2IsReadOnly) {
  Config c;
  c.chipId = 0x670A0B;
  Machine m{c};
  TestMaster master(m, 0x378);
  master.WriteReg(kChip, 0xFF, 0x02);
  master.WriteReg(kChip, 0x96, 0x00);  // the register table writes these too
  EXPECT_EQ(master.ReadReg(kChip, 0x96), 0x67);
  EXPECT_EQ(master.ReadReg(kChip, 0x97), 0x0A);
  EXPECT_EQ(master.ReadReg(kChip, 0x98), 0x0B);
  master.WriteReg(kChip, 0xFF, 0x01);  // other pages hold plain registers there
  EXPECT_EQ(master.ReadReg(kChip, 0x96), 0x00);
}

TEST(SimRegisters, Variant40ReadsC0ToCFInvertedOnPage8) {
  struct Case {
    uint32_t chipId;
    bool inverted;
  };
  for (const Case& c : {Case{0x690100, true}, Case{0x690101, false}, Case{0x660300, false}}) {
    SCOPED_TRACE(c.chipId);
    Config config;
    config.chipId = c.chipId;
    Machine m{config};
    TestMaster master(m, 0x378);
    master.WriteReg(kChip, 0xFF, 0x08);
    for (uint8_t reg : {0xBF, 0xC0, 0xC7, 0xCF, 0xD0}) master.WriteReg(kChip, reg, 0x35);
    const bool inRange[] = {false, true, true, true, false};
    int i = 0;
    for (uint8_t reg : {0xBF, 0xC0, 0xC7, 0xCF, 0xD0}) {
      const uint8_t expected = c.inverted && inRange[i++] ? 0xCA : 0x35;
      EXPECT_EQ(master.ReadReg(kChip, reg), expected) << std::hex << int(reg);
    }
    master.WriteReg(kChip, 0xFF, 0x01);  // only page 8 inverts
    master.WriteReg(kChip, 0xC0, 0x35);
    EXPECT_EQ(master.ReadReg(kChip, 0xC0), 0x35);
  }
}

TEST(SimRegisters, OtherAddressesAreNotAcknowledged) {
  Machine m{Config{}};
  TestMaster master(m, 0x378);
  master.Start();
  EXPECT_FALSE(master.Send(0x7C));
  master.Stop();
  EXPECT_FALSE(master.ReadReg(0x86, 0xFF).has_value());
  EXPECT_TRUE(master.ReadReg(kChip, 0xFF).has_value());
}

TEST(SimRegisters, ConsecutiveBytesGoToConsecutiveRegisters) {
  Machine m{Config{}};
  TestMaster master(m, 0x378);
  master.WriteReg(kChip, 0xFF, 0x01);
  master.Start();
  master.Send(kChip);
  master.Send(0x20);
  master.Send(0xA1);
  master.Send(0xA2);
  master.Stop();
  EXPECT_EQ(m.Register(0x01, 0x20), 0xA1);
  EXPECT_EQ(m.Register(0x01, 0x21), 0xA2);
  // A read acknowledged by the master goes on with the next register.
  master.Start();
  master.Send(kChip);
  master.Send(0x20);
  master.Start();
  master.Send(kChip | 1);
  EXPECT_EQ(master.Receive(true, true), 0xA1);
  EXPECT_EQ(master.Receive(true, false), 0xA2);
  master.Stop();
}

// --- Memory port -----------------------------------------------------------

TEST(SimMemory, WriteBurstAndBurstReadRoundTrip) {
  Machine m{Config{}};
  TestMaster master(m, 0x378);
  std::vector<uint8_t> data(300);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7 + 3);
  master.WriteMemory(kChip, 0x1100, data);
  EXPECT_EQ(m.WritePointer(), 0x1100u + data.size());
  EXPECT_EQ(m.Memory(0x1100, data.size()), data);
  EXPECT_EQ(master.ReadMemory(kChip, 0x1100, data.size()), data);
  EXPECT_EQ(m.ReadPointer(), 0x1100u + data.size());
}

TEST(SimMemory, PointersAreLoadedOnlyByTheirPulse) {
  Machine m{Config{}};
  TestMaster master(m, 0x378);
  master.SetPointer(kChip, true, 0x090100);
  EXPECT_EQ(m.WritePointer(), 0x090100u);
  EXPECT_EQ(m.ReadPointer(), 0u);
  master.SetPointer(kChip, false, 0x123456);
  EXPECT_EQ(m.ReadPointer(), 0x123456u);
  EXPECT_EQ(m.WritePointer(), 0x090100u);
  // Register 0xEF is a data port on page 4 only.
  master.WriteReg(kChip, 0xFF, 0x01);
  master.WriteReg(kChip, 0xEF, 0x77);
  EXPECT_EQ(m.WritePointer(), 0x090100u);
  EXPECT_EQ(m.Register(0x01, 0xEF), 0x77);
}

TEST(SimMemory, BurstReadClosedByStopTakesNoExtraByte) {
  Machine m{Config{}};
  TestMaster master(m, 0x378);
  const std::vector<uint8_t> data = {0x10, 0x20, 0x30};
  m.SetMemory(0x90100, data);
  master.SetPointer(kChip, false, 0x90100);
  master.Start();
  master.Send(kChip);
  master.Send(0xEF);
  master.Start();
  master.Send(kChip | 1);
  EXPECT_EQ(master.Receive(false), 0x10);
  // The stop's first clock is the ninth clock, with SDA low.
  master.Stop();
  EXPECT_EQ(m.ReadPointer(), 0x90101u);
}

// --- VGA adapters ----------------------------------------------------------

TEST(SimVga, RegistersThroughBothIndexPorts) {
  for (uint16_t port : {0x3D4, 0x3CE}) {
    SCOPED_TRACE(port);
    Machine m{WithPort(port)};
    m.Out(0x3C4, 0x0B);
    EXPECT_EQ(m.In(0x3C5), 0xF3);
    TestMaster master(m, port);
    ASSERT_TRUE(master.WriteReg(kChip, 0xFF, 0x02));
    EXPECT_EQ(master.ReadReg(kChip, 0xFF), 0x02);
    EXPECT_EQ(master.ReadReg(kChip, 0x96), 0x66);
    const std::vector<uint8_t> data = {1, 2, 3, 0xFE, 0x80};
    master.WriteMemory(kChip, 0x2000, data);
    EXPECT_EQ(master.ReadMemory(kChip, 0x2000, data.size()), data);
    // The parallel ports are empty.
    EXPECT_EQ(m.In(0x379), 0xFF);
  }
}

TEST(SimVga, ControllerIdIsConfigurable) {
  Config c = WithPort(0x3D4);
  c.vgaId = 0xE3;
  Machine m{c};
  m.Out(0x3C4, 0x0B);
  EXPECT_EQ(m.In(0x3C5), 0xE3);
  m.Out(0x3C5, 0xF3);  // the id cannot be written
  EXPECT_EQ(m.In(0x3C5), 0xE3);
}

TEST(SimVga, DdcRegisterBits) {
  Machine m{WithPort(0x3D4)};
  m.Out(0x3C4, 0x11);
  m.Out(0x3C5, 0x92);
  m.Out(0x3D4, 0x37);
  m.Out(0x3D5, 0x0C);  // both levels low, SDA driven
  EXPECT_FALSE(m.Scl());
  EXPECT_FALSE(m.Sda());
  EXPECT_EQ(m.In(0x3D5) & 0x41, 0x00);
  m.Out(0x3D5, 0x04);  // bit 3 clear: SDA left free although bit 0 is low
  EXPECT_TRUE(m.Sda());
  EXPECT_EQ(m.In(0x3D5) & 0x41, 0x01);
  m.Out(0x3D5, 0x0F);  // both high
  EXPECT_EQ(m.In(0x3D5) & 0x41, 0x41);
  // Another extended register does not reach the lines.
  m.Out(0x3D4, 0x36);
  m.Out(0x3D5, 0x0C);
  EXPECT_TRUE(m.Scl());
  EXPECT_EQ(m.In(0x3D5), 0xFF);
  // Nor does the graphics controller's 0x3B on this controller.
  m.Out(0x3CE, 0x3B);
  m.Out(0x3CF, 0x0C);
  EXPECT_TRUE(m.Scl());
  EXPECT_EQ(m.In(0x3CF), 0xFF);
}

TEST(SimVga, LockedExtendedRegistersIgnoreTheLines) {
  Machine m{WithPort(0x3CE)};
  m.Out(0x3CE, 0x3B);
  m.Out(0x3CF, 0x0C);
  EXPECT_TRUE(m.Scl());
  EXPECT_EQ(m.In(0x3CF), 0xFF);
  m.Out(0x3C4, 0x11);
  m.Out(0x3C5, 0x92);
  m.Out(0x3CE, 0x3B);
  m.Out(0x3CF, 0x0C);
  EXPECT_FALSE(m.Scl());
  m.Out(0x3C4, 0x11);  // locked again: the lines stay where they were
  m.Out(0x3C5, 0x00);
  m.Out(0x3CF, 0x0F);
  EXPECT_FALSE(m.Scl());
}

// --- Faults on the bus -----------------------------------------------------

// Drives a register write up to the rise of the first clock of its register
// byte, the moment at which the chip stretches.
int ReadsUntilSclRises(TestMaster& master, int limit) {
  master.Start();
  EXPECT_TRUE(master.Send(kChip));
  master.SetSda(true);
  master.SetScl(true, 0);
  for (int reads = 1; reads <= limit; ++reads) {
    if (master.GetScl()) return reads;
  }
  return -1;
}

TEST(SimFaults, ClockStretchingForNReads) {
  for (int n : {0, 1, 5, 999}) {
    SCOPED_TRACE(n);
    Config c;
    c.stretch = n;
    Machine m{c};
    TestMaster master(m, 0x378);
    EXPECT_EQ(ReadsUntilSclRises(master, 2000), n + 1);
  }
  // Every byte is stretched, and the transfer still works.
  Config c;
  c.stretch = 3;
  Machine m{c};
  TestMaster master(m, 0x378);
  ASSERT_TRUE(master.WriteReg(kChip, 0xFF, 0x08));
  EXPECT_EQ(master.ReadReg(kChip, 0xFF), 0x08);
  // At 1000 reads the master's 1000 attempts run out.
  m.SetStretch(1000);
  master.Start();
  master.Send(kChip);
  master.SetSda(true);
  EXPECT_FALSE(master.SetScl(true, 1000));
  EXPECT_TRUE(master.GetScl());  // released after its 1000th read
}

TEST(SimFaults, StuckClock) {
  Machine m{Config{}};
  TestMaster master(m, 0x378);
  m.SetSclStuck(true);
  EXPECT_FALSE(master.SetScl(true));
  EXPECT_FALSE(master.ReadReg(kChip, 0xFF).has_value());
  m.SetSclStuck(false);
  master.Stop();
  EXPECT_TRUE(master.ReadReg(kChip, 0xFF).has_value());
}

TEST(SimFaults, CountedNotAcknowledges) {
  Machine m{Config{}};
  TestMaster master(m, 0x378);
  // Skip the address and register byte: the value byte is refused, and not
  // taken.
  m.InjectNaks(1, 2);
  EXPECT_FALSE(master.WriteReg(kChip, 0xFF, 0x04));
  EXPECT_EQ(m.Page(), 0x00);
  EXPECT_TRUE(master.WriteReg(kChip, 0xFF, 0x04));
  EXPECT_EQ(m.Page(), 0x04);
  // Two address bytes refused.
  m.InjectNaks(2);
  EXPECT_FALSE(master.ReadReg(kChip, 0xFF).has_value());
  EXPECT_FALSE(master.ReadReg(kChip, 0xFF).has_value());
  EXPECT_EQ(master.ReadReg(kChip, 0xFF), 0x04);
}

TEST(SimFaults, SeededNotAcknowledgeRate) {
  auto pattern = [](uint32_t seed) {
    Config c;
    c.nakRate = 0.3;
    c.seed = seed;
    Machine m{c};
    TestMaster master(m, 0x378);
    std::string out;
    for (int i = 0; i < 200; ++i) out += master.WriteReg(kChip, 0x10, 0x01) ? '.' : 'N';
    return out;
  };
  const std::string a = pattern(7);
  EXPECT_EQ(a, pattern(7));
  EXPECT_NE(a, pattern(8));
  const auto naks = std::count(a.begin(), a.end(), 'N');
  EXPECT_GT(naks, 30);
  EXPECT_LT(naks, 90);
}

TEST(SimFaults, AbsentChipAndOtherAddress) {
  Machine m{Config{}};
  TestMaster master(m, 0x378);
  m.SetChipPresent(false);
  EXPECT_FALSE(master.ReadReg(kChip, 0xFF).has_value());
  m.SetChipPresent(true);
  for (uint8_t address : {0x7C, 0x86, 0x6C}) {
    m.SetChipAddress(address);
    EXPECT_FALSE(master.ReadReg(kChip, 0xFF).has_value());
    ASSERT_TRUE(master.WriteReg(address, 0xFF, 0x02));
    EXPECT_EQ(master.ReadReg(address, 0xFF), 0x02);
  }
  Config c;
  c.present = false;
  Machine none{c};
  TestMaster master2(none, 0x378);
  EXPECT_FALSE(master2.ReadReg(kChip, 0xFF).has_value());
}

TEST(SimFaults, SecondSlaveAnswersThePageProbeButIsNoVelq) {
  Config c;
  c.secondSlave = 0x40;
  Machine m{c};
  TestMaster master(m, 0x378);
  ASSERT_TRUE(master.WriteReg(0x40, 0xFF, 0x02));
  EXPECT_EQ(master.ReadReg(0x40, 0xFF), 0x02);
  EXPECT_EQ(master.ReadReg(0x40, 0x96), 0x00);
  EXPECT_EQ(m.Page(), 0x00);  // the chip was not touched
  EXPECT_EQ(master.ReadReg(kChip, 0x96), 0x00);
  master.WriteReg(kChip, 0xFF, 0x02);
  EXPECT_EQ(master.ReadReg(kChip, 0x96), 0x66);
  m.SetSecondSlave(0);
  EXPECT_FALSE(master.ReadReg(0x40, 0xFF).has_value());
}

TEST(SimFaults, ClearFaultsLeavesAHealthyBus) {
  Config c;
  c.stretch = 10;
  c.secondSlave = 0x40;
  Machine m{c};
  TestMaster master(m, 0x378);
  m.SetSclStuck(true);
  m.SetChipPresent(false);
  m.SetChipAddress(0x7C);
  m.InjectNaks(5);
  m.ClearFaults();
  master.Stop();
  EXPECT_TRUE(master.WriteReg(kChip, 0xFF, 0x02));
  EXPECT_FALSE(master.ReadReg(0x40, 0xFF).has_value());
  EXPECT_EQ(ReadsUntilSclRises(master, 10), 1);
}

// --- Trace -----------------------------------------------------------------

TEST(SimTrace, OffByDefault) {
  Machine m{Config{}};
  TestMaster master(m, 0x378);
  master.WriteReg(kChip, 0xFF, 0x02);
  EXPECT_FALSE(m.TraceEnabled());
  EXPECT_TRUE(m.Trace().empty());
}

TEST(SimTrace, EveryLineChangeWithItsTime) {
  Machine m{Config{}};
  m.EnableTrace(true);
  m.Out(0x378, 0xFE);  // SDA low at 1
  m.In(0x379);
  m.Out(0x378, 0xFF);  // SCL low at 3
  m.Out(0x378, 0xFF);  // no change
  m.Out(0x378, 0xFC);  // both released at 5: SCL first, then SDA (a stop)
  const std::vector<TraceEvent> expected = {
      {1, true, false}, {3, false, false}, {5, true, false}, {5, true, true}};
  EXPECT_EQ(m.Trace(), expected);
}

TEST(SimTrace, SlaveChangesSdaAMicrosecondAfterTheFallingClock) {
  Machine m{Config{}};
  TestMaster master(m, 0x378);
  master.Start();
  const uint8_t read = kChip | 1;  // its last bit leaves SDA high
  for (int i = 7; i >= 0; --i) {
    master.SetSda(((read >> i) & 1) != 0);
    master.SetScl(true);
    if (i == 0) m.EnableTrace(true);
    master.SetScl(false);
  }
  // The eighth falling clock, then the chip's acknowledge one access later.
  master.SetSda(true);
  ASSERT_GE(m.Trace().size(), 2u);
  EXPECT_FALSE(m.Trace()[0].scl);
  EXPECT_FALSE(m.Trace()[1].sda);
  EXPECT_EQ(m.Trace()[1].micros, m.Trace()[0].micros + 1);
}

// Reads a trace as an I2C analyser would: "S" start, "P" stop, bytes in hex
// with "+" when SDA was low at the ninth clock and "-" when it was high.
std::string DecodeTrace(const std::vector<TraceEvent>& trace, TraceEvent level) {
  std::string out;
  int bits = -1;  // -1: no transfer
  unsigned value = 0;
  auto put = [&out](const std::string& s) { out += (out.empty() ? "" : " ") + s; };
  for (const TraceEvent& e : trace) {
    if (e.scl && level.scl && e.sda != level.sda) {
      if (!e.sda) {
        put("S");
        bits = 0;
        value = 0;
      } else {
        put("P");
        bits = -1;
      }
    } else if (e.scl && !level.scl && bits >= 0) {
      if (bits < 8) {
        value = (value << 1) | (e.sda ? 1 : 0);
        ++bits;
      } else {
        char text[8];
        std::snprintf(text, sizeof text, "%02X%c", value, e.sda ? '-' : '+');
        put(text);
        bits = 0;
        value = 0;
      }
    }
    level = e;
  }
  return out;
}

TEST(SimTrace, DecodesAsTheTransactionsOnTheWires) {
  Machine m{Config{}};
  TestMaster master(m, 0x378);
  m.EnableTrace(true);
  const TraceEvent start{m.NowMicros(), m.Scl(), m.Sda()};
  master.WriteReg(kChip, 0xFF, 0x02);
  master.ReadReg(kChip, 0x96);
  master.ReadReg(0x40, 0x00);
  EXPECT_EQ(DecodeTrace(m.Trace(), start), "S 7E+ FF+ 02+ P S 7E+ 96+ S 7F+ 66- P S 40- P");
}

TEST(SimTrace, VcdFile) {
  Machine m{Config{}};
  m.AdvanceMicros(10);
  m.EnableTrace(true);
  m.Out(0x378, 0xFE);  // 11: SDA low
  m.Out(0x378, 0xFF);  // 12: SCL low
  m.Out(0x378, 0xFC);  // 13: both high
  const std::string path = (std::filesystem::temp_directory_path() / "morvane_sim_trace_test.vcd").string();
  m.WriteVcd(path);
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  std::filesystem::remove(path);
  const std::string expected =
      "$version Morvane simulated bus $end\n"
      "$timescale 1 us $end\n"
      "$scope module bus $end\n"
      "$var wire 1 c SCL $end\n"
      "$var wire 1 d SDA $end\n"
      "$upscope $end\n"
      "$enddefinitions $end\n"
      "#10\n$dumpvars\n1c\n1d\n$end\n"
      "#11\n0d\n"
      "#12\n0c\n"
      "#13\n1c\n1d\n";
  EXPECT_EQ(text.str(), expected);
  EXPECT_EQ(m.VcdText(), expected);
  EXPECT_THROW(m.WriteVcd("/nonexistent-folder/x.vcd"), std::runtime_error);
}

TEST(SimTrace, TraceFileIsWrittenAtTheEnd) {
  const std::string path = (std::filesystem::temp_directory_path() / "morvane_sim_tracefile_test.vcd").string();
  std::filesystem::remove(path);
  {
    Config c;
    c.traceFile = path;
    Machine m{c};
    EXPECT_TRUE(m.TraceEnabled());
    TestMaster master(m, 0x378);
    master.WriteReg(kChip, 0xFF, 0x02);
  }
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  std::filesystem::remove(path);
  EXPECT_NE(text.str().find("$timescale 1 us $end"), std::string::npos);
  EXPECT_NE(text.str().find("\n0c\n"), std::string::npos);
}

}  // namespace
}  // namespace morvane::sim
