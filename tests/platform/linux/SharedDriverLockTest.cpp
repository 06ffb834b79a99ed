// The driver lock of the installed package: one lock file in root's folder
// for the system host's group, locked by root and every member, so copies
// of different users exclude each other; a folder the group could write to
// is not used.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/ErrorCodes.h"
#include "platform/linux/LinuxNamedMutex.h"
#include "platform/linux/LinuxTrustedFolder.h"

namespace tv2 {
namespace {

namespace fs = std::filesystem;

constexpr gid_t kGroup = 64123;

class SharedDriverLockTest : public testing::Test {
 protected:
  void SetUp() override {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to make root's shared folder and to be other users";
    char pattern[] = "/tmp/tv2-shared-lock-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    m_root = pattern;
    ASSERT_EQ(::chmod(m_root.c_str(), 0755), 0);
    ASSERT_EQ(::mkdir((m_root + "/tarvelle2").c_str(), 0755), 0);
    ASSERT_EQ(::mkdir(shared().c_str(), 0750), 0);
    ASSERT_EQ(::chown(shared().c_str(), 0, kGroup), 0);
  }
  void TearDown() override {
    if (!m_root.empty()) fs::remove_all(m_root);
  }
  std::string shared() const { return m_root + "/tarvelle2/shared"; }

  // In a child as uid 65534 with the given groups: 0 the lock is held by
  // someone else, 1 it was free, 2 the shared folder was not chosen, 3 the
  // lock file was refused (or setup failed).
  int tryAsNobody(std::vector<gid_t> groups) {
    pid_t child = ::fork();
    if (child < 0) return -1;
    if (child == 0) {
      if (::setgroups(groups.size(), groups.data()) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)
        ::_exit(3);
      LinuxTrustedFolder folder;
      if (LinuxNamedMutex::openFolder(65534, m_root, nullptr, &folder) != kOk || folder.path() != shared())
        ::_exit(2);
      // The file as the lock opens it (checked through the folder), on a
      // descriptor of this process's own: a forked child's lock objects
      // would share the parent's open file description.
      uint32_t error = 0;
      bool created = false;
      int fd = folder.openFile("tv2test-Global-kzor.lock", 0660, false, &created, &error);
      if (fd < 0) ::_exit(3);
      struct flock whole {};
      whole.l_type = F_WRLCK;
      whole.l_whence = SEEK_SET;
      if (::fcntl(fd, F_OFD_SETLK, &whole) == 0) ::_exit(1);
      ::_exit(errno == EAGAIN || errno == EACCES ? 0 : 4);
    }
    int status = 0;
    if (::waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
  }

  std::string m_root;
};

TEST_F(SharedDriverLockTest, RootAndMembersLockOneFileOthersKeepTheirOwn) {
  LinuxTrustedFolder folder;
  ASSERT_EQ(LinuxNamedMutex::openFolder(0, m_root, nullptr, &folder), kOk);
  ASSERT_EQ(folder.path(), shared());
  uint32_t error = 0;
  auto mutex = LinuxNamedMutex::open(folder, "tv2test-", "Global\\kzor", nullptr, &error);
  ASSERT_NE(mutex, nullptr) << error;
  struct stat info;
  ASSERT_EQ(::lstat((shared() + "/tv2test-Global-kzor.lock").c_str(), &info), 0);
  EXPECT_EQ(info.st_uid, 0u);
  EXPECT_EQ(info.st_gid, kGroup) << "the group's members must be able to open it";
  EXPECT_EQ(info.st_mode & 07777, 0660u);

  EXPECT_EQ(tryAsNobody({kGroup}), 1) << "free while nobody holds it";
  ASSERT_EQ(mutex->wait(0), kWaitObject0);
  EXPECT_EQ(tryAsNobody({kGroup}), 0) << "a member waits for root";
  EXPECT_EQ(tryAsNobody({}), 2) << "someone outside the group never reaches the shared folder";
  mutex->release();
}

TEST_F(SharedDriverLockTest, AFolderTheGroupMayWriteToIsNotShared) {
  // Members could replace the lock file there with one of their own.
  ASSERT_EQ(::chmod(shared().c_str(), 0770), 0);
  LinuxTrustedFolder folder;
  ASSERT_EQ(LinuxNamedMutex::openFolder(0, m_root, nullptr, &folder), kOk);
  EXPECT_EQ(folder.path(), m_root + "/tarvelle2");
  EXPECT_EQ(tryAsNobody({kGroup}), 2);
  // Nor one of another owner's, or of root's group.
  ASSERT_EQ(::chmod(shared().c_str(), 0750), 0);
  ASSERT_EQ(::chown(shared().c_str(), 65534, kGroup), 0);
  ASSERT_EQ(LinuxNamedMutex::openFolder(0, m_root, nullptr, &folder), kOk);
  EXPECT_EQ(folder.path(), m_root + "/tarvelle2");
  ASSERT_EQ(::chown(shared().c_str(), 0, 0), 0);
  EXPECT_EQ(tryAsNobody({0}), 2);
}

TEST_F(SharedDriverLockTest, ALockFileAMemberPlantedIsReplacedByRootAndRefusedByMembers) {
  // Should a member's file sit there (made before the folder was closed),
  // members refuse it and root replaces it with its own.
  std::string path = shared() + "/tv2test-Global-kzor.lock";
  int fd = ::open(path.c_str(), O_CREAT | O_WRONLY, 0660);
  ASSERT_GE(fd, 0);
  ::close(fd);
  ASSERT_EQ(::chown(path.c_str(), 65534, kGroup), 0);
  EXPECT_EQ(tryAsNobody({kGroup}), 3);
  LinuxTrustedFolder folder;
  ASSERT_EQ(LinuxNamedMutex::openFolder(0, m_root, nullptr, &folder), kOk);
  uint32_t error = 0;
  auto mutex = LinuxNamedMutex::open(folder, "tv2test-", "Global\\kzor", nullptr, &error);
  ASSERT_NE(mutex, nullptr);
  struct stat info;
  ASSERT_EQ(::lstat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_uid, 0u);
  EXPECT_EQ(tryAsNobody({kGroup}), 1);
}

}  // namespace
}  // namespace tv2
