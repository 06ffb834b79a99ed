#pragma once

#include <cstdint>

#include "counters/CounterBuildContext.h"
#include "counters/KernelCatalogue.h"

namespace tv2 {

class AppShell;
class CCountersConfig;
class CKMDriver;
class CProcessor_2;
class CTarvelle2App;
class ProcessorService;

// The start-up warning for a package whose counters look taken (%d: the
// package's position in the processor list).
inline constexpr const char* kCountersInUseText =
    "The program has detected that the performance counters on processor %d may be in use. If you want to use "
    "them anyway, click on YES. Otherwise, they won't be used by Tarvelle2 and several events will be missing.";
inline constexpr const char* kCountersInUseCaption = "Tarvelle2 Warning";

// What the in-use test found on the package's first logical processor:
// Intel's fixed-counter control and every general select, or (family
// 15h/16h AMD) every core select, all reading 0 in both halves (free); one
// reading non-zero (in use: another program programmed it); or none reading
// non-zero but some read failing (unreadable: the driver host cannot reach
// the registers at all, which says nothing about other programs). Other
// processors, and a package whose processor cannot be pinned, count as free.
// Driver lock held.
enum class CounterOccupancy { kFree, kInUse, kUnreadable };
CounterOccupancy TestCounterOccupancy(CKMDriver& driver, ProcessorService& service, bool groupMode,
                                      const CProcessor_2& processor);

// Whether the counters are free by the test above (a read that fails counts
// as not free).
bool CountersAreFree(CKMDriver& driver, ProcessorService& service, bool groupMode, const CProcessor_2& processor);

// Clears the fixed-counter control, every select and every counting register
// on each logical processor of the package (Intel; family 15h/16h AMD), so
// that nothing keeps counting for a program that has gone. A processor that
// cannot be pinned is skipped. Driver lock held.
void ResetCounters(CKMDriver& driver, ProcessorService& service, bool groupMode, const CProcessor_2& processor);

// Start-up step for one package (index: its position in the list): the
// configuration its counters are built with. Free counters get the current
// configuration. Counters in use bring up the warning through the shell's
// message box: YES resets them and tests again (the current configuration if
// they are free now, else none); NO clears cpuCountersUsable and withholds
// the package (no configuration, never written). A shell that cannot ask
// (no window) withholds it as NO does, and a package whose registers cannot
// be read is withheld without a question; both add one line to
// app.countersNotice for the shell to tell once. Driver lock held.
const CCountersConfig* StartupConfiguration(CTarvelle2App& app, AppShell& shell, CProcessor_2& processor,
                                            int32_t index);

// Deletes the package's counters and builds them again: with a configuration
// (ignored for a withheld package) the fixed, event and northbridge counters
// first, then always the power and temperature counters and the derived
// metrics. A kernel-backed package (CProcessor_2::kernelCounters) gets the
// kernel's steps instead of the register steps, built without the driver
// (nothing of it reads a register); *summary, when given, learns how its
// groups opened. Takes the package's countersLock exclusively; the caller
// holds the driver lock when it can (a kernel-backed package needs none).
void BuildPackageCounters(CProcessor_2& processor, const CounterBuildContext& context,
                          const CCountersConfig* configuration, KernelOpenSummary* summary = nullptr);

}  // namespace tv2
