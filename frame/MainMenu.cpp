#include "frame/MainMenu.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>

#include "ui/WindowMessages.h"

namespace tv2 {

namespace {

constexpr int32_t kSeparator = 0;

struct Popup {
  const char* title;
  std::vector<MainMenu::Command> items;  // id kSeparator: a separator
};

// The menu resource. Items whose prompt is empty have no prompt string; the
// three framework commands carry the framework's standard prompts.
const std::vector<Popup>& menuResource() {
  static const std::vector<Popup> popups = {
      {"文件(&F)",
       {{kCmdLoadProfile, "载入保存的配置文件", "Load a .tv2 profile file", false},
        {kCmdSaveProfile, "保存当前配置文件", "Save current profile to a .tv2 profile file", false},
        {kCmdSaveReport, "保存DBG报告", "", false},
        {kSeparator, "", "", false},
        {kCmdExit, "退出(&X)", "Quit the application", false}}},
      {"选择(&S)", {{kCmdPlaceholder, "占位符", "", false}}},
      {"动作(&A)",
       {{kCmdPause, "暂停计数(&P)", "Pause all counters", true},
        {kCmdClear, "清除计数记录(&C)", "Clear graphs", false}}},
      {"视图(&V)",
       {{kCmdSwapViews, "还原视窗(&R)", "Revert right and left views", false},
        {kCmdKeepRatio, "保持视窗宽度比(&M)", "", true},
        {kCmdStatusBar, "状态栏(&S)", "Show or hide the status bar", true}}},
      {"工具(&T)", {{kCmdCheckUpdates, "检查更新", "", false}}},
      {"帮助(&H)",
       {{kCmdAbout, "关于 Tarvelle2(&A)...", "Display program information, version number and copyright", false}}},
  };
  return popups;
}

}  // namespace

void MainMenu::build(QMenuBar& menuBar) {
  m_actions.clear();
  for (const Popup& popup : menuResource()) {
    QMenu* menu = menuBar.addMenu(QString::fromUtf8(popup.title));
    if (m_selectMenu == nullptr && popup.items.size() == 1 && popup.items[0].id == kCmdPlaceholder) {
      m_selectMenu = menu;
    }
    for (const Command& item : popup.items) {
      if (item.id == kSeparator) {
        menu->addSeparator();
        continue;
      }
      QAction* action = menu->addAction(QString::fromUtf8(item.text));
      action->setData(item.id);
      action->setStatusTip(QString::fromUtf8(item.prompt));
      // Choosing a checkable item flips its mark; the frame then sets every
      // mark again from its own state, which stays the only truth.
      action->setCheckable(item.checkable);
      m_actions[item.id] = action;
    }
  }
}

std::vector<QAction*> MainMenu::actions() const {
  std::vector<QAction*> all;
  for (const auto& [id, action] : m_actions) all.push_back(action);
  return all;
}

QAction* MainMenu::action(int32_t id) const {
  auto it = m_actions.find(id);
  return it == m_actions.end() ? nullptr : it->second;
}

}  // namespace tv2
