#pragma once

#include <cstdint>

namespace tv2 {

// A mutex shared by name between processes. Ownership belongs to a thread and
// is recursive for that thread: every successful wait needs one release.
class NamedMutex {
 public:
  virtual ~NamedMutex() = default;

  // kWaitObject0 when the calling thread now owns the mutex; kWaitAbandoned
  // when it owns it because the previous owner ended without releasing it;
  // kWaitTimeout when timeoutMs passed first (0 tries once); kWaitFailed
  // otherwise.
  virtual uint32_t wait(uint32_t timeoutMs) = 0;

  // Gives up one level of ownership. False when the caller does not own it.
  virtual bool release() = 0;

  // Why the calling thread's last wait returned kWaitFailed: the system's
  // error code (never 0 after a failed wait).
  virtual uint32_t lastWaitError() const = 0;
};

}  // namespace tv2
