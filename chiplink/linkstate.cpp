#include "chiplink/linkstate.h"

#include <algorithm>

namespace morvane {

uint16_t BusPort = 0;
uint8_t LineShadow = 0;
bool SdaReleased = false;
int32_t LoopsPerUnit = 0;
int32_t WaitUnits = 0;
uint8_t SlaveAddress = 0;
uint8_t SlaveKind = 0;
FoundSlave FoundSlaves[kMaxFoundSlaves] = {};
int32_t FoundCount = 0;
uint32_t ChipId = 0;
uint8_t IapAnswer = 0;
std::recursive_mutex BusLock;
uint8_t CurrentPage = 0;
uint8_t ChipVariant = 0;

void ResetLinkState() {
  BusPort = 0;
  LineShadow = 0;
  SdaReleased = false;
  LoopsPerUnit = 0;
  WaitUnits = 0;
  SlaveAddress = 0;
  SlaveKind = 0;
  std::fill(std::begin(FoundSlaves), std::end(FoundSlaves), FoundSlave{});
  FoundCount = 0;
  ChipId = 0;
  IapAnswer = 0;
  CurrentPage = 0;
  ChipVariant = 0;
}

}  // namespace morvane
