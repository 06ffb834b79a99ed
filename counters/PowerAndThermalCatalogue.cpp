// The power and temperature step of the catalogue: which sensor counters a
// package gets, by processor class.

#include "counters/AMD_BD_PowerCounter.h"
#include "counters/AMD_BD_TemperatureCounter.h"
#include "counters/AMD_KVG_PowerCounter.h"
#include "counters/AMD_KV_PowerCounter.h"
#include "counters/AMD_TNU_PowerCounter.h"
#include "counters/AMD_TN_PowerCounter.h"
#include "counters/CounterLabel.h"
#include "counters/Intel_SNB_PowerCounter.h"
#include "counters/Intel_SNB_TemperatureCounter.h"
#include "counters/MetricCatalogue.h"
#include "counters/MetricCodes.h"
#include "counters/PmuRegisters.h"
#include "cpu/CProcessor_2.h"
#include "cpu/ModelGroups.h"
#include "cpu/ProcessorPin.h"
#include "hw/CKMDriver.h"
#include "platform/Platform.h"

namespace tv2 {
namespace {

constexpr uint32_t kThermalReadingValid = 1u << 31;
constexpr float kDefaultTjMax = 100.0f;
constexpr int32_t kTemperatureFullScale = 120;
constexpr int32_t kPowerFullScale = 200;
// Shown with one decimal and computed by the derived pass from other rails.
constexpr uint32_t kComputedPower = kShowOneDecimal | kDerivedFromPower;

CounterLabel temperatureLabel(std::string name, uint32_t code) {
  return {std::move(name), "°C", kTemperatureFullScale, 0, code};
}
CounterLabel powerLabel(const char* name, int32_t metric, uint32_t flags = kShowOneDecimal) {
  return {name, "W", kPowerFullScale, flags, packageCode(metric)};
}

// The temperature limit the digital readouts count down from: bits 23:16 of
// MSR_TEMPERATURE_TARGET, or 100 where that register does not exist.
float readTjMax(CKMDriver& driver) {
  uint32_t high = 0;
  uint32_t low = 0;
  if (!driver.ReadMsr(kMsrTemperatureTarget, &high, &low)) return kDefaultTjMax;
  return static_cast<float>((low >> 16) & 0xFF);
}

// A thermal status register that reads and reports a valid reading.
bool hasValidThermalReading(CKMDriver& driver, uint32_t statusRegister) {
  uint32_t high = 0;
  uint32_t low = 0;
  return driver.ReadMsr(statusRegister, &high, &low) && (low & kThermalReadingValid) != 0;
}

bool msrReads(CKMDriver& driver, uint32_t index, uint32_t* high, uint32_t* low) {
  return driver.ReadMsr(index, high, low) != 0;
}

Intel_SNB_PowerCounter* appendEnergyCounter(CProcessor_2& processor, CTList<CCounter>& list, CKMDriver* driver,
                                            uint32_t energyRegister, const CounterLabel& label) {
  auto* counter = appendCounter<Intel_SNB_PowerCounter>(processor, list, label, driver);
  counter->energyRegister = energyRegister;
  counter->energyUnit = -1.0;
  return counter;
}

// One digital-thermal-sensor counter per core, on the core's first logical
// processor, pinned there. Core 0 of the Nehalem and Atom classes also stands
// for the package.
void addCoreTemperatures(CProcessor_2& processor, const CounterBuildContext& context, bool coreZeroIsSummary) {
  ProcessorService& service = context.platform->processors();
  CKMDriver& driver = *context.driver;
  int32_t position = 0;
  for (CoreRecord& core : processor.cores) {
    int32_t number = position++;
    if (core.threads.empty() || core.threads.front() == nullptr) continue;
    LogicalProcessorRecord& first = *core.threads.front();
    ProcessorPin pin(service, context.groupMode, first);
    if (!pin.pinned() || !hasValidThermalReading(driver, kMsrThermStatus)) continue;
    float tjMax = readTjMax(driver);
    core.temperature = appendCounter<Intel_SNB_TemperatureCounter>(
        processor, first.counters, temperatureLabel(numberedName("核心 %d", number), kCodeCoreTemperature),
        kMsrThermStatus, tjMax, context.driver);
    if (coreZeroIsSummary && number == 0) {
      processor.temperatureSummary = appendCounter<Intel_SNB_TemperatureCounter>(
          processor, first.counters, temperatureLabel("温度 (核心 0)", packageCode(kMetricTemperature)),
          kMsrThermStatus, tjMax, context.driver);
    }
  }
}

// Package temperature and the energy rails of the Sandy Bridge class, each
// where its register reads, on core 0's first logical processor.
void addIntelPackageSensors(CProcessor_2& processor, const CounterBuildContext& context) {
  if (processor.cores.empty() || processor.cores.front().threads.empty()) return;
  LogicalProcessorRecord& first = *processor.cores.front().threads.front();
  ProcessorPin pin(context.platform->processors(), context.groupMode, first);
  if (!pin.pinned()) return;
  CKMDriver& driver = *context.driver;
  CTList<CCounter>& list = first.counters;
  uint32_t high = 0;
  uint32_t low = 0;
  if (hasValidThermalReading(driver, kMsrPackageThermStatus)) {
    processor.temperatureSummary = appendCounter<Intel_SNB_TemperatureCounter>(
        processor, list, temperatureLabel("封装温度", packageCode(kMetricTemperature)), kMsrPackageThermStatus,
        readTjMax(driver), context.driver);
  }
  if (msrReads(driver, kMsrPackageEnergyStatus, &high, &low)) {
    processor.packagePower = appendEnergyCounter(processor, list, context.driver, kMsrPackageEnergyStatus,
                                                 powerLabel("封装功率", kMetricPackagePower));
  }
  // A core rail that reads all zero is not implemented by the part.
  if (msrReads(driver, kMsrPp0EnergyStatus, &high, &low) && (high != 0 || low != 0)) {
    processor.corePower = appendEnergyCounter(processor, list, context.driver, kMsrPp0EnergyStatus,
                                              powerLabel("IA 核心功率", kMetricCorePower));
  }
  if (msrReads(driver, kMsrPp1EnergyStatus, &high, &low)) {
    processor.graphicsPower = appendEnergyCounter(processor, list, context.driver, kMsrPp1EnergyStatus,
                                                  powerLabel("GT 功率", kMetricGraphicsPower));
  }
  if (processor.packagePower && processor.corePower) {
    processor.uncorePower =
        appendCounter<CCounter>(processor, list, powerLabel("Uncore 功率", kMetricUncorePower, kComputedPower));
  }
  if (msrReads(driver, kMsrDramEnergyStatus, &high, &low)) {
    processor.dramPower = appendEnergyCounter(processor, list, context.driver, kMsrDramEnergyStatus,
                                              powerLabel("DRAM 功率", kMetricDramPower));
  }
}

// The AMD classes read northbridge and management-unit registers that serve
// the whole node; their counters are created without probing and filed with
// the first logical processor.
void addAmdSensors(CProcessor_2& processor, const CounterBuildContext& context, ModelGroup group) {
  if (processor.threads.empty()) return;
  CTList<CCounter>& list = processor.threads.front().counters;
  CKMDriver* driver = context.driver;
  Platform* platform = context.platform;
  processor.temperatureSummary = appendCounter<AMD_BD_TemperatureCounter>(
      processor, list, temperatureLabel("封装温度", packageCode(kMetricTemperature)), driver, platform);
  switch (group) {
    case ModelGroup::AMD_BD:
      processor.packagePower = appendCounter<AMD_BD_PowerCounter>(
          processor, list, powerLabel("封装功率", kMetricPackagePower), driver, platform);
      break;
    case ModelGroup::AMD_TN:
      processor.packagePower =
          appendCounter<CCounter>(processor, list, powerLabel("封装功率", kMetricPackagePower, kComputedPower));
      processor.corePower = appendCounter<AMD_TN_PowerCounter>(
          processor, list, powerLabel("核心功率", kMetricCorePower), driver, platform);
      processor.uncorePower = appendCounter<AMD_TNU_PowerCounter>(
          processor, list, powerLabel("Uncore 功率", kMetricUncorePower), driver, platform);
      break;
    case ModelGroup::AMD_KV:
      processor.packagePower = appendCounter<AMD_KV_PowerCounter>(
          processor, list, powerLabel("封装功率", kMetricPackagePower), driver, platform);
      processor.graphicsPower = appendCounter<AMD_KVG_PowerCounter>(
          processor, list, powerLabel("GPU 功率", kMetricGraphicsPower), driver, platform);
      break;
    default: break;
  }
}

}  // namespace

bool AddPowerAndThermalCounters(CProcessor_2& processor, const CounterBuildContext& context) {
  ModelGroup group = classifyProcessor(processor.processorCode);
  if (isAmdGroup(group)) {
    addAmdSensors(processor, context, group);
    return true;
  }
  if (!isIntelGroup(group)) return true;
  if (context.driver == nullptr || context.platform == nullptr) return false;
  bool nehalemOrAtom = group == ModelGroup::Intel_B133 || group == ModelGroup::Intel_FSB;
  addCoreTemperatures(processor, context, nehalemOrAtom);
  if (group == ModelGroup::Intel_SNB) addIntelPackageSensors(processor, context);
  return true;
}

}  // namespace tv2
