#include "platform/linux/LinuxProcessorTimes.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "platform/ErrorCodes.h"
#include "platform/linux/LinuxErrors.h"

namespace tv2 {
namespace {

LinuxGroupLayout recordedLayout(const char* tree) {
  LinuxGroupLayout layout;
  EXPECT_EQ(LinuxGroupLayout::load(std::string(TV2_TEST_DATA_DIR "/sysfs/") + tree, &layout), kOk);
  return layout;
}

std::string recordedStat(const char* name) {
  return std::string(TV2_TEST_DATA_DIR "/procstat/") + name;
}

// Processor 4 of the group is cpu8, processor 8 is cpu16.
TEST(LinuxProcessorTimes, MapsGroupIndexToCpuNumber) {
  LinuxGroupLayout layout = recordedLayout("gaps");
  LinuxProcessorTimes service(layout, recordedStat("gaps.txt"), 100);
  ProcessorTimes times[9];
  ASSERT_EQ(service.query(0, times, 9), kOk);
  EXPECT_EQ(times[4].idle, 910'000'000);
  EXPECT_EQ(times[4].kernel, 965'000'000);
  EXPECT_EQ(times[4].user, 130'000'000);
  EXPECT_EQ(times[8].user, 700'000);
}

TEST(LinuxProcessorTimes, SecondGroupOfTwoPackageMachine) {
  LinuxGroupLayout layout = recordedLayout("two-packages-80");
  LinuxProcessorTimes service(layout, recordedStat("two-packages-80.txt"), 100);
  ProcessorTimes times[40];
  ASSERT_EQ(service.query(1, times, 40), kOk);
  // Processor 20 of group 1 is cpu60: user 40000 nice 250 system 12000
  // idle 800000 iowait 350 softirq 150.
  EXPECT_EQ(times[20].idle, 80'035'000'000);
  EXPECT_EQ(times[20].kernel, 81'250'000'000);
  EXPECT_EQ(times[20].user, 4'025'000'000);
}

// cpu9 left /proc/stat (offline) and the interrupt line is longer than a read
// chunk: the query reads through it and reports the missing CPU.
TEST(LinuxProcessorTimes, OfflineCpuIsAnErrorNotACrash) {
  LinuxGroupLayout layout = recordedLayout("gaps");
  LinuxProcessorTimes service(layout, recordedStat("gaps-cpu9-offline.txt"), 100);
  ProcessorTimes times[9];
  EXPECT_EQ(service.query(0, times, 9), LinuxErrors::kNotFound);
  // The processors before it are still there.
  EXPECT_EQ(service.query(0, times, 5), kOk);
  EXPECT_EQ(times[4].user, 130'000'000);
}

// Every line is a cpu line and the last has no newline.
TEST(LinuxProcessorTimes, LastLineWithoutNewline) {
  LinuxGroupLayout layout = recordedLayout("interleaved");
  LinuxProcessorTimes service(layout, recordedStat("cpu-lines-only.txt"), 100);
  ProcessorTimes times[8];
  ASSERT_EQ(service.query(0, times, 8), kOk);
  // Processor 7 is cpu7: user 17, system 27, idle 307.
  EXPECT_EQ(times[7].user, 1'700'000);
  EXPECT_EQ(times[7].idle, 30'700'000);
  EXPECT_EQ(times[7].kernel, 33'400'000);
}

TEST(LinuxProcessorTimes, RefusesBadArguments) {
  LinuxGroupLayout layout = recordedLayout("interleaved");
  LinuxProcessorTimes service(layout, recordedStat("cpu-lines-only.txt"), 100);
  ProcessorTimes times[9];
  EXPECT_EQ(service.query(0, times, 9), kErrorInvalidParameter);
  EXPECT_EQ(service.query(0, times, -1), kErrorInvalidParameter);
  EXPECT_EQ(service.query(1, times, 1), kErrorInvalidParameter);
  EXPECT_EQ(service.query(-1, times, 1), kErrorInvalidParameter);
  EXPECT_EQ(service.query(0, nullptr, 1), kErrorInvalidParameter);
  EXPECT_EQ(service.query(0, times, 0), kOk);

  LinuxProcessorTimes missing(layout, recordedStat("no-such-file.txt"), 100);
  EXPECT_EQ(missing.query(0, times, 1), kErrorFileNotFound);
  LinuxProcessorTimes noRate(layout, recordedStat("cpu-lines-only.txt"), 0);
  EXPECT_EQ(noRate.query(0, times, 1), kErrorInvalidParameter);
}

// The usage samplers of all groups query at once.
TEST(LinuxProcessorTimes, ConcurrentQueriesAgree) {
  LinuxGroupLayout layout = recordedLayout("two-packages-80");
  LinuxProcessorTimes service(layout, recordedStat("two-packages-80.txt"), 100);
  std::vector<std::thread> threads;
  std::vector<int> failures(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&service, &failures, t] {
      int group = t % 2;
      for (int round = 0; round < 100; ++round) {
        ProcessorTimes times[40];
        if (service.query(group, times, 40) != kOk || times[20].user != (group == 0 ? 144'000'000 : 4'025'000'000))
          ++failures[t];
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(failures, std::vector<int>(4, 0));
}

}  // namespace
}  // namespace tv2
