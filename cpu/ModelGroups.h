#pragma once

#include <cstdint>

namespace tv2 {

// The processor classes the monitor knows. Every model-specific choice of the
// program (ratios and clocks, event programming, power and temperature
// sources, counter configurations) is made on the class a processor code
// falls into, through classifyProcessor, and nowhere else.
enum class ModelGroup {
  kUnlisted,
  Intel_B133,  // Nehalem and Westmere: 133 MHz bus clock
  Intel_SNB,   // Sandy Bridge to Haswell: 100 MHz, RAPL energy counters
  Intel_FSB,   // Atom: front-side-bus clock from MSR 0xCD
  AMD_BD,      // family 15h models 00h-0Fh
  AMD_TN,      // family 15h models 10h-1Fh
  AMD_KV,      // family 15h model 30h and family 16h model 00h
};

// Only exact codes match: vendor byte plus the leaf 1 signature without its
// stepping (a different processor-type field is outside the table).
ModelGroup classifyProcessor(int32_t processorCode);

// AMD_KV holds two families that differ in their event programming.
inline constexpr int32_t kCodeAmdKaveri = 0x2630F00;
inline constexpr int32_t kCodeAmdKabini = 0x2700F00;

inline bool isIntelGroup(ModelGroup g) {
  return g == ModelGroup::Intel_B133 || g == ModelGroup::Intel_SNB || g == ModelGroup::Intel_FSB;
}
inline bool isAmdGroup(ModelGroup g) {
  return g == ModelGroup::AMD_BD || g == ModelGroup::AMD_TN || g == ModelGroup::AMD_KV;
}

const char* modelGroupName(ModelGroup g);

}  // namespace tv2
