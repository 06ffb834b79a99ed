#include "counters/EventTables.h"

#include <array>

#include "counters/MetricCodes.h"
#include "counters/PmuRegisters.h"
#include "cpu/ModelGroups.h"

namespace tv2 {
namespace {

using L = LogicalProcessorRecord;
constexpr int32_t kAny = EventRow::kAnyConfiguration;
constexpr uint32_t kOneDecimal = kShowOneDecimal;

constexpr uint32_t sel(int n) { return kMsrIntelPerfEvtSel0 + static_cast<uint32_t>(n); }
constexpr uint32_t pmc(int n) { return kMsrIntelPmc0 + static_cast<uint32_t>(n); }

// Nehalem and Westmere. The L3-miss event differs between the client and
// server models: 0xCB/10 on 1A, 25 and 2C, the last-level miss event 0x2E/41
// on 1E, 2E and 2F.
constexpr std::array<EventRow, 8> b133Rows(uint32_t l3MissWord) {
  return {{
      {0, sel(0), pmc(0), 0x4302CB, "L2 Hit", "%", 100, 0, 0, &L::l2Hits, false},
      {0, sel(1), pmc(1), 0x4308CB, "L2 Hit M", "%", 100, 0, 0, &L::l2HitsModified, false},
      {0, sel(2), pmc(2), l3MissWord, "L3 Misses", "%", 100, 0, 0, &L::l3Misses, false},
      {0, sel(3), pmc(3), 0x4304CB, "L3 Unshared Hit", "%", 100, 0, 0, &L::l3UnsharedHits, false},
      {1, sel(0), pmc(0), 0x4300C4, "Branches Retired", "", 100, 0, 0, &L::branchesRetired, false},
      {1, sel(1), pmc(1), 0x4300C5, "Branches Missed", "", 100, 0, 0, &L::branchesMissed, false},
      {1, sel(2), pmc(2), 0x1C301C2, "Stalled Cycles", "", 100, 0, kCodeThreadStalledCycles, &L::stalledCycles,
       false},
      {1, sel(3), pmc(3), 0x2C3003C, "Total Cycles", "", 100, 0, kCodeThreadTotalCycles, &L::totalCycles, false},
  }};
}

constexpr std::array<EventRow, 8> kB133ClientRows = b133Rows(0x4310CB);
constexpr std::array<EventRow, 8> kB133ServerRows = b133Rows(0x43412E);

// Atom: two general counters, three configurations.
constexpr EventRow kFsbRows[] = {
    {0, sel(0), pmc(0), 0x43412E, "L2 Misses", "", 100, 0, 0, &L::l2Misses, false},
    {0, sel(1), pmc(1), 0x434F2E, "L2 Requests", "", 100, 0, 0, &L::l2Requests, false},
    {1, sel(0), pmc(0), 0x4300C4, "Branches Retired", "", 100, 0, 0, &L::branchesRetired, false},
    {1, sel(1), pmc(1), 0x4300C5, "Branches Missed", "", 100, 0, 0, &L::branchesMissed, false},
    {2, sel(0), pmc(0), 0x1C301C2, "Stalled Cycles", "", 100, 0, kCodeThreadStalledCycles, &L::stalledCycles,
     false},
    {2, sel(1), pmc(1), 0x2C3003C, "Total Cycles", "", 100, 0, kCodeThreadTotalCycles, &L::totalCycles, false},
};

// Sandy Bridge to Haswell: the load events moved to 0xD1/0xD2.
constexpr EventRow kSnbRows[] = {
    {0, sel(0), pmc(0), 0x4302D1, "L2 Hit", "", 100, 0, 0, &L::l2Hits, false},
    {0, sel(1), pmc(1), 0x4304D2, "L2 Hit M", "", 100, 0, 0, &L::l2HitsModified, false},
    {0, sel(2), pmc(2), 0x43412E, "L3 Misses", "", 100, 0, 0, &L::l3Misses, false},
    {0, sel(3), pmc(3), 0x4308D2, "L3 Unshared Hit", "", 100, 0, 0, &L::l3UnsharedHits, false},
    {1, sel(0), pmc(0), 0x4300C4, "Branches Retired", "", 100, 0, 0, &L::branchesRetired, false},
    {1, sel(1), pmc(1), 0x4300C5, "Branches Missed", "", 100, 0, 0, &L::branchesMissed, false},
    {1, sel(2), pmc(2), 0x1C301C2, "Stalled Cycles", "", 100, 0, kCodeThreadStalledCycles, &L::stalledCycles,
     false},
    {1, sel(3), pmc(3), 0x2C3003C, "Total Cycles", "", 100, 0, kCodeThreadTotalCycles, &L::totalCycles, false},
};

// AMD family 15h (AMD_BD, AMD_TN, AMD_KV model 30h). Without the unit
// counter cycles in configuration 0 these processors have no IPC there.
constexpr EventRow kAmd15hRows[] = {
    {0, amdPerfCtl(0), amdPerfCtr(0), 0x43077D, "L2 Requests", "", 100, 0, 0, &L::l2Requests, false},
    {0, amdPerfCtl(1), amdPerfCtr(1), 0x43077F, "L2 Fill-Writeback", "", 100, 0, 0, &L::l2FillWriteback, false},
    {0, amdPerfCtl(2), amdPerfCtr(2), 0x43077E, "L2 Miss", "", 100, 0, 0, &L::l2Misses, false},
    {1, amdPerfCtl(0), amdPerfCtr(0), 0x430076, "CPU %d", "MHz", 7000, 0, kCodeThreadCoreCycles, &L::coreCycles,
     false},
    {1, amdPerfCtl(1), amdPerfCtr(1), 0x2C30076, "Total Cycles", "", 100, 0, kCodeThreadTotalCycles,
     &L::totalCycles, false},
    {1, amdPerfCtl(2), amdPerfCtr(2), 0x1C300C1, "Stalled Cycles", "", 100, 0, kCodeThreadStalledCycles,
     &L::stalledCycles, false},
    {kAny, amdPerfCtl(3), amdPerfCtr(3), 0x4300C0, "CPU %d", "MIPS", 10000, kOneDecimal, kCodeThreadInstructions,
     &L::instructions, false},
    {kAny, amdPerfCtl(4), amdPerfCtr(4), 0x4300C2, "Branches Retired", "", 100, 0, 0, &L::branchesRetired, true},
    {kAny, amdPerfCtl(5), amdPerfCtr(5), 0x4300C3, "Branches Missed", "", 100, 0, 0, &L::branchesMissed, true},
};

// AMD family 16h: its one configuration.
constexpr EventRow kAmd16hRows[] = {
    {0, amdPerfCtl(0), amdPerfCtr(0), 0x430076, "CPU %d", "MHz", 7000, 0, kCodeThreadCoreCycles, &L::coreCycles,
     false},
    {0, amdPerfCtl(1), amdPerfCtr(1), 0x2C30076, "Total Cycles", "", 100, 0, kCodeThreadTotalCycles,
     &L::totalCycles, false},
    {0, amdPerfCtl(2), amdPerfCtr(2), 0x1C300C1, "Stalled Cycles", "", 100, 0, kCodeThreadStalledCycles,
     &L::stalledCycles, false},
    {0, amdPerfCtl(3), amdPerfCtr(3), 0x4300C0, "CPU %d", "MIPS", 10000, kOneDecimal, kCodeThreadInstructions,
     &L::instructions, false},
    {0, amdPerfCtl(4), amdPerfCtr(4), 0x4300C2, "Branches Retired", "", 100, 0, 0, &L::branchesRetired, true},
    {0, amdPerfCtl(5), amdPerfCtr(5), 0x4300C3, "Branches Missed", "", 100, 0, 0, &L::branchesMissed, true},
};

// The model number (extended model and model) of a processor code.
int32_t modelOf(int32_t processorCode) { return ((processorCode >> 12) & 0xF0) | ((processorCode >> 4) & 0xF); }

}  // namespace

std::span<const EventRow> eventRowsFor(int32_t processorCode) {
  switch (classifyProcessor(processorCode)) {
    case ModelGroup::Intel_B133: {
      int32_t model = modelOf(processorCode);
      bool client = model == 0x1A || model == 0x25 || model == 0x2C;
      return client ? std::span<const EventRow>(kB133ClientRows) : std::span<const EventRow>(kB133ServerRows);
    }
    case ModelGroup::Intel_FSB: return kFsbRows;
    case ModelGroup::Intel_SNB: return kSnbRows;
    case ModelGroup::AMD_BD:
    case ModelGroup::AMD_TN: return kAmd15hRows;
    case ModelGroup::AMD_KV: return processorCode == kCodeAmdKabini ? std::span<const EventRow>(kAmd16hRows)
                                                                    : std::span<const EventRow>(kAmd15hRows);
    case ModelGroup::kUnlisted: break;
  }
  return {};
}

}  // namespace tv2
