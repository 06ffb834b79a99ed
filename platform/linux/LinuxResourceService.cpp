#include "platform/linux/LinuxResourceService.h"

#include "platform/ErrorCodes.h"

namespace tv2 {

uint32_t LinuxResourceService::find(uint32_t id, std::span<const uint8_t>* out) {
  if (out == nullptr) return kErrorInvalidParameter;
  *out = {};
  for (const EmbeddedResource& resource : m_resources) {
    if (resource.id != id) continue;
    if (resource.data == nullptr || resource.size == 0) return kErrorResourceDataNotFound;
    *out = std::span<const uint8_t>(resource.data, resource.size);
    return kOk;
  }
  return kErrorResourceNameNotFound;
}

}  // namespace tv2
