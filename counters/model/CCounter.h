#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "counters/model/CDataTable.h"
#include "counters/model/Relaxed.h"

namespace tv2 {

class CTimer;

// Type-code levels (high byte of the type code).
inline constexpr uint32_t kLevelPackage = 0x100;
inline constexpr uint32_t kLevelCore = 0x300;
inline constexpr uint32_t kLevelThread = 0x400;

// Display flag bits.
inline constexpr uint32_t kShowOneDecimal = 1u << 0;
inline constexpr uint32_t kDerivedFromPower = 1u << 1;

// A named value with a unit, a full scale and a 512-point history. Hardware
// counters turn successive register readings into rates or levels in Update;
// plain counters hold figures the derived pass computes.
//
// Threads: exactly one thread updates a counter (the sampler bound to the
// logical processor whose list holds it, the usage sampler for time counters,
// the user-interface thread for derived counters); the user-interface thread
// reads it and clears it. The figures below are relaxed atomics for that
// reason. name, unit, identity, displayFlags and fullScale are set while the
// lists are built, before any sampler sees the counter, and never change after.
class CCounter {
 public:
  explicit CCounter(int32_t index);
  virtual ~CCounter();
  CCounter(const CCounter&) = delete;
  CCounter& operator=(const CCounter&) = delete;

  virtual void Set(double raw);
  // The raw hardware reading; -1 means no reading.
  virtual double Read();
  // Takes one sample, timed by the platform timer.
  virtual void Update(CTimer* timer);

  // Counter index within its processor (bits 16 to 24 of the identity, the
  // nine bits the menus and slot messages carry).
  int32_t index() const { return static_cast<int32_t>((identity >> 16) & 0x1FF); }
  uint32_t typeCode() const { return identity & 0xFFFF; }
  void setTypeCode(uint32_t code) { identity = (identity & 0xFFFF0000u) | (code & 0xFFFF); }

  // Stamps (sample clock, value) into the history.
  void Push(float pointValue);

  // Back to the state of having no reading; value keeps its last figure.
  void ClearReadings();

  // "%.1f %s" with one decimal, else "%d %s" with the value truncated toward 0.
  std::string FormatValue() const;

  std::string name;
  std::string unit;
  std::unique_ptr<CDataTable> history;
  Relaxed<double> currentRaw{-1.0};
  Relaxed<double> previousRaw{-1.0};
  Relaxed<double> rawDelta{0.0};
  uint32_t identity = 0;
  uint32_t displayFlags = 0;
  int32_t fullScale = 100;
  Relaxed<float> value{0.0f};
};

// Turns successive operating-system times (100 ns units) into the time spent
// since the previous sample. Fed by the usage sampler.
class CTimeCounter : public CCounter {
 public:
  using CCounter::CCounter;
  void Set(double raw) override;
};

}  // namespace tv2
