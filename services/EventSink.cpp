#include "services/EventSink.h"

namespace tv2 {

int32_t EventSink::AddRef() { return m_refCount.fetch_add(1, std::memory_order_relaxed) + 1; }

int32_t EventSink::Release() {
  // Acquire-release, so that everything done through other references
  // happens before the destruction.
  int32_t count = m_refCount.fetch_sub(1, std::memory_order_acq_rel) - 1;
  if (count == 0) {
    m_done.store(1, std::memory_order_relaxed);
    delete this;
  }
  return count;
}

int32_t EventSink::Indicate(const std::vector<Event>& events) {
  for (const Event& event : events) {
    if (!event.readable || !event.smallInteger) continue;
    if (event.eventType != kResumeFromSuspend) continue;
    if (m_resume) m_resume();
  }
  return 0;
}

}  // namespace tv2
