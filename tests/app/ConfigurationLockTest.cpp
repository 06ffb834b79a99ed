// Waits that only end with the driver lock's 2000 ms timeout.

#include <gtest/gtest.h>

#include <chrono>

#include "app/Configurations.h"
#include "app/CounterSetup.h"
#include "tests/app/SimAppHarness.h"

namespace tv2 {
namespace {

using testing::RecordingViews;
using testing::SimAppHarness;

TEST(ConfigurationLockTest, SwitchWithoutTheDriverLockKeepsTheOldCounters) {
  SimAppHarness sim("intel-snb");
  ASSERT_TRUE(sim.start());
  CCounter* before = sim.app->SelectedProcessor()->threads[0].l2Hits;
  sim.platform->holdMutexElsewhere(sim.app->driver->driverMutexName(), true);
  RecordingViews views;
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(SelectConfiguration(*sim.app, views, 1, true));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1900));
  // The graphs were emptied, the number taken, nothing else.
  EXPECT_EQ(views.calls, (std::vector<std::string>{"clear"}));
  EXPECT_EQ(sim.app->currentConfig, 1);
  EXPECT_EQ(sim.app->SelectedProcessor()->threads[0].l2Hits, before);
  sim.platform->holdMutexElsewhere(sim.app->driver->driverMutexName(), false);
}

// Another program holds the driver lock through start-up: the counters
// cannot be tested, so nobody is asked about them (even though they are
// taken), no event counter is built and none is reset at exit; usage and
// the derived metrics still run.
TEST(ConfigurationLockTest, StartupWithTheDriverLockHeldElsewhereAsksNothingAndBuildsNoEventCounters) {
  SimAppHarness sim("intel-snb");
  sim.machine->hardware().occupyCounters();
  uint64_t theirs = 0;
  ASSERT_TRUE(sim.machine->hardware().readMsr(0, 0x186, &theirs));
  ASSERT_NE(theirs, 0u);
  for (const char* name : {"kzor", "Global\\kzor"}) sim.platform->holdMutexElsewhere(name, true);
  ASSERT_TRUE(sim.start());
  for (const auto& question : sim.shell.asked) EXPECT_NE(question.caption, kCountersInUseCaption) << question.text;
  EXPECT_TRUE(sim.shell.notices.empty());
  const CProcessor_2& processor = *sim.app->SelectedProcessor();
  for (const LogicalProcessorRecord& thread : processor.threads) {
    EXPECT_EQ(thread.instructions, nullptr);
    EXPECT_EQ(thread.l2Hits, nullptr);
    EXPECT_NE(thread.usage, nullptr);
  }
  EXPECT_NE(processor.usageSummary, nullptr);
  EXPECT_EQ(processor.mipsSummary, nullptr);
  sim.run(1000);
  EXPECT_GT(processor.usageSummary->history->count, 0);
  sim.exit();
  uint64_t after = 0;
  ASSERT_TRUE(sim.machine->hardware().readMsr(0, 0x186, &after));
  EXPECT_EQ(after, theirs);
  for (const char* name : {"kzor", "Global\\kzor"}) sim.platform->holdMutexElsewhere(name, false);
}

}  // namespace
}  // namespace tv2
