#include "cpu/ProcessorDiscovery.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "cpu/ProcessorPin.h"
#include "cpu/VendorCodes.h"
#include "platform/ProcessorService.h"

namespace tv2 {
namespace {

constexpr int kMaxPackages = 32;
// A cache leaf lists a handful of levels; a processor (or a faulty model) that
// never reports the terminating type 0 must not keep discovery looping.
constexpr uint32_t kMaxCacheSubleaves = 32;

// Pinning as discovery does it: the previous affinity is not restored after
// each pin; the affinity saved at the start is put back at the end.
class Pinner {
 public:
  Pinner(ProcessorService& service, bool groupMode) : m_service(service), m_groupMode(groupMode) {}

  bool pin(int32_t group, int32_t index) {
    return ProcessorPin::pinCallingThread(m_service, m_groupMode, group, index);
  }

  void save() {
    if (m_groupMode) {
      m_haveSaved = m_service.getThreadGroupAffinity(&m_savedGroup);
    } else {
      uint64_t systemMask = 0;
      m_haveSaved = m_service.getProcessAffinityMask(&m_savedProcessMask, &systemMask);
    }
  }

  // Puts back the affinity found at the start. Without groups the process
  // mask saved at the start is restored rather than the whole system mask, so
  // a process started on a subset of processors stays on that subset.
  void restore() {
    if (!m_haveSaved) return;
    if (m_groupMode) {
      m_service.setThreadGroupAffinity(m_savedGroup);
    } else {
      m_service.setProcessAffinityMask(m_savedProcessMask);
    }
  }

 private:
  ProcessorService& m_service;
  bool m_groupMode;
  bool m_haveSaved = false;
  GroupAffinity m_savedGroup;
  uint64_t m_savedProcessMask = 0;
};

void readCacheLeaf(ProcessorService& service, uint32_t leaf, CProcessor_2& package) {
  for (uint32_t subleaf = 0; subleaf < kMaxCacheSubleaves; ++subleaf) {
    CpuidRegs r = service.cpuid(leaf, subleaf);
    int32_t type = static_cast<int32_t>(r.eax & 0x1F);
    if (type == 0) break;
    int32_t level = static_cast<int32_t>((r.eax >> 5) & 0x7);
    int32_t sharing = static_cast<int32_t>((r.eax >> 14) & 0xFFF) + 1;
    int64_t ways = ((r.ebx >> 22) & 0x3FF) + 1;
    int64_t partitions = ((r.ebx >> 12) & 0x3FF) + 1;
    int64_t lineSize = (r.ebx & 0xFFF) + 1;
    int64_t sets = int64_t{r.ecx} + 1;
    // Computed wide so that an implausible descriptor cannot overflow.
    int64_t sizeKB = ways * partitions * lineSize * sets / 1024;
    package.AddCacheLevel(level, type, sharing, static_cast<int32_t>(std::min<int64_t>(sizeKB, INT32_MAX)));
  }
}

// The brand string of leaves 0x80000002-4, leading spaces skipped, at most 64
// characters, converted to UTF-8 (bytes above 0x7F read as Latin-1).
std::string readBrand(ProcessorService& service) {
  char raw[49] = {};
  for (uint32_t i = 0; i < 3; ++i) {
    CpuidRegs r = service.cpuid(0x80000002 + i, 0);
    std::memcpy(raw + 16 * i + 0, &r.eax, 4);
    std::memcpy(raw + 16 * i + 4, &r.ebx, 4);
    std::memcpy(raw + 16 * i + 8, &r.ecx, 4);
    std::memcpy(raw + 16 * i + 12, &r.edx, 4);
  }
  const char* start = raw;
  while (*start == ' ') ++start;
  std::string name;
  int characters = 0;
  for (const char* p = start; *p != '\0' && characters < 64; ++p, ++characters) {
    auto byte = static_cast<unsigned char>(*p);
    if (byte < 0x80) {
      name.push_back(static_cast<char>(byte));
    } else {
      name.push_back(static_cast<char>(0xC0 | (byte >> 6)));
      name.push_back(static_cast<char>(0x80 | (byte & 0x3F)));
    }
  }
  return name;
}

void readIdentity(ProcessorService& service, int32_t vendor, CProcessor_2& package) {
  CpuidRegs leaf1 = service.cpuid(1, 0);
  package.processorCode = vendor + static_cast<int32_t>(leaf1.eax & 0xFFFFFFF0u);
  bool brandVendor = vendor == VENDOR_INTEL || vendor == VENDOR_AMD || vendor == VENDOR_CENTAUR ||
                     vendor == VENDOR_TRANSMETA;
  if (brandVendor && package.maxExtLeaf >= 0x80000004) package.name = readBrand(service);
  if (vendor == VENDOR_INTEL) {
    if (package.maxStdLeaf >= 4) readCacheLeaf(service, 4, package);
    if (package.maxStdLeaf >= 10) {
      CpuidRegs pmu = service.cpuid(0xA, 0);
      package.pmuVersion = static_cast<int32_t>(pmu.eax & 0xFF);
      package.generalCounterCount = static_cast<int32_t>((pmu.eax >> 8) & 0xFF);
      package.fixedCounterCount = static_cast<int32_t>(pmu.edx & 0x1F);
    }
  } else if (vendor == VENDOR_AMD) {
    if (package.maxExtLeaf >= 0x8000001D) readCacheLeaf(service, 0x8000001D, package);
    package.generalCounterCount = 4;
    if (package.maxExtLeaf >= 0x80000001 && (service.cpuid(0x80000001, 0).ecx & (1u << 23))) {
      package.generalCounterCount = 6;
    }
  }
}

void setupGroups(ProcessorService& service, ProcessorGroups& groups) {
  groups = ProcessorGroups{};
  int32_t systemCount = service.systemProcessorCount();
  groups.logicalProcessorCount = systemCount;
  if (service.hasGroupFunctions()) {
    groups.groupCount = std::clamp(service.activeGroupCount(), 0, kMaxGroups);
    groups.groupMode = groups.groupCount > 0;
  }
  if (groups.groupMode) {
    groups.logicalProcessorCount = 0;
    for (int g = 0; g < groups.groupCount; ++g) {
      groups.groups[g].count = std::clamp(service.activeProcessorCount(g), 0, kMaxProcessorsPerGroup);
      groups.logicalProcessorCount += groups.groups[g].count;
    }
    return;
  }
  groups.groupCount = 1;
  groups.groups[0].count = std::clamp(systemCount, 0, kMaxProcessorsPerGroup);
}

void computeIdentifiers(LogicalProcessorRecord& r) {
  if (r.apicId == -1) return;
  uint32_t logical = static_cast<uint32_t>(std::max(r.logicalPerPackage, 1));
  uint32_t cores = static_cast<uint32_t>(std::max(r.coresPerPackage, 1));
  int p = bitsFor(logical);
  int t = bitsFor(logical / cores);
  uint32_t apic = static_cast<uint32_t>(r.apicId) & 0xFF;
  uint32_t packageMask = ((1u << p) - 1) & 0xFF;
  uint32_t threadMask = ((1u << t) - 1) & 0xFF;
  r.packageId = static_cast<int32_t>(apic >> p);
  r.coreId = static_cast<int32_t>((apic & packageMask) >> t);
  r.threadId = static_cast<int32_t>(apic & packageMask & threadMask);
}

void buildPackage(CProcessor_2& package, std::vector<LogicalProcessorRecord>& records,
                  int32_t coresPerComputeUnit) {
  for (LogicalProcessorRecord& r : records) {
    if (r.packageId != package.packageId) continue;
    package.threads.push_back(std::move(r));
    r.packageId = -2;  // moved into a package
  }
  package.threadCount = static_cast<int32_t>(package.threads.size());
  package.coreCount = static_cast<int32_t>(
      std::count_if(package.threads.begin(), package.threads.end(),
                    [](const LogicalProcessorRecord& t) { return t.threadId == 0; }));
  if (coresPerComputeUnit > 1) package.computeUnitCount = package.coreCount / coresPerComputeUnit;
  package.affinityMask = 0;
  for (LogicalProcessorRecord& thread : package.threads) {
    package.affinityMask |= static_cast<int32_t>(1u << (thread.index & 31));
    auto core = std::find_if(package.cores.begin(), package.cores.end(),
                             [&](const CoreRecord& c) { return c.coreId == thread.coreId; });
    if (core == package.cores.end()) {
      package.cores.emplace_back();
      core = package.cores.end() - 1;
      core->coreId = thread.coreId;
      core->group = thread.group;
    }
    core->threadCount++;
    core->threads.push_back(&thread);
    core->affinityMask |= static_cast<int32_t>(1u << (thread.index & 31));
  }
  package.ClearCounters();
}

}  // namespace

int bitsFor(uint32_t n) {
  int p = 0;
  while (p < 32 && (uint64_t{1} << p) < n) ++p;
  return p;
}

void DetectProcessors(ProcessorService& service, CTList<CProcessor_2>& processors,
                      ProcessorGroups& groups) {
  setupGroups(service, groups);
  std::vector<LogicalProcessorRecord> records;
  records.reserve(static_cast<size_t>(std::max(groups.logicalProcessorCount, 0)));

  Pinner pinner(service, groups.groupMode);
  pinner.save();

  // Vendor, asked on the first processor.
  int32_t vendor = VENDOR_UNKNOWN;
  if (pinner.pin(0, 0)) {
    CpuidRegs leaf0 = service.cpuid(0, 0);
    char name[13] = {};
    std::memcpy(name + 0, &leaf0.ebx, 4);
    std::memcpy(name + 4, &leaf0.edx, 4);
    std::memcpy(name + 8, &leaf0.ecx, 4);
    vendor = vendorCodeFromString(name);
  }

  uint32_t maxStdLeaf = 0;
  uint32_t maxExtLeaf = 0;
  for (int32_t g = 0; g < groups.groupCount; ++g) {
    GroupEntry& entry = groups.groups[g];
    int32_t pinnedCount = 0;
    for (int32_t i = 0; i < entry.count; ++i) {
      if (!pinner.pin(g, i)) continue;
      LogicalProcessorRecord& r = records.emplace_back();
      r.group = g;
      r.index = i;
      ++pinnedCount;
      entry.mask |= uint64_t{1} << i;
      maxStdLeaf = service.cpuid(0, 0).eax;
      maxExtLeaf = service.cpuid(0x80000000, 0).eax;
      CpuidRegs leaf1 = service.cpuid(1, 0);
      r.apicId = static_cast<int32_t>(leaf1.ebx >> 24);
      if (leaf1.edx & (1u << 28)) {
        r.logicalPerPackage = r.coresPerPackage = static_cast<int32_t>((leaf1.ebx >> 16) & 0xFF);
      }
      if (vendor == VENDOR_INTEL && maxStdLeaf >= 4) {
        r.coresPerPackage = static_cast<int32_t>(service.cpuid(4, 0).eax >> 26) + 1;
      }
      if (vendor == VENDOR_AMD && maxExtLeaf >= 0x80000008) {
        r.coresPerPackage = static_cast<int32_t>(service.cpuid(0x80000008, 0).ecx & 0xFF) + 1;
        if (maxExtLeaf >= 0x8000001E) {
          uint32_t ebx = service.cpuid(0x8000001E, 0).ebx;
          uint32_t family = (leaf1.eax >> 8) & 0xF;
          if (family == 0xF) family += (leaf1.eax >> 20) & 0xFF;
          if (family >= 0x17) {
            // Zen: 0x80000008 counts logical processors and 0x8000001E
            // gives the threads per core; there are no compute units.
            int32_t threadsPerCore = static_cast<int32_t>((ebx >> 8) & 0xFF) + 1;
            r.coresPerPackage = std::max(1, r.coresPerPackage / threadsPerCore);
          } else {
            r.coresPerComputeUnit = static_cast<int32_t>((ebx >> 8) & 3) + 1;
            r.computeUnitId = static_cast<int32_t>(ebx & 0xFF);
          }
        }
      }
    }
    entry.count = pinnedCount;
  }
  groups.logicalProcessorCount = 0;
  for (int32_t g = 0; g < groups.groupCount; ++g) groups.logicalProcessorCount += groups.groups[g].count;

  for (LogicalProcessorRecord& r : records) computeIdentifiers(r);

  // Packages in order of first appearance.
  std::vector<int32_t> packageIds;
  for (const LogicalProcessorRecord& r : records) {
    if (std::find(packageIds.begin(), packageIds.end(), r.packageId) == packageIds.end() &&
        static_cast<int>(packageIds.size()) < kMaxPackages) {
      packageIds.push_back(r.packageId);
    }
  }
  int32_t coresPerComputeUnit = records.empty() ? 1 : records.front().coresPerComputeUnit;
  for (int32_t packageId : packageIds) {
    auto* package = new CProcessor_2();
    package->packageId = packageId;
    package->maxStdLeaf = maxStdLeaf;
    package->maxExtLeaf = maxExtLeaf;
    buildPackage(*package, records, coresPerComputeUnit);
    if (package->threadCount < 1 || package->coreCount < 1) {
      delete package;
      continue;
    }
    processors.Append(package);
  }

  // The group table points at the records as the packages hold them.
  for (CProcessor_2* package : processors) {
    for (LogicalProcessorRecord& thread : package->threads) {
      groups.groups[thread.group].processors.push_back(&thread);
    }
  }
  for (int32_t g = 0; g < groups.groupCount; ++g) {
    auto& list = groups.groups[g].processors;
    std::sort(list.begin(), list.end(),
              [](const LogicalProcessorRecord* a, const LogicalProcessorRecord* b) { return a->index < b->index; });
  }

  for (CProcessor_2* package : processors) {
    const LogicalProcessorRecord& first = package->threads.front();
    if (!pinner.pin(first.group, first.index)) continue;
    readIdentity(service, vendor, *package);
  }

  pinner.restore();
}

}  // namespace tv2
