#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/PlatformTypes.h"
#include "platform/sim/SimHardwareConfig.h"
#include "platform/sim/SimKernelConfig.h"

namespace tv2::sim {

// One cache as CPUID leaf 4 (Intel) or 0x8000001D (AMD) describes it. Its size
// is ways * partitions * lineSize * sets bytes.
struct SimCacheDesc {
  int level = 1;
  int type = 1;            // 1 data, 2 instruction, 3 unified
  int sharingThreads = 1;  // logical processors that share it
  int ways = 1;
  int partitions = 1;
  int lineSize = 64;
  int sets = 1;
};

// A fixed CPUID answer that takes precedence over the modelled one, for leaves
// the model does not build (thermal and power leaf 6, feature flags, ...).
struct SimCpuidLeaf {
  uint32_t leaf = 0;
  uint32_t subleaf = 0;
  CpuidRegs regs;
};

// One kind of package. Every package of a machine is of the same kind.
struct SimProcessorModel {
  std::string vendor = "GenuineIntel";  // 12 characters; others are cut or zero padded
  uint32_t signature = 0;               // CPUID 1 EAX, stepping included
  std::string brand;                    // up to 48 characters, may start with spaces
  uint32_t maxStdLeaf = 0xB;
  uint32_t maxExtLeaf = 0x80000008;
  int coresPerPackage = 1;
  int threadsPerCore = 1;
  bool htt = true;                      // CPUID 1 EDX bit 28
  // CPUID 1 EBX[23:16]; 0 = coresPerPackage * threadsPerCore rounded up to a
  // power of two.
  int logicalPerPackageField = 0;
  // Addressable cores per package, CPUID 4 EAX[31:26] + 1; 0 = coresPerPackage.
  // Real parts with an odd core count report the next power of two here, which
  // keeps the APIC id split (logical per package / cores) whole.
  int coresPerPackageField = 0;
  int coresPerComputeUnit = 1;          // AMD 0x8000001E EBX[9:8] + 1
  bool amdCoreCounterExtension = false; // AMD 0x80000001 ECX bit 23
  bool invariantTsc = true;             // 0x80000007 EDX bit 8
  std::vector<SimCacheDesc> caches;     // leaf 4 or 0x8000001D subleaves in order
  uint32_t pmuEax = 0;                  // leaf 0xA EAX (Intel)
  uint32_t pmuEdx = 0;                  // leaf 0xA EDX (Intel)
  std::vector<SimCpuidLeaf> extraLeaves;
  // Hybrid parts: the last efficiencyCores of the coresPerPackage cores are
  // efficiency cores with one thread each (the others have threadsPerCore).
  // CPUID then sets the hybrid flag (leaf 7 EDX bit 15), gives each
  // processor's core type (leaf 0x1A) and answers leaves 4, 0xA and 0xB for
  // the processor's own kind of core.
  int efficiencyCores = 0;
  uint32_t efficiencyPmuEax = 0;               // leaf 0xA EAX on an efficiency core
  std::vector<SimCacheDesc> efficiencyCaches;  // leaf 4 there; empty = caches
  double efficiencyClockMhz = 0.0;             // clock of a busy efficiency core; 0 = base
  SimPartConfig part;                   // registers, clocks, power and temperature
};

struct SimMachineConfig {
  SimProcessorModel model;
  int packages = 1;
  // Initial APIC id of each logical processor in OS order; empty = derived from
  // the topology. A list of the wrong length is ignored.
  std::vector<int> apicIds;
  std::string name;  // preset name, empty for hand-made machines
  SimFirmwareConfig firmware;
  SimKernelConfig kernel;
};

}  // namespace tv2::sim
