#include "chiplink/discovery.h"

#include <algorithm>

#include "chiplink/i2c.h"
#include "chiplink/lines.h"
#include "chiplink/linkstate.h"
#include "chiplink/ports.h"
#include "chiplink/registers.h"
#include "platform/clock.h"

namespace morvane {

BusMarkerHandle BusMarker;

namespace {

std::string g_markerName(kBusMarkerName);

constexpr uint8_t kProbePage = 0x02;
constexpr uint8_t kQueryCommand = 0x03;
constexpr uint8_t kCommandRegister = 0xE0;
constexpr uint8_t kAnswerRegister = 0xE1;
constexpr int32_t kCalibrationLoops = 10000;

// Selects the probe page and reads it back: a slave that answers gives it back.
bool PageProbeAnswers() {
  RegWrite(kPageRegister, kProbePage);
  return RegRead(kPageRegister) == kProbePage;
}

void AppendFound(uint8_t address, uint8_t kind) {
  if (FoundCount < kMaxFoundSlaves) FoundSlaves[FoundCount++] = {address, kind};
}

const FoundSlave* FindFound(uint8_t address) {
  for (int i = 0; i < FoundCount; ++i)
    if (FoundSlaves[i].address == address) return &FoundSlaves[i];
  return nullptr;
}

void ReleaseLines() {
  SetScl(true);
  SetSda(true);
}

}  // namespace

void SetBusMarkerName(std::string name) { g_markerName = std::move(name); }

void CalibrateDelay() {
  const int64_t before = PerformanceCounter();
  LoopsPerUnit = kCalibrationLoops;
  BusDelay(1);
  int64_t elapsed = PerformanceCounter() - before;
  // A counter that did not advance over the loop (or went back) would divide
  // by zero: count it as one tick, which gives the longest delay unit.
  if (elapsed < 1) elapsed = 1;
  const int64_t frequency = PerformanceFrequency();
  const int64_t loops = ((frequency / 1000000) * kCalibrationLoops) / elapsed;
  LoopsPerUnit = static_cast<int32_t>(static_cast<uint32_t>(loops));
}

bool AdapterAnswers() {
  if (IsVgaPort(BusPort)) return true;
  // SCL pulled low, SDA released: the status port must follow.
  PortOut(BusPort, kDataIdle | kDataSclLow);
  BusDelay(50);
  uint8_t status = PortIn(BusPort + 1);
  if ((status & (kStatusScl | kStatusSda)) != kStatusSda) return false;
  PortOut(BusPort, kDataIdle);
  status = PortIn(BusPort + 1);
  return (status & (kStatusScl | kStatusSda)) == (kStatusScl | kStatusSda);
}

void ScanSlaves() {
  FoundCount = 0;
  SlaveKind = 0;
  const uint8_t configured = SlaveAddress;
  for (const SlaveCandidate& candidate : SlaveCandidates) {
    if (candidate.address == configured) SlaveKind = candidate.kind;
    SlaveAddress = candidate.address;
    const uint8_t old = RegRead(kPageRegister);
    if (PageProbeAnswers()) {
      RegWrite(kPageRegister, old);  // put the chip's page back
      AppendFound(candidate.address, candidate.kind);
    }
    SlaveAddress = configured;
  }
}

uint32_t DiscoverBus() {
  ChipVariant = 0;
  CalibrateDelay();

  BusMarkerResult marker = AcquireBusMarker(g_markerName);
  if (marker.state != BusMarkerState::Acquired) return 0;  // the bus is taken: touch no port
  BusMarker = std::move(marker.handle);

  for (const PortCandidate& candidate : PortCandidates) {
    BusPort = candidate.port;
    if (candidate.vga) {
      PortOut(kVgaSequencerIndex, 0x0B);
      const uint8_t id = PortIn(kVgaSequencerData);
      if (std::find(std::begin(kSupportedVgaIds), std::end(kSupportedVgaIds), id) == std::end(kSupportedVgaIds))
        continue;
      LineShadow = 0x00;
    } else {
      LineShadow = kDataIdle;
    }

    if (!AdapterAnswers()) {
      ReleaseLines();
      continue;
    }
    SetScl(false);
    SetScl(true);
    SetSda(true);
    ScanSlaves();

    uint8_t saved;
    if (const FoundSlave* found = FindFound(SlaveAddress)) {
      SlaveKind = found->kind;
      saved = RegRead(kPageRegister);
    } else {
      saved = RegRead(kPageRegister);
      if (PageProbeAnswers()) {
        // The configured address answers although it is no candidate.
        AppendFound(SlaveAddress, SlaveKind);
      } else if (FoundCount > 0) {
        // Switch to a found address, of the same kind when there is one.
        const FoundSlave* pick = &FoundSlaves[0];
        for (int i = 0; i < FoundCount; ++i) {
          if (FoundSlaves[i].kind == SlaveKind) {
            pick = &FoundSlaves[i];
            break;
          }
        }
        SlaveAddress = pick->address;
        SlaveKind = pick->kind;
        saved = RegRead(kPageRegister);
      }
    }
    if (FoundCount == 0) {
      ReleaseLines();
      continue;
    }

    uint32_t id = kUnidentifiedChipId;
    if (SlaveKind == 0 || SlaveKind == 1) {
      RegWrite(kGuardRegister, 0x00);
      DetectChipVariant();
      id = uint32_t{RegRead(0x96)} * 65536;
      id += uint32_t{RegRead(0x97)} * 256;
      id += RegRead(0x98);
      RegUpdateBits(0x0D, 0x80, true);
    }
    IapAnswer = IapQuery();
    ChipId = id;
    RegWrite(kPageRegister, saved);
    return ChipId;
  }

  BusPort = 0;
  CloseBusMarker();
  ChipId = 0;
  return 0;
}

uint8_t IapQuery() {
  RegWrite(kAnswerRegister, 0x00);
  RegWrite(kCommandRegister, kQueryCommand);
  ChipHandshake(IapAnswer != 0 ? 10000 : 1000, 10000);
  return RegRead(kAnswerRegister);
}

void CloseBusMarker() { BusMarker.Close(); }

}  // namespace morvane
