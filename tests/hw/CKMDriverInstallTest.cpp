// The driver client's life cycle on the simulated service manager: install,
// the driver lock, reinstall and removal, with their failures.

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "hw/DriverErrors.h"
#include "platform/ErrorCodes.h"
#include "tests/hw/DriverFixture.h"

namespace tv2::test {
namespace {

using Calls = std::vector<std::string>;

bool lockIsFree(sim::SimPlatform& other, const std::string& name) {
  auto lock = other.createNamedMutex(name, nullptr, nullptr);
  if (!lock || lock->wait(0) != kWaitObject0) return false;
  lock->release();
  return true;
}

class DriverInstallTest : public DriverFixture {};

TEST_F(DriverInstallTest, InstallsFromThePrivateFolderAndLeavesNoFileBehind) {
  initialize();
  EXPECT_EQ(driver->platformId(), SystemVersion::kPlatformNt);
  EXPECT_EQ(driver->driverFolder(), kFolder);
  EXPECT_EQ(driver->driverFileName(), "kzor138_x64.sys");
  EXPECT_EQ(driver->serviceName(), kService);
  EXPECT_EQ(services().calls(), (Calls{"create kzor138", "start kzor138"}));
  EXPECT_EQ(services().imagePath(kService), kImagePath);
  EXPECT_EQ(services().serviceState(kService), kServiceRunning);
  // The running host needs neither its file nor the folder.
  EXPECT_FALSE(files().fileExists(kImagePath));
  EXPECT_FALSE(files().folderExists(kFolder));
  EXPECT_FALSE(driver->deviceOpen());

  uint32_t error = 0;
  ASSERT_EQ(driver->Acquire(&error, 0), 1);
  int32_t version = 0;
  EXPECT_EQ(driver->GetDriverVersion(&version), 1);
  EXPECT_EQ(version, 312);
  driver->Release();
}

struct VersionCase {
  uint32_t major;
  uint32_t minor;
  const char* lockName;
};

class DriverLockNameTest : public DriverFixture, public ::testing::WithParamInterface<VersionCase> {};

TEST_P(DriverLockNameTest, GlobalPrefixOnlyFromVersion51) {
  system().setSystemVersion(SystemVersion{SystemVersion::kPlatformNt, GetParam().major, GetParam().minor});
  initialize();
  EXPECT_EQ(driver->driverMutexName(), GetParam().lockName);
  // The lock really is the one of that name: another holder blocks it.
  platform->holdMutexElsewhere(GetParam().lockName, true);
  uint32_t error = 0;
  EXPECT_EQ(driver->Acquire(&error, 0), 0);
  EXPECT_EQ(error, kWaitTimeout);
  EXPECT_FALSE(driver->deviceOpen());
  platform->holdMutexElsewhere(GetParam().lockName, false);
}

INSTANTIATE_TEST_SUITE_P(Versions, DriverLockNameTest,
                         ::testing::Values(VersionCase{4, 0, "kzor"}, VersionCase{5, 0, "kzor"},
                                           VersionCase{5, 1, "Global\\kzor"}, VersionCase{6, 1, "Global\\kzor"},
                                           VersionCase{10, 0, "Global\\kzor"}));

TEST_F(DriverInstallTest, RefusesEveryFamilyButNtAndClosesTheLock) {
  for (bool readable : {true, false}) {
    system().setSystemVersion(SystemVersion{SystemVersion::kPlatformWindows9x, 4, 10});
    system().setSystemVersionReadable(readable);
    uint32_t error = 0;
    EXPECT_EQ(driver->Initialize(kBase, &error, 1), 0);
    EXPECT_EQ(error, DRIVER_ERR_PLATFORM);
    EXPECT_EQ(driver->platformId(), readable ? SystemVersion::kPlatformWindows9x : -1);
    EXPECT_FALSE(driver->hasDriverMutex());
    EXPECT_EQ(driver->Acquire(&error, 0), 0);
    EXPECT_EQ(error, DRIVER_ERR_NO_MUTEX);
    driver = std::make_unique<CKMDriver>(*platform);
    driver->SetImageResourceIds(106, 107, 108, 109);
  }
  EXPECT_TRUE(services().calls().empty());
}

TEST_F(DriverInstallTest, MissingLockOrImageFailsWithTheClientCodes) {
  platform->setCreateMutexError(kErrorAccessDenied);
  uint32_t error = 0;
  EXPECT_EQ(driver->Initialize(kBase, &error, 1), 0);
  EXPECT_EQ(error, DRIVER_ERR_NO_MUTEX);
  platform->setCreateMutexError(0);

  driver->SetImageResourceIds(106, 107, -1, 109);
  EXPECT_EQ(driver->Initialize(kBase, &error, 1), 0);
  EXPECT_EQ(error, DRIVER_ERR_NO_IMAGE);
  EXPECT_FALSE(services().serviceExists(kService));

  driver->SetImageResourceIds(106, 107, 108, 109);
  system().resources().setResource(108, {});
  EXPECT_EQ(driver->Initialize(kBase, &error, 1), 0);
  EXPECT_EQ(error, kErrorResourceDataNotFound);
  EXPECT_EQ(files().writeCount(), 0);
}

TEST_F(DriverInstallTest, ReusesOnlyTheProgramsOwnImage) {
  // Our own copy from an earlier run: used as it is.
  files().putFile(kImagePath, hostImage());
  initialize();
  EXPECT_EQ(files().writeCount(), 0);
  EXPECT_EQ(services().serviceState(kService), kServiceRunning);
}

TEST_F(DriverInstallTest, ReplacesAPlantedImage) {
  struct Planted {
    std::vector<uint8_t> bytes;
    bool ours;
    bool regular;
  };
  std::vector<uint8_t> other = hostImage();
  other.back() ^= 1;
  for (const Planted& planted : {Planted{hostImage(), false, true}, Planted{other, true, true},
                                 Planted{hostImage(), true, false}}) {
    useMachine("intel-snb");
    files().putFile(kImagePath, planted.bytes, planted.ours, planted.regular);
    initialize();
    EXPECT_EQ(files().writeCount(), 1);
    EXPECT_EQ(services().hostsStarted(), 1);
  }
}

TEST_F(DriverInstallTest, NeverWritesIntoAFolderOthersMayWrite) {
  files().setFolderShared("/sim/user/kzor138", true);
  initialize();
  // The private temporary folder took the image instead.
  EXPECT_EQ(driver->driverFolder(), kTemp);
  EXPECT_EQ(services().imagePath(kService), "/sim/tmp/kzor138_x64.sys");
  EXPECT_FALSE(files().fileExists("/sim/tmp/kzor138_x64.sys"));

  useMachine("intel-snb");
  files().setFolderShared("/sim/user/kzor138", true);
  files().setFolderShared("/sim/tmp", true);
  uint32_t error = 0;
  EXPECT_EQ(driver->Initialize(kBase, &error, 1), 0);
  EXPECT_EQ(error, kErrorAccessDenied);
  EXPECT_EQ(files().writeCount(), 0);
  EXPECT_EQ(services().hostsStarted(), 0);
}

TEST_F(DriverInstallTest, ExistingOrRunningServiceCountsAsSuccess) {
  services().registerService(kService, kImagePath, false);
  initialize();
  EXPECT_EQ(services().calls(), (Calls{"create kzor138", "start kzor138"}));
  EXPECT_EQ(services().serviceState(kService), kServiceRunning);

  // Running, but its device cannot be opened once: creating (1073) and
  // starting (1056) both count as success and the second open works.
  system().setDeviceOpenError(kErrorFileNotFound, 1);
  uint32_t error = 0;
  ASSERT_EQ(driver->Acquire(&error, 0), 1) << error;
  driver->Release();
  Calls calls = services().calls();
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "delete kzor138"), 0);
  EXPECT_EQ(services().hostsStarted(), 1);
}

TEST_F(DriverInstallTest, StartFailureDeletesTheService) {
  services().setStartError(1058);
  uint32_t error = 0;
  EXPECT_EQ(driver->Initialize(kBase, &error, 1), 0);
  EXPECT_EQ(error, 1058u);
  Calls calls = services().calls();
  ASSERT_GE(calls.size(), 3u);
  EXPECT_EQ(Calls(calls.begin(), calls.begin() + 3), (Calls{"create kzor138", "start kzor138", "delete kzor138"}));
  EXPECT_FALSE(services().serviceExists(kService));
  EXPECT_FALSE(files().fileExists(kImagePath));
  EXPECT_FALSE(driver->hasDriverMutex());

  // A creation that fails is not followed by a start.
  useMachine("intel-snb");
  services().setCreateError(1072);
  EXPECT_EQ(driver->Initialize(kBase, &error, 1), 0);
  EXPECT_EQ(error, 1072u);
  calls = services().calls();
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "start kzor138"), 0);
}

TEST_F(DriverInstallTest, WithoutPrivilegeOnlyARunningDriverCanBeUsed) {
  system().setServiceManagerError(kErrorAccessDenied);
  uint32_t error = 0;
  EXPECT_EQ(driver->Initialize(kBase, &error, 1), 0);
  EXPECT_EQ(error, kErrorAccessDenied);
  EXPECT_EQ(files().writeCount(), 0);

  // The device is opened even when the service manager is out of reach; an
  // open refused for another reason is not an invitation to install.
  services().registerService(kService, kImagePath, true);
  initialize();
  system().setDeviceOpenError(kErrorAccessDenied);
  EXPECT_EQ(driver->Acquire(&error, 0), 0);
  EXPECT_EQ(error, kErrorAccessDenied);
  sim::SimPlatform other(machine);
  EXPECT_TRUE(lockIsFree(other, kLock));
}

TEST_F(DriverInstallTest, AVanishedDriverIsInstalledAgainAtTheNextAcquire) {
  initialize();
  uint32_t error = 0;
  ASSERT_EQ(driver->Acquire(&error, 0), 1);
  services().killHost(kService);
  uint32_t high = 0;
  uint32_t low = 0;
  EXPECT_EQ(driver->ReadMsr(0x10, &high, &low), 0);
  EXPECT_EQ(high, 0xFFFFFFFFu);
  EXPECT_EQ(low, 0xFFFFFFFFu);
  driver->Release();

  ASSERT_EQ(driver->Acquire(&error, 0), 1) << error;
  EXPECT_EQ(services().hostsStarted(), 2);
  // The first install removed the private folder; the second made it again.
  EXPECT_EQ(files().writeCount(), 2);
  EXPECT_EQ(services().imagePath(kService), kImagePath);
  EXPECT_EQ(driver->ReadMsr(0x10, &high, &low), 1);
  driver->Release();
}

TEST_F(DriverInstallTest, AbandonedLockFailsOnceAndUninstallSkipsTheService) {
  initialize();
  platform->abandonMutex(kLock);
  uint32_t error = 0;
  EXPECT_EQ(driver->Acquire(&error, 0), 0);
  EXPECT_EQ(error, kWaitAbandoned);
  sim::SimPlatform other(machine);
  EXPECT_TRUE(lockIsFree(other, kLock)) << "a failed Acquire must not keep the lock";
  ASSERT_EQ(driver->Acquire(&error, 0), 1);
  driver->Release();

  size_t callsBefore = services().calls().size();
  platform->abandonMutex(kLock);
  EXPECT_EQ(driver->Uninstall(1, 1), 0);
  EXPECT_EQ(services().calls().size(), callsBefore);
  EXPECT_EQ(services().serviceState(kService), kServiceRunning);
  EXPECT_FALSE(driver->hasDriverMutex());
  EXPECT_TRUE(lockIsFree(other, kLock));
  EXPECT_EQ(driver->Acquire(&error, 0), 0);
  EXPECT_EQ(error, DRIVER_ERR_NO_MUTEX);
}

// A wait that fails outright reports the system's reason, not all ones, and
// leaves nothing held.
TEST_F(DriverInstallTest, FailedLockWaitReportsTheSystemError) {
  initialize();
  platform->failMutexWaits(kLock, kErrorAccessDenied);
  uint32_t error = 0;
  EXPECT_EQ(driver->Acquire(&error, 0), 0);
  EXPECT_EQ(error, kErrorAccessDenied);
  EXPECT_EQ(driver->Acquire(&error, 2000), 0);
  EXPECT_EQ(error, kErrorAccessDenied);
  EXPECT_FALSE(driver->deviceOpen());
  platform->failMutexWaits(kLock, 0);
  ASSERT_EQ(driver->Acquire(&error, 0), 1) << error;
  driver->Release();
}

TEST_F(DriverInstallTest, UninstallStopsAndDeletesUntilInitializeRunsAgain) {
  initialize();
  EXPECT_EQ(driver->Uninstall(1, 1), 1);
  EXPECT_FALSE(services().serviceExists(kService));
  EXPECT_FALSE(driver->hasDriverMutex());
  uint32_t error = 0;
  EXPECT_EQ(driver->Acquire(&error, 0), 0);
  EXPECT_EQ(error, DRIVER_ERR_NO_MUTEX);
  initialize();
  EXPECT_EQ(driver->Acquire(&error, 0), 1);
  driver->Release();
}

TEST_F(DriverInstallTest, UninstallClosesTheDeviceAStopWaitsFor) {
  initialize();
  uint32_t error = 0;
  ASSERT_EQ(driver->Acquire(&error, 0), 1);
  size_t before = services().calls().size();
  // Still holding: the first stop leaves the driver stop-pending because of
  // our open device; the client closes it and stops again.
  EXPECT_EQ(driver->Uninstall(1, 1), 1);
  Calls calls = services().calls();
  EXPECT_EQ(Calls(calls.begin() + static_cast<long>(before), calls.end()),
            (Calls{"control kzor138 4", "control kzor138 1", "control kzor138 1", "delete kzor138"}));
  EXPECT_FALSE(driver->deviceOpen());
  sim::SimPlatform other(machine);
  EXPECT_TRUE(lockIsFree(other, kLock)) << "Uninstall must not leave the lock held";
}

TEST_F(DriverInstallTest, OnlyTheHolderReleasesAndNestedAcquiresKeepTheDevice) {
  initialize();
  uint32_t error = 0;
  ASSERT_EQ(driver->Acquire(&error, 0), 1);
  ASSERT_EQ(driver->Acquire(&error, 0), 1);
  driver->Release();
  int32_t version = 0;
  EXPECT_EQ(driver->GetDriverVersion(&version), 1) << "the outer level still has the device";

  // Start-up's shutdown calls Release without an Acquire: from a thread that
  // does not hold the lock it changes nothing.
  std::thread([&] { driver->Release(); }).join();
  EXPECT_EQ(driver->GetDriverVersion(&version), 1);
  driver->Release();
  EXPECT_EQ(driver->GetDriverVersion(&version), 0);
  EXPECT_EQ(version, -1);
  sim::SimPlatform other(machine);
  EXPECT_TRUE(lockIsFree(other, kLock));
}

}  // namespace
}  // namespace tv2::test
