#include <gtest/gtest.h>

#include <memory>

#include "cpu/CProcessor_2.h"
#include "cpu/ProcessorDiscovery.h"
#include "platform/sim/SimMachine.h"
#include "platform/sim/SimPlatform.h"

namespace tv2 {
namespace {

void addThreads(CProcessor_2& p, int count) {
  for (int i = 0; i < count; ++i) {
    LogicalProcessorRecord& r = p.threads.emplace_back();
    r.apicId = i;
  }
}

TEST(Caches, InstancesFollowTheSharingCountRoundedUp) {
  CProcessor_2 p;
  addThreads(p, 8);
  p.AddCacheLevel(3, 3, 16, 8192);  // shared by 16: one instance for ids 0-7
  p.AddCacheLevel(1, 1, 2, 32);     // shared by 2: four
  p.AddCacheLevel(2, 3, 3, 256);    // 3 rounds up to 4: two
  p.AddCacheLevel(1, 2, 1, 32);     // private: eight
  ASSERT_EQ(p.caches.count, 4);
  EXPECT_EQ(p.caches.At(0)->instanceCount, 1);
  EXPECT_EQ(p.caches.At(1)->instanceCount, 4);
  EXPECT_EQ(p.caches.At(2)->instanceCount, 2);
  EXPECT_EQ(p.caches.At(3)->instanceCount, 8);
  EXPECT_EQ(p.caches.At(0)->level, 3);
  EXPECT_EQ(p.caches.At(0)->type, 3);
  EXPECT_EQ(p.caches.At(0)->sizeKB, 8192);
}

TEST(Caches, DiscoveryReadsTheCacheLeafOfEachPackage) {
  auto config = sim::SimMachine::preset("nehalem");
  ASSERT_TRUE(config.has_value());
  sim::SimPlatform platform(std::make_shared<sim::SimMachine>(*config));
  CTList<CProcessor_2> processors;
  ProcessorGroups groups;
  DetectProcessors(platform.processors(), processors, groups);
  ASSERT_EQ(processors.count, 1);
  const CTList<CCacheLevel>& caches = processors.At(0)->caches;
  ASSERT_EQ(caches.count, static_cast<int32_t>(config->model.caches.size()));
  for (int i = 0; i < caches.count; ++i) {
    const sim::SimCacheDesc& want = config->model.caches[static_cast<size_t>(i)];
    EXPECT_EQ(caches.At(i)->level, want.level);
    EXPECT_EQ(caches.At(i)->type, want.type);
    EXPECT_EQ(caches.At(i)->sizeKB, want.ways * want.partitions * want.lineSize * want.sets / 1024);
  }
  processors.DeleteAll();
}

TEST(ProcessorCounters, FindCountersWalksThreadsThenCoresThenPackage) {
  CProcessor_2 p;
  addThreads(p, 2);
  p.cores.emplace_back();
  auto add = [&](CTList<CCounter>& list, uint32_t code) {
    auto* c = new CCounter(p.counterCount++);
    c->setTypeCode(code);
    list.Append(c);
    return c;
  };
  CCounter* package = add(p.counters, 0x101);
  CCounter* core = add(p.cores[0].counters, 0x313);
  CCounter* thread1 = add(p.threads[1].counters, 0x401);
  CCounter* thread0 = add(p.threads[0].counters, 0x401);
  add(p.threads[0].counters, 0);

  CTList<CCounter> found;
  EXPECT_EQ(p.FindCounters(0xFF00, 0x400, found), 2);
  EXPECT_EQ(found.At(0), thread0);
  EXPECT_EQ(found.At(1), thread1);
  // Every counter with a type code, in walking order; the list is emptied first.
  EXPECT_EQ(p.FindCounters(0x00FF, 0x01, found), 3);
  EXPECT_EQ(found.At(0), thread0);
  EXPECT_EQ(found.At(2), package);
  EXPECT_EQ(p.FindCounters(0x1FF0000, 1u << 16, found), 1);
  EXPECT_EQ(found.At(0), core);
  found.RemoveAll();

  p.threads[0].usage = thread0;
  p.cores[0].l2HitRate = core;
  p.usageSummary = package;
  p.ClearCounters();
  EXPECT_EQ(p.counterCount, 0);
  EXPECT_EQ(p.threads[0].counters.count, 0);
  EXPECT_EQ(p.threads[0].usage, nullptr);
  EXPECT_EQ(p.cores[0].l2HitRate, nullptr);
  EXPECT_EQ(p.usageSummary, nullptr);
}

TEST(ProcessorCounters, ClearHistoriesReachesEveryList) {
  CProcessor_2 p;
  addThreads(p, 1);
  p.cores.emplace_back();
  CTimeCounter* lists[3] = {new CTimeCounter(0), new CTimeCounter(1), new CTimeCounter(2)};
  p.threads[0].counters.Append(lists[0]);
  p.cores[0].counters.Append(lists[1]);
  p.counters.Append(lists[2]);
  for (CTimeCounter* c : lists) {
    c->Set(10.0);
    c->Set(20.0);
    ASSERT_EQ(c->history->count, 1);
  }
  p.ClearHistories();
  for (CTimeCounter* c : lists) {
    EXPECT_EQ(c->history->count, 0);
    EXPECT_EQ(c->currentRaw, -1.0);
  }
}

}  // namespace
}  // namespace tv2
