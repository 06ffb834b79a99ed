#pragma once

#include <cstdint>
#include <vector>

namespace tv2::sim {

// Which registers (MSRs) and configuration-space functions a part has
// beyond the time-stamp counter and the performance counters its CPUID
// describes. The register list per kind is in platform/sim/README.md.
enum class SimPartKind {
  kGeneric,           // nothing else
  kIntelCore2,        // front-side-bus parts: ratio in 0x17, bus clock in 0xCD
  kIntelNehalem,      // 0xCE, 0x1AD, 0x1A2; load events 0xCB
  kIntelSandyBridge,  // Nehalem's set, package thermal status, RAPL; load events 0xD1/0xD2
  kAmdBulldozer,      // P-states, northbridge functions 0:18.3-5, configuration base MSR
  kAmdTrinity,        // Bulldozer's set and the management unit behind 0:0.0 0xB8/0xBC
  kAmdKaveri,         // Trinity's set and the management-unit mailbox behind 0:1.0 0x24
};

// Power and temperature of one package as functions of its load, unless a test
// fixes them. Watts at no load and with every logical processor fully busy, in
// between linear in the mean load; degrees likewise per core.
struct SimPowerFigures {
  double coresIdleW = 2.0;
  double coresFullW = 50.0;
  double uncoreW = 8.0;    // constant
  double graphicsW = 0.0;  // constant; 0 = the part reports no graphics rail
  double dramIdleW = 0.0;  // 0 and 0 = the part reports no DRAM rail
  double dramFullW = 0.0;
  double idleC = 38.0;
  double fullC = 72.0;
};

// The figures of a part that its registers report.
struct SimPartConfig {
  SimPartKind kind = SimPartKind::kGeneric;
  double busMhz = 100.0;     // Intel reference clock
  int baseRatio = 0;         // Intel non-turbo ratio (0xCE bits 15:8 or 0x17 bits 12:8)
  uint64_t turboRatios = 0;  // 0x1AD: one ratio per byte, one active core first
  int busCode = 7;           // 0xCD bits 2:0 (front-side-bus parts)
  // AMD P-state frequencies in MHz, boost states first; each must be 100 ×
  // (fid + 16) / 2^did with fid < 64, did < 5.
  std::vector<int> pStateMhz;
  int boostStates = 0;
  double tdpW = 0.0;
  int tjMax = 100;
  uint32_t raplUnits = 0x000A1003;  // 0x606: 1/8 W, 2^-16 J, 2^-10 s
  SimPowerFigures power;
};

// Where the firmware puts the root pointer of the ACPI tables.
enum class SimRsdpPlace { kBiosArea, kFirstKb, kNowhere };

// How a description table is broken, for tests of the table scan.
enum class SimTableFault { kNone, kZeroLength, kTooLong, kUnbacked };

// Firmware tables, platform timers and BIOS settings.
struct SimFirmwareConfig {
  SimRsdpPlace rsdpPlace = SimRsdpPlace::kBiosArea;
  bool rsdpChecksumBad = false;  // the root pointer's 20 bytes do not sum to 0
  bool decoyRsdp = false;        // a copy with a bad checksum lies earlier in the scan
  bool rsdtSignatureBad = false;
  int fadtRevision = 4;
  int fadtLength = 244;
  uint32_t pmTimerPort = 0x408;  // 0: the FADT names no PM timer
  SimTableFault fadtFault = SimTableFault::kNone;
  bool hpetTable = true;
  int hpetAddressSpace = 0;  // 0 memory, 1 I/O
  uint32_t hpetBase = 0xFED00000;
  uint32_t hpetPeriodFs = 69841279;  // 14.31818 MHz
  bool hpetRunning = true;
  SimTableFault hpetFault = SimTableFault::kNone;
  int extraTables = 0;      // further tables listed ahead of FACP, APIC and HPET (max 32)
  bool limitCpuid = false;  // 0x1A0 bit 22 set at power-up (Intel)
  // Where the firmware put the AMD configuration window (MSR 0xC0010058,
  // 1 MB aligned, below 2^48); a base above 4 GB is what a machine with much
  // memory gets.
  uint64_t configWindowBase = 0xE0000000;
};

}  // namespace tv2::sim
