#include <gtest/gtest.h>

#include <vector>

#include "app/Configurations.h"
#include "counters/MetricCodes.h"
#include "tests/app/SimAppHarness.h"

namespace tv2 {
namespace {

using testing::RecordingViews;
using testing::SimAppHarness;

std::vector<int32_t> metricsOf(const CProfile& profile) {
  return std::vector<int32_t>(profile.metrics.begin(), profile.metrics.begin() + profile.metricCount);
}

// The metric numbers of the counters the views were given, slot by slot.
std::vector<int32_t> shownMetrics(const CProcessor_2& processor, const RecordingViews& views) {
  std::vector<int32_t> metrics;
  for (auto [index, slot] : views.slots) {
    CTList<CCounter> found;
    EXPECT_EQ(processor.FindCounters(0x1FF0000, static_cast<uint32_t>(index) << 16, found), 1);
    EXPECT_EQ(slot, static_cast<int32_t>(metrics.size()));
    metrics.push_back(static_cast<int32_t>(found.head->object->typeCode() & 0xFF));
  }
  return metrics;
}

TEST(ConfigurationsTest, EachClassGetsItsConfigurationsAndDefaultProfiles) {
  struct Expected {
    int32_t code;
    std::vector<std::vector<int32_t>> profiles;
  };
  const std::vector<int32_t> intel0{1, 2, 19, 20}, intel1{1, 15, 14, 23};
  const std::vector<int32_t> amd0{1, 2, 3, 16, 19, 20}, amd1{1, 2, 3, 15, 14, 23};
  const Expected cases[] = {
      {0x10106A0, {intel0, intel1}},                                          // Intel_B133
      {0x10206A0, {intel0, intel1}},                                          // Intel_SNB
      {0x10106C0, {{1, 2, 21, 19}, {1, 2, 24, 23}, {1, 2, 10, 14}}},          // Intel_FSB
      {0x2600F10, {amd0, amd1}},                                              // AMD_BD
      {0x2610F00, {amd0, amd1}},                                              // AMD_TN
      {0x2630F00, {amd0, amd1}},                                              // AMD_KV family 15h
      {0x2700F00, {amd0}},                                                    // AMD_KV family 16h
      {0x10906E0, {{1, 2, 3, 15, 10, 16}}},                                   // anything else
  };
  for (const Expected& c : cases) {
    CProcessor_2 processor;
    processor.processorCode = c.code;
    int32_t count = -1;
    std::unique_ptr<CCountersConfig[]> configs = CreateConfigurations(&processor, &count);
    ASSERT_EQ(count, static_cast<int32_t>(c.profiles.size())) << std::hex << c.code;
    for (int32_t i = 0; i < count; ++i) {
      const CCountersConfig& config = configs[static_cast<size_t>(i)];
      EXPECT_EQ(config.name, "配置 " + std::to_string(i));
      EXPECT_EQ(config.index, i);
      EXPECT_EQ(config.menu, nullptr);
      ASSERT_NE(config.profile, nullptr);
      EXPECT_EQ(config.profile->configIndex, -1);
      EXPECT_EQ(metricsOf(*config.profile), c.profiles[static_cast<size_t>(i)]) << std::hex << c.code << " " << i;
    }
  }
  int32_t count = -1;
  EXPECT_EQ(CreateConfigurations(nullptr, &count), nullptr);
  EXPECT_EQ(count, 0);
}

TEST(ConfigurationsTest, ProfilesHoldSixteenMetricsFromTheFront) {
  CProfile profile;
  for (int32_t m = 1; m <= 16; ++m) AddMetric(profile, m);
  EXPECT_EQ(profile.metricCount, 16);
  AddMetric(profile, 17);  // the seventeenth is ignored
  EXPECT_EQ(profile.metricCount, 16);
  EXPECT_EQ(profile.metrics[15], 16);
  for (int32_t m : profile.metrics) EXPECT_NE(m, 17);
}

TEST(ConfigurationsTest, AtomThirdConfigurationShowsUsageTemperatureCyclesAndStalls) {
  SimAppHarness sim("intel-fsb");
  ASSERT_TRUE(sim.start());
  RecordingViews views;
  ASSERT_TRUE(SelectConfiguration(*sim.app, views, 2, true));
  EXPECT_EQ(views.calls, (std::vector<std::string>{"clear", "refresh", "assign", "assign", "assign", "assign"}));
  EXPECT_EQ(shownMetrics(*sim.app->SelectedProcessor(), views), (std::vector<int32_t>{1, 2, 10, 14}));
}

TEST(ConfigurationsTest, MissingMetricsTakeNoSlotAndOnlyFourAreShown) {
  SimAppHarness sim("amd-bd");
  ASSERT_TRUE(sim.start());
  const CProcessor_2& processor = *sim.app->SelectedProcessor();
  // Configuration 0 has no IPC; the L3 hit rate exists but comes fifth.
  RecordingViews views;
  EXPECT_EQ(ApplyProfile(processor, *sim.app->configs[0].profile, views), 4);
  EXPECT_EQ(shownMetrics(processor, views), (std::vector<int32_t>{1, 2, 3, 19}));
  EXPECT_NE(processor.l3HitRateSummary, nullptr);

  CProfile profile;
  for (int32_t m : {99, 24, 23, 16, 3, 1, 2}) AddMetric(profile, m);
  RecordingViews more;
  EXPECT_EQ(ApplyProfile(processor, profile, more), 4);
  EXPECT_EQ(shownMetrics(processor, more), (std::vector<int32_t>{24, 23, 3, 1}));
}

TEST(ConfigurationsTest, SelectingTheCurrentConfigurationChangesNothing) {
  SimAppHarness sim("intel-snb");
  ASSERT_TRUE(sim.start());
  CCounter* before = sim.app->SelectedProcessor()->threads[0].l2Hits;
  ASSERT_NE(before, nullptr);
  RecordingViews views;
  EXPECT_FALSE(SelectConfiguration(*sim.app, views, 0, true));
  EXPECT_TRUE(views.calls.empty());
  EXPECT_EQ(sim.app->SelectedProcessor()->threads[0].l2Hits, before);
}

TEST(ConfigurationsTest, NumberOutsideTheArrayRebuildsWithoutEventCounters) {
  SimAppHarness sim("intel-snb");
  ASSERT_TRUE(sim.start());
  RecordingViews views;
  EXPECT_TRUE(SelectConfiguration(*sim.app, views, 7, true));
  EXPECT_EQ(sim.app->currentConfig, 7);
  EXPECT_EQ(views.calls, (std::vector<std::string>{"clear", "refresh"}));
  const CProcessor_2& processor = *sim.app->SelectedProcessor();
  EXPECT_EQ(processor.threads[0].instructions, nullptr);
  EXPECT_EQ(processor.threads[0].l2Hits, nullptr);
  EXPECT_NE(processor.packagePower, nullptr);
  EXPECT_NE(processor.usageSummary, nullptr);

  // So does the resume path's -1.
  EXPECT_TRUE(SelectConfiguration(*sim.app, views, -1, false));
  EXPECT_EQ(processor.threads[0].instructions, nullptr);
}

}  // namespace
}  // namespace tv2
