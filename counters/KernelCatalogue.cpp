#include "counters/KernelCatalogue.h"

#include <memory>
#include <vector>

#include "counters/CounterLabel.h"
#include "counters/KernelEnergyCounter.h"
#include "counters/KernelEventCounter.h"
#include "counters/KernelEventPlan.h"
#include "counters/KernelFrequencyCounter.h"
#include "counters/KernelGroupCounter.h"
#include "counters/KernelPowerCounter.h"
#include "counters/KernelTemperatureCounter.h"
#include "counters/MetricCodes.h"
#include "cpu/CProcessor_2.h"
#include "cpu/VendorCodes.h"
#include "platform/KernelCounterService.h"

namespace tv2 {
namespace {

using E = KernelEvent;

constexpr const char* kCpuFormat = "CPU %d";
constexpr const char* kCoreFormat = "核心 %d";
constexpr int32_t kTemperatureFullScale = 120;
constexpr int32_t kPowerFullScale = 200;

bool usable(const CounterBuildContext& context) {
  return context.kernel != nullptr && context.kernelInventory != nullptr;
}

// Whether the process may open counting groups at all, directly or through
// the system host.
bool mayCount(const KernelCounterInventory& inventory) {
  return !inventory.corePmus.empty() && (inventory.mayOpenDirectly || inventory.hostOpens);
}

// The label and slot of each event's figure on a logical processor.
struct EventFigure {
  E event;
  const char* name;  // null: "CPU n"
  const char* unit;
  int32_t fullScale;
  uint32_t flags;
  uint32_t code;
  CCounter* LogicalProcessorRecord::*slot;
};
constexpr EventFigure kFigures[] = {
    {E::kInstructions, nullptr, "MIPS", 10000, kShowOneDecimal, kCodeThreadInstructions,
     &LogicalProcessorRecord::instructions},
    {E::kCycles, nullptr, "MHz", 7000, 0, kCodeThreadCoreCycles, &LogicalProcessorRecord::coreCycles},
    {E::kRefCycles, nullptr, "MHz", 7000, 0, kCodeThreadReferenceCycles, &LogicalProcessorRecord::referenceCycles},
    {E::kCacheReferences, "L3 Requests", "", 100, 0, 0, &LogicalProcessorRecord::l3Requests},
    {E::kCacheMisses, "L3 Misses", "", 100, 0, 0, &LogicalProcessorRecord::l3Misses},
    {E::kBranchInstructions, "Branches Retired", "", 100, 0, 0, &LogicalProcessorRecord::branchesRetired},
    {E::kBranchMisses, "Branches Missed", "", 100, 0, 0, &LogicalProcessorRecord::branchesMissed},
    {E::kStalledCyclesBackend, "Stalled Cycles", "", 100, 0, kCodeThreadStalledCycles,
     &LogicalProcessorRecord::stalledCycles},
};

// The events of the plan that this processor's own PMU offers, in the plan's
// order.
std::vector<E> eventsFor(const std::vector<E>& planned, const KernelCorePmu& pmu) {
  std::vector<E> events;
  for (E event : planned) {
    if ((pmu.events & kernelEventBit(event)) != 0 && events.size() < KernelGroupReading::kMaxEvents) {
      events.push_back(event);
    }
  }
  return events;
}

int32_t slotOf(const std::vector<E>& events, E event) {
  for (size_t i = 0; i < events.size(); ++i) {
    if (events[i] == event) return static_cast<int32_t>(i);
  }
  return -1;
}

// Opens one processor's group and files its counters; false when the kernel
// refused the group.
bool addProcessorGroup(CProcessor_2& processor, const CounterBuildContext& context, LogicalProcessorRecord& thread,
                       const std::string& name, const std::vector<E>& events, KernelOpenError* error) {
  std::unique_ptr<KernelEventGroup> group =
      context.kernel->openGroup(thread.group, thread.index, std::span<const E>(events), error);
  if (!group) return false;
  auto* reader = appendCounter<KernelGroupCounter>(processor, thread.counters, {name, "%", 100, 0, 0},
                                                   std::move(group), static_cast<int32_t>(events.size()));
  for (const EventFigure& figure : kFigures) {
    int32_t slot = slotOf(events, figure.event);
    if (slot < 0) continue;
    CounterLabel label{figure.name != nullptr ? std::string(figure.name) : name, figure.unit, figure.fullScale,
                       figure.flags, figure.code};
    thread.*figure.slot = appendCounter<KernelEventCounter>(processor, thread.counters, label, reader, slot);
  }
  // The stall ratio divides stalled by all unhalted cycles of the same slice.
  int32_t cycles = slotOf(events, E::kCycles);
  if (thread.stalledCycles != nullptr && cycles >= 0) {
    thread.totalCycles = appendCounter<KernelEventCounter>(
        processor, thread.counters, {"Total Cycles", "", 100, 0, kCodeThreadTotalCycles}, reader, cycles);
  }
  return true;
}

// The package's physical id as the kernel numbers packages.
int32_t kernelPackageOf(const CProcessor_2& processor, const KernelCounterInventory& inventory) {
  for (const LogicalProcessorRecord& thread : processor.threads) {
    const KernelProcessor* entry = findKernelProcessor(inventory, thread.group, thread.index);
    if (entry != nullptr && entry->package >= 0) return entry->package;
  }
  return processor.packageId;
}

struct Rail {
  KernelEnergyKind kind;
  E event;
  int32_t metric;
  CCounter* CProcessor_2::*slot;
};
constexpr Rail kRails[] = {
    {KernelEnergyKind::kPackage, E::kEnergyPackage, kMetricPackagePower, &CProcessor_2::packagePower},
    {KernelEnergyKind::kCores, E::kEnergyCores, kMetricCorePower, &CProcessor_2::corePower},
    {KernelEnergyKind::kGraphics, E::kEnergyGpu, kMetricGraphicsPower, &CProcessor_2::graphicsPower},
    {KernelEnergyKind::kDram, E::kEnergyRam, kMetricDramPower, &CProcessor_2::dramPower},
};

const char* railName(KernelEnergyKind kind, bool amd) {
  switch (kind) {
    case KernelEnergyKind::kPackage: return "封装功率";
    case KernelEnergyKind::kCores: return amd ? "核心功率" : "IA 核心功率";
    case KernelEnergyKind::kGraphics: return amd ? "GPU 功率" : "GT 功率";
    case KernelEnergyKind::kDram: return "DRAM 功率";
  }
  return "";
}

CounterLabel powerLabel(KernelEnergyKind kind, bool amd, int32_t metric) {
  return {railName(kind, amd), "W", kPowerFullScale, kShowOneDecimal, packageCode(metric)};
}

// The power PMU's energy events as one group; false when there are none or
// the kernel refused them.
bool addEnergyGroup(CProcessor_2& processor, const CounterBuildContext& context, LogicalProcessorRecord& first,
                    bool amd) {
  const KernelCounterInventory& inventory = *context.kernelInventory;
  std::vector<E> events;
  std::vector<double> scales;
  for (const KernelPowerEvent& power : inventory.powerEvents) {
    if (events.size() >= KernelGroupReading::kMaxEvents || power.joulesPerCount <= 0) continue;
    events.push_back(power.event);
    scales.push_back(power.joulesPerCount);
  }
  if (events.empty()) return false;
  KernelOpenError error;
  std::unique_ptr<KernelEventGroup> group =
      context.kernel->openGroup(first.group, first.index, std::span<const E>(events), &error);
  if (!group) return false;
  auto* reader = appendCounter<KernelGroupCounter>(processor, first.counters, {"Energy", "%", 100, 0, 0},
                                                   std::move(group), static_cast<int32_t>(events.size()));
  for (const Rail& rail : kRails) {
    int32_t slot = slotOf(events, rail.event);
    if (slot < 0) continue;
    processor.*rail.slot = appendCounter<KernelPowerCounter>(processor, first.counters,
                                                             powerLabel(rail.kind, amd, rail.metric), reader, slot,
                                                             scales[static_cast<size_t>(slot)]);
  }
  return true;
}

// powercap's zones of this package for the rails the power PMU did not give.
void addEnergyZones(CProcessor_2& processor, const CounterBuildContext& context, LogicalProcessorRecord& first,
                    bool amd, int32_t package) {
  const KernelCounterInventory& inventory = *context.kernelInventory;
  for (const Rail& rail : kRails) {
    if (processor.*rail.slot != nullptr) continue;
    for (size_t zone = 0; zone < inventory.energyZones.size(); ++zone) {
      const KernelEnergyZone& entry = inventory.energyZones[zone];
      if (entry.kind != rail.kind || entry.package != package) continue;
      uint64_t microjoules = 0;
      uint64_t time = 0;
      // Unreadable for this user (the kernel keeps energy from others): no rail.
      if (!context.kernel->readEnergy(static_cast<int>(zone), &microjoules, &time)) continue;
      processor.*rail.slot = appendCounter<KernelEnergyCounter>(processor, first.counters,
                                                                powerLabel(rail.kind, amd, rail.metric),
                                                                context.kernel, static_cast<int32_t>(zone),
                                                                entry.maxRangeMicrojoules);
      break;
    }
  }
}

// The package sensor: Tdie where k10temp gives it (Tctl may carry an offset),
// else the first package sensor of the package.
int32_t packageSensor(const KernelCounterInventory& inventory, int32_t package) {
  int32_t found = -1;
  for (size_t i = 0; i < inventory.temperatures.size(); ++i) {
    const KernelTemperatureSensor& sensor = inventory.temperatures[i];
    if (sensor.kind != KernelSensorKind::kPackage || sensor.package != package) continue;
    if (sensor.label == "Tdie") return static_cast<int32_t>(i);
    if (found < 0) found = static_cast<int32_t>(i);
  }
  return found;
}

int32_t coreSensor(const KernelCounterInventory& inventory, int32_t package, int32_t core) {
  for (size_t i = 0; i < inventory.temperatures.size(); ++i) {
    const KernelTemperatureSensor& sensor = inventory.temperatures[i];
    if (sensor.kind == KernelSensorKind::kCore && sensor.package == package && sensor.core == core) {
      return static_cast<int32_t>(i);
    }
  }
  return -1;
}

}  // namespace

bool AddKernelEventCounters(CProcessor_2& processor, const CounterBuildContext& context, int32_t configurationIndex,
                            KernelOpenSummary* summary) {
  if (!usable(context)) return false;
  const KernelCounterInventory& inventory = *context.kernelInventory;
  const bool counting = mayCount(inventory);
  const KernelEventPlan plan = KernelEventPlan::forPackage(processor, inventory);
  int32_t position = 0;
  for (LogicalProcessorRecord& thread : processor.threads) {
    std::string name = numberedName(kCpuFormat, position++);
    const KernelProcessor* entry = findKernelProcessor(inventory, thread.group, thread.index);
    if (counting && entry != nullptr && entry->pmu >= 0 && entry->pmu < static_cast<int>(inventory.corePmus.size())) {
      std::vector<E> events =
          eventsFor(plan.events(configurationIndex), inventory.corePmus[static_cast<size_t>(entry->pmu)]);
      KernelOpenError error;
      if (!events.empty()) {
        if (addProcessorGroup(processor, context, thread, name, events, &error)) {
          if (summary) ++summary->opened;
        } else if (summary) {
          ++summary->failed;
          if (summary->firstReason.empty()) summary->firstReason = error.reason;
        }
      }
    }
    // No cycles to count: the clock cpufreq reports stands in for them.
    if (thread.coreCycles == nullptr) {
      uint32_t kiloHertz = 0;
      if (context.kernel->readFrequency(thread.group, thread.index, &kiloHertz)) {
        thread.coreCycles = appendCounter<KernelFrequencyCounter>(
            processor, thread.counters, {name, "MHz", 7000, 0, kCodeThreadCoreCycles}, context.kernel, thread.group,
            thread.index);
      }
    }
  }
  return true;
}

bool AddKernelPowerAndThermalCounters(CProcessor_2& processor, const CounterBuildContext& context) {
  if (!usable(context)) return false;
  if (processor.threads.empty()) return true;
  const KernelCounterInventory& inventory = *context.kernelInventory;
  const int32_t package = kernelPackageOf(processor, inventory);
  const bool amd = vendorOf(processor.processorCode) == VENDOR_AMD;
  LogicalProcessorRecord& first =
      !processor.cores.empty() && !processor.cores.front().threads.empty() && processor.cores.front().threads.front()
          ? *processor.cores.front().threads.front()
          : processor.threads.front();

  int32_t sensor = packageSensor(inventory, package);
  if (sensor >= 0) {
    processor.temperatureSummary = appendCounter<KernelTemperatureCounter>(
        processor, first.counters, {"封装温度", "°C", kTemperatureFullScale, 0, packageCode(kMetricTemperature)},
        context.kernel, sensor);
  }
  int32_t position = 0;
  for (CoreRecord& core : processor.cores) {
    int32_t number = position++;
    if (core.threads.empty() || core.threads.front() == nullptr) continue;
    int32_t coreSensorIndex = coreSensor(inventory, package, core.coreId);
    if (coreSensorIndex < 0) continue;
    core.temperature = appendCounter<KernelTemperatureCounter>(
        processor, core.threads.front()->counters,
        {numberedName(kCoreFormat, number), "°C", kTemperatureFullScale, 0, kCodeCoreTemperature}, context.kernel,
        coreSensorIndex);
  }

  if (inventory.mayOpenDirectly || inventory.hostOpens) {
    addEnergyGroup(processor, context, first, amd);
  }
  addEnergyZones(processor, context, first, amd, package);
  return true;
}

}  // namespace tv2
