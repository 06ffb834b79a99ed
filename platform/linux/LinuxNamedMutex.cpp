#include "platform/linux/LinuxNamedMutex.h"

#include <limits.h>
#include <sys/mman.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "platform/ErrorCodes.h"
#include "platform/linux/LinuxErrors.h"

namespace tv2 {

namespace {

timespec deadlineAfter(uint32_t timeoutMs) {
  timespec deadline{};
  clock_gettime(CLOCK_MONOTONIC, &deadline);
  deadline.tv_sec += static_cast<time_t>(timeoutMs / 1000);
  deadline.tv_nsec += static_cast<long>(timeoutMs % 1000) * 1'000'000L;
  if (deadline.tv_nsec >= 1'000'000'000L) {
    deadline.tv_sec += 1;
    deadline.tv_nsec -= 1'000'000'000L;
  }
  return deadline;
}

int lockUntil(pthread_mutex_t* mutex, const timespec& deadline) {
#if defined(__SANITIZE_THREAD__)
  // ThreadSanitizer (GCC 12) does not intercept pthread_mutex_clocklock and
  // misses EOWNERDEAD from pthread_mutex_timedlock, so it would lose track of
  // the owner and then report the release. Sanitized builds poll trylock,
  // which it follows fully; the results are the same.
  for (;;) {
    int result = pthread_mutex_trylock(mutex);
    if (result != EBUSY) return result;
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    if (now.tv_sec > deadline.tv_sec ||
        (now.tv_sec == deadline.tv_sec && now.tv_nsec >= deadline.tv_nsec)) {
      return ETIMEDOUT;
    }
    timespec pause{0, 1'000'000L};
    nanosleep(&pause, nullptr);
  }
#else
  return pthread_mutex_clocklock(mutex, CLOCK_MONOTONIC, &deadline);
#endif
}

}  // namespace

LinuxNamedMutex::LinuxNamedMutex(SharedMutexRegistry::Block* block) : m_block(block) {}

uint32_t LinuxNamedMutex::shmName(std::string_view prefix, std::string_view name,
                                  std::string* out) {
  if (name.empty()) return kErrorInvalidParameter;
  std::string result = "/";
  result.reserve(1 + prefix.size() + name.size());
  for (std::string_view part : {prefix, name}) {
    for (char c : part) {
      if (c == '\0') return kErrorInvalidParameter;
      result.push_back(c == '\\' || c == '/' ? '-' : c);
    }
  }
  // The name after the slash is a file name in /dev/shm.
  if (result.size() - 1 > NAME_MAX) return kErrorInvalidParameter;
  *out = std::move(result);
  return kOk;
}

std::unique_ptr<LinuxNamedMutex> LinuxNamedMutex::open(std::string_view prefix,
                                                       std::string_view name, bool* alreadyExisted,
                                                       uint32_t* error) {
  uint32_t ignoredError = kOk;
  if (error == nullptr) error = &ignoredError;
  if (alreadyExisted != nullptr) *alreadyExisted = false;
  std::string objectName;
  *error = shmName(prefix, name, &objectName);
  if (*error != kOk) return nullptr;
  SharedMutexRegistry::Block* block = SharedMutexRegistry::open(objectName, alreadyExisted, error);
  if (block == nullptr) return nullptr;
  return std::unique_ptr<LinuxNamedMutex>(new LinuxNamedMutex(block));
}

uint32_t LinuxNamedMutex::remove(std::string_view prefix, std::string_view name) {
  std::string objectName;
  uint32_t result = shmName(prefix, name, &objectName);
  if (result != kOk) return result;
  if (shm_unlink(objectName.c_str()) != 0) return LinuxErrors::fromErrno(errno);
  return kOk;
}

uint32_t LinuxNamedMutex::wait(uint32_t timeoutMs) {
  pthread_mutex_t* mutex = &m_block->mutex;
  int result = 0;
  if (timeoutMs == 0) {
    result = pthread_mutex_trylock(mutex);
  } else if (timeoutMs == kInfinite) {
    result = pthread_mutex_lock(mutex);
  } else {
    result = lockUntil(mutex, deadlineAfter(timeoutMs));
  }

  switch (result) {
    case 0:
      return kWaitObject0;
    case EOWNERDEAD:
      // The owner ended without releasing. We own it now; marking it
      // consistent keeps it usable after our release.
      if (pthread_mutex_consistent(mutex) != 0) {
        pthread_mutex_unlock(mutex);
        return kWaitFailed;
      }
      return kWaitAbandoned;
    case ETIMEDOUT:
    case EBUSY:
      return kWaitTimeout;
    default:
      return kWaitFailed;
  }
}

bool LinuxNamedMutex::release() {
  // glibc records the owner's thread id in the mutex and would refuse other
  // threads with EPERM; asking first keeps a refused release from looking
  // like an unlock to ThreadSanitizer.
  if (__atomic_load_n(&m_block->mutex.__data.__owner, __ATOMIC_RELAXED) != gettid()) return false;
  return pthread_mutex_unlock(&m_block->mutex) == 0;
}

}  // namespace tv2
