// The presets of today's processors, as the program's own discovery reads
// their CPUID answers.
#include <gtest/gtest.h>

#include <memory>
#include <set>

#include "cpu/ProcessorDiscovery.h"
#include "platform/sim/SimMachine.h"
#include "platform/sim/SimPlatform.h"

namespace tv2::sim {
namespace {

struct Discovered {
  std::unique_ptr<SimPlatform> platform;
  CTList<CProcessor_2> processors;
  ProcessorGroups groups;
  ~Discovered() { processors.DeleteAll(); }
};

std::unique_ptr<Discovered> discover(const char* preset) {
  auto d = std::make_unique<Discovered>();
  d->platform = std::make_unique<SimPlatform>(std::make_shared<SimMachine>(SimMachine::preset(preset).value()));
  DetectProcessors(d->platform->processors(), d->processors, d->groups);
  return d;
}

TEST(SimModernPresetsTest, HybridPartIsTwelveCoresOfTwoKindsWithSixteenThreads) {
  auto d = discover("modern-intel-hybrid");
  ASSERT_EQ(d->processors.count, 1);
  const CProcessor_2& p = *d->processors.At(0);
  EXPECT_EQ(p.threadCount, 16);
  EXPECT_EQ(p.coreCount, 12);
  ASSERT_EQ(p.cores.size(), 12u);
  SimMachine& m = d->platform->machine();
  int twoThreadCores = 0;
  for (const CoreRecord& core : p.cores) {
    // Every thread of a core is of the core's kind, as leaf 0x1A tells it,
    // and the machine counts it under the same core id.
    std::set<bool> kinds;
    for (const LogicalProcessorRecord* t : core.threads) {
      const int cpu = m.cpuAt(t->group, t->index);
      ASSERT_GE(cpu, 0);
      EXPECT_EQ(m.processor(cpu)->core, core.coreId);
      const uint32_t coreType = m.cpuid(cpu, 0x1A, 0).eax >> 24;
      EXPECT_EQ(coreType, m.processor(cpu)->efficiency ? 0x20u : 0x40u);
      kinds.insert(m.processor(cpu)->efficiency);
      // Leaf 0xB's thread level counts the threads of this core.
      EXPECT_EQ(static_cast<int>(m.cpuid(cpu, 0xB, 0).ebx & 0xFFFF), core.threadCount);
      EXPECT_EQ(m.cpuid(cpu, 0x1F, 0).ebx, m.cpuid(cpu, 0xB, 0).ebx);
      EXPECT_EQ(m.cpuid(cpu, 0xB, 1).ebx & 0xFFFF, 16u);
      // The monitoring leaf describes the core's own counters: 8 or 6 general, 3 fixed.
      EXPECT_EQ((m.cpuid(cpu, 0xA, 0).eax >> 8) & 0xFF, m.processor(cpu)->efficiency ? 6u : 8u);
      EXPECT_EQ(m.cpuid(cpu, 0xA, 0).edx & 0x1F, 3u);
      EXPECT_EQ((m.cpuid(cpu, 7, 0).edx >> 15) & 1, 1u);
    }
    EXPECT_EQ(kinds.size(), 1u);
    const bool efficiency = *kinds.begin();
    EXPECT_EQ(core.threadCount, efficiency ? 1 : 2);
    twoThreadCores += core.threadCount == 2;
  }
  EXPECT_EQ(twoThreadCores, 4);
  EXPECT_EQ(p.name, "12th Gen Intel(R) Core(TM) i7-1260P");
  EXPECT_EQ(p.generalCounterCount, 8);  // read on the first processor, a performance core
  EXPECT_EQ(p.fixedCounterCount, 3);
}

TEST(SimModernPresetsTest, HybridCachesAndApicIdsFollowTheCoreKind) {
  const SimMachine m(SimMachine::preset("modern-intel-hybrid").value());
  ASSERT_EQ(m.logicalProcessorCount(), 16);
  std::set<uint32_t> ids;
  for (int cpu = 0; cpu < 16; ++cpu) {
    const uint32_t apic = m.cpuid(cpu, 1, 0).ebx >> 24;
    EXPECT_EQ(apic, m.cpuid(cpu, 0xB, 0).edx);
    ids.insert(apic);
    // Performance threads 0..7, efficiency cores every second id from 8.
    EXPECT_EQ(apic, cpu < 8 ? static_cast<uint32_t>(cpu) : static_cast<uint32_t>(8 + 2 * (cpu - 8)));
  }
  EXPECT_EQ(ids.size(), 16u);
  // Leaf 4 subleaf 2 is the L2: 1.25 MB per performance core, 2 MB per four
  // efficiency cores.
  auto size = [](const CpuidRegs& r) {
    return (uint64_t{r.ebx >> 22} + 1) * (((r.ebx >> 12) & 0x3FF) + 1) * ((r.ebx & 0xFFF) + 1) * (uint64_t{r.ecx} + 1);
  };
  EXPECT_EQ(size(m.cpuid(0, 4, 2)), 1280u * 1024);
  EXPECT_EQ(size(m.cpuid(8, 4, 2)), 2048u * 1024);
  EXPECT_EQ(size(m.cpuid(0, 4, 3)), size(m.cpuid(15, 4, 3)));
  // A part that is not hybrid says so.
  const SimMachine amd(SimMachine::preset("modern-amd").value());
  EXPECT_EQ(amd.cpuid(0, 7, 0).edx & (1u << 15), 0u);
}

TEST(SimModernPresetsTest, ZenPartIsEightCoresOfTwoThreads) {
  auto d = discover("modern-amd");
  ASSERT_EQ(d->processors.count, 1);
  const CProcessor_2& p = *d->processors.At(0);
  EXPECT_EQ(p.threadCount, 16);
  EXPECT_EQ(p.coreCount, 8);
  for (const CoreRecord& core : p.cores) EXPECT_EQ(core.threadCount, 2);
  // As on real Zen parts, 0x80000008 counts the 16 threads and 0x8000001E
  // gives 2 threads per core: no compute units.
  SimMachine& m = d->platform->machine();
  EXPECT_EQ(m.cpuid(0, 0x80000008, 0).ecx & 0xFF, 15u);
  EXPECT_EQ((m.cpuid(0, 0x8000001E, 0).ebx >> 8) & 0xFF, 1u);
  EXPECT_EQ(m.cpuid(5, 0x8000001E, 0).ebx & 0xFF, 2u);
  EXPECT_EQ(p.computeUnitCount, -1);
  EXPECT_EQ(p.name, "AMD Ryzen 7 5800X 8-Core Processor");
  EXPECT_EQ(p.generalCounterCount, 6);
  const SimMachineConfig config = SimMachine::preset("modern-amd").value();
  EXPECT_EQ((config.model.signature >> 8 & 0xF) + (config.model.signature >> 20 & 0xFF), 0x19u);
}

}  // namespace
}  // namespace tv2::sim
