// The window program as a process on the simulated machine, on the offscreen
// platform: it keeps running until a termination signal, which ends it in
// order with status 0, a second signal during the shutdown included.

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

using std::chrono::milliseconds;

// The user's configuration folder of these runs: never the real home's.
std::filesystem::path configHome() {
  static const std::filesystem::path folder =
      std::filesystem::temp_directory_path() / ("tv2-frame-program-" + std::to_string(::getpid()));
  return folder;
}

pid_t spawnProgram(const std::vector<std::string>& args) {
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry(*e);
    if (entry.rfind("QT_QPA_PLATFORM=", 0) != 0 && entry.rfind("XDG_CONFIG_HOME=", 0) != 0) env.push_back(entry);
  }
  env.push_back("QT_QPA_PLATFORM=offscreen");
  env.push_back("XDG_CONFIG_HOME=" + configHome().string());
  std::vector<char*> envp;
  for (std::string& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::vector<std::string> argStrings{TV2_PROGRAM};
  argStrings.insert(argStrings.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : argStrings) argv.push_back(a.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  // Qt's notes about the offscreen platform are of no interest here.
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  // The child starts with nothing blocked, as from a shell.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);
  pid_t pid = -1;
  if (posix_spawn(&pid, TV2_PROGRAM, &actions, &attributes, argv.data(), envp.data()) != 0) pid = -1;
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

int waitExit(pid_t pid, milliseconds limit) {
  auto end = std::chrono::steady_clock::now() + limit;
  int status = 0;
  while (std::chrono::steady_clock::now() < end) {
    if (waitpid(pid, &status, WNOHANG) == pid) return status;
    std::this_thread::sleep_for(milliseconds(10));
  }
  kill(pid, SIGKILL);
  waitpid(pid, &status, 0);
  return -1;
}

TEST(FrameProgramTest, TerminationSignalsEndTheWindowProgramInOrder) {
  for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
    pid_t pid = spawnProgram({"--simulate", "intel-snb"});
    ASSERT_GT(pid, 0);
    int status = 0;
    std::this_thread::sleep_for(milliseconds(1500));
    ASSERT_EQ(waitpid(pid, &status, WNOHANG), 0) << "the window program ended by itself";
    kill(pid, signal);
    kill(pid, signal);  // a second one while it closes
    status = waitExit(pid, milliseconds(10000));
    ASSERT_NE(status, -1) << "no orderly end after signal " << signal;
    EXPECT_TRUE(WIFEXITED(status)) << signal;
    EXPECT_EQ(WEXITSTATUS(status), 0) << signal;
  }
  std::filesystem::remove_all(configHome());
}

// A simulated run keeps each preset's settings in the user's folder, apart
// from the real machine's: what one run leaves, the next reads and writes back.
// The simulated program lies in a folder it cannot write, as an installed
// one does.
TEST(FrameProgramTest, SimulatedRunsKeepEachPresetsSettingsInTheUsersFolder) {
  std::filesystem::remove_all(configHome());
  const std::filesystem::path settings = configHome() / "tarvelle2" / "simulated" / "amd-bd" / "Tarvelle2.ini";
  auto runOnce = [] {
    pid_t pid = spawnProgram({"--simulate", "amd-bd"});
    if (pid <= 0) return -1;
    std::this_thread::sleep_for(milliseconds(1500));
    kill(pid, SIGTERM);
    return waitExit(pid, milliseconds(10000));
  };
  int status = runOnce();
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  ASSERT_TRUE(std::filesystem::is_regular_file(settings));
  EXPECT_FALSE(std::filesystem::exists(configHome() / "tarvelle2" / "Tarvelle2.ini")) << "the real machine's file";
  EXPECT_EQ(std::filesystem::status(settings.parent_path()).permissions() & std::filesystem::perms::all,
            std::filesystem::perms::owner_all);

  // A column width and a graph list the program would not choose itself.
  const std::string text = "[Tarvelle2]\r\nCOL0=333\r\nFLAGS=7\r\nUPDATES=0\r\n";
  std::string bytes = "\xFF\xFE";
  for (char c : text) bytes += std::string{c, '\0'};
  std::ofstream(settings, std::ios::binary | std::ios::trunc) << bytes;
  status = runOnce();
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  std::ifstream in(settings, std::ios::binary);
  std::string written((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::string narrow;
  for (size_t i = 2; i + 1 < written.size(); i += 2) narrow += written[i];
  EXPECT_NE(narrow.find("COL0=333\r\n"), std::string::npos) << narrow;
  EXPECT_NE(narrow.find("FLAGS=7\r\n"), std::string::npos) << narrow;
  EXPECT_NE(narrow.find("UPDATES=0\r\n"), std::string::npos) << narrow;
  std::filesystem::remove_all(configHome());
}

}  // namespace
