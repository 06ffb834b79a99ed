#include "counters/model/CDataTable.h"

namespace tv2 {

CDataTable::CDataTable()
    : times(std::make_unique<Relaxed<float>[]>(kCapacity)),
      values(std::make_unique<Relaxed<float>[]>(kCapacity)) {}

CDataTable::~CDataTable() = default;

int32_t CDataTable::CopyNewestFirst(float* outTimes, float* outValues, int32_t maxPoints) const {
  int32_t n = count.acquire();
  int32_t position = writePosition.acquire();
  if (n <= 0 || position < 0 || position >= capacity) return 0;
  if (n > capacity) n = capacity;
  if (n > maxPoints) n = maxPoints;
  for (int32_t i = 0; i < n; ++i) {
    outTimes[i] = times[position];
    outValues[i] = values[position];
    position = position == 0 ? capacity - 1 : position - 1;
  }
  return n;
}

}  // namespace tv2
