#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>

namespace tv2::sim {

// The machine's notion of time, in nanoseconds since the machine was created.
// Follows the monotonic clock until a test switches it to manual mode, from
// which on it stands still except when advanced. Never goes backwards.
class SimClock {
 public:
  SimClock();

  uint64_t nowNs() const;
  bool isManual() const;

  // Freezes the clock at its current reading.
  void useManual();
  // Manual mode: moves the clock forward. Real mode: skips ahead, as if the
  // time had passed in a moment.
  void advanceNs(uint64_t ns);

 private:
  uint64_t nowLocked() const;  // requires m_mutex

  const std::chrono::steady_clock::time_point m_start;
  mutable std::mutex m_mutex;
  bool m_manual = false;    // guarded by m_mutex; written by useManual()
  uint64_t m_manualNs = 0;  // guarded by m_mutex; written by useManual(), advanceNs()
  uint64_t m_skippedNs = 0; // guarded by m_mutex; written by advanceNs()
};

}  // namespace tv2::sim
