// The driver host: serves the monitor's device requests, and opens the fixed
// kernel counting events whose descriptors it passes back, on a root-only Unix
// socket until the service manager's stop (SIGTERM), or until the process
// that installed it is gone and no client is connected. It writes nothing but
// that socket and its pid file, and removes its registration only in the
// second case (nobody is left to do it).

#include <fcntl.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

#include "driver/host/HostOptions.h"
#include "driver/host/HostServer.h"
#include "driver/host/KernelEventOpener.h"
#include "driver/host/LinuxHardware.h"
#include "driver/host/SocketActivation.h"
#include "driver/protocol/AccessPolicy.h"
#include "driver/protocol/DeviceRequestHandler.h"
#include "driver/protocol/HardwareFacts.h"

namespace {

using namespace tv2;

// Detaches from the starting process, which stays until the device listens
// so that its exit code is the start's result. Returns the descriptor to
// report readiness on (-1 when not detached), or -2 on failure.
int detach() {
  int ready[2];
  if (::pipe2(ready, O_CLOEXEC) != 0) return -2;
  pid_t child = ::fork();
  if (child < 0) return -2;
  if (child > 0) {
    ::close(ready[1]);
    char byte = 1;
    ssize_t n = -1;
    do {
      n = ::read(ready[0], &byte, 1);
    } while (n < 0 && errno == EINTR);
    if (n == 1 && byte == 0) ::_exit(kHostExitOk);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    ::_exit(WIFEXITED(status) && WEXITSTATUS(status) != 0 ? WEXITSTATUS(status) : kHostExitDetach);
  }
  ::close(ready[0]);
  ::setsid();
  if (::chdir("/") != 0) return -2;
  int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
  if (null >= 0) {
    ::dup2(null, 0);
    ::dup2(null, 1);
    ::dup2(null, 2);
    ::close(null);
  }
  return ready[1];
}

void reportReady(int fd) {
  if (fd < 0) return;
  char byte = 0;
  while (::write(fd, &byte, 1) < 0 && errno == EINTR) {
  }
  ::close(fd);
}

bool writePidFile(const std::string& path) {
  if (path.empty()) return true;
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  std::string text = std::to_string(::getpid()) + "\n";
  bool ok = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  return ::close(fd) == 0 && ok;
}

// Only our own pid file goes: a new host may already have written its own.
void removePidFile(const std::string& path) {
  if (path.empty()) return;
  int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return;
  char text[32] = {};
  ssize_t n = ::read(fd, text, sizeof text - 1);
  ::close(fd);
  if (n > 0 && std::to_string(::getpid()) + "\n" == std::string(text, static_cast<size_t>(n)))
    ::unlink(path.c_str());
}

// A pidfd for the installing process, opened while that process waits for the
// host to start, so the pid cannot have been reused. -1 when it is gone.
int openOwner(int pid) {
  return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
}

// The registration names this service; only a regular file is removed. The
// registry folder is root's and closed to others (the service manager checks
// it before it starts the host), and unlink never follows a link, so nobody
// can swap the name between the check and the removal.
void removeRegistration(const std::string& path) {
  if (path.empty()) return;
  struct stat info;
  if (::lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode)) ::unlink(path.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  HostOptions options;
  std::string error;
  if (!HostOptions::parse(argc, argv, &options, &error)) {
    std::fprintf(stderr, "driver host: %s\n", error.c_str());
    return kHostExitUsage;
  }
  // A service manager passes the listening socket as descriptor 3.
  ActivatedSocket activated;
  if (options.socketActivated && !ActivatedSocket::take(options.socketPath, &activated, &error)) {
    std::fprintf(stderr, "driver host: %s\n", error.c_str());
    return kHostExitNoDevice;
  }
  // Whatever other descriptors the starter left open are not the host's to keep.
  ::close_range(activated.fd >= 0 ? static_cast<unsigned>(activated.fd) + 1 : 3u, ~0u, 0);
  std::signal(SIGPIPE, SIG_IGN);
  ::umask(077);

  int readyFd = -1;
  if (options.daemon) {
    readyFd = detach();
    if (readyFd == -2) return kHostExitDetach;
  }

  // The stop control arrives as SIGTERM (SIGINT and SIGHUP stop it as well
  // when run by hand); a signalfd lets the serving loop see it.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGHUP);
  if (::sigprocmask(SIG_BLOCK, &stopSignals, nullptr) != 0) return kHostExitNoSignals;
  int stopFd = ::signalfd(-1, &stopSignals, SFD_CLOEXEC);
  if (stopFd < 0) return kHostExitNoSignals;

  LinuxHardwareOptions hardwareOptions;
  hardwareOptions.devRoot = options.devRoot;
  hardwareOptions.sysRoot = options.sysRoot;
  hardwareOptions.loadMsrModule = options.loadMsrModule;
  LinuxHardware hardware(hardwareOptions);
  PolicyFacts facts = HardwareFacts::learn(hardware, hardware.pmTimerPortFromKernel());
  hardware.setConfigWindow(facts.configWindowBase, facts.configWindowSize);
  AccessPolicy policy(facts);
  DeviceRequestHandler handler(hardware, policy);
  // What the kernel's perf events offer, read once: the fixed events are
  // opened from this, never from anything a client sends.
  KernelEventOpener kernelEvents(options.sysRoot, "/proc");

  HostServerOptions serverOptions;
  serverOptions.socketPath = options.socketPath;
  serverOptions.frameTimeoutMs = options.frameTimeoutMs;
  HostServer server(handler, serverOptions);
  server.setKernelEvents(&kernelEvents);
  bool ownerAlreadyGone = false;
  if (options.ownerPid != 0) {
    int owner = openOwner(options.ownerPid);
    if (owner >= 0) {
      ::fcntl(owner, F_SETFD, FD_CLOEXEC);
      server.watchOwner(owner);
    } else {
      // ESRCH: it ended before the host got here. Without pidfds (kernels
      // before 5.3) the host runs until it is stopped, as before.
      ownerAlreadyGone = errno == ESRCH;
    }
  }
  int listenError = activated.fd >= 0 ? server.adopt(activated.fd, activated.group) : server.listen();
  if (listenError != 0) {
    std::fprintf(stderr, "driver host: cannot listen on %s: %s\n", options.socketPath.c_str(),
                 std::strerror(listenError));
    return kHostExitNoDevice;
  }
  if (!writePidFile(options.pidFile)) {
    server.removeSocket();
    return kHostExitNoPidFile;
  }
  reportReady(readyFd);

  HostServer::End end = HostServer::End::kOrphaned;
  int serveError = 0;
  if (!ownerAlreadyGone) end = server.run(stopFd, &serveError);
  server.removeSocket();
  removePidFile(options.pidFile);
  if (end == HostServer::End::kOrphaned) removeRegistration(options.registration);
  ::close(stopFd);
  return end == HostServer::End::kFailed ? kHostExitServing : kHostExitOk;
}
