#include "ui/MenuCommands.h"

#include <QAction>
#include <QMenu>
#include <QVariant>

namespace tv2 {

QAction* findCommand(const QMenu* menu, int32_t id) {
  if (menu == nullptr) return nullptr;
  for (QAction* action : menu->actions()) {
    if (action->data().isValid() && action->data().toInt() == id) return action;
  }
  return nullptr;
}

QAction* addCommand(QMenu* menu, int32_t id, const QString& text) {
  QAction* action = menu->addAction(text);
  action->setData(QVariant(static_cast<int>(id)));
  action->setCheckable(true);
  action->setChecked(false);
  return action;
}

void setCommand(const QMenu* menu, int32_t id, const QString& text, bool checked) {
  QAction* action = findCommand(menu, id);
  if (action == nullptr) return;
  action->setText(text);
  action->setCheckable(true);
  action->setChecked(checked);
}

QAction* findItemByText(const QMenu* menu, const QString& text) {
  if (menu == nullptr) return nullptr;
  for (QAction* action : menu->actions()) {
    if (action->text() == text) return action;
  }
  return nullptr;
}

}  // namespace tv2
