#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <tuple>
#include <vector>

#include "driver/protocol/HardwareBackend.h"
#include "platform/PlatformTypes.h"
#include "platform/sim/SimActivity.h"
#include "platform/sim/SimClock.h"
#include "platform/sim/SimFirmware.h"
#include "platform/sim/SimLogicalProcessor.h"
#include "platform/sim/SimMachineConfig.h"
#include "platform/sim/SimMsrSpace.h"
#include "platform/sim/SimPciSpace.h"
#include "platform/sim/SimSmu.h"
#include "platform/sim/SimTimers.h"
#include "platform/sim/SimWorkloadModel.h"

namespace tv2::sim {

// The hardware of a simulated machine as a driver reaches it, and the workload
// that drives it. Every call may come from any thread: one mutex guards the
// whole model, and each call first brings the workload's totals up to the
// machine clock, so a register read sees everything counted until that moment.
// Sequences of calls (0xCF8 then 0xCFC, an index then its data register) are
// not atomic, exactly as on the hardware; the program's driver lock orders them.
//
// The configuration address of port 0xCF8 is one per machine. Port 0xCFC needs
// its enable bit (31); register bits 11:8 come from address bits 27:24 only
// while package 0's 0:18.3 register 0x8C has bit 14 set, and are ignored
// before. Physical reads of the memory-mapped configuration window
// (SimFirmwareConfig::configWindowBase, AMD parts) reach configuration space; any
// length inside one function's 4 KB, composed from its dwords.
class SimHardware : public HardwareBackend {
 public:
  SimHardware(const SimMachineConfig& config, const std::vector<SimLogicalProcessor>& cpus,
              const SimClock& clock);
  SimHardware(const SimHardware&) = delete;
  SimHardware& operator=(const SimHardware&) = delete;

  bool readMsr(int32_t cpu, uint32_t index, uint64_t* value) override;
  bool writeMsr(int32_t cpu, uint32_t index, uint64_t value) override;
  bool readPort(uint32_t port, uint32_t* value) override;
  bool writePort(uint32_t port, uint32_t value) override;
  bool readPhysical(uint64_t address, uint32_t length, uint8_t* out) override;
  bool writePhysicalDword(uint64_t address, uint32_t value) override;

  // Faults. A failing register fails reads and writes alike, on every
  // processor; a failing physical address fails every access touching its dword.
  void setMsrFailing(uint32_t index, bool failing);
  // Reads of the register fail while writes still reach it (a read that
  // failed on the way, a register the host lets write but not read).
  void setMsrReadFailing(uint32_t index, bool failing);
  void setPciFailing(int bus, int device, int function, uint32_t reg, bool failing);
  void setPortFailing(uint32_t port, bool failing);
  void setPhysicalFailing(uint64_t address, bool failing);
  // Another program's enabled selects on every general counter.
  void occupyCounters();
  void setHpetRunning(bool running);
  // The management unit's mailbox leaves every answer at 0.
  void setMailboxAnswering(bool answering);
  // New tables and timers (the BIOS setting limitCpuid applies at power-up only).
  void setFirmware(const SimFirmwareConfig& firmware);

  // Workload and truth; SimMachine documents them.
  void setLoad(int cpu, double load, double userShare);
  void setLoadAll(double load, double userShare);
  void setLoadSchedule(const std::optional<SimLoadSchedule>& schedule);
  ProcessorTimes times(int cpu);
  void setActivity(int cpu, const SimActivity& activity);
  void setActivityAll(const SimActivity& activity);
  SimActivity activity(int cpu) const;
  void setPower(int package, const std::optional<SimPowerDraw>& draw);
  void setTemperature(int package, int core, const std::optional<double>& celsius);
  double trueRate(int cpu, SimEvent event) const;
  double truePackageRate(int package, SimEvent event) const;
  double truePower(int package, SimPowerDomain domain) const;
  double trueTemperature(int package, int core) const;
  double trueClockMhz(int cpu) const;
  double energyJoules(int package, SimPowerDomain domain);
  double tscMhz() const;

  bool cpuidLimited(int cpu) const;

  // Everything counted since the machine was created, taken at one moment:
  // the events of one processor, the energy of each rail of its package in
  // nanojoules, and the machine time the totals are integrated to.
  struct Totals {
    std::array<double, kSimEventCount> events{};
    std::array<uint64_t, kSimPowerDomainCount> energyNj{};
    uint64_t nowNs = 0;
  };
  Totals totals(int cpu);

 private:
  // Locks, advances the workload to the machine clock and returns the time.
  uint64_t advanceLocked();
  // Configuration access with the mutex held.
  bool configReadLocked(int bus, int device, int function, uint32_t reg, uint32_t* value);
  bool configWriteLocked(int bus, int device, int function, uint32_t reg, uint32_t value);
  // Configuration register of an offset into the memory-mapped window.
  static void decodeWindow(uint64_t offset, int* bus, int* device, int* function, uint32_t* reg);
  // Decodes port 0xCF8's address; false when its enable bit is clear.
  bool decodeConfigAddress(int* bus, int* device, int* function, uint32_t* reg) const;
  // Reads length bytes of a window made of dword registers.
  bool readDwords(uint64_t address, uint32_t length, uint8_t* out,
                  const std::function<bool(uint64_t, uint32_t*)>& dword) const;
  bool physicalFailing(uint64_t address, uint32_t length) const;

  const SimClock& m_clock;  // thread-safe on its own
  const bool m_mmioConfig;  // the part has the memory-mapped configuration window
  const uint64_t m_windowBase;  // where it lies
  mutable std::mutex m_mutex;
  // Everything below is guarded by m_mutex and written by the methods above.
  SimWorkloadModel m_workload;
  SimMsrSpace m_msrs;
  SimSmu m_smu;
  SimPciSpace m_pci;
  SimFirmwareConfig m_firmwareConfig;
  std::unique_ptr<SimFirmware> m_firmware;
  std::unique_ptr<SimTimers> m_timers;
  uint32_t m_configAddress = 0;
  std::set<uint32_t> m_failingMsrs;
  std::set<uint32_t> m_readFailingMsrs;
  std::set<std::tuple<int, int, int, uint32_t>> m_failingPci;
  std::set<uint32_t> m_failingPorts;
  std::set<uint64_t> m_failingDwords;
};

}  // namespace tv2::sim
