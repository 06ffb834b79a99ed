#include "platform/linux/LinuxGroupLayout.h"

#include <gtest/gtest.h>

#include <numeric>
#include <vector>

#include "platform/ErrorCodes.h"

namespace tv2 {
namespace {

std::vector<int> cpusOf(const LinuxGroupLayout& layout, int group) {
  std::span<const int> cpus = layout.groupCpus(group);
  return std::vector<int>(cpus.begin(), cpus.end());
}

std::vector<int> range(int first, int last) {
  std::vector<int> values(static_cast<size_t>(last - first + 1));
  std::iota(values.begin(), values.end(), first);
  return values;
}

LinuxGroupLayout loadRecorded(const char* tree) {
  LinuxGroupLayout layout;
  EXPECT_EQ(LinuxGroupLayout::load(std::string(TV2_TEST_DATA_DIR "/sysfs/") + tree, &layout), kOk);
  return layout;
}

// Even CPUs on package 0, odd on package 1: the group lists package 0 first.
TEST(LinuxGroupLayout, InterleavedPackagesKeepPackageOrder) {
  LinuxGroupLayout layout = loadRecorded("interleaved");
  ASSERT_EQ(layout.groupCount(), 1);
  EXPECT_EQ(cpusOf(layout, 0), (std::vector<int>{0, 2, 4, 6, 1, 3, 5, 7}));
  EXPECT_EQ(layout.processorCount(), 8);
  EXPECT_EQ(layout.cpuOf(0, 4), 1);
  int group = -1;
  int index = -1;
  ASSERT_TRUE(layout.locate(7, &group, &index));
  EXPECT_EQ(group, 0);
  EXPECT_EQ(index, 7);
  // cpu8 has a sysfs folder but is not online.
  EXPECT_FALSE(layout.locate(8, &group, &index));
}

// Package 1 owns the lowest CPU numbers, cpu16 has no package file (package
// 0) and cpu4 is offline.
TEST(LinuxGroupLayout, GapsInNumberingAndMissingPackageFile) {
  LinuxGroupLayout layout = loadRecorded("gaps");
  ASSERT_EQ(layout.groupCount(), 1);
  EXPECT_EQ(cpusOf(layout, 0), (std::vector<int>{0, 1, 2, 3, 8, 9, 10, 11, 16}));
  int group = -1;
  int index = -1;
  ASSERT_TRUE(layout.locate(16, &group, &index));
  EXPECT_EQ(index, 8);
  EXPECT_FALSE(layout.locate(4, &group, &index));
  EXPECT_FALSE(layout.locate(12, &group, &index));
  EXPECT_FALSE(layout.locate(-1, &group, &index));
  EXPECT_FALSE(layout.locate(1 << 20, &group, &index));
  EXPECT_EQ(layout.cpuOf(0, 9), -1);
  EXPECT_EQ(layout.cpuOf(1, 0), -1);
  EXPECT_EQ(layout.groupSize(1), 0);
  EXPECT_TRUE(layout.groupCpus(-1).empty());
}

// Two packages of 40 (SMT siblings 40 apart): the second does not fit in the
// 24 places left, so it starts group 1.
TEST(LinuxGroupLayout, TwoPackagesOfFortyMakeTwoGroups) {
  LinuxGroupLayout layout = loadRecorded("two-packages-80");
  ASSERT_EQ(layout.groupCount(), 2);
  std::vector<int> first = range(0, 19);
  std::vector<int> siblings = range(40, 59);
  first.insert(first.end(), siblings.begin(), siblings.end());
  std::vector<int> second = range(20, 39);
  siblings = range(60, 79);
  second.insert(second.end(), siblings.begin(), siblings.end());
  EXPECT_EQ(cpusOf(layout, 0), first);
  EXPECT_EQ(cpusOf(layout, 1), second);
  EXPECT_EQ(layout.cpuOf(1, 20), 60);
  int group = -1;
  int index = -1;
  ASSERT_TRUE(layout.locate(45, &group, &index));
  EXPECT_EQ(group, 0);
  EXPECT_EQ(index, 25);
}

TEST(LinuxGroupLayout, PackageOfNinetySixIsSplit) {
  LinuxGroupLayout layout = loadRecorded("single-96");
  ASSERT_EQ(layout.groupCount(), 2);
  EXPECT_EQ(cpusOf(layout, 0), range(0, 63));
  EXPECT_EQ(cpusOf(layout, 1), range(64, 95));
  int group = -1;
  int index = -1;
  ASSERT_TRUE(layout.locate(95, &group, &index));
  EXPECT_EQ(group, 1);
  EXPECT_EQ(index, 31);
  EXPECT_EQ(layout.processorCount(), 96);
}

TEST(LinuxGroupLayout, UnreadableTreeIsAnErrorAndLeavesLayoutAlone) {
  LinuxGroupLayout layout = loadRecorded("interleaved");
  EXPECT_EQ(LinuxGroupLayout::load(TV2_TEST_DATA_DIR "/sysfs/no-such-tree", &layout),
            kErrorFileNotFound);
  EXPECT_EQ(layout.processorCount(), 8);
}

// A small package after two that each opened a group joins the second one.
TEST(LinuxGroupLayout, SmallPackageFillsRoomLeftInGroup) {
  std::vector<LinuxCpuEntry> cpus;
  for (int cpu = 0; cpu < 100; ++cpu) cpus.push_back({cpu, cpu < 40 ? 0 : cpu < 80 ? 1 : 2});
  LinuxGroupLayout layout = LinuxGroupLayout::fromCpus(cpus);
  ASSERT_EQ(layout.groupCount(), 2);
  EXPECT_EQ(layout.groupSize(0), 40);
  EXPECT_EQ(layout.groupSize(1), 60);
  EXPECT_EQ(layout.cpuOf(1, 40), 80);
}

// A package after a split one shares the split's last group when it fits.
TEST(LinuxGroupLayout, PackageAfterSplitPackageFillsItsLastGroup) {
  std::vector<LinuxCpuEntry> cpus;
  for (int cpu = 0; cpu < 100; ++cpu) cpus.push_back({cpu, cpu < 96 ? 0 : 1});
  LinuxGroupLayout layout = LinuxGroupLayout::fromCpus(cpus);
  ASSERT_EQ(layout.groupCount(), 2);
  EXPECT_EQ(layout.groupSize(1), 36);
  EXPECT_EQ(layout.cpuOf(1, 32), 96);
}

TEST(LinuxGroupLayout, NoMoreThanSixtyFourGroups) {
  std::vector<LinuxCpuEntry> cpus;
  // 65 packages of 64: one group each, the last one dropped.
  for (int cpu = 0; cpu < 65 * 64; ++cpu) cpus.push_back({cpu, cpu / 64});
  LinuxGroupLayout layout = LinuxGroupLayout::fromCpus(cpus);
  EXPECT_EQ(layout.groupCount(), 64);
  EXPECT_EQ(layout.processorCount(), 64 * 64);
  int group = -1;
  int index = -1;
  EXPECT_FALSE(layout.locate(64 * 64, &group, &index));
  ASSERT_TRUE(layout.locate(64 * 64 - 1, &group, &index));
  EXPECT_EQ(group, 63);
}

TEST(LinuxGroupLayout, DuplicateAndInvalidCpuNumbersAreDropped) {
  LinuxGroupLayout layout =
      LinuxGroupLayout::fromCpus({{3, 0}, {1, 0}, {3, 1}, {-2, 0}, {LinuxGroupLayout::kCpuNumberLimit, 0}});
  EXPECT_EQ(cpusOf(layout, 0), (std::vector<int>{1, 3}));
}

TEST(LinuxGroupLayout, CpuListParsing) {
  std::vector<int> cpus;
  ASSERT_TRUE(LinuxGroupLayout::parseCpuList("0-3,5,8-11\n", &cpus));
  EXPECT_EQ(cpus, (std::vector<int>{0, 1, 2, 3, 5, 8, 9, 10, 11}));
  ASSERT_TRUE(LinuxGroupLayout::parseCpuList("7", &cpus));
  EXPECT_EQ(cpus, (std::vector<int>{7}));
  // Overlapping ranges count each CPU once.
  ASSERT_TRUE(LinuxGroupLayout::parseCpuList("4-6,2-5", &cpus));
  EXPECT_EQ(cpus, (std::vector<int>{2, 3, 4, 5, 6}));

  for (const char* bad : {"", "\n", "3-1", "0-3,", ",1", "1,,2", "-1", "0-", "a", "1-b", "0x3",
                          "65536", "0-99999999999"}) {
    cpus = {42};
    EXPECT_FALSE(LinuxGroupLayout::parseCpuList(bad, &cpus)) << '"' << bad << '"';
    EXPECT_EQ(cpus, (std::vector<int>{42})) << "output changed for " << bad;
  }
}

}  // namespace
}  // namespace tv2
