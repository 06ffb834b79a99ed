#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "hw/CKMDriver.h"
#include "platform/sim/SimMachine.h"
#include "platform/sim/SimPlatform.h"
#include "platform/sim/SimResourceService.h"

namespace tv2::test {

// A simulated machine with the driver client of one process on it. The
// machine's clock is manual, so the client's settling pauses cost nothing.
class DriverFixture : public ::testing::Test {
 protected:
  static constexpr const char* kBase = "/sim/user/";
  static constexpr const char* kFolder = "/sim/user/kzor138/";
  static constexpr const char* kImagePath = "/sim/user/kzor138/kzor138_x64.sys";
  static constexpr const char* kTemp = "/sim/tmp/";
  static constexpr const char* kService = "kzor138";
  static constexpr const char* kLock = "Global\\kzor";

  void SetUp() override { useMachine("intel-snb"); }

  void useMachine(const std::string& preset) {
    driver.reset();
    platform.reset();
    auto config = sim::SimMachine::preset(preset);
    ASSERT_TRUE(config.has_value());
    machine = std::make_shared<sim::SimMachine>(*config);
    machine->useManualClock();
    platform = std::make_unique<sim::SimPlatform>(machine);
    platform->setTempFolder(kTemp);
    driver = std::make_unique<CKMDriver>(*platform);
    driver->SetImageResourceIds(106, 107, 108, 109);
  }

  sim::SimSystemServices& system() { return platform->system(); }
  sim::SimServiceControl& services() { return platform->system().services(); }
  sim::SimFileSystem& files() { return platform->system().files(); }

  // Starts the driver as start-up does; fails the test when it cannot.
  void initialize() {
    uint32_t error = 0xDEAD;
    ASSERT_EQ(driver->Initialize(kBase, &error, 1), 1) << "error " << error;
    ASSERT_EQ(error, 0u);
  }

  std::vector<uint8_t> hostImage() const {
    auto image = sim::SimResourceService::hostImage();
    return std::vector<uint8_t>(image.begin(), image.end());
  }

  std::shared_ptr<sim::SimMachine> machine;
  std::unique_ptr<sim::SimPlatform> platform;
  std::unique_ptr<CKMDriver> driver;
};

}  // namespace tv2::test
