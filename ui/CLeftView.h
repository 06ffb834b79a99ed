#pragma once

#include <QWidget>

#include <array>
#include <cstdint>
#include <memory>

#include "app/ConfigurationViews.h"
#include "ui/MessageWindow.h"

class QAction;
class QMenu;

namespace tv2 {

class CCountersConfig;
class CGraphControl;
class CProcessor_2;
class CTarvelle2App;
class StaticLabel;
class ViewHost;

// The left pane: four graph slots stacked vertically, each a graph with a name
// label at its top left and a value label at its top right. The selected slot
// (grey surround) decides which metric the right pane shows: every selection
// change is announced through the main window as UM_SHOW_COUNTER. The view
// also owns the run-time menus under "选择(&S)" (processors, configurations and
// the current configuration's counters) and handles the slot, processor,
// configuration and profile messages. Those popups own their check marks:
// the view runs their commands itself and sets every mark from the state
// afterwards, so a choice that changes nothing leaves the marks as they were.
//
// Threads: user-interface thread only. Counter values are read without a
// lock while samplers write them (relaxed atomics); the counter lists and the
// configuration table are changed only on this thread.
class CLeftView : public QWidget, public MessageWindow, public ConfigurationViews {
  Q_OBJECT

 public:
  static constexpr int kSlotCount = 4;

  CLeftView(CTarvelle2App& app, ViewHost& host, QWidget* parent = nullptr);
  ~CLeftView() override;
  CLeftView(const CLeftView&) = delete;
  CLeftView& operator=(const CLeftView&) = delete;

  // Prepares the slots and builds the menus; once only.
  void OnInitialUpdate();
  intptr_t sendMessage(uint32_t message, uintptr_t wParam, intptr_t lParam) override;

  // ConfigurationViews: the configuration switch and profiles reach the
  // slots through the main window, so both panes hear them.
  void clearGraphSlots() override;
  void refreshCounterLists() override;
  void assignGraph(int32_t counterIndex, int32_t slot) override;

  // The menu operations shared by the handlers.
  void SyncSelection();
  void CheckProcessorMenu();
  void CheckConfigMenu();
  void BuildCounterMenu();
  // Marks the current configuration's counter items: exactly the counter
  // the selected slot shows, none when no slot is selected or it is empty.
  void CheckCounterMenu();

  CGraphControl* graphAt(int slot) const { return graphs[static_cast<size_t>(slot)]; }
  StaticLabel* nameLabelAt(int slot) const { return nameLabels[static_cast<size_t>(slot)]; }
  StaticLabel* valueLabelAt(int slot) const { return valueLabels[static_cast<size_t>(slot)]; }
  bool isInitialised() const { return initialised != 0; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;

 private:
  intptr_t OnAssignGraph(uintptr_t wParam, intptr_t lParam);
  intptr_t OnSelectProcessor(uintptr_t wParam, intptr_t lParam);
  intptr_t OnSelectConfig(uintptr_t wParam, intptr_t lParam);
  intptr_t OnApplyProfile(uintptr_t wParam, intptr_t lParam);
  intptr_t OnClearGraphs(uintptr_t wParam, intptr_t lParam);
  intptr_t OnSaveProfile(uintptr_t wParam, intptr_t lParam);
  intptr_t OnLoadProfile(uintptr_t wParam, intptr_t lParam);
  intptr_t OnTimer(uintptr_t wParam, intptr_t lParam);

  // An item of a run-time popup was chosen (menu bar, context menu or
  // QAction::trigger()): its command runs once, then every mark is set from
  // the state again, since Qt flipped the chosen item's mark on its own.
  void onRunTimeItem(QAction* item);

  void OnLButtonDown(QPoint point);
  void OnRButtonDown(QPoint point);
  void layoutSlots(int cx, int cy);

  // The package at selectedProcessor, or null when the index is outside the list.
  CProcessor_2* displayedProcessor() const;
  // configs[currentConfig], or null when currentConfig is outside the table.
  CCountersConfig* currentConfiguration() const;
  // The current configuration's counter popup, or null.
  QMenu* currentCounterMenu() const;

  CTarvelle2App& m_app;
  ViewHost& m_host;

  std::unique_ptr<QMenu> processorMenu;
  std::unique_ptr<QMenu> configMenu;
  int32_t initialised = 0;
  // Children of the view; Qt's parent ownership deletes them.
  std::array<CGraphControl*, kSlotCount> graphs{};
  std::array<StaticLabel*, kSlotCount> nameLabels{};
  std::array<StaticLabel*, kSlotCount> valueLabels{};
};

}  // namespace tv2
