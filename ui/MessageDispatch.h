#pragma once

#include <cstddef>
#include <cstdint>

namespace tv2 {

// One row of a window's message table: a message number and the member that
// handles it.
template <typename Window>
struct MessageHandlerEntry {
  uint32_t message;
  intptr_t (Window::*handler)(uintptr_t wParam, intptr_t lParam);
};

// The dispatch every window runs from sendMessage: the first row with the
// number handles the message; a number without a row answers 0.
template <typename Window, size_t N>
intptr_t dispatchMessage(Window& window, const MessageHandlerEntry<Window> (&table)[N], uint32_t message,
                         uintptr_t wParam, intptr_t lParam) {
  for (const MessageHandlerEntry<Window>& entry : table) {
    if (entry.message == message) return (window.*entry.handler)(wParam, lParam);
  }
  return 0;
}

}  // namespace tv2
