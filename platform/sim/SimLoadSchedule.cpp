#include "platform/sim/SimLoadSchedule.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace tv2::sim {

SimLoadSchedule SimLoadSchedule::demonstration() { return SimLoadSchedule(); }

SimLoadSchedule SimLoadSchedule::fixed(std::vector<double> shares) {
  SimLoadSchedule schedule;
  for (double& share : shares) share = std::isnan(share) ? 0.0 : std::clamp(share, 0.0, 1.0);
  schedule.m_shares = std::move(shares);
  return schedule;
}

double SimLoadSchedule::loadAt(int cpu, uint64_t step) const {
  if (cpu < 0) return 0.0;
  if (!m_shares.empty()) {
    return m_shares[std::min(static_cast<size_t>(cpu), m_shares.size() - 1)];
  }
  // The step is reduced first: sin of a huge argument loses every digit.
  constexpr uint64_t kPeriodSteps = 1000000;
  const double phase = 0.3 * static_cast<double>(step % kPeriodSteps) + 0.9 * cpu;
  return 0.45 + 0.35 * std::sin(phase);
}

}  // namespace tv2::sim
