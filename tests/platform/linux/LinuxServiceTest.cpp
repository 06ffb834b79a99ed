// The Linux service manager and device with the real driver host, in a
// private run folder (root only).

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>

#include "driver/protocol/DeviceRequests.h"
#include "platform/ErrorCodes.h"
#include "platform/linux/LinuxPlatform.h"
#include "platform/linux/LinuxServiceProcess.h"

namespace tv2 {
namespace {

namespace fs = std::filesystem;

class LinuxServiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::geteuid() != 0) GTEST_SKIP() << "the service manager is root's";
    char pattern[] = "/tmp/tv2-services-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    root = pattern;
    fs::create_directory(root + "/images");
    fs::permissions(root + "/images", fs::perms::owner_all);
    image = root + "/images/host";
    fs::copy_file(TV2_DRIVER_HOST, image);
    LinuxPlatformOptions options;
    options.runRoot = root + "/run";
    options.namePrefix = "tv2-service-test-";
    options.serviceArguments = {"--no-modprobe"};
    fs::create_directory(options.runRoot);
    platform = std::make_unique<LinuxPlatform>(options);
    uint32_t error = 0;
    manager = platform->openServiceManager("", &error);
    ASSERT_NE(manager, nullptr) << error;
  }
  void TearDown() override {
    if (manager) manager->deleteService("kzor138");
    manager.reset();
    platform.reset();
    if (!root.empty()) fs::remove_all(root);
  }
  std::string folder() const { return root + "/run/tarvelle2"; }
  pid_t hostPid() const { return LinuxServiceProcess::runningPid(folder() + "/kzor138.pid"); }
  uint32_t version() {
    uint32_t error = 0;
    std::unique_ptr<Device> device = platform->openDevice("\\\\.\\kzor138", &error);
    if (!device) return 0;
    uint8_t out[4] = {};
    uint32_t returned = 0;
    if (device->request(IOCTL_GET_VERSION, nullptr, 0, out, 4, &returned) != kOk || returned != 4) return 0;
    return out[0] | out[1] << 8 | out[2] << 16 | static_cast<uint32_t>(out[3]) << 24;
  }

  std::string root;
  std::string image;
  std::unique_ptr<LinuxPlatform> platform;
  std::unique_ptr<ServiceManager> manager;
};

TEST_F(LinuxServiceTest, RegistersStartsStopsAndDeletesTheHost) {
  struct stat info;
  ASSERT_EQ(::stat(folder().c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0700u);

  ASSERT_EQ(manager->createService("kzor138", "kzor138", image), kOk);
  EXPECT_EQ(manager->createService("kzor138", "kzor138", image), kErrorServiceExists);
  ServiceStatus status;
  EXPECT_EQ(manager->controlService("kzor138", kServiceControlInterrogate, &status), kErrorServiceNotActive);
  EXPECT_EQ(status.state, kServiceStopped);
  uint32_t error = 0;
  EXPECT_EQ(platform->openDevice("\\\\.\\kzor138", &error), nullptr);
  EXPECT_EQ(error, kErrorFileNotFound);

  ASSERT_EQ(manager->startService("kzor138"), kOk);
  EXPECT_EQ(manager->startService("kzor138"), kErrorServiceAlreadyRunning);
  EXPECT_EQ(manager->controlService("kzor138", kServiceControlInterrogate, &status), kOk);
  EXPECT_EQ(status.state, kServiceRunning);
  EXPECT_NE(hostPid(), 0);
  EXPECT_EQ(version(), kDriverVersion);
  // The running host needs no file: the image may go at once.
  fs::remove(image);
  EXPECT_EQ(version(), kDriverVersion);

  EXPECT_EQ(manager->controlService("kzor138", kServiceControlStop, &status), kOk);
  EXPECT_EQ(status.state, kServiceStopped);
  EXPECT_EQ(hostPid(), 0);
  EXPECT_FALSE(fs::exists(folder() + "/kzor138.sock"));
  EXPECT_FALSE(fs::exists(folder() + "/kzor138.pid"));
  EXPECT_EQ(manager->deleteService("kzor138"), kOk);
  EXPECT_EQ(manager->deleteService("kzor138"), kErrorServiceDoesNotExist);
  EXPECT_EQ(manager->startService("kzor138"), kErrorServiceDoesNotExist);
}

TEST_F(LinuxServiceTest, RunsOnlyAnImageRootOwnsInAFolderNobodyElseMayWrite) {
  auto startWith = [&](const std::string& path) {
    manager->deleteService("kzor138");
    EXPECT_EQ(manager->createService("kzor138", "kzor138", path), kOk);
    return manager->startService("kzor138");
  };
  EXPECT_EQ(startWith(root + "/images/missing"), kErrorFileNotFound);
  fs::permissions(image, fs::perms::owner_all | fs::perms::group_write);
  EXPECT_EQ(startWith(image), kErrorAccessDenied);
  fs::permissions(image, fs::perms::owner_all);
  ASSERT_EQ(::chown(image.c_str(), 65534, 65534), 0);
  EXPECT_EQ(startWith(image), kErrorAccessDenied);
  ASSERT_EQ(::chown(image.c_str(), 0, 0), 0);
  fs::permissions(root + "/images", fs::perms::all);
  EXPECT_EQ(startWith(image), kErrorAccessDenied);
  fs::permissions(root + "/images", fs::perms::owner_all);
  std::string garbage = root + "/images/garbage";
  std::ofstream(garbage) << "not a program";
  fs::permissions(garbage, fs::perms::owner_all);
  EXPECT_EQ(startWith(garbage), kErrorBadExeFormat);
  EXPECT_EQ(hostPid(), 0);
  EXPECT_EQ(manager->createService("../escape", "x", image), kErrorInvalidName);
  EXPECT_EQ(manager->createService("kzor139", "x", "relative/path"), kErrorInvalidParameter);
}

TEST_F(LinuxServiceTest, AKilledHostIsStoppedAndItsDeviceIsGone) {
  ASSERT_EQ(manager->createService("kzor138", "kzor138", image), kOk);
  ASSERT_EQ(manager->startService("kzor138"), kOk);
  pid_t pid = hostPid();
  ASSERT_GT(pid, 0);
  ASSERT_EQ(::kill(pid, SIGKILL), 0);
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (hostPid() != 0 && std::chrono::steady_clock::now() < end)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_EQ(hostPid(), 0) << "a dead (or unreaped) host does not count as running";
  // The kernel closes a killed process's socket a moment after the process
  // stops counting as running (its /proc entry goes first), so wait for it.
  uint32_t error = 0;
  std::unique_ptr<Device> device = platform->openDevice("\\\\.\\kzor138", &error);
  while (device != nullptr && std::chrono::steady_clock::now() < end) {
    device.reset();
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    device = platform->openDevice("\\\\.\\kzor138", &error);
  }
  EXPECT_EQ(device, nullptr);
  EXPECT_EQ(error, kErrorFileNotFound) << "the socket it left leads nowhere";
  ServiceStatus status;
  EXPECT_EQ(manager->controlService("kzor138", kServiceControlInterrogate, &status), kErrorServiceNotActive);
  ASSERT_EQ(manager->startService("kzor138"), kOk);
  EXPECT_EQ(version(), kDriverVersion);
  // Deleting a running service stops its host: nothing could stop it later.
  EXPECT_EQ(manager->deleteService("kzor138"), kOk);
  EXPECT_EQ(hostPid(), 0);
}

// A monitor killed before it could stop its host (kill -9): the host ends by
// itself once no device is open, and takes its socket, pid file and
// registration with it, so nothing of the dead run is left serving.
TEST_F(LinuxServiceTest, AHostWhoseInstallerWasKilledEndsOnceNoDeviceIsOpen) {
  ASSERT_EQ(manager->createService("kzor138", "kzor138", image), kOk);
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  pid_t installer = ::fork();
  ASSERT_GE(installer, 0);
  if (installer == 0) {
    ::close(ready[0]);
    char result = manager->startService("kzor138") == kOk ? 1 : 0;
    if (::write(ready[1], &result, 1) != 1) ::_exit(2);
    ::pause();  // until killed
    ::_exit(0);
  }
  ::close(ready[1]);
  char result = 0;
  ASSERT_EQ(::read(ready[0], &result, 1), 1);
  ::close(ready[0]);
  ASSERT_EQ(result, 1);
  pid_t host = hostPid();
  ASSERT_GT(host, 0);
  uint32_t error = 0;
  std::unique_ptr<Device> device = platform->openDevice("\\\\.\\kzor138", &error);
  ASSERT_NE(device, nullptr) << error;

  ASSERT_EQ(::kill(installer, SIGKILL), 0);
  int status = 0;
  ASSERT_EQ(::waitpid(installer, &status, 0), installer);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(hostPid(), host) << "an open device keeps the host";
  uint8_t out[4] = {};
  uint32_t returned = 0;
  EXPECT_EQ(device->request(IOCTL_GET_VERSION, nullptr, 0, out, 4, &returned), kOk);

  device.reset();
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (hostPid() != 0 && std::chrono::steady_clock::now() < end)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_EQ(hostPid(), 0) << "the orphaned host is still running";
  EXPECT_FALSE(fs::exists(folder() + "/kzor138.sock"));
  EXPECT_FALSE(fs::exists(folder() + "/kzor138.pid"));
  EXPECT_FALSE(fs::exists(folder() + "/kzor138.service"));
  ServiceStatus state;
  EXPECT_EQ(manager->controlService("kzor138", kServiceControlInterrogate, &state), kErrorServiceDoesNotExist);
}

TEST_F(LinuxServiceTest, OnlyRootsFolderOnThisComputer) {
  uint32_t error = 0;
  EXPECT_EQ(platform->openServiceManager("another-computer", &error), nullptr);
  EXPECT_EQ(error, 1722u);
  EXPECT_NE(platform->openServiceManager(platform->computerName(), &error), nullptr);
  ASSERT_EQ(::chown(folder().c_str(), 65534, 65534), 0);
  EXPECT_EQ(platform->openServiceManager("", &error), nullptr);
  EXPECT_EQ(error, kErrorAccessDenied) << "a folder someone else owns is not trusted";
  ASSERT_EQ(::chown(folder().c_str(), 0, 0), 0);
  EXPECT_EQ(platform->openDevice("kzor138", &error), nullptr);
  EXPECT_EQ(error, kErrorFileNotFound);
}

}  // namespace
}  // namespace tv2
