#include "platform/sim/SimKernelPerf.h"

#include <cerrno>
#include <string>

#include "platform/ErrorCodes.h"
#include "platform/sim/SimWorkloadModel.h"

namespace tv2::sim {

namespace {

constexpr double kNsPerSecond = 1e9;

const char* const kEventNames[] = {
    "instructions", "cycles",   "ref-cycles", "branch-instructions", "branch-misses",
    "cache-references", "cache-misses", "stalled-cycles-backend", "aperf", "mperf", "tsc",
    "energy-pkg", "energy-cores", "energy-gpu", "energy-ram", "cpu-clock"};
static_assert(sizeof(kEventNames) / sizeof(kEventNames[0]) == kKernelEventCount);

bool refuse(KernelOpenError* error, uint32_t code, int systemError, std::string reason) {
  if (error != nullptr) {
    error->code = code;
    error->systemError = systemError;
    error->reason = std::move(reason);
  }
  return false;
}

}  // namespace

SimKernelPerf::SimKernelPerf(const SimMachineConfig& config,
                             const std::vector<SimLogicalProcessor>& cpus, SimHardware& hardware)
    : m_pmus(config), m_cpus(cpus), m_tscMhz(hardware.tscMhz()), m_hardware(hardware),
      m_paranoid(config.kernel.paranoid), m_watchdog(config.kernel.nmiWatchdog) {
  m_errors.fill(1.0);
}

void SimKernelPerf::setParanoid(int level) {
  std::lock_guard lock(m_mutex);
  m_paranoid = level;
}

int SimKernelPerf::paranoid() const {
  std::lock_guard lock(m_mutex);
  return m_paranoid;
}

void SimKernelPerf::setWatchdog(bool on) {
  std::lock_guard lock(m_mutex);
  // The groups have run with the old schedule until now.
  for (int cpu = 0; cpu < static_cast<int>(m_cpus.size()); ++cpu) {
    advanceLocked(cpu);
  }
  m_watchdog = on;
}

void SimKernelPerf::setEventError(KernelEvent event, double factor) {
  if (event >= KernelEvent::kCount) {
    return;
  }
  std::lock_guard lock(m_mutex);
  // Counts so far were right: bring them up to now with the old factor.
  for (int cpu = 0; cpu < static_cast<int>(m_cpus.size()); ++cpu) {
    advanceLocked(cpu);
  }
  m_errors[static_cast<size_t>(event)] = factor;
}

uint64_t SimKernelPerf::open(int cpu, std::span<const KernelEvent> events, bool privileged,
                             KernelOpenError* error) {
  std::lock_guard lock(m_mutex);
  Kind kind = Kind::kSoftware;
  if (!validate(cpu, events, privileged, &kind, error)) {
    return 0;
  }
  // The groups already open count up to now under the old schedule.
  const SimHardware::Totals now = advanceLocked(cpu);
  Group group;
  group.cpu = cpu;
  group.kind = kind;
  group.events.assign(events.begin(), events.end());
  group.last = now;
  const uint64_t id = m_nextId++;
  m_groups.emplace(id, std::move(group));
  return id;
}

bool SimKernelPerf::read(uint64_t id, KernelGroupReading* out) {
  if (out == nullptr) {
    return false;
  }
  std::lock_guard lock(m_mutex);
  auto it = m_groups.find(id);
  if (it == m_groups.end()) {
    return false;
  }
  advanceLocked(it->second.cpu);
  const Group& g = it->second;
  out->timeEnabled = g.enabledNs;
  out->timeRunning = g.runningNs;
  out->count = static_cast<int>(g.events.size());
  for (size_t i = 0; i < g.events.size(); ++i) {
    out->values[i] = SimWorkloadModel::wholeCount(g.counts[i]);
  }
  return true;
}

void SimKernelPerf::close(uint64_t id) {
  std::lock_guard lock(m_mutex);
  auto it = m_groups.find(id);
  if (it == m_groups.end()) {
    return;
  }
  // The others have run under a schedule that included this group until now.
  advanceLocked(it->second.cpu);
  m_groups.erase(it);
}

int SimKernelPerf::openGroups(int cpu) const {
  std::lock_guard lock(m_mutex);
  int count = 0;
  for (const auto& [id, g] : m_groups) {
    count += g.cpu == cpu;
  }
  return count;
}

bool SimKernelPerf::validate(int cpu, std::span<const KernelEvent> events, bool privileged,
                             Kind* kind, KernelOpenError* error) const {
  if (cpu < 0 || cpu >= static_cast<int>(m_cpus.size())) {
    return refuse(error, kErrorInvalidParameter, EINVAL, "there is no CPU " + std::to_string(cpu));
  }
  if (events.empty() || events.size() > static_cast<size_t>(KernelGroupReading::kMaxEvents)) {
    return refuse(error, kErrorInvalidParameter, EINVAL, "a group holds 1 to 16 events");
  }
  // A CPU-wide event needs CAP_PERFMON above paranoid level 0.
  if (!privileged && m_paranoid > 0) {
    return refuse(error, kErrorAccessDenied, EACCES,
                  "perf_event_paranoid is " + std::to_string(m_paranoid) +
                      ": counting a whole CPU needs 0 or below, or CAP_PERFMON");
  }
  bool classified = false;
  for (KernelEvent e : events) {
    if (e >= KernelEvent::kCount) {
      return refuse(error, kErrorInvalidParameter, EINVAL, "no such event");
    }
    if (e == KernelEvent::kCpuClock) {
      continue;
    }
    const Kind k = SimKernelPmus::isCoreEvent(e) ? Kind::kCore
                   : SimKernelPmus::isMsrEvent(e) ? Kind::kMsr
                                                  : Kind::kPower;
    if (classified && k != *kind) {
      return refuse(error, kErrorInvalidParameter, EINVAL, "the events of one group belong to different PMUs");
    }
    *kind = k;
    classified = true;
  }
  const std::string cpuName = "CPU " + std::to_string(cpu);
  for (KernelEvent e : events) {
    const std::string name = kEventNames[static_cast<size_t>(e)];
    if (SimKernelPmus::isCoreEvent(e)) {
      const int pmu = m_pmus.pmuOf(m_cpus[static_cast<size_t>(cpu)]);
      if (pmu < 0) {
        return refuse(error, kErrorFileNotFound, ENOENT, "the kernel has no hardware PMU for " + cpuName);
      }
      const SimCorePmu& core = m_pmus.corePmus()[static_cast<size_t>(pmu)];
      if ((core.desc.events & kernelEventBit(e)) == 0) {
        return refuse(error, kErrorNotSupported, ENOENT, core.desc.name + " has no event " + name);
      }
    } else if (SimKernelPmus::isMsrEvent(e) && (m_pmus.msrEvents() & kernelEventBit(e)) == 0) {
      return refuse(error, kErrorNotSupported, ENOENT, "the msr PMU has no event " + name);
    } else if (SimKernelPmus::isPowerEvent(e) && !m_pmus.offersPower(e)) {
      if (m_pmus.powerEvents().empty()) {
        return refuse(error, kErrorFileNotFound, ENOENT, "the kernel has no power PMU");
      }
      return refuse(error, kErrorNotSupported, ENOENT, "the power PMU has no event " + name);
    }
  }
  if (*kind == Kind::kCore) {
    const int pmu = m_pmus.pmuOf(m_cpus[static_cast<size_t>(cpu)]);
    Usage empty;
    if (!fits(m_pmus.corePmus()[static_cast<size_t>(pmu)], events, &empty)) {
      return refuse(error, kErrorInvalidParameter, EINVAL, "the group needs more counters than " + cpuName + " has");
    }
  }
  return true;
}

SimKernelPerf::Usage SimKernelPerf::pinnedUsage(const SimCorePmu& pmu) const {
  Usage usage;
  if (m_watchdog) {
    if (pmu.fixedCounters >= 2) {
      usage.fixed[1] = true;
    } else {
      usage.general = 1;
    }
  }
  return usage;
}

bool SimKernelPerf::fits(const SimCorePmu& pmu, std::span<const KernelEvent> events, Usage* usage) const {
  for (KernelEvent e : events) {
    if (!SimKernelPmus::isCoreEvent(e)) {
      continue;
    }
    // Intel: instructions, cycles and reference cycles go to their fixed
    // counter while it is free; reference cycles count nowhere else.
    const int fixed = e == KernelEvent::kInstructions ? 0
                      : e == KernelEvent::kCycles     ? 1
                      : e == KernelEvent::kRefCycles  ? 2
                                                      : -1;
    if (fixed >= 0 && fixed < pmu.fixedCounters && !usage->fixed[static_cast<size_t>(fixed)]) {
      usage->fixed[static_cast<size_t>(fixed)] = true;
      continue;
    }
    if (e == KernelEvent::kRefCycles) {
      return false;
    }
    if (++usage->general > pmu.generalCounters) {
      return false;
    }
  }
  return true;
}

SimHardware::Totals SimKernelPerf::advanceLocked(int cpu) {
  const SimHardware::Totals now = m_hardware.totals(cpu);
  std::vector<Group*> all;
  std::vector<Group*> core;
  for (auto& [id, g] : m_groups) {
    if (g.cpu == cpu) {
      all.push_back(&g);
      if (g.kind == Kind::kCore) {
        core.push_back(&g);
      }
    }
  }
  if (all.empty()) {
    return now;
  }
  std::vector<uint64_t> running;
  if (!core.empty()) {
    const int pmu = m_pmus.pmuOf(m_cpus[static_cast<size_t>(cpu)]);
    // Every group of a processor is brought up to the same time together.
    running = runningLocked(m_pmus.corePmus()[static_cast<size_t>(pmu)], core, core.front()->last.nowNs,
                            now.nowNs);
  }
  size_t coreIndex = 0;
  for (Group* g : all) {
    const uint64_t elapsed = now.nowNs > g->last.nowNs ? now.nowNs - g->last.nowNs : 0;
    const uint64_t ran = g->kind == Kind::kCore ? running[coreIndex++] : elapsed;
    if (elapsed > 0) {
      const double share = static_cast<double>(ran) / static_cast<double>(elapsed);
      for (size_t i = 0; i < g->events.size(); ++i) {
        const KernelEvent e = g->events[i];
        g->counts[i] += growth(*g, e, now) * share * m_errors[static_cast<size_t>(e)];
      }
      g->enabledNs += elapsed;
      g->runningNs += ran;
    }
    g->last = now;
  }
  return now;
}

std::vector<uint64_t> SimKernelPerf::runningLocked(const SimCorePmu& pmu, const std::vector<Group*>& core,
                                                   uint64_t from, uint64_t to) const {
  const size_t n = core.size();
  std::vector<uint64_t> ran(n, 0);
  if (to <= from) {
    return ran;
  }
  // on[r][i]: group i is on the hardware in rotation r.
  std::vector<std::vector<char>> on(n, std::vector<char>(n, 0));
  std::vector<uint64_t> perPeriod(n, 0);
  bool everyoneFits = true;
  for (size_t r = 0; r < n; ++r) {
    Usage usage = pinnedUsage(pmu);
    for (size_t k = 0; k < n; ++k) {
      const size_t i = (r + k) % n;
      Usage trial = usage;
      if (!fits(pmu, core[i]->events, &trial)) {
        everyoneFits = false;
        break;
      }
      usage = trial;
      on[r][i] = 1;
      ++perPeriod[i];
    }
  }
  if (everyoneFits) {
    ran.assign(n, to - from);
    return ran;
  }
  const uint64_t period = kRotationNs * n;
  uint64_t t = from;
  while (t < to) {
    if (t % kRotationNs == 0 && to - t >= period) {
      const uint64_t periods = (to - t) / period;
      for (size_t i = 0; i < n; ++i) {
        ran[i] += periods * perPeriod[i] * kRotationNs;
      }
      t += periods * period;
      continue;
    }
    const uint64_t slice = t / kRotationNs;
    const uint64_t end = std::min(to, (slice + 1) * kRotationNs);
    const size_t r = static_cast<size_t>(slice % n);
    for (size_t i = 0; i < n; ++i) {
      if (on[r][i]) {
        ran[i] += end - t;
      }
    }
    t = end;
  }
  return ran;
}

double SimKernelPerf::growth(const Group& group, KernelEvent event, const SimHardware::Totals& now) const {
  const SimHardware::Totals& last = group.last;
  const double elapsedNs = static_cast<double>(now.nowNs - last.nowNs);
  const SimEvent counted = SimKernelPmus::simEventOf(event, m_pmus.hasL3());
  if (counted != SimEvent::kCount) {
    const size_t e = static_cast<size_t>(counted);
    return now.events[e] - last.events[e];
  }
  if (event == KernelEvent::kMsrTsc) {
    return m_tscMhz * 1e6 * elapsedNs / kNsPerSecond;
  }
  if (SimKernelPmus::isPowerEvent(event)) {
    const size_t d = static_cast<size_t>(SimKernelPmus::domainOf(event));
    const double joules = static_cast<double>(now.energyNj[d] - last.energyNj[d]) / kNsPerSecond;
    return joules / SimKernelPmus::kJoulesPerEnergyCount;
  }
  return elapsedNs;  // cpu-clock: a CPU-wide clock event counts the time enabled
}

}  // namespace tv2::sim
