// A wait that only ends with the driver lock's 2000 ms timeout.

#include <gtest/gtest.h>

#include <chrono>

#include "app/Configurations.h"
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

}  // namespace
}  // namespace tv2
