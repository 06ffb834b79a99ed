#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "counters/model/Relaxed.h"

namespace tv2 {

// A counter's history: two parallel rings of 512 points, sample times (the
// sample clock in ms, as float) and values.
//
// Threads: written by the one thread that updates the counter, read by the
// user-interface thread (graphs) and the recorder while it writes. Every slot
// and index is an atomic; a point is stored before the write position, the
// count and the push sequence announce it (release), so a reader that loads
// one of those (acquire) finds the point complete, never the value the slot
// held 512 points earlier. Clear runs with the package's counter lock held
// exclusively, so it never lands inside a Push (which would bring the old
// history back).
class CDataTable {
 public:
  static constexpr int32_t kCapacity = 512;

  CDataTable();
  virtual ~CDataTable();
  CDataTable(const CDataTable&) = delete;
  CDataTable& operator=(const CDataTable&) = delete;

  // Records one point in the slot after the write position (wrapping to 0 at
  // the capacity), then announces it: write position, count, push sequence.
  void Push(uint32_t clock, float value) {
    int32_t position = writePosition.load() + 1;
    if (position >= capacity || position < 0) position = 0;
    // Announced before the slot changes, so that a reader that saw any of the
    // new point while taking the old one learns so afterwards (pointsStarted).
    const uint32_t sequence = pushes.load() + 1;
    started.store(sequence);
    std::atomic_thread_fence(std::memory_order_release);
    times[position] = static_cast<float>(clock);
    values[position] = value;
    writePosition.publish(position);
    int32_t n = count.load() + 1;
    count.publish(n < capacity ? n : capacity);
    pushes.publish(sequence);
  }

  // For a reader that has just copied slots: the sequence number of the
  // latest push that may have touched any slot by now (finished or not).
  // Points with a sequence number at or below this minus the capacity may
  // have been overwritten while they were copied.
  uint32_t pointsStarted() const {
    std::atomic_thread_fence(std::memory_order_acquire);
    return started.load();
  }

  // Forgets every point. The next point goes to slot 0.
  void Clear() {
    count.publish(0);
    writePosition.publish(-1);
    clearedAt.publish(pushes.load());
    clears.publish(clears.load() + 1);
  }

  // The slot that holds the point with push sequence number sequence (one of
  // the last capacity points since the last Clear).
  int32_t slotOf(uint32_t sequence) const {
    return static_cast<int32_t>((sequence - clearedAt.load() - 1) % static_cast<uint32_t>(capacity));
  }

  // Copies up to maxPoints points, newest first, into the arrays; returns how
  // many. Safe against a concurrent Push or Clear: positions are re-checked so
  // a reader never indexes outside the rings.
  int32_t CopyNewestFirst(float* outTimes, float* outValues, int32_t maxPoints) const;

  std::unique_ptr<Relaxed<float>[]> times;
  std::unique_ptr<Relaxed<float>[]> values;
  const int32_t capacity = kCapacity;
  Relaxed<int32_t> count{0};
  Relaxed<int32_t> writePosition{-1};
  // Points pushed since the table was made (modulo 2^32; Clear does not
  // reset it), the value it had at the last Clear, and how many Clears ran.
  Relaxed<uint32_t> pushes{0};
  Relaxed<uint32_t> started{0};  // the push under way, or the last one
  Relaxed<uint32_t> clearedAt{0};
  Relaxed<uint32_t> clears{0};
};

}  // namespace tv2
