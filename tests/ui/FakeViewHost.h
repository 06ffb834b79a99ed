#pragma once

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QWidget>

#include <cstdint>
#include <memory>
#include <vector>

#include "ui/MessageWindow.h"
#include "ui/SharedDrawingObjects.h"
#include "ui/ViewHost.h"
#include "ui/WindowMessages.h"

namespace tv2::test {

// The main window as the views see it: relays the relayed messages to every
// pane in column order and runs the run-time command ranges the way the
// frame does. It keeps a log of what reached it.
class FakeViewHost : public ViewHost {
 public:
  struct Sent {
    uint32_t message;
    uintptr_t wParam;
    intptr_t lParam;
  };

  FakeViewHost() : m_drawing(SharedDrawingObjects::create()) {
    m_menuBar.addMenu(QStringLiteral("文件(&F)"));
    QMenu* select = m_menuBar.addMenu(QStringLiteral("选择(&S)"));
    select->addAction(QStringLiteral("占位符"))->setData(kCmdPlaceholder);
    m_menuBar.addMenu(QStringLiteral("动作(&A)"));
  }

  intptr_t sendToFrame(uint32_t message, uintptr_t wParam, intptr_t lParam) override {
    log.push_back({message, wParam, lParam});
    const bool relayed = message == UM_SHOW_COUNTER || (message >= UM_ASSIGN_GRAPH && message <= UM_LOAD_PROFILE &&
                                                        message != UM_SELECT_PROCESSOR);
    if (relayed) toPanes(message, wParam, lParam);
    return 0;
  }
  QMenu* selectMenu() override { return m_menuBar.actions().at(1)->menu(); }
  void refreshMenuBar() override { ++refreshes; }
  void runCommand(int32_t id) override {
    commands.push_back(id);
    if (id >= kCmdCounterBase && id <= kCmdCounterLast) toPanes(UM_ASSIGN_GRAPH, id - kCmdCounterBase, -1);
    if (id >= kCmdProcessorBase && id <= kCmdProcessorLast) toPanes(UM_SELECT_PROCESSOR, id - kCmdProcessorBase, 0);
    if (id >= kCmdConfigBase && id <= kCmdConfigLast) toPanes(UM_SELECT_CONFIG, id - kCmdConfigBase, 1);
  }
  QWidget* mainWindow() override { return &m_window; }
  QMenuBar& menuBar() { return m_menuBar; }
  const SharedDrawingObjects& drawingObjects() const override { return m_drawing; }

  void toPanes(uint32_t message, uintptr_t wParam, intptr_t lParam) {
    for (MessageWindow* pane : panes) pane->sendMessage(message, wParam, lParam);
  }
  // Display ticks as the frame's timer sends them.
  void tick(int count = 1) {
    for (int i = 0; i < count; ++i) toPanes(kMsgTimer, kDisplayTimerId, 0);
  }
  // The wParam of every UM_SHOW_COUNTER since the log was last cleared.
  std::vector<uint32_t> shown() const {
    std::vector<uint32_t> out;
    for (const Sent& s : log) {
      if (s.message == UM_SHOW_COUNTER) out.push_back(static_cast<uint32_t>(s.wParam));
    }
    return out;
  }
  int count(uint32_t message) const {
    int n = 0;
    for (const Sent& s : log) n += s.message == message;
    return n;
  }

  std::vector<MessageWindow*> panes;  // column order
  std::vector<Sent> log;
  std::vector<int32_t> commands;
  int refreshes = 0;

 private:
  SharedDrawingObjects m_drawing;
  QWidget m_window;
  QMenuBar m_menuBar;
};

}  // namespace tv2::test
