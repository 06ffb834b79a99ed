#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "platform/PlatformTypes.h"
#include "platform/sim/SimActivity.h"
#include "platform/sim/SimLoadSchedule.h"
#include "platform/sim/SimLogicalProcessor.h"
#include "platform/sim/SimMachineConfig.h"

namespace tv2::sim {

// The workload of a machine and everything it produces, integrated over the
// machine clock: busy times, event counts per logical processor and mode,
// energy per package and rail, and the temperatures. Inputs are piecewise
// constant: the owner advances the model to the current time before every
// change, so each total is exact for any history of changes.
//
// Not thread-safe: SimHardware keeps it under its mutex.
class SimWorkloadModel {
 public:
  SimWorkloadModel(const SimMachineConfig& config, const std::vector<SimLogicalProcessor>& cpus);

  // Integrates every total up to machine time nowNs; earlier times do nothing.
  void advanceTo(uint64_t nowNs);

  // Inputs. Indexes out of range do nothing.
  // A load set by hand ends a schedule; the other processors keep the load
  // the schedule gave them last.
  void setLoad(int cpu, double load, double userShare);
  // From the time the totals are integrated to on, the loads follow the
  // schedule (the owner advances first); none ends it.
  void setSchedule(const std::optional<SimLoadSchedule>& schedule);
  void setActivity(int cpu, const SimActivity& activity);
  SimActivity activity(int cpu) const;
  // A fixed draw, or none to follow the load again.
  void setPower(int package, const std::optional<SimPowerDraw>& draw);
  // A fixed temperature of one core (by its core id) or, with core -1, of every
  // core of the package; none to follow the load again.
  void setTemperature(int package, int core, const std::optional<double>& celsius);

  // Totals since the machine was created.
  ProcessorTimes times(int cpu) const;
  double eventTotal(int cpu, SimEvent event, bool user, bool kernel) const;
  double packageEventTotal(int package, SimEvent event) const;  // all its processors
  double energyJoules(int package, SimPowerDomain domain) const;
  // The same total in whole nanojoules: what the energy registers count from.
  uint64_t energyNanojoules(int package, SimPowerDomain domain) const;

  // Values at the current time.
  double rate(int cpu, SimEvent event) const;             // per second, both modes
  double packageRate(int package, SimEvent event) const;  // all its processors
  double power(int package, SimPowerDomain domain) const;
  double coreTemperature(int package, int core) const;  // by core id; NaN when unknown
  double packageTemperature(int package) const;         // the hottest core
  double cpuTemperature(int cpu) const;                 // of the processor's core
  double clockMhz(int cpu) const;
  double baseMhz() const { return m_baseMhz; }
  double tscMhz() const { return m_baseMhz; }  // the time-stamp counter runs at the base clock

  // Whole events (or energy units) in a total. Totals are sums of products
  // with rounding in each; a tolerance far below one event keeps an exact
  // integer total from reading one short.
  static uint64_t wholeCount(double total);

  int cpuCount() const { return static_cast<int>(m_cpus.size()); }
  int packageCount() const { return static_cast<int>(m_packages.size()); }
  int packageOf(int cpu) const;  // -1 when there is no such processor
  bool hasL3() const { return m_hasL3; }

 private:
  using EventArray = std::array<double, kSimEventCount>;

  struct Cpu {
    int package = 0;
    int core = 0;  // index into m_cores
    double load = 0.0;
    double userShare = 0.75;
    SimActivity activity;
    uint64_t elapsedNs = 0;
    uint64_t busyNs = 0;
    uint64_t userNs = 0;
    EventArray user{};
    EventArray kernel{};
  };
  struct Core {
    int package = 0;
    int coreId = 0;
    std::vector<int> cpus;
    std::optional<double> fixedC;
  };
  // Energy of one rail, integrated exactly: the draw is constant between
  // changes of the inputs, so the total is the energy up to the start of the
  // current stretch plus that stretch's draw times its length, computed anew
  // from integers at every step. Summing a product per step instead let the
  // rounding of each step accumulate, so two reads a second apart at a fixed
  // draw could differ by one count more or less than the draw gives.
  struct Rail {
    uint64_t settledNj = 0;  // whole stretches before the current one
    uint64_t startNs = 0;    // machine time the current stretch began
    double watts = 0.0;      // its draw
    uint64_t totalNj = 0;    // settledNj + the current stretch up to m_lastNs
  };
  struct Package {
    std::vector<int> cpus;
    std::vector<int> cores;  // indexes into m_cores
    std::optional<SimPowerDraw> fixed;
    std::array<Rail, kSimPowerDomainCount> rails{};
  };

  // Integrates every total up to nowNs with the inputs as they are.
  void integrateTo(uint64_t nowNs);
  // Loads of the schedule's current step.
  void applySchedule();

  bool validCpu(int cpu) const { return cpu >= 0 && cpu < static_cast<int>(m_cpus.size()); }
  bool validPackage(int p) const { return p >= 0 && p < static_cast<int>(m_packages.size()); }
  // Events per second of busy time.
  EventArray busyRates(const Cpu& cpu) const;
  double meanLoad(const std::vector<int>& cpus) const;
  double temperatureOf(const Core& core) const;
  int coreIndex(int package, int coreId) const;  // -1 when unknown

  const SimPartConfig m_part;
  const bool m_hasL3;
  const double m_baseMhz;
  std::vector<Cpu> m_cpus;
  std::vector<Core> m_cores;
  std::vector<Package> m_packages;
  uint64_t m_lastNs = 0;  // machine time the totals are integrated to
  std::optional<SimLoadSchedule> m_schedule;
  uint64_t m_scheduleStartNs = 0;
  uint64_t m_scheduleStep = 0;  // the step whose loads are in m_cpus
};

}  // namespace tv2::sim
