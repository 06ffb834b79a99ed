// A small program the platform tests start as a separate process: it takes a
// named mutex or an instance lock, reports on stdout and waits to be killed.
//
//   tv2_platform_linux_helper lock <prefix> <name>      hold an instance lock
//   tv2_platform_linux_helper mutex <folder> <prefix> <name>
//                                                       own a named mutex (two levels)
//   tv2_platform_linux_helper hold <folder> <prefix> <name> <ms>
//                                                       wait for a named mutex, own it
//                                                       for ms, release it and end
//   tv2_platform_linux_helper open-as <uid> <folder> <prefix> <name>
//                                                       open a named mutex in root's
//                                                       folder as another user, print
//                                                       the result
//   tv2_platform_linux_helper idle                      just wait
#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "platform/ErrorCodes.h"
#include "platform/linux/LinuxInstanceLock.h"
#include "platform/linux/LinuxNamedMutex.h"
#include "platform/linux/LinuxTrustedFolder.h"

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

std::unique_ptr<tv2::LinuxNamedMutex> openMutex(const char* folderPath, const tv2::LinuxTrust& trust,
                                                const char* prefix, const char* name, uint32_t* error) {
  tv2::LinuxTrustedFolder folder;
  *error = tv2::LinuxTrustedFolder::open(folderPath, trust, false, &folder);
  if (*error != tv2::kOk) return nullptr;
  return tv2::LinuxNamedMutex::open(folder, prefix, name, nullptr, error);
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
  if (argc == 5 && std::strcmp(argv[1], "mutex") == 0) {
    uint32_t error = 0;
    auto mutex = openMutex(argv[2], tv2::LinuxTrust::ofCaller(), argv[3], argv[4], &error);
    uint32_t result = mutex ? mutex->wait(0) : error;
    if (result == tv2::kWaitObject0) result = mutex->wait(0);
    bool owned = mutex && (result == tv2::kWaitObject0 || result == tv2::kWaitAbandoned);
    say(owned ? "owned" : "refused", result);
    if (owned) waitForKill();
    return 1;
  }
  if (argc == 6 && std::strcmp(argv[1], "hold") == 0) {
    uint32_t error = 0;
    auto mutex = openMutex(argv[2], tv2::LinuxTrust::ofCaller(), argv[3], argv[4], &error);
    uint32_t result = mutex ? mutex->wait(tv2::LinuxNamedMutex::kInfinite) : error;
    if (result != tv2::kWaitObject0 && result != tv2::kWaitAbandoned) {
      say("refused", result);
      return 1;
    }
    say("owned", result);
    usleep(static_cast<useconds_t>(std::atoi(argv[5])) * 1000);
    bool released = mutex->release();
    say(released ? "released" : "kept", 0);
    return released ? 0 : 1;
  }
  if (argc == 6 && std::strcmp(argv[1], "open-as") == 0) {
    auto uid = static_cast<uid_t>(std::atoi(argv[2]));
    if (setgid(static_cast<gid_t>(uid)) != 0 || setuid(uid) != 0) {
      say("cannot-switch-user", 0);
      return 1;
    }
    // Root's folder, as root's trust would accept it: only the folder's own
    // permissions stand in the way.
    tv2::LinuxTrust rootTrust;
    uint32_t error = 0;
    auto mutex = openMutex(argv[3], rootTrust, argv[4], argv[5], &error);
    say(mutex ? "opened" : "refused", error);
    return 0;
  }
  return 2;
}
