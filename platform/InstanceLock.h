#pragma once

namespace tv2 {

// Held by the one running copy of the program. The operating system releases
// it when the process ends, however it ends.
class InstanceLock {
 public:
  virtual ~InstanceLock() = default;
};

}  // namespace tv2
