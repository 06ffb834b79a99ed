#pragma once

namespace tv2 {

class CCountersConfig;
class CProcessor_2;

// The building steps of a package's counter lists, in the order a build runs
// them. Every counter added takes the package's running counter index. The
// caller holds the package's countersLock exclusively (and the driver lock
// once hardware counters exist).
//
// This stage builds the operating-system time counters; the event, power and
// temperature counters and the derived figures join as the hardware access
// behind them lands.
bool AddFixedCounters(CProcessor_2& processor);
bool AddEventCounters(CProcessor_2& processor, const CCountersConfig* configuration);
bool AddNorthbridgeCounters(CProcessor_2& processor);
bool AddPowerAndThermalCounters(CProcessor_2& processor);
bool AddDerivedMetrics(CProcessor_2& processor);

}  // namespace tv2
