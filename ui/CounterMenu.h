#pragma once

#include <memory>

#include "app/ConfigurationMenu.h"

class QMenu;

namespace tv2 {

// A configuration's counter popup: one item per processor-summary counter,
// command 0x1000 + counter index. It sits under "选择(&S)" as "计数器" while its
// configuration is current and doubles as the graph slots' context menu. The
// configuration owns it; destroying it takes the popup out of every menu.
// User-interface thread only.
class CounterMenu : public ConfigurationMenu {
 public:
  CounterMenu();
  ~CounterMenu() override;
  CounterMenu(const CounterMenu&) = delete;
  CounterMenu& operator=(const CounterMenu&) = delete;

  QMenu* menu() const { return m_menu.get(); }

 private:
  std::unique_ptr<QMenu> m_menu;
};

}  // namespace tv2
