#include "platform/sim/SimMachine.h"

#include <utility>

#include "platform/sim/SimPresets.h"

namespace tv2::sim {

namespace {

constexpr uint64_t kNsPerMs = 1000000;

}  // namespace

SimMachine::SimMachine(SimMachineConfig config)
    : m_config(SimTopology::sanitized(std::move(config))),
      m_cpuid(m_config.model),
      m_cpus(SimTopology::build(m_config, &m_groups)),
      m_hardware(m_config, m_cpus, m_clock),
      m_kernel(m_config, m_cpus, m_hardware),
      m_mutexes(std::make_shared<SimMutexRegistry>()),
      m_instanceLocks(std::make_shared<SimInstanceLockRegistry>()) {}

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
  return m_cpuid.query(*p, leaf, subleaf, m_hardware.cpuidLimited(cpu));
}

void SimMachine::setLoad(int cpu, double load, double userShare) {
  m_hardware.setLoad(cpu, load, userShare);
}

void SimMachine::runLoadSchedule(const SimLoadSchedule& schedule) { m_hardware.setLoadSchedule(schedule); }

void SimMachine::setLoadAll(double load, double userShare) {
  m_hardware.setLoadAll(load, userShare);
}

void SimMachine::setActivity(int cpu, const SimActivity& activity) {
  m_hardware.setActivity(cpu, activity);
}

void SimMachine::setActivityAll(const SimActivity& activity) {
  m_hardware.setActivityAll(activity);
}

SimActivity SimMachine::activity(int cpu) const { return m_hardware.activity(cpu); }

void SimMachine::setPower(int package, const SimPowerDraw& draw) {
  m_hardware.setPower(package, draw);
}

void SimMachine::followLoadPower(int package) { m_hardware.setPower(package, std::nullopt); }

void SimMachine::setTemperature(int package, double celsius) {
  m_hardware.setTemperature(package, -1, celsius);
}

void SimMachine::setCoreTemperature(int package, int core, double celsius) {
  if (core >= 0) {
    m_hardware.setTemperature(package, core, celsius);
  }
}

void SimMachine::followLoadTemperature(int package) {
  m_hardware.setTemperature(package, -1, std::nullopt);
}

ProcessorTimes SimMachine::times(int cpu) { return m_hardware.times(cpu); }

double SimMachine::trueRate(int cpu, SimEvent event) const {
  return m_hardware.trueRate(cpu, event);
}

double SimMachine::truePackageRate(int package, SimEvent event) const {
  return m_hardware.truePackageRate(package, event);
}

double SimMachine::truePower(int package, SimPowerDomain domain) const {
  return m_hardware.truePower(package, domain);
}

double SimMachine::trueTemperature(int package, int core) const {
  return m_hardware.trueTemperature(package, core);
}

double SimMachine::trueClockMhz(int cpu) const { return m_hardware.trueClockMhz(cpu); }

double SimMachine::trueEnergyJoules(int package, SimPowerDomain domain) {
  return m_hardware.energyJoules(package, domain);
}

double SimMachine::tscMhz() const { return m_hardware.tscMhz(); }

void SimMachine::useManualClock() { m_clock.useManual(); }

bool SimMachine::manualClock() const { return m_clock.isManual(); }

void SimMachine::advanceMs(uint64_t ms) {
  const uint64_t ns = ms > UINT64_MAX / kNsPerMs ? UINT64_MAX : ms * kNsPerMs;
  m_clock.advanceNs(ns);
}

uint64_t SimMachine::nowNs() const { return m_clock.nowNs(); }

}  // namespace tv2::sim
