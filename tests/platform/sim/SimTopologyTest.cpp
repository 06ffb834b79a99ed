// Processor groups and OS order of the simulated machines.
#include <gtest/gtest.h>

#include <set>

#include "platform/sim/SimMachine.h"

namespace tv2::sim {
namespace {

SimMachineConfig handMade(int packages, int cores, int threads) {
  SimMachineConfig config;
  config.model.coresPerPackage = cores;
  config.model.threadsPerCore = threads;
  config.packages = packages;
  return config;
}

// Every processor sits in exactly one group slot, and cpuAt/placeOf agree.
void expectGroupsCoverMachine(const SimMachine& m) {
  std::set<int> seen;
  for (int g = 0; g < m.groupCount(); ++g) {
    EXPECT_LE(m.groupSize(g), 64);
    for (int i = 0; i < m.groupSize(g); ++i) {
      const int cpu = m.cpuAt(g, i);
      ASSERT_GE(cpu, 0);
      EXPECT_TRUE(seen.insert(cpu).second) << cpu;
      int group = -1, index = -1;
      ASSERT_TRUE(m.placeOf(cpu, &group, &index));
      EXPECT_EQ(group, g);
      EXPECT_EQ(index, i);
    }
  }
  EXPECT_EQ(seen.size(), static_cast<size_t>(m.logicalProcessorCount()));
}

TEST(SimTopologyTest, LargeMachineHasOneGroupPerPackage) {
  const SimMachine m(SimMachine::preset("large").value());
  EXPECT_EQ(m.logicalProcessorCount(), 80);
  ASSERT_EQ(m.groupCount(), 2);
  EXPECT_EQ(m.groupSize(0), 40);
  EXPECT_EQ(m.groupSize(1), 40);
  EXPECT_EQ(m.cpuAt(1, 0), 40);
  EXPECT_EQ(m.processor(40)->package, 1);
  EXPECT_EQ(m.processor(79)->apicId, 64u + 39u);
  EXPECT_EQ(m.cpuAt(1, 40), -1);
  EXPECT_EQ(m.cpuAt(2, 0), -1);
  EXPECT_EQ(m.cpuAt(-1, 0), -1);
  EXPECT_EQ(m.groupSize(2), 0);
  expectGroupsCoverMachine(m);
}

TEST(SimTopologyTest, PackagesFillGroupsWholeUnlessTooLarge) {
  // 30 + 30 fit one group; the third package opens the next.
  const SimMachine three(handMade(3, 15, 2));
  ASSERT_EQ(three.groupCount(), 2);
  EXPECT_EQ(three.groupSize(0), 60);
  EXPECT_EQ(three.groupSize(1), 30);
  expectGroupsCoverMachine(three);

  // A package of 100 is split; the next one does not fit the rest and is
  // split on its own.
  const SimMachine big(handMade(2, 50, 2));
  ASSERT_EQ(big.groupCount(), 4);
  EXPECT_EQ(big.groupSize(0), 64);
  EXPECT_EQ(big.groupSize(1), 36);
  EXPECT_EQ(big.groupSize(2), 64);
  EXPECT_EQ(big.groupSize(3), 36);
  EXPECT_EQ(big.processor(big.cpuAt(2, 0))->package, 1);
  expectGroupsCoverMachine(big);
}

TEST(SimTopologyTest, ConfiguredApicIdsDecideThePackages) {
  // Linux style numbering: first threads of both packages, then the siblings.
  SimMachineConfig config = handMade(2, 2, 2);
  config.apicIds = {0, 2, 4, 6, 1, 3, 5, 7};
  EXPECT_EQ(SimMachine::checkConfig(config), "");
  const SimMachine m(config);
  EXPECT_EQ(m.processor(2)->package, 1);
  EXPECT_EQ(m.processor(4)->package, 0);
  EXPECT_EQ(m.processor(4)->thread, 1);
  EXPECT_EQ(m.cpuid(5, 1, 0).ebx >> 24, 3u);
  // One group, package 0's processors first, each package in OS order.
  ASSERT_EQ(m.groupCount(), 1);
  const int expected[] = {0, 1, 4, 5, 2, 3, 6, 7};
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(m.cpuAt(0, i), expected[i]) << i;
  }

  // A list of the wrong length is ignored, and said so.
  config.apicIds = {5, 6};
  EXPECT_NE(SimMachine::checkConfig(config), "");
  EXPECT_EQ(SimMachine(config).processor(1)->apicId, 1u);
}

TEST(SimTopologyTest, NonsenseCountsStillMakeAUsableMachine) {
  SimMachineConfig config = handMade(0, -3, 0);
  EXPECT_NE(SimMachine::checkConfig(config), "");
  SimMachine one(config);
  EXPECT_EQ(one.logicalProcessorCount(), 1);
  EXPECT_EQ(one.groupCount(), 1);

  const SimMachine huge(handMade(1000, 64, 4));
  EXPECT_LE(huge.logicalProcessorCount(), 1024);
  expectGroupsCoverMachine(huge);

  EXPECT_EQ(one.processor(1), nullptr);
  EXPECT_EQ(one.cpuid(7, 0, 0).eax, 0u);
  EXPECT_EQ(one.times(-1).kernel, 0);
}

}  // namespace
}  // namespace tv2::sim
