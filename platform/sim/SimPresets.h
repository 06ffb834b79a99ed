#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/sim/SimMachineConfig.h"

namespace tv2::sim {

// The machines tests and demonstrations start from, one per processor group
// the program supports plus a few shapes of system. The table with the figures
// is in platform/sim/README.md.
class SimPresets {
 public:
  static std::optional<SimMachineConfig> find(std::string_view name);
  static std::vector<std::string> names();
};

}  // namespace tv2::sim
