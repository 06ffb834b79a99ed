#pragma once

#include <array>
#include <cstdint>

namespace tv2 {

// A choice of graphs: the configuration it belongs to and up to 16 metric
// numbers, of which the first four that the processor offers are shown.
// Threads: built, read and changed on the user-interface thread only.
class CProfile {
 public:
  static constexpr int kMaxMetrics = 16;

  CProfile() { metrics.fill(-1); }
  virtual ~CProfile() = default;

  // Puts the number into the first free entry; a full profile stays unchanged.
  void AddMetric(int32_t number) {
    for (int32_t& entry : metrics) {
      if (entry == -1) {
        entry = number;
        ++metricCount;
        return;
      }
    }
  }

  int32_t configIndex = -1;
  int32_t metricCount = 0;
  std::array<int32_t, kMaxMetrics> metrics;
};

// The free form the configuration tables and the profile files use.
inline void AddMetric(CProfile& profile, int32_t number) { profile.AddMetric(number); }

}  // namespace tv2
