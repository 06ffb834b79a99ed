#include "cpu/ProcessorCapabilities.h"

#include "cpu/ModelGroups.h"
#include "cpu/ProcessorPin.h"
#include "hw/CKMDriver.h"
#include "platform/ProcessorService.h"

namespace tv2 {
namespace {

// Bus clocks in MHz, as single-precision constants.
constexpr float kBus133 = 133.3334f;
constexpr float kBus100 = 100.0f;
constexpr float kAmdBdUnit = 200.0f;
constexpr float kTwoToMinus16 = 1.0f / 65536.0f;

constexpr uint32_t kMsrPlatformInfo = 0xCE;
constexpr uint32_t kMsrTurboRatioLimit = 0x1AD;
constexpr uint32_t kMsrPackagePowerInfo = 0x614;
constexpr uint32_t kMsrMiscEnable = 0x1A0;
constexpr uint32_t kCpuidLimitBit = 1u << 22;
constexpr uint32_t kMsrPlatformId = 0x17;
constexpr uint32_t kMsrFsbFrequency = 0xCD;
constexpr uint32_t kMsrPState0 = 0xC0010064;

int32_t truncatedClock(float ratio, float busMhz) { return static_cast<int32_t>(ratio * busMhz); }

// A P-state's multiplier: (fid + 16) / 2 / 2^did.
float pStateRatio(uint32_t low) {
  float divisor = static_cast<float>(1u << ((low >> 6) & 7));
  return static_cast<float>((low & 0x3F) + 16) * 0.5f / divisor;
}

// The monitoring leaf, unhidden for a moment when the BIOS limits the CPUID
// leaves; MSR 0x1A0 is written back exactly as it was found.
void unhideMonitoringLeaf(CKMDriver& driver, ProcessorService& service, CProcessor_2& package) {
  uint32_t high = 0;
  uint32_t low = 0;
  if (!driver.ReadMsr(kMsrMiscEnable, &high, &low) || !(low & kCpuidLimitBit)) return;
  driver.WriteMsr(kMsrMiscEnable, high, low & ~kCpuidLimitBit);
  if (service.cpuid(0, 0).eax >= 10) {
    CpuidRegs pmu = service.cpuid(0xA, 0);
    package.pmuVersion = static_cast<int32_t>(pmu.eax & 0xFF);
    package.generalCounterCount = static_cast<int32_t>((pmu.eax >> 8) & 0xFF);
    package.fixedCounterCount = static_cast<int32_t>(pmu.edx & 0x1F);
  }
  driver.WriteMsr(kMsrMiscEnable, high, low);
}

void readIntelCore(CKMDriver& driver, ProcessorService& service, CProcessor_2& package, float bus) {
  uint32_t high = 0;
  uint32_t low = 0;
  if (driver.ReadMsr(kMsrPlatformInfo, &high, &low)) package.baseRatio = static_cast<float>((low >> 8) & 0xFF);
  if (driver.ReadMsr(kMsrTurboRatioLimit, &high, &low)) package.turboRatio = static_cast<float>(low & 0xFF);
  if (driver.ReadMsr(kMsrPackagePowerInfo, &high, &low)) package.tdp = static_cast<int32_t>((low & 0x7FFF) >> 3);
  if (package.pmuVersion == 0) unhideMonitoringLeaf(driver, service, package);
  if (package.baseRatio > 0) package.baseClock = truncatedClock(package.baseRatio, bus);
  if (package.turboRatio > 0) package.turboClock = truncatedClock(package.turboRatio, bus);
}

void readIntelFsb(CKMDriver& driver, CProcessor_2& package) {
  uint32_t high = 0;
  uint32_t low = 0;
  if (driver.ReadMsr(kMsrPlatformId, &high, &low)) package.baseRatio = static_cast<float>((low >> 8) & 0x1F);
  if (!driver.ReadMsr(kMsrFsbFrequency, &high, &low)) return;
  static constexpr float kBusClocks[] = {266.6667f, 133.3334f, 200.0f, 166.6667f, 333.3334f, 100.0f, 400.0f};
  uint32_t code = low & 7;
  // A ratio that could not be read gives no clock rather than a negative one.
  if (code < 7 && package.baseRatio > 0) package.baseClock = truncatedClock(package.baseRatio, kBusClocks[code]);
}

void readAmd(CKMDriver& driver, ModelGroup group, CProcessor_2& package) {
  uint32_t boostStates = 0;
  uint32_t value = 0;
  if (driver.ReadPciConfig(0, 24, 3, 0x8C, &value)) {
    // Bit 14 lets the configuration address carry register bits 11:8 in
    // address bits 27:24, which the next reads need; it is left set.
    driver.WritePciConfigDword(0, 24, 3, 0x8C, value | (1u << 14));
    uint32_t boost = 0;
    uint32_t tdpField = 0;
    uint32_t conversion = 0;
    if (!driver.ReadPciConfigAddress(0x8100C45C, &boost)) boost = 0;
    if (!driver.ReadPciConfigAddress(0x8100C4B8, &tdpField)) tdpField = 0;
    if (!driver.ReadPciConfigAddress(0x8000C5E8, &conversion)) conversion = 0;
    boostStates = (boost >> 2) & 7;
    uint32_t h = tdpField & 0xFFFF;
    uint32_t w = ((conversion & 0x3FF) << 6) + ((conversion >> 10) & 0x3F);
    if (h > 0 && w > 0) {
      package.tdp = static_cast<int32_t>(static_cast<float>(h) * static_cast<float>(w) * kTwoToMinus16);
    }
  }

  uint32_t high = 0;
  uint32_t low = 0;
  if (driver.ReadMsr(kMsrPState0, &high, &low)) {
    if (boostStates == 0) {
      package.baseRatio = pStateRatio(low);
    } else {
      package.turboRatio = pStateRatio(low);
      if (driver.ReadMsr(kMsrPState0 + boostStates, &high, &low)) package.baseRatio = pStateRatio(low);
    }
  }

  if (group == ModelGroup::AMD_BD) {
    if (package.baseRatio > 0) package.baseClock = truncatedClock(package.baseRatio, kAmdBdUnit);
    if (package.turboRatio > 0) package.turboClock = truncatedClock(package.turboRatio, kAmdBdUnit);
    return;
  }
  // Trinity and Kaveri count the multiplier in 100 MHz steps of half the
  // P-state ratio: the stored ratio is doubled.
  if (package.baseRatio > 0) {
    package.baseRatio *= 2.0f;
    package.baseClock = truncatedClock(package.baseRatio, kBus100);
  }
  if (package.turboRatio > 0) {
    package.turboRatio *= 2.0f;
    package.turboClock = truncatedClock(package.turboRatio, kBus100);
  }
}

}  // namespace

void ReadProcessorCapabilities(CKMDriver& driver, ProcessorService& service, bool groupMode,
                               CTList<CProcessor_2>& packages) {
  for (CProcessor_2* package : packages) {
    if (package->threads.empty()) continue;
    ProcessorPin pin(service, groupMode, package->threads.front());
    if (!pin.pinned()) continue;
    ModelGroup group = classifyProcessor(package->processorCode);
    switch (group) {
      case ModelGroup::Intel_B133: readIntelCore(driver, service, *package, kBus133); break;
      case ModelGroup::Intel_SNB: readIntelCore(driver, service, *package, kBus100); break;
      case ModelGroup::Intel_FSB: readIntelFsb(driver, *package); break;
      case ModelGroup::AMD_BD:
      case ModelGroup::AMD_TN:
      case ModelGroup::AMD_KV: readAmd(driver, group, *package); break;
      case ModelGroup::kUnlisted: break;
    }
  }
}

}  // namespace tv2
