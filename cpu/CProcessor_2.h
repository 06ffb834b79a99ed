#pragma once

#include <cstdint>
#include <shared_mutex>
#include <string>
#include <vector>

#include "counters/model/CCounter.h"
#include "counters/model/CTList.h"
#include "cpu/CCacheLevel.h"
#include "cpu/CoreRecord.h"
#include "cpu/LogicalProcessorRecord.h"

namespace tv2 {

// One processor package: its logical processors and cores, caches, identity,
// clocks and monitoring details, and its counter lists.
//
// Threads: everything but the counters is written by discovery and the
// capability step on the user-interface thread before any sampler runs. The
// counter lists and metric slots of the package, its cores and its logical
// processors are replaced only by a counter rebuild, which holds countersLock
// exclusively; every sampler pass and the derived pass hold it shared for the
// whole pass, so no counter is freed while one of them reads it.
class CProcessor_2 {
 public:
  CProcessor_2() = default;
  virtual ~CProcessor_2();
  CProcessor_2(const CProcessor_2&) = delete;
  CProcessor_2& operator=(const CProcessor_2&) = delete;

  // Appends a cache level; the instance count is the number of distinct APIC
  // id prefixes once the sharing count is rounded up to a power of two.
  void AddCacheLevel(int32_t cacheLevel, int32_t cacheType, int32_t sharing, int32_t sizeKB);

  // Empties list (not the counters), then collects every counter whose
  // identity satisfies (identity & mask) == value: thread lists in thread
  // order, then core lists, then the package list. Returns the number found.
  // The position in `cores` of each logical processor, by its position in
  // `threads` (0 for a thread no core lists).
  std::vector<int32_t> coreOfEachThread() const;
  int32_t FindCounters(uint32_t mask, uint32_t value, CTList<CCounter>& list) const;

  // Deletes every counter of every list, nulls every slot, counterCount := 0.
  // The caller holds countersLock exclusively once samplers exist.
  void ClearCounters();

  // Forgets every reading and history point of every counter (the clear
  // command); the counters themselves stay. The caller holds countersLock
  // exclusively once samplers exist.
  void ClearHistories();

  std::string name;  // brand string, UTF-8
  int32_t processorCode = -1;
  int32_t packageId = -1;
  uint32_t maxStdLeaf = 0;
  uint32_t maxExtLeaf = 0;
  int32_t threadCount = -1;
  int32_t coreCount = -1;
  int32_t computeUnitCount = -1;
  int32_t affinityMask = 0;
  std::vector<LogicalProcessorRecord> threads;
  std::vector<CoreRecord> cores;
  CTList<CCacheLevel> caches;
  float baseRatio = -1.0f;
  float turboRatio = -1.0f;
  int32_t baseClock = -1;
  int32_t turboClock = -1;
  int32_t pmuVersion = 0;
  int32_t fixedCounterCount = 0;
  int32_t generalCounterCount = 0;

  // Counter state: a count kept by the event-counter set-up, the package's
  // own list, the running counter index, and the package-level metric slots.
  int32_t eventSetupCount = 0;
  CTList<CCounter> counters;
  int32_t counterCount = 0;
  CCounter* coreCyclesSummary = nullptr;
  CCounter* stallRatioSummary = nullptr;
  CCounter* mipsSummary = nullptr;
  CCounter* ipcSummary = nullptr;
  CCounter* cpiSummary = nullptr;
  CCounter* ipwSummary = nullptr;
  CCounter* usageSummary = nullptr;
  CCounter* l2HitRateSummary = nullptr;
  CCounter* l3HitRateSummary = nullptr;
  CCounter* l2RequestRateSummary = nullptr;
  CCounter* l3RequestRateSummary = nullptr;
  CCounter* branchHitRateSummary = nullptr;
  CCounter* branchInstructionRateSummary = nullptr;
  CCounter* temperatureSummary = nullptr;
  CCounter* packagePower = nullptr;
  CCounter* corePower = nullptr;
  CCounter* graphicsPower = nullptr;
  CCounter* uncorePower = nullptr;
  CCounter* dramPower = nullptr;

  int32_t tdp = 0;

  // True once the package's event counters are left alone for the rest of
  // the run: the user declined to take them over, they looked taken where
  // nobody could be asked, or their registers cannot be read. Every rebuild
  // then adds only power, temperature and derived metrics, and the exit does
  // not reset them. Written at start-up, read later, both on the
  // user-interface thread.
  bool countersWithheld = false;

  // True when the package's counters come from the kernel's interfaces
  // rather than the machine registers (a processor the register tables do
  // not list, on a system with a kernel counter service): its passes need
  // neither the driver lock nor a platform timer, and its registers are
  // never written. Set at start-up before any sampler exists, then only read.
  bool kernelCounters = false;

  // Guards the counter lists and slots above and those of threads and cores.
  mutable std::shared_mutex countersLock;

 private:
  void clearPackageSlots();
};

}  // namespace tv2
