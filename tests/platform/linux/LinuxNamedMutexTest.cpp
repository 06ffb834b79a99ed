#include "platform/linux/LinuxNamedMutex.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>
#include <thread>

#include "HelperProcess.h"
#include "platform/ErrorCodes.h"
#include "platform/linux/LinuxPlatform.h"

namespace tv2 {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

// Each test gets its own object name, removed afterwards.
class LinuxNamedMutexTest : public testing::Test {
 protected:
  void SetUp() override {
    m_prefix = "tv2test-" + std::to_string(getpid()) + "-";
    m_name = testing::UnitTest::GetInstance()->current_test_info()->name();
  }
  void TearDown() override { LinuxNamedMutex::remove(m_prefix, m_name); }

  std::unique_ptr<LinuxNamedMutex> open(bool* alreadyExisted = nullptr) {
    uint32_t error = 0xDEAD;
    std::unique_ptr<LinuxNamedMutex> mutex = LinuxNamedMutex::open(m_prefix, m_name, alreadyExisted, &error);
    EXPECT_NE(mutex, nullptr);
    EXPECT_EQ(error, kOk);
    return mutex;
  }

  std::string m_prefix;
  std::string m_name;
};

TEST_F(LinuxNamedMutexTest, ProgramNamesBecomeShmNames) {
  std::string name;
  ASSERT_EQ(LinuxNamedMutex::shmName("tarvelle2-", "Global\\kzor", &name), kOk);
  EXPECT_EQ(name, "/tarvelle2-Global-kzor");
  ASSERT_EQ(LinuxNamedMutex::shmName("tarvelle2-", "TARVELL2", &name), kOk);
  EXPECT_EQ(name, "/tarvelle2-TARVELL2");
  ASSERT_EQ(LinuxNamedMutex::shmName("a/b\\", "c/d", &name), kOk);
  EXPECT_EQ(name, "/a-b-c-d");

  EXPECT_EQ(LinuxNamedMutex::shmName("p-", "", &name), kErrorInvalidParameter);
  EXPECT_EQ(LinuxNamedMutex::shmName("p-", std::string("a\0b", 3), &name), kErrorInvalidParameter);
  EXPECT_EQ(LinuxNamedMutex::shmName("p-", std::string(300, 'x'), &name), kErrorInvalidParameter);
  uint32_t error = 0;
  EXPECT_EQ(LinuxNamedMutex::open("p-", "", nullptr, &error), nullptr);
  EXPECT_EQ(error, kErrorInvalidParameter);
}

TEST_F(LinuxNamedMutexTest, SecondOpenFindsTheSameMutex) {
  bool existed = true;
  std::unique_ptr<LinuxNamedMutex> first = open(&existed);
  EXPECT_FALSE(existed);
  std::unique_ptr<LinuxNamedMutex> second = open(&existed);
  EXPECT_TRUE(existed);

  // Owned through one object, released through the other.
  ASSERT_EQ(first->wait(0), kWaitObject0);
  std::thread other([&] { EXPECT_EQ(second->wait(0), kWaitTimeout); });
  other.join();
  EXPECT_TRUE(second->release());

  // Once removed, the name makes a fresh mutex.
  first.reset();
  second.reset();
  ASSERT_EQ(LinuxNamedMutex::remove(m_prefix, m_name), kOk);
  std::unique_ptr<LinuxNamedMutex> fresh = open(&existed);
  EXPECT_FALSE(existed);
}

TEST_F(LinuxNamedMutexTest, WaitTimesOutWhileAnotherThreadOwnsIt) {
  std::unique_ptr<LinuxNamedMutex> mutex = open();
  std::promise<void> owned;
  std::promise<void> letGo;
  std::thread owner([&] {
    EXPECT_EQ(mutex->wait(LinuxNamedMutex::kInfinite), kWaitObject0);
    owned.set_value();
    letGo.get_future().wait();
    EXPECT_TRUE(mutex->release());
  });
  owned.get_future().wait();

  EXPECT_EQ(mutex->wait(0), kWaitTimeout);
  auto start = steady_clock::now();
  EXPECT_EQ(mutex->wait(60), kWaitTimeout);
  EXPECT_GE(steady_clock::now() - start, milliseconds(59));

  letGo.set_value();
  EXPECT_EQ(mutex->wait(5000), kWaitObject0);
  owner.join();
  EXPECT_TRUE(mutex->release());
}

TEST_F(LinuxNamedMutexTest, OwnerMayWaitAgainAndReleasesAsOften) {
  std::unique_ptr<LinuxNamedMutex> mutex = open();
  ASSERT_EQ(mutex->wait(0), kWaitObject0);
  ASSERT_EQ(mutex->wait(100), kWaitObject0);
  EXPECT_TRUE(mutex->release());
  // Still owned after one release.
  std::thread probe([&] { EXPECT_EQ(mutex->wait(0), kWaitTimeout); });
  probe.join();
  EXPECT_TRUE(mutex->release());
  EXPECT_FALSE(mutex->release());
  std::thread taker([&] {
    EXPECT_EQ(mutex->wait(0), kWaitObject0);
    EXPECT_TRUE(mutex->release());
  });
  taker.join();
}

TEST_F(LinuxNamedMutexTest, ReleaseByNonOwnerFails) {
  std::unique_ptr<LinuxNamedMutex> mutex = open();
  EXPECT_FALSE(mutex->release());
  ASSERT_EQ(mutex->wait(0), kWaitObject0);
  std::thread other([&] { EXPECT_FALSE(mutex->release()); });
  other.join();
  // The failed release did not take it away from us.
  EXPECT_TRUE(mutex->release());
}

TEST_F(LinuxNamedMutexTest, ThreadEndingWhileOwningAbandonsIt) {
  std::unique_ptr<LinuxNamedMutex> mutex = open();
  std::thread quitter([&] { EXPECT_EQ(mutex->wait(0), kWaitObject0); });
  quitter.join();
  EXPECT_EQ(mutex->wait(1000), kWaitAbandoned);
  EXPECT_TRUE(mutex->release());
  // Made consistent again: the next owner sees an ordinary mutex.
  EXPECT_EQ(mutex->wait(0), kWaitObject0);
  EXPECT_TRUE(mutex->release());
}

// The helper makes the mutex and is killed while owning it twice over; the
// new owner starts again at one level.
TEST_F(LinuxNamedMutexTest, ProcessKilledWhileOwningAbandonsIt) {
  auto helper = test::HelperProcess::start({"mutex", m_prefix, m_name});
  ASSERT_NE(helper, nullptr);
  ASSERT_EQ(helper->readLine(5000), "owned 0");
  bool existed = false;
  std::unique_ptr<LinuxNamedMutex> mutex = open(&existed);
  EXPECT_TRUE(existed);
  EXPECT_EQ(mutex->wait(0), kWaitTimeout);
  ASSERT_TRUE(helper->killAndReap());
  EXPECT_EQ(mutex->wait(1000), kWaitAbandoned);
  EXPECT_EQ(mutex->wait(0), kWaitObject0);
  EXPECT_TRUE(mutex->release());
  EXPECT_TRUE(mutex->release());
  EXPECT_FALSE(mutex->release());
}

TEST_F(LinuxNamedMutexTest, ObjectIsOwnerOnlyWhateverTheUmask) {
  mode_t previous = umask(0277);
  std::unique_ptr<LinuxNamedMutex> mutex = open();
  umask(previous);
  std::string name;
  ASSERT_EQ(LinuxNamedMutex::shmName(m_prefix, m_name, &name), kOk);
  struct stat info;
  ASSERT_EQ(stat(("/dev/shm" + name).c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0600u);
  EXPECT_EQ(info.st_uid, geteuid());
}

TEST_F(LinuxNamedMutexTest, OtherUserIsDeniedAccess) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to run the helper as another user";
  std::unique_ptr<LinuxNamedMutex> mutex = open();
  auto helper = test::HelperProcess::start({"open-as", "65534", m_prefix, m_name});
  ASSERT_NE(helper, nullptr);
  EXPECT_EQ(helper->readLine(5000), "refused " + std::to_string(kErrorAccessDenied));
  EXPECT_EQ(helper->waitForExit(), 0);
}

TEST_F(LinuxNamedMutexTest, PlatformAppliesItsPrefix) {
  LinuxPlatformOptions options;
  options.namePrefix = m_prefix;
  LinuxPlatform platform(options);
  bool existed = true;
  uint32_t error = 0xDEAD;
  std::unique_ptr<NamedMutex> mutex = platform.createNamedMutex(m_name, &existed, &error);
  ASSERT_NE(mutex, nullptr);
  EXPECT_FALSE(existed);
  EXPECT_EQ(error, kOk);
  open(&existed);
  EXPECT_TRUE(existed);
}

}  // namespace
}  // namespace tv2
