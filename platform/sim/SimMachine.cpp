#include "platform/sim/SimMachine.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "platform/sim/SimPresets.h"

namespace tv2::sim {

namespace {

constexpr uint64_t kNsPerMs = 1000000;
constexpr uint64_t kNsPerTimeUnit = 100;

// amount * share rounded, for share in 0..1; never more than amount, and
// without the overflow a conversion through a signed type would risk.
uint64_t scaled(uint64_t amount, double share) {
  const double value = static_cast<double>(amount) * share + 0.5;
  if (value >= static_cast<double>(amount)) {
    return amount;
  }
  return static_cast<uint64_t>(value);
}

double unitInterval(double value) {
  if (std::isnan(value)) {
    return 0.0;
  }
  return std::clamp(value, 0.0, 1.0);
}

}  // namespace

SimMachine::SimMachine(SimMachineConfig config)
    : m_config(SimTopology::sanitized(std::move(config))),
      m_cpuid(m_config.model),
      m_mutexes(std::make_shared<SimMutexRegistry>()),
      m_instanceLocks(std::make_shared<SimInstanceLockRegistry>()) {
  m_cpus = SimTopology::build(m_config, &m_groups);
}

std::optional<SimMachineConfig> SimMachine::preset(std::string_view name) {
  return SimPresets::find(name);
}

std::vector<std::string> SimMachine::presetNames() { return SimPresets::names(); }

std::string SimMachine::checkConfig(const SimMachineConfig& config) {
  return SimTopology::check(config);
}

int SimMachine::logicalProcessorCount() const { return static_cast<int>(m_cpus.size()); }

int SimMachine::groupCount() const { return static_cast<int>(m_groups.size()); }

int SimMachine::groupSize(int group) const {
  if (group < 0 || group >= groupCount()) {
    return 0;
  }
  return static_cast<int>(m_groups[static_cast<size_t>(group)].size());
}

int SimMachine::cpuAt(int group, int index) const {
  if (index < 0 || index >= groupSize(group)) {
    return -1;
  }
  return m_groups[static_cast<size_t>(group)][static_cast<size_t>(index)];
}

bool SimMachine::placeOf(int cpu, int* group, int* index) const {
  const SimLogicalProcessor* p = processor(cpu);
  if (p == nullptr) {
    return false;
  }
  *group = p->group;
  *index = p->index;
  return true;
}

const SimLogicalProcessor* SimMachine::processor(int cpu) const {
  if (cpu < 0 || cpu >= logicalProcessorCount()) {
    return nullptr;
  }
  return &m_cpus[static_cast<size_t>(cpu)];
}

CpuidRegs SimMachine::cpuid(int cpu, uint32_t leaf, uint32_t subleaf) const {
  const SimLogicalProcessor* p = processor(cpu);
  if (p == nullptr) {
    return {};
  }
  // Reads identity fields only, which never change.
  return m_cpuid.query(*p, leaf, subleaf);
}

void SimMachine::setLoad(int cpu, double load, double userShare) {
  if (cpu < 0 || cpu >= logicalProcessorCount()) {
    return;
  }
  std::lock_guard lock(m_stateMutex);
  SimWorkload& w = m_cpus[static_cast<size_t>(cpu)].workload;
  integrateLocked(&w, m_clock.nowNs());
  w.load = unitInterval(load);
  w.userShare = unitInterval(userShare);
}

void SimMachine::setLoadAll(double load, double userShare) {
  std::lock_guard lock(m_stateMutex);
  const uint64_t now = m_clock.nowNs();
  for (SimLogicalProcessor& cpu : m_cpus) {
    integrateLocked(&cpu.workload, now);
    cpu.workload.load = unitInterval(load);
    cpu.workload.userShare = unitInterval(userShare);
  }
}

ProcessorTimes SimMachine::times(int cpu) {
  if (cpu < 0 || cpu >= logicalProcessorCount()) {
    return {};
  }
  std::lock_guard lock(m_stateMutex);
  SimWorkload& w = m_cpus[static_cast<size_t>(cpu)].workload;
  integrateLocked(&w, m_clock.nowNs());
  ProcessorTimes t;
  t.idle = static_cast<int64_t>((w.elapsedNs - w.busyNs) / kNsPerTimeUnit);
  t.kernel = static_cast<int64_t>((w.elapsedNs - w.userNs) / kNsPerTimeUnit);
  t.user = static_cast<int64_t>(w.userNs / kNsPerTimeUnit);
  return t;
}

void SimMachine::useManualClock() { m_clock.useManual(); }

void SimMachine::advanceMs(uint64_t ms) {
  const uint64_t ns = ms > UINT64_MAX / kNsPerMs ? UINT64_MAX : ms * kNsPerMs;
  m_clock.advanceNs(ns);
}

uint64_t SimMachine::nowNs() const { return m_clock.nowNs(); }

void SimMachine::integrateLocked(SimWorkload* w, uint64_t now) {
  if (now <= w->lastNs) {
    return;
  }
  const uint64_t elapsed = now - w->lastNs;
  // Rounded per step; busy never exceeds the elapsed time, user never the busy
  // time, so idle and kernel stay non-negative and every total only grows.
  const uint64_t busy = scaled(elapsed, w->load);
  const uint64_t user = scaled(busy, w->userShare);
  w->elapsedNs += elapsed;
  w->busyNs += busy;
  w->userNs += user;
  w->lastNs = now;
}

}  // namespace tv2::sim
