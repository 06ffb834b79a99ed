#pragma once

#include <pthread.h>

#include <cstdint>
#include <string>

namespace tv2 {

// Maps the shared-memory objects that hold named mutexes, once per object and
// for the rest of the process's life.
//
// Once per object: glibc keeps the robust mutexes a thread owns on a list of
// their addresses, so locking through one mapping and unlocking through
// another would corrupt that list. For the rest of the process: a thread may
// still own a mutex when the last LinuxNamedMutex of its name goes away, and
// unmapping would leave that list pointing at nothing. The cost is one page
// per distinct mutex object the process opens.
class SharedMutexRegistry {
 public:
  // The mutex's layout in shared memory. The magic is written last, under
  // the creation lock, so a block with the right magic is initialised.
  struct Block {
    uint32_t magic;
    uint32_t mutexSize;
    pthread_mutex_t mutex;
  };

  // Opens or creates the object shmName ("/name", already mapped from the
  // program's name), mode 0600. *alreadyExisted is false only when this call
  // initialised the mutex. Returns null and sets *error on failure. Safe from
  // any thread.
  static Block* open(const std::string& shmName, bool* alreadyExisted, uint32_t* error);
};

}  // namespace tv2
