#include "platform/sim/SimPresets.h"

#include <utility>

namespace tv2::sim {

namespace {

constexpr int kKiB = 1024;
constexpr int kMiB = 1024 * 1024;
constexpr int kData = 1;
constexpr int kInstruction = 2;
constexpr int kUnified = 3;

SimCacheDesc cache(int level, int type, int sizeBytes, int ways, int sharingThreads) {
  constexpr int kLine = 64;
  return SimCacheDesc{level, type, sharingThreads, ways, 1, kLine, sizeBytes / (ways * kLine)};
}

SimProcessorModel intel(uint32_t signature, const char* brand, int cores, int threads) {
  SimProcessorModel m;
  m.vendor = "GenuineIntel";
  m.signature = signature;
  m.brand = brand;
  m.coresPerPackage = cores;
  m.threadsPerCore = threads;
  m.maxStdLeaf = 0xD;
  m.pmuEax = 0x07300403;  // version 3, 4 general counters, 48 bits wide
  m.pmuEdx = 0x603;       // 3 fixed counters, 48 bits wide
  return m;
}

// Core i7 of the Nehalem to Haswell client generations: 4 cores, 2 threads.
SimProcessorModel intelClientQuad(uint32_t signature, const char* brand) {
  SimProcessorModel m = intel(signature, brand, 4, 2);
  m.caches = {cache(1, kData, 32 * kKiB, 8, 2), cache(1, kInstruction, 32 * kKiB, 8, 2),
              cache(2, kUnified, 256 * kKiB, 8, 2), cache(3, kUnified, 8 * kMiB, 16, 16)};
  return m;
}

SimProcessorModel amd(uint32_t signature, const char* brand, int cores, int coresPerUnit) {
  SimProcessorModel m;
  m.vendor = "AuthenticAMD";
  m.signature = signature;
  m.brand = brand;
  m.coresPerPackage = cores;
  m.threadsPerCore = 1;
  m.coresPerComputeUnit = coresPerUnit;
  m.maxStdLeaf = 0xD;
  m.maxExtLeaf = 0x8000001E;
  m.amdCoreCounterExtension = true;
  return m;
}

SimMachineConfig machine(const char* name, SimProcessorModel model, int packages = 1) {
  SimMachineConfig config;
  config.name = name;
  config.model = std::move(model);
  config.packages = packages;
  return config;
}

// AMD chipsets put the power-management timer at 0x808.
SimMachineConfig amdMachine(const char* name, SimProcessorModel model) {
  SimMachineConfig config = machine(name, std::move(model));
  config.firmware.pmTimerPort = 0x808;
  return config;
}

SimPartConfig intelPart(SimPartKind kind, double busMhz, int ratio, uint64_t turbo, double tdp,
                        int tjMax) {
  SimPartConfig part;
  part.kind = kind;
  part.busMhz = busMhz;
  part.baseRatio = ratio;
  part.turboRatios = turbo;
  part.tdpW = tdp;
  part.tjMax = tjMax;
  return part;
}

SimPartConfig amdPart(SimPartKind kind, std::vector<int> pStateMhz, int boostStates, double tdp) {
  SimPartConfig part;
  part.kind = kind;
  part.pStateMhz = std::move(pStateMhz);
  part.boostStates = boostStates;
  part.tdpW = tdp;
  return part;
}

SimPowerFigures power(double coresIdle, double coresFull, double uncore, double graphics,
                      double idleC, double fullC) {
  SimPowerFigures f;
  f.coresIdleW = coresIdle;
  f.coresFullW = coresFull;
  f.uncoreW = uncore;
  f.graphicsW = graphics;
  f.idleC = idleC;
  f.fullC = fullC;
  return f;
}

constexpr double kBus133 = 400.0 / 3.0;

// What a Linux kernel on the part offers: coretemp on Intel and k10temp on
// AMD parts, the power PMU and powercap on parts with energy registers.
SimKernelConfig kernelFor(const SimProcessorModel& model) {
  SimKernelConfig kernel;
  const bool amd = model.vendor == "AuthenticAMD";
  kernel.hwmon = amd ? SimHwmonDriver::kK10temp : SimHwmonDriver::kCoretemp;
  const bool energy = model.part.kind == SimPartKind::kIntelSandyBridge ||
                      model.part.kind == SimPartKind::kGeneric;
  kernel.powerPmu = energy;
  kernel.powercap = energy;
  return kernel;
}

// Alder Lake-P (Core i7-1260P): 4 performance cores with 2 threads and 8
// efficiency cores, one package. The performance cores' threads have APIC ids
// 0..7, the efficiency cores 8, 10, ... 22; leaves 1 and 4 leave room for 128
// ids and 64 cores, as the real part does.
SimMachineConfig hybridIntel() {
  SimProcessorModel m = intel(0x906A3, "12th Gen Intel(R) Core(TM) i7-1260P", 12, 2);
  m.efficiencyCores = 8;
  m.maxStdLeaf = 0x20;
  m.logicalPerPackageField = 128;
  m.coresPerPackageField = 64;
  m.pmuEax = 0x07300805;            // version 5, 8 general counters, 48 bits wide
  m.efficiencyPmuEax = 0x07300605;  // 6 general counters on an efficiency core
  m.caches = {cache(1, kData, 48 * kKiB, 12, 2), cache(1, kInstruction, 32 * kKiB, 8, 2),
              cache(2, kUnified, 1280 * kKiB, 10, 2), cache(3, kUnified, 18 * kMiB, 12, 32)};
  // Each efficiency core spans two APIC ids; four of them share an L2.
  m.efficiencyCaches = {cache(1, kData, 32 * kKiB, 8, 2), cache(1, kInstruction, 64 * kKiB, 8, 2),
                        cache(2, kUnified, 2 * kMiB, 16, 8), cache(3, kUnified, 18 * kMiB, 12, 32)};
  m.efficiencyClockMhz = 1500;
  m.part = intelPart(SimPartKind::kGeneric, 100, 21, 0x2F, 28, 100);
  m.part.power = power(1, 30, 3, 2, 40, 85);
  SimMachineConfig config = machine("modern-intel-hybrid", m);
  config.kernel = kernelFor(m);
  return config;
}

// Zen 3 (Ryzen 7 5800X): 8 cores with 2 threads, package energy only.
SimMachineConfig modernAmd() {
  SimProcessorModel m = amd(0xA20F10, "AMD Ryzen 7 5800X 8-Core Processor", 8, 1);
  m.threadsPerCore = 2;
  m.maxStdLeaf = 0x10;
  m.caches = {cache(1, kData, 32 * kKiB, 8, 2), cache(1, kInstruction, 32 * kKiB, 8, 2),
              cache(2, kUnified, 512 * kKiB, 8, 2), cache(3, kUnified, 32 * kMiB, 16, 16)};
  m.part = intelPart(SimPartKind::kGeneric, 100, 38, 0, 105, 90);
  m.part.power = power(8, 90, 15, 0, 35, 80);
  SimMachineConfig config = amdMachine("modern-amd", m);
  config.kernel = kernelFor(m);
  return config;
}

std::vector<SimMachineConfig> table() {
  std::vector<SimMachineConfig> presets;

  // Intel_B133: Core i7-920, 20 x 133 MHz, turbo bins 2/1/1/1.
  SimProcessorModel nehalem =
      intelClientQuad(0x106A5, "Intel(R) Core(TM) i7 CPU         920  @ 2.67GHz");
  nehalem.maxStdLeaf = 0xB;
  nehalem.part = intelPart(SimPartKind::kIntelNehalem, kBus133, 20, 0x15151516, 130, 100);
  nehalem.part.power = power(8, 95, 20, 0, 40, 74);
  presets.push_back(machine("intel-b133", nehalem));

  // Intel_SNB: Core i7-2600, 34 x 100 MHz, turbo 38/37/36/35, graphics rail.
  SimProcessorModel sandy = intelClientQuad(0x206A7, "Intel(R) Core(TM) i7-2600 CPU @ 3.40GHz");
  sandy.part = intelPart(SimPartKind::kIntelSandyBridge, 100, 34, 0x23242526, 95, 98);
  sandy.part.power = power(3, 65, 6, 5, 38, 70);
  presets.push_back(machine("intel-snb", sandy));

  // Intel_FSB: Atom N270, 12 x 133 MHz (0xCD code 1), TjMax 90 without 0x1A2.
  // Right-justified brand, as Intel's older parts report it.
  SimProcessorModel atom = intel(0x106C2, "         Intel(R) Atom(TM) CPU N270   @ 1.60GHz", 1, 2);
  atom.maxStdLeaf = 0xA;
  atom.caches = {cache(1, kData, 24 * kKiB, 6, 2), cache(1, kInstruction, 32 * kKiB, 8, 2),
                 cache(2, kUnified, 512 * kKiB, 8, 2)};
  atom.pmuEax = 0x07280203;  // version 3, 2 general counters, 40 bits wide
  atom.pmuEdx = 0x503;       // 3 fixed counters, 40 bits wide
  atom.part = intelPart(SimPartKind::kIntelCore2, kBus133, 12, 0, 2.5, 90);
  atom.part.busCode = 1;
  atom.part.power = power(0.6, 2.0, 0.4, 0, 45, 70);
  presets.push_back(machine("intel-fsb", atom));

  // AMD_BD: FX-8150, P0 3.6 GHz, boost states 4.2 and 3.9 GHz.
  SimProcessorModel bulldozer =
      amd(0x600F12, "AMD FX(tm)-8150 Eight-Core Processor           ", 8, 2);
  bulldozer.caches = {cache(1, kData, 16 * kKiB, 4, 1), cache(1, kInstruction, 64 * kKiB, 2, 2),
                      cache(2, kUnified, 2 * kMiB, 16, 2), cache(3, kUnified, 8 * kMiB, 64, 8)};
  bulldozer.part =
      amdPart(SimPartKind::kAmdBulldozer, {4200, 3900, 3600, 3300, 2700, 2200, 1400}, 2, 125);
  bulldozer.part.power = power(10, 100, 15, 0, 35, 62);
  presets.push_back(amdMachine("amd-bd", bulldozer));

  // AMD_TN: A10-5800K, P0 3.8 GHz, boost 4.2 and 4.0 GHz.
  SimProcessorModel trinity =
      amd(0x610F01, "AMD A10-5800K APU with Radeon(tm) HD Graphics   ", 4, 2);
  trinity.caches = {cache(1, kData, 16 * kKiB, 4, 1), cache(1, kInstruction, 64 * kKiB, 2, 2),
                    cache(2, kUnified, 2 * kMiB, 16, 2)};
  trinity.part =
      amdPart(SimPartKind::kAmdTrinity, {4200, 4000, 3800, 3400, 3000, 2500, 1900, 1400}, 2, 100);
  trinity.part.power = power(6, 70, 8, 6, 35, 65);
  presets.push_back(amdMachine("amd-tn", trinity));

  // AMD_KV, family 15h: A10-7850K, P0 3.7 GHz, boost 4.0 GHz.
  // 48 characters: the brand fills all three leaves with no terminating zero.
  SimProcessorModel kaveri =
      amd(0x630F01, "AMD A10-7850K Radeon R7, 12 Compute Cores 4C+8G ", 4, 2);
  kaveri.caches = {cache(1, kData, 16 * kKiB, 4, 1), cache(1, kInstruction, 96 * kKiB, 3, 2),
                   cache(2, kUnified, 2 * kMiB, 16, 2)};
  kaveri.part =
      amdPart(SimPartKind::kAmdKaveri, {4000, 3700, 3500, 3300, 3100, 2900, 2400, 1700}, 1, 95);
  kaveri.part.power = power(5, 60, 7, 20, 35, 66);
  presets.push_back(amdMachine("amd-kv-15h", kaveri));

  // AMD_KV, family 16h: A6-5200, 2.0 GHz, no boost, four core counters.
  SimProcessorModel kabini = amd(0x700F01, "AMD A6-5200 APU with Radeon(TM) HD Graphics", 4, 1);
  kabini.amdCoreCounterExtension = false;
  kabini.caches = {cache(1, kData, 32 * kKiB, 8, 1), cache(1, kInstruction, 32 * kKiB, 2, 1),
                   cache(2, kUnified, 2 * kMiB, 16, 4)};
  kabini.part = amdPart(SimPartKind::kAmdKaveri, {2000, 1600, 1200, 800}, 0, 25);
  kabini.part.power = power(1.5, 12, 2, 4, 38, 68);
  presets.push_back(amdMachine("amd-kv-16h", kabini));

  // A model the program has no table entry for: Core i7-8700K.
  SimProcessorModel modern = intel(0x906EA, "Intel(R) Core(TM) i7-8700K CPU @ 3.70GHz", 6, 2);
  modern.maxStdLeaf = 0x16;
  modern.pmuEax = 0x07300404;  // version 4
  modern.caches = {cache(1, kData, 32 * kKiB, 8, 2), cache(1, kInstruction, 32 * kKiB, 8, 2),
                   cache(2, kUnified, 256 * kKiB, 4, 2), cache(3, kUnified, 12 * kMiB, 16, 16)};
  modern.part = intelPart(SimPartKind::kIntelSandyBridge, 100, 37, 0x2B2C2C2D2E2F, 95, 100);
  modern.part.raplUnits = 0x000A0E03;
  modern.part.power = power(2, 75, 6, 3, 35, 75);
  modern.part.power.dramIdleW = 1;
  modern.part.power.dramFullW = 4;
  presets.push_back(machine("unlisted", modern));

  // Intel_SNB server: 2 x Xeon E5-2690, 29 x 100 MHz, turbo 3.8 GHz, DRAM rail.
  // Reports room for 16 cores (32 logical) per package as the real part does,
  // so the second package's APIC ids start at 32.
  SimProcessorModel sandyEp = intel(0x206D7, "Intel(R) Xeon(R) CPU E5-2690 0 @ 2.90GHz", 8, 2);
  sandyEp.logicalPerPackageField = 32;
  sandyEp.coresPerPackageField = 16;
  sandyEp.caches = {cache(1, kData, 32 * kKiB, 8, 2), cache(1, kInstruction, 32 * kKiB, 8, 2),
                    cache(2, kUnified, 256 * kKiB, 8, 2), cache(3, kUnified, 20 * kMiB, 20, 32)};
  sandyEp.part = intelPart(SimPartKind::kIntelSandyBridge, 100, 29, 0x2020202122232426, 135, 95);
  sandyEp.part.power = power(8, 110, 18, 0, 36, 70);
  sandyEp.part.power.dramIdleW = 4;
  sandyEp.part.power.dramFullW = 15;
  presets.push_back(machine("intel-snb-2p", sandyEp, 2));

  SimProcessorModel ivy = intelClientQuad(0x306A9, "Intel(R) Core(TM) i7-3770 CPU @ 3.40GHz");
  ivy.part = intelPart(SimPartKind::kIntelSandyBridge, 100, 34, 0x25262727, 77, 105);
  ivy.part.power = power(3, 55, 5, 4, 36, 72);
  presets.push_back(machine("ivybridge", ivy));

  SimProcessorModel haswell = intelClientQuad(0x306C3, "Intel(R) Core(TM) i7-4770 CPU @ 3.40GHz");
  haswell.part = intelPart(SimPartKind::kIntelSandyBridge, 100, 34, 0x25262727, 84, 100);
  haswell.part.raplUnits = 0x000A0E03;
  haswell.part.power = power(3, 60, 6, 4, 36, 74);
  presets.push_back(machine("haswell", haswell));

  // 80 logical processors in two groups of 40. Room for 32 cores of 2 threads
  // per package keeps the highest APIC id (64 + 39) within 8 bits.
  SimProcessorModel skylakeSp = intel(0x50654, "Intel(R) Xeon(R) Gold 6148 CPU @ 2.40GHz", 20, 2);
  skylakeSp.maxStdLeaf = 0x16;
  skylakeSp.pmuEax = 0x07300404;
  skylakeSp.logicalPerPackageField = 64;
  skylakeSp.coresPerPackageField = 32;
  skylakeSp.caches = {cache(1, kData, 32 * kKiB, 8, 2), cache(1, kInstruction, 32 * kKiB, 8, 2),
                      cache(2, kUnified, 1 * kMiB, 16, 2),
                      cache(3, kUnified, 27 * kMiB + 512 * kKiB, 11, 64)};
  skylakeSp.part = intelPart(SimPartKind::kIntelSandyBridge, 100, 24, 0x2121222223232525, 150, 100);
  skylakeSp.part.raplUnits = 0x000A0E03;
  skylakeSp.part.power = power(10, 120, 25, 0, 38, 75);
  skylakeSp.part.power.dramIdleW = 5;
  skylakeSp.part.power.dramFullW = 20;
  presets.push_back(machine("large", skylakeSp, 2));

  // Celeron 440: 10 x 200 MHz (0xCD code 2), no Hyper-Threading.
  SimProcessorModel celeron =
      intel(0x10661, "Intel(R) Celeron(R) CPU          440  @ 2.00GHz", 1, 1);
  celeron.htt = false;
  celeron.logicalPerPackageField = 1;
  celeron.maxStdLeaf = 0xA;
  celeron.pmuEax = 0x07280202;  // version 2, 2 general counters, 40 bits wide
  celeron.pmuEdx = 0x503;
  celeron.caches = {cache(1, kData, 32 * kKiB, 8, 1), cache(1, kInstruction, 32 * kKiB, 8, 1),
                    cache(2, kUnified, 512 * kKiB, 8, 1)};
  celeron.part = intelPart(SimPartKind::kIntelCore2, 200, 10, 0, 35, 100);
  celeron.part.busCode = 2;
  celeron.part.power = power(4, 25, 3, 0, 40, 68);
  presets.push_back(machine("no-htt", celeron));

  for (SimMachineConfig& config : presets) {
    config.kernel = kernelFor(config.model);
  }
  // The processor the program has no tables for stands for a virtual machine
  // as well: its kernel drives no hardware counters and has no energy or
  // temperature interfaces, only the msr PMU's tsc.
  for (SimMachineConfig& config : presets) {
    if (config.name == "unlisted") {
      config.kernel = SimKernelConfig{};
      config.kernel.corePmu = false;
      config.kernel.msrAperfMperf = false;
    }
  }
  presets.push_back(hybridIntel());
  presets.push_back(modernAmd());
  return presets;
}

// Earlier names of presets, kept for the tests and scripts that use them.
struct Alias {
  const char* alias;
  const char* preset;
};
constexpr Alias kAliases[] = {
    {"nehalem", "intel-b133"}, {"sandybridge", "intel-snb"}, {"atom", "intel-fsb"},
    {"bulldozer", "amd-bd"},   {"piledriver-apu", "amd-tn"}, {"kaveri", "amd-kv-15h"},
    {"kabini", "amd-kv-16h"},  {"modern", "unlisted"},       {"two-package", "intel-snb-2p"},
};

}  // namespace

std::optional<SimMachineConfig> SimPresets::find(std::string_view name) {
  std::string_view wanted = name;
  for (const Alias& a : kAliases) {
    if (name == a.alias) {
      wanted = a.preset;
    }
  }
  for (SimMachineConfig& config : table()) {
    if (config.name == wanted) {
      return std::move(config);
    }
  }
  return std::nullopt;
}

std::vector<std::string> SimPresets::names() {
  std::vector<std::string> names;
  for (const SimMachineConfig& config : table()) {
    names.push_back(config.name);
  }
  for (const Alias& a : kAliases) {
    names.emplace_back(a.alias);
  }
  return names;
}

}  // namespace tv2::sim
