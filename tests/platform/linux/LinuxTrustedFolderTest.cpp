#include "platform/linux/LinuxTrustedFolder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/ErrorCodes.h"

namespace tv2 {
namespace {

namespace fs = std::filesystem;

class LinuxTrustedFolderTest : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/tv2-trust-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    m_root = pattern;
  }
  void TearDown() override {
    if (!m_root.empty()) fs::remove_all(m_root);
  }
  uint32_t openAt(const std::string& path, bool create = false, LinuxTrust trust = LinuxTrust::ofCaller()) {
    LinuxTrustedFolder folder;
    uint32_t result = LinuxTrustedFolder::open(path, trust, create, &folder);
    EXPECT_EQ(folder.valid(), result == kOk);
    return result;
  }

  std::string m_root;
};

TEST_F(LinuxTrustedFolderTest, NoLinkIsFollowedAnywhereOnThePath) {
  fs::create_directories(m_root + "/real/inner");
  fs::create_directory_symlink(m_root + "/real", m_root + "/link");
  EXPECT_EQ(openAt(m_root + "/real/inner"), kOk);
  EXPECT_EQ(openAt(m_root + "/link/inner"), kErrorAccessDenied);
  EXPECT_EQ(openAt(m_root + "/link"), kErrorAccessDenied);
  // Nor is a missing folder made behind a link.
  EXPECT_EQ(openAt(m_root + "/link/new", true), kErrorAccessDenied);
  EXPECT_FALSE(fs::exists(m_root + "/real/new"));
  EXPECT_EQ(openAt(m_root + "/missing"), kErrorFileNotFound);
  EXPECT_EQ(openAt("relative/path"), kErrorInvalidParameter);
  EXPECT_EQ(openAt(m_root + "/real/../real"), kErrorInvalidParameter);
}

TEST_F(LinuxTrustedFolderTest, FoldersOthersMayChangeAreRefused) {
  const std::string folder = m_root + "/folder";
  EXPECT_EQ(openAt(folder, true), kOk);
  struct stat info;
  ASSERT_EQ(::stat(folder.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0700u);

  fs::create_directory(folder + "/inner");
  // Others may write to the folder itself, or rename what is in one on the way.
  ASSERT_EQ(::chmod(folder.c_str(), 0777), 0);
  EXPECT_EQ(openAt(folder), kErrorAccessDenied);
  EXPECT_EQ(openAt(folder + "/inner"), kErrorAccessDenied);
  // Sticky, like /tmp: entries of root's or the caller's stay theirs.
  ASSERT_EQ(::chmod(folder.c_str(), 01777), 0);
  EXPECT_EQ(openAt(folder + "/inner"), kOk);
  // Group write is accepted only for the group the trust names.
  ASSERT_EQ(::chmod(folder.c_str(), 0770), 0);
  EXPECT_EQ(openAt(folder), kErrorAccessDenied);
  LinuxTrust shared = LinuxTrust::ofCaller();
  shared.group = info.st_gid;
  EXPECT_EQ(openAt(folder, false, shared), kOk);
  shared.group = info.st_gid + 1;
  EXPECT_EQ(openAt(folder, false, shared), kErrorAccessDenied);

  if (geteuid() != 0) return;
  // Another user's folder, on the way or at the end.
  ASSERT_EQ(::chmod(folder.c_str(), 0755), 0);
  ASSERT_EQ(::chown(folder.c_str(), 65534, 65534), 0);
  EXPECT_EQ(openAt(folder), kErrorAccessDenied);
  EXPECT_EQ(openAt(folder + "/inner"), kErrorAccessDenied);
}

TEST_F(LinuxTrustedFolderTest, ChildrenAndFilesAreOpenedThroughTheDescriptor) {
  LinuxTrustedFolder folder;
  ASSERT_EQ(LinuxTrustedFolder::open(m_root, LinuxTrust::ofCaller(), false, &folder), kOk);
  // The folder is renamed away after the check: work still lands in it.
  ASSERT_EQ(::rename(m_root.c_str(), (m_root + "-moved").c_str()), 0);
  fs::create_directory(m_root);
  LinuxTrustedFolder child;
  bool created = false;
  ASSERT_EQ(folder.openChild("child", true, &child, &created), kOk);
  EXPECT_TRUE(created);
  EXPECT_TRUE(fs::is_directory(m_root + "-moved/child"));
  EXPECT_FALSE(fs::exists(m_root + "/child"));
  ASSERT_EQ(folder.openChild("child", true, &child, &created), kOk);
  EXPECT_FALSE(created);
  EXPECT_EQ(folder.openChild("..", true, &child, &created), kErrorInvalidParameter);
  EXPECT_EQ(folder.openChild("a/b", true, &child, &created), kErrorInvalidParameter);
  fs::create_directory_symlink("/", m_root + "-moved/rootlink");
  EXPECT_EQ(folder.openChild("rootlink", false, &child, &created), kErrorAccessDenied);

  // Without leave to replace, an untrusted file is refused and left alone.
  std::ofstream(m_root + "-moved/open") << "x";
  ASSERT_EQ(::chmod((m_root + "-moved/open").c_str(), 0666), 0);
  uint32_t error = 0;
  EXPECT_EQ(folder.openFile("open", 0600, false, &created, &error), -1);
  EXPECT_EQ(error, kErrorAccessDenied);
  EXPECT_TRUE(fs::exists(m_root + "-moved/open"));
  fs::create_symlink(m_root + "-moved/open", m_root + "-moved/link");
  EXPECT_EQ(folder.openFile("link", 0600, false, &created, &error), -1);
  EXPECT_EQ(error, kErrorAccessDenied);
  int fd = folder.openFile("fresh", 0640, false, &created, &error);
  ASSERT_GE(fd, 0);
  EXPECT_TRUE(created);
  ::close(fd);
  struct stat info;
  ASSERT_EQ(::stat((m_root + "-moved/fresh").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0640u);
  fs::remove_all(m_root + "-moved");
}

}  // namespace
}  // namespace tv2
