#include "platform/sim/SimTimers.h"

namespace tv2::sim {

namespace {

// Products of nanoseconds and rates outgrow 64 bits after a few hours.
__extension__ using Wide = unsigned __int128;

constexpr uint32_t kCapabilities = 0x8086A201;  // vendor, legacy route, 64 bit, 3 timers, rev 1
constexpr uint64_t kFsPerNs = 1000000;
constexpr uint64_t kNsPerSecond = 1000000000;
constexpr uint32_t kPmTimerMask = 0xFFFFFF;

}  // namespace

SimTimers::SimTimers(const SimFirmwareConfig& firmware, uint64_t nowNs)
    : m_hpetPresent(firmware.hpetTable && firmware.hpetAddressSpace == 0),
      m_hpetBase(firmware.hpetBase),
      m_periodFs(firmware.hpetPeriodFs),
      m_pmTimerPort(firmware.pmTimerPort),
      m_running(firmware.hpetRunning),
      m_resumedNs(nowNs) {}

uint32_t SimTimers::hpetRegister(uint32_t offset, uint64_t nowNs) const {
  switch (offset) {
    case 0x00:
      return kCapabilities;
    case 0x04:
      return m_periodFs;
    case 0x10:
      return m_running ? 1 : 0;
    case 0xF0:
      return static_cast<uint32_t>(hpetTicks(nowNs));
    case 0xF4:
      return static_cast<uint32_t>(hpetTicks(nowNs) >> 32);
    default:
      return 0;
  }
}

void SimTimers::setHpetRunning(bool running, uint64_t nowNs) {
  if (running == m_running) {
    return;
  }
  m_ticksAtResume = hpetTicks(nowNs);
  m_resumedNs = nowNs;
  m_running = running;
}

uint64_t SimTimers::hpetTicks(uint64_t nowNs) const {
  if (!m_running || m_periodFs == 0 || nowNs <= m_resumedNs) {
    return m_ticksAtResume;
  }
  const Wide fs = static_cast<Wide>(nowNs - m_resumedNs) * kFsPerNs;
  return m_ticksAtResume + static_cast<uint64_t>(fs / m_periodFs);
}

uint32_t SimTimers::pmTimer(uint64_t nowNs) const {
  const Wide ticks = static_cast<Wide>(nowNs) * kPmTimerHz / kNsPerSecond;
  return static_cast<uint32_t>(ticks) & kPmTimerMask;
}

}  // namespace tv2::sim
