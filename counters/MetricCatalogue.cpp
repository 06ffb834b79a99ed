#include "counters/MetricCatalogue.h"

#include "counters/CPerfCounter.h"
#include "counters/CounterLabel.h"
#include "counters/EventTables.h"
#include "counters/MetricCodes.h"
#include "counters/PmuProgramming.h"
#include "counters/PmuRegisters.h"
#include "cpu/CProcessor_2.h"
#include "cpu/ModelGroups.h"
#include "cpu/ProcessorPin.h"
#include "hw/CKMDriver.h"
#include "platform/Platform.h"

namespace tv2 {
namespace {

constexpr const char* kCpuFormat = "CPU %d";
constexpr const char* kCoreFormat = "核心 %d";
constexpr uint32_t kNbHighHalf = 4;  // event bits 11:8 of events 0x4E0 and 0x4E1
constexpr uint32_t kNbL3RequestsWord = 0x40F7E0;
constexpr uint32_t kNbL3MissesWord = 0x40F7E1;

bool canPin(const CounterBuildContext& context) { return context.driver != nullptr && context.platform != nullptr; }

// The conditions under which the cache and branch figures exist, tested on
// one logical processor's slots; the derived pass sums under the same ones.
bool hasL2Inputs(const LogicalProcessorRecord& t) {
  return (t.l2HitsModified && t.l3UnsharedHits && t.l3Misses && t.l2Hits) || (t.l2Misses && t.l2Requests) ||
         (t.l2Hits && t.l2Requests);
}
bool hasL3Inputs(const LogicalProcessorRecord& t) {
  return (t.l2HitsModified && t.l3UnsharedHits && t.l3Misses && t.l2Hits) || (t.l3Misses && t.l3Requests);
}
bool hasBranchInputs(const LogicalProcessorRecord& t) { return t.branchesRetired && t.branchesMissed; }

}  // namespace

bool AddFixedCounters(CProcessor_2& processor, const CounterBuildContext& context) {
  if (!isIntelGroup(classifyProcessor(processor.processorCode))) return true;
  if (!canPin(context)) return false;
  ProcessorService& service = context.platform->processors();
  int32_t position = 0;
  for (LogicalProcessorRecord& thread : processor.threads) {
    std::string name = numberedName(kCpuFormat, position++);
    ProcessorPin pin(service, context.groupMode, thread);
    if (!pin.pinned()) continue;
    EnableFixedCounters(*context.driver, processor.generalCounterCount);
    thread.instructions =
        appendCounter<CPerfCounter>(processor, thread.counters,
                                    {name, "MIPS", 10000, kShowOneDecimal, kCodeThreadInstructions},
                                    kMsrFixedInstructions, context.driver);
    thread.coreCycles = appendCounter<CPerfCounter>(processor, thread.counters,
                                                    {name, "MHz", 7000, 0, kCodeThreadCoreCycles},
                                                    kMsrFixedCoreCycles, context.driver);
    thread.referenceCycles = appendCounter<CPerfCounter>(processor, thread.counters,
                                                         {name, "MHz", 7000, 0, kCodeThreadReferenceCycles},
                                                         kMsrFixedReferenceCycles, context.driver);
  }
  return true;
}

bool AddEventCounters(CProcessor_2& processor, const CounterBuildContext& context, int32_t configurationIndex) {
  std::span<const EventRow> rows = eventRowsFor(processor.processorCode);
  if (rows.empty()) return true;
  if (!canPin(context)) return false;
  ProcessorService& service = context.platform->processors();
  int32_t position = 0;
  for (LogicalProcessorRecord& thread : processor.threads) {
    int32_t number = position++;
    ProcessorPin pin(service, context.groupMode, thread);
    if (!pin.pinned()) continue;
    for (const EventRow& row : rows) {
      if (row.configuration != EventRow::kAnyConfiguration && row.configuration != configurationIndex) continue;
      if (row.needsMoreThanFourCounters && processor.generalCounterCount <= 4) continue;
      ProgramEventSelect(*context.driver, row.selectRegister, row.eventWord);
      thread.*row.slot = appendCounter<CPerfCounter>(
          processor, thread.counters,
          {numberedName(row.name, number), row.unit, row.fullScale, row.displayFlags, row.typeCode},
          row.counterRegister, context.driver);
    }
  }
  return true;
}

bool AddNorthbridgeCounters(CProcessor_2& processor, const CounterBuildContext& context) {
  if (classifyProcessor(processor.processorCode) != ModelGroup::AMD_BD || processor.threads.empty()) return true;
  if (context.driver == nullptr) return false;
  // One set of northbridge counters serves the whole node, so the thread runs
  // wherever it is; the first logical processor's sampler reads them.
  LogicalProcessorRecord& first = processor.threads.front();
  context.driver->WriteMsr(kMsrAmdNbPerfCtl0, kNbHighHalf, kNbL3RequestsWord);
  first.l3Requests =
      appendCounter<CPerfCounter>(processor, first.counters, {"L3 Requests"}, kMsrAmdNbPerfCtr0, context.driver);
  context.driver->WriteMsr(kMsrAmdNbPerfCtl1, kNbHighHalf, kNbL3MissesWord);
  first.l3Misses =
      appendCounter<CPerfCounter>(processor, first.counters, {"L3 Miss"}, kMsrAmdNbPerfCtr1, context.driver);
  return true;
}

bool AddDerivedMetrics(CProcessor_2& processor, const CounterBuildContext& context) {
  int32_t position = 0;
  for (LogicalProcessorRecord& thread : processor.threads) {
    std::string name = numberedName(kCpuFormat, position++);
    CTList<CCounter>& list = thread.counters;
    thread.idleTime = appendCounter<CTimeCounter>(processor, list, {name, "s"});
    thread.kernelTime = appendCounter<CTimeCounter>(processor, list, {name, "s"});
    thread.userTime = appendCounter<CTimeCounter>(processor, list, {name, "s"});
    thread.usage = appendCounter<CCounter>(processor, list, {name, "%", 100, 0, kCodeThreadUsage});
    thread.timeStamp = appendCounter<CPerfCounter>(processor, list, {"TSC"}, kMsrTimeStampCounter, context.driver);
    if (thread.instructions && thread.coreCycles) {
      thread.ipc = appendCounter<CCounter>(processor, list, {name, "i/c", 4, kShowOneDecimal, kCodeThreadIpc});
      thread.cpi = appendCounter<CCounter>(processor, list, {name, "c/i", 50, kShowOneDecimal, kCodeThreadCpi});
    }
    if (thread.stalledCycles && thread.coreCycles) {
      thread.stallRatio = appendCounter<CCounter>(processor, list, {name, "%", 100, 0, kCodeThreadStallRatio});
    }
  }

  int32_t corePosition = 0;
  for (CoreRecord& core : processor.cores) {
    std::string name = numberedName(kCoreFormat, corePosition++);
    if (core.threads.empty() || core.threads.front() == nullptr) continue;
    const LogicalProcessorRecord& first = *core.threads.front();
    CTList<CCounter>& list = core.counters;
    if (hasL2Inputs(first)) {
      core.l2HitRate = appendCounter<CCounter>(processor, list, {name, "%", 100, 0, kCodeCoreL2HitRate});
      core.l2RequestRate =
          appendCounter<CCounter>(processor, list, {name, "%", 100, kShowOneDecimal, kCodeCoreL2RequestRate});
    }
    if (hasL3Inputs(first)) {
      core.l3HitRate = appendCounter<CCounter>(processor, list, {name, "%", 100, 0, kCodeCoreL3HitRate});
    }
    if (hasBranchInputs(first)) {
      core.branchHitRate = appendCounter<CCounter>(processor, list, {name, "%", 100, 0, kCodeCoreBranchHitRate});
      core.branchInstructionRate =
          appendCounter<CCounter>(processor, list, {name, "%", 100, 0, kCodeCoreBranchInstructionRate});
    }
  }

  if (processor.threads.empty()) return true;
  const LogicalProcessorRecord& first = processor.threads.front();
  CTList<CCounter>& list = processor.counters;
  auto add = [&](const char* label, const char* unit, int32_t fullScale, uint32_t flags, int32_t metric) {
    return appendCounter<CCounter>(processor, list, {label, unit, fullScale, flags, packageCode(metric)});
  };
  if (first.usage) processor.usageSummary = add("使用率", "%", 100, 0, kMetricUsage);
  if (first.coreCycles) {
    processor.coreCyclesSummary = add("Unhalted 核心周期 (CPU 0)", "MHz", 7000, 0, kMetricUnhaltedCycles);
  }
  if (first.instructions) {
    auto fullScale = static_cast<int32_t>(6 * processor.threads.size());
    processor.mipsSummary = add("消耗指令数 (MIPS)", "GIPS", fullScale, kShowOneDecimal, kMetricInstructions);
  }
  if (first.ipc) processor.ipcSummary = add("每周期指令 (IPC)", "i/c", 4, kShowOneDecimal, kMetricIpc);
  if (first.cpi) processor.cpiSummary = add("每指令周期 (CPI)", "c/i", 50, kShowOneDecimal, kMetricCpi);
  if (first.instructions && (processor.packagePower || processor.corePower)) {
    processor.ipwSummary = add("每瓦指令 (IPW)", "Mi/J", 1000, kShowOneDecimal, kMetricIpw);
  }
  if (first.stalledCycles && first.totalCycles) {
    processor.stallRatioSummary = add("停滞周期比", "%", 100, 0, kMetricStallRatio);
  }
  if (hasL2Inputs(first)) {
    processor.l2HitRateSummary = add("L2 命中率", "%", 100, 0, kMetricL2HitRate);
    processor.l2RequestRateSummary = add("L2 请求率", "%", 100, kShowOneDecimal, kMetricL2RequestRate);
  }
  if (hasL3Inputs(first)) {
    processor.l3HitRateSummary = add("L3 命中率", "%", 100, 0, kMetricL3HitRate);
    processor.l3RequestRateSummary = add("L3 请求率", "%", 100, kShowOneDecimal, kMetricL3RequestRate);
  }
  if (hasBranchInputs(first)) {
    processor.branchHitRateSummary = add("分支命中率", "%", 100, 0, kMetricBranchHitRate);
    processor.branchInstructionRateSummary = add("Branch Inst. Rate", "%", 100, 0, kMetricBranchInstructionRate);
  }
  return true;
}

}  // namespace tv2
