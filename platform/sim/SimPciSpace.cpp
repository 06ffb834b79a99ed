#include "platform/sim/SimPciSpace.h"

#include <algorithm>
#include <cmath>

namespace tv2::sim {

namespace {

constexpr int kNorthbridgeDevice = 0x18;
constexpr uint32_t kAmdVendor = 0x1022;
constexpr uint32_t kAtiVendor = 0x1002;
constexpr uint32_t kIntelVendor = 0x8086;
// F5 0xE8 = 0x40: a factor of 4096 / 65536, so TDP fields count 1/16 W.
constexpr uint32_t kPowerFactorRegister = 0x40;
constexpr double kPowerFieldsPerWatt = 16.0;
constexpr uint32_t kTemperatureWhole = 0x30;
constexpr uint32_t kTemperatureEighths = 0x31;

bool isAmdKind(SimPartKind kind) {
  return kind == SimPartKind::kAmdBulldozer || kind == SimPartKind::kAmdTrinity ||
         kind == SimPartKind::kAmdKaveri;
}

bool isApu(SimPartKind kind) {
  return kind == SimPartKind::kAmdTrinity || kind == SimPartKind::kAmdKaveri;
}

uint32_t powerField(double watts) {
  return static_cast<uint32_t>(std::clamp(std::lround(watts * kPowerFieldsPerWatt), 0L, 0xFFFFL));
}

}  // namespace

SimPciSpace::SimPciSpace(const SimMachineConfig& config, int packageCount)
    : m_part(config.model.part),
      m_intel(config.model.vendor != "AuthenticAMD"),
      m_amdKind(!m_intel && isAmdKind(config.model.part.kind)) {
  if (m_amdKind) {
    m_nodes.resize(static_cast<size_t>(std::clamp(packageCount, 1, 8)));
  }
}

bool SimPciSpace::exists(int bus, int device, int function) const {
  if (bus != 0 || function < 0 || function > 7) {
    return false;
  }
  if (device == 0 && function == 0) {
    return true;
  }
  if (device == 1 && function == 0) {
    return isApu(m_part.kind) && m_amdKind;
  }
  return nodeOf(bus, device) >= 0 && function <= 5;
}

bool SimPciSpace::read(const SimWorkloadModel& w, const SimSmu& smu, int bus, int device,
                       int function, uint32_t reg, uint32_t* value) const {
  if (!exists(bus, device, function) || reg >= 0x1000 || (reg & 3) != 0) {
    return false;
  }
  *value = 0;
  if (device == 0) {
    if (reg == 0) {
      *value = m_intel ? (kIntelVendor | (0x0100u << 16)) : (kAmdVendor | (0x1705u << 16));
    } else if (reg == 0xB8) {
      *value = m_smuIndex;
    } else if (reg == 0xBC) {
      *value = smu.readRegister(m_smuIndex);
    }
    return true;
  }
  if (device == 1) {
    if (reg == 0) {
      *value = kAtiVendor | (0x9990u << 16);
    } else if (reg == 0x24 && smu.hasMailbox()) {
      *value = SimSmu::kMailboxBase;
    }
    return true;
  }
  *value = readNode(w, nodeOf(bus, device), function, reg);
  return true;
}

bool SimPciSpace::write(int bus, int device, int function, uint32_t reg, uint32_t value) {
  if (!exists(bus, device, function) || reg >= 0x1000 || (reg & 3) != 0) {
    return false;
  }
  if (device == 0 && reg == 0xB8) {
    m_smuIndex = value;
    return true;
  }
  const int node = nodeOf(bus, device);
  if (node < 0) {
    return true;  // read-only or unmodelled: ignored
  }
  Node& n = m_nodes[static_cast<size_t>(node)];
  if (function == 3 && reg == 0x8C) {
    n.f3x8C = value;
  } else if (function == 3 && reg == 0x1E8) {
    n.f3x1E8 = value;
  } else if (function == 5 && reg == 0x12C) {
    n.f5x12C = value;
  } else if (function == 5 && reg == 0x188) {
    n.f5x188 = value;
  }
  return true;
}

bool SimPciSpace::extendedPortRegisters() const {
  return !m_nodes.empty() && (m_nodes[0].f3x8C & kExtendedConfigBit) != 0;
}

int SimPciSpace::basePowerW() const {
  const SimPowerFigures& f = m_part.power;
  return static_cast<int>(std::floor(std::max(0.0, f.coresIdleW + f.uncoreW + f.graphicsW)));
}

int SimPciSpace::nodeOf(int bus, int device) const {
  const int node = device - kNorthbridgeDevice;
  if (bus != 0 || node < 0 || node >= static_cast<int>(m_nodes.size())) {
    return -1;
  }
  return node;
}

uint32_t SimPciSpace::readNode(const SimWorkloadModel& w, int node, int function,
                               uint32_t reg) const {
  const Node& n = m_nodes[static_cast<size_t>(node)];
  if (reg == 0) {
    return kAmdVendor | (deviceId(function) << 16);
  }
  const double packageW = w.power(node, SimPowerDomain::kPackage);
  switch ((static_cast<uint32_t>(function) << 12) | reg) {
    case 0x308C:
      return n.f3x8C;
    case 0x31E8:
      return n.f3x1E8;
    case 0x31EC: {
      const double celsius = std::clamp(w.packageTemperature(node), 0.0, 255.875);
      const double whole = std::floor(celsius);
      switch (n.f3x1E8 & 0x7FF) {
        case kTemperatureWhole:
          return static_cast<uint32_t>(whole);
        case kTemperatureEighths:
          return static_cast<uint32_t>(std::floor((celsius - whole) * 8.0));
        default:
          return 0;
      }
    }
    case 0x415C:
      return (1u << 7) | (static_cast<uint32_t>(std::clamp(m_part.boostStates, 0, 7)) << 2) | 1u;
    case 0x41B8:
      return (powerField(basePowerW()) << 16) | powerField(m_part.tdpW);
    case 0x41C0:
      return static_cast<uint32_t>(
          std::clamp(std::lround((packageW - basePowerW()) * 10.0), 0L, 0x3FFL));
    case 0x50E8:
      return kPowerFactorRegister;
    case 0x512C:
      return n.f5x12C;
    case 0x5188:
      return n.f5x188;
    case 0x5158:
    case 0x515C: {
      const bool live = m_part.kind == SimPartKind::kAmdTrinity &&
                        (n.f5x12C & kTelemetryHoldBit) == 0 && (n.f5x188 & kTelemetryReadBit) != 0;
      if (!live) {
        return 0;
      }
      if (reg == 0x158) {
        return SimSmu::currentReading(w.power(node, SimPowerDomain::kCores),
                                      SimSmu::kCoreCurrentScale, SimSmu::kCoreVid);
      }
      return SimSmu::currentReading(packageW - w.power(node, SimPowerDomain::kCores),
                                    SimSmu::kNbCurrentScale, SimSmu::kNbVid);
    }
    default:
      return 0;
  }
}

uint32_t SimPciSpace::deviceId(int function) const {
  const uint32_t base = m_part.kind == SimPartKind::kAmdBulldozer ? 0x1600
                        : m_part.kind == SimPartKind::kAmdTrinity ? 0x1400
                                                                  : 0x141A;
  return base + static_cast<uint32_t>(function);
}

}  // namespace tv2::sim
