#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/KernelCounterService.h"

namespace tv2 {

// Finds the RAPL energy zones under <sysRoot>/class/powercap (the
// intel-rapl tree, which AMD processors use too on recent kernels) and
// reads their energy_uj. A top zone "package-N" is package N; its subzones
// "core", "uncore" (graphics) and "dram" belong to it. Other zones (psys,
// the per-die zones of multi-die packages, the MMIO tree) are left out.
// energy_uj is readable by root only on most kernels: zones this process
// cannot read now are not listed.
//
// Threads: any; the object holds only the root.
class PowercapReader {
 public:
  explicit PowercapReader(std::string sysRoot);

  // Appends each readable zone, with the path of its energy_uj file at the
  // same position of *files.
  void discover(std::vector<KernelEnergyZone>* zones, std::vector<std::string>* files) const;

  static bool readEnergy(const std::string& path, uint64_t* microjoules);

 private:
  std::string m_sysRoot;
};

}  // namespace tv2
