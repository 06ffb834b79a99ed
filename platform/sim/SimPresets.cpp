#include "platform/sim/SimPresets.h"

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

std::vector<SimMachineConfig> table() {
  std::vector<SimMachineConfig> presets;

  SimProcessorModel nehalem =
      intelClientQuad(0x106A5, "Intel(R) Core(TM) i7 CPU         920  @ 2.67GHz");
  nehalem.maxStdLeaf = 0xB;
  presets.push_back(machine("nehalem", nehalem));

  // Right-justified brand, as Intel's older parts report it.
  SimProcessorModel atom =
      intel(0x106C2, "         Intel(R) Atom(TM) CPU N270   @ 1.60GHz", 1, 2);
  atom.maxStdLeaf = 0xA;
  atom.caches = {cache(1, kData, 24 * kKiB, 6, 2), cache(1, kInstruction, 32 * kKiB, 8, 2),
                 cache(2, kUnified, 512 * kKiB, 8, 2)};
  atom.pmuEax = 0x07280203;  // version 3, 2 general counters, 40 bits wide
  atom.pmuEdx = 0x503;       // 3 fixed counters, 40 bits wide
  presets.push_back(machine("atom", atom));

  presets.push_back(machine(
      "sandybridge", intelClientQuad(0x206A7, "Intel(R) Core(TM) i7-2600 CPU @ 3.40GHz")));
  presets.push_back(machine(
      "ivybridge", intelClientQuad(0x306A9, "Intel(R) Core(TM) i7-3770 CPU @ 3.40GHz")));
  presets.push_back(
      machine("haswell", intelClientQuad(0x306C3, "Intel(R) Core(TM) i7-4770 CPU @ 3.40GHz")));

  SimProcessorModel bulldozer =
      amd(0x600F12, "AMD FX(tm)-8150 Eight-Core Processor           ", 8, 2);
  bulldozer.caches = {cache(1, kData, 16 * kKiB, 4, 1), cache(1, kInstruction, 64 * kKiB, 2, 2),
                      cache(2, kUnified, 2 * kMiB, 16, 2), cache(3, kUnified, 8 * kMiB, 64, 8)};
  presets.push_back(machine("bulldozer", bulldozer));

  SimProcessorModel trinity =
      amd(0x610F01, "AMD A10-5800K APU with Radeon(tm) HD Graphics   ", 4, 2);
  trinity.caches = {cache(1, kData, 16 * kKiB, 4, 1), cache(1, kInstruction, 64 * kKiB, 2, 2),
                    cache(2, kUnified, 2 * kMiB, 16, 2)};
  presets.push_back(machine("piledriver-apu", trinity));

  // 48 characters: the brand fills all three leaves with no terminating zero.
  SimProcessorModel kaveri = amd(0x630F01, "AMD A10-7850K Radeon R7, 12 Compute Cores 4C+8G ", 4, 2);
  kaveri.caches = {cache(1, kData, 16 * kKiB, 4, 1), cache(1, kInstruction, 96 * kKiB, 3, 2),
                   cache(2, kUnified, 2 * kMiB, 16, 2)};
  presets.push_back(machine("kaveri", kaveri));

  SimProcessorModel kabini = amd(0x700F01, "AMD A6-5200 APU with Radeon(TM) HD Graphics", 4, 1);
  kabini.caches = {cache(1, kData, 32 * kKiB, 8, 1), cache(1, kInstruction, 32 * kKiB, 2, 1),
                   cache(2, kUnified, 2 * kMiB, 16, 4)};
  presets.push_back(machine("kabini", kabini));

  // A model the program has no table entry for.
  SimProcessorModel modern = intel(0x906EA, "Intel(R) Core(TM) i7-8700K CPU @ 3.70GHz", 6, 2);
  modern.maxStdLeaf = 0x16;
  modern.pmuEax = 0x07300404;  // version 4
  modern.caches = {cache(1, kData, 32 * kKiB, 8, 2), cache(1, kInstruction, 32 * kKiB, 8, 2),
                   cache(2, kUnified, 256 * kKiB, 4, 2), cache(3, kUnified, 12 * kMiB, 16, 16)};
  presets.push_back(machine("modern", modern));

  // Reports room for 16 cores (32 logical) per package as the real part does,
  // so the second package's APIC ids start at 32.
  SimProcessorModel sandyEp = intel(0x206D7, "Intel(R) Xeon(R) CPU E5-2690 0 @ 2.90GHz", 8, 2);
  sandyEp.logicalPerPackageField = 32;
  sandyEp.coresPerPackageField = 16;
  sandyEp.caches = {cache(1, kData, 32 * kKiB, 8, 2), cache(1, kInstruction, 32 * kKiB, 8, 2),
                    cache(2, kUnified, 256 * kKiB, 8, 2), cache(3, kUnified, 20 * kMiB, 20, 32)};
  presets.push_back(machine("two-package", sandyEp, 2));

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
  presets.push_back(machine("large", skylakeSp, 2));

  SimProcessorModel celeron =
      intel(0x10661, "Intel(R) Celeron(R) CPU          440  @ 2.00GHz", 1, 1);
  celeron.htt = false;
  celeron.logicalPerPackageField = 1;
  celeron.maxStdLeaf = 0xA;
  celeron.pmuEax = 0x07280202;  // version 2, 2 general counters, 40 bits wide
  celeron.pmuEdx = 0x503;
  celeron.caches = {cache(1, kData, 32 * kKiB, 8, 1), cache(1, kInstruction, 32 * kKiB, 8, 1),
                    cache(2, kUnified, 512 * kKiB, 8, 1)};
  presets.push_back(machine("no-htt", celeron));

  return presets;
}

}  // namespace

std::optional<SimMachineConfig> SimPresets::find(std::string_view name) {
  for (SimMachineConfig& config : table()) {
    if (config.name == name) {
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
  return names;
}

}  // namespace tv2::sim
