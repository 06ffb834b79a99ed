#pragma once

#include <atomic>
#include <cstdint>

namespace tv2 {

// The sample clock: unsigned 32-bit milliseconds since start, advanced by 100
// on every display tick and standing still while sampling is paused. Every
// history point is stamped with it. Process-wide; written only by the
// user-interface thread, read by every sampler (relaxed atomic).
class SampleClock {
 public:
  static uint32_t now() { return s_clock.load(std::memory_order_relaxed); }
  // Returns the new value; wraps after 2^32 ms like any unsigned count.
  static uint32_t advance(uint32_t milliseconds) {
    return s_clock.fetch_add(milliseconds, std::memory_order_relaxed) + milliseconds;
  }
  static void reset(uint32_t value = 0) { s_clock.store(value, std::memory_order_relaxed); }

 private:
  static inline std::atomic<uint32_t> s_clock{0};
};

}  // namespace tv2
