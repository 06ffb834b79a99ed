// Affinity, current processor and CPUID as one simulated process sees them.
#include <gtest/gtest.h>

#include <memory>
#include <thread>

#include "platform/sim/SimPlatform.h"

namespace tv2::sim {
namespace {

std::shared_ptr<SimMachine> machineOf(const char* preset) {
  return std::make_shared<SimMachine>(SimMachine::preset(preset).value());
}

uint32_t apicOfCaller(ProcessorService& p) { return p.cpuid(1, 0).ebx >> 24; }

GroupAffinity affinity(uint16_t group, uint64_t mask) {
  GroupAffinity a;
  a.group = group;
  a.mask = mask;
  return a;
}

TEST(SimProcessorServiceTest, PinningMovesCpuidAndCurrentProcessor) {
  SimPlatform platform(machineOf("nehalem"));
  ProcessorService& p = platform.processors();
  EXPECT_EQ(p.systemProcessorCount(), 8);
  EXPECT_TRUE(p.hasGroupFunctions());
  EXPECT_EQ(p.activeGroupCount(), 1);
  EXPECT_EQ(p.activeProcessorCount(0), 8);

  GroupAffinity start;
  ASSERT_TRUE(p.getThreadGroupAffinity(&start));
  EXPECT_EQ(start.group, 0);
  EXPECT_EQ(start.mask, 0xFFu);

  for (int cpu = 0; cpu < 8; ++cpu) {
    ASSERT_TRUE(p.setThreadGroupAffinity(affinity(0, uint64_t{1} << cpu)));
    int group = -1, index = -1;
    ASSERT_TRUE(p.currentProcessor(&group, &index));
    EXPECT_EQ(index, cpu);
    EXPECT_EQ(apicOfCaller(p), platform.machine().processor(cpu)->apicId);
  }
  // A wider mask runs on its lowest processor.
  ASSERT_TRUE(p.setThreadGroupAffinity(affinity(0, 0b1100)));
  EXPECT_EQ(apicOfCaller(p), 2u);
  ASSERT_TRUE(p.setThreadGroupAffinity(start));
  EXPECT_EQ(apicOfCaller(p), 0u);
}

TEST(SimProcessorServiceTest, BadMasksAndUnpinnableProcessorsAreRefused) {
  SimPlatform platform(machineOf("nehalem"));
  ProcessorService& p = platform.processors();
  platform.setUnpinnable(5, true);
  ASSERT_TRUE(p.setThreadGroupAffinity(affinity(0, 1u << 3)));

  EXPECT_FALSE(p.setThreadGroupAffinity(affinity(0, 1u << 5)));
  platform.setUnpinnable(6, true);
  EXPECT_FALSE(p.setThreadGroupAffinity(affinity(0, 0x60)));  // only unpinnable ones
  EXPECT_FALSE(p.setThreadGroupAffinity(affinity(0, 0)));
  EXPECT_FALSE(p.setThreadGroupAffinity(affinity(0, 1u << 8)));
  EXPECT_FALSE(p.setThreadGroupAffinity(affinity(1, 1)));
  EXPECT_FALSE(p.setProcessAffinityMask(1u << 5));
  // A refused pin leaves the thread where it was.
  GroupAffinity now;
  ASSERT_TRUE(p.getThreadGroupAffinity(&now));
  EXPECT_EQ(now.mask, 1u << 3);

  // A wider mask is fine: the thread runs on its lowest pinnable processor.
  ASSERT_TRUE(p.setThreadGroupAffinity(affinity(0, 0x70)));
  int group = -1;
  int index = -1;
  ASSERT_TRUE(p.currentProcessor(&group, &index));
  EXPECT_EQ(index, 4);
  ASSERT_TRUE(p.setThreadGroupAffinity(affinity(0, 0x60 | 1u << 7)));
  ASSERT_TRUE(p.currentProcessor(&group, &index));
  EXPECT_EQ(index, 7);

  platform.setUnpinnable(5, false);
  EXPECT_TRUE(p.setThreadGroupAffinity(affinity(0, 1u << 5)));
  EXPECT_FALSE(p.getThreadGroupAffinity(nullptr));
}

TEST(SimProcessorServiceTest, AffinityBelongsToEachThread) {
  SimPlatform platform(machineOf("sandybridge"));
  ProcessorService& p = platform.processors();
  ASSERT_TRUE(p.setThreadGroupAffinity(affinity(0, 1u << 6)));

  GroupAffinity other;
  uint32_t otherApic = 99;
  std::thread([&] {
    p.getThreadGroupAffinity(&other);
    otherApic = apicOfCaller(p);
    p.setThreadGroupAffinity(affinity(0, 1u << 1));
  }).join();
  EXPECT_EQ(other.mask, 0xFFu);
  EXPECT_EQ(otherApic, 0u);
  EXPECT_EQ(apicOfCaller(p), 6u);

  // Another process on the same machine has its own threads' state.
  SimPlatform second(platform.sharedMachine());
  EXPECT_EQ(apicOfCaller(second.processors()), 0u);
}

TEST(SimProcessorServiceTest, ProcessMaskMovesThreadsWithoutGroups) {
  SimPlatform platform(machineOf("haswell"));
  ProcessorService& p = platform.processors();
  uint64_t process = 0, system = 0;
  ASSERT_TRUE(p.getProcessAffinityMask(&process, &system));
  EXPECT_EQ(process, 0xFFu);
  EXPECT_EQ(system, 0xFFu);

  ASSERT_TRUE(p.setThreadGroupAffinity(affinity(0, 1u << 7)));
  platform.setGroupFunctions(false);
  EXPECT_FALSE(p.hasGroupFunctions());
  GroupAffinity ignored;
  EXPECT_FALSE(p.getThreadGroupAffinity(&ignored));
  EXPECT_FALSE(p.setThreadGroupAffinity(affinity(0, 1)));

  // The process mask takes every thread along, including one pinned before.
  ASSERT_TRUE(p.setProcessAffinityMask(1u << 4));
  EXPECT_EQ(apicOfCaller(p), 4u);
  uint32_t otherApic = 99;
  std::thread([&] { otherApic = apicOfCaller(p); }).join();
  EXPECT_EQ(otherApic, 4u);
  int group = -1, index = -1;
  ASSERT_TRUE(p.currentProcessor(&group, &index));
  EXPECT_EQ(group, 0);
  EXPECT_EQ(index, 4);
  ASSERT_TRUE(p.getProcessAffinityMask(&process, &system));
  EXPECT_EQ(process, 1u << 4);
  EXPECT_FALSE(p.setProcessAffinityMask(0));
  EXPECT_FALSE(p.setProcessAffinityMask(1u << 9));
}

TEST(SimProcessorServiceTest, SecondGroupOfLargeMachine) {
  SimPlatform platform(machineOf("large"));
  ProcessorService& p = platform.processors();
  EXPECT_EQ(p.systemProcessorCount(), 80);
  EXPECT_EQ(p.activeGroupCount(), 2);
  EXPECT_EQ(p.activeProcessorCount(1), 40);
  EXPECT_EQ(p.activeProcessorCount(2), 0);
  ASSERT_TRUE(p.setThreadGroupAffinity(affinity(1, uint64_t{1} << 39)));
  EXPECT_EQ(apicOfCaller(p), 64u + 39u);
  int group = -1, index = -1;
  ASSERT_TRUE(p.currentProcessor(&group, &index));
  EXPECT_EQ(group, 1);
  EXPECT_EQ(index, 39);
  EXPECT_FALSE(p.setThreadGroupAffinity(affinity(1, uint64_t{1} << 40)));
}

}  // namespace
}  // namespace tv2::sim
