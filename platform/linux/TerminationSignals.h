#pragma once

#include <cstdint>

namespace tv2 {

// SIGINT, SIGTERM and SIGHUP delivered as data instead of to a handler: the
// signals are blocked and wait either for wait() (the window-less modes) or
// for the window program's event loop, which watches fd() and takes them with
// readPending(). Construct it on the main thread before any other thread
// starts, so that every thread inherits the blocked mask: a signal then never
// interrupts anything, and a second one while the program shuts down only
// waits, unread, until the process ends.
//
// SIGHUP is left alone when it is ignored at start (nohup), so a program
// started that way keeps running after its terminal goes.
//
// Threads: the object is used by the main thread only.
class TerminationSignals {
 public:
  TerminationSignals();
  ~TerminationSignals();
  TerminationSignals(const TerminationSignals&) = delete;
  TerminationSignals& operator=(const TerminationSignals&) = delete;

  // Waits up to timeoutMs; true when one of the signals arrived.
  bool wait(uint32_t timeoutMs);
  // A descriptor that is readable while one of the signals is pending; -1
  // when the system gave none.
  int fd() const { return m_fd; }
  // Takes one pending signal without waiting: its number, or 0 when none.
  int readPending();
  // The signal that arrived last (0 before any).
  int lastSignal() const { return m_lastSignal; }

 private:
  int m_fd = -1;
  int m_lastSignal = 0;
};

}  // namespace tv2
