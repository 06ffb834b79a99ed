#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/linux/LinuxTrustedFolder.h"

namespace tv2 {

// One lock file as this process uses it: a lock the kernel holds (an
// open-file-description lock, F_OFD_SETLK) shared with other processes, and
// ownership by one thread of this process, recursive for that thread. The
// kernel releases the lock when the holder's process ends; the file then
// still holds the record the holder wrote when it took the lock ("pid
// start-time", the start time from /proc/PID/stat), and the next holder
// knows the lock was abandoned. A thread that ends while holding the lock
// abandons it the same way. A normal release empties the record first.
//
// There is one object per file (by device and inode) and process, shared
// by every handle of that name, so the process takes the kernel lock once.
// Thread-safe.
class LinuxLockFile : public std::enable_shared_from_this<LinuxLockFile> {
 public:
  static constexpr uint32_t kInfinite = 0xFFFFFFFF;

  // Opens (creating when missing, mode 0600) the lock file name in folder.
  // A root caller replaces a file it cannot trust (see
  // LinuxTrustedFolder::openFile); anyone else is refused it. *existed is
  // false only when this call made the file.
  static std::shared_ptr<LinuxLockFile> open(const LinuxTrustedFolder& folder, const std::string& name,
                                             bool* existed, uint32_t* error);

  ~LinuxLockFile();
  LinuxLockFile(const LinuxLockFile&) = delete;
  LinuxLockFile& operator=(const LinuxLockFile&) = delete;

  // kWaitObject0, kWaitAbandoned, kWaitTimeout or kWaitFailed (then
  // lastWaitError() tells why).
  uint32_t wait(uint32_t timeoutMs);
  bool release();
  // The calling thread's last failed wait on any lock file, as a system error code.
  static uint32_t lastWaitError();

  // Called at thread exit for every lock the thread still holds.
  void abandonByExitingThread();

  // Public for std::make_shared only; open() is the way in.
  LinuxLockFile(int fd, dev_t device, ino_t inode);

 private:
  using Clock = std::chrono::steady_clock;

  // The kernel lock, then the record. Called with the process claim held
  // (m_owner is the caller) and m_mutex not held.
  uint32_t takeKernelLock(uint32_t timeoutMs, Clock::time_point deadline);
  void dropKernelLock(bool clearRecord);

  const int m_fd;          // fixed; closed by the destructor
  const dev_t m_device;
  const ino_t m_inode;
  std::mutex m_mutex;
  std::condition_variable m_free;  // signalled when m_owner becomes empty
  // The thread that holds or is taking the kernel lock, and its levels;
  // written by that thread, guarded by m_mutex.
  std::thread::id m_owner;
  uint32_t m_depth = 0;
};

}  // namespace tv2
