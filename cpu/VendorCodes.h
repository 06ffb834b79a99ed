#pragma once

#include <cstdint>

namespace tv2 {

// Vendor codes: the top byte of a processor code.
inline constexpr int32_t VENDOR_INTEL = 0x1000000;
inline constexpr int32_t VENDOR_AMD = 0x2000000;
inline constexpr int32_t VENDOR_CYRIX = 0x4000000;
inline constexpr int32_t VENDOR_CENTAUR = 0x8000000;
inline constexpr int32_t VENDOR_TRANSMETA = 0x10000000;
// An unrecognised vendor string, or no processor to ask: matches none of the five.
inline constexpr int32_t VENDOR_UNKNOWN = 0;

// Maps the 12-character vendor string of CPUID leaf 0 (EBX, EDX, ECX) to its code.
int32_t vendorCodeFromString(const char* vendor12);

inline int32_t vendorOf(int32_t processorCode) {
  return processorCode == -1 ? VENDOR_UNKNOWN : static_cast<int32_t>(processorCode & 0xFF000000);
}

}  // namespace tv2
