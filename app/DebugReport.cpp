#include "app/DebugReport.h"

#include <cstdarg>
#include <cstdio>
#include <string>

#include "hw/CTimer.h"

namespace tv2 {

namespace {

// printf-style text of any length.
std::string format(const char* pattern, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char* pattern, ...) {
  va_list args;
  va_start(args, pattern);
  va_list copy;
  va_copy(copy, args);
  int length = std::vsnprintf(nullptr, 0, pattern, copy);
  va_end(copy);
  std::string text;
  if (length > 0) {
    text.resize(static_cast<size_t>(length) + 1);
    std::vsnprintf(text.data(), text.size(), pattern, args);
    text.resize(static_cast<size_t>(length));
  }
  va_end(args);
  return text;
}

void writeCache(std::ostream& out, const CCacheLevel& cache) {
  switch (cache.type) {
    case 1: out << format("L%d D-Cache = ", cache.level); break;
    case 2: out << format("L%d I-Cache = ", cache.level); break;
    case 3: out << format("L%d Cache   = ", cache.level); break;
    default: break;
  }
  if (cache.instanceCount > 1) out << format("%d x ", cache.instanceCount);
  if (cache.sizeKB > 1024) {
    out << format("%d MBytes", cache.sizeKB / 1024);
  } else {
    out << format("%d KBytes", cache.sizeKB);
  }
  out << DebugReport::kLineEnd;
}

}  // namespace

void DebugReport::writePackage(std::ostream& out, const CProcessor_2& p) {
  const char* end = kLineEnd;
  // The name is UTF-8 already; it goes out as it is, whatever its length.
  if (!p.name.empty()) out << "Processor = " << p.name << end;
  if (p.processorCode != -1) out << format("CPUID = 0x%X", static_cast<uint32_t>(p.processorCode)) << end;
  out << format("Max CPUID level = 0x%X (ext : 0x%X)", p.maxStdLeaf, p.maxExtLeaf) << end;
  if (p.computeUnitCount == -1) {
    out << format("Topology = %d cores, %d threads", p.coreCount, p.threadCount) << end;
  } else {
    out << format("Topology = %d CU, %d cores, %d threads", p.computeUnitCount, p.coreCount, p.threadCount) << end;
  }
  out << format("Affinity = 0x%08X", static_cast<uint32_t>(p.affinityMask)) << end;
  for (int32_t i = 0; i < p.coreCount && i < static_cast<int32_t>(p.cores.size()); ++i) {
    const CoreRecord& core = p.cores[static_cast<size_t>(i)];
    out << format("Core %d = group=%d, affinity=0x%08X", core.coreId, core.group,
                  static_cast<uint32_t>(core.affinityMask));
    // The kind of core, where the kernel tells it (hybrid processors).
    const LogicalProcessorRecord* first = core.threads.empty() ? nullptr : core.threads.front();
    if (first != nullptr && first->coreType == KernelCoreType::kPerformance) out << ", type=performance";
    if (first != nullptr && first->coreType == KernelCoreType::kEfficiency) out << ", type=efficiency";
    out << end;
  }
  if (p.kernelCounters) out << "Counters = kernel" << end;
  if (p.baseClock > 0) {
    // Single precision, as the figures were always computed.
    float base = static_cast<float>(p.baseClock) / 1000.0f;
    out << format("Max clock speed (turbo) = %.2f GHz", static_cast<double>(base));
    if (p.turboClock > 0) {
      float turbo = static_cast<float>(p.turboClock) / 1000.0f;
      out << format(" (%.2f GHz)", static_cast<double>(turbo)) << end;
    } else {
      out << " (n.a)" << end;
    }
  }
  if (p.tdp > 0) out << format("TDP = %d W", p.tdp) << end;
  for (const CCacheLevel* cache : p.caches) writeCache(out, *cache);
  if (p.pmuVersion > 0) out << format("Perf Monitoring version = %d", p.pmuVersion) << end;
  if (p.fixedCounterCount > 0) out << format("Fixed counters = %d", p.fixedCounterCount) << end;
  if (p.generalCounterCount > 0) out << format("General counters = %d", p.generalCounterCount) << end;
}

void DebugReport::write(std::ostream& out, const CTList<CProcessor_2>& processors, const CTimer* acpiTimer,
                        const CTimer* hpetTimer) {
  for (const CProcessor_2* processor : processors) writePackage(out, *processor);
  if (acpiTimer) out << format("ACPI Timer BA = 0x%X", static_cast<uint32_t>(acpiTimer->baseAddress)) << kLineEnd;
  if (hpetTimer) out << format("HPET Timer BA = 0x%X", static_cast<uint32_t>(hpetTimer->baseAddress)) << kLineEnd;
  out.flush();
}

}  // namespace tv2
