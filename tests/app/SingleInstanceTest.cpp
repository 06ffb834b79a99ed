// The single-instance rule checked on the real program, as separate processes.

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {

using std::chrono::milliseconds;

struct Child {
  pid_t pid = -1;
  int outFd = -1;  // the child's stdout and stderr
};

Child spawnProgram() {
  Child child;
  int fds[2];
  if (pipe(fds) != 0) return child;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
  posix_spawn_file_actions_adddup2(&actions, fds[1], 2);
  posix_spawn_file_actions_addclose(&actions, fds[0]);
  char* argv[] = {const_cast<char*>(TV2_PROGRAM), nullptr};
  if (posix_spawn(&child.pid, TV2_PROGRAM, &actions, nullptr, argv, environ) != 0) child.pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  close(fds[1]);
  child.outFd = fds[0];
  return child;
}

// Waits up to limit for the child to end; returns its wait status or -1.
int waitExit(pid_t pid, milliseconds limit) {
  auto end = std::chrono::steady_clock::now() + limit;
  int status = 0;
  while (std::chrono::steady_clock::now() < end) {
    pid_t r = waitpid(pid, &status, WNOHANG);
    if (r == pid) return status;
    std::this_thread::sleep_for(milliseconds(10));
  }
  return -1;
}

std::string drain(int fd) {
  std::string out;
  char buffer[256];
  ssize_t n;
  while ((n = read(fd, buffer, sizeof buffer)) > 0) out.append(buffer, static_cast<size_t>(n));
  close(fd);
  return out;
}

// The settings file beside the program, set to skip the start-up update
// check for the test (which is not about the network), and the file that was
// there before put back afterwards.
class QuietSettings {
 public:
  QuietSettings() : m_path(std::filesystem::path(TV2_PROGRAM).parent_path() / "Tarvelle2.ini") {
    std::ifstream old(m_path, std::ios::binary);
    m_hadFile = static_cast<bool>(old);
    if (m_hadFile) m_old.assign(std::istreambuf_iterator<char>(old), std::istreambuf_iterator<char>());
    std::ofstream(m_path, std::ios::binary | std::ios::trunc) << "\xEF\xBB\xBF[Tarvelle2]\nUPDATES=0\n";
  }
  ~QuietSettings() {
    if (m_hadFile) {
      std::ofstream(m_path, std::ios::binary | std::ios::trunc) << m_old;
    } else {
      std::filesystem::remove(m_path);
    }
  }

 private:
  std::filesystem::path m_path;
  bool m_hadFile = false;
  std::string m_old;
};

TEST(SingleInstance, SecondCopyEndsSilentlyAndAKilledCopyFreesTheLock) {
  // The copies open their window on the offscreen platform: no display here.
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QuietSettings settings;
  Child first = spawnProgram();
  ASSERT_GT(first.pid, 0);
  // The first copy keeps running.
  ASSERT_EQ(waitExit(first.pid, milliseconds(700)), -1) << drain(first.outFd);

  Child second = spawnProgram();
  ASSERT_GT(second.pid, 0);
  int status = waitExit(second.pid, milliseconds(5000));
  ASSERT_NE(status, -1) << "the second copy did not end";
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(drain(second.outFd), "");

  // A window-less copy cannot stay silent: it says why it ends, in one line.
  {
    const std::string command = std::string(TV2_PROGRAM) + " --report /dev/null 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string said;
    char buffer[256];
    size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) said.append(buffer, n);
    const int raw = pclose(pipe);
    EXPECT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 1) << said;
    EXPECT_NE(said.find("another copy"), std::string::npos) << said;
    EXPECT_EQ(said.find("driver"), std::string::npos) << said;
    EXPECT_EQ(said.find('\n'), said.size() - 1) << said;
  }

  kill(first.pid, SIGKILL);
  ASSERT_NE(waitExit(first.pid, milliseconds(5000)), -1);
  drain(first.outFd);

  Child third = spawnProgram();
  ASSERT_GT(third.pid, 0);
  const int thirdEarly = waitExit(third.pid, milliseconds(700));
  if (thirdEarly != -1) FAIL() << "a new copy must start after a kill -9\n" << drain(third.outFd);
  // SIGTERM runs the orderly shutdown.
  kill(third.pid, SIGTERM);
  status = waitExit(third.pid, milliseconds(15000));
  ASSERT_NE(status, -1);
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  drain(third.outFd);
}

}  // namespace
