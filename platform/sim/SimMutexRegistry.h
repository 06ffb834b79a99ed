#pragma once

#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>

namespace tv2::sim {

// The named mutexes of one simulated machine. Every platform (process) on the
// machine opens the same object by name, so two platforms on one machine
// contend like two processes; separate machines never see each other's names.
//
// An owner is a thread of a process: the pair (process serial of the platform,
// SimThreadId). Ownership is recursive for its owner. "Held elsewhere" stands
// for a thread of a process outside the test; "abandoned" for an owner that
// ended without releasing, which the next waiter learns through
// kWaitAbandoned.
class SimMutexRegistry {
 public:
  // Opens the mutex, creating it when missing; true in *existed when it was
  // already there (opened by a process or held by one elsewhere).
  void open(const std::string& name, bool* existed);
  // Closes one handle opened by open(). Ownership stays with its thread.
  void close(const std::string& name);

  uint32_t wait(const std::string& name, uint64_t process, uint32_t timeoutMs);
  bool release(const std::string& name, uint64_t process);

  void holdElsewhere(const std::string& name, bool held);
  void abandon(const std::string& name);
  // Every wait on the mutex fails with error (0: waits work again).
  void failWaits(const std::string& name, uint32_t error);
  // The error of the calling thread's last failed wait.
  static uint32_t lastWaitError();

  bool exists(const std::string& name) const;

 private:
  struct Entry {
    int handles = 0;
    uint64_t ownerProcess = 0;  // 0: no owner in this machine's processes
    uint64_t ownerThread = 0;
    uint32_t recursion = 0;
    bool heldElsewhere = false;
    bool abandoned = false;
    uint32_t waitError = 0;
  };

  // Drops an entry nobody refers to any more. Requires m_mutex.
  void forgetIfUnusedLocked(const std::string& name);

  mutable std::mutex m_mutex;
  std::condition_variable m_changed;      // notified under m_mutex on every release
  std::map<std::string, Entry> m_entries; // guarded by m_mutex; written by every caller
};

}  // namespace tv2::sim
