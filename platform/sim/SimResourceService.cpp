#include "platform/sim/SimResourceService.h"

#include <utility>

#include "platform/ErrorCodes.h"

namespace tv2::sim {

std::span<const uint8_t> SimResourceService::hostImage() {
  static constexpr char kImage[] = "\x7F" "ELF simulated driver host 0x138";
  return std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(kImage), sizeof kImage - 1);
}

SimResourceService::SimResourceService() {
  std::span<const uint8_t> image = hostImage();
  m_resources[106] = {};
  m_resources[107] = {};
  m_resources[kHostImageId] = std::vector<uint8_t>(image.begin(), image.end());
  m_resources[109] = {};
}

void SimResourceService::setResource(uint32_t id, std::vector<uint8_t> bytes) {
  std::lock_guard lock(m_mutex);
  m_resources[id] = std::move(bytes);
}

void SimResourceService::removeResource(uint32_t id) {
  std::lock_guard lock(m_mutex);
  m_resources.erase(id);
}

uint32_t SimResourceService::find(uint32_t id, std::span<const uint8_t>* out) {
  std::lock_guard lock(m_mutex);
  if (out == nullptr) return kErrorInvalidParameter;
  *out = {};
  auto found = m_resources.find(id);
  if (found == m_resources.end()) return kErrorResourceNameNotFound;
  if (found->second.empty()) return kErrorResourceDataNotFound;
  *out = std::span<const uint8_t>(found->second.data(), found->second.size());
  return kOk;
}

}  // namespace tv2::sim
