#pragma once

#include <cstdint>

namespace tv2 {

// Type codes (low 16 bits of a counter's identity). Package-level codes are
// 0x100 + the metric number that configurations and profiles store; core
// codes 0x300 + n and logical-processor codes 0x400 + n carry the same n.
inline constexpr uint32_t kMetricLevelMask = 0xFFFF;

inline constexpr int32_t kMetricUsage = 1;
inline constexpr int32_t kMetricTemperature = 2;
inline constexpr int32_t kMetricPackagePower = 3;
inline constexpr int32_t kMetricCorePower = 5;
inline constexpr int32_t kMetricGraphicsPower = 6;
inline constexpr int32_t kMetricDramPower = 7;
inline constexpr int32_t kMetricUncorePower = 8;
inline constexpr int32_t kMetricUnhaltedCycles = 10;
inline constexpr int32_t kMetricStallRatio = 14;
inline constexpr int32_t kMetricInstructions = 15;
inline constexpr int32_t kMetricIpc = 16;
inline constexpr int32_t kMetricCpi = 17;
inline constexpr int32_t kMetricIpw = 18;
inline constexpr int32_t kMetricL2HitRate = 19;
inline constexpr int32_t kMetricL3HitRate = 20;
inline constexpr int32_t kMetricL2RequestRate = 21;
inline constexpr int32_t kMetricL3RequestRate = 22;
inline constexpr int32_t kMetricBranchHitRate = 23;
inline constexpr int32_t kMetricBranchInstructionRate = 24;

// The package-level type code of a metric number.
inline constexpr uint32_t packageCode(int32_t metric) { return 0x100u + static_cast<uint32_t>(metric); }

inline constexpr uint32_t kCodeCoreTemperature = 0x302;
inline constexpr uint32_t kCodeCoreL2HitRate = 0x313;
inline constexpr uint32_t kCodeCoreL3HitRate = 0x314;
inline constexpr uint32_t kCodeCoreL2RequestRate = 0x315;
inline constexpr uint32_t kCodeCoreBranchHitRate = 0x317;
inline constexpr uint32_t kCodeCoreBranchInstructionRate = 0x318;

inline constexpr uint32_t kCodeThreadUsage = 0x401;
inline constexpr uint32_t kCodeThreadCoreCycles = 0x40A;
inline constexpr uint32_t kCodeThreadReferenceCycles = 0x40B;
inline constexpr uint32_t kCodeThreadStalledCycles = 0x40C;
inline constexpr uint32_t kCodeThreadTotalCycles = 0x40D;
inline constexpr uint32_t kCodeThreadStallRatio = 0x40E;
inline constexpr uint32_t kCodeThreadInstructions = 0x40F;
inline constexpr uint32_t kCodeThreadIpc = 0x410;
inline constexpr uint32_t kCodeThreadCpi = 0x411;

}  // namespace tv2
