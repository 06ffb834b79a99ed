#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace tv2 {

// The events the monitor counts through the kernel's own interfaces rather
// than the machine registers. The list is fixed: the system host opens these
// and nothing else for a user who asks, so a request names them by number.
enum class KernelEvent : uint8_t {
  // Generic hardware events, counted on the logical processor's own core PMU
  // ("cpu", or "cpu_core" / "cpu_atom" on a hybrid processor).
  kInstructions = 0,
  kCycles,
  kRefCycles,
  kBranchInstructions,
  kBranchMisses,
  kCacheReferences,  // last-level cache references
  kCacheMisses,      // last-level cache misses
  kStalledCyclesBackend,
  // The "msr" PMU: free-running counters of every logical processor.
  kMsrAperf,
  kMsrMperf,
  kMsrTsc,
  // The "power" PMU (RAPL energy), one package at a time; counts are in the
  // unit the PMU's scale file gives (KernelPowerEvent::joulesPerCount).
  kEnergyPackage,
  kEnergyCores,
  kEnergyGpu,
  kEnergyRam,
  // Software: present on every kernel, also in virtual machines.
  kCpuClock,
  kCount
};

inline constexpr int kKernelEventCount = static_cast<int>(KernelEvent::kCount);
inline constexpr uint32_t kernelEventBit(KernelEvent event) { return 1u << static_cast<uint32_t>(event); }

enum class KernelCoreType : uint8_t { kUnknown = 0, kPerformance, kEfficiency };

// One core PMU of the kernel.
struct KernelCorePmu {
  std::string name;   // "cpu", "cpu_core", "cpu_atom"
  uint32_t type = 0;  // its type number (bits 63:32 of a generic event's config on hybrid parts)
  KernelCoreType coreType = KernelCoreType::kUnknown;
  // kernelEventBit of every generic hardware event the PMU lists.
  uint32_t events = 0;
};

// One logical processor as the kernel sees it, in the program's numbering.
struct KernelProcessor {
  int group = 0;
  int index = 0;
  int cpu = -1;      // the kernel's CPU number, for messages
  int package = -1;  // physical package id
  int core = -1;     // core id within the package, as APIC ids give it
  int pmu = -1;      // index into KernelCounterInventory::corePmus; -1: none
};

// One power-PMU event with its scale.
struct KernelPowerEvent {
  KernelEvent event = KernelEvent::kEnergyPackage;
  double joulesPerCount = 0;
};

enum class KernelSensorKind : uint8_t { kPackage = 0, kCore };

// One temperature input under hwmon: coretemp's "Package id N" and "Core N",
// k10temp's Tctl or Tdie (a package sensor).
struct KernelTemperatureSensor {
  KernelSensorKind kind = KernelSensorKind::kPackage;
  int package = -1;  // physical package id
  int core = -1;     // core id within the package; -1 for a package sensor
  std::string label;
};

enum class KernelEnergyKind : uint8_t { kPackage = 0, kCores, kGraphics, kDram };

// One powercap zone with a running energy count in microjoules.
struct KernelEnergyZone {
  KernelEnergyKind kind = KernelEnergyKind::kPackage;
  int package = -1;
  uint64_t maxRangeMicrojoules = 0;  // the count wraps to 0 past this
};

// What the kernel offers this process. Indices into the vectors are the
// handles the service's read functions take.
struct KernelCounterInventory {
  static constexpr int kParanoidUnknown = -1000;

  // /proc/sys/kernel/perf_event_paranoid; kParanoidUnknown when unreadable.
  int paranoid = kParanoidUnknown;
  // The process may open CPU-wide events itself (root, CAP_PERFMON or
  // CAP_SYS_ADMIN, or a paranoid level of 0 or below: level 1 is the first
  // that refuses CPU-wide events to other processes).
  bool mayOpenDirectly = false;
  // The system host opens the fixed events for this user (member of its group).
  bool hostOpens = false;
  // What is blocked and why, in one line: that neither of the two above
  // works (the paranoid level and what it needs, the host's reason), and
  // that the kernel has no hardware PMU (then also when one of them works);
  // empty when nothing is blocked.
  std::string blockedReason;

  std::vector<KernelCorePmu> corePmus;  // empty: the kernel has no hardware PMU
  std::vector<KernelProcessor> processors;
  uint32_t msrEvents = 0;               // kernelEventBit of the msr PMU's events
  std::vector<KernelPowerEvent> powerEvents;
  std::vector<KernelTemperatureSensor> temperatures;
  std::vector<KernelEnergyZone> energyZones;
};

// One reading of a counting group: PERF_FORMAT_GROUP with the enabled and
// running times, so multiplexed counts scale and every ratio comes from one
// time slice.
struct KernelGroupReading {
  static constexpr int kMaxEvents = 16;
  uint64_t timeEnabled = 0;  // ns the group was enabled
  uint64_t timeRunning = 0;  // ns it was counting on the hardware
  int count = 0;             // number of values, in the order the group was opened
  std::array<uint64_t, kMaxEvents> values{};
};

// An open counting group on one logical processor (or, for power events,
// one package). Owned by the counter that reads it.
class KernelEventGroup {
 public:
  virtual ~KernelEventGroup() = default;
  // One read of the whole group; false when it fails (*out unspecified).
  // Called by one thread at a time, usually the processor's sampler.
  virtual bool read(KernelGroupReading* out) = 0;
};

// Why a group could not be opened.
struct KernelOpenError {
  uint32_t code = 0;        // platform/ErrorCodes.h: access denied, not found, not supported ...
  int systemError = 0;      // errno, 0 when there was no system call
  std::string reason;       // one line for the user
};

// The kernel's counters, power and temperature interfaces. Every method may
// be called from any thread.
class KernelCounterService {
 public:
  virtual ~KernelCounterService() = default;

  // Reads what the kernel offers and what this process may open.
  virtual KernelCounterInventory inventory() = 0;

  // Opens `events` (at most KernelGroupReading::kMaxEvents, all of one PMU,
  // or software events with one) as one counting group on processor `index`
  // of `group`, directly when the process may, else through the system host.
  // Power events may be opened on any processor of the package. Null with
  // *error filled on failure.
  virtual std::unique_ptr<KernelEventGroup> openGroup(int group, int index, std::span<const KernelEvent> events,
                                                      KernelOpenError* error) = 0;

  // Reads temperature sensor `sensor` of the inventory, in millidegrees
  // Celsius. False when it cannot be read now.
  virtual bool readTemperature(int sensor, int32_t* milliCelsius) = 0;
  // Reads energy zone `zone` of the inventory, with the monotonic time of
  // the reading in ns. False when it cannot be read now.
  virtual bool readEnergy(int zone, uint64_t* microjoules, uint64_t* timeNs) = 0;
  // The current clock of processor `index` of `group` in kHz, as cpufreq
  // reports it to every user (scaling_cur_freq): the clock shown when no
  // cycles can be counted. False where the kernel has no such figure.
  virtual bool readFrequency(int group, int index, uint32_t* kiloHertz) {
    (void)group;
    (void)index;
    (void)kiloHertz;
    return false;
  }
};

}  // namespace tv2
