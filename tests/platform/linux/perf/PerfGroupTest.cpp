// Real system calls: counting groups on this machine's CPU 0 with the
// software PMU and, where the kernel has it, the msr PMU.
#include <dirent.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "platform/ErrorCodes.h"
#include "platform/linux/perf/PerfEventGroup.h"
#include "platform/linux/perf/PerfEventTable.h"
#include "platform/linux/perf/PerfGroupOpener.h"
#include "platform/linux/perf/PerfInventoryReader.h"
#include "platform/linux/perf/PerfPrivilege.h"

namespace tv2 {
namespace {

int openDescriptors() {
  int count = 0;
  DIR* dir = ::opendir("/proc/self/fd");
  if (dir == nullptr) return -1;
  while (::readdir(dir) != nullptr) ++count;
  ::closedir(dir);
  return count;
}

class PerfGroupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    PerfInventoryReader("/sys", "/proc").read({}, &m_sources, &m_inventory);
    PerfPrivilege privilege = PerfPrivilege::current();
    if (!privilege.any() && m_inventory.paranoid > 0)
      GTEST_SKIP() << "CPU-wide events need root, CAP_PERFMON or perf_event_paranoid <= 0 (it is "
                   << m_inventory.paranoid << ")";
  }

  PerfEventSources m_sources;
  KernelCounterInventory m_inventory;
};

TEST_F(PerfGroupTest, MsrAndClockGroupCountsAdvanceWithTime) {
  std::vector<KernelEvent> events;
  for (KernelEvent event : {KernelEvent::kMsrTsc, KernelEvent::kMsrAperf, KernelEvent::kMsrMperf})
    if (m_inventory.msrEvents & kernelEventBit(event)) events.push_back(event);
  events.push_back(KernelEvent::kCpuClock);
  std::vector<OwnedFd> fds;
  KernelOpenError error;
  ASSERT_TRUE(PerfGroupOpener::open(m_sources, 0, events, &fds, &error)) << error.reason;
  ASSERT_EQ(fds.size(), events.size());
  PerfEventGroup group(std::move(fds));

  KernelGroupReading first;
  KernelGroupReading second;
  ASSERT_TRUE(group.read(&first));
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  ASSERT_TRUE(group.read(&second));
  EXPECT_EQ(second.count, static_cast<int>(events.size()));
  uint64_t enabled = second.timeEnabled - first.timeEnabled;
  // At least the sleep, and not absurdly more.
  EXPECT_GE(enabled, 29'000'000u);
  EXPECT_LT(enabled, 5'000'000'000u);
  EXPECT_LE(second.timeRunning, second.timeEnabled);
  EXPECT_GT(second.timeRunning, first.timeRunning);
  // cpu-clock counts nanoseconds of the CPU while counting.
  size_t clock = events.size() - 1;
  uint64_t clockDelta = second.values[clock] - first.values[clock];
  EXPECT_GT(clockDelta, 0u);
  EXPECT_LE(clockDelta, enabled + enabled / 10);
  if (events[0] == KernelEvent::kMsrTsc) {
    // The time-stamp counter ticks at 0.1 to 10 GHz.
    double perNs = static_cast<double>(second.values[0] - first.values[0]) /
                   static_cast<double>(second.timeRunning - first.timeRunning);
    EXPECT_GT(perNs, 0.1);
    EXPECT_LT(perNs, 10.0);
  }
  if (m_inventory.msrEvents == 0) GTEST_SKIP() << "the kernel has no msr PMU: only cpu-clock was counted";
}

TEST_F(PerfGroupTest, HardwareEventsFailWithAClearReasonWithoutACorePmu) {
  if (!m_inventory.corePmus.empty()) GTEST_SKIP() << "this machine has a core PMU";
  std::vector<OwnedFd> fds;
  KernelOpenError error;
  const KernelEvent events[] = {KernelEvent::kInstructions, KernelEvent::kCycles};
  EXPECT_FALSE(PerfGroupOpener::open(m_sources, 0, events, &fds, &error));
  EXPECT_EQ(error.code, kErrorNotSupported);
  EXPECT_NE(error.reason.find("no hardware performance counters"), std::string::npos) << error.reason;
  EXPECT_TRUE(fds.empty());

  // The kernel itself refuses the generic event: its errno and text.
  perf_event_attr attr;
  std::memset(&attr, 0, sizeof attr);
  attr.size = sizeof attr;
  attr.type = PERF_TYPE_HARDWARE;
  attr.config = PERF_COUNT_HW_INSTRUCTIONS;
  attr.read_format = PerfEventTable::kReadFormat;
  const char* const names[] = {"instructions"};
  EXPECT_FALSE(PerfGroupOpener::openAttributes(0, std::span(&attr, 1), names, &fds, &error));
  EXPECT_NE(error.systemError, 0);
  EXPECT_EQ(error.code, kErrorNotSupported) << error.reason;
  EXPECT_EQ(error.reason.rfind("cannot count instructions on CPU 0: ", 0), 0u) << error.reason;
}

// A member the kernel refuses closes the members opened before it.
TEST_F(PerfGroupTest, FailedMemberLeavesNoDescriptorOpen) {
  perf_event_attr attrs[3];
  KernelOpenError error;
  ASSERT_TRUE(PerfEventTable::attr(m_sources, 0, KernelEvent::kCpuClock, true, &attrs[0], &error));
  ASSERT_TRUE(PerfEventTable::attr(m_sources, 0, KernelEvent::kCpuClock, false, &attrs[1], &error));
  attrs[2] = attrs[1];
  attrs[2].config = 0x7fff;  // no such software event
  const char* const names[] = {"cpu-clock", "cpu-clock", "bogus"};
  int before = openDescriptors();
  std::vector<OwnedFd> fds;
  EXPECT_FALSE(PerfGroupOpener::openAttributes(0, attrs, names, &fds, &error));
  EXPECT_TRUE(fds.empty());
  EXPECT_EQ(openDescriptors(), before);
  EXPECT_NE(error.code, kOk);
  EXPECT_NE(error.reason.find("bogus on CPU 0"), std::string::npos) << error.reason;

  // An empty group; a CPU the kernel does not have.
  const KernelEvent clock[] = {KernelEvent::kCpuClock};
  EXPECT_FALSE(PerfGroupOpener::open(m_sources, 0, std::span(clock, 0), &fds, &error));
  EXPECT_EQ(error.code, kErrorInvalidParameter);
  EXPECT_FALSE(PerfGroupOpener::open(m_sources, 1 << 20, clock, &fds, &error));
  EXPECT_NE(error.systemError, 0);
  EXPECT_EQ(openDescriptors(), before);
}

// Two separately opened events are not one group: the leader answers for
// itself alone, which the reader must not take as the pair.
TEST_F(PerfGroupTest, ReaderChecksTheNumberOfValues) {
  const KernelEvent clock[] = {KernelEvent::kCpuClock};
  std::vector<OwnedFd> first;
  std::vector<OwnedFd> second;
  KernelOpenError error;
  ASSERT_TRUE(PerfGroupOpener::open(m_sources, 0, clock, &first, &error)) << error.reason;
  ASSERT_TRUE(PerfGroupOpener::open(m_sources, 0, clock, &second, &error)) << error.reason;
  std::vector<OwnedFd> both;
  both.push_back(std::move(first[0]));
  both.push_back(std::move(second[0]));
  PerfEventGroup group(std::move(both));
  KernelGroupReading reading;
  EXPECT_FALSE(group.read(&reading));
}

TEST(PerfEventGroup, ParseRefusesReadingsOfTheWrongShape) {
  uint64_t words[6] = {2, 1000, 900, 11, 22, 33};
  KernelGroupReading reading;
  ASSERT_TRUE(PerfEventGroup::parse(words, 5 * sizeof(uint64_t), 2, &reading));
  EXPECT_EQ(reading.count, 2);
  EXPECT_EQ(reading.timeEnabled, 1000u);
  EXPECT_EQ(reading.timeRunning, 900u);
  EXPECT_EQ(reading.values[1], 22u);
  EXPECT_FALSE(PerfEventGroup::parse(words, 4 * sizeof(uint64_t), 2, &reading));  // short
  EXPECT_FALSE(PerfEventGroup::parse(words, 6 * sizeof(uint64_t), 2, &reading));  // long
  EXPECT_FALSE(PerfEventGroup::parse(words, 6 * sizeof(uint64_t), 3, &reading));  // nr differs
  EXPECT_FALSE(PerfEventGroup::parse(words, 2, 2, &reading));
  EXPECT_FALSE(PerfEventGroup::parse(words, 5 * sizeof(uint64_t), 0, &reading));
  words[0] = 17;
  EXPECT_FALSE(PerfEventGroup::parse(words, 20 * sizeof(uint64_t), 17, &reading));
}

}  // namespace
}  // namespace tv2
