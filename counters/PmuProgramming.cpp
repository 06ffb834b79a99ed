#include "counters/PmuProgramming.h"

#include "counters/PmuRegisters.h"
#include "hw/CKMDriver.h"

namespace tv2 {
namespace {

constexpr uint32_t kFixedCounterEnableHigh = 0x7;  // bits 32-34
constexpr uint32_t kFixedControlKernelAndUser = 0x333;

}  // namespace

uint32_t generalCounterEnableBits(int32_t generalCounterCount) {
  switch (generalCounterCount) {
    case 2: return 0x3;
    case 4: return 0xF;
    case 6: return 0x3F;
    case 8: return 0xFF;
    default: return 0;
  }
}

void EnableFixedCounters(CKMDriver& driver, int32_t generalCounterCount) {
  uint32_t high = 0;
  uint32_t low = 0;
  uint32_t generalBits = generalCounterEnableBits(generalCounterCount);
  if (generalBits != 0 && driver.ReadMsr(kMsrPerfGlobalControl, &high, &low)) {
    driver.WriteMsr(kMsrPerfGlobalControl, high | kFixedCounterEnableHigh, generalBits);
  }
  if (driver.ReadMsr(kMsrFixedCounterControl, &high, &low)) {
    driver.WriteMsr(kMsrFixedCounterControl, high, kFixedControlKernelAndUser);
  }
}

void ProgramEventSelect(CKMDriver& driver, uint32_t selectRegister, uint32_t lowWord) {
  uint32_t high = 0;
  uint32_t low = 0;
  // A failed read leaves all ones; written back they would set the event's
  // high bits (on AMD 0x076 becomes 0xF76) and the host/guest bits.
  if (!driver.ReadMsr(selectRegister, &high, &low)) return;
  driver.WriteMsr(selectRegister, high, lowWord);
}

}  // namespace tv2
