// The driver client on the Linux platform with the driver host embedded in
// the program: install from the resource, requests over the socket, a host
// killed mid-run, removal. Root only. The host reads a tree of plain files
// instead of /dev, so no real register is touched.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "hw/CKMDriver.h"
#include "hw/DriverErrors.h"
#include "platform/ErrorCodes.h"
#include "platform/linux/LinuxPlatform.h"
#include "platform/linux/LinuxServiceProcess.h"
#include "tests/platform/linux/HelperProcess.h"

namespace tv2 {
namespace {

namespace fs = std::filesystem;

class LinuxDriverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::geteuid() != 0) GTEST_SKIP() << "installing the driver host needs root";
    char pattern[] = "/tmp/tv2-client-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    root = pattern;
    fs::create_directories(root + "/run");
    fs::create_directories(root + "/base");
    fs::permissions(root + "/base", fs::perms::owner_all);
    int cpus = static_cast<int>(::sysconf(_SC_NPROCESSORS_CONF));
    for (int cpu = 0; cpu < cpus; ++cpu) putMsr(cpu, 0x186, 0x0000000200530076ull);

    LinuxPlatformOptions options;
    options.runRoot = root + "/run";
    prefix = "tv2-client-test-" + std::to_string(::getpid()) + "-";
    options.namePrefix = prefix;
    options.serviceArguments = {"--no-modprobe", "--dev-root", root + "/dev"};
    platform = std::make_unique<LinuxPlatform>(options);
    driver = std::make_unique<CKMDriver>(*platform);
    driver->SetImageResourceIds(106, 107, 108, 109);
  }
  void TearDown() override {
    if (driver) {
      driver->Release();
      driver->Uninstall(1, 1);
    }
    driver.reset();
    if (platform) platform->removeNamedMutex("Global\\kzor");
    platform.reset();
    if (!root.empty()) fs::remove_all(root);
  }

  void putMsr(int cpu, uint32_t index, uint64_t value) {
    std::string path = root + "/dev/cpu/" + std::to_string(cpu) + "/msr";
    fs::create_directories(fs::path(path).parent_path());
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, 0x1000), 0);
    ASSERT_EQ(::pwrite(fd, &value, 8, index), 8);
    ::close(fd);
  }
  std::string services() const { return root + "/run/tarvelle2"; }
  pid_t hostPid() const { return LinuxServiceProcess::runningPid(services() + "/kzor138.pid"); }

  std::string root;
  std::string prefix;
  std::unique_ptr<LinuxPlatform> platform;
  std::unique_ptr<CKMDriver> driver;
};

TEST_F(LinuxDriverTest, InstallsTheEmbeddedHostAndServesThroughIt) {
  uint32_t error = 0;
  ASSERT_EQ(driver->Initialize(platform->files().tempFolder().c_str(), &error, 1), 1) << error;
  EXPECT_EQ(driver->driverMutexName(), "Global\\kzor");
  EXPECT_TRUE(fs::exists(services() + "/kzor138.service"));
  EXPECT_NE(hostPid(), 0);
  // The image went once the host ran, and with it the private folder.
  EXPECT_FALSE(fs::exists(services() + "/kzor138"));

  ASSERT_EQ(driver->Acquire(&error, 2000), 1) << error;
  int32_t version = 0;
  EXPECT_EQ(driver->GetDriverVersion(&version), 1);
  EXPECT_EQ(version, 312);
  uint32_t high = 0;
  uint32_t low = 0;
  ASSERT_EQ(driver->ReadMsr(0x186, &high, &low), 1);
  EXPECT_EQ(high, 2u);
  EXPECT_EQ(low, 0x00530076u);
  EXPECT_EQ(driver->WriteMsr(0x10, 0, 0), 0) << "refused by the host";
  EXPECT_EQ(driver->ReadPortDword(0x80, &low), 0);
  driver->Release();
}

TEST_F(LinuxDriverTest, AHostKilledMidRunIsInstalledAgain) {
  uint32_t error = 0;
  ASSERT_EQ(driver->Initialize(platform->files().tempFolder().c_str(), &error, 1), 1) << error;
  pid_t first = hostPid();
  ASSERT_GT(first, 0);
  ASSERT_EQ(driver->Acquire(&error, 2000), 1);
  ASSERT_EQ(::kill(first, SIGKILL), 0);
  uint32_t high = 0;
  uint32_t low = 0;
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (hostPid() != 0 && std::chrono::steady_clock::now() < end)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_EQ(driver->ReadMsr(0x186, &high, &low), 0);
  EXPECT_EQ(low, 0xFFFFFFFFu);
  driver->Release();

  ASSERT_EQ(driver->Acquire(&error, 2000), 1) << error;
  pid_t second = hostPid();
  EXPECT_GT(second, 0);
  EXPECT_NE(second, first);
  int32_t version = 0;
  EXPECT_EQ(driver->GetDriverVersion(&version), 1);
  EXPECT_EQ(version, 312);
  driver->Release();
}

TEST_F(LinuxDriverTest, UninstallStopsTheHostAndForgetsTheLock) {
  uint32_t error = 0;
  ASSERT_EQ(driver->Initialize(platform->files().tempFolder().c_str(), &error, 1), 1) << error;
  EXPECT_EQ(driver->Uninstall(1, 1), 1);
  EXPECT_EQ(hostPid(), 0);
  EXPECT_FALSE(fs::exists(services() + "/kzor138.service"));
  EXPECT_FALSE(fs::exists(services() + "/kzor138.sock"));
  EXPECT_EQ(driver->Acquire(&error, 0), 0);
  EXPECT_EQ(error, DRIVER_ERR_NO_MUTEX);
}

TEST_F(LinuxDriverTest, ALockHeldOrLeftByAnotherProcess) {
  uint32_t error = 0;
  ASSERT_EQ(driver->Initialize(platform->files().tempFolder().c_str(), &error, 1), 1) << error;
  auto holder = test::HelperProcess::start({"mutex", services(), prefix, "Global\\kzor"});
  ASSERT_NE(holder, nullptr);
  ASSERT_EQ(holder->readLine(5000), "owned 0");
  EXPECT_EQ(driver->Acquire(&error, 0), 0);
  EXPECT_EQ(error, kWaitTimeout);
  EXPECT_EQ(driver->Acquire(&error, 50), 0);
  EXPECT_EQ(error, kWaitTimeout);
  // Killed while holding it: the next Acquire is told, and gives it back.
  ASSERT_TRUE(holder->killAndReap());
  EXPECT_EQ(driver->Acquire(&error, 1000), 0);
  EXPECT_EQ(error, kWaitAbandoned);
  ASSERT_EQ(driver->Acquire(&error, 0), 1) << error;
  int32_t version = 0;
  EXPECT_EQ(driver->GetDriverVersion(&version), 1);
  EXPECT_EQ(version, 312);
  driver->Release();
}

}  // namespace
}  // namespace tv2
