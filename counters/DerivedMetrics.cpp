#include "counters/DerivedMetrics.h"

#include "counters/model/CCounter.h"
#include "cpu/CProcessor_2.h"

namespace tv2 {
namespace {

// The value of a counter reached through a slot; an absent counter is not a
// zero, so callers test the slot first.
float valueOf(const CCounter* counter) { return counter->value; }

// Stores a figure and records it unless it is negative.
void setFigure(CCounter* counter, float figure) {
  counter->value = figure;
  if (figure >= 0) counter->Push(figure);
}

float clampPercent(float figure) { return figure < 0 ? 0.0f : figure > 100.0f ? 100.0f : figure; }
double clampPercent(double figure) { return figure < 0 ? 0.0 : figure > 100.0 ? 100.0 : figure; }

// A figure is set only where its counter was built. The catalogue creates the
// derived counters from the first logical processor of a core or package
// while the sums below run over all of them, so a processor whose first
// thread could not be pinned would otherwise be written through a null slot.
void setIfPresent(CCounter* counter, float figure) {
  if (counter != nullptr) setFigure(counter, figure);
}

// Per core: cache and branch rates summed over the core's logical processors.
void computeCore(CoreRecord& core) {
  float l2Hit = 0;
  float l2Miss = 0;
  float l3Hit = 0;
  float l3Miss = 0;
  float branches = 0;
  float missed = 0;
  float instructions = 0;
  for (const LogicalProcessorRecord* thread : core.threads) {
    if (thread == nullptr) continue;
    const LogicalProcessorRecord& t = *thread;
    if (t.l2HitsModified && t.l3UnsharedHits && t.l3Misses && t.l2Hits) {
      float m = valueOf(t.l3Misses);
      float h = valueOf(t.l2HitsModified) + valueOf(t.l3UnsharedHits);
      l2Hit += valueOf(t.l2Hits);
      l2Miss += m + h;
      l3Hit += h;
      l3Miss += m;
    }
    if (t.l2Misses && t.l2Requests) {
      l2Hit += valueOf(t.l2Requests) - valueOf(t.l2Misses);
      if (t.l2FillWriteback) l2Hit += valueOf(t.l2FillWriteback);
      l2Miss += valueOf(t.l2Misses);
    }
    if (t.l2Hits && t.l2Requests) {
      l2Hit += valueOf(t.l2Hits);
      l2Miss += valueOf(t.l2Requests) - valueOf(t.l2Hits);
    }
    if (t.l3Misses && t.l3Requests) {
      l3Hit += valueOf(t.l3Requests) - valueOf(t.l3Misses);
      l3Miss += valueOf(t.l3Misses);
    }
    if (t.branchesRetired && t.branchesMissed) {
      branches += valueOf(t.branchesRetired);
      missed += valueOf(t.branchesMissed);
    }
    if (t.instructions) instructions += valueOf(t.instructions);
  }
  if (l2Hit > 0 && l2Miss > 0) {
    setIfPresent(core.l2HitRate, clampPercent(l2Hit * 100.0f / (l2Hit + l2Miss)));
    // Not limited: requests per 100 instructions may exceed 100 here.
    if (instructions > 0) setIfPresent(core.l2RequestRate, (l2Hit + l2Miss) * 100.0f / instructions);
  }
  if (l3Hit > 0 && l3Miss > 0) setIfPresent(core.l3HitRate, clampPercent(l3Hit * 100.0f / (l3Hit + l3Miss)));
  if (branches > 0 && missed > 0) {
    setIfPresent(core.branchHitRate, clampPercent((branches - missed) * 100.0f / branches));
    if (instructions > 0) setIfPresent(core.branchInstructionRate, branches * 100.0f / instructions);
  }
}

// Processor-wide sums of step 3.
struct PackageSums {
  double instructions = 0;
  double cycles = 0;
  double stalled = 0;
  double total = 0;
  double l2Hit = 0;
  double l2Miss = 0;
  double l3Hit = 0;
  double l3Miss = 0;
  double branches = 0;
  double missed = 0;
};

// Per logical processor: its own figures, and its share of the sums.
void computeThread(LogicalProcessorRecord& t, CCounter* usageSummary, PackageSums& sums) {
  if (t.instructions) sums.instructions += valueOf(t.instructions);
  if (t.coreCycles) sums.cycles += valueOf(t.coreCycles);
  if (t.instructions && t.coreCycles) {
    float instructions = valueOf(t.instructions);
    float cycles = valueOf(t.coreCycles);
    if (t.ipc && cycles > 0) setFigure(t.ipc, instructions / cycles);
    if (t.cpi && instructions > 0) setFigure(t.cpi, cycles / instructions);
  }
  if (t.stalledCycles && t.totalCycles) {
    float stalled = valueOf(t.stalledCycles);
    float total = valueOf(t.totalCycles);
    if (total > 0) setIfPresent(t.stallRatio, clampPercent(stalled * 100.0f / total));
    sums.stalled += stalled;
    sums.total += total;
  }
  if (t.usage && t.userTime && t.kernelTime && t.idleTime) {
    float busy = valueOf(t.userTime) + valueOf(t.kernelTime);
    float usage = clampPercent((busy - valueOf(t.idleTime)) * 100.0f / (busy + 0.001f));
    setFigure(t.usage, usage);
    if (usageSummary) usageSummary->value = usageSummary->value + usage;
  }
  if (t.l2HitsModified && t.l3UnsharedHits && t.l3Misses && t.l2Hits) {
    double m = valueOf(t.l3Misses);
    double u = valueOf(t.l2Hits);
    double h = static_cast<double>(valueOf(t.l2HitsModified)) + valueOf(t.l3UnsharedHits);
    if (u > 0 && m + h > 0) {
      sums.l2Hit += u;
      sums.l2Miss += m + h;
    }
    if (h > 0 && m > 0) {
      sums.l3Hit += h;
      sums.l3Miss += m;
    }
  }
  if (t.l2Misses && t.l2Requests) {
    sums.l2Hit += static_cast<double>(valueOf(t.l2Requests)) - valueOf(t.l2Misses);
    if (t.l2FillWriteback) sums.l2Hit += valueOf(t.l2FillWriteback);
    sums.l2Miss += valueOf(t.l2Misses);
  }
  if (t.l2Hits && t.l2Requests) {
    sums.l2Hit += valueOf(t.l2Hits);
    sums.l2Miss += static_cast<double>(valueOf(t.l2Requests)) - valueOf(t.l2Hits);
  }
  if (t.l3Requests && t.l3Misses) {
    double hits = static_cast<double>(valueOf(t.l3Requests)) - valueOf(t.l3Misses);
    double misses = valueOf(t.l3Misses);
    if (hits > 0 && misses > 0) {
      sums.l3Hit += hits;
      sums.l3Miss += misses;
    }
  }
  if (t.branchesRetired && t.branchesMissed) {
    sums.branches += valueOf(t.branchesRetired);
    sums.missed += valueOf(t.branchesMissed);
  }
}

// The power rails the derived pass computes from the others.
void computePower(CProcessor_2& p) {
  // AMD_TN: the package is the sum of the rails it has.
  if (p.packagePower && (p.packagePower->displayFlags & kDerivedFromPower)) {
    float sum = 0;
    for (const CCounter* rail : {p.corePower, p.graphicsPower, p.uncorePower, p.dramPower}) {
      if (rail && valueOf(rail) > 0) sum += valueOf(rail);
    }
    setFigure(p.packagePower, sum);
  }
  // Intel_SNB: uncore is the package less the cores and the graphics.
  if (p.uncorePower && (p.uncorePower->displayFlags & kDerivedFromPower)) {
    float uncore = 0;
    if (p.packagePower && valueOf(p.packagePower) > 0) uncore += valueOf(p.packagePower);
    if (p.corePower && valueOf(p.corePower) > 0) {
      uncore -= valueOf(p.corePower);
      if (p.graphicsPower && valueOf(p.graphicsPower) > 0) uncore -= valueOf(p.graphicsPower);
      // Rails read a moment apart can exceed the package for one pass: a
      // negative remainder is no figure, and the last one stays shown.
      if (uncore >= 0) setFigure(p.uncorePower, uncore);
    } else {
      p.uncorePower->value = uncore;
    }
  }
}

}  // namespace

bool ComputeDerivedMetrics(CProcessor_2& p) {
  if (p.ipcSummary) p.ipcSummary->value = 0.0f;
  if (p.usageSummary) p.usageSummary->value = 0.0f;

  for (CoreRecord& core : p.cores) computeCore(core);

  PackageSums sums;
  for (LogicalProcessorRecord& thread : p.threads) computeThread(thread, p.usageSummary, sums);

  if (p.coreCyclesSummary && !p.threads.empty() && p.threads.front().coreCycles) {
    setFigure(p.coreCyclesSummary, valueOf(p.threads.front().coreCycles));
  }
  if (sums.total > 0) {
    setIfPresent(p.stallRatioSummary, static_cast<float>(clampPercent(sums.stalled * 100.0 / sums.total)));
  }
  if (p.usageSummary && !p.threads.empty()) {
    float mean = valueOf(p.usageSummary) / static_cast<float>(p.threads.size());
    setFigure(p.usageSummary, clampPercent(mean));
  }
  double l2 = sums.l2Hit + sums.l2Miss;
  if (p.l2HitRateSummary && l2 > 0) {
    setFigure(p.l2HitRateSummary, static_cast<float>(clampPercent(sums.l2Hit * 100.0 / l2)));
  }
  double l3 = sums.l3Hit + sums.l3Miss;
  if (p.l3HitRateSummary && l3 > 0) {
    setFigure(p.l3HitRateSummary, static_cast<float>(clampPercent(sums.l3Hit * 100.0 / l3)));
  }
  if (sums.instructions > 0) {
    if (p.l2RequestRateSummary && l2 > 0) {
      setFigure(p.l2RequestRateSummary, static_cast<float>(clampPercent(l2 * 100.0 / sums.instructions)));
    }
    if (p.l3RequestRateSummary && l3 > 0) {
      setFigure(p.l3RequestRateSummary, static_cast<float>(clampPercent(l3 * 100.0 / sums.instructions)));
    }
    if (p.branchInstructionRateSummary && sums.branches > 0) {
      setFigure(p.branchInstructionRateSummary,
                static_cast<float>(clampPercent(sums.branches * 100.0 / sums.instructions)));
    }
  }
  if (p.ipcSummary && p.cpiSummary && sums.cycles > 0) {
    auto ipc = static_cast<float>(sums.instructions / sums.cycles);
    setFigure(p.ipcSummary, ipc);
    if (ipc > 0) setFigure(p.cpiSummary, 1.0f / ipc);
  }
  if (p.branchHitRateSummary && sums.branches > 0) {
    setFigure(p.branchHitRateSummary,
              static_cast<float>(clampPercent((sums.branches - sums.missed) * 100.0 / sums.branches)));
  }
  if (p.mipsSummary) setFigure(p.mipsSummary, static_cast<float>(sums.instructions / 1000.0));
  if (sums.instructions > 0 && p.ipwSummary) {
    // Instructions per joule of the cores where their rail is known.
    CCounter* power = p.corePower ? p.corePower : p.packagePower;
    if (power && valueOf(power) > 0) setFigure(p.ipwSummary, static_cast<float>(sums.instructions / valueOf(power)));
  }
  computePower(p);
  return true;
}

}  // namespace tv2
