#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/Configurations.h"
#include "app/CounterSetup.h"
#include "app/HeadlessRun.h"
#include "counters/PmuRegisters.h"
#include "tests/app/SimAppHarness.h"

namespace tv2 {
namespace {

using testing::RecordingViews;
using testing::SimAppHarness;

// Every counter register of a processor, as the hardware holds it.
std::vector<uint64_t> intelRegisters(sim::SimMachine& machine, int cpu, int32_t general) {
  std::vector<uint64_t> values;
  uint64_t value = 0;
  EXPECT_TRUE(machine.hardware().readMsr(cpu, kMsrFixedCounterControl, &value));
  values.push_back(value);
  for (int32_t i = 0; i < general; ++i) {
    EXPECT_TRUE(machine.hardware().readMsr(cpu, kMsrIntelPerfEvtSel0 + static_cast<uint32_t>(i), &value));
    values.push_back(value);
  }
  return values;
}

bool allZero(const std::vector<uint64_t>& values) {
  for (uint64_t v : values) {
    if (v != 0) return false;
  }
  return true;
}

TEST(CounterStartupTest, DecliningCountersInUseLeavesThemAloneUntilExit) {
  SimAppHarness sim("intel-snb");
  sim.machine->hardware().occupyCounters();
  std::vector<uint64_t> occupied = intelRegisters(*sim.machine, 3, 4);
  ASSERT_FALSE(allZero(occupied));
  sim.shell.answers = {kIdNo};
  ASSERT_TRUE(sim.start());

  ASSERT_EQ(sim.shell.asked.size(), 1u);
  EXPECT_EQ(sim.shell.asked[0].text,
            "The program has detected that the performance counters on processor 0 may be in use. If you want to "
            "use them anyway, click on YES. Otherwise, they won't be used by Tarvelle2 and several events will be "
            "missing.");
  EXPECT_EQ(sim.shell.asked[0].caption, "Tarvelle2 Warning");
  EXPECT_EQ(sim.shell.asked[0].flags, kMbIconWarning | kMbYesNo);
  EXPECT_EQ(sim.app->cpuCountersUsable, 0);
  const CProcessor_2& processor = *sim.app->SelectedProcessor();
  EXPECT_EQ(processor.threads[3].instructions, nullptr);
  EXPECT_EQ(processor.threads[3].l2Hits, nullptr);
  EXPECT_NE(processor.packagePower, nullptr);  // sensors and usage remain
  EXPECT_NE(processor.usageSummary, nullptr);
  EXPECT_EQ(intelRegisters(*sim.machine, 3, 4), occupied);

  EXPECT_EQ(sim.exit(), 0);
  EXPECT_EQ(intelRegisters(*sim.machine, 3, 4), occupied);
}

TEST(CounterStartupTest, TakingOverCountersInUseResetsThemAndBuildsTheConfiguration) {
  SimAppHarness sim("intel-snb");
  sim.machine->hardware().occupyCounters();
  sim.shell.answers = {kIdYes};
  ASSERT_TRUE(sim.start());
  EXPECT_EQ(sim.shell.asked.size(), 1u);
  EXPECT_EQ(sim.app->cpuCountersUsable, 1);
  const CProcessor_2& processor = *sim.app->SelectedProcessor();
  EXPECT_NE(processor.threads[5].instructions, nullptr);
  EXPECT_NE(processor.threads[5].l2Hits, nullptr);
  uint64_t select = 0;
  ASSERT_TRUE(sim.machine->hardware().readMsr(5, kMsrIntelPerfEvtSel0, &select));
  EXPECT_EQ(select, 0x4302D1u);

  // Allowed to use them, the program clears every counter register at exit.
  sim.run(600);
  EXPECT_EQ(sim.exit(), 0);
  for (int cpu = 0; cpu < sim.machine->logicalProcessorCount(); ++cpu) {
    EXPECT_TRUE(allZero(intelRegisters(*sim.machine, cpu, 4))) << cpu;
    uint64_t count = 1;
    ASSERT_TRUE(sim.machine->hardware().readMsr(cpu, kMsrIntelPmc0 + 3, &count));
    EXPECT_EQ(count, 0u) << cpu;
  }
}

TEST(CounterStartupTest, CountersStillInUseAfterTheResetAreNotUsedButStayUsable) {
  SimAppHarness sim("intel-snb");
  sim.machine->hardware().occupyCounters();
  sim.machine->hardware().setMsrFailing(kMsrIntelPerfEvtSel0 + 2, true);  // reads as taken, cannot be cleared
  sim.shell.answers = {kIdYes};
  ASSERT_TRUE(sim.start());
  EXPECT_EQ(sim.shell.asked.size(), 1u);
  EXPECT_EQ(sim.app->SelectedProcessor()->threads[0].instructions, nullptr);
  EXPECT_EQ(sim.app->cpuCountersUsable, 1);
}

TEST(CounterStartupTest, EachPackageIsAskedAboutByItsPositionAndOnlyTheDeclinedOneIsLeftAlone) {
  SimAppHarness sim("intel-snb-2p");
  sim.machine->hardware().occupyCounters();
  sim.shell.answers = {kIdYes, kIdNo};
  ASSERT_TRUE(sim.start());
  ASSERT_EQ(sim.shell.asked.size(), 2u);
  EXPECT_NE(sim.shell.asked[0].text.find("on processor 0 may"), std::string::npos);
  EXPECT_NE(sim.shell.asked[1].text.find("on processor 1 may"), std::string::npos);
  const CProcessor_2& first = *sim.app->processors.At(0);
  const CProcessor_2& second = *sim.app->processors.At(1);
  EXPECT_NE(first.threads[0].instructions, nullptr);
  EXPECT_EQ(second.threads[0].instructions, nullptr);
  EXPECT_EQ(sim.app->cpuCountersUsable, 0);
  EXPECT_TRUE(sim.shell.notices.empty());  // both were asked

  // At exit the package taken over is cleared; the declined one keeps what
  // its other user programmed.
  int taken = sim.cpuOf(first.threads[0]);
  int declined = sim.cpuOf(second.threads[0]);
  std::vector<uint64_t> theirs = intelRegisters(*sim.machine, declined, 4);
  ASSERT_FALSE(allZero(intelRegisters(*sim.machine, taken, 4)));
  sim.exit();
  EXPECT_TRUE(allZero(intelRegisters(*sim.machine, taken, 4)));
  EXPECT_EQ(intelRegisters(*sim.machine, declined, 4), theirs);
}

// Once declined, a package is never programmed: not by the configuration
// menu, not by the resume path (current number -1, then the old one again),
// not by --config, not at exit.
TEST(CounterStartupTest, DeclinedCountersAreNeverWrittenByALaterRebuild) {
  SimAppHarness sim("intel-snb");
  sim.machine->hardware().occupyCounters();
  std::vector<std::vector<uint64_t>> theirs;
  for (int cpu = 0; cpu < sim.machine->logicalProcessorCount(); ++cpu) {
    theirs.push_back(intelRegisters(*sim.machine, cpu, 4));
  }
  const auto untouched = [&] {
    for (int cpu = 0; cpu < sim.machine->logicalProcessorCount(); ++cpu) {
      EXPECT_EQ(intelRegisters(*sim.machine, cpu, 4), theirs[static_cast<size_t>(cpu)]) << cpu;
    }
  };
  sim.shell.answers = {kIdNo};
  ASSERT_TRUE(sim.start());
  CProcessor_2& processor = *sim.app->SelectedProcessor();
  const auto onlySensorsAndDerived = [&] {
    EXPECT_EQ(processor.threads[0].instructions, nullptr);
    EXPECT_EQ(processor.threads[0].branchesRetired, nullptr);
    EXPECT_EQ(processor.threads[0].l2Hits, nullptr);
    EXPECT_NE(processor.packagePower, nullptr);
    EXPECT_NE(processor.temperatureSummary, nullptr);
    EXPECT_NE(processor.usageSummary, nullptr);
  };

  RecordingViews views;
  ASSERT_TRUE(SelectConfiguration(*sim.app, views, 1, true));  // the menu
  onlySensorsAndDerived();
  untouched();
  sim.app->currentConfig = -1;  // the resume path
  ASSERT_TRUE(SelectConfiguration(*sim.app, views, 1, false));
  onlySensorsAndDerived();
  untouched();
  std::string error;
  EXPECT_EQ(HeadlessRun::selectConfiguration(*sim.app, 0, &error), HeadlessRun::kOk) << error;  // --config 0
  onlySensorsAndDerived();
  untouched();
  sim.run(900);
  EXPECT_GT(processor.packagePower->history->count, 0);
  EXPECT_EQ(sim.exit(), 0);
  untouched();
}

// The driver host cannot read the registers at all (no msr module, kernel
// lockdown, a virtual machine): no question, no event counters, one line.
TEST(CounterStartupTest, UnreadableCounterRegistersAreLeftOffWithoutAQuestion) {
  SimAppHarness sim("intel-snb");
  for (uint32_t reg : {kMsrFixedCounterControl, kMsrIntelPerfEvtSel0, kMsrIntelPerfEvtSel0 + 1u,
                       kMsrIntelPerfEvtSel0 + 2u, kMsrIntelPerfEvtSel0 + 3u}) {
    sim.machine->hardware().setMsrFailing(reg, true);
  }
  ASSERT_TRUE(sim.start());
  EXPECT_TRUE(sim.shell.asked.empty());
  ASSERT_EQ(sim.shell.notices.size(), 1u);
  const std::string& line = sim.shell.notices[0];
  EXPECT_EQ(line.find('\n'), std::string::npos);
  EXPECT_NE(line.find("processor 0"), std::string::npos) << line;
  EXPECT_NE(line.find("cannot be read"), std::string::npos) << line;
  EXPECT_EQ(sim.app->countersNotice, line);  // what the window's status bar shows
  const CProcessor_2& processor = *sim.app->SelectedProcessor();
  EXPECT_EQ(processor.threads[0].instructions, nullptr);
  EXPECT_EQ(processor.threads[0].l2Hits, nullptr);
  EXPECT_NE(processor.packagePower, nullptr);
  RecordingViews views;
  ASSERT_TRUE(SelectConfiguration(*sim.app, views, 1, true));
  EXPECT_EQ(processor.threads[0].branchesRetired, nullptr);
}

// One select that reads non-zero is evidence enough, even when others fail.
TEST(CounterStartupTest, ANonZeroSelectBesideFailingReadsStillAsks) {
  SimAppHarness sim("intel-snb");
  sim.machine->hardware().occupyCounters();
  sim.machine->hardware().setMsrFailing(kMsrFixedCounterControl, true);
  sim.shell.answers = {kIdNo};
  ASSERT_TRUE(sim.start());
  EXPECT_EQ(sim.shell.asked.size(), 1u);
  EXPECT_TRUE(sim.shell.notices.empty());
}

// Without a window nobody can answer: counters in use are left to their
// user, as after NO, and standard error says so once.
TEST(CounterStartupTest, ARunWithoutAWindowLeavesCountersInUseAlone) {
  SimAppHarness sim("intel-snb-2p");
  sim.machine->hardware().occupyCounters();
  sim.shell.interactive = false;
  int cpu = 0;
  std::vector<uint64_t> theirs = intelRegisters(*sim.machine, cpu, 4);
  ASSERT_TRUE(sim.start());
  EXPECT_TRUE(sim.shell.asked.empty());
  ASSERT_EQ(sim.shell.notices.size(), 1u);
  const std::string& line = sim.shell.notices[0];
  EXPECT_NE(line.find("processor 0"), std::string::npos) << line;
  EXPECT_NE(line.find("processor 1"), std::string::npos) << line;
  EXPECT_NE(line.find("in use"), std::string::npos) << line;
  EXPECT_EQ(sim.app->cpuCountersUsable, 0);
  for (const CProcessor_2* processor : sim.app->processors) EXPECT_EQ(processor->threads[0].instructions, nullptr);
  std::string error;
  EXPECT_EQ(HeadlessRun::selectConfiguration(*sim.app, 1, &error), HeadlessRun::kOk) << error;
  EXPECT_EQ(sim.app->processors.At(1)->threads[0].branchesRetired, nullptr);
  sim.exit();
  EXPECT_EQ(intelRegisters(*sim.machine, cpu, 4), theirs);
}

// The real shell without a window: the notice is one line on standard error.
TEST(CounterStartupTest, TheShellWithoutAWindowWritesTheNoticeAsOneLine) {
  AppShell shell;
  EXPECT_FALSE(shell.canAsk());
  ::testing::internal::CaptureStderr();
  shell.notice("event counters off on processor 0: reason");
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Tarvelle2: event counters off on processor 0: reason\n");
}

TEST(CounterStartupTest, AmdCoreSelectsDecideAndAreReset) {
  SimAppHarness sim("amd-tn");
  sim.machine->hardware().occupyCounters();
  sim.shell.answers = {kIdYes};
  ASSERT_TRUE(sim.start());
  EXPECT_EQ(sim.shell.asked.size(), 1u);
  const CProcessor_2& processor = *sim.app->SelectedProcessor();
  EXPECT_NE(processor.threads[1].instructions, nullptr);
  EXPECT_NE(processor.threads[1].l2Requests, nullptr);
  sim.exit();
  for (int32_t n = 0; n < 6; ++n) {
    uint64_t value = 1;
    ASSERT_TRUE(sim.machine->hardware().readMsr(1, amdPerfCtl(n), &value));
    EXPECT_EQ(value, 0u) << n;
  }
}

TEST(CounterStartupTest, UnlistedVendorsCountAsFree) {
  SimAppHarness sim("unlisted");
  ASSERT_TRUE(sim.start());
  CTarvelle2App& app = *sim.app;
  ProcessorService& service = sim.platform->processors();
  CProcessor_2 other;
  other.processorCode = 0x4000000 | 0x500;  // a Cyrix
  other.threads.resize(1);
  other.threads[0].group = 0;
  other.threads[0].index = 0;
  other.generalCounterCount = 4;
  sim.machine->hardware().occupyCounters();
  uint32_t error = 0;
  ASSERT_TRUE(app.driver->Acquire(&error, 0));
  EXPECT_TRUE(CountersAreFree(*app.driver, service, app.groups.groupMode, other));
  // An Intel processor outside the classes is still tested.
  EXPECT_FALSE(CountersAreFree(*app.driver, service, app.groups.groupMode, *app.SelectedProcessor()));
  app.driver->Release();
}

}  // namespace
}  // namespace tv2
