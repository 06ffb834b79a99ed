#pragma once

// A simulated machine with the driver client installed on its simulated
// device, discovery run and the driver lock held: the state start-up is in
// when it reads capabilities and scans the ACPI tables.

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "counters/model/CTList.h"
#include "cpu/CProcessor_2.h"
#include "cpu/ProcessorDiscovery.h"
#include "cpu/ProcessorGroups.h"
#include "hw/CKMDriver.h"
#include "platform/sim/SimMachine.h"
#include "platform/sim/SimPlatform.h"

namespace tv2::testing {

struct SimDriverMachine {
  explicit SimDriverMachine(const sim::SimMachineConfig& config, bool manualClock = true) {
    machine = std::make_shared<sim::SimMachine>(config);
    if (manualClock) machine->useManualClock();
    platform = std::make_unique<sim::SimPlatform>(machine);
    DetectProcessors(platform->processors(), processors, groups);
    driver = std::make_unique<CKMDriver>(*platform);
    driver->SetImageResourceIds(106, 107, 108, 109);
    uint32_t error = 0;
    std::string temp = platform->files().tempFolder();
    initialised = driver->Initialize(temp.c_str(), &error, 1) == 1;
    locked = initialised && driver->Acquire(&error, 2000) == 1;
  }
  ~SimDriverMachine() {
    if (locked) driver->Release();
    if (initialised) driver->Uninstall(1, 1);
    processors.DeleteAll();
  }

  std::shared_ptr<sim::SimMachine> machine;
  std::unique_ptr<sim::SimPlatform> platform;
  CTList<CProcessor_2> processors;
  ProcessorGroups groups;
  std::unique_ptr<CKMDriver> driver;
  bool initialised = false;
  bool locked = false;
};

inline sim::SimMachineConfig presetConfig(const char* name) {
  auto config = sim::SimMachine::preset(name);
  EXPECT_TRUE(config.has_value()) << name;
  return config.value_or(sim::SimMachineConfig{});
}

}  // namespace tv2::testing
