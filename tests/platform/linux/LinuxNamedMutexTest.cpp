#include "platform/linux/LinuxNamedMutex.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "HelperProcess.h"
#include "platform/ErrorCodes.h"
#include "platform/linux/LinuxPlatform.h"

namespace tv2 {
namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;
using std::chrono::steady_clock;

std::string readAll(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Each test gets its own private lock folder, removed afterwards.
class LinuxNamedMutexTest : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/tv2-lock-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    m_root = pattern;
    ASSERT_EQ(LinuxTrustedFolder::open(m_root, LinuxTrust::ofCaller(), false, &m_folder), kOk);
    m_prefix = "tv2test-";
    m_name = testing::UnitTest::GetInstance()->current_test_info()->name();
  }
  void TearDown() override {
    m_folder = LinuxTrustedFolder();
    if (!m_root.empty()) fs::remove_all(m_root);
  }

  std::unique_ptr<LinuxNamedMutex> open(bool* alreadyExisted = nullptr) {
    uint32_t error = 0xDEAD;
    std::unique_ptr<LinuxNamedMutex> mutex = LinuxNamedMutex::open(m_folder, m_prefix, m_name, alreadyExisted, &error);
    EXPECT_NE(mutex, nullptr);
    EXPECT_EQ(error, kOk);
    return mutex;
  }
  std::string lockPath() const { return m_root + "/" + m_prefix + m_name + ".lock"; }

  std::string m_root;
  LinuxTrustedFolder m_folder;
  std::string m_prefix;
  std::string m_name;
};

TEST_F(LinuxNamedMutexTest, ProgramNamesBecomeFileNames) {
  std::string name;
  ASSERT_EQ(LinuxNamedMutex::fileName("tarvelle2-", "Global\\kzor", &name), kOk);
  EXPECT_EQ(name, "tarvelle2-Global-kzor.lock");
  ASSERT_EQ(LinuxNamedMutex::fileName("a/b\\", "c/d", &name), kOk);
  EXPECT_EQ(name, "a-b-c-d.lock");

  EXPECT_EQ(LinuxNamedMutex::fileName("p-", "", &name), kErrorInvalidParameter);
  EXPECT_EQ(LinuxNamedMutex::fileName("p-", std::string("a\0b", 3), &name), kErrorInvalidParameter);
  EXPECT_EQ(LinuxNamedMutex::fileName("p-", std::string(300, 'x'), &name), kErrorInvalidParameter);
  EXPECT_EQ(LinuxNamedMutex::fileName("", ".hidden", &name), kErrorInvalidParameter);
  uint32_t error = 0;
  EXPECT_EQ(LinuxNamedMutex::open(m_folder, "p-", "", nullptr, &error), nullptr);
  EXPECT_EQ(error, kErrorInvalidParameter);
}

TEST_F(LinuxNamedMutexTest, SecondOpenFindsTheSameMutex) {
  bool existed = true;
  std::unique_ptr<LinuxNamedMutex> first = open(&existed);
  EXPECT_FALSE(existed);
  std::unique_ptr<LinuxNamedMutex> second = open(&existed);
  EXPECT_TRUE(existed);

  // Owned through one object, released through the other; the owner may
  // also wait through the other.
  ASSERT_EQ(first->wait(0), kWaitObject0);
  EXPECT_EQ(second->wait(0), kWaitObject0);
  EXPECT_TRUE(second->release());
  std::thread other([&] { EXPECT_EQ(second->wait(0), kWaitTimeout); });
  other.join();
  EXPECT_TRUE(second->release());

  // Once removed, the name makes a fresh mutex.
  first.reset();
  second.reset();
  ASSERT_EQ(LinuxNamedMutex::remove(m_folder, m_prefix, m_name), kOk);
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
  // The next owner sees an ordinary mutex.
  EXPECT_EQ(mutex->wait(0), kWaitObject0);
  EXPECT_TRUE(mutex->release());
}

// The helper is killed while owning the mutex twice over: the kernel lets the
// lock go, the record it wrote stays and names it; the new owner starts again
// at one level and its own release leaves no record.
TEST_F(LinuxNamedMutexTest, ProcessKilledWhileOwningAbandonsIt) {
  auto helper = test::HelperProcess::start({"mutex", m_root, m_prefix, m_name});
  ASSERT_NE(helper, nullptr);
  ASSERT_EQ(helper->readLine(5000), "owned 0");
  bool existed = false;
  std::unique_ptr<LinuxNamedMutex> mutex = open(&existed);
  EXPECT_TRUE(existed);
  EXPECT_EQ(mutex->wait(0), kWaitTimeout);
  pid_t helperPid = helper->pid();
  std::string record = readAll(lockPath());
  EXPECT_EQ(record.rfind(std::to_string(helperPid) + " ", 0), 0u) << record;
  ASSERT_TRUE(helper->killAndReap());

  EXPECT_EQ(mutex->wait(1000), kWaitAbandoned);
  EXPECT_EQ(readAll(lockPath()).rfind(std::to_string(::getpid()) + " ", 0), 0u);
  EXPECT_EQ(mutex->wait(0), kWaitObject0);
  EXPECT_TRUE(mutex->release());
  EXPECT_TRUE(mutex->release());
  EXPECT_FALSE(mutex->release());
  EXPECT_EQ(readAll(lockPath()), "");
  EXPECT_EQ(mutex->wait(0), kWaitObject0);
  EXPECT_TRUE(mutex->release());
}

// Two processes contend: each waits while the other holds it and gets it as
// soon as the other lets go.
TEST_F(LinuxNamedMutexTest, TwoProcessesTakeTurns) {
  std::unique_ptr<LinuxNamedMutex> mutex = open();
  auto holder = test::HelperProcess::start({"hold", m_root, m_prefix, m_name, "300"});
  ASSERT_NE(holder, nullptr);
  ASSERT_EQ(holder->readLine(5000), "owned 0");
  EXPECT_EQ(mutex->wait(0), kWaitTimeout);
  EXPECT_EQ(mutex->wait(20), kWaitTimeout);
  auto start = steady_clock::now();
  ASSERT_EQ(mutex->wait(5000), kWaitObject0);
  EXPECT_LT(steady_clock::now() - start, milliseconds(4000));
  EXPECT_EQ(holder->readLine(1000), "released 0");
  EXPECT_EQ(holder->waitForExit(), 0);

  // Now this process holds it: the other one waits until it is released.
  auto waiter = test::HelperProcess::start({"hold", m_root, m_prefix, m_name, "0"});
  ASSERT_NE(waiter, nullptr);
  EXPECT_EQ(waiter->readLine(200), "");
  EXPECT_TRUE(mutex->release());
  EXPECT_EQ(waiter->readLine(5000), "owned 0");
  EXPECT_EQ(waiter->waitForExit(), 0);
}

TEST_F(LinuxNamedMutexTest, FileIsOwnerOnlyWhateverTheUmask) {
  mode_t previous = umask(0);
  std::unique_ptr<LinuxNamedMutex> mutex = open();
  umask(previous);
  struct stat info;
  ASSERT_EQ(::lstat(lockPath().c_str(), &info), 0);
  EXPECT_TRUE(S_ISREG(info.st_mode));
  EXPECT_EQ(info.st_mode & 07777, 0600u);
  EXPECT_EQ(info.st_uid, geteuid());
}

// Whatever root finds at the lock file's name that it cannot trust is
// replaced by a fresh file, and what a link pointed to stays untouched.
TEST_F(LinuxNamedMutexTest, RootReplacesAnUntrustedFile) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to plant files of another user";
  const std::string outside = m_root + "/outside";
  std::ofstream(outside) << "precious\n";
  auto plantFile = [&](uid_t owner, mode_t mode) {
    std::ofstream(lockPath()) << "4242 1\n";
    ASSERT_EQ(::chown(lockPath().c_str(), owner, owner), 0);
    ASSERT_EQ(::chmod(lockPath().c_str(), mode), 0);
  };
  const std::vector<std::pair<std::string, std::function<void()>>> plants = {
      {"another user's file", [&] { plantFile(65534, 0600); }},
      {"a file others may write", [&] { plantFile(0, 0666); }},
      {"a file its group may write", [&] { plantFile(0, 0620); }},
      {"a link", [&] { fs::create_symlink(outside, lockPath()); }},
      {"a second name of another file", [&] { fs::create_hard_link(outside, lockPath()); }},
      {"a named pipe", [&] { ASSERT_EQ(::mkfifo(lockPath().c_str(), 0600), 0); }},
      {"a folder", [&] { fs::create_directory(lockPath()); }},
  };
  for (const auto& [what, plant] : plants) {
    SCOPED_TRACE(what);
    fs::remove(lockPath());
    plant();
    bool existed = true;
    std::unique_ptr<LinuxNamedMutex> mutex = open(&existed);
    ASSERT_NE(mutex, nullptr);
    EXPECT_FALSE(existed);
    // A planted record must not pass for an abandoned holder.
    EXPECT_EQ(mutex->wait(0), kWaitObject0);
    EXPECT_TRUE(mutex->release());
    struct stat info;
    ASSERT_EQ(::lstat(lockPath().c_str(), &info), 0);
    EXPECT_TRUE(S_ISREG(info.st_mode));
    EXPECT_EQ(info.st_uid, 0u);
    EXPECT_EQ(info.st_mode & 07777, 0600u);
    EXPECT_EQ(info.st_nlink, 1u);
    EXPECT_EQ(readAll(outside), "precious\n");
  }
}

// Root keeps its locks in <run root>/tarvelle2; everyone else in a private
// runtime folder, and without one gets a clear failure, never /tmp.
TEST_F(LinuxNamedMutexTest, EachCallerLocksInItsOwnFolder) {
  LinuxTrustedFolder folder;
  EXPECT_EQ(LinuxNamedMutex::openFolder(1000, m_root, nullptr, &folder), kErrorPathNotFound);
  EXPECT_EQ(LinuxNamedMutex::openFolder(1000, m_root, "relative", &folder), kErrorPathNotFound);
  // A runtime folder that is not the caller's own is refused.
  EXPECT_EQ(LinuxNamedMutex::openFolder(geteuid() + 1, m_root, m_root.c_str(), &folder), kErrorAccessDenied);
  if (geteuid() != 0) {
    ASSERT_EQ(LinuxNamedMutex::openFolder(geteuid(), m_root, m_root.c_str(), &folder), kOk);
    EXPECT_EQ(folder.path(), m_root);
    return;
  }
  ASSERT_EQ(LinuxNamedMutex::openFolder(0, m_root + "/", "/tmp", &folder), kOk);
  EXPECT_EQ(folder.path(), m_root + "/tarvelle2");
  struct stat info;
  ASSERT_EQ(::lstat(folder.path().c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0700u);
  // One others may write to is refused, not repaired.
  ASSERT_EQ(::chmod(folder.path().c_str(), 0777), 0);
  EXPECT_EQ(LinuxNamedMutex::openFolder(0, m_root, nullptr, &folder), kErrorAccessDenied);
}

TEST_F(LinuxNamedMutexTest, OtherUserIsDeniedAccess) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to run the helper as another user";
  std::unique_ptr<LinuxNamedMutex> mutex = open();
  auto helper = test::HelperProcess::start({"open-as", "65534", m_root, m_prefix, m_name});
  ASSERT_NE(helper, nullptr);
  EXPECT_EQ(helper->readLine(5000), "refused " + std::to_string(kErrorAccessDenied));
  EXPECT_EQ(helper->waitForExit(), 0);
}

TEST_F(LinuxNamedMutexTest, PlatformAppliesItsFolderAndPrefix) {
  if (geteuid() != 0) GTEST_SKIP() << "a non-root platform uses $XDG_RUNTIME_DIR";
  LinuxPlatformOptions options;
  options.runRoot = m_root;
  options.namePrefix = m_prefix;
  LinuxPlatform platform(options);
  bool existed = true;
  uint32_t error = 0xDEAD;
  std::unique_ptr<NamedMutex> mutex = platform.createNamedMutex(m_name, &existed, &error);
  ASSERT_NE(mutex, nullptr);
  EXPECT_FALSE(existed);
  EXPECT_EQ(error, kOk);
  EXPECT_TRUE(fs::is_regular_file(m_root + "/tarvelle2/" + m_prefix + m_name + ".lock"));
  EXPECT_EQ(platform.removeNamedMutex(m_name), kOk);
  EXPECT_FALSE(fs::exists(m_root + "/tarvelle2/" + m_prefix + m_name + ".lock"));
}

}  // namespace
}  // namespace tv2
