#pragma once

#include <cstdint>
#include <memory>

#include "counters/model/Relaxed.h"

namespace tv2 {

// A counter's history: two parallel rings of 512 points, sample times (the
// sample clock in ms, as float) and values. Written by the one thread that
// updates the counter, read by the user-interface thread while it draws; every
// slot and index is a relaxed atomic, so a reader may see a point that is one
// sample stale but never a torn value or a race.
class CDataTable {
 public:
  static constexpr int32_t kCapacity = 512;

  CDataTable();
  virtual ~CDataTable();
  CDataTable(const CDataTable&) = delete;
  CDataTable& operator=(const CDataTable&) = delete;

  // Records one point: the write position advances first (wrapping to 0 at the
  // capacity), then the point is stored there.
  void Push(uint32_t clock, float value) {
    int32_t position = writePosition.load() + 1;
    if (position >= capacity || position < 0) position = 0;
    writePosition = position;
    times[position] = static_cast<float>(clock);
    values[position] = value;
    int32_t n = count.load() + 1;
    count = n < capacity ? n : capacity;
  }

  // Forgets every point.
  void Clear() {
    count = 0;
    writePosition = -1;
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
};

}  // namespace tv2
