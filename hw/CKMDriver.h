#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/NamedMutex.h"

namespace tv2 {

class Platform;

// The client of the privileged driver host. Every use of the device is
// bracketed by the driver lock, a named mutex shared with every other program
// that uses the same driver; the device is open only while the lock is held.
//
// This stage provides the lock: Acquire waits for the shared mutex and
// Release gives it back. Installing the driver host, opening its device and the
// register requests come with the driver host itself; until then no client is
// created by start-up and every hardware request fails.
//
// Threads: Acquire and Release may be called from any thread; the mutex is
// owned per thread (recursive for its owner). m_mutex is set before any
// sampler thread exists and cleared after they are joined.
class CKMDriver {
 public:
  explicit CKMDriver(Platform& platform);
  virtual ~CKMDriver();
  CKMDriver(const CKMDriver&) = delete;
  CKMDriver& operator=(const CKMDriver&) = delete;

  // Creates (or opens) the shared mutex of the given name, not owned.
  bool CreateDriverMutex(const std::string& name, uint32_t* error);

  // 1 with the lock held, 0 with it not held; error receives
  // DRIVER_ERR_NO_MUTEX without a mutex, 258 on timeout, 128 when the previous
  // owner died holding it (the lock is then given back at once).
  int Acquire(uint32_t* error, uint32_t timeoutMs);
  void Release();

  // Forgets the mutex.
  void CloseDriverMutex();

 private:
  Platform& m_platform;
  std::unique_ptr<NamedMutex> m_mutex;
};

}  // namespace tv2
