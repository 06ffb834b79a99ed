#pragma once

#include <cstdint>

namespace tv2 {

// Turns the errno values of the Linux services into the numeric codes the
// program compares, and names the few codes only this implementation returns.
class LinuxErrors {
 public:
  // A file the service reads exists but does not have the expected content
  // (a malformed /proc/stat or sysfs file).
  static constexpr uint32_t kInvalidData = 13;
  // The file was readable but the item asked for is not in it, such as a
  // processor that went offline and left /proc/stat.
  static constexpr uint32_t kNotFound = 1168;
  // Any other failure of the system call.
  static constexpr uint32_t kGeneralFailure = 31;

  static uint32_t fromErrno(int error);
};

}  // namespace tv2
