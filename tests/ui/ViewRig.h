#pragma once

#include <gtest/gtest.h>

#include <QAction>
#include <QCoreApplication>
#include <QMenu>
#include <QMouseEvent>

#include <memory>
#include <string>

#include "FakeViewHost.h"
#include "app/CTarvelle2App.h"
#include "cpu/CProcessor_2.h"
#include "tests/app/SimAppHarness.h"
#include "ui/CGraphControl.h"
#include "ui/CLeftView.h"
#include "ui/CView1.h"
#include "ui/MenuCommands.h"

namespace tv2::test {

// The program on a simulated machine with both views in a fake main window:
// left view in column 0, right view in column 1, both initialised.
class ViewRig {
 public:
  explicit ViewRig(const std::string& preset) : harness(preset) {}
  explicit ViewRig(const sim::SimMachineConfig& config) : harness(config) {}

  bool start(QSize leftSize = {300, 500}, QSize rightSize = {800, 600}) {
    if (!harness.start()) return false;
    left = std::make_unique<CLeftView>(*harness.app, host);
    right = std::make_unique<CView1>(*harness.app, host);
    host.panes = {left.get(), right.get()};
    left->resize(leftSize);
    right->resize(rightSize);
    left->OnInitialUpdate();
    right->OnInitialUpdate();
    // Shown, so that size changes arrive at once as they do in the window.
    left->show();
    right->show();
    return true;
  }

  // The start-up path without a stored profile: the current configuration's
  // default graphs.
  void applyDefaultProfile() { applyProfile(*app().configs[0].profile); }
  void applyProfile(const CProfile& profile) {
    host.sendToFrame(UM_APPLY_PROFILE, reinterpret_cast<uintptr_t>(&profile), 0);
  }

  CTarvelle2App& app() { return *harness.app; }
  CProcessor_2& package(int i) { return *app().processors.At(i); }
  CCounter* find(int packageIndex, uint32_t typeCode) {
    CTList<CCounter> found;
    return package(packageIndex).FindCounters(0xFFFF, typeCode, found) > 0 ? found.head->object : nullptr;
  }
  QMenu* popup(const QString& title) {
    for (QAction* item : host.selectMenu()->actions()) {
      if (item->menu() != nullptr && item->text() == title) return item->menu();
    }
    return nullptr;
  }
  static void press(QWidget& view, QPoint point, Qt::MouseButton button = Qt::LeftButton) {
    QMouseEvent event(QEvent::MouseButtonPress, QPointF(point), QPointF(view.mapToGlobal(point)), button, button,
                      Qt::NoModifier);
    QCoreApplication::sendEvent(&view, &event);
  }
  void clickSlot(int slot, Qt::MouseButton button = Qt::LeftButton) {
    press(*left, left->graphAt(slot)->geometry().center(), button);
  }

  testing::SimAppHarness harness;
  FakeViewHost host;
  std::unique_ptr<CLeftView> left;
  std::unique_ptr<CView1> right;
};

}  // namespace tv2::test
