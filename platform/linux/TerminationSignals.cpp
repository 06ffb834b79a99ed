#include "platform/linux/TerminationSignals.h"

#include <cerrno>
#include <csignal>
#include <ctime>

namespace tv2 {
namespace {

sigset_t terminationSet() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  return set;
}

}  // namespace

TerminationSignals::TerminationSignals() {
  sigset_t set = terminationSet();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

bool TerminationSignals::wait(uint32_t timeoutMs) {
  sigset_t set = terminationSet();
  timespec timeout{static_cast<time_t>(timeoutMs / 1000), static_cast<long>(timeoutMs % 1000) * 1000000L};
  siginfo_t info;
  int signal = sigtimedwait(&set, &info, &timeout);
  if (signal < 0) return false;  // timeout or interruption
  m_lastSignal = signal;
  return true;
}

}  // namespace tv2
