#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "app/SamplerGate.h"
#include "app/SamplerThread.h"
#include "counters/model/CTList.h"
#include "cpu/CProcessor_2.h"
#include "cpu/ProcessorGroups.h"
#include "platform/PlatformTypes.h"

namespace tv2 {

class CKMDriver;
class CTimer;
class Platform;
class ProcessorTimesService;

inline constexpr int kMaxCounterThreads = 512;
inline constexpr int kMaxUsageThreads = kMaxGroups;
inline constexpr uint32_t kCounterPeriodMs = 300;
inline constexpr uint32_t kUsagePeriodMs = 500;
inline constexpr uint32_t kTickMs = 100;
inline constexpr uint32_t kDerivedPeriodMs = 300;

// The three periodic activities that turn registers and operating-system
// times into histories: one counter sampler per logical processor (300 ms),
// one usage sampler per processor group (500 ms) and the display tick (100 ms,
// driven by the user-interface thread).
//
// Threads: the sources (driver, timers, processors, groups) are set by the
// user-interface thread before createThreads and stay fixed until joinAll
// returns; the samplers only read them. Counter lists are guarded by each
// package's countersLock, held shared for a whole pass.
class SamplingEngine {
 public:
  explicit SamplingEngine(Platform& platform);
  ~SamplingEngine();
  SamplingEngine(const SamplingEngine&) = delete;
  SamplingEngine& operator=(const SamplingEngine&) = delete;

  // Also prepares the usage samplers' buffers; called before createThreads.
  void setSources(CKMDriver* driver, CTimer* hpetTimer, CTimer* acpiTimer, CTList<CProcessor_2>* processors,
                  ProcessorGroups* groups);
  void setProcessorTimes(ProcessorTimesService* times) { m_times = times; }

  // Set by the application: the derived pass over one package (installed at
  // start-up) and the notice to the views that they should redraw (the window).
  // The tick calls the notifier synchronously. A clear while paused uses the
  // poster when one is set (the window queues the redraw so that it reaches
  // the views after the command returns), else the notifier.
  void setDerivedPass(std::function<void(CProcessor_2&)> pass) { m_derivedPass = std::move(pass); }
  void setPaneNotifier(std::function<void()> notify) { m_notifyPanes = std::move(notify); }
  void setPanePoster(std::function<void()> post) { m_postToPanes = std::move(post); }

  // One usage sampler per group, then one counter sampler per logical
  // processor, all held until resumeThreads. A thread that cannot be created
  // leaves an empty slot.
  void createThreads();
  void resumeThreads();
  // Holds every sampler at its next pass boundary; returns once no pass runs.
  void suspendThreads();
  // Sets the stop flag, wakes every sampler (also paused ones) and joins them.
  void stopAndJoin();
  // Every sampler applies its recorded binding again before its next pass.
  void reapplyBindings();

  // One pass of each sampler kind, callable directly (tests, benchmarks). A
  // kernel-backed package's pass takes neither the driver lock nor a timer.
  void counterPass(LogicalProcessorRecord& entry, CProcessor_2& package);
  void usagePass(int32_t group);

  // The display tick: advances the sample clock by 100 ms, runs the derived
  // pass every 300 ms of clock and tells the views to redraw.
  void tick();
  // Forgets every sample of one package; redraws at once when paused.
  void clearHistories(CProcessor_2& processor, bool paused);

  bool stopRequested() const { return m_gate.stopRequested(); }
  int32_t counterThreadCount() const { return static_cast<int32_t>(m_counterThreads.size()); }
  int32_t usageThreadCount() const { return static_cast<int32_t>(m_usageThreads.size()); }
  // The recorded binding of a slot; null for an empty slot.
  const SamplerThread* counterThread(int32_t i) const { return m_counterThreads[i].get(); }
  const SamplerThread* usageThread(int32_t i) const { return m_usageThreads[i].get(); }

 private:
  struct GroupMember {
    LogicalProcessorRecord* record;
    CProcessor_2* package;
  };
  // What one usage sampler needs, prepared before it starts so that its pass
  // allocates nothing.
  struct UsageGroup {
    std::vector<GroupMember> members;
    std::vector<ProcessorTimes> buffer;  // the sampler thread's own
  };

  Platform& m_platform;
  SamplerGate m_gate;
  CKMDriver* m_driver = nullptr;
  CTimer* m_hpetTimer = nullptr;
  CTimer* m_acpiTimer = nullptr;
  CTList<CProcessor_2>* m_processors = nullptr;
  ProcessorGroups* m_groups = nullptr;
  ProcessorTimesService* m_times = nullptr;
  std::function<void(CProcessor_2&)> m_derivedPass;
  std::function<void()> m_notifyPanes;  // set and called on the user-interface thread
  std::function<void()> m_postToPanes;  // set and called on the user-interface thread
  std::vector<UsageGroup> m_usageGroups;
  std::vector<std::unique_ptr<SamplerThread>> m_usageThreads;
  std::vector<std::unique_ptr<SamplerThread>> m_counterThreads;
};

}  // namespace tv2
