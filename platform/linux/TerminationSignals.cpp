#include "platform/linux/TerminationSignals.h"

#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <ctime>

namespace tv2 {
namespace {

bool hangUpIgnored() {
  struct sigaction current {};
  return sigaction(SIGHUP, nullptr, &current) == 0 && current.sa_handler == SIG_IGN;
}

// Decided once, before any thread exists: the set never changes afterwards.
const sigset_t& terminationSet() {
  static const sigset_t set = [] {
    sigset_t s;
    sigemptyset(&s);
    sigaddset(&s, SIGINT);
    sigaddset(&s, SIGTERM);
    if (!hangUpIgnored()) sigaddset(&s, SIGHUP);
    return s;
  }();
  return set;
}

}  // namespace

TerminationSignals::TerminationSignals() {
  pthread_sigmask(SIG_BLOCK, &terminationSet(), nullptr);
  m_fd = signalfd(-1, &terminationSet(), SFD_NONBLOCK | SFD_CLOEXEC);
}

TerminationSignals::~TerminationSignals() {
  if (m_fd >= 0) close(m_fd);
}

bool TerminationSignals::wait(uint32_t timeoutMs) {
  timespec timeout{static_cast<time_t>(timeoutMs / 1000), static_cast<long>(timeoutMs % 1000) * 1000000L};
  siginfo_t info;
  int signal = sigtimedwait(&terminationSet(), &info, &timeout);
  if (signal < 0) return false;  // timeout or interruption
  m_lastSignal = signal;
  return true;
}

int TerminationSignals::readPending() {
  if (m_fd < 0) return 0;
  signalfd_siginfo info{};
  ssize_t n;
  do {
    n = read(m_fd, &info, sizeof info);
  } while (n < 0 && errno == EINTR);
  if (n != static_cast<ssize_t>(sizeof info)) return 0;
  m_lastSignal = static_cast<int>(info.ssi_signo);
  return m_lastSignal;
}

}  // namespace tv2
