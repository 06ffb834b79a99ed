#pragma once

#include <cstdint>
#include <span>

namespace tv2 {

// Failures of ResourceService::find.
inline constexpr uint32_t kErrorResourceDataNotFound = 1812;  // the resource is empty
inline constexpr uint32_t kErrorResourceNameNotFound = 1814;  // no resource of that number

// Binary resources compiled into the program, by number. The bytes live as
// long as the program; every method may be called from any thread.
class ResourceService {
 public:
  virtual ~ResourceService() = default;

  // kOk with the resource's bytes, or one of the errors above (out then empty).
  virtual uint32_t find(uint32_t id, std::span<const uint8_t>* out) = 0;
};

}  // namespace tv2
