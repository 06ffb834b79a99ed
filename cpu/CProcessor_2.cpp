#include "cpu/CProcessor_2.h"

#include <set>

namespace tv2 {

void LogicalProcessorRecord::clearSlots() {
  for (CCounter** slot : {&instructions, &coreCycles, &referenceCycles, &timeStamp, &stalledCycles,
                          &totalCycles, &stallRatio, &ipc, &cpi, &usage, &l3Misses, &l3Requests,
                          &l3UnsharedHits, &l2HitsModified, &l2Hits, &l2Misses, &l2Requests,
                          &l2FillWriteback, &idleTime, &kernelTime, &userTime, &branchesRetired,
                          &branchesMissed}) {
    *slot = nullptr;
  }
}

void CoreRecord::clearSlots() {
  for (CCounter** slot :
       {&l2HitRate, &l3HitRate, &l2RequestRate, &branchHitRate, &branchInstructionRate, &temperature}) {
    *slot = nullptr;
  }
}

CProcessor_2::~CProcessor_2() {
  ClearCounters();
  caches.DeleteAll();
}

void CProcessor_2::AddCacheLevel(int32_t cacheLevel, int32_t cacheType, int32_t sharing, int32_t sizeKB) {
  // Round the sharing count up to a power of two; caches shared by m
  // processors serve the APIC ids that agree above their low log2(m) bits.
  uint32_t m = 1;
  while (m < static_cast<uint32_t>(sharing > 0 ? sharing : 1) && m < 0x80000000u) m <<= 1;
  std::set<uint32_t> prefixes;
  for (const LogicalProcessorRecord& thread : threads) {
    prefixes.insert(static_cast<uint32_t>(thread.apicId) & ~(m - 1));
  }
  caches.Append(new CCacheLevel(static_cast<int32_t>(prefixes.size()), cacheLevel, cacheType, sizeKB));
}

std::vector<int32_t> CProcessor_2::coreOfEachThread() const {
  std::vector<int32_t> coreOf(threads.size(), 0);
  for (size_t c = 0; c < cores.size(); ++c) {
    for (const LogicalProcessorRecord* member : cores[c].threads) {
      auto offset = member - threads.data();
      if (offset >= 0 && static_cast<size_t>(offset) < coreOf.size()) {
        coreOf[static_cast<size_t>(offset)] = static_cast<int32_t>(c);
      }
    }
  }
  return coreOf;
}

int32_t CProcessor_2::FindCounters(uint32_t mask, uint32_t value, CTList<CCounter>& list) const {
  list.RemoveAll();
  auto collect = [&](const CTList<CCounter>& from) {
    for (CCounter* counter : from) {
      if ((counter->identity & mask) == value) list.Append(counter);
    }
  };
  for (const LogicalProcessorRecord& thread : threads) collect(thread.counters);
  for (const CoreRecord& core : cores) collect(core.counters);
  collect(counters);
  return list.count;
}

void CProcessor_2::ClearCounters() {
  for (LogicalProcessorRecord& thread : threads) {
    thread.counters.DeleteAll();
    thread.clearSlots();
  }
  for (CoreRecord& core : cores) {
    core.counters.DeleteAll();
    core.clearSlots();
  }
  counters.DeleteAll();
  clearPackageSlots();
  counterCount = 0;
}

void CProcessor_2::ClearHistories() {
  auto clear = [](const CTList<CCounter>& list) {
    for (CCounter* counter : list) counter->ClearReadings();
  };
  for (CoreRecord& core : cores) clear(core.counters);
  for (LogicalProcessorRecord& thread : threads) clear(thread.counters);
  clear(counters);
}

void CProcessor_2::clearPackageSlots() {
  for (CCounter** slot :
       {&coreCyclesSummary, &stallRatioSummary, &mipsSummary, &ipcSummary, &cpiSummary, &ipwSummary,
        &usageSummary, &l2HitRateSummary, &l3HitRateSummary, &l2RequestRateSummary,
        &l3RequestRateSummary, &branchHitRateSummary, &branchInstructionRateSummary,
        &temperatureSummary, &packagePower, &corePower, &graphicsPower, &uncorePower, &dramPower}) {
    *slot = nullptr;
  }
}

}  // namespace tv2
