#pragma once

#include <cstdint>

namespace tv2 {

// SIGINT and SIGTERM delivered to one waiting thread instead of a handler.
// Construct it on the main thread before any other thread starts, so that
// every thread inherits the blocked mask and the signals wait for wait().
class TerminationSignals {
 public:
  TerminationSignals();
  // Waits up to timeoutMs; true when SIGINT or SIGTERM arrived.
  bool wait(uint32_t timeoutMs);
  // The signal that arrived last (0 before any).
  int lastSignal() const { return m_lastSignal; }

 private:
  int m_lastSignal = 0;
};

}  // namespace tv2
