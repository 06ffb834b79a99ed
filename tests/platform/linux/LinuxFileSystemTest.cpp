// The file checks the driver client relies on before it lets the service
// manager run a file as root.

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/ErrorCodes.h"
#include "platform/linux/LinuxFileSystem.h"

namespace tv2 {
namespace {

namespace fs = std::filesystem;

class LinuxFileSystemTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/tv2-files-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    root = pattern;
  }
  void TearDown() override {
    std::error_code ignored;
    fs::permissions(root, fs::perms::owner_all, ignored);
    fs::remove_all(root, ignored);
  }
  std::string make(const std::string& name, fs::perms perms) {
    std::string path = root + "/" + name;
    fs::create_directory(path);
    fs::permissions(path, perms);
    return path;
  }

  std::string root;
  // The rules for users other than root.
  LinuxFileSystem files{"/nonexistent", false};
};

TEST_F(LinuxFileSystemTest, PrivateMeansNobodyElseMayWriteOrRenameIt) {
  EXPECT_TRUE(files.isPrivateFolder(root));
  EXPECT_TRUE(files.isPrivateFolder(root + "/"));
  EXPECT_TRUE(files.isPrivateFolder(make("readable", fs::perms::owner_all | fs::perms::others_read |
                                                      fs::perms::others_exec)));
  EXPECT_FALSE(files.isPrivateFolder(make("group", fs::perms::owner_all | fs::perms::group_write)));
  EXPECT_FALSE(files.isPrivateFolder(make("world", fs::perms::all)));
  EXPECT_FALSE(files.isPrivateFolder(root + "/missing"));
  // Inside a folder everyone may write to, a private folder can be renamed
  // away and replaced, unless the sticky bit stops that.
  std::string open = make("open", fs::perms::all);
  std::string inside = open + "/inside";
  fs::create_directory(inside);
  fs::permissions(inside, fs::perms::owner_all);
  EXPECT_FALSE(files.isPrivateFolder(inside));
  fs::permissions(open, fs::perms::all | fs::perms::sticky_bit);
  EXPECT_TRUE(files.isPrivateFolder(inside));
}

TEST_F(LinuxFileSystemTest, WritesANewFileInsteadOfFollowingALink) {
  std::string target = root + "/target";
  std::ofstream(target) << "keep";
  std::string path = root + "/image";
  fs::create_symlink(target, path);
  FileFacts link = files.inspect(path);
  EXPECT_TRUE(link.exists);
  EXPECT_FALSE(link.regularFile);

  const std::vector<uint8_t> bytes = {0x7F, 'E', 'L', 'F'};
  ASSERT_EQ(files.writeFile(path, bytes.data(), bytes.size(), true), kOk);
  std::ifstream kept(target);
  std::string text;
  kept >> text;
  EXPECT_EQ(text, "keep");
  FileFacts facts = files.inspect(path);
  EXPECT_TRUE(facts.regularFile);
  EXPECT_TRUE(facts.ownedByCaller);
  EXPECT_TRUE(facts.privateFolder);
  EXPECT_EQ(facts.size, 4u);
  struct stat info;
  ASSERT_EQ(::stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0700u);

  std::vector<uint8_t> read;
  EXPECT_EQ(files.readFile(path, 4, &read), kOk);
  EXPECT_EQ(read, bytes);
  EXPECT_NE(files.readFile(path, 3, &read), kOk) << "larger than asked for";
}

TEST_F(LinuxFileSystemTest, FoldersAreMadePrivateAndRemovedOnlyWhenEmpty) {
  std::string folder = root + "/kzor138/";
  mode_t oldMask = ::umask(0);
  uint32_t made = files.createDirectory(folder);
  ::umask(oldMask);
  ASSERT_EQ(made, kOk);
  struct stat info;
  ASSERT_EQ(::stat(folder.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0700u);
  EXPECT_EQ(files.createDirectory(folder), kErrorAlreadyExists);
  const uint8_t byte = 1;
  ASSERT_EQ(files.writeFile(folder + "image", &byte, 1, false), kOk);
  EXPECT_EQ(files.removeDirectory(folder), kErrorDirectoryNotEmpty);
  EXPECT_EQ(files.deleteFile(folder + "image"), kOk);
  EXPECT_EQ(files.deleteFile(folder + "image"), kErrorFileNotFound);
  EXPECT_EQ(files.removeDirectory(folder), kOk);
  EXPECT_EQ(LinuxFileSystem::folderOf("/a/b/c"), "/a/b");
  EXPECT_EQ(LinuxFileSystem::folderOf("/a/b/"), "/a");
  EXPECT_EQ(LinuxFileSystem::folderOf("/c"), "/");
}

// Root writes only inside a folder it made itself in its own root-only
// folder, and keeps working through that folder's descriptor even when the
// name is swapped for a link afterwards.
TEST_F(LinuxFileSystemTest, RootWorksOnlyInAFolderItMadeAndHolds) {
  if (::geteuid() != 0) GTEST_SKIP() << "root's folders must belong to root";
  const std::string run = root + "/run";
  LinuxFileSystem rootFiles(run, true);
  const std::string attacker = make("attacker", fs::perms::all);
  const uint8_t byte = 1;
  // Nothing outside its own folders, whatever is there.
  EXPECT_EQ(rootFiles.createDirectory(root + "/elsewhere/"), kErrorAccessDenied);
  EXPECT_EQ(rootFiles.writeFile(attacker + "/image", &byte, 1, true), kErrorAccessDenied);
  EXPECT_EQ(rootFiles.deleteFile(attacker + "/image"), kErrorAccessDenied);
  EXPECT_EQ(rootFiles.removeDirectory(attacker), kErrorAccessDenied);
  EXPECT_FALSE(rootFiles.isPrivateFolder(root));
  EXPECT_FALSE(rootFiles.inspect(root + "/run").exists);

  const std::string folder = run + "/kzor138/";
  mode_t oldMask = ::umask(0);
  uint32_t made = rootFiles.createDirectory(folder);
  ::umask(oldMask);
  ASSERT_EQ(made, kOk);
  struct stat info;
  ASSERT_EQ(::stat(run.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0700u);
  ASSERT_EQ(::stat(folder.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0700u);
  EXPECT_TRUE(rootFiles.isPrivateFolder(folder));

  // The name now leads somewhere else: the work still lands in the folder
  // that was made, never in the link's target.
  ASSERT_EQ(::rename((run + "/kzor138").c_str(), (run + "/moved").c_str()), 0);
  fs::create_directory_symlink(attacker, run + "/kzor138");
  ASSERT_EQ(rootFiles.writeFile(folder + "image", &byte, 1, true), kOk);
  EXPECT_TRUE(fs::exists(run + "/moved/image"));
  EXPECT_FALSE(fs::exists(attacker + "/image"));
  FileFacts facts = rootFiles.inspect(folder + "image");
  EXPECT_TRUE(facts.regularFile);
  EXPECT_TRUE(facts.privateFolder);
  EXPECT_EQ(rootFiles.deleteFile(folder + "image"), kOk);
  EXPECT_FALSE(fs::exists(run + "/moved/image"));
  // Removal takes only the folder it made: the link stays.
  EXPECT_EQ(rootFiles.removeDirectory(folder), kErrorFileNotFound);
  EXPECT_TRUE(fs::is_symlink(run + "/kzor138"));
  EXPECT_TRUE(fs::is_directory(attacker));

  // A link at the name is never taken for a folder of root's.
  EXPECT_EQ(rootFiles.createDirectory(folder), kErrorAccessDenied);
  fs::remove(run + "/kzor138");
  ASSERT_EQ(rootFiles.createDirectory(folder), kOk);
  EXPECT_EQ(rootFiles.removeDirectory(folder), kOk);
  EXPECT_FALSE(fs::exists(run + "/kzor138"));
}

}  // namespace
}  // namespace tv2
