#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/KernelCounterService.h"
#include "platform/linux/perf/PerfEventSources.h"
#include "platform/linux/perf/PerfEventTable.h"

namespace tv2 {

// Reads what the kernel's perf events offer from sysfs and procfs: the core
// PMUs ("cpu", or "cpu_core" and "cpu_atom" with their cpus lists) and the
// generic events they list, the msr and power PMUs' events with their
// configs, scales and units, the power PMU's cpumask, perf_event_paranoid,
// and each CPU's package and core id. The roots are given, so tests read
// recorded trees.
//
// Threads: any; the object holds only the roots.
class PerfInventoryReader {
 public:
  PerfInventoryReader(std::string sysRoot, std::string procRoot);

  // Fills *sources and, of *inventory, paranoid, corePmus, msrEvents,
  // powerEvents and one processor per CPU of `cpus` (empty: the online
  // CPUs) with its package, core and core PMU; group and index are left to
  // the caller.
  void read(std::span<const int> cpus, PerfEventSources* sources, KernelCounterInventory* inventory) const;

  // /proc/sys/kernel/perf_event_paranoid; kParanoidUnknown when unreadable.
  int paranoid() const;
  // The online CPUs; empty when the list cannot be read.
  std::vector<int> onlineCpus() const;

  // The config an events/NAME text ("event=0x02", "event=0x3c,umask=0x1")
  // gives through the PMU's format/ folder; false for a term the format does
  // not place in config.
  static bool parseEventConfig(const std::string& pmuFolder, std::string_view text, uint64_t* config);

 private:
  void readCorePmus(PerfEventSources* sources) const;
  void readNamedEvents(const std::string& pmu, PerfEventTable::Kind kind, PerfEventSources* sources) const;

  std::string m_sysRoot;
  std::string m_procRoot;
};

}  // namespace tv2
