#include "platform/linux/LinuxProcessorService.h"

#include <sched.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "platform/ErrorCodes.h"
#include "platform/linux/LinuxPlatform.h"

namespace tv2 {
namespace {

// Runs a body on a fresh thread, so pinning there leaves the test's own
// thread as it was.
template <typename Body>
void onOwnThread(Body body) {
  std::thread thread(body);
  thread.join();
}

// Processors of group 0 the process may run on (a container may allow fewer
// than are online).
std::vector<int> allowedIndexes(ProcessorService& processors) {
  uint64_t processMask = 0;
  uint64_t systemMask = 0;
  EXPECT_TRUE(processors.getProcessAffinityMask(&processMask, &systemMask));
  std::vector<int> indexes;
  for (int i = 0; i < processors.activeProcessorCount(0); ++i)
    if (processMask & (uint64_t{1} << i)) indexes.push_back(i);
  return indexes;
}

TEST(LinuxProcessorService, RealMachineLayoutMatchesOnlineCount) {
  LinuxPlatform platform;
  EXPECT_EQ(platform.layoutStatus(), kOk);
  ProcessorService& processors = platform.processors();
  EXPECT_TRUE(processors.hasGroupFunctions());
  EXPECT_EQ(processors.systemProcessorCount(), sysconf(_SC_NPROCESSORS_ONLN));
  int total = 0;
  for (int group = 0; group < processors.activeGroupCount(); ++group) {
    EXPECT_GT(processors.activeProcessorCount(group), 0);
    EXPECT_LE(processors.activeProcessorCount(group), 64);
    total += processors.activeProcessorCount(group);
  }
  EXPECT_EQ(total, processors.systemProcessorCount());
  EXPECT_EQ(processors.activeProcessorCount(processors.activeGroupCount()), 0);
}

TEST(LinuxProcessorService, PinningMovesTheThreadToThatProcessor) {
  LinuxPlatform platform;
  ProcessorService& processors = platform.processors();
  std::vector<int> indexes = allowedIndexes(processors);
  ASSERT_FALSE(indexes.empty());
  onOwnThread([&] {
    for (int index : indexes) {
      GroupAffinity pin{uint64_t{1} << index, 0};
      ASSERT_TRUE(processors.setThreadGroupAffinity(pin)) << "processor " << index;
      int group = -1;
      int current = -1;
      ASSERT_TRUE(processors.currentProcessor(&group, &current));
      EXPECT_EQ(group, 0);
      EXPECT_EQ(current, index);
      EXPECT_EQ(sched_getcpu(), platform.layout().cpuOf(0, index));
      GroupAffinity now;
      ASSERT_TRUE(processors.getThreadGroupAffinity(&now));
      EXPECT_EQ(now.group, 0);
      EXPECT_EQ(now.mask, pin.mask);
    }
  });
}

TEST(LinuxProcessorService, MaskWithoutOnlineProcessorIsRefused) {
  LinuxPlatform platform;
  ProcessorService& processors = platform.processors();
  onOwnThread([&] {
    GroupAffinity before;
    ASSERT_TRUE(processors.getThreadGroupAffinity(&before));
    EXPECT_FALSE(processors.setThreadGroupAffinity(GroupAffinity{0, 0}));
    int size = processors.activeProcessorCount(0);
    if (size < 64) {
      EXPECT_FALSE(processors.setThreadGroupAffinity(GroupAffinity{~uint64_t{0} << size, 0}));
    }
    auto missingGroup = static_cast<uint16_t>(processors.activeGroupCount());
    EXPECT_FALSE(processors.setThreadGroupAffinity(GroupAffinity{1, missingGroup}));
    EXPECT_FALSE(processors.setProcessAffinityMask(0));
    // A refused call leaves the affinity as it was.
    GroupAffinity after;
    ASSERT_TRUE(processors.getThreadGroupAffinity(&after));
    EXPECT_EQ(after.mask, before.mask);
  });
}

TEST(LinuxProcessorService, ProcessMaskPairActsOnGroupZero) {
  LinuxPlatform platform;
  ProcessorService& processors = platform.processors();
  std::vector<int> indexes = allowedIndexes(processors);
  ASSERT_FALSE(indexes.empty());
  onOwnThread([&] {
    uint64_t processMask = 0;
    uint64_t systemMask = 0;
    ASSERT_TRUE(processors.getProcessAffinityMask(&processMask, &systemMask));
    int size = processors.activeProcessorCount(0);
    EXPECT_EQ(systemMask, size == 64 ? ~uint64_t{0} : (uint64_t{1} << size) - 1);
    EXPECT_EQ(processMask & ~systemMask, 0u);

    uint64_t last = uint64_t{1} << indexes.back();
    ASSERT_TRUE(processors.setProcessAffinityMask(last));
    ASSERT_TRUE(processors.getProcessAffinityMask(&processMask, &systemMask));
    EXPECT_EQ(processMask, last);
    int group = -1;
    int current = -1;
    ASSERT_TRUE(processors.currentProcessor(&group, &current));
    EXPECT_EQ(current, indexes.back());
  });
}

TEST(LinuxProcessorService, CpuidAnswersTheVendorLeaf) {
  LinuxPlatform platform;
  CpuidRegs regs = platform.processors().cpuid(0, 0);
  EXPECT_GE(regs.eax, 1u);
  char vendor[13] = {};
  std::memcpy(vendor, &regs.ebx, 4);
  std::memcpy(vendor + 4, &regs.edx, 4);
  std::memcpy(vendor + 8, &regs.ecx, 4);
  for (char c : std::string(vendor)) EXPECT_TRUE(c >= ' ' && c <= '~') << vendor;
  EXPECT_EQ(std::strlen(vendor), 12u);
}

TEST(LinuxProcessorService, RealProcStatNeverRunsBackwards) {
  LinuxPlatform platform;
  ProcessorTimesService* service = platform.processorTimes();
  ASSERT_NE(service, nullptr);
  for (int group = 0; group < platform.processors().activeGroupCount(); ++group) {
    int count = platform.processors().activeProcessorCount(group);
    std::vector<ProcessorTimes> first(static_cast<size_t>(count));
    std::vector<ProcessorTimes> second(static_cast<size_t>(count));
    ASSERT_EQ(service->query(group, first.data(), count), kOk);
    // Spin a little so some time is counted.
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(30);
    while (std::chrono::steady_clock::now() < until) {
    }
    ASSERT_EQ(service->query(group, second.data(), count), kOk);
    int64_t advanced = 0;
    for (int i = 0; i < count; ++i) {
      EXPECT_GE(second[i].idle, first[i].idle) << "processor " << i;
      EXPECT_GE(second[i].kernel, first[i].kernel) << "processor " << i;
      EXPECT_GE(second[i].user, first[i].user) << "processor " << i;
      advanced += (second[i].kernel - first[i].kernel) + (second[i].user - first[i].user);
    }
    EXPECT_GT(advanced, 0);
  }
}

}  // namespace
}  // namespace tv2
