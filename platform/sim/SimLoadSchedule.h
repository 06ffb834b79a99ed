#pragma once

#include <cstdint>
#include <vector>

namespace tv2::sim {

// A load the machine applies by itself as its clock runs, so that a run with
// or without a window shows the same thing: either the demonstration, in
// which every logical processor drifts between 10 % and 80 % busy, each in
// its own phase, with a new value every second, or fixed shares.
class SimLoadSchedule {
 public:
  static constexpr uint64_t kStepNs = 1000000000;

  static SimLoadSchedule demonstration();
  // One share for every processor, or one per logical processor in OS order;
  // a processor past the end of a longer list gets the last share. Shares are
  // clamped to 0..1 and NaN counts as 0. An empty list is the demonstration.
  static SimLoadSchedule fixed(std::vector<double> shares);

  // The load of a processor during the given step (whole seconds since the
  // schedule started).
  double loadAt(int cpu, uint64_t step) const;
  // False when the load never changes after the first step.
  bool drifting() const { return m_shares.empty(); }

 private:
  std::vector<double> m_shares;  // empty: the demonstration
};

}  // namespace tv2::sim
