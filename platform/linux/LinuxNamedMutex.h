#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/NamedMutex.h"
#include "platform/linux/SharedMutexRegistry.h"

namespace tv2 {

// A robust, recursive, process-shared pthread mutex in POSIX shared memory,
// reachable by name from every process of the user who created it (mode 0600,
// so other users get kErrorAccessDenied). Ownership belongs to a thread; a
// process or thread that ends while owning it leaves it abandoned, and the
// next waiter gets kWaitAbandoned and owns it.
//
// The object stays in /dev/shm after the last user closes it, like any POSIX
// shared memory; the next opener finds it initialised and unowned.
class LinuxNamedMutex : public NamedMutex {
 public:
  // Waits without a time limit.
  static constexpr uint32_t kInfinite = 0xFFFFFFFF;

  // Opens or creates the mutex that the program calls `name`.
  static std::unique_ptr<LinuxNamedMutex> open(std::string_view prefix, std::string_view name,
                                               bool* alreadyExisted, uint32_t* error);

  // The shared-memory object name of a program name: "/" + prefix + name with
  // '\' and '/' turned into '-' ("Global\kzor" -> "/tarvelle2-Global-kzor").
  // kErrorInvalidParameter for an empty name, a NUL character or a result
  // longer than a file name may be.
  static uint32_t shmName(std::string_view prefix, std::string_view name, std::string* out);

  // Removes the object's name so the next open creates a fresh mutex;
  // processes that have it open keep using the old one.
  static uint32_t remove(std::string_view prefix, std::string_view name);

  uint32_t wait(uint32_t timeoutMs) override;
  bool release() override;

 private:
  explicit LinuxNamedMutex(SharedMutexRegistry::Block* block);

  // Mapped for the life of the process by SharedMutexRegistry; the pointer
  // never changes, the mutex inside synchronises itself.
  SharedMutexRegistry::Block* const m_block;
};

}  // namespace tv2
