#pragma once

#include <atomic>
#include <cstdint>

namespace tv2::sim {

// A number for the calling thread that, unlike std::thread::id, is never handed
// to a later thread: per-thread state of the simulated system (affinity, mutex
// ownership) must not pass to a new thread that happens to reuse an id.
class SimThreadId {
 public:
  static uint64_t current() {
    static std::atomic<uint64_t> s_next{1};
    thread_local const uint64_t t_id = s_next.fetch_add(1, std::memory_order_relaxed);
    return t_id;
  }
};

}  // namespace tv2::sim
