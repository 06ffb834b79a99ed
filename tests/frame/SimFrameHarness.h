#pragma once

// The window program on a simulated machine: the real start-up with the
// window shell (scripted dialogs), the frame with both real views, then the
// frame's own pause so that the test drives the samplers and the display
// tick on the machine's manual clock.

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "app/CTarvelle2App.h"
#include "counters/model/SampleClock.h"
#include "cpu/ProcessorPin.h"
#include "frame/CMainFrame.h"
#include "frame/QtAppShell.h"
#include "platform/sim/SimMachine.h"
#include "platform/sim/SimPlatform.h"
#include "tests/frame/FrameTestSupport.h"

namespace tv2::testing {

class SimFrameHarness {
 public:
  explicit SimFrameHarness(const std::string& preset) : folder(freshFolder("simframe")) {
    SampleClock::reset();
    machine = std::make_shared<sim::SimMachine>(*sim::SimMachine::preset(preset));
    machine->useManualClock();
    // Energy totals of 0 read as "rail not implemented": let some time pass.
    machine->advanceMs(1000);
    platform = std::make_unique<sim::SimPlatform>(machine);
    platform->setProgramPath((folder / "tarvelle2").string());
    shell = std::make_unique<QtAppShell>(prompts);
    app = std::make_unique<CTarvelle2App>(*platform, *shell);
  }
  ~SimFrameHarness() {
    if (started) {
      shell->destroyMainFrame();
      app->ExitInstance();
    }
    app.reset();
    shell.reset();
    std::filesystem::remove_all(folder);
    SampleClock::reset();
  }
  SimFrameHarness(const SimFrameHarness&) = delete;
  SimFrameHarness& operator=(const SimFrameHarness&) = delete;

  std::string settingsPath() const { return (folder / "Tarvelle2.ini").string(); }

  // InitInstance (frame created, shown, startup profile applied), then the
  // pause command holds the samplers and the frame's timer.
  bool start() {
    started = app->InitInstance();
    if (!started || frame() == nullptr) return false;
    frame()->runCommand(kCmdPause);
    return !app->samplingRuns();
  }
  CMainFrame* frame() const { return shell->mainFrame(); }

  // Machine time and sample clock in 100 ms steps: counter passes every
  // 300 ms (pinned as their samplers are), usage passes every 500 ms, the
  // display tick every 100 ms.
  void run(uint32_t milliseconds) {
    for (uint32_t elapsed = 0; elapsed < milliseconds; elapsed += 100) {
      machine->advanceMs(100);
      m_clock += 100;
      if (m_clock % 300 == 0) {
        for (CProcessor_2* package : app->processors) {
          for (LogicalProcessorRecord& record : package->threads) {
            ProcessorPin pin(platform->processors(), app->groups.groupMode, record);
            ASSERT_TRUE(pin.pinned());
            app->engine().counterPass(record, *package);
          }
        }
      }
      if (m_clock % 500 == 0) {
        for (int32_t g = 0; g < app->groups.groupCount; ++g) app->engine().usagePass(g);
      }
      app->engine().tick();
    }
  }

  // What the left view shows, as its snapshot for the settings file.
  CProfile snapshot() {
    CProfile profile;
    frame()->sendMessage(UM_SAVE_PROFILE, 0, reinterpret_cast<intptr_t>(&profile));
    return profile;
  }

  std::filesystem::path folder;
  std::shared_ptr<sim::SimMachine> machine;
  std::unique_ptr<sim::SimPlatform> platform;
  ScriptedPrompts prompts;
  std::unique_ptr<QtAppShell> shell;
  std::unique_ptr<CTarvelle2App> app;
  bool started = false;

 private:
  uint32_t m_clock = 0;
};

}  // namespace tv2::testing
