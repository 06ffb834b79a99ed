#include "counters/model/CCounter.h"

#include <cstdio>

#include "counters/model/SampleClock.h"

namespace tv2 {

CCounter::CCounter(int32_t index)
    : history(std::make_unique<CDataTable>()), identity(static_cast<uint32_t>(index) << 16) {}

CCounter::~CCounter() = default;

void CCounter::Set(double raw) { currentRaw = raw; }

double CCounter::Read() { return -1.0; }

void CCounter::Update(CTimer* /*timer*/) {}

void CCounter::Push(float pointValue) { history->Push(SampleClock::now(), pointValue); }

void CCounter::ClearReadings() {
  currentRaw = -1.0;
  previousRaw = -1.0;
  history->Clear();
}

std::string CCounter::FormatValue() const {
  char buffer[64];
  float v = value;
  if (displayFlags & kShowOneDecimal) {
    std::snprintf(buffer, sizeof buffer, "%.1f %s", static_cast<double>(v), unit.c_str());
  } else {
    // Values far outside int range are clamped rather than converted with
    // undefined behaviour.
    double d = static_cast<double>(v);
    int truncated = d >= 2147483647.0 ? 2147483647 : d <= -2147483648.0 ? (-2147483647 - 1)
                    : d != d                         ? 0
                                                     : static_cast<int>(d);
    std::snprintf(buffer, sizeof buffer, "%d %s", truncated, unit.c_str());
  }
  return buffer;
}

void CTimeCounter::Set(double raw) {
  currentRaw = raw;
  double previous = previousRaw;
  // Operating-system times only grow; one that went back (a processor taken
  // offline and back) gives no figure for the interval, not a negative one.
  if (previous > 0 && raw >= previous) {
    float delta = static_cast<float>(raw - previous);
    value = delta;
    Push(delta);
  }
  previousRaw = raw;
}

}  // namespace tv2
