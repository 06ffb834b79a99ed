#include "platform/linux/perf/PowercapReader.h"

#include <map>
#include <string_view>
#include <utility>

#include "platform/linux/perf/SysfsText.h"

namespace tv2 {

namespace {

constexpr std::string_view kZonePrefix = "intel-rapl:";

// "intel-rapl:P" or "intel-rapl:P:S" into P and S (S = -1 for a top zone).
bool parseZone(std::string_view name, int* top, int* sub) {
  if (name.substr(0, kZonePrefix.size()) != kZonePrefix) return false;
  name.remove_prefix(kZonePrefix.size());
  size_t colon = name.find(':');
  int64_t first = 0;
  int64_t second = -1;
  if (!SysfsText::parseInt(name.substr(0, colon), &first) || first < 0 || first > 4096) return false;
  if (colon != std::string_view::npos &&
      (!SysfsText::parseInt(name.substr(colon + 1), &second) || second < 0 || second > 4096))
    return false;
  *top = static_cast<int>(first);
  *sub = static_cast<int>(second);
  return true;
}

}  // namespace

PowercapReader::PowercapReader(std::string sysRoot) : m_sysRoot(std::move(sysRoot)) {}

bool PowercapReader::readEnergy(const std::string& path, uint64_t* microjoules) {
  return SysfsText::readUnsigned(path, microjoules);
}

void PowercapReader::discover(std::vector<KernelEnergyZone>* zones, std::vector<std::string>* files) const {
  const std::string root = m_sysRoot + "/class/powercap/";
  std::vector<std::string> names = SysfsText::list(root);
  // The package of each top zone, for its subzones.
  std::map<int, int> packageOfTop;
  for (const std::string& name : names) {
    int top = 0;
    int sub = 0;
    std::string zoneName;
    if (!parseZone(name, &top, &sub) || sub >= 0 || !SysfsText::readTrimmed(root + name + "/name", &zoneName))
      continue;
    int package = 0;
    int64_t number = 0;
    constexpr std::string_view kPackage = "package-";
    if (zoneName.compare(0, kPackage.size(), kPackage) == 0 &&
        SysfsText::parseInt(std::string_view(zoneName).substr(kPackage.size()), &number) && number >= 0 &&
        number < 4096) {
      package = static_cast<int>(number);
      packageOfTop[top] = package;
    }
  }
  for (const std::string& name : names) {
    int top = 0;
    int sub = 0;
    std::string zoneName;
    if (!parseZone(name, &top, &sub) || !SysfsText::readTrimmed(root + name + "/name", &zoneName)) continue;
    auto package = packageOfTop.find(top);
    if (package == packageOfTop.end()) continue;
    KernelEnergyZone zone;
    zone.package = package->second;
    if (sub < 0) {
      zone.kind = KernelEnergyKind::kPackage;
    } else if (zoneName == "core") {
      zone.kind = KernelEnergyKind::kCores;
    } else if (zoneName == "uncore") {
      zone.kind = KernelEnergyKind::kGraphics;
    } else if (zoneName == "dram") {
      zone.kind = KernelEnergyKind::kDram;
    } else {
      continue;
    }
    const std::string file = root + name + "/energy_uj";
    uint64_t energy = 0;
    if (!SysfsText::readUnsigned(root + name + "/max_energy_range_uj", &zone.maxRangeMicrojoules) ||
        zone.maxRangeMicrojoules == 0 || !readEnergy(file, &energy) || energy > zone.maxRangeMicrojoules)
      continue;
    zones->push_back(zone);
    files->push_back(file);
  }
}

}  // namespace tv2
