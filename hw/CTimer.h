#pragma once

#include <cstdint>

namespace tv2 {

class CKMDriver;

// A free-running platform counter used as the time base of every rate. The
// counter sampler that holds the driver lock reads it once per pass (ReadTicks
// stores the reading in now) and the counters of that pass use now, frequency
// and wrapLength; now is therefore guarded by the driver lock.
class CTimer {
 public:
  CTimer(CKMDriver* driverClient, double ticksPerSecond, double wrap)
      : frequency(ticksPerSecond), wrapLength(wrap), driver(driverClient) {}
  virtual ~CTimer() = default;
  CTimer(const CTimer&) = delete;
  CTimer& operator=(const CTimer&) = delete;

  // Reads the hardware, stores the reading in now and returns it; -1 on failure.
  virtual double ReadTicks() = 0;

  // Ticks from an earlier reading to now, correcting one wrap of the counter
  // (a negative difference gets wrapLength added).
  double TicksSince(double earlier) const {
    double delta = now - earlier;
    return delta < 0 ? delta + wrapLength : delta;
  }

  double now = -1.0;
  double frequency;
  double wrapLength;
  CKMDriver* driver;
  int32_t baseAddress = -1;
};

}  // namespace tv2
