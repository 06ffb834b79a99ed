#pragma once

#include <cstdint>
#include <span>

namespace tv2 {

// The application icon's SVG text (res/tarvelle2.svg, compiled into the
// program), so the window and the dialogs need no file at run time.
std::span<const uint8_t> applicationIconSvg();

}  // namespace tv2
