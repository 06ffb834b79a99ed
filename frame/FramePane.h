#pragma once

#include <cstdint>
#include <functional>

class QWidget;

namespace tv2 {

class MessageWindow;
class ViewHost;

// One view in a splitter column: the widget the splitter places, the message
// window the frame relays to (null for a pane that takes no messages) and the
// first update the frame runs once both columns are placed.
struct FramePane {
  QWidget* widget = nullptr;           // owned by the splitter (Qt parent)
  MessageWindow* window = nullptr;     // the same object, seen as a message window
  std::function<void()> initialUpdate;
};

// Which view a pane shows.
enum class PaneKind : int32_t {
  kLeftView,   // the four graph slots (CLeftView)
  kRightView,  // the processor panel and per-processor graphs (CView1)
};

// Creates a view as a child of parent. The frame uses the real views unless a
// test substitutes its own panes.
using PaneFactory = std::function<FramePane(PaneKind kind, ViewHost& host, QWidget* parent)>;

}  // namespace tv2
