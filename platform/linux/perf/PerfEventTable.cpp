#include "platform/linux/perf/PerfEventTable.h"

#include <cstring>
#include <string>

#include "platform/ErrorCodes.h"

namespace tv2 {

namespace {

struct Entry {
  PerfEventTable::Kind kind;
  const char* name;
  uint64_t id;  // generic hardware id, or software id
};

// Indexed by KernelEvent.
constexpr Entry kEntries[kKernelEventCount] = {
    {PerfEventTable::Kind::kCore, "instructions", PERF_COUNT_HW_INSTRUCTIONS},
    {PerfEventTable::Kind::kCore, "cpu-cycles", PERF_COUNT_HW_CPU_CYCLES},
    {PerfEventTable::Kind::kCore, "ref-cycles", PERF_COUNT_HW_REF_CPU_CYCLES},
    {PerfEventTable::Kind::kCore, "branch-instructions", PERF_COUNT_HW_BRANCH_INSTRUCTIONS},
    {PerfEventTable::Kind::kCore, "branch-misses", PERF_COUNT_HW_BRANCH_MISSES},
    {PerfEventTable::Kind::kCore, "cache-references", PERF_COUNT_HW_CACHE_REFERENCES},
    {PerfEventTable::Kind::kCore, "cache-misses", PERF_COUNT_HW_CACHE_MISSES},
    {PerfEventTable::Kind::kCore, "stalled-cycles-backend", PERF_COUNT_HW_STALLED_CYCLES_BACKEND},
    {PerfEventTable::Kind::kMsr, "aperf", 0},
    {PerfEventTable::Kind::kMsr, "mperf", 0},
    {PerfEventTable::Kind::kMsr, "tsc", 0},
    {PerfEventTable::Kind::kPower, "energy-pkg", 0},
    {PerfEventTable::Kind::kPower, "energy-cores", 0},
    {PerfEventTable::Kind::kPower, "energy-gpu", 0},
    {PerfEventTable::Kind::kPower, "energy-ram", 0},
    {PerfEventTable::Kind::kSoftware, "cpu-clock", PERF_COUNT_SW_CPU_CLOCK},
};

bool valid(KernelEvent event) { return static_cast<int>(event) < kKernelEventCount; }

bool refuse(KernelOpenError* error, uint32_t code, std::string reason) {
  if (error != nullptr) {
    error->code = code;
    error->systemError = 0;
    error->reason = std::move(reason);
  }
  return false;
}

}  // namespace

PerfEventTable::Kind PerfEventTable::kind(KernelEvent event) {
  return valid(event) ? kEntries[static_cast<int>(event)].kind : Kind::kSoftware;
}

const char* PerfEventTable::name(KernelEvent event) {
  return valid(event) ? kEntries[static_cast<int>(event)].name : "unknown event";
}

std::optional<KernelEvent> PerfEventTable::byName(Kind kind, std::string_view name) {
  for (int i = 0; i < kKernelEventCount; ++i)
    if (kEntries[i].kind == kind && name == kEntries[i].name) return static_cast<KernelEvent>(i);
  return std::nullopt;
}

uint64_t PerfEventTable::genericId(KernelEvent event) {
  return valid(event) ? kEntries[static_cast<int>(event)].id : 0;
}

int PerfEventTable::countingCpu(const PerfEventSources& sources, int cpu, KernelEvent event) {
  if (kind(event) != Kind::kPower) return cpu;
  int package = sources.packageOf(cpu);
  for (int counting : sources.powerCpus)
    if (sources.packageOf(counting) == package) return counting;
  return cpu;
}

bool PerfEventTable::attr(const PerfEventSources& sources, int cpu, KernelEvent event, bool leader,
                          perf_event_attr* attr, KernelOpenError* error) {
  if (!valid(event)) return refuse(error, kErrorInvalidParameter, "unknown kernel event");
  std::memset(attr, 0, sizeof *attr);
  attr->size = sizeof *attr;
  attr->read_format = kReadFormat;
  attr->disabled = leader ? 1 : 0;
  const Entry& entry = kEntries[static_cast<int>(event)];
  switch (entry.kind) {
    case Kind::kCore: {
      int pmu = sources.corePmuOf(cpu);
      if (sources.corePmus.empty())
        return refuse(error, kErrorNotSupported,
                      "the kernel offers no hardware performance counters (virtual machine?)");
      if (pmu < 0 || pmu >= static_cast<int>(sources.corePmus.size()))
        return refuse(error, kErrorNotSupported,
                      "no core PMU of the kernel covers CPU " + std::to_string(cpu));
      const KernelCorePmu& core = sources.corePmus[static_cast<size_t>(pmu)];
      // A PMU whose events/ folder could not be read still counts the
      // generic events the kernel maps; one that lists events and not this
      // one does not have it.
      if (core.events != 0 && (core.events & kernelEventBit(event)) == 0)
        return refuse(error, kErrorNotSupported,
                      "the " + core.name + " PMU of CPU " + std::to_string(cpu) + " does not count " + entry.name);
      attr->type = PERF_TYPE_HARDWARE;
      attr->config = entry.id;
      if (sources.hybrid) attr->config |= static_cast<uint64_t>(core.type) << 32;
      return true;
    }
    case Kind::kMsr:
    case Kind::kPower: {
      const PerfNamedEvent& named = sources.named[static_cast<size_t>(event)];
      if (!named.present)
        return refuse(error, kErrorNotSupported,
                      std::string("the kernel's ") + (entry.kind == Kind::kMsr ? "msr" : "power") +
                          " PMU does not offer " + entry.name);
      attr->type = named.type;
      attr->config = named.config;
      return true;
    }
    case Kind::kSoftware:
      attr->type = PERF_TYPE_SOFTWARE;
      attr->config = entry.id;
      return true;
  }
  return refuse(error, kErrorInvalidParameter, "unknown kernel event");
}

}  // namespace tv2
