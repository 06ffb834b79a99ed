#pragma once

#include <QString>

#include <cstdint>

class QAction;
class QMenu;

namespace tv2 {

// Menu items are actions whose data() holds their command id; these find and
// add them by that id. User-interface thread only.

// The first item of the menu (not of its submenus) with the command id, or null.
QAction* findCommand(const QMenu* menu, int32_t id);

// Appends a checkable, unchecked item.
QAction* addCommand(QMenu* menu, int32_t id, const QString& text);

// Rewrites an item's text and check mark; a missing item is skipped.
void setCommand(const QMenu* menu, int32_t id, const QString& text, bool checked);

// The first item whose text (mnemonic markers included) is text, or null.
QAction* findItemByText(const QMenu* menu, const QString& text);

}  // namespace tv2
