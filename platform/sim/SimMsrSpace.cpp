#include "platform/sim/SimMsrSpace.h"

#include <algorithm>
#include <cmath>

namespace tv2::sim {

namespace {

constexpr uint32_t kTimeStampCounter = 0x10;
constexpr uint32_t kPlatformId = 0x17;
constexpr uint32_t kFsbFreq = 0xCD;
constexpr uint32_t kPlatformInfo = 0xCE;
constexpr uint32_t kThermStatus = 0x19C;
constexpr uint32_t kMiscEnable = 0x1A0;
constexpr uint32_t kTemperatureTarget = 0x1A2;
constexpr uint32_t kTurboRatioLimit = 0x1AD;
constexpr uint32_t kPackageThermStatus = 0x1B1;
constexpr uint32_t kRaplPowerUnit = 0x606;
constexpr uint32_t kPkgEnergyStatus = 0x611;
constexpr uint32_t kPkgPowerInfo = 0x614;
constexpr uint32_t kDramEnergyStatus = 0x619;
constexpr uint32_t kPp0EnergyStatus = 0x639;
constexpr uint32_t kPp1EnergyStatus = 0x641;
constexpr uint32_t kAmdMmioConfigBase = 0xC0010058;
constexpr uint32_t kAmdPState0 = 0xC0010064;
constexpr int kAmdPStateCount = 8;

// Bus range field 8 (256 buses) and the enable bit.
constexpr uint64_t kMmioConfigBusesAndEnable = (8u << 2) | 1u;

bool isAmdKind(SimPartKind kind) {
  return kind == SimPartKind::kAmdBulldozer || kind == SimPartKind::kAmdTrinity ||
         kind == SimPartKind::kAmdKaveri;
}

bool isIntelCore(SimPartKind kind) {
  return kind == SimPartKind::kIntelNehalem || kind == SimPartKind::kIntelSandyBridge;
}

}  // namespace

SimMsrSpace::SimMsrSpace(const SimMachineConfig& config, int cpuCount, int packageCount, bool hasL3)
    : m_part(config.model.part),
      m_amd(config.model.vendor == "AuthenticAMD"),
      m_amdKind(m_amd && isAmdKind(config.model.part.kind)),
      m_configWindowBase(config.firmware.configWindowBase),
      m_pmu(config.model, cpuCount, packageCount, hasL3),
      m_miscEnable(static_cast<size_t>(std::max(0, cpuCount)),
                   kMiscEnablePowerUp | (config.firmware.limitCpuid ? kCpuidLimitBit : 0)) {}

bool SimMsrSpace::read(const SimWorkloadModel& w, int cpu, uint32_t index, uint64_t nowNs,
                       uint64_t* value) const {
  if (cpu < 0 || static_cast<size_t>(cpu) >= m_miscEnable.size()) {
    return false;
  }
  if (index == kTimeStampCounter) {
    *value = static_cast<uint64_t>(std::floor(static_cast<double>(nowNs) * w.tscMhz() / 1000.0));
    return true;
  }
  if (m_pmu.owns(index)) {
    return m_pmu.read(w, cpu, index, value);
  }
  if (m_amd) {
    return m_amdKind && readAmd(index, value);
  }
  return readIntel(w, cpu, index, value);
}

bool SimMsrSpace::write(const SimWorkloadModel& w, int cpu, uint32_t index, uint64_t value) {
  if (cpu < 0 || static_cast<size_t>(cpu) >= m_miscEnable.size()) {
    return false;
  }
  if (m_pmu.owns(index)) {
    return m_pmu.write(w, cpu, index, value);
  }
  if (!m_amd && index == kMiscEnable) {
    m_miscEnable[static_cast<size_t>(cpu)] = value;
    return true;
  }
  return false;
}

bool SimMsrSpace::cpuidLimited(int cpu) const {
  if (m_amd || cpu < 0 || static_cast<size_t>(cpu) >= m_miscEnable.size()) {
    return false;
  }
  return (m_miscEnable[static_cast<size_t>(cpu)] & kCpuidLimitBit) != 0;
}

bool SimMsrSpace::readIntel(const SimWorkloadModel& w, int cpu, uint32_t index,
                            uint64_t* value) const {
  const SimPartKind kind = m_part.kind;
  const bool core2 = kind == SimPartKind::kIntelCore2;
  const bool sandyBridge = kind == SimPartKind::kIntelSandyBridge;
  const bool sensors = core2 || isIntelCore(kind);
  const bool rapl = sandyBridge && m_part.raplUnits != 0;
  switch (index) {
    case kMiscEnable:
      *value = m_miscEnable[static_cast<size_t>(cpu)];
      return true;
    case kPlatformId:
      // Platform id 1 in bits 52:50; front-side-bus parts keep their ratio in 12:8.
      *value = (1ull << 50) | (core2 ? (static_cast<uint64_t>(m_part.baseRatio & 0x1F) << 8) : 0);
      return sensors;
    case kFsbFreq:
      *value = static_cast<uint64_t>(m_part.busCode & 7);
      return core2;
    case kPlatformInfo: {
      // Ratio in 15:8, programmable turbo and TDP limits (28, 29), lowest
      // efficient ratio (1.6 GHz) in 47:40.
      const auto efficient = static_cast<uint64_t>(std::lround(1600.0 / m_part.busMhz)) & 0xFF;
      *value =
          (static_cast<uint64_t>(m_part.baseRatio & 0xFF) << 8) | (3ull << 28) | (efficient << 40);
      return isIntelCore(kind);
    }
    case kTurboRatioLimit:
      *value = m_part.turboRatios;
      return isIntelCore(kind);
    case kTemperatureTarget:
      *value = static_cast<uint64_t>(m_part.tjMax & 0xFF) << 16;
      return isIntelCore(kind);
    case kThermStatus:
      *value = thermalStatus(w.cpuTemperature(cpu));
      return sensors;
    case kPackageThermStatus:
      *value = thermalStatus(w.packageTemperature(w.packageOf(cpu)));
      return sandyBridge;
    case kRaplPowerUnit:
      *value = m_part.raplUnits;
      return rapl;
    case kPkgPowerInfo: {
      // Thermal design power in 14:0, in the power unit of 0x606 bits 3:0.
      const double unit = std::ldexp(1.0, -static_cast<int>(m_part.raplUnits & 0xF));
      *value = static_cast<uint64_t>(std::lround(m_part.tdpW / unit)) & 0x7FFF;
      return rapl;
    }
    case kPkgEnergyStatus:
      *value = energyStatus(w, cpu, SimPowerDomain::kPackage);
      return rapl;
    case kPp0EnergyStatus:
      *value = energyStatus(w, cpu, SimPowerDomain::kCores);
      return rapl;
    case kPp1EnergyStatus:
      *value = energyStatus(w, cpu, SimPowerDomain::kGraphics);
      return rapl && m_part.power.graphicsW > 0.0;
    case kDramEnergyStatus:
      *value = energyStatus(w, cpu, SimPowerDomain::kDram);
      return rapl && m_part.power.dramFullW > 0.0;
    default:
      return false;
  }
}

bool SimMsrSpace::readAmd(uint32_t index, uint64_t* value) const {
  if (index == kAmdMmioConfigBase) {
    *value = (m_configWindowBase & 0x0000FFFFFFF00000ull) | kMmioConfigBusesAndEnable;
    return true;
  }
  if (index >= kAmdPState0 && index < kAmdPState0 + kAmdPStateCount) {
    *value = pState(static_cast<int>(index - kAmdPState0));
    return true;
  }
  return false;
}

uint64_t SimMsrSpace::thermalStatus(double celsius) const {
  // Valid (31), resolution 1 degree (30:27), distance below TjMax in 22:16;
  // at or above TjMax the readout is 0 and the status bits 0 and 1 are set.
  const double below = std::isnan(celsius) ? 0.0 : m_part.tjMax - celsius;
  const auto readout = static_cast<uint64_t>(std::clamp(std::lround(below), 0L, 127L));
  uint64_t status = (1ull << 31) | (1ull << 27) | (readout << 16);
  if (readout == 0) {
    status |= 3;
  }
  return status;
}

uint64_t SimMsrSpace::energyStatus(const SimWorkloadModel& w, int cpu,
                                   SimPowerDomain domain) const {
  // Counts of 2^-n joules, n = 0x606 bits 12:8, in a 32-bit register that wraps.
  const int shift = static_cast<int>((m_part.raplUnits >> 8) & 0x1F);
  // Whole counts from whole nanojoules in integer arithmetic, so equal energy
  // always gives equal counts.
  __extension__ using Wide = unsigned __int128;
  const Wide scaled =
      (static_cast<Wide>(w.energyNanojoules(w.packageOf(cpu), domain)) << shift) / 1000000000u;
  return static_cast<uint64_t>(scaled) & 0xFFFFFFFFu;
}

uint64_t SimMsrSpace::pState(int index) const {
  if (index < 0 || static_cast<size_t>(index) >= m_part.pStateMhz.size()) {
    return 0;  // not enabled
  }
  // Frequency = 100 MHz * (fid + 16) / 2^did; the smallest divisor that fits.
  const int mhz = m_part.pStateMhz[static_cast<size_t>(index)];
  for (int did = 0; did <= 4; ++did) {
    const int scaled = mhz * (1 << did);
    const int fid = scaled / 100 - 16;
    if (scaled % 100 == 0 && fid >= 0 && fid < 64) {
      const uint64_t vid =
          0x10u + 4u * static_cast<uint64_t>(index);  // lower states, lower voltage
      return (1ull << 63) | (vid << 9) | (static_cast<uint64_t>(did) << 6) |
             static_cast<uint64_t>(fid);
    }
  }
  return 0;
}

}  // namespace tv2::sim
