// The program's file, version and folders on the simulated platform.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>

#include "platform/sim/SimPlatform.h"

namespace tv2::sim {
namespace {

namespace fs = std::filesystem;

TEST(SimFileServiceTest, DefaultsAndSettings) {
  SimPlatform platform(nullptr);  // gets a machine of its own
  EXPECT_GT(platform.machine().logicalProcessorCount(), 0);
  FileService& files = platform.files();
  EXPECT_FALSE(files.programPath().empty());
  FileVersion version;
  ASSERT_TRUE(files.programVersion(&version));
  EXPECT_EQ(version.major, 2u);
  EXPECT_EQ(version.minor, 1u);
  EXPECT_EQ(version.build, 3u);
  EXPECT_EQ(version.revision, 0u);

  platform.setProgramPath("/usr/bin/tarvelle2");
  platform.setProgramVersion(FileVersion{3, 0, 1, 7});
  EXPECT_EQ(files.programPath(), "/usr/bin/tarvelle2");
  ASSERT_TRUE(files.programVersion(&version));
  EXPECT_EQ(version.revision, 7u);
  platform.setProgramVersionReadable(false);
  EXPECT_FALSE(files.programVersion(&version));
  EXPECT_FALSE(files.programVersion(nullptr));
}

TEST(SimFileServiceTest, OwnTempFolderIsPrivateAndCleanedUp) {
  std::string folder;
  {
    SimPlatform platform(nullptr);
    SimPlatform other(platform.sharedMachine());
    folder = platform.files().tempFolder();
    ASSERT_FALSE(folder.empty());
    EXPECT_EQ(folder.back(), '/');
    EXPECT_EQ(folder.rfind("/tmp/", 0), 0u);
    EXPECT_EQ(platform.files().tempFolder(), folder);
    EXPECT_NE(other.files().tempFolder(), folder);
    ASSERT_TRUE(fs::is_directory(folder));
    EXPECT_EQ(fs::status(folder).permissions() & fs::perms::all, fs::perms::owner_all);
    std::ofstream(folder + "driver.bin") << "x";
  }
  EXPECT_FALSE(fs::exists(folder));

  // A folder the test sets is used as given and left in place.
  const fs::path mine = fs::temp_directory_path() / "tv2-sim-file-test";
  fs::create_directories(mine);
  {
    SimPlatform platform(nullptr);
    platform.setTempFolder(mine.string());
    EXPECT_EQ(platform.files().tempFolder(), mine.string() + "/");
  }
  EXPECT_TRUE(fs::exists(mine));
  fs::remove_all(mine);
}

TEST(SimFileServiceTest, CurrentDirectoryStaysInTheObject) {
  const fs::path processDirectory = fs::current_path();
  SimPlatform platform(nullptr);
  FileService& files = platform.files();
  EXPECT_EQ(files.currentDirectory(), processDirectory.string());

  EXPECT_TRUE(files.setCurrentDirectory("/tmp"));
  EXPECT_EQ(files.currentDirectory(), "/tmp");
  EXPECT_TRUE(files.setCurrentDirectory(".."));
  EXPECT_EQ(files.currentDirectory(), "/");
  EXPECT_TRUE(files.setCurrentDirectory("tmp/"));
  EXPECT_EQ(files.currentDirectory(), "/tmp");
  EXPECT_FALSE(files.setCurrentDirectory("/no/such/folder"));
  EXPECT_FALSE(files.setCurrentDirectory(""));
  EXPECT_EQ(files.currentDirectory(), "/tmp");
  EXPECT_EQ(fs::current_path(), processDirectory);
}

TEST(SimFileServiceTest, WritableFoldersAndTheUserFolderStayInsideTheTest) {
  std::string configFolder;
  {
    SimPlatform platform(nullptr);
    auto& files = static_cast<SimFileService&>(platform.files());
    const std::string temp = files.tempFolder();
    EXPECT_TRUE(files.isFolderWritable(temp));
    EXPECT_FALSE(files.isFolderWritable("/no/such/folder"));
    files.setFolderWritable(false);
    EXPECT_FALSE(files.isFolderWritable(temp));
    files.setFolderWritable(std::nullopt);
    EXPECT_TRUE(files.isFolderWritable(temp));
    // Never the real home folder: by default inside the temp folder.
    configFolder = files.userConfigFolder();
    EXPECT_EQ(configFolder, temp + "config/tarvelle2/");
    EXPECT_TRUE(fs::is_directory(configFolder));
    files.setUserConfigFolder(temp + "elsewhere");
    EXPECT_EQ(files.userConfigFolder(), temp + "elsewhere/");
    files.setUserConfigFolder("/proc/tv2-cannot-exist");
    EXPECT_EQ(files.userConfigFolder(), "");
  }
  EXPECT_FALSE(fs::exists(configFolder));
}

}  // namespace
}  // namespace tv2::sim
