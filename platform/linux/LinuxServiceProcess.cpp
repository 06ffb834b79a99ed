#include "platform/linux/LinuxServiceProcess.h"

#include <fcntl.h>
#include <linux/close_range.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string_view>

#include "platform/ErrorCodes.h"
#include "platform/ServiceManager.h"

namespace tv2 {

namespace {

std::string readSmallFile(const std::string& path, int flags) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | flags);
  if (fd < 0) return std::string();
  std::string text;
  char buffer[4096];
  for (;;) {
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0 || text.size() > 64 * 1024) break;
    text.append(buffer, static_cast<size_t>(n));
  }
  ::close(fd);
  return text;
}

void sleepMs(long ms) {
  timespec pause{ms / 1000, (ms % 1000) * 1000000L};
  while (nanosleep(&pause, &pause) != 0 && errno == EINTR) {
  }
}

int64_t nowMs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

enum class Probe { kGone, kExiting, kHost, kOther };

// What pid is now: the host started with "--pid-file pidFile", a process on
// its way out (its memory, command line included, already released, its
// descriptors maybe not yet), gone (or a zombie: nothing of it is left but
// its exit status), or some other process that reuses the number.
Probe probe(pid_t pid, const std::string& pidFile) {
  std::string proc = "/proc/" + std::to_string(pid);
  std::string stat = readSmallFile(proc + "/stat", 0);
  size_t close = stat.rfind(')');
  if (close == std::string::npos || close + 2 >= stat.size()) return Probe::kGone;
  char state = stat[close + 2];
  if (state == 'Z' || state == 'X' || state == 'x') return Probe::kGone;
  std::string cmdline = readSmallFile(proc + "/cmdline", 0);
  if (cmdline.empty()) return Probe::kExiting;
  std::string_view rest(cmdline);
  bool previousWasOption = false;
  while (!rest.empty()) {
    size_t end = rest.find('\0');
    std::string_view argument = rest.substr(0, end);
    if (previousWasOption && argument == pidFile) return Probe::kHost;
    previousWasOption = argument == "--pid-file";
    if (end == std::string_view::npos) break;
    rest.remove_prefix(end + 1);
  }
  return Probe::kOther;
}

// Waits until pid is no longer the host nor on its way out.
bool waitGone(pid_t pid, const std::string& pidFile, int64_t untilMs) {
  for (;;) {
    Probe now = probe(pid, pidFile);
    if (now == Probe::kGone || now == Probe::kOther) return true;
    if (nowMs() >= untilMs) return false;
    sleepMs(2);
  }
}

uint32_t spawnError(int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR:
      return kErrorFileNotFound;
    case EACCES:
    case EPERM:
      return kErrorAccessDenied;
    case ENOEXEC:
      return kErrorBadExeFormat;
    default:
      return kErrorServiceSpecificError;
  }
}

}  // namespace

pid_t LinuxServiceProcess::runningPid(const std::string& pidFile) {
  std::string text = readSmallFile(pidFile, O_NOFOLLOW);
  char* end = nullptr;
  long pid = std::strtol(text.c_str(), &end, 10);
  if (end == text.c_str() || pid <= 1 || pid > 0x3FFFFFFF) return 0;
  // A host on its way out still holds its socket: it counts until it is gone.
  Probe now = probe(static_cast<pid_t>(pid), pidFile);
  return now == Probe::kHost || now == Probe::kExiting ? static_cast<pid_t>(pid) : 0;
}

uint32_t LinuxServiceProcess::start(int image, const std::string& programName,
                                    const std::vector<std::string>& arguments, uint32_t timeoutMs) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(programName.c_str()));
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  // The host gets a clean slate: no inherited environment or descriptors, default signal
  // dispositions and an empty mask (the program blocks SIGTERM in every
  // thread), standard streams on /dev/null.
  char path[] = "PATH=/usr/sbin:/usr/bin:/sbin:/bin";
  char* environment[] = {path, nullptr};
  // The child reports a failed start through this pipe; a successful one
  // closes it (close-on-exec) without a word.
  int report[2];
  if (::pipe2(report, O_CLOEXEC) != 0) return kErrorServiceSpecificError;
  pid_t launcher = ::fork();
  if (launcher == 0) {
    // Only async-signal-safe calls from here on: other threads of the
    // parent may have held any lock at the fork.
    struct sigaction standard {};
    standard.sa_handler = SIG_DFL;
    for (int signal : {SIGTERM, SIGINT, SIGHUP, SIGPIPE}) ::sigaction(signal, &standard, nullptr);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    int null = ::open("/dev/null", O_RDWR);
    int error = null < 0 ? errno : 0;
    for (int stream = 0; error == 0 && stream < 3; ++stream)
      if (::dup2(null, stream) < 0) error = errno;
    // Nothing else of this process: a daemon holding, say, the write end of
    // the pipe our output goes to would keep its reader waiting forever.
    if (error == 0 && ::close_range(3, ~0U, CLOSE_RANGE_CLOEXEC) != 0) error = errno;
    // Started from the descriptor that was checked, never by path: nothing
    // can swap the file in between.
    if (error == 0) {
      ::fexecve(image, argv.data(), environment);
      error = errno;
    }
    ssize_t ignored = ::write(report[1], &error, sizeof error);
    (void)ignored;
    ::_exit(127);
  }
  ::close(report[1]);
  if (launcher < 0) {
    ::close(report[0]);
    return kErrorServiceSpecificError;
  }
  int childError = 0;
  ssize_t got = 0;
  do {
    got = ::read(report[0], &childError, sizeof childError);
  } while (got < 0 && errno == EINTR);
  ::close(report[0]);
  if (got == static_cast<ssize_t>(sizeof childError)) {
    int status = 0;
    while (::waitpid(launcher, &status, 0) < 0 && errno == EINTR) {
    }
    return spawnError(childError);
  }

  int64_t deadline = nowMs() + timeoutMs;
  int status = 0;
  for (;;) {
    pid_t done = ::waitpid(launcher, &status, WNOHANG);
    if (done == launcher) break;
    if (done < 0 && errno != EINTR) return kErrorServiceSpecificError;
    if (nowMs() >= deadline) {
      ::kill(launcher, SIGKILL);
      while (::waitpid(launcher, &status, 0) < 0 && errno == EINTR) {
      }
      return kErrorServiceRequestTimeout;
    }
    sleepMs(2);
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? kOk : kErrorServiceSpecificError;
}

bool LinuxServiceProcess::stop(pid_t pid, const std::string& pidFile, uint32_t graceMs) {
  if (pid <= 1) return true;
  // Only a process that names our pid file is ever signalled.
  Probe now = probe(pid, pidFile);
  if (now != Probe::kHost) return waitGone(pid, pidFile, nowMs() + graceMs);
  ::kill(pid, SIGTERM);
  if (waitGone(pid, pidFile, nowMs() + graceMs)) return true;
  if (probe(pid, pidFile) == Probe::kHost) ::kill(pid, SIGKILL);
  return waitGone(pid, pidFile, nowMs() + 1000);
}

}  // namespace tv2
