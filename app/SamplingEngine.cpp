#include "app/SamplingEngine.h"

#include <mutex>
#include <shared_mutex>

#include "counters/model/SampleClock.h"
#include "hw/CKMDriver.h"
#include "hw/CTimer.h"
#include "platform/Platform.h"

namespace tv2 {

SamplingEngine::SamplingEngine(Platform& platform) : m_platform(platform) {}

SamplingEngine::~SamplingEngine() { stopAndJoin(); }

void SamplingEngine::setSources(CKMDriver* driver, CTimer* hpetTimer, CTimer* acpiTimer,
                                CTList<CProcessor_2>* processors, ProcessorGroups* groups) {
  m_driver = driver;
  m_hpetTimer = hpetTimer;
  m_acpiTimer = acpiTimer;
  m_processors = processors;
  m_groups = groups;

  // What each usage sampler walks, prepared once so that its pass allocates
  // nothing. The records stay where they are until the engine is stopped.
  m_usageGroups.clear();
  if (m_processors == nullptr || m_groups == nullptr) return;
  m_usageGroups.assign(static_cast<size_t>(m_groups->groupCount), UsageGroup{});
  for (CProcessor_2* package : *m_processors) {
    for (LogicalProcessorRecord& thread : package->threads) {
      if (thread.group < 0 || thread.group >= m_groups->groupCount) continue;
      UsageGroup& usage = m_usageGroups[static_cast<size_t>(thread.group)];
      usage.members.push_back({&thread, package});
      if (static_cast<size_t>(thread.index) >= usage.buffer.size()) usage.buffer.resize(thread.index + 1);
    }
  }
}

void SamplingEngine::createThreads() {
  if (m_processors == nullptr || m_groups == nullptr) return;
  ProcessorService& service = m_platform.processors();

  for (int32_t g = 0; g < m_groups->groupCount && g < kMaxUsageThreads; ++g) {
    GroupAffinity binding{m_groups->groups[g].mask, static_cast<uint16_t>(g)};
    auto thread = std::make_unique<SamplerThread>(m_gate, service, binding,
                                                  std::chrono::milliseconds(kUsagePeriodMs),
                                                  [this, g] { usagePass(g); });
    if (!thread->start()) thread.reset();
    m_usageThreads.push_back(std::move(thread));
  }

  for (CProcessor_2* package : *m_processors) {
    for (LogicalProcessorRecord& entry : package->threads) {
      if (static_cast<int>(m_counterThreads.size()) >= kMaxCounterThreads) return;
      GroupAffinity binding{uint64_t{1} << (static_cast<uint32_t>(entry.index) & 63),
                            static_cast<uint16_t>(entry.group)};
      auto thread = std::make_unique<SamplerThread>(m_gate, service, binding,
                                                    std::chrono::milliseconds(kCounterPeriodMs),
                                                    [this, &entry, package] { counterPass(entry, *package); });
      if (!thread->start()) thread.reset();
      m_counterThreads.push_back(std::move(thread));
    }
  }
}

void SamplingEngine::resumeThreads() { m_gate.open(); }

void SamplingEngine::suspendThreads() { m_gate.close(); }

void SamplingEngine::stopAndJoin() {
  m_gate.requestStop();
  for (auto& thread : m_usageThreads) {
    if (thread) thread->join();
    thread.reset();
  }
  for (auto& thread : m_counterThreads) {
    if (thread) thread->join();
    thread.reset();
  }
  m_usageThreads.clear();
  m_counterThreads.clear();
}

void SamplingEngine::reapplyBindings() {
  for (auto& thread : m_usageThreads) {
    if (thread) thread->requestRebind();
  }
  for (auto& thread : m_counterThreads) {
    if (thread) thread->requestRebind();
  }
}

void SamplingEngine::counterPass(LogicalProcessorRecord& entry, CProcessor_2& package) {
  if (package.kernelCounters) {
    // The kernel's counters keep their own times and need no device: no
    // driver lock (a user without the driver still samples) and no timer.
    std::shared_lock lock(package.countersLock);
    for (CCounter* counter : entry.counters) counter->Update(nullptr);
    return;
  }
  if (m_driver == nullptr) return;
  uint32_t error = 0;
  // Never wait: a busy lock (another sampler, a rebuild, another program)
  // skips the pass whole, and the next pass measures the longer interval.
  if (!m_driver->Acquire(&error, 0)) return;
  CTimer* timer = m_hpetTimer != nullptr ? m_hpetTimer : m_acpiTimer;
  if (timer != nullptr) {
    timer->ReadTicks();
    std::shared_lock lock(package.countersLock);
    for (CCounter* counter : entry.counters) counter->Update(timer);
  }
  m_driver->Release();
}

void SamplingEngine::usagePass(int32_t group) {
  if (m_times == nullptr || group < 0 || static_cast<size_t>(group) >= m_usageGroups.size()) return;
  UsageGroup& usage = m_usageGroups[static_cast<size_t>(group)];
  if (usage.buffer.empty()) return;
  if (m_times->query(group, usage.buffer.data(), static_cast<int>(usage.buffer.size())) != 0) return;
  for (const GroupMember& member : usage.members) {
    std::shared_lock lock(member.package->countersLock);
    LogicalProcessorRecord& record = *member.record;
    if (record.idleTime == nullptr || record.kernelTime == nullptr || record.userTime == nullptr) continue;
    const ProcessorTimes& times = usage.buffer[static_cast<size_t>(record.index)];
    record.idleTime->Set(static_cast<double>(times.idle));
    record.kernelTime->Set(static_cast<double>(times.kernel));
    record.userTime->Set(static_cast<double>(times.user));
  }
}

void SamplingEngine::tick() {
  uint32_t clock = SampleClock::advance(kTickMs);
  if (clock % kDerivedPeriodMs == 0 && !m_gate.stopRequested() && m_processors != nullptr) {
    uint32_t error = 0;
    // The pass runs whether or not the lock was obtained, and without a
    // driver at all (a kernel-backed run of a user without one): it reads
    // only the counters' current values.
    bool locked = m_driver != nullptr && m_driver->Acquire(&error, 0) != 0;
    if (m_derivedPass) {
      for (CProcessor_2* package : *m_processors) {
        std::shared_lock lock(package->countersLock);
        m_derivedPass(*package);
      }
    }
    if (locked) m_driver->Release();
  }
  if (m_notifyPanes) m_notifyPanes();
}

void SamplingEngine::clearHistories(CProcessor_2& processor, bool paused) {
  {
    // Exclusively: a clear that landed inside a sampler's push would let the
    // push store its old write position and count back, and the whole old
    // history would reappear. Samplers hold the lock for a whole pass.
    std::unique_lock lock(processor.countersLock);
    processor.ClearHistories();
  }
  if (!paused) return;  // the next tick redraws
  if (m_postToPanes) {
    m_postToPanes();
  } else if (m_notifyPanes) {
    m_notifyPanes();
  }
}

}  // namespace tv2
