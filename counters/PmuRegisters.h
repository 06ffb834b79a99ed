#pragma once

#include <cstdint>

namespace tv2 {

// Model-specific register numbers of the performance-monitoring units the
// monitor programs. Reads and writes act on the logical processor the calling
// thread runs on.
inline constexpr uint32_t kMsrTimeStampCounter = 0x10;
inline constexpr uint32_t kMsrIntelPmc0 = 0xC1;          // general counters 0xC1..
inline constexpr uint32_t kMsrIntelPerfEvtSel0 = 0x186;  // their selects 0x186..
inline constexpr uint32_t kMsrFixedInstructions = 0x309;
inline constexpr uint32_t kMsrFixedCoreCycles = 0x30A;
inline constexpr uint32_t kMsrFixedReferenceCycles = 0x30B;
inline constexpr uint32_t kMsrFixedCounterControl = 0x38D;
inline constexpr uint32_t kMsrPerfGlobalControl = 0x38F;

// AMD core counters: select n at 0xC0010200 + 2n, count right after it.
inline constexpr uint32_t kMsrAmdPerfCtl0 = 0xC0010200;
inline constexpr uint32_t kMsrAmdPerfCtr0 = 0xC0010201;
// AMD northbridge counters (one set per node).
inline constexpr uint32_t kMsrAmdNbPerfCtl0 = 0xC0010240;
inline constexpr uint32_t kMsrAmdNbPerfCtr0 = 0xC0010241;
inline constexpr uint32_t kMsrAmdNbPerfCtl1 = 0xC0010242;
inline constexpr uint32_t kMsrAmdNbPerfCtr1 = 0xC0010243;

inline constexpr uint32_t amdPerfCtl(int32_t n) { return kMsrAmdPerfCtl0 + 2 * static_cast<uint32_t>(n); }
inline constexpr uint32_t amdPerfCtr(int32_t n) { return kMsrAmdPerfCtr0 + 2 * static_cast<uint32_t>(n); }

// Thermal and energy registers (Intel).
inline constexpr uint32_t kMsrThermStatus = 0x19C;
inline constexpr uint32_t kMsrPackageThermStatus = 0x1B1;
inline constexpr uint32_t kMsrTemperatureTarget = 0x1A2;
inline constexpr uint32_t kMsrRaplPowerUnit = 0x606;
inline constexpr uint32_t kMsrPackageEnergyStatus = 0x611;
inline constexpr uint32_t kMsrDramEnergyStatus = 0x619;
inline constexpr uint32_t kMsrPp0EnergyStatus = 0x639;
inline constexpr uint32_t kMsrPp1EnergyStatus = 0x641;

}  // namespace tv2
