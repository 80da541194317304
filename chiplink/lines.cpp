#include "chiplink/lines.h"

#include "chiplink/linkstate.h"
#include "chiplink/linkui.h"
#include "chiplink/ports.h"
#include "platform/debugout.h"

namespace morvane {
namespace {

uint8_t VgaIndex() { return BusPort == kVgaCrtcIndex ? 0x37 : 0x3B; }

// Selects the DDC register and writes the line bits to it.
inline void VgaWrite(uint8_t value) {
  PortOut(BusPort, VgaIndex());
  PortOut(BusPort + 1, value);
}

// The same write, then the register read back: the lines as they are.
inline uint8_t VgaWriteRead(uint8_t value) {
  VgaWrite(value);
  return PortIn(BusPort + 1);
}

// SCL did not rise: tell the debugger output, and once a chip has been
// identified ask the user whether to give up. Returns when the caller is to
// go on as if SCL had risen.
void SclStuck() {
  DebugOutput(kSclErrorText);
  if (ChipId == 0) return;
  LinkUi& ui = CurrentLinkUi();
  if (!ui.AskYesNo(kBusErrorQuestion, kBusErrorCaption)) return;
  if (IsVgaPort(BusPort)) {
    PortOut(BusPort + 1, 0x0F);  // the register is still selected
  } else {
    LineShadow &= static_cast<uint8_t>(~(kDataSclLow | kDataSdaLow));
    PortOut(BusPort, LineShadow);
  }
  ui.ExitProcess(1);
}

}  // namespace

void BusDelay(int32_t units) {
  // A real counting loop: the counter is volatile and the bound is fetched
  // at every step, so the compiler can neither drop nor shorten it. The
  // delay calibration times this very loop.
  const volatile int32_t& bound = LoopsPerUnit;
  for (int32_t unit = 0; unit < units; ++unit) {
    volatile int32_t count = 0;
    while (count < bound) {
      int32_t next = count + 1;
      count = next;
    }
  }
}

void UnlockVga() {
  PortOut(kVgaSequencerIndex, 0x11);
  PortOut(kVgaSequencerData, 0x92);
}

void SetSda(bool high) {
  if (IsVgaPort(BusPort)) {
    UnlockVga();
    if (high)
      LineShadow |= kVgaSda;
    else
      LineShadow &= static_cast<uint8_t>(~kVgaSda);
    VgaWrite(LineShadow | kVgaAlways | kVgaDriveSda);
  } else {
    if (high)
      LineShadow &= static_cast<uint8_t>(~kDataSdaLow);
    else
      LineShadow |= kDataSdaLow;
    PortOut(BusPort, LineShadow);
  }
  BusDelay(WaitUnits);
}

void SetScl(bool high) {
  if (IsVgaPort(BusPort)) {
    UnlockVga();
    if (high)
      LineShadow |= kVgaScl;
    else
      LineShadow &= static_cast<uint8_t>(~kVgaScl);
    for (int attempt = 0; attempt < kSclRiseAttempts; ++attempt) {
      uint8_t drive = SdaReleased ? kVgaAlways : kVgaAlways | kVgaDriveSda;
      uint8_t lines = VgaWriteRead(LineShadow | drive);
      // The graphics-controller port gives no usable read-back of SCL.
      if (!high || BusPort == kVgaGraphicsIndex || (lines & kVgaReadScl)) {
        BusDelay(WaitUnits);
        return;
      }
      BusDelay(1);
    }
    SclStuck();
    return;
  }

  if (!high) {
    LineShadow |= kDataSclLow;
    PortOut(BusPort, LineShadow);
    BusDelay(WaitUnits);
    return;
  }
  LineShadow &= static_cast<uint8_t>(~kDataSclLow);
  for (int attempt = 0; attempt < kSclRiseAttempts; ++attempt) {
    PortOut(BusPort, LineShadow);
    if (PortIn(BusPort + 1) & kStatusScl) {
      BusDelay(WaitUnits);
      return;
    }
    BusDelay(1);  // a slave holds the clock low: give it time
  }
  SclStuck();
}

bool GetSda() {
  if (IsVgaPort(BusPort)) {
    UnlockVga();
    SdaReleased = false;
    return VgaWriteRead(LineShadow | kVgaAlways) & kVgaSda;
  }
  return PortIn(BusPort + 1) & kStatusSda;
}

bool GetScl() {
  if (IsVgaPort(BusPort)) {
    UnlockVga();
    return VgaWriteRead(LineShadow | kVgaAlways) & kVgaReadScl;
  }
  return PortIn(BusPort + 1) & kStatusScl;
}

}  // namespace morvane
