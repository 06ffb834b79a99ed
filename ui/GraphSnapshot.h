#pragma once

#include <array>
#include <cstdint>

#include "counters/model/CDataTable.h"

namespace tv2 {

class CCounter;

// What one paint draws from a counter: its history copied newest first and its
// full scale. Sampler threads keep pushing into the live history while the
// user-interface thread paints, so the painter works on this private copy and
// never indexes the rings itself.
class GraphSnapshot {
 public:
  static constexpr int32_t kDefaultFullScale = 100;

  // Copies the counter's history and full scale; a null counter or one without
  // a history gives no data and the default scale of 100.
  void capture(const CCounter* source);

  // Sets the points directly (newest first), at most CDataTable::kCapacity.
  void assign(const float* times, const float* values, int32_t count, int32_t fullScale);

  // Forgets the points; the graph then shows no curve.
  void clear();

  // False when there is no counter or it has no history: no curve is drawn
  // and the labels use the default scale.
  bool hasData() const { return m_hasData; }
  int32_t count() const { return m_count; }
  float time(int32_t i) const { return m_times[static_cast<size_t>(i)]; }
  float value(int32_t i) const { return m_values[static_cast<size_t>(i)]; }
  int32_t fullScale() const { return m_fullScale; }

 private:
  std::array<float, CDataTable::kCapacity> m_times{};
  std::array<float, CDataTable::kCapacity> m_values{};
  int32_t m_count = 0;
  int32_t m_fullScale = kDefaultFullScale;
  bool m_hasData = false;
};

}  // namespace tv2
