#pragma once

#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

namespace tv2::test {

// The test helper program running as a child process, started with
// posix_spawn (no fork in the multi-threaded test process). Its stdout comes
// back through a pipe. Used by one test thread.
class HelperProcess {
 public:
  // Null when the program cannot be started.
  static std::unique_ptr<HelperProcess> start(const std::vector<std::string>& arguments);
  // Kills and reaps the child if it still runs.
  ~HelperProcess();
  HelperProcess(const HelperProcess&) = delete;
  HelperProcess& operator=(const HelperProcess&) = delete;

  // The next line the child printed, without '\n'; empty on timeout or when
  // the child closed its output.
  std::string readLine(int timeoutMs);
  // SIGKILL, then reaps it; true when it died of that signal.
  bool killAndReap();
  // Waits for the child to exit; its exit status, or -1.
  int waitForExit();
  pid_t pid() const { return m_pid; }

 private:
  HelperProcess(pid_t pid, int output);

  pid_t m_pid;
  int m_output;
  bool m_reaped = false;
  std::string m_pending;
};

}  // namespace tv2::test
