#include "ui/GraphSnapshot.h"

#include <algorithm>

#include "counters/model/CCounter.h"

namespace tv2 {

void GraphSnapshot::capture(const CCounter* source) {
  clear();
  if (source == nullptr || !source->history) return;
  m_hasData = true;
  m_fullScale = source->fullScale;
  m_count = source->history->CopyNewestFirst(m_times.data(), m_values.data(),
                                             static_cast<int32_t>(m_times.size()));
}

void GraphSnapshot::assign(const float* times, const float* values, int32_t count,
                           int32_t fullScale) {
  clear();
  m_hasData = true;
  m_fullScale = fullScale;
  if (times == nullptr || values == nullptr || count <= 0) return;
  m_count = std::min(count, static_cast<int32_t>(m_times.size()));
  std::copy_n(times, m_count, m_times.begin());
  std::copy_n(values, m_count, m_values.begin());
}

void GraphSnapshot::clear() {
  m_count = 0;
  m_fullScale = kDefaultFullScale;
  m_hasData = false;
}

}  // namespace tv2
