#include <gtest/gtest.h>

#include "counters/model/CCounter.h"
#include "counters/model/SampleClock.h"

namespace tv2 {
namespace {

class CounterTest : public ::testing::Test {
 protected:
  void SetUp() override { SampleClock::reset(); }
  void TearDown() override { SampleClock::reset(); }
};

TEST_F(CounterTest, NewCounterHasNoReadingAndCarriesItsIndex) {
  CCounter counter(37);
  EXPECT_EQ(counter.currentRaw, -1.0);
  EXPECT_EQ(counter.previousRaw, -1.0);
  EXPECT_EQ(counter.fullScale, 100);
  EXPECT_EQ(counter.identity, 37u << 16);
  EXPECT_EQ(counter.Read(), -1.0);
  counter.setTypeCode(0x401);
  EXPECT_EQ(counter.index(), 37);
  EXPECT_EQ(counter.typeCode(), 0x401u);
  // Indices travel in nine bits: 512 and up cannot be named.
  CCounter high(513);
  EXPECT_EQ(high.index(), 1);
}

TEST_F(CounterTest, TimeCounterRecordsFromItsSecondSampleStampedWithTheClock) {
  CTimeCounter counter(0);
  SampleClock::advance(100);
  counter.Set(1000.0);
  EXPECT_EQ(counter.history->count, 0);  // first sample: nothing to compare with
  SampleClock::advance(400);
  counter.Set(1600.0);
  ASSERT_EQ(counter.history->count, 1);
  EXPECT_EQ(static_cast<float>(counter.value), 600.0f);
  EXPECT_EQ(static_cast<float>(counter.history->values[0]), 600.0f);
  EXPECT_EQ(static_cast<float>(counter.history->times[0]), 500.0f);
  EXPECT_EQ(counter.previousRaw, 1600.0);
}

TEST_F(CounterTest, TimeCounterGoingBackwardsRecordsNothing) {
  CTimeCounter counter(0);
  counter.Set(5000.0);
  counter.Set(6000.0);
  ASSERT_EQ(counter.history->count, 1);
  counter.Set(4000.0);  // the total went down: no figure, never a negative one
  EXPECT_EQ(counter.history->count, 1);
  EXPECT_EQ(static_cast<float>(counter.value), 1000.0f);
  // The lower total becomes the new base, so the next sample counts again.
  counter.Set(4500.0);
  EXPECT_EQ(counter.history->count, 2);
  EXPECT_EQ(static_cast<float>(counter.value), 500.0f);
}

TEST_F(CounterTest, ZeroTotalIsNoBase) {
  CTimeCounter counter(0);
  counter.Set(0.0);
  counter.Set(100.0);  // previous reading 0 is not a positive reading
  EXPECT_EQ(counter.history->count, 0);
  counter.Set(300.0);
  EXPECT_EQ(counter.history->count, 1);
}

TEST_F(CounterTest, ClearingForgetsReadingsButKeepsTheValue) {
  CTimeCounter counter(0);
  counter.Set(100.0);
  counter.Set(250.0);
  ASSERT_EQ(counter.history->count, 1);
  counter.ClearReadings();
  EXPECT_EQ(counter.currentRaw, -1.0);
  EXPECT_EQ(counter.previousRaw, -1.0);
  EXPECT_EQ(counter.history->count, 0);
  EXPECT_EQ(counter.history->writePosition, -1);
  EXPECT_EQ(static_cast<float>(counter.value), 150.0f);
  // Two new samples are needed again.
  counter.Set(400.0);
  EXPECT_EQ(counter.history->count, 0);
  counter.Set(450.0);
  EXPECT_EQ(counter.history->count, 1);
}

TEST_F(CounterTest, ValueFormatsWithOneDecimalOrTruncatedTowardZero) {
  CCounter counter(0);
  counter.unit = "MHz";
  counter.value = 2399.96f;
  EXPECT_EQ(counter.FormatValue(), "2399 MHz");
  counter.value = -2.7f;
  EXPECT_EQ(counter.FormatValue(), "-2 MHz");
  counter.displayFlags = kShowOneDecimal;
  counter.unit = "W";
  counter.value = 12.34f;
  EXPECT_EQ(counter.FormatValue(), "12.3 W");
  counter.displayFlags = 0;
  counter.value = 1e12f;  // far outside int: clamped, not undefined
  EXPECT_EQ(counter.FormatValue(), "2147483647 W");
}

}  // namespace
}  // namespace tv2
