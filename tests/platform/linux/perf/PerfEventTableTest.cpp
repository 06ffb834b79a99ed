#include "platform/linux/perf/PerfEventTable.h"

#include <gtest/gtest.h>

#include "platform/ErrorCodes.h"

namespace tv2 {
namespace {

// A hybrid part: CPUs 0-1 on cpu_core (type 8), CPU 2 on cpu_atom (type 10),
// which does not list ref-cycles; one package whose energy CPU 0 counts.
PerfEventSources hybridSources() {
  PerfEventSources sources;
  sources.hybrid = true;
  uint32_t all = 0;
  for (int e = 0; e <= static_cast<int>(KernelEvent::kStalledCyclesBackend); ++e)
    all |= kernelEventBit(static_cast<KernelEvent>(e));
  sources.corePmus.push_back({"cpu_core", 8, KernelCoreType::kPerformance, all});
  sources.corePmus.push_back(
      {"cpu_atom", 10, KernelCoreType::kEfficiency, all & ~kernelEventBit(KernelEvent::kRefCycles)});
  sources.corePmuOfCpu = {0, 0, 1};
  sources.packageOfCpu = {0, 0, 0};
  sources.powerCpus = {0};
  PerfNamedEvent& tsc = sources.named[static_cast<size_t>(KernelEvent::kMsrTsc)];
  tsc = {true, 9, 0, 1.0, ""};
  PerfNamedEvent& pkg = sources.named[static_cast<size_t>(KernelEvent::kEnergyPackage)];
  pkg = {true, 11, 2, 2.3283064365386962890625e-10, "Joules"};
  return sources;
}

TEST(PerfEventTable, HybridGenericEventsCarryTheirPmuType) {
  PerfEventSources sources = hybridSources();
  perf_event_attr attr;
  KernelOpenError error;
  ASSERT_TRUE(PerfEventTable::attr(sources, 2, KernelEvent::kInstructions, true, &attr, &error));
  EXPECT_EQ(attr.type, static_cast<uint32_t>(PERF_TYPE_HARDWARE));
  EXPECT_EQ(attr.config, (uint64_t{10} << 32) | PERF_COUNT_HW_INSTRUCTIONS);
  EXPECT_EQ(attr.read_format, PerfEventTable::kReadFormat);
  EXPECT_EQ(attr.size, sizeof attr);
  EXPECT_EQ(attr.disabled, 1u);
  EXPECT_EQ(attr.sample_period, 0u);
  ASSERT_TRUE(PerfEventTable::attr(sources, 1, KernelEvent::kCycles, false, &attr, &error));
  EXPECT_EQ(attr.config, (uint64_t{8} << 32) | PERF_COUNT_HW_CPU_CYCLES);
  EXPECT_EQ(attr.disabled, 0u);

  // The same sources without hybrid PMUs: the plain generic id.
  sources.hybrid = false;
  ASSERT_TRUE(PerfEventTable::attr(sources, 1, KernelEvent::kCycles, false, &attr, &error));
  EXPECT_EQ(attr.config, static_cast<uint64_t>(PERF_COUNT_HW_CPU_CYCLES));
}

TEST(PerfEventTable, EventsTheKernelDoesNotOfferAreRefusedWithTheReason) {
  PerfEventSources sources = hybridSources();
  perf_event_attr attr;
  KernelOpenError error;
  EXPECT_FALSE(PerfEventTable::attr(sources, 2, KernelEvent::kRefCycles, true, &attr, &error));
  EXPECT_EQ(error.code, kErrorNotSupported);
  EXPECT_NE(error.reason.find("cpu_atom"), std::string::npos) << error.reason;
  EXPECT_NE(error.reason.find("ref-cycles"), std::string::npos) << error.reason;
  // A CPU no core PMU covers.
  EXPECT_FALSE(PerfEventTable::attr(sources, 7, KernelEvent::kCycles, true, &attr, &error));
  EXPECT_EQ(error.code, kErrorNotSupported);
  EXPECT_FALSE(PerfEventTable::attr(sources, 0, KernelEvent::kMsrAperf, true, &attr, &error));
  EXPECT_NE(error.reason.find("msr PMU does not offer aperf"), std::string::npos) << error.reason;
  EXPECT_FALSE(PerfEventTable::attr(sources, 0, KernelEvent::kCount, true, &attr, &error));
  EXPECT_EQ(error.code, kErrorInvalidParameter);

  PerfEventSources none;
  EXPECT_FALSE(PerfEventTable::attr(none, 0, KernelEvent::kInstructions, true, &attr, &error));
  EXPECT_EQ(error.reason, "the kernel offers no hardware performance counters (virtual machine?)");
  // Software events need nothing from sysfs.
  ASSERT_TRUE(PerfEventTable::attr(none, 0, KernelEvent::kCpuClock, true, &attr, &error));
  EXPECT_EQ(attr.type, static_cast<uint32_t>(PERF_TYPE_SOFTWARE));
  EXPECT_EQ(attr.config, static_cast<uint64_t>(PERF_COUNT_SW_CPU_CLOCK));
}

TEST(PerfEventTable, NamedEventsUseTheirPmuAndPowerCountsOnThePackageCpu) {
  PerfEventSources sources = hybridSources();
  perf_event_attr attr;
  KernelOpenError error;
  ASSERT_TRUE(PerfEventTable::attr(sources, 1, KernelEvent::kEnergyPackage, true, &attr, &error));
  EXPECT_EQ(attr.type, 11u);
  EXPECT_EQ(attr.config, 2u);
  EXPECT_EQ(PerfEventTable::countingCpu(sources, 2, KernelEvent::kEnergyPackage), 0);
  EXPECT_EQ(PerfEventTable::countingCpu(sources, 2, KernelEvent::kMsrTsc), 2);

  EXPECT_EQ(PerfEventTable::byName(PerfEventTable::Kind::kPower, "energy-ram"), KernelEvent::kEnergyRam);
  EXPECT_EQ(PerfEventTable::byName(PerfEventTable::Kind::kCore, "cpu-cycles"), KernelEvent::kCycles);
  // A name of another kind is not taken.
  EXPECT_FALSE(PerfEventTable::byName(PerfEventTable::Kind::kMsr, "cpu-cycles").has_value());
}

}  // namespace
}  // namespace tv2
