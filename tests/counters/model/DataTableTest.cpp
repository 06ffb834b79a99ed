#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "counters/model/CDataTable.h"

namespace tv2 {
namespace {

TEST(DataTable, RingKeepsTheNewest512PointsAndWraps) {
  CDataTable table;
  EXPECT_EQ(table.count, 0);
  EXPECT_EQ(table.writePosition, -1);
  for (int i = 0; i < 512; ++i) table.Push(static_cast<uint32_t>(i * 100), static_cast<float>(i));
  EXPECT_EQ(table.count, 512);
  EXPECT_EQ(table.writePosition, 511);

  table.Push(51200, 512.0f);  // the 513th point
  EXPECT_EQ(table.count, 512);
  EXPECT_EQ(table.writePosition, 0);
  EXPECT_EQ(static_cast<float>(table.values[0]), 512.0f);
  EXPECT_EQ(static_cast<float>(table.times[0]), 51200.0f);
  // The oldest remaining point is now the second one pushed.
  float times[512];
  float values[512];
  ASSERT_EQ(table.CopyNewestFirst(times, values, 512), 512);
  EXPECT_EQ(values[0], 512.0f);
  EXPECT_EQ(values[511], 1.0f);
}

TEST(DataTable, CopyNewestFirstHonoursTheLimitAndAnEmptyTable) {
  CDataTable table;
  float times[4];
  float values[4];
  EXPECT_EQ(table.CopyNewestFirst(times, values, 4), 0);
  for (int i = 0; i < 10; ++i) table.Push(static_cast<uint32_t>(i), static_cast<float>(i));
  ASSERT_EQ(table.CopyNewestFirst(times, values, 4), 4);
  EXPECT_EQ(values[0], 9.0f);
  EXPECT_EQ(values[3], 6.0f);
  table.Clear();
  EXPECT_EQ(table.CopyNewestFirst(times, values, 4), 0);
}

TEST(DataTable, SampleTimesAreStoredAsFloats) {
  CDataTable table;
  // Past 2^24 ms a float cannot hold every millisecond: 16777217 rounds to
  // 16777216; from 2^30 on even the 100 ms step is lost.
  table.Push((1u << 24) + 1, 1.0f);
  EXPECT_EQ(static_cast<float>(table.times[0]), 16777216.0f);
  table.Push((1u << 30) + 100, 1.0f);
  EXPECT_EQ(static_cast<float>(table.times[1]), 1073741952.0f);  // steps of 128 ms
}

// A reader copying while a writer pushes and clears must stay inside the
// rings (and, under ThreadSanitizer, be free of races).
TEST(DataTable, ConcurrentReaderNeverLeavesTheRing) {
  CDataTable table;
  std::atomic<bool> done{false};
  std::thread writer([&] {
    for (int i = 0; i < 200000; ++i) {
      table.Push(static_cast<uint32_t>(i), static_cast<float>(i));
      if (i % 1000 == 999) table.Clear();
    }
    done = true;
  });
  float times[512];
  float values[512];
  int64_t copied = 0;
  while (!done) {
    int32_t n = table.CopyNewestFirst(times, values, 512);
    ASSERT_GE(n, 0);
    ASSERT_LE(n, 512);
    copied += n;
  }
  writer.join();
  EXPECT_GE(copied, 0);
}

}  // namespace
}  // namespace tv2
