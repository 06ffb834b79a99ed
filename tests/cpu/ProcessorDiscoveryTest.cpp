#include <gtest/gtest.h>

#include <memory>

#include "cpu/ProcessorDiscovery.h"
#include "cpu/VendorCodes.h"
#include "platform/sim/SimMachine.h"
#include "platform/sim/SimPlatform.h"

namespace tv2 {
namespace {

using sim::SimMachine;
using sim::SimMachineConfig;
using sim::SimPlatform;

struct Discovered {
  std::unique_ptr<SimPlatform> platform;
  CTList<CProcessor_2> processors;
  ProcessorGroups groups;
  ~Discovered() { processors.DeleteAll(); }
};

std::unique_ptr<Discovered> discover(const SimMachineConfig& config,
                                     void (*prepare)(SimPlatform&) = nullptr) {
  auto d = std::make_unique<Discovered>();
  d->platform = std::make_unique<SimPlatform>(std::make_shared<SimMachine>(config));
  if (prepare != nullptr) prepare(*d->platform);
  DetectProcessors(d->platform->processors(), d->processors, d->groups);
  return d;
}

SimMachineConfig presetOrDie(const char* name) {
  auto config = SimMachine::preset(name);
  EXPECT_TRUE(config.has_value()) << name;
  return config.value_or(SimMachineConfig{});
}

TEST(Discovery, FourCoresTwoThreadsSplitTheApicIds) {
  auto d = discover(presetOrDie("nehalem"));
  ASSERT_EQ(d->processors.count, 1);
  CProcessor_2& p = *d->processors.At(0);
  EXPECT_EQ(p.threadCount, 8);
  EXPECT_EQ(p.coreCount, 4);
  EXPECT_EQ(p.computeUnitCount, -1);
  EXPECT_EQ(p.processorCode, 0x10106A0);
  EXPECT_EQ(p.affinityMask, 0xFF);
  ASSERT_EQ(p.cores.size(), 4u);
  for (const LogicalProcessorRecord& t : p.threads) {
    EXPECT_EQ(t.logicalPerPackage, 8);
    EXPECT_EQ(t.coresPerPackage, 4);
    if (t.apicId == 5) {
      EXPECT_EQ(t.packageId, 0);
      EXPECT_EQ(t.coreId, 2);
      EXPECT_EQ(t.threadId, 1);
    }
    EXPECT_EQ(t.coreId, t.apicId >> 1);
    EXPECT_EQ(t.threadId, t.apicId & 1);
  }
  for (const CoreRecord& core : p.cores) {
    EXPECT_EQ(core.threadCount, 2);
    ASSERT_EQ(core.threads.size(), 2u);
    EXPECT_EQ(core.threads[0]->coreId, core.coreId);
    EXPECT_EQ(core.threads[1]->coreId, core.coreId);
  }
  EXPECT_EQ(p.pmuVersion, 3);
  EXPECT_EQ(p.generalCounterCount, 4);
  EXPECT_EQ(p.fixedCounterCount, 3);
  // The group table points at the package's own records.
  EXPECT_EQ(d->groups.groupCount, 1);
  EXPECT_TRUE(d->groups.groupMode);
  ASSERT_EQ(d->groups.groups[0].processors.size(), 8u);
  EXPECT_EQ(d->groups.groups[0].processors[3], &p.threads[3]);
}

TEST(Discovery, WithoutHttEveryProcessorIsAPackage) {
  SimMachineConfig config;
  config.model.signature = 0x206A7;
  config.model.coresPerPackage = 4;
  config.model.threadsPerCore = 1;
  config.model.htt = false;
  config.model.brand = "No HTT";
  auto d = discover(config);
  ASSERT_EQ(d->processors.count, 4);
  for (CProcessor_2* p : d->processors) {
    EXPECT_EQ(p->threadCount, 1);
    EXPECT_EQ(p->coreCount, 1);
    EXPECT_EQ(p->threads[0].logicalPerPackage, 1);
    EXPECT_EQ(p->threads[0].coreId, 0);
    EXPECT_EQ(p->threads[0].threadId, 0);
  }
}

TEST(Discovery, AmdComputeUnitsAndCoreCounterCount) {
  auto d = discover(presetOrDie("bulldozer"));
  ASSERT_EQ(d->processors.count, 1);
  CProcessor_2& p = *d->processors.At(0);
  EXPECT_EQ(vendorOf(p.processorCode), VENDOR_AMD);
  EXPECT_EQ(p.processorCode, 0x2600F10);
  EXPECT_EQ(p.coreCount, 8);
  EXPECT_EQ(p.computeUnitCount, 4);
  EXPECT_EQ(p.generalCounterCount, 6);
  EXPECT_EQ(p.fixedCounterCount, 0);
  EXPECT_EQ(p.pmuVersion, 0);
  EXPECT_GT(p.caches.count, 0);
  EXPECT_EQ(p.threads[0].coresPerComputeUnit, 2);
}

TEST(Discovery, BrandLosesItsLeadingSpacesAndUnknownVendorsGetNothing) {
  SimMachineConfig config = presetOrDie("nehalem");
  config.model.brand = "       Intel(R) Core(TM) i7 CPU         920  @ 2.67GHz";
  config.model.brand.resize(48 < config.model.brand.size() ? 48 : config.model.brand.size());
  auto d = discover(config);
  EXPECT_EQ(d->processors.At(0)->name.rfind("Intel(R) Core(TM) i7 CPU", 0), 0u);

  config.model.vendor = "SomeNewChips";
  auto u = discover(config);
  ASSERT_EQ(u->processors.count, 1);
  CProcessor_2& p = *u->processors.At(0);
  EXPECT_TRUE(p.name.empty());
  EXPECT_EQ(p.caches.count, 0);
  EXPECT_EQ(p.generalCounterCount, 0);
  for (int32_t vendor : {VENDOR_INTEL, VENDOR_AMD, VENDOR_CYRIX, VENDOR_CENTAUR, VENDOR_TRANSMETA}) {
    EXPECT_NE(vendorOf(p.processorCode), vendor);
  }
}

TEST(Discovery, TwoPackagesInOrderOfFirstAppearance) {
  auto d = discover(presetOrDie("two-package"));
  ASSERT_EQ(d->processors.count, 2);
  EXPECT_EQ(d->processors.At(0)->packageId, 0);
  EXPECT_EQ(d->processors.At(1)->packageId, 1);
  for (CProcessor_2* p : d->processors) {
    EXPECT_EQ(p->threadCount, 16);
    EXPECT_EQ(p->coreCount, 8);
    EXPECT_EQ(p->processorCode, 0x10206D0);
    for (const LogicalProcessorRecord& t : p->threads) EXPECT_EQ(t.packageId, p->packageId);
  }
  EXPECT_EQ(d->groups.logicalProcessorCount, 32);
}

TEST(Discovery, MoreThan64ProcessorsFormTwoGroups) {
  auto d = discover(presetOrDie("large"));
  EXPECT_EQ(d->groups.groupCount, 2);
  EXPECT_EQ(d->groups.logicalProcessorCount, 80);
  EXPECT_EQ(d->groups.groups[0].count + d->groups.groups[1].count, 80);
  ASSERT_EQ(d->processors.count, 2);
  int total = 0;
  for (CProcessor_2* p : d->processors) {
    total += p->threadCount;
    // Whole packages fill groups: all of a package's processors share a group.
    for (const LogicalProcessorRecord& t : p->threads) EXPECT_EQ(t.group, p->threads[0].group);
  }
  EXPECT_EQ(total, 80);
  EXPECT_NE(d->processors.At(0)->threads[0].group, d->processors.At(1)->threads[0].group);
}

TEST(Discovery, UnpinnableProcessorIsLeftOutAndAffinityRestored) {
  auto d = discover(presetOrDie("nehalem"), [](SimPlatform& platform) { platform.setUnpinnable(3, true); });
  ASSERT_EQ(d->processors.count, 1);
  EXPECT_EQ(d->processors.At(0)->threadCount, 7);
  EXPECT_EQ(d->groups.groups[0].count, 7);
  EXPECT_EQ(d->groups.groups[0].mask, 0xF7u);
  for (const LogicalProcessorRecord& t : d->processors.At(0)->threads) EXPECT_NE(t.index, 3);
  // The thread runs where it ran before discovery.
  GroupAffinity affinity;
  ASSERT_TRUE(d->platform->processors().getThreadGroupAffinity(&affinity));
  EXPECT_EQ(affinity.group, 0);
  EXPECT_EQ(affinity.mask, 0xFFu);
}

TEST(Discovery, WithoutGroupFunctionsEverythingIsGroupZeroPinnedByProcessMask) {
  auto d = discover(presetOrDie("nehalem"), [](SimPlatform& platform) { platform.setGroupFunctions(false); });
  EXPECT_FALSE(d->groups.groupMode);
  EXPECT_EQ(d->groups.groupCount, 1);
  EXPECT_EQ(d->groups.groups[0].count, 8);
  ASSERT_EQ(d->processors.count, 1);
  EXPECT_EQ(d->processors.At(0)->coreCount, 4);
  uint64_t processMask = 0;
  uint64_t systemMask = 0;
  ASSERT_TRUE(d->platform->processors().getProcessAffinityMask(&processMask, &systemMask));
  EXPECT_EQ(processMask, 0xFFu);
}

TEST(Discovery, EverySupportedPresetGivesAConsistentTopology) {
  for (const std::string& name : SimMachine::presetNames()) {
    auto config = SimMachine::preset(name);
    ASSERT_TRUE(config.has_value());
    auto d = discover(*config);
    ASSERT_GT(d->processors.count, 0) << name;
    int threads = 0;
    for (CProcessor_2* p : d->processors) {
      threads += p->threadCount;
      int coreThreads = 0;
      for (const CoreRecord& core : p->cores) coreThreads += core.threadCount;
      EXPECT_EQ(coreThreads, p->threadCount) << name;
      EXPECT_FALSE(p->name.empty()) << name;
      EXPECT_NE(p->processorCode, -1) << name;
    }
    EXPECT_EQ(threads, d->groups.logicalProcessorCount) << name;
  }
}

TEST(Discovery, BitsFor) {
  EXPECT_EQ(bitsFor(0), 0);
  EXPECT_EQ(bitsFor(1), 0);
  EXPECT_EQ(bitsFor(2), 1);
  EXPECT_EQ(bitsFor(3), 2);
  EXPECT_EQ(bitsFor(8), 3);
  EXPECT_EQ(bitsFor(9), 4);
}

}  // namespace
}  // namespace tv2
