#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include <QCursor>

namespace tv2 {

// The links' pointing hand: a black outline filled white, drawn into the
// top-left 16 x 16 pixels of a cursor of the system's cursor size, from AND
// and XOR masks (AND 1 XOR 0 lets the screen through, AND 0 XOR 0 is black,
// AND 0 XOR 1 is white).
class LinkCursor {
 public:
  static constexpr int kHandSize = 16;
  using HandRows = std::array<uint16_t, kHandSize>;  // bit 15 is the leftmost pixel

  static const HandRows& andMask();
  static const HandRows& xorMask();

  // The hand for a cursor cell of size pixels: 32 with its hot spot at (8, 1),
  // 16 with its hot spot at (4, 0). Other sizes have no hand of their own and
  // the link keeps the standard cursor.
  static std::optional<QCursor> create(int size);

  // The size of the cursor cell the links draw for. Qt's own bitmap cursors
  // use the 32-pixel cell, and the window system scales it to the user's
  // cursor size.
  static int systemCursorSize() { return 32; }
};

}  // namespace tv2
