#pragma once

#include <QMainWindow>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "frame/FramePane.h"
#include "frame/MainMenu.h"
#include "ui/MessageWindow.h"
#include "ui/ViewHost.h"

namespace tv2 {

class AW_CMultiViewSplitter;
class CTarvelle2App;
class FileCommands;
class FrameStatusBar;
class Prompts;
struct SharedDrawingObjects;

// The program's top-level window: menu bar, status bar and the two-column
// splitter with the two views. It drives the display tick (100 ms), turns menu
// commands into actions or messages, relays the views' custom messages to
// both panes in column order and writes the settings file when it closes.
//
// Threads: user-interface thread only. The sampling engine calls the pane
// notifiers installed here from the display tick and the clear command, both
// on this thread.
class CMainFrame : public QMainWindow, public MessageWindow, public ViewHost {
  Q_OBJECT

 public:
  static constexpr int kDefaultWidth = 1100;
  static constexpr int kDefaultHeight = 800;
  static constexpr int kMinimumTrackSize = 500;
  static constexpr int kDefaultColumn0 = 250;
  static constexpr int kColumn1InitialWidth = 10;
  static constexpr int kTimerPeriodMs = 100;

  // Reads the window placement, builds menu, status bar and client area
  // (reading COL0, FLAGS and the profile line), creates the views and starts
  // the display timer. An empty factory creates CLeftView and CView1.
  CMainFrame(CTarvelle2App& app, const SharedDrawingObjects& drawing, Prompts& prompts, PaneFactory factory = {});
  ~CMainFrame() override;

  // MessageWindow: the relayed messages go to every pane, column 0 first.
  intptr_t sendMessage(uint32_t message, uintptr_t wParam, intptr_t lParam) override;

  // ViewHost
  intptr_t sendToFrame(uint32_t message, uintptr_t wParam, intptr_t lParam) override {
    return sendMessage(message, wParam, lParam);
  }
  QMenu* selectMenu() override { return m_menu.selectMenu(); }
  void refreshMenuBar() override;
  void runCommand(int32_t id) override { OnCommand(id); }
  QWidget* mainWindow() override { return this; }
  const SharedDrawingObjects& drawingObjects() const override { return m_drawing; }
  CTarvelle2App& app() { return m_app; }

  // Runs a menu command by identifier; false for identifiers the frame does
  // not know.
  bool OnCommand(int32_t id);
  // The display tick: the sample clock, the derived pass every 300 ms and a
  // synchronous timer message to every pane.
  void OnTimer();

  AW_CMultiViewSplitter& splitter() { return *m_splitter; }
  FrameStatusBar& frameStatusBar() { return *m_statusBar; }
  // A menu-bar item by identifier (null for the run-time items).
  QAction* commandAction(int32_t id) const { return m_menu.action(id); }
  bool displayTimerActive() const { return m_timer.isActive(); }
  // True once the close path ran (the settings are written).
  bool closed() const { return m_closed; }

  // The whole settings file's text as the close writes it.
  std::string settingsText();

  // Commands that belong to the update check and the about box; nothing
  // happens while they are unset.
  std::function<void()> onCheckUpdates;
  std::function<void()> onAbout;
  // Called once the close path has written the settings.
  std::function<void()> onClosed;

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void createClientArea(PaneFactory factory);
  FramePane createDefaultPane(PaneKind kind, QWidget* parent);
  // Sends to the view of every pane, column 0 first.
  void sendToPanes(uint32_t message, uintptr_t wParam, intptr_t lParam);
  void postTimerToPanes();
  void togglePause();
  void clearHistories();
  void toggleStatusBar();
  void focusOtherPane();
  void syncCheckMarks();
  std::string placementLine() const;

  // The handler of every relayed message: the same numbers and parameters to
  // each pane, column 0 first; the frame answers 0.
  template <uint32_t kMessage>
  intptr_t relay(uintptr_t wParam, intptr_t lParam) {
    sendToPanes(kMessage, wParam, lParam);
    return 0;
  }

  CTarvelle2App& m_app;
  const SharedDrawingObjects& m_drawing;
  Prompts& m_prompts;
  MainMenu m_menu;
  FrameStatusBar* m_statusBar = nullptr;       // owned by the window (Qt parent)
  AW_CMultiViewSplitter* m_splitter = nullptr;  // owned by the window (central widget)
  std::unique_ptr<FileCommands> m_fileCommands;
  QTimer m_timer;
  bool m_closed = false;
};

}  // namespace tv2
