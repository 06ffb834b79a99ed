#include "platform/sim/SimWorkloadModel.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace tv2::sim {

namespace {

constexpr uint64_t kNsPerTimeUnit = 100;
constexpr double kNsPerSecond = 1e9;
constexpr double kDefaultMhz = 2000.0;  // a part that names no clock at all

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

double nonNegative(double value) {
  if (std::isnan(value) || value < 0.0) {
    return 0.0;
  }
  return std::min(value, 1e12);  // keeps products of rates finite
}

SimActivity sanitized(SimActivity a) {
  a.clockMhz = nonNegative(a.clockMhz);
  a.ipc = nonNegative(a.ipc);
  a.uopsPerInstruction = nonNegative(a.uopsPerInstruction);
  a.stallShare = unitInterval(a.stallShare);
  a.branchesPerInstruction = nonNegative(a.branchesPerInstruction);
  a.branchMissShare = unitInterval(a.branchMissShare);
  a.l2RequestsPerInstruction = nonNegative(a.l2RequestsPerInstruction);
  a.l2HitShare = unitInterval(a.l2HitShare);
  a.l3HitShare = unitInterval(a.l3HitShare);
  a.modifiedShare = unitInterval(a.modifiedShare);
  a.l2FillWritebackPerMiss = nonNegative(a.l2FillWritebackPerMiss);
  return a;
}

bool modelHasL3(const SimProcessorModel& model) {
  return std::any_of(model.caches.begin(), model.caches.end(),
                     [](const SimCacheDesc& c) { return c.level == 3; });
}

double baseClockOf(const SimPartConfig& part) {
  const bool amd = part.kind == SimPartKind::kAmdBulldozer ||
                   part.kind == SimPartKind::kAmdTrinity || part.kind == SimPartKind::kAmdKaveri;
  if (amd) {
    const size_t p0 = static_cast<size_t>(std::max(0, part.boostStates));
    if (p0 < part.pStateMhz.size() && part.pStateMhz[p0] > 0) {
      return part.pStateMhz[p0];
    }
  } else if (part.baseRatio > 0 && part.busMhz > 0.0) {
    return part.baseRatio * part.busMhz;
  }
  return kDefaultMhz;
}

size_t at(SimEvent e) { return static_cast<size_t>(e); }

// watts × ns in whole nanojoules, rounded to nearest. Extended precision keeps
// the product of any realistic draw and stretch exact to well below 1 nJ.
uint64_t nanojoules(double watts, uint64_t ns) {
  const long double product = static_cast<long double>(watts) * static_cast<long double>(ns);
  if (!(product > 0.0L)) {
    return 0;
  }
  if (product >= 1.8e19L) {
    return UINT64_MAX;
  }
  return static_cast<uint64_t>(product + 0.5L);
}

uint64_t saturatingSum(uint64_t a, uint64_t b) { return a > UINT64_MAX - b ? UINT64_MAX : a + b; }

}  // namespace

SimWorkloadModel::SimWorkloadModel(const SimMachineConfig& config,
                                   const std::vector<SimLogicalProcessor>& cpus)
    : m_part(config.model.part),
      m_hasL3(modelHasL3(config.model)),
      m_baseMhz(baseClockOf(config.model.part)) {
  m_cpus.resize(cpus.size());
  m_packages.resize(static_cast<size_t>(std::max(1, config.packages)));
  for (size_t i = 0; i < cpus.size(); ++i) {
    const int package = std::clamp(cpus[i].package, 0, packageCount() - 1);
    int core = coreIndex(package, cpus[i].core);
    if (core < 0) {
      core = static_cast<int>(m_cores.size());
      m_cores.push_back(Core{package, cpus[i].core, {}, std::nullopt});
      m_packages[static_cast<size_t>(package)].cores.push_back(core);
    }
    m_cores[static_cast<size_t>(core)].cpus.push_back(static_cast<int>(i));
    m_packages[static_cast<size_t>(package)].cpus.push_back(static_cast<int>(i));
    m_cpus[i].package = package;
    m_cpus[i].core = core;
    // A hybrid part's efficiency cores run at their own clock until told otherwise.
    if (cpus[i].efficiency) {
      m_cpus[i].activity.clockMhz = nonNegative(config.model.efficiencyClockMhz);
    }
  }
}

uint64_t SimWorkloadModel::wholeCount(double total) {
  if (!(total > 0.0)) {
    return 0;
  }
  if (total >= 1.8e19) {
    return UINT64_MAX;  // absurd activity figures: saturate rather than overflow
  }
  const double tolerance = std::max(1e-6, total * 1e-12);
  return static_cast<uint64_t>(std::floor(total + tolerance));
}

void SimWorkloadModel::advanceTo(uint64_t nowNs) {
  if (nowNs <= m_lastNs) {
    return;
  }
  // A drifting schedule changes the loads at each step's start: the totals
  // are integrated step by step, so they stay exact however seldom anyone
  // reads them.
  while (m_schedule && m_schedule->drifting()) {
    const uint64_t nextStepNs = m_scheduleStartNs + (m_scheduleStep + 1) * SimLoadSchedule::kStepNs;
    if (nextStepNs > nowNs) {
      break;
    }
    integrateTo(nextStepNs);
    ++m_scheduleStep;
    applySchedule();
  }
  integrateTo(nowNs);
}

void SimWorkloadModel::integrateTo(uint64_t nowNs) {
  if (nowNs <= m_lastNs) {
    return;
  }
  const uint64_t elapsed = nowNs - m_lastNs;
  const double seconds = static_cast<double>(elapsed) / kNsPerSecond;
  for (Cpu& cpu : m_cpus) {
    // Rounded per step; busy never exceeds the elapsed time, user never the
    // busy time, so idle and kernel stay non-negative and every total grows.
    const uint64_t busy = scaled(elapsed, cpu.load);
    const uint64_t user = scaled(busy, cpu.userShare);
    cpu.elapsedNs += elapsed;
    cpu.busyNs += busy;
    cpu.userNs += user;
    const EventArray rates = busyRates(cpu);
    const double busySeconds = seconds * cpu.load;
    for (size_t e = 0; e < rates.size(); ++e) {
      const double count = rates[e] * busySeconds;
      cpu.user[e] += count * cpu.userShare;
      cpu.kernel[e] += count * (1.0 - cpu.userShare);
    }
  }
  for (size_t p = 0; p < m_packages.size(); ++p) {
    for (int d = 0; d < kSimPowerDomainCount; ++d) {
      Rail& rail = m_packages[p].rails[static_cast<size_t>(d)];
      // The inputs now in force have held since m_lastNs (every change is
      // preceded by an advance), so a new draw starts a stretch there.
      const double watts = power(static_cast<int>(p), static_cast<SimPowerDomain>(d));
      if (watts != rail.watts) {
        rail.settledNj = rail.totalNj;
        rail.startNs = m_lastNs;
        rail.watts = watts;
      }
      rail.totalNj = saturatingSum(rail.settledNj, nanojoules(rail.watts, nowNs - rail.startNs));
    }
  }
  m_lastNs = nowNs;
}

void SimWorkloadModel::setLoad(int cpu, double load, double userShare) {
  if (!validCpu(cpu)) {
    return;
  }
  m_schedule.reset();
  m_cpus[static_cast<size_t>(cpu)].load = unitInterval(load);
  m_cpus[static_cast<size_t>(cpu)].userShare = unitInterval(userShare);
}

void SimWorkloadModel::setSchedule(const std::optional<SimLoadSchedule>& schedule) {
  m_schedule = schedule;
  m_scheduleStartNs = m_lastNs;
  m_scheduleStep = 0;
  applySchedule();
}

void SimWorkloadModel::applySchedule() {
  if (!m_schedule) {
    return;
  }
  for (size_t cpu = 0; cpu < m_cpus.size(); ++cpu) {
    m_cpus[cpu].load = unitInterval(m_schedule->loadAt(static_cast<int>(cpu), m_scheduleStep));
  }
}

void SimWorkloadModel::setActivity(int cpu, const SimActivity& activity) {
  if (validCpu(cpu)) {
    m_cpus[static_cast<size_t>(cpu)].activity = sanitized(activity);
  }
}

SimActivity SimWorkloadModel::activity(int cpu) const {
  return validCpu(cpu) ? m_cpus[static_cast<size_t>(cpu)].activity : SimActivity{};
}

void SimWorkloadModel::setPower(int package, const std::optional<SimPowerDraw>& draw) {
  if (!validPackage(package)) {
    return;
  }
  std::optional<SimPowerDraw> fixed = draw;
  if (fixed) {
    fixed->coresW = nonNegative(fixed->coresW);
    fixed->uncoreW = nonNegative(fixed->uncoreW);
    fixed->graphicsW = nonNegative(fixed->graphicsW);
    fixed->dramW = nonNegative(fixed->dramW);
  }
  m_packages[static_cast<size_t>(package)].fixed = fixed;
}

void SimWorkloadModel::setTemperature(int package, int core, const std::optional<double>& celsius) {
  if (!validPackage(package) || (celsius && std::isnan(*celsius))) {
    return;
  }
  for (int index : m_packages[static_cast<size_t>(package)].cores) {
    Core& c = m_cores[static_cast<size_t>(index)];
    if (core < 0 || c.coreId == core) {
      c.fixedC = celsius;
    }
  }
}

ProcessorTimes SimWorkloadModel::times(int cpu) const {
  if (!validCpu(cpu)) {
    return {};
  }
  const Cpu& c = m_cpus[static_cast<size_t>(cpu)];
  ProcessorTimes t;
  t.idle = static_cast<int64_t>((c.elapsedNs - c.busyNs) / kNsPerTimeUnit);
  t.kernel = static_cast<int64_t>((c.elapsedNs - c.userNs) / kNsPerTimeUnit);
  t.user = static_cast<int64_t>(c.userNs / kNsPerTimeUnit);
  return t;
}

double SimWorkloadModel::eventTotal(int cpu, SimEvent event, bool user, bool kernel) const {
  if (!validCpu(cpu) || event == SimEvent::kCount) {
    return 0.0;
  }
  const Cpu& c = m_cpus[static_cast<size_t>(cpu)];
  return (user ? c.user[at(event)] : 0.0) + (kernel ? c.kernel[at(event)] : 0.0);
}

double SimWorkloadModel::packageEventTotal(int package, SimEvent event) const {
  if (!validPackage(package)) {
    return 0.0;
  }
  double sum = 0.0;
  for (int cpu : m_packages[static_cast<size_t>(package)].cpus) {
    sum += eventTotal(cpu, event, true, true);
  }
  return sum;
}

double SimWorkloadModel::energyJoules(int package, SimPowerDomain domain) const {
  if (!validPackage(package) || domain == SimPowerDomain::kCount) {
    return 0.0;
  }
  return static_cast<double>(energyNanojoules(package, domain)) / kNsPerSecond;
}

uint64_t SimWorkloadModel::energyNanojoules(int package, SimPowerDomain domain) const {
  if (!validPackage(package) || domain == SimPowerDomain::kCount) {
    return 0;
  }
  return m_packages[static_cast<size_t>(package)].rails[static_cast<size_t>(domain)].totalNj;
}

double SimWorkloadModel::rate(int cpu, SimEvent event) const {
  if (!validCpu(cpu) || event == SimEvent::kCount) {
    return 0.0;
  }
  const Cpu& c = m_cpus[static_cast<size_t>(cpu)];
  return busyRates(c)[at(event)] * c.load;
}

double SimWorkloadModel::packageRate(int package, SimEvent event) const {
  if (!validPackage(package)) {
    return 0.0;
  }
  double sum = 0.0;
  for (int cpu : m_packages[static_cast<size_t>(package)].cpus) {
    sum += rate(cpu, event);
  }
  return sum;
}

double SimWorkloadModel::power(int package, SimPowerDomain domain) const {
  if (!validPackage(package)) {
    return 0.0;
  }
  const Package& p = m_packages[static_cast<size_t>(package)];
  SimPowerDraw draw;
  if (p.fixed) {
    draw = *p.fixed;
  } else {
    const SimPowerFigures& f = m_part.power;
    const double load = meanLoad(p.cpus);
    draw.coresW = f.coresIdleW + (f.coresFullW - f.coresIdleW) * load;
    draw.uncoreW = f.uncoreW;
    draw.graphicsW = f.graphicsW;
    draw.dramW = f.dramIdleW + (f.dramFullW - f.dramIdleW) * load;
  }
  switch (domain) {
    case SimPowerDomain::kPackage:
      return draw.coresW + draw.uncoreW + draw.graphicsW;
    case SimPowerDomain::kCores:
      return draw.coresW;
    case SimPowerDomain::kGraphics:
      return draw.graphicsW;
    case SimPowerDomain::kDram:
      return draw.dramW;
    case SimPowerDomain::kUncore:
      return draw.uncoreW;
    case SimPowerDomain::kCount:
      break;
  }
  return 0.0;
}

double SimWorkloadModel::coreTemperature(int package, int core) const {
  const int index = coreIndex(package, core);
  if (index < 0) {
    return std::numeric_limits<double>::quiet_NaN();
  }
  return temperatureOf(m_cores[static_cast<size_t>(index)]);
}

double SimWorkloadModel::temperatureOf(const Core& core) const {
  if (core.fixedC) {
    return *core.fixedC;
  }
  const SimPowerFigures& f = m_part.power;
  return f.idleC + (f.fullC - f.idleC) * meanLoad(core.cpus);
}

double SimWorkloadModel::packageTemperature(int package) const {
  if (!validPackage(package)) {
    return std::numeric_limits<double>::quiet_NaN();
  }
  double hottest = -std::numeric_limits<double>::infinity();
  for (int index : m_packages[static_cast<size_t>(package)].cores) {
    hottest = std::max(hottest, temperatureOf(m_cores[static_cast<size_t>(index)]));
  }
  return hottest;
}

double SimWorkloadModel::cpuTemperature(int cpu) const {
  if (!validCpu(cpu)) {
    return std::numeric_limits<double>::quiet_NaN();
  }
  return temperatureOf(m_cores[static_cast<size_t>(m_cpus[static_cast<size_t>(cpu)].core)]);
}

double SimWorkloadModel::clockMhz(int cpu) const {
  if (!validCpu(cpu)) {
    return 0.0;
  }
  const double set = m_cpus[static_cast<size_t>(cpu)].activity.clockMhz;
  return set > 0.0 ? set : m_baseMhz;
}

int SimWorkloadModel::packageOf(int cpu) const {
  return validCpu(cpu) ? m_cpus[static_cast<size_t>(cpu)].package : -1;
}

SimWorkloadModel::EventArray SimWorkloadModel::busyRates(const Cpu& cpu) const {
  const SimActivity& a = cpu.activity;
  EventArray r{};
  const double cycles = (a.clockMhz > 0.0 ? a.clockMhz : m_baseMhz) * 1e6;
  const double instructions = cycles * a.ipc;
  const double l2Requests = instructions * a.l2RequestsPerInstruction;
  const double l2Misses = l2Requests * (1.0 - a.l2HitShare);
  r[at(SimEvent::kUnhaltedCycles)] = cycles;
  r[at(SimEvent::kReferenceCycles)] = m_baseMhz * 1e6;
  r[at(SimEvent::kInstructions)] = instructions;
  r[at(SimEvent::kUops)] = instructions * a.uopsPerInstruction;
  r[at(SimEvent::kStalledCycles)] = cycles * a.stallShare;
  r[at(SimEvent::kRetiringCycles)] = cycles * (1.0 - a.stallShare);
  r[at(SimEvent::kBranches)] = instructions * a.branchesPerInstruction;
  r[at(SimEvent::kBranchMisses)] = instructions * a.branchesPerInstruction * a.branchMissShare;
  r[at(SimEvent::kL2Requests)] = l2Requests;
  r[at(SimEvent::kL2Hits)] = l2Requests - l2Misses;
  r[at(SimEvent::kL2Misses)] = l2Misses;
  r[at(SimEvent::kL2FillWriteback)] = l2Misses * a.l2FillWritebackPerMiss;
  if (m_hasL3) {
    // Every L2 miss goes on to the L3.
    const double l3Hits = l2Misses * a.l3HitShare;
    r[at(SimEvent::kL3Requests)] = l2Misses;
    r[at(SimEvent::kL3ModifiedHits)] = l3Hits * a.modifiedShare;
    r[at(SimEvent::kL3UnsharedHits)] = l3Hits * (1.0 - a.modifiedShare);
    r[at(SimEvent::kL3Misses)] = l2Misses - l3Hits;
  }
  return r;
}

double SimWorkloadModel::meanLoad(const std::vector<int>& cpus) const {
  if (cpus.empty()) {
    return 0.0;
  }
  double sum = 0.0;
  for (int cpu : cpus) {
    sum += m_cpus[static_cast<size_t>(cpu)].load;
  }
  return sum / static_cast<double>(cpus.size());
}

int SimWorkloadModel::coreIndex(int package, int coreId) const {
  for (size_t i = 0; i < m_cores.size(); ++i) {
    if (m_cores[i].package == package && m_cores[i].coreId == coreId) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

}  // namespace tv2::sim
