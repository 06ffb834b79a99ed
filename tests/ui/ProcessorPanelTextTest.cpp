// The wording of the processor panel on hand-made processor records.

#include <gtest/gtest.h>

#include "cpu/CCacheLevel.h"
#include "cpu/CProcessor_2.h"
#include "ui/ProcessorPanelText.h"

namespace tv2 {
namespace {

ProcessorPanelText panel(CProcessor_2& p) { return ProcessorPanelText::format(p); }

TEST(ProcessorPanelText, ClockLine) {
  CProcessor_2 p;
  p.baseClock = 3400;
  p.turboClock = 3400;
  EXPECT_EQ(panel(p).clock, "最大时钟频率 :\t3.40 GHz");
  p.baseClock = 0;
  p.turboClock = 3600;
  EXPECT_EQ(panel(p).clock, "最大时钟频率 :\t (睿频 : 3.60 GHz)");
  p.baseClock = -1;
  p.turboClock = -1;
  EXPECT_EQ(panel(p).clock, "最大时钟频率 :\t");
  p.tdp = 0;
  EXPECT_EQ(panel(p).tdp, "热设计功耗 :\t");
}

TEST(ProcessorPanelText, CacheLines) {
  CProcessor_2 p;
  p.caches.Append(new CCacheLevel(2, 1, 1, 32));
  p.caches.Append(new CCacheLevel(1, 1, 2, 64));
  p.caches.Append(new CCacheLevel(1, 2, 3, 1024));
  p.caches.Append(new CCacheLevel(1, 3, 3, 8192));
  p.caches.Append(new CCacheLevel(2, 2, 3, 1536));
  p.caches.Append(new CCacheLevel(1, 4, 3, 131072));
  const ProcessorPanelText text = panel(p);
  ASSERT_EQ(text.caches.size(), 6u);
  EXPECT_EQ(text.caches[0], "L1 D-缓存 :\t2 x 32 KBytes\n");
  EXPECT_EQ(text.caches[1], "L1 I-缓存 :\t64 KBytes\n");
  EXPECT_EQ(text.caches[2], "L2 缓存 :\t1024 KBytes\n");
  EXPECT_EQ(text.caches[3], "L3 缓存 :\t8 MBytes\n");
  // Not a whole number of MBytes: the exact size rather than 1 MBytes.
  EXPECT_EQ(text.caches[4], "L2 缓存 :\t2 x 1536 KBytes\n");
  EXPECT_EQ(text.caches[5], "L4 缓存 :\t128 MBytes\n");
}

TEST(ProcessorPanelText, TopologyAndFeatures) {
  CProcessor_2 p;
  p.coreCount = 4;
  p.threadCount = 8;
  p.threads.resize(8);
  EXPECT_EQ(panel(p).topology, "拓扑 :\t\t4 核心, 8 CPUs");
  EXPECT_EQ(panel(p).features, "特征 :\t\t超线程");

  p.computeUnitCount = 2;
  p.threadCount = 4;
  p.threads.resize(4);
  p.threads[0].coresPerComputeUnit = 2;
  EXPECT_EQ(panel(p).topology, "拓扑 :\t\t2 CU, 4 核心, 4 CPUs");
  EXPECT_EQ(panel(p).features, "特征 :\t\tCMT");

  // A record that never got its threads filled in.
  CProcessor_2 empty;
  empty.threadCount = 2;
  empty.coreCount = 1;
  EXPECT_EQ(panel(empty).features, "特征 :\t\t超线程");
}

}  // namespace
}  // namespace tv2

namespace tv2 {
namespace {

// A hybrid part names its mix of core types; a processor whose cores are of
// one kind (or of no known kind) keeps the line as it was.
TEST(ProcessorPanelText, HybridCoreMix) {
  CProcessor_2 p;
  p.coreCount = 3;
  p.threadCount = 4;
  p.threads.resize(4);
  p.cores.resize(3);
  p.cores[0].threads = {&p.threads[0], &p.threads[1]};
  p.cores[1].threads = {&p.threads[2]};
  p.cores[2].threads = {&p.threads[3]};
  EXPECT_EQ(panel(p).topology, "拓扑 :\t\t3 核心, 4 CPUs");
  p.threads[0].coreType = p.threads[1].coreType = KernelCoreType::kPerformance;
  EXPECT_EQ(panel(p).topology, "拓扑 :\t\t3 核心, 4 CPUs");
  p.threads[2].coreType = p.threads[3].coreType = KernelCoreType::kEfficiency;
  EXPECT_EQ(panel(p).topology, "拓扑 :\t\t3 核心, 4 CPUs (1P + 2E)");
}

}  // namespace
}  // namespace tv2
