#include "platform/sim/SimHardware.h"

#include <algorithm>

namespace tv2::sim {

namespace {

constexpr uint32_t kConfigAddressPort = 0xCF8;
constexpr uint32_t kConfigDataPort = 0xCFC;
constexpr uint32_t kConfigEnableBit = 1u << 31;
constexpr uint64_t kMmioConfigSize = 256ull << 20;  // 256 buses
constexpr uint64_t kFunctionSize = 0x1000;

bool isAmdKind(SimPartKind kind) {
  return kind == SimPartKind::kAmdBulldozer || kind == SimPartKind::kAmdTrinity ||
         kind == SimPartKind::kAmdKaveri;
}

bool amdPart(const SimMachineConfig& config) {
  return config.model.vendor == "AuthenticAMD" && isAmdKind(config.model.part.kind);
}

// True when [address, address + length) lies inside [base, base + size).
bool within(uint64_t address, uint64_t length, uint64_t base, uint64_t size) {
  return address >= base && address - base < size && length <= size - (address - base);
}

}  // namespace

SimHardware::SimHardware(const SimMachineConfig& config,
                         const std::vector<SimLogicalProcessor>& cpus, const SimClock& clock)
    : m_clock(clock),
      m_mmioConfig(amdPart(config)),
      m_windowBase(config.firmware.configWindowBase & 0x0000FFFFFFF00000ull),
      m_workload(config, cpus),
      m_msrs(config, static_cast<int>(cpus.size()), m_workload.packageCount(), m_workload.hasL3()),
      m_smu(amdPart(config) ? config.model.part.kind : SimPartKind::kGeneric),
      m_pci(config, m_workload.packageCount()),
      m_firmwareConfig(config.firmware),
      m_firmware(std::make_unique<SimFirmware>(config.firmware)),
      m_timers(std::make_unique<SimTimers>(config.firmware, clock.nowNs())) {}

bool SimHardware::readMsr(int32_t cpu, uint32_t index, uint64_t* value) {
  std::lock_guard lock(m_mutex);
  if (value == nullptr || m_failingMsrs.count(index) != 0 || m_readFailingMsrs.count(index) != 0) {
    return false;
  }
  const uint64_t now = advanceLocked();
  return m_msrs.read(m_workload, cpu, index, now, value);
}

bool SimHardware::writeMsr(int32_t cpu, uint32_t index, uint64_t value) {
  std::lock_guard lock(m_mutex);
  if (m_failingMsrs.count(index) != 0) {
    return false;
  }
  advanceLocked();
  return m_msrs.write(m_workload, cpu, index, value);
}

bool SimHardware::readPort(uint32_t port, uint32_t* value) {
  std::lock_guard lock(m_mutex);
  if (value == nullptr || m_failingPorts.count(port) != 0) {
    return false;
  }
  const uint64_t now = advanceLocked();
  if (port == kConfigAddressPort) {
    *value = m_configAddress;
    return true;
  }
  if (port == kConfigDataPort) {
    int bus = 0, device = 0, function = 0;
    uint32_t reg = 0;
    return decodeConfigAddress(&bus, &device, &function, &reg) &&
           configReadLocked(bus, device, function, reg, value);
  }
  if (port != 0 && port == m_timers->pmTimerPort()) {
    *value = m_timers->pmTimer(now);
    return true;
  }
  return false;
}

bool SimHardware::writePort(uint32_t port, uint32_t value) {
  std::lock_guard lock(m_mutex);
  if (m_failingPorts.count(port) != 0) {
    return false;
  }
  advanceLocked();
  if (port == kConfigAddressPort) {
    m_configAddress = value;
    return true;
  }
  if (port == kConfigDataPort) {
    int bus = 0, device = 0, function = 0;
    uint32_t reg = 0;
    return decodeConfigAddress(&bus, &device, &function, &reg) &&
           configWriteLocked(bus, device, function, reg, value);
  }
  return false;  // the timer and every other port are read-only here
}

bool SimHardware::readPhysical(uint64_t address, uint32_t length, uint8_t* out) {
  std::lock_guard lock(m_mutex);
  if ((out == nullptr && length > 0) || physicalFailing(address, length)) {
    return false;
  }
  const uint64_t now = advanceLocked();
  if (m_mmioConfig && within(address, 1, m_windowBase, kMmioConfigSize)) {
    // One function's registers at a time, as a configuration access would.
    const uint64_t offset = address - m_windowBase;
    if (!within(offset, length, offset & ~(kFunctionSize - 1), kFunctionSize)) {
      return false;
    }
    return readDwords(address, length, out, [&](uint64_t at, uint32_t* dword) {
      int bus = 0, device = 0, function = 0;
      uint32_t reg = 0;
      decodeWindow(at - m_windowBase, &bus, &device, &function, &reg);
      return configReadLocked(bus, device, function, reg, dword);
    });
  }
  if (m_timers->hpetPresent() &&
      within(address, length, m_timers->hpetBase(), SimTimers::kHpetSize)) {
    return readDwords(address, length, out, [&](uint64_t at, uint32_t* dword) {
      *dword = m_timers->hpetRegister(static_cast<uint32_t>(at - m_timers->hpetBase()), now);
      return true;
    });
  }
  if (m_smu.hasMailbox() && within(address, length, SimSmu::kMailboxBase, SimSmu::kMailboxSize)) {
    return readDwords(address, length, out, [&](uint64_t at, uint32_t* dword) {
      return m_smu.mailboxRead(static_cast<uint32_t>(at - SimSmu::kMailboxBase), dword);
    });
  }
  return m_firmware->read(address, length, out);
}

bool SimHardware::writePhysicalDword(uint64_t address, uint32_t value) {
  std::lock_guard lock(m_mutex);
  if ((address & 3) != 0 || physicalFailing(address, 4)) {
    return false;
  }
  const uint64_t now = advanceLocked();
  if (m_mmioConfig && within(address, 4, m_windowBase, kMmioConfigSize)) {
    int bus = 0, device = 0, function = 0;
    uint32_t reg = 0;
    decodeWindow(address - m_windowBase, &bus, &device, &function, &reg);
    return configWriteLocked(bus, device, function, reg, value);
  }
  if (m_smu.hasMailbox() && within(address, 4, SimSmu::kMailboxBase, SimSmu::kMailboxSize)) {
    return m_smu.mailboxWrite(m_workload, static_cast<uint32_t>(address - SimSmu::kMailboxBase),
                              value, now);
  }
  return false;  // firmware and timer registers are read-only here
}

void SimHardware::setMsrFailing(uint32_t index, bool failing) {
  std::lock_guard lock(m_mutex);
  if (failing) {
    m_failingMsrs.insert(index);
  } else {
    m_failingMsrs.erase(index);
  }
}

void SimHardware::setMsrReadFailing(uint32_t index, bool failing) {
  std::lock_guard lock(m_mutex);
  if (failing) {
    m_readFailingMsrs.insert(index);
  } else {
    m_readFailingMsrs.erase(index);
  }
}

void SimHardware::setPciFailing(int bus, int device, int function, uint32_t reg, bool failing) {
  std::lock_guard lock(m_mutex);
  const auto key = std::make_tuple(bus, device, function, reg & ~3u);
  if (failing) {
    m_failingPci.insert(key);
  } else {
    m_failingPci.erase(key);
  }
}

void SimHardware::setPortFailing(uint32_t port, bool failing) {
  std::lock_guard lock(m_mutex);
  if (failing) {
    m_failingPorts.insert(port);
  } else {
    m_failingPorts.erase(port);
  }
}

void SimHardware::setPhysicalFailing(uint64_t address, bool failing) {
  std::lock_guard lock(m_mutex);
  if (failing) {
    m_failingDwords.insert(address & ~3ull);
  } else {
    m_failingDwords.erase(address & ~3ull);
  }
}

void SimHardware::occupyCounters() {
  std::lock_guard lock(m_mutex);
  advanceLocked();
  m_msrs.occupyCounters(m_workload);
}

void SimHardware::setHpetRunning(bool running) {
  std::lock_guard lock(m_mutex);
  m_timers->setHpetRunning(running, advanceLocked());
}

void SimHardware::setMailboxAnswering(bool answering) {
  std::lock_guard lock(m_mutex);
  m_smu.setAnswering(answering);
}

void SimHardware::setFirmware(const SimFirmwareConfig& firmware) {
  std::lock_guard lock(m_mutex);
  const uint64_t now = advanceLocked();
  m_firmwareConfig = firmware;
  m_firmware = std::make_unique<SimFirmware>(firmware);
  m_timers = std::make_unique<SimTimers>(firmware, now);
}

void SimHardware::setLoad(int cpu, double load, double userShare) {
  std::lock_guard lock(m_mutex);
  advanceLocked();
  m_workload.setLoad(cpu, load, userShare);
}

void SimHardware::setLoadAll(double load, double userShare) {
  std::lock_guard lock(m_mutex);
  advanceLocked();
  for (int cpu = 0; cpu < m_workload.cpuCount(); ++cpu) {
    m_workload.setLoad(cpu, load, userShare);
  }
}

void SimHardware::setLoadSchedule(const std::optional<SimLoadSchedule>& schedule) {
  std::lock_guard lock(m_mutex);
  advanceLocked();
  m_workload.setSchedule(schedule);
}

ProcessorTimes SimHardware::times(int cpu) {
  std::lock_guard lock(m_mutex);
  advanceLocked();
  return m_workload.times(cpu);
}

void SimHardware::setActivity(int cpu, const SimActivity& activity) {
  std::lock_guard lock(m_mutex);
  advanceLocked();
  m_workload.setActivity(cpu, activity);
}

void SimHardware::setActivityAll(const SimActivity& activity) {
  std::lock_guard lock(m_mutex);
  advanceLocked();
  for (int cpu = 0; cpu < m_workload.cpuCount(); ++cpu) {
    m_workload.setActivity(cpu, activity);
  }
}

SimActivity SimHardware::activity(int cpu) const {
  std::lock_guard lock(m_mutex);
  return m_workload.activity(cpu);
}

void SimHardware::setPower(int package, const std::optional<SimPowerDraw>& draw) {
  std::lock_guard lock(m_mutex);
  advanceLocked();
  m_workload.setPower(package, draw);
}

void SimHardware::setTemperature(int package, int core, const std::optional<double>& celsius) {
  std::lock_guard lock(m_mutex);
  m_workload.setTemperature(package, core, celsius);
}

double SimHardware::trueRate(int cpu, SimEvent event) const {
  std::lock_guard lock(m_mutex);
  return m_workload.rate(cpu, event);
}

double SimHardware::truePackageRate(int package, SimEvent event) const {
  std::lock_guard lock(m_mutex);
  return m_workload.packageRate(package, event);
}

double SimHardware::truePower(int package, SimPowerDomain domain) const {
  std::lock_guard lock(m_mutex);
  return m_workload.power(package, domain);
}

double SimHardware::trueTemperature(int package, int core) const {
  std::lock_guard lock(m_mutex);
  return core < 0 ? m_workload.packageTemperature(package)
                  : m_workload.coreTemperature(package, core);
}

double SimHardware::trueClockMhz(int cpu) const {
  std::lock_guard lock(m_mutex);
  return m_workload.clockMhz(cpu);
}

double SimHardware::energyJoules(int package, SimPowerDomain domain) {
  std::lock_guard lock(m_mutex);
  advanceLocked();
  return m_workload.energyJoules(package, domain);
}

double SimHardware::tscMhz() const {
  std::lock_guard lock(m_mutex);
  return m_workload.tscMhz();
}

bool SimHardware::cpuidLimited(int cpu) const {
  std::lock_guard lock(m_mutex);
  return m_msrs.cpuidLimited(cpu);
}

SimHardware::Totals SimHardware::totals(int cpu) {
  std::lock_guard lock(m_mutex);
  Totals t;
  t.nowNs = advanceLocked();
  for (int e = 0; e < kSimEventCount; ++e) {
    t.events[static_cast<size_t>(e)] = m_workload.eventTotal(cpu, static_cast<SimEvent>(e), true, true);
  }
  const int package = m_workload.packageOf(cpu);
  for (int d = 0; d < kSimPowerDomainCount; ++d) {
    t.energyNj[static_cast<size_t>(d)] = m_workload.energyNanojoules(package, static_cast<SimPowerDomain>(d));
  }
  return t;
}

uint64_t SimHardware::advanceLocked() {
  const uint64_t now = m_clock.nowNs();
  m_workload.advanceTo(now);
  return now;
}

bool SimHardware::configReadLocked(int bus, int device, int function, uint32_t reg,
                                   uint32_t* value) {
  if (m_failingPci.count(std::make_tuple(bus, device, function, reg)) != 0) {
    return false;
  }
  return m_pci.read(m_workload, m_smu, bus, device, function, reg, value);
}

bool SimHardware::configWriteLocked(int bus, int device, int function, uint32_t reg,
                                    uint32_t value) {
  if (m_failingPci.count(std::make_tuple(bus, device, function, reg)) != 0) {
    return false;
  }
  return m_pci.write(bus, device, function, reg, value);
}

bool SimHardware::decodeConfigAddress(int* bus, int* device, int* function, uint32_t* reg) const {
  const uint32_t a = m_configAddress;
  if ((a & kConfigEnableBit) == 0) {
    return false;
  }
  *bus = static_cast<int>((a >> 16) & 0xFF);
  *device = static_cast<int>((a >> 11) & 0x1F);
  *function = static_cast<int>((a >> 8) & 7);
  *reg = a & 0xFC;
  if (m_pci.extendedPortRegisters()) {
    *reg |= ((a >> 24) & 0xF) << 8;
  }
  return true;
}

void SimHardware::decodeWindow(uint64_t offset, int* bus, int* device, int* function,
                               uint32_t* reg) {
  *bus = static_cast<int>((offset >> 20) & 0xFF);
  *device = static_cast<int>((offset >> 15) & 0x1F);
  *function = static_cast<int>((offset >> 12) & 7);
  *reg = static_cast<uint32_t>(offset & 0xFFC);
}

bool SimHardware::readDwords(uint64_t address, uint32_t length, uint8_t* out,
                             const std::function<bool(uint64_t, uint32_t*)>& dword) const {
  uint64_t cached = ~0ull;
  uint32_t value = 0;
  for (uint32_t i = 0; i < length; ++i) {
    const uint64_t aligned = (address + i) & ~3ull;
    if (aligned != cached) {
      if (!dword(aligned, &value)) {
        return false;
      }
      cached = aligned;
    }
    out[i] = static_cast<uint8_t>(value >> (8 * ((address + i) & 3)));
  }
  return true;
}

bool SimHardware::physicalFailing(uint64_t address, uint32_t length) const {
  if (m_failingDwords.empty()) {
    return false;
  }
  const uint64_t last = length == 0 ? address : address + (length - 1);
  for (uint64_t dword : m_failingDwords) {
    if (dword + 3 >= address && dword <= last) {
      return true;
    }
  }
  return false;
}

}  // namespace tv2::sim
