#pragma once

#include <span>

#include "platform/ResourceService.h"
#include "res/EmbeddedResources.h"

namespace tv2 {

// The resources assembled into the program (res/). Holds only a view of
// read-only data, so any thread may use it.
class LinuxResourceService : public ResourceService {
 public:
  LinuxResourceService() : m_resources(embeddedResources()) {}
  // A table of the caller's, for tests.
  explicit LinuxResourceService(std::span<const EmbeddedResource> resources) : m_resources(resources) {}

  uint32_t find(uint32_t id, std::span<const uint8_t>* out) override;

 private:
  const std::span<const EmbeddedResource> m_resources;
};

}  // namespace tv2
