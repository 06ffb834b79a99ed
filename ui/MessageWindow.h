#pragma once

#include <cstdint>

namespace tv2 {

// A window that takes the program's messages: the frame and both views. Each
// implements sendMessage as one dispatch through a table from message number
// to handler; unknown numbers answer 0. User-interface thread only.
class MessageWindow {
 public:
  virtual ~MessageWindow() = default;
  virtual intptr_t sendMessage(uint32_t message, uintptr_t wParam, intptr_t lParam) = 0;
};

}  // namespace tv2
