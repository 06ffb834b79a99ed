// The simulated service manager, driver host, device and file system: the
// behaviour the driver client's tests rely on.

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "driver/protocol/DeviceRequests.h"
#include "platform/ErrorCodes.h"
#include "platform/sim/SimMachine.h"
#include "platform/sim/SimPlatform.h"
#include "tests/hw/FakeHardware.h"

namespace tv2::sim {
namespace {

constexpr const char* kImage = "/sim/run/kzor138_x64.sys";
constexpr const char* kDevice = "\\\\.\\kzor138";

class SimDriverServicesTest : public ::testing::Test {
 protected:
  SimDriverServicesTest()
      : machine(std::make_shared<SimMachine>(*SimMachine::preset("intel-snb"))), platform(machine) {}

  std::vector<uint8_t> image() const {
    auto bytes = SimResourceService::hostImage();
    return std::vector<uint8_t>(bytes.begin(), bytes.end());
  }
  std::unique_ptr<ServiceManager> manager() {
    uint32_t error = 0;
    auto opened = platform.openServiceManager("", &error);
    EXPECT_NE(opened, nullptr) << error;
    return opened;
  }
  SimServiceControl& services() { return platform.system().services(); }

  std::shared_ptr<SimMachine> machine;
  SimPlatform platform;
};

TEST_F(SimDriverServicesTest, StartsOnlyTheProgramsOwnImage) {
  auto scm = manager();
  ASSERT_EQ(scm->createService("kzor138", "kzor138", kImage), kOk);
  EXPECT_EQ(scm->startService("kzor138"), kErrorFileNotFound);
  std::vector<uint8_t> other = image();
  other[0] = 0;
  platform.system().files().putFile(kImage, other);
  EXPECT_EQ(scm->startService("kzor138"), kErrorBadExeFormat);
  platform.system().files().putFile(kImage, image(), false);
  EXPECT_EQ(scm->startService("kzor138"), kErrorAccessDenied) << "someone else's file";
  platform.system().files().putFile(kImage, image());
  platform.system().files().setFolderShared("/sim/run", true);
  EXPECT_EQ(scm->startService("kzor138"), kErrorAccessDenied) << "a folder others may write";
  platform.system().files().setFolderShared("/sim/run", false);
  EXPECT_EQ(scm->startService("kzor138"), kOk);
  EXPECT_EQ(scm->startService("kzor138"), kErrorServiceAlreadyRunning);
  EXPECT_EQ(services().hostsStarted(), 1);
}

TEST_F(SimDriverServicesTest, AStopWaitsForTheOpenDevice) {
  platform.system().files().putFile(kImage, image());
  services().registerService("kzor138", kImage, true);
  uint32_t error = 0;
  std::unique_ptr<Device> device = platform.openDevice(kDevice, &error);
  ASSERT_NE(device, nullptr) << error;
  auto scm = manager();
  ServiceStatus status;
  EXPECT_EQ(scm->controlService("kzor138", kServiceControlStop, &status), kOk);
  EXPECT_EQ(status.state, kServiceStopPending);
  EXPECT_EQ(platform.openDevice(kDevice, &error), nullptr) << "no new device while stopping";
  uint8_t out[4];
  uint32_t returned = 0;
  EXPECT_EQ(device->request(IOCTL_GET_VERSION, nullptr, 0, out, 4, &returned), kOk) << "the open one still works";
  device.reset();
  EXPECT_EQ(scm->controlService("kzor138", kServiceControlInterrogate, &status), kErrorServiceNotActive);
  EXPECT_EQ(status.state, kServiceStopped);
}

TEST_F(SimDriverServicesTest, AKilledHostFailsItsDevicesAndTheDeviceIsGone) {
  services().registerService("kzor138", kImage, true);
  uint32_t error = 0;
  std::unique_ptr<Device> device = platform.openDevice(kDevice, &error);
  ASSERT_NE(device, nullptr);
  platform.system().killHost("kzor138");
  uint8_t out[4];
  uint32_t returned = 7;
  EXPECT_EQ(device->request(IOCTL_GET_VERSION, nullptr, 0, out, 4, &returned), kErrorDeviceNotConnected);
  EXPECT_EQ(returned, 0u);
  EXPECT_EQ(platform.openDevice(kDevice, &error), nullptr);
  EXPECT_EQ(error, kErrorFileNotFound);
  EXPECT_TRUE(services().serviceExists("kzor138"));
}

TEST_F(SimDriverServicesTest, RequestsCarryTheCallersProcessor) {
  test::FakeHardware fake;
  fake.msrs[0x10] = 42;
  platform.system().setHardware(fake);
  services().registerService("kzor138", kImage, true);
  uint32_t error = 0;
  std::unique_ptr<Device> device = platform.openDevice(kDevice, &error);
  ASSERT_NE(device, nullptr);
  ASSERT_TRUE(platform.processors().setThreadGroupAffinity(GroupAffinity{uint64_t{1} << 5, 0}));
  fake.takeLog();
  uint8_t in[4] = {0x10, 0, 0, 0};
  uint8_t out[8] = {};
  uint32_t returned = 0;
  ASSERT_EQ(device->request(IOCTL_READ_MSR, in, 4, out, 8, &returned), kOk);
  EXPECT_EQ(returned, 8u);
  EXPECT_EQ(out[0], 42);
  EXPECT_EQ(fake.takeLog(), std::vector<std::string>{"rdmsr 5 10"});
}

TEST_F(SimDriverServicesTest, ServiceManagerAndSystemFaults) {
  uint32_t error = 0;
  EXPECT_EQ(platform.openServiceManager("ANOTHER", &error), nullptr);
  EXPECT_EQ(error, 1722u);
  EXPECT_NE(platform.openServiceManager(platform.computerName(), &error), nullptr);
  platform.system().setServiceManagerError(kErrorAccessDenied);
  EXPECT_EQ(platform.openServiceManager("", &error), nullptr);
  EXPECT_EQ(error, kErrorAccessDenied);

  SystemVersion version;
  ASSERT_TRUE(platform.systemVersion(&version));
  EXPECT_EQ(version.platformId, SystemVersion::kPlatformNt);
  platform.system().setSystemVersionReadable(false);
  EXPECT_FALSE(platform.systemVersion(&version));

  // Deleting a running service ends its host.
  platform.system().setServiceManagerError(0);
  services().registerService("kzor138", kImage, true);
  EXPECT_EQ(manager()->deleteService("kzor138"), kOk);
  EXPECT_EQ(platform.openDevice(kDevice, &error), nullptr);
}

TEST_F(SimDriverServicesTest, FoldersRemovedAreGoneUntilMadeAgain) {
  FileSystemService& files = platform.fileSystem();
  EXPECT_EQ(files.createDirectory("/sim/a/"), kOk);
  EXPECT_EQ(files.createDirectory("/sim/a"), kErrorAlreadyExists);
  const uint8_t byte = 1;
  ASSERT_EQ(files.writeFile("/sim/a/file", &byte, 1, true), kOk);
  EXPECT_EQ(files.removeDirectory("/sim/a/"), kErrorDirectoryNotEmpty);
  EXPECT_EQ(files.deleteFile("/sim/a/file"), kOk);
  EXPECT_EQ(files.removeDirectory("/sim/a/"), kOk);
  EXPECT_EQ(files.writeFile("/sim/a/file", &byte, 1, true), kErrorFileNotFound);
  EXPECT_EQ(files.createDirectory("/sim/a/"), kOk);
  EXPECT_EQ(files.writeFile("/sim/a/file", &byte, 1, true), kOk);
  std::span<const uint8_t> resource;
  EXPECT_EQ(platform.resources().find(106, &resource), kErrorResourceDataNotFound);
  EXPECT_EQ(platform.resources().find(110, &resource), kErrorResourceNameNotFound);
  EXPECT_EQ(platform.resources().find(108, &resource), kOk);
}

}  // namespace
}  // namespace tv2::sim
