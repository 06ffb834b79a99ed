// Another user on the same machine tries to steer a root run of the driver
// client: through the driver lock, and through the folder the host's image
// is written to and started from. The attacker runs as uid 65534 (setpriv);
// everything happens in a private mount namespace with fresh tmpfs over /run,
// /dev/shm and /tmp (a sticky world-writable stand-in), so the machine's own
// folders and running copies are never touched. Root only; the program
// re-runs itself under unshare.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "hw/CKMDriver.h"
#include "platform/ErrorCodes.h"
#include "platform/linux/LinuxPlatform.h"
#include "tests/AttackNamespace.h"

extern char** environ;

namespace tv2 {
namespace {

namespace fs = std::filesystem;

bool g_isolated = false;

bool mountTmpfs(const char* where, const char* options) {
  return ::mount("tv2-attack", where, "tmpfs", MS_NOSUID | MS_NODEV, options) == 0;
}

// Fresh, empty stand-ins for the folders the attacks go through.
bool freshFolders() {
  return mountTmpfs("/run", "mode=0755") && mountTmpfs("/dev/shm", "mode=1777") &&
         mountTmpfs("/tmp", "mode=1777");
}

std::string readAll(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}


class DriverAttackTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!g_isolated) GTEST_SKIP() << "needs root, unshare and setpriv";
    ASSERT_TRUE(freshFolders());
    ::unsetenv("XDG_RUNTIME_DIR");
    ::unsetenv("TMPDIR");
    // The host reads plain files instead of /dev, in a folder of root's.
    int cpus = static_cast<int>(::sysconf(_SC_NPROCESSORS_CONF));
    for (int cpu = 0; cpu < cpus; ++cpu) {
      std::string folder = "/run/tv2-dev/cpu/" + std::to_string(cpu);
      fs::create_directories(folder);
      int fd = ::open((folder + "/msr").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
      ASSERT_GE(fd, 0);
      ASSERT_EQ(::ftruncate(fd, 0x1000), 0);
      ::close(fd);
    }
  }

  // One root run as the monitor makes it: install from root's temporary
  // folder, one request, removal. False when any step fails.
  bool rootRun() {
    LinuxPlatformOptions options;
    options.serviceArguments = {"--no-modprobe", "--dev-root", "/run/tv2-dev"};
    LinuxPlatform platform(options);
    CKMDriver driver(platform);
    driver.SetImageResourceIds(106, 107, 108, 109);
    std::string temp = platform.files().tempFolder();
    uint32_t error = 0;
    bool ok = driver.Initialize(temp.c_str(), &error, 1) == 1;
    EXPECT_TRUE(ok) << "Initialize: " << error;
    int32_t version = 0;
    if (ok) {
      ok = driver.Acquire(&error, 0) == 1;
      EXPECT_TRUE(ok) << "Acquire: " << error;
    }
    if (ok) {
      ok = driver.GetDriverVersion(&version) == 1 && version == 312;
      EXPECT_EQ(version, 312);
      driver.Release();
    }
    if (driver.hasDriverMutex()) ok = driver.Uninstall(1, 1) == 1 && ok;
    return ok;
  }

  // Root left nothing of its own under /tmp and ran nothing from there.
  void expectNothingOfRootsInTmp() {
    EXPECT_FALSE(fs::exists("/tmp/owned")) << "root ran the attacker's file";
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator("/tmp", error); it != fs::recursive_directory_iterator();
         it.increment(error)) {
      struct stat info;
      if (::lstat(it->path().c_str(), &info) == 0) {
        EXPECT_NE(info.st_uid, 0u) << it->path();
      }
    }
  }
};

constexpr const char* kPlantedImage =
    "mkdir -m 777 /tmp/a && printf '#!/bin/sh\\ntouch /tmp/owned\\n' > /tmp/a/kzor138_x64.sys && "
    "chmod 777 /tmp/a/kzor138_x64.sys";

// The attacker runs its own copy holding the lock of that name in its own
// runtime folder, leaves objects where an older layout kept the lock, and a
// root run started with the attacker's runtime folder in its environment
// (sudo -E) still gets the lock at once.
TEST_F(DriverAttackTest, PlantedLockObjectsChangeNothing) {
  ASSERT_EQ(runAsAttacker("mkdir -m 700 /tmp/run && printf x > /tmp/run/victim && "
                          "printf junk > /dev/shm/tarvelle2-Global-kzor && "
                          "ln -s /tmp/run/victim /tmp/tarvelle2-Global-kzor.lock"),
            0);
  AttackerProcess holder(std::string(TV2_PLATFORM_HELPER) + " mutex /tmp/run tarvelle2- 'Global\\kzor'", true);
  ASSERT_EQ(holder.readLine(), "owned 0");
  // Left at the lock's name in root's folder: a link to the attacker's file.
  fs::create_directory("/run/tarvelle2");
  fs::permissions("/run/tarvelle2", fs::perms::owner_all);
  fs::create_symlink("/tmp/run/victim", "/run/tarvelle2/tarvelle2-Global-kzor.lock");
  ::setenv("XDG_RUNTIME_DIR", "/tmp/run", 1);

  EXPECT_TRUE(rootRun());
  EXPECT_EQ(readAll("/tmp/run/victim"), "x");
  EXPECT_TRUE(fs::is_regular_file(fs::symlink_status("/run/tarvelle2/tarvelle2-Global-kzor.lock")));
  expectNothingOfRootsInTmp();
}

// Folders planted where the image once went: root neither fails nor removes them.
TEST_F(DriverAttackTest, PlantedFoldersChangeNothing) {
  ASSERT_EQ(runAsAttacker("mkdir -m 777 /tmp/kzor138 /tmp/t /tmp/t/kzor138"), 0);
  ::setenv("TMPDIR", "/tmp/t", 1);
  EXPECT_TRUE(rootRun());
  EXPECT_TRUE(rootRun());
  for (const char* planted : {"/tmp/kzor138", "/tmp/t/kzor138"}) {
    struct stat info;
    ASSERT_EQ(::lstat(planted, &info), 0) << planted << " was removed";
    EXPECT_TRUE(S_ISDIR(info.st_mode));
    EXPECT_EQ(info.st_uid, 65534u);
  }
  expectNothingOfRootsInTmp();
}

// Links planted there to a folder holding a program of the attacker's.
TEST_F(DriverAttackTest, APlantedLinkChangesNothing) {
  ASSERT_EQ(runAsAttacker(std::string(kPlantedImage) +
                          " && ln -s /tmp/a /tmp/kzor138 && mkdir -m 777 /tmp/t && ln -s /tmp/a /tmp/t/kzor138"),
            0);
  ::setenv("TMPDIR", "/tmp/t", 1);
  EXPECT_TRUE(rootRun());
  EXPECT_TRUE(fs::is_symlink("/tmp/kzor138"));
  EXPECT_TRUE(fs::is_symlink("/tmp/t/kzor138"));
  expectNothingOfRootsInTmp();
}

// The attacker flips the link between its own folder and a folder of root's
// as fast as it can while root starts the host again and again.
TEST_F(DriverAttackTest, ALinkFlippedDuringRepeatedStartsChangesNothing) {
  ASSERT_EQ(runAsAttacker(kPlantedImage), 0);
  AttackerProcess flipper(
      "while :; do ln -sfn /tmp/a /tmp/kzor138; ln -sfn /run/tarvelle2 /tmp/kzor138; "
      "ln -sfn /tmp/a /tmp/kzor138.new && mv -T /tmp/kzor138.new /tmp/kzor138; done");
  for (int run = 0; run < 8; ++run) {
    SCOPED_TRACE(run);
    EXPECT_TRUE(rootRun());
  }
  flipper.stop();
  expectNothingOfRootsInTmp();
  EXPECT_EQ(readAll("/tmp/a/kzor138_x64.sys"), "#!/bin/sh\ntouch /tmp/owned\n");
}

}  // namespace
}  // namespace tv2

int main(int argc, char** argv) {
  // Without root or unshare the tests skip.
  if (tv2::InPrivateMountNamespace(argc, argv)) {
    tv2::g_isolated = tv2::freshFolders() && ::access("/usr/bin/setpriv", X_OK) == 0;
  }
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
