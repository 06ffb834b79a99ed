#pragma once

#include <cstdint>

namespace tv2 {

// The wire is little-endian whatever the host's byte order; these helpers
// read and write one field at an unaligned place.
inline uint32_t loadLe32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

inline void storeLe32(uint8_t* p, uint32_t value) {
  p[0] = static_cast<uint8_t>(value);
  p[1] = static_cast<uint8_t>(value >> 8);
  p[2] = static_cast<uint8_t>(value >> 16);
  p[3] = static_cast<uint8_t>(value >> 24);
}

inline uint64_t loadLe64(const uint8_t* p) {
  return static_cast<uint64_t>(loadLe32(p)) | static_cast<uint64_t>(loadLe32(p + 4)) << 32;
}

}  // namespace tv2
