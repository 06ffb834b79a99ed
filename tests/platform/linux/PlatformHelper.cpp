// A small program the platform tests start as a separate process: it takes a
// named mutex or an instance lock, reports on stdout and waits to be killed.
//
//   tv2_platform_linux_helper lock <prefix> <name>      hold an instance lock
//   tv2_platform_linux_helper mutex <prefix> <name>     own a named mutex (two levels)
//   tv2_platform_linux_helper open-as <uid> <prefix> <name>
//                                                       open a named mutex as
//                                                       another user, print the result
//   tv2_platform_linux_helper idle                      just wait
#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "platform/ErrorCodes.h"
#include "platform/linux/LinuxInstanceLock.h"
#include "platform/linux/LinuxNamedMutex.h"

namespace {

// Never outlive the test: die with the thread that started us, and in any
// case after half a minute.
void bindLifetimeToParent(pid_t parent) {
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (getppid() != parent) _exit(3);
  alarm(30);
}

void say(const char* text, uint32_t code) {
  std::printf("%s %u\n", text, code);
  std::fflush(stdout);
}

[[noreturn]] void waitForKill() {
  for (;;) pause();
}

}  // namespace

int main(int argc, char** argv) {
  const char* parentText = std::getenv("TV2_HELPER_PARENT");
  bindLifetimeToParent(parentText != nullptr ? static_cast<pid_t>(std::atoi(parentText)) : getppid());
  if (argc == 2 && std::strcmp(argv[1], "idle") == 0) {
    say("ready", 0);
    waitForKill();
  }
  if (argc == 4 && std::strcmp(argv[1], "lock") == 0) {
    uint32_t error = 0;
    std::unique_ptr<tv2::LinuxInstanceLock> lock = tv2::LinuxInstanceLock::acquire(argv[2], argv[3], &error);
    say(lock ? "held" : "refused", error);
    if (lock) waitForKill();
    return 1;
  }
  if (argc == 4 && std::strcmp(argv[1], "mutex") == 0) {
    uint32_t error = 0;
    std::unique_ptr<tv2::LinuxNamedMutex> mutex = tv2::LinuxNamedMutex::open(argv[2], argv[3], nullptr, &error);
    uint32_t result = mutex ? mutex->wait(0) : error;
    if (result == tv2::kWaitObject0) result = mutex->wait(0);
    bool owned = mutex && (result == tv2::kWaitObject0 || result == tv2::kWaitAbandoned);
    say(owned ? "owned" : "refused", result);
    if (owned) waitForKill();
    return 1;
  }
  if (argc == 5 && std::strcmp(argv[1], "open-as") == 0) {
    auto uid = static_cast<uid_t>(std::atoi(argv[2]));
    if (setgid(static_cast<gid_t>(uid)) != 0 || setuid(uid) != 0) {
      say("cannot-switch-user", 0);
      return 1;
    }
    uint32_t error = 0;
    std::unique_ptr<tv2::LinuxNamedMutex> mutex = tv2::LinuxNamedMutex::open(argv[3], argv[4], nullptr, &error);
    say(mutex ? "opened" : "refused", error);
    return 0;
  }
  return 2;
}
