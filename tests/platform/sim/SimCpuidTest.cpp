// CPUID answers of the simulated machines, decoded the way the program's
// discovery reads them and compared with the configured topology.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <tuple>

#include "platform/sim/SimMachine.h"

namespace tv2::sim {
namespace {

constexpr uint32_t kExt = 0x80000000;

SimMachine presetMachine(const std::string& name) {
  const auto config = SimMachine::preset(name);
  EXPECT_TRUE(config.has_value()) << name;
  return SimMachine(config.value_or(SimMachineConfig{}));
}

std::string vendorOf(const SimMachine& m) {
  const CpuidRegs r = m.cpuid(0, 0, 0);
  char text[13] = {};
  std::memcpy(text, &r.ebx, 4);
  std::memcpy(text + 4, &r.edx, 4);
  std::memcpy(text + 8, &r.ecx, 4);
  return text;
}

std::string brandOf(const SimMachine& m, int cpu) {
  char text[49] = {};
  for (uint32_t i = 0; i < 3; ++i) {
    const CpuidRegs r = m.cpuid(cpu, kExt + 2 + i, 0);
    const uint32_t regs[4] = {r.eax, r.ebx, r.ecx, r.edx};
    std::memcpy(text + 16 * i, regs, 16);
  }
  return text;  // stops at the first zero byte, or after all 48
}

int bitsFor(uint32_t n) {
  int bits = 0;
  while ((1u << bits) < n) {
    ++bits;
  }
  return bits;
}

struct Place {
  uint32_t package, core, thread;
  bool operator<(const Place& o) const {
    return std::tie(package, core, thread) < std::tie(o.package, o.core, o.thread);
  }
};

// Splits the initial APIC id with the logical-per-package field of leaf 1 and
// the core count of leaf 4 (Intel) or 0x80000008 (AMD; from family 17h on it
// counts threads, and 0x8000001E EBX[15:8] gives the threads per core).
Place decodePlace(const SimMachine& m, int cpu) {
  const bool amd = vendorOf(m) == "AuthenticAMD";
  const CpuidRegs l1 = m.cpuid(cpu, 1, 0);
  const uint32_t apic = l1.ebx >> 24;
  const uint32_t logical = (l1.ebx >> 16) & 0xFF;
  const uint32_t family = ((l1.eax >> 8) & 0xF) + (((l1.eax >> 8) & 0xF) == 0xF ? (l1.eax >> 20) & 0xFF : 0);
  const uint32_t zenThreads = amd && family >= 0x17 ? ((m.cpuid(cpu, kExt + 0x1E, 0).ebx >> 8) & 0xFF) + 1 : 1;
  const uint32_t cores = amd ? ((m.cpuid(cpu, kExt + 8, 0).ecx & 0xFF) + 1) / zenThreads
                             : (m.cpuid(cpu, 4, 0).eax >> 26) + 1;
  const int p = bitsFor(logical);
  const int t = bitsFor(logical / cores);
  return Place{apic >> p, (apic >> t) & ((1u << (p - t)) - 1), apic & ((1u << t) - 1)};
}

uint64_t cacheSize(const CpuidRegs& r) {
  const uint64_t ways = (r.ebx >> 22) + 1;
  const uint64_t partitions = ((r.ebx >> 12) & 0x3FF) + 1;
  const uint64_t line = (r.ebx & 0xFFF) + 1;
  const uint64_t sets = uint64_t{r.ecx} + 1;
  return ways * partitions * line * sets;
}

TEST(SimCpuidTest, EveryPresetIsSoundAndAnswersItsIdentity) {
  const auto names = SimMachine::presetNames();
  EXPECT_GE(names.size(), 13u);
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    const SimMachineConfig config = SimMachine::preset(name).value();
    EXPECT_EQ(SimMachine::checkConfig(config), "");
    const SimMachine m(config);
    EXPECT_EQ(vendorOf(m), config.model.vendor);
    EXPECT_EQ(m.cpuid(0, 0, 0).eax, config.model.maxStdLeaf);
    EXPECT_EQ(m.cpuid(0, kExt, 0).eax, config.model.maxExtLeaf);
    EXPECT_EQ(m.cpuid(0, 1, 0).eax, config.model.signature);
    EXPECT_EQ(brandOf(m, m.logicalProcessorCount() - 1), config.model.brand);
    EXPECT_EQ((m.cpuid(0, 1, 0).edx >> 28) & 1, config.model.htt ? 1u : 0u);
  }
  EXPECT_FALSE(SimMachine::preset("no-such-machine").has_value());
}

TEST(SimCpuidTest, ApicIdsDecodeBackToTheConfiguredTopology) {
  for (const std::string& name : SimMachine::presetNames()) {
    SCOPED_TRACE(name);
    const SimMachine m = presetMachine(name);
    const SimProcessorModel& model = m.config().model;
    std::set<Place> places;
    std::set<uint32_t> packages, coresOfFirstPackage, threadsOfFirstCore;
    for (int cpu = 0; cpu < m.logicalProcessorCount(); ++cpu) {
      const Place place = decodePlace(m, cpu);
      places.insert(place);
      packages.insert(place.package);
      EXPECT_EQ(static_cast<int>(place.package), m.processor(cpu)->package);
      if (place.package == 0) {
        coresOfFirstPackage.insert(place.core);
        if (place.core == 0) {
          threadsOfFirstCore.insert(place.thread);
        }
      }
    }
    EXPECT_EQ(places.size(), static_cast<size_t>(m.logicalProcessorCount()));
    EXPECT_EQ(packages.size(), static_cast<size_t>(m.config().packages));
    EXPECT_EQ(coresOfFirstPackage.size(), static_cast<size_t>(model.coresPerPackage));
    EXPECT_EQ(threadsOfFirstCore.size(), static_cast<size_t>(model.threadsPerCore));
  }
}

TEST(SimCpuidTest, OsOrderIsPackageThenCoreThenThread) {
  const SimMachine m = presetMachine("two-package");
  // Room for 32 logical per package: the second package starts at APIC id 32.
  EXPECT_EQ(m.cpuid(0, 1, 0).ebx >> 24, 0u);
  EXPECT_EQ(m.cpuid(1, 1, 0).ebx >> 24, 1u);
  EXPECT_EQ(m.cpuid(2, 1, 0).ebx >> 24, 2u);
  EXPECT_EQ(m.cpuid(16, 1, 0).ebx >> 24, 32u);
  EXPECT_EQ(m.cpuid(31, 1, 0).ebx >> 24, 47u);
  // Leaf 0xB gives the same split and the full id.
  EXPECT_EQ(m.cpuid(31, 0xB, 0).eax & 0x1F, 1u);
  EXPECT_EQ(m.cpuid(31, 0xB, 1).eax & 0x1F, 5u);
  EXPECT_EQ(m.cpuid(31, 0xB, 1).ebx & 0xFFFF, 16u);
  EXPECT_EQ(m.cpuid(31, 0xB, 0).edx, 47u);
}

TEST(SimCpuidTest, CacheDescriptorsGiveTheConfiguredSizes) {
  const SimMachine nehalem = presetMachine("nehalem");
  const uint64_t expected[] = {32 << 10, 32 << 10, 256 << 10, 8 << 20};
  const uint32_t sharing[] = {2, 2, 2, 16};
  for (uint32_t i = 0; i < 4; ++i) {
    const CpuidRegs r = nehalem.cpuid(5, 4, i);
    EXPECT_EQ(cacheSize(r), expected[i]) << i;
    EXPECT_EQ(((r.eax >> 14) & 0xFFF) + 1, sharing[i]) << i;
    EXPECT_EQ(r.eax >> 26, 3u) << i;
  }
  EXPECT_EQ((nehalem.cpuid(0, 4, 0).eax & 0x1F), 1u);  // data
  EXPECT_EQ((nehalem.cpuid(0, 4, 1).eax & 0x1F), 2u);  // instruction
  EXPECT_EQ((nehalem.cpuid(0, 4, 3).eax >> 5) & 7, 3u);
  const CpuidRegs end = nehalem.cpuid(0, 4, 4);
  EXPECT_EQ(end.eax | end.ebx | end.ecx | end.edx, 0u);

  const SimMachine atom = presetMachine("atom");
  EXPECT_EQ(cacheSize(atom.cpuid(1, 4, 2)), 512u << 10);
  const SimMachine large = presetMachine("large");
  EXPECT_EQ(cacheSize(large.cpuid(79, 4, 3)), (27u << 20) + (512u << 10));

  // AMD: the same layout in 0x8000001D, without the core field; leaf 4 empty.
  const SimMachine bulldozer = presetMachine("bulldozer");
  const CpuidRegs l3 = bulldozer.cpuid(7, kExt + 0x1D, 3);
  EXPECT_EQ(cacheSize(l3), 8u << 20);
  EXPECT_EQ(((l3.eax >> 14) & 0xFFF) + 1, 8u);
  EXPECT_EQ(l3.eax >> 26, 0u);
  EXPECT_EQ(bulldozer.cpuid(0, 4, 0).eax, 0u);
  EXPECT_EQ(bulldozer.cpuid(0, kExt + 0x1D, 4).eax, 0u);
}

TEST(SimCpuidTest, AmdComputeUnitsAndCounterExtension) {
  const SimMachine bulldozer = presetMachine("bulldozer");
  EXPECT_NE(bulldozer.cpuid(0, kExt + 1, 0).ecx & (1u << 23), 0u);
  EXPECT_NE(bulldozer.cpuid(0, kExt + 1, 0).ecx & (1u << 22), 0u);
  std::set<uint32_t> units;
  for (int cpu = 0; cpu < 8; ++cpu) {
    const CpuidRegs r = bulldozer.cpuid(cpu, kExt + 0x1E, 0);
    EXPECT_EQ(r.eax, bulldozer.cpuid(cpu, 1, 0).ebx >> 24);
    EXPECT_EQ(((r.ebx >> 8) & 3) + 1, 2u);
    EXPECT_EQ(r.ebx & 0xFF, static_cast<uint32_t>(cpu / 2));
    units.insert(r.ebx & 0xFF);
  }
  EXPECT_EQ(units.size(), 4u);
  const SimMachine kabini = presetMachine("kabini");
  EXPECT_EQ(((kabini.cpuid(3, kExt + 0x1E, 0).ebx >> 8) & 3) + 1, 1u);
  EXPECT_EQ(kabini.cpuid(3, kExt + 0x1E, 0).ebx & 0xFF, 3u);

  SimMachineConfig plain = SimMachine::preset("kabini").value();
  plain.model.amdCoreCounterExtension = false;
  EXPECT_EQ(SimMachine(plain).cpuid(0, kExt + 1, 0).ecx & (1u << 23), 0u);
  // The Intel parts have neither the AMD bits nor the AMD leaves.
  const SimMachine intel = presetMachine("haswell");
  EXPECT_EQ(intel.cpuid(0, kExt + 1, 0).ecx & (3u << 22), 0u);
}

TEST(SimCpuidTest, LeavesBeyondTheMaximaFollowTheVendor) {
  const SimMachine intel = presetMachine("nehalem");
  const CpuidRegs highest = intel.cpuid(2, 0xB, 1);
  for (const uint32_t leaf : {0xCu, 0x40000000u, kExt + 9, 0x8000001Eu}) {
    const CpuidRegs r = intel.cpuid(2, leaf, 1);
    EXPECT_EQ(std::tie(r.eax, r.ebx, r.ecx, r.edx),
              std::tie(highest.eax, highest.ebx, highest.ecx, highest.edx))
        << std::hex << leaf;
  }
  const SimMachine amd = presetMachine("kaveri");
  for (const uint32_t leaf : {0xEu, 0x40000000u, 0x8000001Fu}) {
    const CpuidRegs r = amd.cpuid(0, leaf, 0);
    EXPECT_EQ(r.eax | r.ebx | r.ecx | r.edx, 0u) << std::hex << leaf;
  }
  // Unmodelled leaves within the range are empty.
  EXPECT_EQ(intel.cpuid(0, 3, 0).eax, 0u);
}

TEST(SimCpuidTest, MonitoringLeafAndExtraLeaves) {
  const SimMachine nehalem = presetMachine("nehalem");
  EXPECT_EQ(nehalem.cpuid(0, 0xA, 0).eax, 0x07300403u);
  EXPECT_EQ(nehalem.cpuid(0, 0xA, 0).edx, 0x603u);

  SimMachineConfig config = SimMachine::preset("sandybridge").value();
  config.model.extraLeaves.push_back({6, 0, CpuidRegs{0x77, 0, 1, 0}});
  config.model.extraLeaves.push_back({1, 0, CpuidRegs{0x12345, 0, 0, 0}});
  const SimMachine m(config);
  EXPECT_EQ(m.cpuid(0, 6, 0).eax, 0x77u);
  EXPECT_EQ(m.cpuid(0, 6, 0).ecx, 1u);
  EXPECT_EQ(m.cpuid(0, 1, 0).eax, 0x12345u);
  EXPECT_EQ(m.cpuid(0, 6, 1).eax, 0u);
}

TEST(SimCpuidTest, UnusualModelsStillGiveUniqueIds) {
  // A logical-per-package field too small for the cores: reported as set, the
  // ids stay unique, and the check names the inconsistency.
  SimMachineConfig config;
  config.model.vendor = "CentaurHauls";
  config.model.coresPerPackage = 4;
  config.model.threadsPerCore = 2;
  config.model.logicalPerPackageField = 2;
  config.model.brand = "x";
  config.packages = 2;
  EXPECT_NE(SimMachine::checkConfig(config), "");
  const SimMachine m(config);
  EXPECT_EQ(vendorOf(m), "CentaurHauls");
  EXPECT_EQ((m.cpuid(0, 1, 0).ebx >> 16) & 0xFF, 2u);
  std::set<uint32_t> ids;
  for (int cpu = 0; cpu < m.logicalProcessorCount(); ++cpu) {
    ids.insert(m.processor(cpu)->apicId);
  }
  EXPECT_EQ(ids.size(), 16u);

  // Ids beyond 8 bits are reported, not silently accepted.
  SimMachineConfig wide = SimMachine::preset("large").value();
  wide.packages = 5;
  EXPECT_NE(SimMachine::checkConfig(wide).find("does not fit"), std::string::npos);

  // A brand of exactly 48 characters has no terminating zero.
  const SimMachine kaveri = presetMachine("kaveri");
  EXPECT_EQ(brandOf(kaveri, 0).size(), 48u);
  EXPECT_EQ(brandOf(presetMachine("atom"), 0).rfind("         Intel(R) Atom", 0), 0u);
}

}  // namespace
}  // namespace tv2::sim
