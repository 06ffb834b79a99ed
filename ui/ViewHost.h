#pragma once

#include <cstdint>

class QMenu;
class QWidget;

namespace tv2 {

struct SharedDrawingObjects;

// What the views need from the main window. The main frame implements it;
// view tests substitute their own. User-interface thread only.
class ViewHost {
 public:
  virtual ~ViewHost() = default;

  // A synchronous send to the main window: relayed messages reach every pane,
  // left column first, before this returns.
  virtual intptr_t sendToFrame(uint32_t message, uintptr_t wParam, intptr_t lParam) = 0;
  // The menu bar's submenu at position 1 ("选择(&S)"); null without a menu bar.
  virtual QMenu* selectMenu() = 0;
  // Gives the main window its menu bar again after the popups changed.
  virtual void refreshMenuBar() = 0;
  // Runs a menu command as if chosen from the menu bar (a context menu's choice).
  virtual void runCommand(int32_t id) = 0;
  // The owner of context menus and dialogs.
  virtual QWidget* mainWindow() = 0;
  // Fonts and the white brush shared by the views.
  virtual const SharedDrawingObjects& drawingObjects() const = 0;
};

}  // namespace tv2
