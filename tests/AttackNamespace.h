#pragma once

// What the attack tests share: a re-run of the test program as root in a
// mount namespace of its own (so tmpfs mounted over /tmp or /run stays there)
// and the attacker, a shell as uid/gid 65534 with no groups.

#include <fcntl.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <csignal>
#include <filesystem>
#include <string>
#include <vector>

extern char** environ;

namespace tv2 {

inline constexpr const char* kNamespaceMark = "TV2_ATTACK_NAMESPACE";

inline bool mountTmpfs(const char* where, const char* options) {
  return ::mount("tv2-attack", where, "tmpfs", MS_NOSUID | MS_NODEV, options) == 0;
}

// A process of the attacker's: sh -c script as uid/gid 65534 with no groups.
class AttackerProcess {
 public:
  explicit AttackerProcess(const std::string& script, bool withOutput = false) {
    std::vector<std::string> args = {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
                                     "--",      "/bin/sh",       "-c",            script};
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    int ends[2] = {-1, -1};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (withOutput && ::pipe2(ends, O_CLOEXEC) == 0) {
      posix_spawn_file_actions_adddup2(&actions, ends[1], STDOUT_FILENO);
      m_output = ends[0];
    }
    if (posix_spawn(&m_pid, "/usr/bin/setpriv", &actions, nullptr, argv.data(), environ) != 0) m_pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    if (ends[1] >= 0) ::close(ends[1]);
  }
  ~AttackerProcess() {
    stop();
    if (m_output >= 0) ::close(m_output);
  }
  AttackerProcess(const AttackerProcess&) = delete;
  AttackerProcess& operator=(const AttackerProcess&) = delete;

  // The exit status, or -1.
  int wait() {
    if (m_pid <= 0) return -1;
    int status = 0;
    while (::waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
    }
    m_pid = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  void stop() {
    if (m_pid <= 0) return;
    ::kill(m_pid, SIGKILL);
    wait();
  }
  // One line of output (without '\n'); empty at its end.
  std::string readLine() {
    std::string line;
    char c = 0;
    while (m_output >= 0 && ::read(m_output, &c, 1) == 1 && c != '\n') line.push_back(c);
    return line;
  }

 private:
  pid_t m_pid = -1;
  int m_output = -1;
};

inline int runAsAttacker(const std::string& script) { return AttackerProcess(script).wait(); }

// True when this system lets us make a mount namespace (a container may not):
// otherwise the tests skip instead of the program failing to start.
inline bool unshareWorks() {
  char* argv[] = {const_cast<char*>("unshare"), const_cast<char*>("--mount"), const_cast<char*>("true"), nullptr};
  pid_t pid = -1;
  if (posix_spawn(&pid, "/usr/bin/unshare", nullptr, nullptr, argv, environ) != 0) return false;
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Called first in main(): as root outside the namespace, runs this program
// again in a private mount namespace (and returns only when that fails).
// True only inside that namespace, where mounts over the machine's folders
// are safe; false when not root or without unshare, and the attack tests skip.
inline bool InPrivateMountNamespace(int argc, char** argv) {
  if (::geteuid() != 0) return false;
  if (std::getenv(kNamespaceMark) != nullptr) return true;
  if (!unshareWorks()) return false;
  ::setenv(kNamespaceMark, "1", 1);
  // This program's own path: "/proc/self/exe" would name unshare there.
  std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
  std::vector<char*> args = {const_cast<char*>("unshare"), const_cast<char*>("--mount"),
                             const_cast<char*>("--propagation"), const_cast<char*>("private"),
                             const_cast<char*>("--"), self.data()};
  for (int i = 1; i < argc; ++i) args.push_back(argv[i]);
  args.push_back(nullptr);
  ::execv("/usr/bin/unshare", args.data());
  ::unsetenv(kNamespaceMark);
  return false;
}

}  // namespace tv2
