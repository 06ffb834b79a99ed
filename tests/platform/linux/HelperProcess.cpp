#include "HelperProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

extern char** environ;

namespace tv2::test {

HelperProcess::HelperProcess(pid_t pid, int output) : m_pid(pid), m_output(output) {}

std::unique_ptr<HelperProcess> HelperProcess::start(const std::vector<std::string>& arguments) {
  int pipeEnds[2];
  if (pipe2(pipeEnds, O_CLOEXEC) != 0) return nullptr;

  std::vector<std::string> strings;
  strings.push_back(TV2_PLATFORM_HELPER);
  strings.insert(strings.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& s : strings) argv.push_back(s.data());
  argv.push_back(nullptr);

  // The child checks that its parent is still this process.
  std::vector<std::string> environment;
  for (char** e = environ; *e != nullptr; ++e) environment.emplace_back(*e);
  environment.push_back("TV2_HELPER_PARENT=" + std::to_string(getpid()));
  std::vector<char*> envp;
  for (std::string& s : environment) envp.push_back(s.data());
  envp.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
  pid_t pid = -1;
  int result = posix_spawn(&pid, TV2_PLATFORM_HELPER, &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  ::close(pipeEnds[1]);
  if (result != 0) {
    ::close(pipeEnds[0]);
    return nullptr;
  }
  return std::unique_ptr<HelperProcess>(new HelperProcess(pid, pipeEnds[0]));
}

HelperProcess::~HelperProcess() {
  if (!m_reaped) killAndReap();
  ::close(m_output);
}

std::string HelperProcess::readLine(int timeoutMs) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    size_t newline = m_pending.find('\n');
    if (newline != std::string::npos) {
      std::string line = m_pending.substr(0, newline);
      m_pending.erase(0, newline + 1);
      return line;
    }
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return std::string();
    pollfd watched{m_output, POLLIN, 0};
    int ready = poll(&watched, 1, static_cast<int>(left.count()));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return std::string();
    char buffer[256];
    ssize_t got = ::read(m_output, buffer, sizeof(buffer));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return std::string();
    m_pending.append(buffer, static_cast<size_t>(got));
  }
}

bool HelperProcess::killAndReap() {
  if (m_reaped) return false;
  ::kill(m_pid, SIGKILL);
  int status = 0;
  while (waitpid(m_pid, &status, 0) < 0) {
    if (errno != EINTR) return false;
  }
  m_reaped = true;
  return WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
}

int HelperProcess::waitForExit() {
  if (m_reaped) return -1;
  int status = 0;
  while (waitpid(m_pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  m_reaped = true;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace tv2::test
