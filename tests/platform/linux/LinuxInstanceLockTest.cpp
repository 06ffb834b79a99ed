#include "platform/linux/LinuxInstanceLock.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <string>

#include "HelperProcess.h"
#include "platform/ErrorCodes.h"
#include "platform/linux/LinuxPlatform.h"

namespace tv2 {
namespace {

std::string uniquePrefix() { return "tv2test-" + std::to_string(getpid()) + "-"; }

TEST(LinuxInstanceLock, SecondHolderIsRefusedUntilFirstLetsGo) {
  std::string prefix = uniquePrefix();
  uint32_t error = 0xDEAD;
  std::unique_ptr<LinuxInstanceLock> first = LinuxInstanceLock::acquire(prefix, "same", &error);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(error, kOk);
  EXPECT_EQ(LinuxInstanceLock::acquire(prefix, "same", &error), nullptr);
  EXPECT_EQ(error, kErrorAlreadyExists);
  // Another name, or the same name under another prefix, is another lock.
  EXPECT_NE(LinuxInstanceLock::acquire(prefix, "other", &error), nullptr);
  EXPECT_NE(LinuxInstanceLock::acquire(prefix + "x", "same", &error), nullptr);
  first.reset();
  EXPECT_NE(LinuxInstanceLock::acquire(prefix, "same", &error), nullptr);
}

TEST(LinuxInstanceLock, UnusableNamesAreInvalid) {
  uint32_t error = 0;
  EXPECT_EQ(LinuxInstanceLock::acquire("p-", "", &error), nullptr);
  EXPECT_EQ(error, kErrorInvalidParameter);
  EXPECT_EQ(LinuxInstanceLock::acquire("p-", std::string(200, 'x'), &error), nullptr);
  EXPECT_EQ(error, kErrorInvalidParameter);
  EXPECT_EQ(LinuxInstanceLock::acquire("p-", std::string("a\0b", 3), &error), nullptr);
  EXPECT_EQ(error, kErrorInvalidParameter);
}

TEST(LinuxInstanceLock, PlatformRefusesSecondCopy) {
  LinuxPlatformOptions options;
  options.namePrefix = uniquePrefix();
  LinuxPlatform platform(options);
  std::unique_ptr<InstanceLock> first = platform.acquireInstanceLock("TARVELL2");
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(platform.acquireInstanceLock("TARVELL2"), nullptr);
  uint32_t error = 0;
  EXPECT_EQ(platform.acquireInstanceLock("TARVELL2", &error), nullptr);
  EXPECT_EQ(error, kErrorAlreadyExists);
}

// The kernel frees the lock of a process that is killed outright.
TEST(LinuxInstanceLock, KilledHolderReleasesIt) {
  std::string prefix = uniquePrefix();
  auto helper = test::HelperProcess::start({"lock", prefix, "killed"});
  ASSERT_NE(helper, nullptr);
  ASSERT_EQ(helper->readLine(5000), "held 0");
  uint32_t error = 0;
  EXPECT_EQ(LinuxInstanceLock::acquire(prefix, "killed", &error), nullptr);
  EXPECT_EQ(error, kErrorAlreadyExists);
  ASSERT_TRUE(helper->killAndReap());
  EXPECT_NE(LinuxInstanceLock::acquire(prefix, "killed", &error), nullptr);
}

// A program we start must not inherit the lock and keep it after we let go.
TEST(LinuxInstanceLock, StartedProgramsDoNotInheritIt) {
  std::string prefix = uniquePrefix();
  uint32_t error = 0;
  std::unique_ptr<LinuxInstanceLock> lock = LinuxInstanceLock::acquire(prefix, "inherit", &error);
  ASSERT_NE(lock, nullptr);
  auto helper = test::HelperProcess::start({"idle"});
  ASSERT_NE(helper, nullptr);
  ASSERT_EQ(helper->readLine(5000), "ready 0");
  lock.reset();
  EXPECT_NE(LinuxInstanceLock::acquire(prefix, "inherit", &error), nullptr);
}

}  // namespace
}  // namespace tv2
