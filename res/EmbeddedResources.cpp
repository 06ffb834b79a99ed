#include "res/EmbeddedResources.h"

// Defined by EmbeddedImages.S around the host's bytes.
extern "C" const uint8_t tv2_resource_108_begin[];
extern "C" const uint8_t tv2_resource_108_end[];

namespace tv2 {

std::span<const EmbeddedResource> embeddedResources() {
  static const EmbeddedResource kResources[] = {
      {106, nullptr, 0},
      {107, nullptr, 0},
      {108, tv2_resource_108_begin, static_cast<size_t>(tv2_resource_108_end - tv2_resource_108_begin)},
      {109, nullptr, 0},
  };
  return kResources;
}

}  // namespace tv2
