#include "platform/linux/perf/PerfInventoryReader.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include "KernelTrees.h"
#include "SysfsTree.h"
#include "platform/linux/perf/PerfEventTable.h"

namespace tv2 {
namespace {

struct Read {
  PerfEventSources sources;
  KernelCounterInventory inventory;
};

Read readTree(const SysfsTree& tree, std::vector<int> cpus = {}) {
  Read out;
  PerfInventoryReader(tree.root(), tree.path("proc")).read(cpus, &out.sources, &out.inventory);
  return out;
}

const PerfNamedEvent& named(const Read& read, KernelEvent event) {
  return read.sources.named[static_cast<size_t>(event)];
}

TEST(PerfInventoryReader, HybridPartMapsEachCpuToItsCorePmu) {
  SysfsTree tree;
  KernelTrees::alderLake(tree);
  Read read = readTree(tree);
  EXPECT_EQ(read.inventory.paranoid, 2);
  EXPECT_TRUE(read.sources.hybrid);
  ASSERT_EQ(read.inventory.corePmus.size(), 2u);
  EXPECT_EQ(read.inventory.corePmus[0].name, "cpu_core");
  EXPECT_EQ(read.inventory.corePmus[0].type, 8u);
  EXPECT_EQ(read.inventory.corePmus[0].coreType, KernelCoreType::kPerformance);
  EXPECT_EQ(read.inventory.corePmus[1].coreType, KernelCoreType::kEfficiency);
  EXPECT_TRUE(read.inventory.corePmus[1].events & kernelEventBit(KernelEvent::kRefCycles));
  EXPECT_FALSE(read.inventory.corePmus[1].events & kernelEventBit(KernelEvent::kStalledCyclesBackend));

  ASSERT_EQ(read.inventory.processors.size(), 16u);
  const KernelProcessor& thread = read.inventory.processors[3];
  EXPECT_EQ(thread.cpu, 3);
  EXPECT_EQ(thread.core, 1);
  EXPECT_EQ(thread.pmu, 0);
  const KernelProcessor& atom = read.inventory.processors[12];
  EXPECT_EQ(atom.core, 12);
  EXPECT_EQ(atom.pmu, 1);

  // The event on an efficiency core names cpu_atom's type.
  perf_event_attr attr;
  KernelOpenError error;
  ASSERT_TRUE(PerfEventTable::attr(read.sources, 12, KernelEvent::kBranchMisses, true, &attr, &error));
  EXPECT_EQ(attr.config >> 32, 10u);

  EXPECT_EQ(read.inventory.msrEvents, kernelEventBit(KernelEvent::kMsrAperf) | kernelEventBit(KernelEvent::kMsrMperf) |
                                          kernelEventBit(KernelEvent::kMsrTsc));
  EXPECT_EQ(named(read, KernelEvent::kMsrMperf).config, 2u);
  EXPECT_EQ(named(read, KernelEvent::kMsrMperf).type, 9u);
  ASSERT_EQ(read.inventory.powerEvents.size(), 3u);
  EXPECT_EQ(read.inventory.powerEvents[0].event, KernelEvent::kEnergyPackage);
  EXPECT_DOUBLE_EQ(read.inventory.powerEvents[0].joulesPerCount, 2.3283064365386962890625e-10);
  EXPECT_EQ(named(read, KernelEvent::kEnergyGpu).config, 4u);
  EXPECT_EQ(read.sources.powerCpus, std::vector<int>{0});
}

TEST(PerfInventoryReader, AmdPartHasOneCorePmuAndPackageEnergyOnly) {
  SysfsTree tree;
  KernelTrees::zen3(tree);
  Read read = readTree(tree);
  EXPECT_EQ(read.inventory.paranoid, 1);
  EXPECT_FALSE(read.sources.hybrid);
  ASSERT_EQ(read.inventory.corePmus.size(), 1u);
  EXPECT_EQ(read.inventory.corePmus[0].name, "cpu");
  EXPECT_EQ(read.inventory.corePmus[0].coreType, KernelCoreType::kUnknown);
  uint32_t events = read.inventory.corePmus[0].events;
  EXPECT_TRUE(events & kernelEventBit(KernelEvent::kStalledCyclesBackend));
  EXPECT_FALSE(events & kernelEventBit(KernelEvent::kRefCycles));
  // SMT siblings 8 apart share the core id.
  ASSERT_EQ(read.inventory.processors.size(), 16u);
  EXPECT_EQ(read.inventory.processors[9].core, 1);
  EXPECT_EQ(read.inventory.processors[9].pmu, 0);
  ASSERT_EQ(read.inventory.powerEvents.size(), 1u);

  perf_event_attr attr;
  KernelOpenError error;
  ASSERT_TRUE(PerfEventTable::attr(read.sources, 9, KernelEvent::kCycles, true, &attr, &error));
  EXPECT_EQ(attr.config, static_cast<uint64_t>(PERF_COUNT_HW_CPU_CYCLES));
  EXPECT_FALSE(PerfEventTable::attr(read.sources, 9, KernelEvent::kRefCycles, true, &attr, &error));
}

TEST(PerfInventoryReader, VirtualMachineHasNoCorePmuButTheMsrTsc) {
  SysfsTree tree;
  KernelTrees::virtualMachine(tree);
  Read read = readTree(tree);
  EXPECT_TRUE(read.inventory.corePmus.empty());
  EXPECT_EQ(read.inventory.msrEvents, kernelEventBit(KernelEvent::kMsrTsc));
  EXPECT_TRUE(read.inventory.powerEvents.empty());
  ASSERT_EQ(read.inventory.processors.size(), 2u);
  EXPECT_EQ(read.inventory.processors[1].pmu, -1);
  // A list of CPUs given by the caller replaces the online list.
  read = readTree(tree, {1});
  ASSERT_EQ(read.inventory.processors.size(), 1u);
  EXPECT_EQ(read.inventory.processors[0].cpu, 1);
}

TEST(PerfInventoryReader, EventConfigsFollowTheFormatFolder) {
  SysfsTree tree;
  tree.write("pmu/format/event", "config:0-7\n");
  tree.write("pmu/format/umask", "config:8-15\n");
  tree.write("pmu/format/edge", "config:18\n");
  tree.write("pmu/format/ldlat", "config1:0-15\n");
  const std::string pmu = tree.path("pmu");
  uint64_t config = 0;
  ASSERT_TRUE(PerfInventoryReader::parseEventConfig(pmu, "event=0x3c,umask=0x01,edge\n", &config));
  EXPECT_EQ(config, 0x4013cu);
  // A value wider than its field, a field outside config, an unknown term,
  // garbage, a term naming a path.
  EXPECT_FALSE(PerfInventoryReader::parseEventConfig(pmu, "event=0x1ff", &config));
  EXPECT_FALSE(PerfInventoryReader::parseEventConfig(pmu, "ldlat=3", &config));
  EXPECT_FALSE(PerfInventoryReader::parseEventConfig(pmu, "cmask=1", &config));
  EXPECT_FALSE(PerfInventoryReader::parseEventConfig(pmu, "event=zz", &config));
  EXPECT_FALSE(PerfInventoryReader::parseEventConfig(pmu, "../../x=1", &config));
  EXPECT_FALSE(PerfInventoryReader::parseEventConfig(pmu, "", &config));
  // Without a format folder "event" is the whole config.
  ASSERT_TRUE(PerfInventoryReader::parseEventConfig(tree.path("none"), "event=0x123456789", &config));
  EXPECT_EQ(config, 0x123456789u);
}

// Garbage, oversized and special files leave the item out, never the reader
// hanging or crashing.
TEST(PerfInventoryReader, MalformedFilesLeaveTheirItemOut) {
  SysfsTree tree;
  KernelTrees::alderLake(tree);
  tree.write("proc/sys/kernel/perf_event_paranoid", "two\n");
  tree.write("bus/event_source/devices/cpu_atom/type", std::string(20000, '1'));
  tree.write("bus/event_source/devices/cpu_core/cpus", "0-3,\n");
  tree.write("bus/event_source/devices/msr/events/aperf", "event=banana\n");
  tree.write("bus/event_source/devices/power/events/energy-cores.scale", "-1\n");
  tree.write("bus/event_source/devices/power/events/energy-gpu.unit", "Calories\n");
  tree.write("devices/system/cpu/cpu5/topology/core_id", "x\n");
  std::string fifo = tree.path("bus/event_source/devices/power/events/energy-pkg");
  ::unlink(fifo.c_str());
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);

  Read read = readTree(tree);
  EXPECT_EQ(read.inventory.paranoid, KernelCounterInventory::kParanoidUnknown);
  ASSERT_EQ(read.inventory.corePmus.size(), 1u);
  EXPECT_EQ(read.inventory.corePmus[0].name, "cpu_core");
  // cpu_core's list is malformed, so no CPU is known to be on it.
  EXPECT_EQ(read.inventory.processors[0].pmu, -1);
  EXPECT_EQ(read.inventory.msrEvents, kernelEventBit(KernelEvent::kMsrMperf) | kernelEventBit(KernelEvent::kMsrTsc));
  EXPECT_TRUE(read.inventory.powerEvents.empty());
  EXPECT_EQ(read.inventory.processors[5].core, -1);
  EXPECT_EQ(read.inventory.processors[5].package, 0);

  // No tree at all.
  SysfsTree empty;
  read = readTree(empty);
  EXPECT_TRUE(read.inventory.processors.empty());
  EXPECT_TRUE(read.inventory.corePmus.empty());
  EXPECT_EQ(read.inventory.paranoid, KernelCounterInventory::kParanoidUnknown);
}

}  // namespace
}  // namespace tv2
