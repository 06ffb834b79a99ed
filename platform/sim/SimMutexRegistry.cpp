#include "platform/sim/SimMutexRegistry.h"

#include <chrono>
#include <limits>

#include "platform/ErrorCodes.h"
#include "platform/sim/SimThreadId.h"

namespace tv2::sim {

namespace {

constexpr uint32_t kInfinite = 0xFFFFFFFF;

// Per thread, as the caller asks right after its own wait.
thread_local uint32_t t_lastWaitError = 0;

uint32_t failWith(uint32_t error) {
  t_lastWaitError = error;
  return kWaitFailed;
}

}  // namespace

void SimMutexRegistry::open(const std::string& name, bool* existed) {
  std::lock_guard lock(m_mutex);
  const auto found = m_entries.find(name);
  if (existed != nullptr) {
    *existed = found != m_entries.end();
  }
  m_entries[name].handles += 1;
}

void SimMutexRegistry::close(const std::string& name) {
  std::lock_guard lock(m_mutex);
  const auto found = m_entries.find(name);
  if (found == m_entries.end() || found->second.handles == 0) {
    return;
  }
  found->second.handles -= 1;
  forgetIfUnusedLocked(name);
}

uint32_t SimMutexRegistry::wait(const std::string& name, uint64_t process, uint32_t timeoutMs) {
  const uint64_t thread = SimThreadId::current();
  std::unique_lock lock(m_mutex);
  const auto found = m_entries.find(name);
  if (found == m_entries.end() || process == 0) {
    return failWith(kErrorInvalidHandle);
  }
  if (found->second.waitError != 0) {
    return failWith(found->second.waitError);
  }
  // References into a std::map stay valid; the caller's handle keeps the
  // entry in the map while we sleep.
  Entry& entry = found->second;
  if (entry.ownerProcess == process && entry.ownerThread == thread) {
    if (entry.recursion == std::numeric_limits<uint32_t>::max()) {
      return failWith(kErrorInvalidParameter);
    }
    entry.recursion += 1;
    return kWaitObject0;
  }
  const auto free = [&entry] { return entry.ownerProcess == 0 && !entry.heldElsewhere; };
  if (timeoutMs == kInfinite) {
    m_changed.wait(lock, free);
  } else if (!m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), free)) {
    return kWaitTimeout;
  }
  entry.ownerProcess = process;
  entry.ownerThread = thread;
  entry.recursion = 1;
  if (entry.abandoned) {
    entry.abandoned = false;
    return kWaitAbandoned;
  }
  return kWaitObject0;
}

bool SimMutexRegistry::release(const std::string& name, uint64_t process) {
  const uint64_t thread = SimThreadId::current();
  std::lock_guard lock(m_mutex);
  const auto found = m_entries.find(name);
  if (found == m_entries.end()) {
    return false;
  }
  Entry& entry = found->second;
  if (entry.ownerProcess != process || entry.ownerThread != thread || process == 0) {
    return false;
  }
  entry.recursion -= 1;
  if (entry.recursion == 0) {
    entry.ownerProcess = 0;
    entry.ownerThread = 0;
    m_changed.notify_all();
    forgetIfUnusedLocked(name);
  }
  return true;
}

void SimMutexRegistry::holdElsewhere(const std::string& name, bool held) {
  std::lock_guard lock(m_mutex);
  if (!held && m_entries.find(name) == m_entries.end()) {
    return;
  }
  m_entries[name].heldElsewhere = held;
  if (!held) {
    m_changed.notify_all();
    forgetIfUnusedLocked(name);
  }
}

void SimMutexRegistry::abandon(const std::string& name) {
  // Whoever holds it ends without releasing it. With no owner at all this
  // stands for a process that took it and died in between, so the next
  // waiter learns of it either way.
  std::lock_guard lock(m_mutex);
  Entry& entry = m_entries[name];
  entry.ownerProcess = 0;
  entry.ownerThread = 0;
  entry.recursion = 0;
  entry.heldElsewhere = false;
  entry.abandoned = true;
  m_changed.notify_all();
}

bool SimMutexRegistry::exists(const std::string& name) const {
  std::lock_guard lock(m_mutex);
  return m_entries.find(name) != m_entries.end();
}

void SimMutexRegistry::forgetIfUnusedLocked(const std::string& name) {
  const auto found = m_entries.find(name);
  if (found == m_entries.end()) {
    return;
  }
  const Entry& entry = found->second;
  // An abandoned mutex outlives its handles, as the shared-memory mutex of the
  // real platform does, so that the next opener still sees the abandonment.
  if (entry.handles == 0 && entry.ownerProcess == 0 && !entry.heldElsewhere && !entry.abandoned) {
    m_entries.erase(found);
  }
}

void SimMutexRegistry::failWaits(const std::string& name, uint32_t error) {
  std::lock_guard lock(m_mutex);
  const auto found = m_entries.find(name);
  if (found != m_entries.end()) {
    found->second.waitError = error;
  }
}

uint32_t SimMutexRegistry::lastWaitError() { return t_lastWaitError; }

}  // namespace tv2::sim
