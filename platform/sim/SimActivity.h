#pragma once

namespace tv2::sim {

// What the hardware of a logical processor counts. Every event is produced by
// the workload while the processor is busy and is split between user and kernel
// mode by the processor's user share.
enum class SimEvent : int {
  kUnhaltedCycles,   // core clock cycles while busy
  kReferenceCycles,  // time-stamp-counter rate cycles while busy
  kInstructions,     // retired instructions
  kUops,             // retired micro-operations
  kStalledCycles,    // unhalted cycles in which no micro-operation retires
  kRetiringCycles,   // unhalted cycles in which at least one retires
  kBranches,         // retired branch instructions
  kBranchMisses,     // retired mispredicted branches
  kL2Requests,
  kL2Hits,
  kL2Misses,         // = L3 requests on parts with an L3
  kL2FillWriteback,  // lines the L2 fills from or writes back to the system
  kL3Requests,
  kL3UnsharedHits,  // L3 hits on a line no other core holds
  kL3ModifiedHits,  // L3 hits served modified from another core's L2
  kL3Misses,
  kCount
};
constexpr int kSimEventCount = static_cast<int>(SimEvent::kCount);

// The behaviour of a busy logical processor. Rates and shares apply to its busy
// time only; an idle processor counts nothing but the time-stamp counter.
// Shares are clamped to 0..1 and rates to 0 and above when set; NaN counts as 0.
struct SimActivity {
  double clockMhz = 0.0;  // core clock while busy; 0 = the part's base clock
  double ipc = 1.5;       // instructions per unhalted cycle
  double uopsPerInstruction = 1.2;
  double stallShare = 0.3;  // share of unhalted cycles without a retired uop
  double branchesPerInstruction = 0.18;
  double branchMissShare = 0.04;  // of branches
  double l2RequestsPerInstruction = 0.05;
  double l2HitShare = 0.8;              // of L2 requests
  double l3HitShare = 0.6;              // of L3 requests (parts with an L3)
  double modifiedShare = 0.1;           // of L3 hits, served modified by another core
  double l2FillWritebackPerMiss = 0.5;  // AMD fill/writeback events per L2 miss
};

// Power rails of a package. kUncore is the rest of the package: package minus
// cores minus graphics. DRAM is outside the package.
enum class SimPowerDomain : int { kPackage, kCores, kGraphics, kDram, kUncore, kCount };
constexpr int kSimPowerDomainCount = static_cast<int>(SimPowerDomain::kCount);

// A fixed power draw for a package, in watts; the package draws cores + uncore
// + graphics. Negative values count as 0.
struct SimPowerDraw {
  double coresW = 0.0;
  double uncoreW = 0.0;
  double graphicsW = 0.0;
  double dramW = 0.0;
};

}  // namespace tv2::sim
