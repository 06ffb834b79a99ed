#include "ui/ProcessorPanelText.h"

#include <cstdio>

#include "cpu/CCacheLevel.h"
#include "cpu/CProcessor_2.h"

namespace tv2 {
namespace {

std::string topologyLine(const CProcessor_2& p) {
  char line[512];
  if (p.computeUnitCount == -1) {
    std::snprintf(line, sizeof line, "拓扑 :\t\t%d 核心, %d CPUs", p.coreCount, p.threadCount);
  } else {
    std::snprintf(line, sizeof line, "拓扑 :\t\t%d CU, %d 核心, %d CPUs", p.computeUnitCount, p.coreCount,
                  p.threadCount);
  }
  // A hybrid processor names its mix of performance and efficiency cores.
  int performance = 0;
  int efficiency = 0;
  for (const CoreRecord& core : p.cores) {
    const LogicalProcessorRecord* first = core.threads.empty() ? nullptr : core.threads.front();
    if (first == nullptr) continue;
    if (first->coreType == KernelCoreType::kPerformance) ++performance;
    if (first->coreType == KernelCoreType::kEfficiency) ++efficiency;
  }
  std::string text = line;
  if (performance > 0 && efficiency > 0) {
    std::snprintf(line, sizeof line, " (%dP + %dE)", performance, efficiency);
    text += line;
  }
  return text;
}

std::string featuresLine(const CProcessor_2& p) {
  std::string line = "特征 :\t\t";
  if (p.threadCount >= 1 && p.threadCount > p.coreCount) line += "超线程";
  // A record without thread entries has no compute-unit figure to read.
  if (p.threadCount >= 1 && !p.threads.empty() && p.threads.front().coresPerComputeUnit > 1) line += "CMT";
  return line;
}

std::string clockLine(const CProcessor_2& p) {
  std::string line = "最大时钟频率 :\t";
  char number[64];
  if (p.baseClock > 0) {
    std::snprintf(number, sizeof number, "%.2f GHz", p.baseClock / 1000.0);
    line += number;
  }
  if (p.turboClock > 0 && p.turboClock != p.baseClock) {
    std::snprintf(number, sizeof number, " (睿频 : %.2f GHz)", p.turboClock / 1000.0);
    line += number;
  }
  return line;
}

std::string tdpLine(const CProcessor_2& p) {
  std::string line = "热设计功耗 :\t";
  if (p.tdp > 0) line += std::to_string(p.tdp) + " W";
  return line;
}

std::string cacheLine(const CCacheLevel& cache) {
  char number[64];
  const char* prefix = cache.type == 1 ? "L%d D-缓存 :\t" : cache.type == 2 ? "L%d I-缓存 :\t" : "L%d 缓存 :\t";
  std::snprintf(number, sizeof number, prefix, cache.level);
  std::string line = number;
  if (cache.instanceCount > 1) {
    std::snprintf(number, sizeof number, "%d x ", cache.instanceCount);
    line += number;
  }
  // Whole mebibytes read as MBytes; a size that is not a whole number of
  // them (1536 KB, 27.5 MB) stays in KBytes rather than being cut down.
  if (cache.sizeKB > 1024 && cache.sizeKB % 1024 == 0) {
    std::snprintf(number, sizeof number, "%d MBytes\n", cache.sizeKB / 1024);
  } else {
    std::snprintf(number, sizeof number, "%d KBytes\n", cache.sizeKB);
  }
  return line + number;
}

}  // namespace

ProcessorPanelText ProcessorPanelText::format(const CProcessor_2& processor) {
  ProcessorPanelText text;
  text.name = processor.name;
  text.topology = topologyLine(processor);
  text.features = featuresLine(processor);
  text.clock = clockLine(processor);
  text.tdp = tdpLine(processor);
  for (const CCacheLevel* cache : processor.caches) {
    if (cache != nullptr) text.caches.push_back(cacheLine(*cache));
  }
  return text;
}

std::string ProcessorPanelText::eventName(int metric) {
  switch (metric) {
    case 1: return "使用率";
    case 2: return "温度";
    case 3: return "封装功率";
    case 5: return "IA 核心功率";
    case 6: return "GT 功率";
    case 7: return "DRAM 功率";
    case 8: return "Uncore 功率";
    case 9: return "Core 倍频";
    case 10: return "Unharted 核心周期";
    case 14: return "停滞周期率";
    case 15: return "消耗指令数 (MIPS)";
    case 16: return "每周期指令 (IPC)";
    case 17: return "每指令周期 (CPI)";
    case 18: return "每瓦指令 (IPW)";
    case 19: return "L2 缓存命中率";
    case 20: return "L3 缓存命中率";
    case 21: return "L2 缓存请求率";
    case 22: return "L3 缓存请求率";
    case 23: return "分支命中率";
    case 24: return "分支指令率";
    default: return {};
  }
}

}  // namespace tv2
