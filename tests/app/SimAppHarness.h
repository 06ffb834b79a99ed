#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

#include "app/AppShell.h"
#include "app/CTarvelle2App.h"
#include "app/ConfigurationViews.h"
#include "app/Configurations.h"
#include "counters/model/SampleClock.h"
#include "cpu/ProcessorPin.h"
#include "platform/sim/SimMachine.h"
#include "platform/sim/SimPlatform.h"

namespace tv2::testing {

// A shell whose message boxes answer from a script (NO once it runs out) and
// remember what they were asked.
class ScriptedShell : public AppShell {
 public:
  bool canAsk() const override { return interactive; }
  void notice(const std::string& line) override { notices.push_back(line); }
  struct Question {
    std::string text;
    std::string caption;
    uint32_t flags;
  };
  int messageBox(const std::string& text, const std::string& caption, uint32_t flags) override {
    asked.push_back({text, caption, flags});
    if (answers.empty()) return kIdNo;
    int answer = answers.front();
    answers.pop_front();
    return answer;
  }
  std::deque<int> answers;
  std::vector<Question> asked;
  std::vector<std::string> notices;
  bool interactive = true;  // false: a run without a window
};

// What a configuration switch told the views, in order.
class RecordingViews : public ConfigurationViews {
 public:
  void clearGraphSlots() override { calls.push_back("clear"); }
  void refreshCounterLists() override { calls.push_back("refresh"); }
  void assignGraph(int32_t counterIndex, int32_t slot) override {
    calls.push_back("assign");
    slots.emplace_back(counterIndex, slot);
  }
  std::vector<std::string> calls;
  std::vector<std::pair<int32_t, int32_t>> slots;  // (counter index, slot)
};

// The real program started on a simulated machine with a manual clock. The
// sampler threads are paused right after start-up; the test drives their
// passes and the display tick itself, so every figure belongs to a known
// stretch of machine time.
class SimAppHarness {
 public:
  explicit SimAppHarness(const std::string& preset) : SimAppHarness(*sim::SimMachine::preset(preset)) {}
  explicit SimAppHarness(const sim::SimMachineConfig& config) {
    SampleClock::reset();
    folder = std::filesystem::temp_directory_path() /
             ("tv2-counting-" + std::to_string(::getpid()) + "-" +
              ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(folder);
    machine = std::make_shared<sim::SimMachine>(config);
    machine->useManualClock();
    // Energy totals of 0 read as "rail not implemented": let some time pass.
    machine->advanceMs(1000);
    platform = std::make_unique<sim::SimPlatform>(machine);
    platform->setProgramPath((folder / "tarvelle2").string());
  }
  ~SimAppHarness() {
    if (app && started) app->ExitInstance();
    app.reset();
    std::filesystem::remove_all(folder);
    SampleClock::reset();
  }
  SimAppHarness(const SimAppHarness&) = delete;
  SimAppHarness& operator=(const SimAppHarness&) = delete;

  // InitInstance, then the samplers are held so that the test drives them.
  bool start() {
    app = std::make_unique<CTarvelle2App>(*platform, shell);
    started = app->InitInstance();
    if (started) app->PauseSampling();
    return started;
  }
  int exit() {
    started = false;
    return app->ExitInstance();
  }

  // Machine time and sample clock advance together in 100 ms ticks: counter
  // passes every 300 ms (each thread pinned to its processor, as its sampler
  // would be), usage passes every 500 ms, the display tick (and with it the
  // derived pass every 300 ms) every 100 ms.
  void run(uint32_t milliseconds) {
    for (uint32_t elapsed = 0; elapsed < milliseconds; elapsed += 100) {
      machine->advanceMs(100);
      m_clock += 100;
      if (m_clock % 300 == 0) counterPasses();
      if (m_clock % 500 == 0) {
        for (int32_t g = 0; g < app->groups.groupCount; ++g) app->engine().usagePass(g);
      }
      app->engine().tick();
    }
  }
  void counterPasses() {
    for (CProcessor_2* package : app->processors) {
      for (LogicalProcessorRecord& record : package->threads) {
        ProcessorPin pin(platform->processors(), app->groups.groupMode, record);
        ASSERT_TRUE(pin.pinned());
        app->engine().counterPass(record, *package);
      }
    }
  }
  // With the samplers running on their own threads for about `milliseconds`
  // of real time: ticks (and with them derived passes) every 100 ms of
  // machine time, and a configuration switch every seventh tick. Returns the
  // number of switches; the samplers are held again at the end.
  int32_t switchConfigurationsBesideLiveSamplers(int milliseconds) {
    RecordingViews views;
    int32_t switches = 0;
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    for (int tick = 1; std::chrono::steady_clock::now() < end; ++tick) {
      machine->advanceMs(100);
      app->OnTimerTick();
      if (tick % 7 == 0 && SelectConfiguration(*app, views, (switches + 1) % 2, tick % 2 == 0)) ++switches;
      std::this_thread::sleep_for(std::chrono::milliseconds(15));
    }
    app->PauseSampling();
    return switches;
  }

  int cpuOf(const LogicalProcessorRecord& record) const { return machine->cpuAt(record.group, record.index); }

  std::filesystem::path folder;
  std::shared_ptr<sim::SimMachine> machine;
  std::unique_ptr<sim::SimPlatform> platform;
  ScriptedShell shell;
  std::unique_ptr<CTarvelle2App> app;
  bool started = false;

 private:
  uint32_t m_clock = 0;
};

}  // namespace tv2::testing
