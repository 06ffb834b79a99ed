#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/FileService.h"
#include "platform/InstanceLock.h"
#include "platform/NamedMutex.h"
#include "platform/ProcessorService.h"
#include "platform/ProcessorTimesService.h"

namespace tv2 {

// Everything the program needs from its operating system. main() picks the
// Linux platform, tests and demonstrations the simulated machine.
class Platform {
 public:
  virtual ~Platform() = default;

  virtual ProcessorService& processors() = 0;
  // Null when the system cannot report per-processor times; usage is then not
  // sampled.
  virtual ProcessorTimesService* processorTimes() = 0;
  virtual FileService& files() = 0;

  // Opens or creates the named mutex (not owned). *alreadyExisted tells whether
  // it existed before; *error receives the failure code when null is returned.
  virtual std::unique_ptr<NamedMutex> createNamedMutex(const std::string& name,
                                                       bool* alreadyExisted,
                                                       uint32_t* error) = 0;

  // Null when another running copy holds the lock of that name.
  virtual std::unique_ptr<InstanceLock> acquireInstanceLock(const std::string& name) = 0;

  virtual void sleepMs(uint32_t milliseconds) = 0;
};

}  // namespace tv2
