#include "platform/linux/LinuxFileService.h"

#include <pthread.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <cstdio>
#include <fstream>
#include <thread>

#include "BuildInfo.h"
#include "platform/linux/LinuxPlatform.h"

namespace tv2 {
namespace {

// A private folder for the test, removed with everything in it afterwards.
class ScratchFolder {
 public:
  ScratchFolder() {
    char pattern[] = "/tmp/tv2test-XXXXXX";
    if (mkdtemp(pattern) != nullptr) m_path = pattern;
  }
  ~ScratchFolder() {
    if (!m_path.empty()) std::system(("rm -rf '" + m_path + "'").c_str());
  }
  const std::string& path() const { return m_path; }

 private:
  std::string m_path;
};

bool endsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

TEST(LinuxFileService, ProgramPathIsThisTestProgram) {
  LinuxFileService files;
  std::string path = files.programPath();
  ASSERT_FALSE(path.empty());
  EXPECT_EQ(path.front(), '/');
  EXPECT_TRUE(endsWith(path, "/tv2_platform_linux_tests")) << path;
  EXPECT_EQ(access(path.c_str(), X_OK), 0);
}

TEST(LinuxFileService, VersionPartsComeInOrder) {
  LinuxFileService files;
  FileVersion version;
  ASSERT_TRUE(files.programVersion(&version));
  std::string text = std::to_string(version.major) + "." + std::to_string(version.minor) + "." +
                     std::to_string(version.build);
  // The project version string may stop at three parts.
  std::string full = text + "." + std::to_string(version.revision);
  EXPECT_TRUE(TV2_VERSION_STRING == text || TV2_VERSION_STRING == full) << TV2_VERSION_STRING;
  EXPECT_FALSE(files.programVersion(nullptr));
}

TEST(LinuxFileService, TempFolderChoice) {
  ScratchFolder runtime;
  ScratchFolder temp;
  ASSERT_FALSE(runtime.path().empty());
  ASSERT_FALSE(temp.path().empty());
  std::string notAFolder = runtime.path() + "/file";
  std::ofstream(notAFolder) << "x";

  EXPECT_EQ(LinuxFileService::chooseTempFolder(runtime.path().c_str(), temp.path().c_str()),
            runtime.path() + "/");
  EXPECT_EQ(LinuxFileService::chooseTempFolder(nullptr, temp.path().c_str()), temp.path() + "/");
  EXPECT_EQ(LinuxFileService::chooseTempFolder("", temp.path().c_str()), temp.path() + "/");
  EXPECT_EQ(LinuxFileService::chooseTempFolder(notAFolder.c_str(), temp.path().c_str()),
            temp.path() + "/");
  EXPECT_EQ(LinuxFileService::chooseTempFolder((runtime.path() + "/missing").c_str(), nullptr),
            "/tmp/");
  EXPECT_EQ(LinuxFileService::chooseTempFolder(nullptr, notAFolder.c_str()), "/tmp/");
  // A folder given with its slash keeps just the one.
  EXPECT_EQ(LinuxFileService::chooseTempFolder((runtime.path() + "/").c_str(), nullptr),
            runtime.path() + "/");

  std::string real = LinuxFileService().tempFolder();
  ASSERT_FALSE(real.empty());
  EXPECT_EQ(real.back(), '/');
  struct stat info;
  ASSERT_EQ(stat(real.c_str(), &info), 0);
  EXPECT_TRUE(S_ISDIR(info.st_mode));
}

TEST(LinuxFileService, CurrentDirectoryRoundTrip) {
  LinuxFileService files;
  std::string before = files.currentDirectory();
  ASSERT_FALSE(before.empty());
  ScratchFolder scratch;
  ASSERT_FALSE(scratch.path().empty());
  char resolved[PATH_MAX];
  ASSERT_NE(realpath(scratch.path().c_str(), resolved), nullptr);

  ASSERT_TRUE(files.setCurrentDirectory(scratch.path()));
  EXPECT_EQ(files.currentDirectory(), resolved);
  EXPECT_FALSE(files.setCurrentDirectory(scratch.path() + "/missing"));
  EXPECT_FALSE(files.setCurrentDirectory(""));
  EXPECT_EQ(files.currentDirectory(), resolved);
  ASSERT_TRUE(files.setCurrentDirectory(before));
  EXPECT_EQ(files.currentDirectory(), before);
}

void ignoreSignal(int) {}

// Signals arriving during the sleep do not cut it short.
TEST(LinuxFileService, ConfigFolderChoice) {
  EXPECT_EQ(LinuxFileService::chooseConfigFolder("/cfg", "/home/u"), "/cfg/tarvelle2/");
  EXPECT_EQ(LinuxFileService::chooseConfigFolder("/cfg/", "/home/u"), "/cfg/tarvelle2/");
  // Unset, empty or relative: the home folder's .config.
  EXPECT_EQ(LinuxFileService::chooseConfigFolder(nullptr, "/home/u"), "/home/u/.config/tarvelle2/");
  EXPECT_EQ(LinuxFileService::chooseConfigFolder("", "/home/u/"), "/home/u/.config/tarvelle2/");
  EXPECT_EQ(LinuxFileService::chooseConfigFolder("cfg", "/home/u"), "/home/u/.config/tarvelle2/");
  EXPECT_EQ(LinuxFileService::chooseConfigFolder(nullptr, "relative"), "");
  EXPECT_EQ(LinuxFileService::chooseConfigFolder(nullptr, nullptr), "");
}

TEST(LinuxFileService, UserConfigFolderIsCreatedPrivate) {
  ScratchFolder scratch;
  ASSERT_FALSE(scratch.path().empty());
  const char* previous = std::getenv("XDG_CONFIG_HOME");
  const std::string saved = previous != nullptr ? previous : "";
  const std::string base = scratch.path() + "/a/b";
  ::setenv("XDG_CONFIG_HOME", base.c_str(), 1);
  LinuxFileService files;
  const std::string folder = files.userConfigFolder();
  if (previous != nullptr) {
    ::setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
  } else {
    ::unsetenv("XDG_CONFIG_HOME");
  }
  EXPECT_EQ(folder, base + "/tarvelle2/");
  struct stat info;
  ASSERT_EQ(::stat(folder.c_str(), &info), 0);
  EXPECT_TRUE(S_ISDIR(info.st_mode));
  EXPECT_EQ(info.st_mode & 0777, 0700u);
  ASSERT_EQ(::stat(base.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);
  EXPECT_TRUE(files.isFolderWritable(folder));
  EXPECT_FALSE(files.isFolderWritable(folder + "missing"));
  EXPECT_FALSE(files.isFolderWritable("/proc/self/status"));  // a file
  // Permissions count, except for root, whom they do not stop.
  const std::string locked = scratch.path() + "/locked";
  ASSERT_EQ(::mkdir(locked.c_str(), 0500), 0);
  EXPECT_EQ(files.isFolderWritable(locked), ::geteuid() == 0);
}

TEST(LinuxPlatform, SleepLastsThroughSignals) {
  struct sigaction action {};
  action.sa_handler = ignoreSignal;  // no SA_RESTART: nanosleep returns EINTR
  struct sigaction previous {};
  ASSERT_EQ(sigaction(SIGUSR1, &action, &previous), 0);

  LinuxPlatform platform;
  pthread_t sleeper = pthread_self();
  std::atomic<bool> sleeping{true};
  std::thread interrupter([&] {
    for (int i = 0; i < 10 && sleeping.load(); ++i) {
      pthread_kill(sleeper, SIGUSR1);
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  });
  auto start = std::chrono::steady_clock::now();
  platform.sleepMs(80);
  auto slept = std::chrono::steady_clock::now() - start;
  sleeping.store(false);
  interrupter.join();
  sigaction(SIGUSR1, &previous, nullptr);
  EXPECT_GE(slept, std::chrono::milliseconds(80));
  EXPECT_LT(slept, std::chrono::milliseconds(2000));
}

}  // namespace
}  // namespace tv2
