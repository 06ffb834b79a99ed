#pragma once

#include <cstdint>
#include <vector>

#include "platform/sim/SimMachineConfig.h"
#include "platform/sim/SimSmu.h"
#include "platform/sim/SimWorkloadModel.h"

namespace tv2::sim {

// PCI configuration space of the machine: a host bridge at 0:0.0 on every
// machine; on AMD parts the northbridge functions 0:(0x18 + package).0-5 and,
// on APUs, the graphics device 0:1.0. Functions not listed do not exist and
// fail every access; a register of an existing function that is not modelled
// reads 0 and ignores writes, as would a read-only one.
//
// Modelled (per package where it says F3/F4/F5):
// - F3 0x8C: bit 14 lets port 0xCF8 carry register bits 11:8 (package 0's
//   counts for the ports); F3 0x1E8/0x1EC: index/data pair of the temperature,
//   index 0x30 = whole degrees, 0x31 = eighths of a degree.
// - F4 0x15C: boost enable (7) and the number of boost states (4:2); F4 0x1B8:
//   processor TDP (15:0) and base power (31:16) in units of F5 0xE8's factor;
//   F4 0x1C0 bits 9:0 = package power above the base power, in 0.1 W.
// - F5 0x12C and 0x188 control the Trinity power telemetry: 0x158 (cores) and
//   0x15C (northbridge rail = package - cores) read live while 0x12C bit 6 is
//   clear and 0x188 bit 6 set, else 0.
// - 0:0.0 0xB8/0xBC: the management unit's index/data pair (SimSmu).
// - 0:1.0 0x24: the management-unit mailbox base (Kaveri class).
//
// Registers are dword-aligned offsets below 0x1000. Not thread-safe:
// SimHardware keeps it under its mutex.
class SimPciSpace {
 public:
  static constexpr uint32_t kF3x8CPowerUp = 0x00000D03;
  static constexpr uint32_t kExtendedConfigBit = 1u << 14;
  static constexpr uint32_t kTelemetryHoldBit = 1u << 6;  // F5 0x12C
  static constexpr uint32_t kTelemetryReadBit = 1u << 6;  // F5 0x188

  SimPciSpace(const SimMachineConfig& config, int packageCount);

  bool exists(int bus, int device, int function) const;
  bool read(const SimWorkloadModel& workload, const SimSmu& smu, int bus, int device, int function,
            uint32_t reg, uint32_t* value) const;
  bool write(int bus, int device, int function, uint32_t reg, uint32_t value);

  // Package 0's F3 0x8C bit 14.
  bool extendedPortRegisters() const;

  // Base power of F4 0x1B8 in whole watts, as the factor of F5 0xE8 gives it.
  int basePowerW() const;

 private:
  struct Node {
    uint32_t f3x8C = kF3x8CPowerUp;
    uint32_t f3x1E8 = 0;
    uint32_t f5x12C = kTelemetryHoldBit;
    uint32_t f5x188 = 0;
  };

  int nodeOf(int bus, int device) const;  // -1 when not a northbridge device
  uint32_t readNode(const SimWorkloadModel& workload, int node, int function, uint32_t reg) const;
  uint32_t deviceId(int function) const;

  const SimPartConfig m_part;
  const bool m_intel;
  const bool m_amdKind;
  std::vector<Node> m_nodes;
  uint32_t m_smuIndex = 0;  // 0:0.0 0xB8
};

}  // namespace tv2::sim
