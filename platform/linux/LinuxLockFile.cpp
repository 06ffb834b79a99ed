#include "platform/linux/LinuxLockFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <map>
#include <utility>
#include <vector>

#include "platform/ErrorCodes.h"
#include "platform/linux/LinuxErrors.h"

namespace tv2 {

namespace {

constexpr size_t kMaxRecord = 64;

// Why the calling thread's last wait failed. Per thread, as the caller asks
// right after its own wait.
thread_local uint32_t t_lastWaitError = kOk;

using FileId = std::pair<dev_t, ino_t>;

// Every lock file this process has open. Guarded by registryMutex().
std::mutex& registryMutex() {
  static std::mutex mutex;
  return mutex;
}
std::map<FileId, std::weak_ptr<LinuxLockFile>>& openFiles() {
  static std::map<FileId, std::weak_ptr<LinuxLockFile>> files;
  return files;
}

// The locks the current thread holds, abandoned when it ends. Touched only
// by its own thread.
struct HeldLocks {
  std::vector<std::weak_ptr<LinuxLockFile>> locks;
  ~HeldLocks() {
    std::vector<std::weak_ptr<LinuxLockFile>> held;
    held.swap(locks);
    for (auto& weak : held)
      if (auto lock = weak.lock()) lock->abandonByExitingThread();
  }
};
thread_local HeldLocks t_held;

// "pid start-time\n": the start time (clock ticks after boot, field 22 of
// /proc/PID/stat) tells this process from a later one with the same pid.
std::string holderRecord() {
  static std::mutex cacheMutex;
  static pid_t cachedPid = 0;     // guarded by cacheMutex
  static std::string cached;      // guarded by cacheMutex
  std::lock_guard<std::mutex> guard(cacheMutex);
  pid_t pid = ::getpid();
  if (pid == cachedPid) return cached;
  std::string startTime = "0";
  int fd = ::open("/proc/self/stat", O_RDONLY | O_CLOEXEC);
  if (fd >= 0) {
    char buffer[1024];
    ssize_t n = ::read(fd, buffer, sizeof buffer - 1);
    ::close(fd);
    std::string text(buffer, n > 0 ? static_cast<size_t>(n) : 0);
    // Fields after the command name, which may hold blanks: state is field 3,
    // the start time field 22.
    size_t at = text.rfind(')');
    int field = 2;
    while (at != std::string::npos && field < 21) {
      at = text.find(' ', at + 1);
      ++field;
    }
    if (at != std::string::npos) {
      size_t end = text.find(' ', at + 1);
      std::string value = text.substr(at + 1, end == std::string::npos ? std::string::npos : end - at - 1);
      if (!value.empty() && value.find_first_not_of("0123456789") == std::string::npos) startTime = value;
    }
  }
  cachedPid = pid;
  cached = std::to_string(pid) + " " + startTime + "\n";
  return cached;
}

void forgetHeld(LinuxLockFile* lock) {
  auto& locks = t_held.locks;
  locks.erase(std::remove_if(locks.begin(), locks.end(),
                             [lock](const std::weak_ptr<LinuxLockFile>& weak) {
                               auto held = weak.lock();
                               return !held || held.get() == lock;
                             }),
              locks.end());
}

uint32_t failWith(int error) {
  t_lastWaitError = LinuxErrors::fromErrno(error);
  return kWaitFailed;
}

}  // namespace

LinuxLockFile::LinuxLockFile(int fd, dev_t device, ino_t inode) : m_fd(fd), m_device(device), m_inode(inode) {}

LinuxLockFile::~LinuxLockFile() {
  {
    std::lock_guard<std::mutex> guard(registryMutex());
    auto found = openFiles().find(FileId{m_device, m_inode});
    if (found != openFiles().end() && found->second.expired()) openFiles().erase(found);
  }
  // A lock still held goes with the descriptor, its record left behind:
  // the next holder learns it was abandoned.
  ::close(m_fd);
}

std::shared_ptr<LinuxLockFile> LinuxLockFile::open(const LinuxTrustedFolder& folder, const std::string& name,
                                                   bool* existed, uint32_t* error) {
  uint32_t spareError = kOk;
  uint32_t& err = error != nullptr ? *error : spareError;
  bool created = false;
  // In a folder shared with a group, the group's members lock the same file.
  const mode_t mode = folder.trust().group != LinuxTrust::kNoGroup ? 0660 : 0600;
  int fd = folder.openFile(name, mode, ::geteuid() == 0, &created, &err);
  if (fd < 0) return nullptr;
  struct stat info;
  if (::fstat(fd, &info) != 0) {
    err = LinuxErrors::fromErrno(errno);
    ::close(fd);
    return nullptr;
  }
  if (existed != nullptr) *existed = !created;
  std::lock_guard<std::mutex> guard(registryMutex());
  FileId id{info.st_dev, info.st_ino};
  auto& files = openFiles();
  auto found = files.find(id);
  if (found != files.end()) {
    if (auto shared = found->second.lock()) {
      ::close(fd);
      if (existed != nullptr) *existed = true;
      err = kOk;
      return shared;
    }
  }
  auto lock = std::make_shared<LinuxLockFile>(fd, info.st_dev, info.st_ino);
  files[id] = lock;
  err = kOk;
  return lock;
}

uint32_t LinuxLockFile::lastWaitError() { return t_lastWaitError; }

uint32_t LinuxLockFile::wait(uint32_t timeoutMs) {
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  const std::thread::id me = std::this_thread::get_id();
  std::unique_lock<std::mutex> lock(m_mutex);
  if (m_owner == me) {
    if (m_depth == UINT32_MAX) return failWith(EOVERFLOW);
    ++m_depth;
    return kWaitObject0;
  }
  // Another thread of this process holds it or is taking it.
  while (m_owner != std::thread::id()) {
    if (timeoutMs == 0) return kWaitTimeout;
    if (timeoutMs == kInfinite) {
      m_free.wait(lock);
    } else if (m_free.wait_until(lock, deadline) == std::cv_status::timeout &&
               m_owner != std::thread::id()) {
      return kWaitTimeout;
    }
  }
  m_owner = me;
  m_depth = 0;
  lock.unlock();
  uint32_t result = takeKernelLock(timeoutMs, deadline);
  lock.lock();
  if (result != kWaitObject0 && result != kWaitAbandoned) {
    m_owner = std::thread::id();
    m_free.notify_one();
    return result;
  }
  m_depth = 1;
  lock.unlock();
  t_held.locks.push_back(weak_from_this());
  return result;
}

uint32_t LinuxLockFile::takeKernelLock(uint32_t timeoutMs, Clock::time_point deadline) {
  struct flock whole {};
  whole.l_type = F_WRLCK;
  whole.l_whence = SEEK_SET;
  if (timeoutMs == kInfinite) {
    while (::fcntl(m_fd, F_OFD_SETLKW, &whole) != 0)
      if (errno != EINTR) return failWith(errno);
  } else {
    // Polled: a blocking wait cannot be given a time limit. A millisecond
    // between tries keeps the hand-over quick and the cost small.
    while (::fcntl(m_fd, F_OFD_SETLK, &whole) != 0) {
      if (errno != EAGAIN && errno != EACCES && errno != EINTR) return failWith(errno);
      if (timeoutMs == 0 || Clock::now() >= deadline) return kWaitTimeout;
      timespec pause{0, 1'000'000L};
      ::nanosleep(&pause, nullptr);
    }
  }
  // A record left behind belongs to a holder that ended without releasing.
  char previous[kMaxRecord];
  ssize_t found = ::pread(m_fd, previous, sizeof previous, 0);
  if (found < 0) {
    int error = errno;
    dropKernelLock(false);
    return failWith(error);
  }
  std::string record = holderRecord();
  if (::ftruncate(m_fd, 0) != 0 ||
      ::pwrite(m_fd, record.data(), record.size(), 0) != static_cast<ssize_t>(record.size())) {
    // Without its record the lock could not tell a later holder that this
    // one died; it is not taken at all.
    int error = errno != 0 ? errno : EIO;
    dropKernelLock(found == 0);
    return failWith(error);
  }
  return found > 0 ? kWaitAbandoned : kWaitObject0;
}

void LinuxLockFile::dropKernelLock(bool clearRecord) {
  if (clearRecord) ::ftruncate(m_fd, 0);
  struct flock whole {};
  whole.l_type = F_UNLCK;
  whole.l_whence = SEEK_SET;
  ::fcntl(m_fd, F_OFD_SETLK, &whole);
}

bool LinuxLockFile::release() {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_owner != std::this_thread::get_id() || m_depth == 0) return false;
  if (--m_depth > 0) return true;
  dropKernelLock(true);
  m_owner = std::thread::id();
  m_free.notify_one();
  forgetHeld(this);
  return true;
}

void LinuxLockFile::abandonByExitingThread() {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_owner != std::this_thread::get_id() || m_depth == 0) return;
  // The record stays: whoever takes the lock next learns it was abandoned.
  dropKernelLock(false);
  m_depth = 0;
  m_owner = std::thread::id();
  m_free.notify_one();
}

}  // namespace tv2
