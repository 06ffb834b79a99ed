#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <vector>

namespace tv2 {

// Receives power-management events on the notification thread and hands
// each resume from suspend (event type 7) over to the resume function, which
// runs the resume sequence on the user-interface thread and returns once it
// is done. Every other event changes nothing.
//
// Reference counted across threads: the watcher holds one reference for the
// subscription and each delivery holds one while it runs; the last Release
// sets the done flag and destroys the sink.
class EventSink {
 public:
  static constexpr int64_t kEnteringSuspend = 4;
  static constexpr int64_t kResumeFromSuspend = 7;

  // One delivered event: whether its type could be read at all, whether
  // that type is an integer of at most 32 bits, and its value.
  struct Event {
    bool readable = true;
    bool smallInteger = true;
    int64_t eventType = 0;
  };

  // resume is set once here and only read afterwards, from any thread.
  explicit EventSink(std::function<void()> resume) : m_resume(std::move(resume)) {}
  EventSink(const EventSink&) = delete;
  EventSink& operator=(const EventSink&) = delete;

  int32_t AddRef();
  int32_t Release();
  // Handles the events in order; always answers 0 (success).
  int32_t Indicate(const std::vector<Event>& events);

 private:
  ~EventSink() = default;  // only the last Release destroys a sink

  std::atomic<int32_t> m_refCount{0};  // any thread, atomic increments and decrements only
  std::atomic<int32_t> m_done{0};      // set by the last Release
  const std::function<void()> m_resume;
};

}  // namespace tv2
