#pragma once

#include <cstdint>

namespace tv2 {

// What a configuration switch and a profile tell the views: the left view
// implements it once the window layer lands. Every call happens on the
// user-interface thread, in the order the switch makes it. The defaults do
// nothing, for runs without a window.
class ConfigurationViews {
 public:
  virtual ~ConfigurationViews() = default;

  // Message 0x429 to the main window: the graph slots let go of their counters
  // before the counters are rebuilt.
  virtual void clearGraphSlots() {}
  // The left view rebuilds its counter lists and menu check marks.
  virtual void refreshCounterLists() {}
  // Message 0x425 to the main window: show the counter with this index
  // (bits 16-24 of its identity) in graph slot 0-3.
  virtual void assignGraph(int32_t /*counterIndex*/, int32_t /*slot*/) {}
};

}  // namespace tv2
