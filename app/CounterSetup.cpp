#include "app/CounterSetup.h"

#include <cstdio>
#include <mutex>
#include <vector>

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

// What one select register says about the counters' occupancy.
enum class Reading { kZero, kNonZero, kFailed };

Reading readSelect(CKMDriver& driver, uint32_t index) {
  uint32_t high = 0;
  uint32_t low = 0;
  if (!driver.ReadMsr(index, &high, &low)) return Reading::kFailed;
  return high == 0 && low == 0 ? Reading::kZero : Reading::kNonZero;
}

// Adds one package's reason to the start-up notice, which stays one line.
void addNotice(CTarvelle2App& app, int32_t index, const char* reason) {
  char text[320];
  std::snprintf(text, sizeof text, "%sevent counters off on processor %d: %s",
                app.countersNotice.empty() ? "" : "; ", static_cast<int>(index), reason);
  app.countersNotice += text;
}

constexpr const char* kUnreadableReason =
    "its counter registers cannot be read (the driver host has no access to model-specific registers: no msr "
    "module, kernel lockdown or a virtual machine)";
constexpr const char* kUnaskedReason =
    "they may be in use by another program, and without a window nobody can be asked to take them over";

const CCountersConfig* currentConfiguration(const CTarvelle2App& app) {
  if (!app.configs || app.currentConfig < 0 || app.currentConfig >= app.configCount) return nullptr;
  return &app.configs[static_cast<size_t>(app.currentConfig)];
}

}  // namespace

CounterOccupancy TestCounterOccupancy(CKMDriver& driver, ProcessorService& service, bool groupMode,
                                      const CProcessor_2& processor) {
  CounterFamily family = counterFamily(processor.processorCode);
  if (family == CounterFamily::kNone || processor.threads.empty()) return CounterOccupancy::kFree;
  ProcessorPin pin(service, groupMode, processor.threads.front());
  if (!pin.pinned()) return CounterOccupancy::kFree;
  std::vector<uint32_t> selects;
  if (family == CounterFamily::kIntel) selects.push_back(kMsrFixedCounterControl);
  for (int32_t i = 0; i < processor.generalCounterCount; ++i) {
    selects.push_back(family == CounterFamily::kIntel ? kMsrIntelPerfEvtSel0 + static_cast<uint32_t>(i)
                                                      : amdPerfCtl(i));
  }
  // Every select is read: one holding a value is evidence of another user
  // even when others cannot be read.
  bool failed = false;
  for (uint32_t select : selects) {
    Reading reading = readSelect(driver, select);
    if (reading == Reading::kNonZero) return CounterOccupancy::kInUse;
    if (reading == Reading::kFailed) failed = true;
  }
  return failed ? CounterOccupancy::kUnreadable : CounterOccupancy::kFree;
}

bool CountersAreFree(CKMDriver& driver, ProcessorService& service, bool groupMode, const CProcessor_2& processor) {
  return TestCounterOccupancy(driver, service, groupMode, processor) == CounterOccupancy::kFree;
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
  switch (TestCounterOccupancy(driver, service, groupMode, processor)) {
    case CounterOccupancy::kFree: return currentConfiguration(app);
    case CounterOccupancy::kUnreadable:
      // A read that fails is no sign of another user, and YES could not make
      // the counters work: no question, and nothing is ever written to them.
      processor.countersWithheld = true;
      addNotice(app, index, kUnreadableReason);
      return nullptr;
    case CounterOccupancy::kInUse: break;
  }

  if (!shell.canAsk()) {
    // Nobody can answer: the counters stay with whoever uses them.
    processor.countersWithheld = true;
    app.cpuCountersUsable = 0;
    addNotice(app, index, kUnaskedReason);
    return nullptr;
  }
  char text[512];
  std::snprintf(text, sizeof text, kCountersInUseText, static_cast<int>(index));
  if (shell.messageBox(text, kCountersInUseCaption, kMbIconWarning | kMbYesNo) == kIdYes) {
    ResetCounters(driver, service, groupMode, processor);
    return CountersAreFree(driver, service, groupMode, processor) ? currentConfiguration(app) : nullptr;
  }
  // The answer promised that the program would not use them: remembered for
  // every later rebuild (configuration menu, resume, --config) and the exit.
  processor.countersWithheld = true;
  app.cpuCountersUsable = 0;
  return nullptr;
}

void BuildPackageCounters(CProcessor_2& processor, const CounterBuildContext& context,
                          const CCountersConfig* configuration, KernelOpenSummary* summary) {
  std::unique_lock lock(processor.countersLock);
  processor.ClearCounters();
  if (processor.kernelCounters) {
    // No register of a kernel-backed package is read or written: the
    // time-stamp row of the derived step gets no driver either.
    CounterBuildContext kernelContext = context;
    kernelContext.driver = nullptr;
    if (configuration != nullptr && !processor.countersWithheld) {
      AddKernelEventCounters(processor, kernelContext, configuration->index, summary);
    }
    AddKernelPowerAndThermalCounters(processor, kernelContext);
    AddDerivedMetrics(processor, kernelContext);
    return;
  }
  if (configuration != nullptr && !processor.countersWithheld) {
    AddFixedCounters(processor, context);
    AddEventCounters(processor, context, configuration->index);
    AddNorthbridgeCounters(processor, context);
  }
  AddPowerAndThermalCounters(processor, context);
  AddDerivedMetrics(processor, context);
}

}  // namespace tv2
