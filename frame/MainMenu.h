#pragma once

#include <cstdint>
#include <map>
#include <vector>

class QAction;
class QMenu;
class QMenuBar;

namespace tv2 {

// The main window's menu bar: six popups with every command carrying its
// numeric identifier in QAction::data() and its prompt string as status tip.
// The frame runs the commands; this class only builds the menus and finds an
// item by its identifier. User-interface thread only.
class MainMenu {
 public:
  // One menu item as the menu resource describes it.
  struct Command {
    int32_t id;
    const char* text;
    const char* prompt;  // shown in the status bar while the item is hovered; may be empty
    bool checkable;
  };

  // Fills menuBar with the popups "文件(&F)", "选择(&S)", "动作(&A)", "视图(&V)",
  // "工具(&T)" and "帮助(&H)".
  void build(QMenuBar& menuBar);

  // The item with this identifier among the static ones; null when none.
  QAction* action(int32_t id) const;
  // Every static item.
  std::vector<QAction*> actions() const;
  // "选择(&S)": the left view replaces its placeholder with run-time popups.
  QMenu* selectMenu() const { return m_selectMenu; }

 private:
  std::map<int32_t, QAction*> m_actions;  // items owned by their menus
  QMenu* m_selectMenu = nullptr;           // owned by the menu bar
};

}  // namespace tv2
