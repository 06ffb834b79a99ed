#include "platform/linux/SharedMutexRegistry.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <map>
#include <mutex>
#include <utility>

#include "platform/ErrorCodes.h"
#include "platform/linux/LinuxErrors.h"

#if defined(__SANITIZE_THREAD__)
#include <sanitizer/tsan_interface.h>
#endif

namespace tv2 {

namespace {

constexpr uint32_t kBlockMagic = 0x54563258;  // "TV2X"

using ObjectId = std::pair<dev_t, ino_t>;

// The blocks this process has mapped, by the identity of their object (a
// name can be unlinked and made again; a mapped object keeps its inode, so
// identities never repeat). Guarded by registryMutex().
std::mutex& registryMutex() {
  static std::mutex mutex;
  return mutex;
}
std::map<ObjectId, SharedMutexRegistry::Block*>& mappedBlocks() {
  static std::map<ObjectId, SharedMutexRegistry::Block*> blocks;
  return blocks;
}

bool initialiseMutex(pthread_mutex_t* mutex) {
  pthread_mutexattr_t attributes;
  if (pthread_mutexattr_init(&attributes) != 0) return false;
  bool ok = pthread_mutexattr_setpshared(&attributes, PTHREAD_PROCESS_SHARED) == 0 &&
            pthread_mutexattr_setrobust(&attributes, PTHREAD_MUTEX_ROBUST) == 0 &&
            pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE) == 0 &&
            pthread_mutex_init(mutex, &attributes) == 0;
  pthread_mutexattr_destroy(&attributes);
  return ok;
}

// Opens the object, creating it with mode 0600 when it does not exist.
int openObject(const std::string& shmName, uint32_t* error) {
  // Another process may unlink the object between our two opens; a few
  // rounds settle that.
  for (int attempt = 0; attempt < 4; ++attempt) {
    int fd = shm_open(shmName.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0) {
      // shm_open applies the umask; the mode must be exactly owner-only.
      if (fchmod(fd, 0600) != 0) {
        *error = LinuxErrors::fromErrno(errno);
        ::close(fd);
        shm_unlink(shmName.c_str());
        return -1;
      }
      return fd;
    }
    if (errno != EEXIST) {
      *error = LinuxErrors::fromErrno(errno);
      return -1;
    }
    fd = shm_open(shmName.c_str(), O_RDWR | O_CLOEXEC, 0);
    if (fd >= 0) return fd;
    if (errno != ENOENT) {
      *error = LinuxErrors::fromErrno(errno);
      return -1;
    }
  }
  *error = LinuxErrors::kGeneralFailure;
  return -1;
}

// Sizes, maps and (when nobody has yet) initialises the block. Runs under
// flock on the object, so two processes never initialise it at once.
SharedMutexRegistry::Block* mapBlock(int fd, off_t currentSize, bool* initialisedHere,
                                     uint32_t* error) {
  const size_t size = sizeof(SharedMutexRegistry::Block);
  if (static_cast<size_t>(currentSize) < size && ftruncate(fd, static_cast<off_t>(size)) != 0) {
    *error = LinuxErrors::fromErrno(errno);
    return nullptr;
  }
  void* address = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (address == MAP_FAILED) {
    *error = LinuxErrors::fromErrno(errno);
    return nullptr;
  }
  auto* block = static_cast<SharedMutexRegistry::Block*>(address);
  *initialisedHere = false;
  if (block->magic != kBlockMagic) {
    // Never initialised, or its creator died half way: nobody can be using
    // the mutex, as nobody could have seen the magic yet.
    if (!initialiseMutex(&block->mutex)) {
      munmap(address, size);
      *error = LinuxErrors::kGeneralFailure;
      return nullptr;
    }
    block->mutexSize = sizeof(pthread_mutex_t);
    block->magic = kBlockMagic;
    *initialisedHere = true;
  } else if (block->mutexSize != sizeof(pthread_mutex_t)) {
    // Made by a build with another mutex layout; using it would corrupt it.
    munmap(address, size);
    *error = LinuxErrors::kInvalidData;
    return nullptr;
  } else {
#if defined(__SANITIZE_THREAD__)
    // Initialised by another process: ThreadSanitizer did not see the
    // attributes and would take a recursive wait for a double lock.
    __tsan_mutex_create(&block->mutex, __tsan_mutex_write_reentrant);
#endif
  }
  return block;
}

// Unlocks and closes the descriptor on every return path. Closing alone
// would not drop the flock: the lock belongs to the open file, which the
// mapping keeps open.
class LockedFd {
 public:
  explicit LockedFd(int fd) : m_fd(fd) {}
  ~LockedFd() {
    if (m_locked) flock(m_fd, LOCK_UN);
    ::close(m_fd);
  }
  LockedFd(const LockedFd&) = delete;
  LockedFd& operator=(const LockedFd&) = delete;

  bool lock() {
    while (flock(m_fd, LOCK_EX) != 0) {
      if (errno != EINTR) return false;
    }
    m_locked = true;
    return true;
  }

 private:
  int m_fd;
  bool m_locked = false;
};

}  // namespace

SharedMutexRegistry::Block* SharedMutexRegistry::open(const std::string& shmName,
                                                      bool* alreadyExisted, uint32_t* error) {
  uint32_t ignoredError = kOk;
  bool ignoredExisted = false;
  if (error == nullptr) error = &ignoredError;
  if (alreadyExisted == nullptr) alreadyExisted = &ignoredExisted;

  int fd = openObject(shmName, error);
  if (fd < 0) return nullptr;
  LockedFd creationLock(fd);
  if (!creationLock.lock()) {
    *error = LinuxErrors::fromErrno(errno);
    return nullptr;
  }
  struct stat info;
  if (fstat(fd, &info) != 0) {
    *error = LinuxErrors::fromErrno(errno);
    return nullptr;
  }

  std::lock_guard<std::mutex> guard(registryMutex());
  auto& blocks = mappedBlocks();
  ObjectId id{info.st_dev, info.st_ino};
  auto found = blocks.find(id);
  if (found != blocks.end()) {
    *alreadyExisted = true;
    *error = kOk;
    return found->second;
  }
  bool initialisedHere = false;
  Block* block = mapBlock(fd, info.st_size, &initialisedHere, error);
  if (block == nullptr) return nullptr;
  blocks.emplace(id, block);
  *alreadyExisted = !initialisedHere;
  *error = kOk;
  return block;
}

}  // namespace tv2
