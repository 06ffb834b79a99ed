#pragma once

#include <cstdint>

namespace tv2 {

// The operating system's family and version as the program compares them.
// The Linux platform reports the NT family (every Linux service the program
// uses behaves like that family's) with the running kernel's version.
struct SystemVersion {
  static constexpr int32_t kPlatformWindows9x = 1;
  static constexpr int32_t kPlatformNt = 2;

  int32_t platformId = -1;
  uint32_t major = 0;
  uint32_t minor = 0;
};

}  // namespace tv2
