// The resume watcher end to end: a private D-Bus daemon, a stand-in logind
// sending PrepareForSleep, the real program on the simulated machine, and a
// frame whose slots follow the messages the way the left view's do.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <array>
#include <functional>

#include "app/Configurations.h"
#include "counters/MetricCodes.h"
#include "services/PowerEventWatcher.h"
#include "tests/app/SimAppHarness.h"
#include "tests/services/PrivateBus.h"
#include "ui/MessageWindow.h"
#include "ui/WindowMessages.h"

namespace tv2 {
namespace {

using testing::PrivateBus;
using testing::StandInLogind;

constexpr uint32_t kPerfEventSelect0 = 0x186;
constexpr uint32_t kFixedCounterControl = 0x38D;

// Four graph slots that answer the frame's messages like the left view:
// counter indices, -1 when empty.
class SlotsFrame : public MessageWindow, public ConfigurationViews {
 public:
  explicit SlotsFrame(CTarvelle2App& app) : m_app(app) {}

  intptr_t sendMessage(uint32_t message, uintptr_t wParam, intptr_t lParam) override {
    messages.push_back(message);
    switch (message) {
      case UM_SAVE_PROFILE: {
        auto* profile = reinterpret_cast<CProfile*>(lParam);
        EXPECT_EQ(wParam, 0u);  // a snapshot, no stream
        profile->configIndex = m_app.currentConfig;
        for (int32_t index : graphSlots) {
          if (index >= 0) profile->AddMetric(metricOf(index));
        }
        break;
      }
      case UM_SELECT_CONFIG:
        EXPECT_EQ(lParam, 0);
        SelectConfiguration(m_app, *this, static_cast<int32_t>(wParam), lParam != 0);
        break;
      case UM_APPLY_PROFILE:
        if (wParam == 0) break;
        clearGraphSlots();
        ApplyProfile(*m_app.SelectedProcessor(), *reinterpret_cast<const CProfile*>(wParam), *this);
        break;
      case UM_CLEAR_GRAPHS: graphSlots.fill(-1); break;
      case UM_ASSIGN_GRAPH: graphSlots[static_cast<size_t>(lParam)] = static_cast<int32_t>(wParam); break;
      default: break;
    }
    return 0;
  }
  void clearGraphSlots() override { sendMessage(UM_CLEAR_GRAPHS, 0, 0); }
  void assignGraph(int32_t counterIndex, int32_t slot) override { sendMessage(UM_ASSIGN_GRAPH, counterIndex, slot); }

  // The counter index of the package's counter for a metric.
  int32_t counterFor(int32_t metric) const {
    CTList<CCounter> found;
    if (m_app.SelectedProcessor()->FindCounters(kMetricLevelMask, packageCode(metric), found) == 0) return -1;
    return found.head->object->index();
  }
  int32_t metricOf(int32_t counterIndex) const {
    CTList<CCounter> found;
    m_app.SelectedProcessor()->FindCounters(0x01FF0000u, static_cast<uint32_t>(counterIndex) << 16, found);
    return found.head == nullptr ? -1 : static_cast<int32_t>(found.head->object->identity & 0xFF);
  }
  int32_t metricInSlot(size_t slot) const { return graphSlots[slot] < 0 ? -1 : metricOf(graphSlots[slot]); }
  int sequences() const { return static_cast<int>(std::count(messages.begin(), messages.end(), UM_SAVE_PROFILE)); }

  std::array<int32_t, 4> graphSlots{-1, -1, -1, -1};
  std::vector<uint32_t> messages;

 private:
  CTarvelle2App& m_app;
};

// Lets the user-interface thread run until the condition holds.
bool runUntil(const std::function<bool()>& condition, int limitMs = 5000) {
  QElapsedTimer clock;
  clock.start();
  while (!condition()) {
    if (clock.elapsed() > limitMs) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QThread::msleep(2);
  }
  return true;
}

void runFor(int ms) {
  QElapsedTimer clock;
  clock.start();
  runUntil([&] { return clock.elapsed() >= ms; }, ms + 1000);
}

class PowerEvents : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(m_bus.address().isEmpty()) << "dbus-daemon did not start";
    ASSERT_TRUE(m_logind.registered());
    ASSERT_TRUE(m_harness.start());
    m_frame = std::make_unique<SlotsFrame>(*m_harness.app);
  }
  void TearDown() override { m_watcher.tearDown(); }

  // What the machine forgets while it sleeps: the counters' programming.
  void forgetProgramming() {
    for (int cpu = 0; cpu < m_harness.machine->logicalProcessorCount(); ++cpu) {
      m_harness.machine->hardware().writeMsr(cpu, kPerfEventSelect0, 0);
      m_harness.machine->hardware().writeMsr(cpu, kFixedCounterControl, 0);
    }
  }
  bool programmed(uint32_t msr) {
    uint64_t value = 0;
    return m_harness.machine->hardware().readMsr(0, msr, &value) && value != 0;
  }

  PrivateBus m_bus;
  StandInLogind m_logind{m_bus.address()};
  testing::SimAppHarness m_harness{"intel-snb"};
  std::unique_ptr<SlotsFrame> m_frame;
  PowerEventWatcher m_watcher;
};

TEST_F(PowerEvents, ResumeReprogramsTheCountersAndBringsTheGraphsBackClosedUp) {
  ASSERT_TRUE(programmed(kPerfEventSelect0));
  int32_t config = m_harness.app->currentConfig;
  m_frame->sendMessage(UM_ASSIGN_GRAPH, m_frame->counterFor(kMetricUsage), 0);
  m_frame->sendMessage(UM_ASSIGN_GRAPH, m_frame->counterFor(kMetricTemperature), 2);
  ASSERT_TRUE(m_watcher.setUp(*m_harness.app, m_frame.get(), m_bus.address()));
  forgetProgramming();

  m_logind.prepareForSleep(false);
  ASSERT_TRUE(runUntil([&] { return m_frame->sequences() == 1 && m_frame->graphSlots[1] >= 0; }));
  EXPECT_EQ(m_frame->metricInSlot(0), kMetricUsage);
  EXPECT_EQ(m_frame->metricInSlot(1), kMetricTemperature);
  EXPECT_EQ(m_frame->graphSlots[2], -1);
  EXPECT_EQ(m_frame->graphSlots[3], -1);
  EXPECT_EQ(m_harness.app->currentConfig, config);
  EXPECT_TRUE(programmed(kPerfEventSelect0));
  EXPECT_TRUE(programmed(kFixedCounterControl));
}

TEST_F(PowerEvents, EveryResumeRunsTheSequenceAndEmptySlotsStayEmpty) {
  ASSERT_TRUE(m_watcher.setUp(*m_harness.app, m_frame.get(), m_bus.address()));
  forgetProgramming();
  m_logind.prepareForSleep(false);
  m_logind.prepareForSleep(false);
  ASSERT_TRUE(runUntil([&] { return m_frame->sequences() == 2; }));
  runFor(100);
  EXPECT_EQ(m_frame->sequences(), 2);
  EXPECT_EQ(m_frame->graphSlots, (std::array<int32_t, 4>{-1, -1, -1, -1}));
  EXPECT_TRUE(programmed(kPerfEventSelect0));
}

TEST_F(PowerEvents, GoingToSleepOrNoMainWindowChangesNothing) {
  ASSERT_TRUE(m_watcher.setUp(*m_harness.app, nullptr, m_bus.address()));
  m_logind.prepareForSleep(false);  // before the main window exists
  m_logind.prepareForSleep(true);
  runFor(300);
  // A window that has been destroyed is forgotten.
  auto* window = new QObject;
  m_watcher.setMainWindow(m_frame.get(), window);
  delete window;
  m_logind.prepareForSleep(false);
  runFor(300);
  EXPECT_EQ(m_frame->sequences(), 0);
  m_watcher.setMainWindow(m_frame.get());
  m_logind.prepareForSleep(true);
  // Signals arrive in order: once this resume ran, the others were handled.
  m_logind.prepareForSleep(false);
  ASSERT_TRUE(runUntil([&] { return m_frame->sequences() == 1; }));
  runFor(100);
  EXPECT_EQ(m_frame->sequences(), 1);
  EXPECT_EQ(m_frame->messages.front(), UM_SAVE_PROFILE);
}

TEST_F(PowerEvents, TearDownLetsGoOfAResumeThatWaitsForTheWindowThread) {
  ASSERT_TRUE(m_watcher.setUp(*m_harness.app, m_frame.get(), m_bus.address()));
  m_logind.prepareForSleep(false);
  // The user-interface thread is busy: the delivery waits for it.
  QThread::msleep(300);
  QElapsedTimer clock;
  clock.start();
  m_watcher.tearDown();
  EXPECT_LT(clock.elapsed(), 2000);
  EXPECT_FALSE(m_watcher.isOn());
  runFor(200);
  EXPECT_EQ(m_frame->sequences(), 0);
}

TEST(PowerEventSetUp, WithoutABusOrLogindTheWatcherIsOff) {
  auto machine = std::make_shared<sim::SimMachine>(*sim::SimMachine::preset("intel-snb"));
  sim::SimPlatform platform(machine);
  AppShell shell;
  CTarvelle2App app(platform, shell);
  PowerEventWatcher watcher;
  EXPECT_FALSE(watcher.setUp(app, nullptr, QStringLiteral("unix:path=/nonexistent/tv2-test-bus")));
  EXPECT_FALSE(watcher.isOn());

  PrivateBus bus;  // a bus, but no logind on it
  ASSERT_FALSE(bus.address().isEmpty());
  EXPECT_FALSE(watcher.setUp(app, nullptr, bus.address()));
  EXPECT_FALSE(watcher.isOn());

  StandInLogind logind(bus.address());
  EXPECT_TRUE(watcher.setUp(app, nullptr, bus.address()));
  EXPECT_TRUE(watcher.isOn());
  watcher.tearDown();
  EXPECT_FALSE(watcher.isOn());
}

}  // namespace
}  // namespace tv2
