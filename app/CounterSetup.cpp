#include "app/CounterSetup.h"

#include <cstdio>
#include <mutex>

#include "app/AppShell.h"
#include "app/CCountersConfig.h"
#include "app/CTarvelle2App.h"
#include "counters/MetricCatalogue.h"
#include "counters/PmuRegisters.h"
#include "cpu/CProcessor_2.h"
#include "cpu/ModelGroups.h"
#include "cpu/ProcessorPin.h"
#include "cpu/VendorCodes.h"
#include "hw/CKMDriver.h"

namespace tv2 {
namespace {

enum class CounterFamily { kNone, kIntel, kAmd };

// Every Intel processor has the architectural registers; of AMD only the
// family 15h and 16h classes have the PERF_CTL layout used here.
CounterFamily counterFamily(int32_t processorCode) {
  if (vendorOf(processorCode) == VENDOR_INTEL) return CounterFamily::kIntel;
  if (vendorOf(processorCode) == VENDOR_AMD && isAmdGroup(classifyProcessor(processorCode))) {
    return CounterFamily::kAmd;
  }
  return CounterFamily::kNone;
}

bool readsZero(CKMDriver& driver, uint32_t index) {
  uint32_t high = 0;
  uint32_t low = 0;
  driver.ReadMsr(index, &high, &low);  // a failure leaves 0xFFFFFFFF: in use
  return high == 0 && low == 0;
}

const CCountersConfig* currentConfiguration(const CTarvelle2App& app) {
  if (!app.configs || app.currentConfig < 0 || app.currentConfig >= app.configCount) return nullptr;
  return &app.configs[static_cast<size_t>(app.currentConfig)];
}

}  // namespace

bool CountersAreFree(CKMDriver& driver, ProcessorService& service, bool groupMode, const CProcessor_2& processor) {
  CounterFamily family = counterFamily(processor.processorCode);
  if (family == CounterFamily::kNone || processor.threads.empty()) return true;
  ProcessorPin pin(service, groupMode, processor.threads.front());
  if (!pin.pinned()) return true;
  bool free = true;
  if (family == CounterFamily::kIntel) {
    free = readsZero(driver, kMsrFixedCounterControl);
    for (int32_t i = 0; free && i < processor.generalCounterCount; ++i) {
      free = readsZero(driver, kMsrIntelPerfEvtSel0 + static_cast<uint32_t>(i));
    }
  } else {
    for (int32_t i = 0; free && i < processor.generalCounterCount; ++i) free = readsZero(driver, amdPerfCtl(i));
  }
  return free;
}

void ResetCounters(CKMDriver& driver, ProcessorService& service, bool groupMode, const CProcessor_2& processor) {
  CounterFamily family = counterFamily(processor.processorCode);
  if (family == CounterFamily::kNone) return;
  for (const LogicalProcessorRecord& thread : processor.threads) {
    ProcessorPin pin(service, groupMode, thread);
    if (!pin.pinned()) continue;
    if (family == CounterFamily::kIntel) {
      driver.WriteMsr(kMsrFixedCounterControl, 0, 0);
      for (int32_t i = 0; i < processor.generalCounterCount; ++i) {
        driver.WriteMsr(kMsrIntelPerfEvtSel0 + static_cast<uint32_t>(i), 0, 0);
        driver.WriteMsr(kMsrIntelPmc0 + static_cast<uint32_t>(i), 0, 0);
      }
    } else {
      for (int32_t i = 0; i < processor.generalCounterCount; ++i) {
        driver.WriteMsr(amdPerfCtl(i), 0, 0);
        driver.WriteMsr(amdPerfCtr(i), 0, 0);
      }
    }
  }
}

const CCountersConfig* StartupConfiguration(CTarvelle2App& app, AppShell& shell, CProcessor_2& processor,
                                            int32_t index) {
  if (!app.driver) return nullptr;
  CKMDriver& driver = *app.driver;
  ProcessorService& service = app.platform().processors();
  bool groupMode = app.groups.groupMode;
  if (CountersAreFree(driver, service, groupMode, processor)) return currentConfiguration(app);

  char text[512];
  std::snprintf(text, sizeof text, kCountersInUseText, static_cast<int>(index));
  if (shell.messageBox(text, kCountersInUseCaption, kMbIconWarning | kMbYesNo) == kIdYes) {
    ResetCounters(driver, service, groupMode, processor);
    return CountersAreFree(driver, service, groupMode, processor) ? currentConfiguration(app) : nullptr;
  }
  app.cpuCountersUsable = 0;
  return nullptr;
}

void BuildPackageCounters(CProcessor_2& processor, const CounterBuildContext& context,
                          const CCountersConfig* configuration) {
  std::unique_lock lock(processor.countersLock);
  processor.ClearCounters();
  if (configuration != nullptr) {
    AddFixedCounters(processor, context);
    AddEventCounters(processor, context, configuration->index);
    AddNorthbridgeCounters(processor, context);
  }
  AddPowerAndThermalCounters(processor, context);
  AddDerivedMetrics(processor, context);
}

}  // namespace tv2
