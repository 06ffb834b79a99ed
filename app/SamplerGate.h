#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace tv2 {

// Starts, pauses and stops every sampler thread at pass boundaries. Threads
// are created held (as if suspended) and run once the gate opens; pausing
// closes the gate and waits until no pass is in flight, so no sampler is ever
// held while it owns the driver lock, and nothing is recorded after the pause
// returns. Any thread may call any method.
class SamplerGate {
 public:
  // Called by a sampler before each pass. Waits while the gate is closed;
  // returns false once stop is requested. On true the caller runs one pass
  // and then calls endPass.
  bool beginPass();
  void endPass();

  // Sleeps between passes; returns early (false) when stop is requested.
  bool sleepFor(std::chrono::milliseconds period);

  void open();
  // Closes the gate and waits for the passes in flight to end.
  void close();
  void requestStop();
  bool stopRequested() const;

 private:
  mutable std::mutex m_mutex;
  // Open and stop: what beginPass and sleepFor wait for.
  std::condition_variable m_changed;
  // The last pass in flight ended: what close waits for. Kept apart from
  // m_changed so that a pass ending never wakes the samplers asleep between
  // their passes (dozens of useless wake-ups a second on a large machine).
  std::condition_variable m_drained;
  bool m_open = false;         // guarded by m_mutex
  bool m_stop = false;         // guarded by m_mutex
  int32_t m_passesInFlight = 0;  // guarded by m_mutex
};

}  // namespace tv2
