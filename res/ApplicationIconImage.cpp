#include "res/ApplicationIconImage.h"

#include <cstddef>

// Defined by ApplicationIconImage.S around the SVG's bytes.
extern "C" const uint8_t tv2_application_icon_begin[];
extern "C" const uint8_t tv2_application_icon_end[];

namespace tv2 {

std::span<const uint8_t> applicationIconSvg() {
  return {tv2_application_icon_begin, static_cast<size_t>(tv2_application_icon_end - tv2_application_icon_begin)};
}

}  // namespace tv2
