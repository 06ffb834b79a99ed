#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>

#include "counters/CounterBuildContext.h"
#include "counters/model/CTList.h"
#include "cpu/CProcessor_2.h"
#include "cpu/ProcessorCapabilities.h"
#include "cpu/ProcessorDiscovery.h"
#include "cpu/ProcessorGroups.h"
#include "cpu/ProcessorPin.h"
#include "hw/CKMDriver.h"
#include "hw/CTimer.h"
#include "platform/sim/SimMachine.h"
#include "platform/sim/SimPlatform.h"

namespace tv2::testing {

// A simulated machine on a manual clock with the driver client installed on
// its simulated host, the processors discovered and their capabilities read,
// and the driver lock held by the test thread (counters read only under it).
class SimDriverHarness {
 public:
  explicit SimDriverHarness(const std::string& preset) : SimDriverHarness(*sim::SimMachine::preset(preset)) {}
  explicit SimDriverHarness(const sim::SimMachineConfig& config) {
    machine = std::make_shared<sim::SimMachine>(config);
    machine->useManualClock();
    // Some machine time first: energy and time totals of 0 read as "no reading".
    machine->advanceMs(1000);
    platform = std::make_unique<sim::SimPlatform>(machine);
    driver = std::make_unique<CKMDriver>(*platform);
    driver->SetImageResourceIds(106, 107, 108, 109);  // the program's driver images
    uint32_t error = 0;
    std::string folder = platform->files().tempFolder();
    initialised = driver->Initialize(folder.c_str(), &error, 1) == 1;
    EXPECT_TRUE(initialised) << "driver initialisation failed: " << error;
    locked = initialised && driver->Acquire(&error, 2000) == 1;
    EXPECT_TRUE(locked) << "driver lock: " << error;
    DetectProcessors(platform->processors(), processors, groups);
    if (locked) ReadProcessorCapabilities(*driver, platform->processors(), groups.groupMode, processors);
  }
  ~SimDriverHarness() {
    processors.DeleteAll();
    if (locked) driver->Release();
    if (initialised) driver->Uninstall(1, 1);
  }
  SimDriverHarness(const SimDriverHarness&) = delete;
  SimDriverHarness& operator=(const SimDriverHarness&) = delete;

  CProcessor_2& package(int32_t i = 0) { return *processors.At(i); }
  CounterBuildContext context() { return CounterBuildContext{driver.get(), platform.get(), groups.groupMode}; }
  std::unique_ptr<ProcessorPin> pin(const LogicalProcessorRecord& record) {
    return std::make_unique<ProcessorPin>(platform->processors(), groups.groupMode, record);
  }
  // The machine's processor number of a record (the OS index).
  int cpuOf(const LogicalProcessorRecord& record) const { return machine->cpuAt(record.group, record.index); }

  // A configuration register read straight from the hardware, bypassing the
  // program (AMD parts: through the memory-mapped window).
  uint32_t configRegister(int bus, int device, int function, uint32_t reg) {
    uint64_t address = machine->config().firmware.configWindowBase + ((static_cast<uint64_t>(bus) << 20) | (static_cast<uint64_t>(device) << 15) |
                                        (static_cast<uint64_t>(function) << 12) | reg);
    uint32_t value = 0;
    EXPECT_TRUE(machine->hardware().readPhysical(address, 4, reinterpret_cast<uint8_t*>(&value)));
    return value;
  }
  uint64_t msr(int cpu, uint32_t index) {
    uint64_t value = 0;
    EXPECT_TRUE(machine->hardware().readMsr(cpu, index, &value));
    return value;
  }

  std::shared_ptr<sim::SimMachine> machine;
  std::unique_ptr<sim::SimPlatform> platform;
  std::unique_ptr<CKMDriver> driver;
  CTList<CProcessor_2> processors;
  ProcessorGroups groups;
  bool initialised = false;
  bool locked = false;
};

// A time base whose reading the test sets.
class ManualTimer : public CTimer {
 public:
  ManualTimer(double ticksPerSecond, double wrap) : CTimer(nullptr, ticksPerSecond, wrap) {}
  double ReadTicks() override { return now; }
};

}  // namespace tv2::testing
