#include "ui/CounterMenu.h"

#include <QMenu>

namespace tv2 {

CounterMenu::CounterMenu() : m_menu(std::make_unique<QMenu>(QStringLiteral("计数器"))) {}

CounterMenu::~CounterMenu() = default;

}  // namespace tv2
