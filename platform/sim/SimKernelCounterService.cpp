#include "platform/sim/SimKernelCounterService.h"

#include <algorithm>
#include <cmath>
#include <set>
#include <string>

#include "platform/ErrorCodes.h"
#include "platform/sim/SimKernelEventGroup.h"

namespace tv2::sim {

namespace {

constexpr uint64_t kNjPerUj = 1000;

KernelCounterInventory fixedInventory(SimMachine& machine) {
  const SimMachineConfig& config = machine.config();
  const SimKernelPmus& pmus = machine.kernel().pmus();
  KernelCounterInventory inv;
  for (const SimCorePmu& pmu : pmus.corePmus()) {
    inv.corePmus.push_back(pmu.desc);
  }
  std::set<int> packages;
  std::set<std::pair<int, int>> cores;  // (package, core id), ascending
  for (int cpu = 0; cpu < machine.logicalProcessorCount(); ++cpu) {
    const SimLogicalProcessor& p = *machine.processor(cpu);
    inv.processors.push_back(KernelProcessor{p.group, p.index, cpu, p.package, p.core, pmus.pmuOf(p)});
    packages.insert(p.package);
    cores.insert({p.package, p.core});
  }
  inv.msrEvents = pmus.msrEvents();
  inv.powerEvents = pmus.powerEvents();
  for (int package : packages) {
    if (config.kernel.hwmon == SimHwmonDriver::kCoretemp) {
      inv.temperatures.push_back({KernelSensorKind::kPackage, package, -1, "Package id " + std::to_string(package)});
      for (const auto& [p, core] : cores) {
        if (p == package) {
          inv.temperatures.push_back({KernelSensorKind::kCore, package, core, "Core " + std::to_string(core)});
        }
      }
    } else if (config.kernel.hwmon == SimHwmonDriver::kK10temp) {
      // Zen parts without a reporting offset give Tctl = Tdie.
      inv.temperatures.push_back({KernelSensorKind::kPackage, package, -1, "Tctl"});
      inv.temperatures.push_back({KernelSensorKind::kPackage, package, -1, "Tdie"});
    }
    if (config.kernel.powercap) {
      for (const KernelPowerEvent& e : pmus.powerEvents()) {
        const KernelEnergyKind kind = e.event == KernelEvent::kEnergyCores ? KernelEnergyKind::kCores
                                      : e.event == KernelEvent::kEnergyGpu ? KernelEnergyKind::kGraphics
                                      : e.event == KernelEvent::kEnergyRam ? KernelEnergyKind::kDram
                                                                           : KernelEnergyKind::kPackage;
        inv.energyZones.push_back({kind, package, config.kernel.maxEnergyRangeUj});
      }
    }
  }
  return inv;
}

std::vector<int> firstCpuOfEachPackage(SimMachine& machine) {
  std::vector<int> first;
  for (int cpu = machine.logicalProcessorCount() - 1; cpu >= 0; --cpu) {
    const size_t package = static_cast<size_t>(machine.processor(cpu)->package);
    if (first.size() <= package) {
      first.resize(package + 1, -1);
    }
    first[package] = cpu;
  }
  return first;
}

SimPowerDomain domainOfZone(KernelEnergyKind kind) {
  switch (kind) {
    case KernelEnergyKind::kCores:
      return SimPowerDomain::kCores;
    case KernelEnergyKind::kGraphics:
      return SimPowerDomain::kGraphics;
    case KernelEnergyKind::kDram:
      return SimPowerDomain::kDram;
    case KernelEnergyKind::kPackage:
      break;
  }
  return SimPowerDomain::kPackage;
}

}  // namespace

SimKernelCounterService::SimKernelCounterService(std::shared_ptr<SimMachine> machine)
    : m_machine(std::move(machine)),
      m_fixed(fixedInventory(*m_machine)),
      m_packageCpu(firstCpuOfEachPackage(*m_machine)) {}

void SimKernelCounterService::setPrivilege(SimKernelPrivilege privilege) {
  m_privilege.store(privilege, std::memory_order_relaxed);
}

SimKernelPrivilege SimKernelCounterService::privilege() const {
  return m_privilege.load(std::memory_order_relaxed);
}

KernelCounterInventory SimKernelCounterService::inventory() {
  KernelCounterInventory inv = m_fixed;
  inv.paranoid = m_machine->kernel().paranoid();
  const SimKernelPrivilege who = privilege();
  inv.mayOpenDirectly = who == SimKernelPrivilege::kRoot || inv.paranoid <= 0;
  // The host is asked only by a process that cannot open the events itself.
  inv.hostOpens = !inv.mayOpenDirectly && who == SimKernelPrivilege::kHostGroup;
  if (inv.corePmus.empty()) {
    inv.blockedReason = "the kernel offers no hardware performance counters";
  }
  if (!inv.mayOpenDirectly && !inv.hostOpens) {
    inv.blockedReason += inv.blockedReason.empty() ? "" : "; ";
    inv.blockedReason += "perf_event_paranoid is " + std::to_string(inv.paranoid) +
                         ": counting a whole CPU needs root, CAP_PERFMON or a level of 0 or below, and this "
                         "user is not in group " +
                         std::string(kHostGroup);
  }
  return inv;
}

std::unique_ptr<KernelEventGroup> SimKernelCounterService::openGroup(int group, int index,
                                                                     std::span<const KernelEvent> events,
                                                                     KernelOpenError* error) {
  const int cpu = m_machine->cpuAt(group, index);
  if (cpu < 0) {
    if (error != nullptr) {
      *error = KernelOpenError{kErrorInvalidParameter, 0,
                               "no processor " + std::to_string(index) + " in group " + std::to_string(group)};
    }
    return nullptr;
  }
  // Root opens the events itself; the system host opens them as root for a
  // member of its group.
  const bool privileged = privilege() != SimKernelPrivilege::kNone;
  const uint64_t id = m_machine->kernel().open(cpu, events, privileged, error);
  if (id == 0) {
    return nullptr;
  }
  return std::make_unique<SimKernelEventGroup>(m_machine, id);
}

bool SimKernelCounterService::readTemperature(int sensor, int32_t* milliCelsius) {
  if (sensor < 0 || sensor >= static_cast<int>(m_fixed.temperatures.size()) || milliCelsius == nullptr) {
    return false;
  }
  // A temperature set out of all reason still reads as a number.
  const double celsius = std::clamp(trueTemperature(sensor), -273.0, 1e6);
  if (std::isnan(celsius)) {
    return false;
  }
  // coretemp reads whole degrees, k10temp eighths of one.
  const bool eighths = m_machine->config().kernel.hwmon == SimHwmonDriver::kK10temp;
  *milliCelsius = eighths ? static_cast<int32_t>(std::lround(celsius * 8.0) * 125)
                          : static_cast<int32_t>(std::lround(celsius) * 1000);
  return true;
}

bool SimKernelCounterService::readEnergy(int zone, uint64_t* microjoules, uint64_t* timeNs) {
  if (zone < 0 || zone >= static_cast<int>(m_fixed.energyZones.size()) || microjoules == nullptr ||
      timeNs == nullptr) {
    return false;
  }
  const KernelEnergyZone& z = m_fixed.energyZones[static_cast<size_t>(zone)];
  const SimHardware::Totals totals = m_machine->hardware().totals(m_packageCpu[static_cast<size_t>(z.package)]);
  const uint64_t uj = totals.energyNj[static_cast<size_t>(domainOfZone(z.kind))] / kNjPerUj;
  // energy_uj runs from 0 to max_energy_range_uj and starts again at 0.
  *microjoules = z.maxRangeMicrojoules == UINT64_MAX ? uj : uj % (z.maxRangeMicrojoules + 1);
  *timeNs = totals.nowNs;
  return true;
}

bool SimKernelCounterService::readFrequency(int group, int index, uint32_t* kiloHertz) {
  const int cpu = m_machine->cpuAt(group, index);
  if (cpu < 0 || kiloHertz == nullptr) return false;
  *kiloHertz = static_cast<uint32_t>(m_machine->trueClockMhz(cpu) * 1000.0 + 0.5);
  return true;
}

double SimKernelCounterService::trueRate(int cpu, KernelEvent event) const {
  const SimLogicalProcessor* p = m_machine->processor(cpu);
  if (p == nullptr) {
    return 0.0;
  }
  const SimEvent counted = SimKernelPmus::simEventOf(event, m_machine->kernel().pmus().hasL3());
  if (counted != SimEvent::kCount) {
    return m_machine->trueRate(cpu, counted);
  }
  if (event == KernelEvent::kMsrTsc) {
    return m_machine->tscMhz() * 1e6;
  }
  if (SimKernelPmus::isPowerEvent(event)) {
    return truePower(p->package, event) / SimKernelPmus::kJoulesPerEnergyCount;
  }
  return 1e9;  // cpu-clock: nanoseconds per second
}

double SimKernelCounterService::truePower(int package, KernelEvent energyEvent) const {
  return m_machine->truePower(package, SimKernelPmus::domainOf(energyEvent));
}

double SimKernelCounterService::trueTemperature(int sensor) const {
  if (sensor < 0 || sensor >= static_cast<int>(m_fixed.temperatures.size())) {
    return std::nan("");
  }
  const KernelTemperatureSensor& s = m_fixed.temperatures[static_cast<size_t>(sensor)];
  return m_machine->trueTemperature(s.package, s.core);
}

}  // namespace tv2::sim
