// The main frame with logging panes: creation from the settings file, menus
// and status bar, relaying, the command ranges, pause, clear, the display
// tick and the close path.

#include <gtest/gtest.h>

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QTest>

#include "frame/FrameStatusBar.h"
#include "ui/ApplicationIcon.h"
#include "tests/frame/FrameTestSupport.h"

namespace tv2::testing {
namespace {

using FrameTest = LightFrame;

QStringList popupTitles(CMainFrame& frame) {
  QStringList titles;
  for (QAction* action : frame.menuBar()->actions()) titles << action->text();
  return titles;
}

TEST_F(FrameTest, FirstStartWithoutSettings) {
  CMainFrame& f = showFrame();
  EXPECT_EQ(f.windowTitle(), "Tarvelle2");
  // The program's own icon, down to the 16 pixels of a title bar.
  EXPECT_EQ(f.windowIcon().pixmap(16).toImage(), applicationIcon().pixmap(16).toImage());
  EXPECT_FALSE(f.windowIcon().pixmap(16).isNull());
  EXPECT_EQ(f.size(), QSize(1100, 800));
  EXPECT_EQ(f.minimumSize(), QSize(500, 500));
  EXPECT_EQ(f.splitter().columnWidth(0), 250);
  EXPECT_EQ(f.splitter().pane(0).widget, left);
  EXPECT_EQ(f.splitter().pane(1).widget, right);
  EXPECT_EQ(left->initialUpdates, 1);
  EXPECT_EQ(right->initialUpdates, 1);
  EXPECT_EQ(app->settingsFlags, 5u);
  EXPECT_TRUE(f.displayTimerActive());
  EXPECT_FALSE(f.commandAction(kCmdKeepRatio)->isChecked());
  EXPECT_FALSE(f.commandAction(kCmdPause)->isChecked());
  EXPECT_TRUE(f.commandAction(kCmdStatusBar)->isChecked());
  EXPECT_EQ(popupTitles(f), QStringList({"文件(&F)", "选择(&S)", "动作(&A)", "视图(&V)", "工具(&T)", "帮助(&H)"}));
  EXPECT_EQ(f.frameStatusBar().messageText(), "就绪");
  EXPECT_FALSE(app->loadedProfile);
}

TEST_F(FrameTest, SettingsReadAtCreation) {
  // FLAGS 0 starts counting with keeping on; the placement's rectangle is
  // applied, its show command is not.
  writeSettings("[Tarvelle2]\nMAINWINDOW=2 1 100 900 50 650\nCOL0=333\nFLAGS=0\n"
                "[TV2 Profile]1 2 1 2 4294967295 4294967295\n");
  CMainFrame& f = showFrame();
  EXPECT_EQ(app->settingsFlags, 1u);
  EXPECT_TRUE(f.commandAction(kCmdKeepRatio)->isChecked());
  EXPECT_EQ(f.pos(), QPoint(100, 50));
  EXPECT_EQ(f.size(), QSize(800, 600));
  EXPECT_FALSE(f.isMaximized());
  EXPECT_EQ(f.splitter().columnWidth(0), 333);
  ASSERT_TRUE(app->loadedProfile);
  EXPECT_EQ(app->loadedProfile->configIndex, 1);
  EXPECT_EQ(app->loadedProfile->metrics[1], 2);
}

TEST_F(FrameTest, PlacementOnNoScreenKeepsOnlyTheSize) {
  writeSettings("[Tarvelle2]\nMAINWINDOW=0 1 30000 30900 20000 20600\n");
  CMainFrame& f = showFrame();
  EXPECT_EQ(f.size(), QSize(900, 600));
  EXPECT_LT(f.pos().x(), 30000);
}

TEST_F(FrameTest, SwappedSettingPutsTheRightViewFirst) {
  writeSettings("[Tarvelle2]\nFLAGS=6\n");
  CMainFrame& f = showFrame();
  EXPECT_EQ(app->settingsFlags, 7u);
  EXPECT_EQ(f.splitter().pane(0).widget, right);
  EXPECT_EQ(f.splitter().pane(1).widget, left);
  f.sendMessage(UM_CLEAR_GRAPHS, 0, 0);
  EXPECT_EQ(receivers(UM_CLEAR_GRAPHS), (std::vector<std::string>{"right", "left"}));
}

TEST_F(FrameTest, RelayedMessagesReachBothPanesInColumnOrderUnchanged) {
  CMainFrame& f = showFrame();
  CProfile profile;
  for (uint32_t message : {UM_SHOW_COUNTER, UM_ASSIGN_GRAPH, UM_SELECT_CONFIG, UM_APPLY_PROFILE, UM_CLEAR_GRAPHS,
                           UM_SAVE_PROFILE, UM_LOAD_PROFILE}) {
    log.clear();
    EXPECT_EQ(f.sendMessage(message, 0xFFFFFFFFu, reinterpret_cast<intptr_t>(&profile)), 0);
    ASSERT_EQ(log.size(), 2u) << std::hex << message;
    EXPECT_EQ(log[0].pane, "left");
    EXPECT_EQ(log[1].pane, "right");
    for (const LoggedMessage& m : log) {
      EXPECT_EQ(m.message, message);
      EXPECT_EQ(m.wParam, 0xFFFFFFFFu);
      EXPECT_EQ(m.lParam, reinterpret_cast<intptr_t>(&profile));
    }
  }
  // The frame sends UM_SELECT_PROCESSOR itself and does not relay it; 0x424
  // is no message of the program.
  log.clear();
  f.sendMessage(UM_SELECT_PROCESSOR, 1, 0);
  f.sendMessage(0x424, 1, 0);
  EXPECT_TRUE(log.empty());
  // After a swap the other view comes first.
  f.runCommand(kCmdSwapViews);
  f.sendMessage(UM_SHOW_COUNTER, 3, 0);
  EXPECT_EQ(receivers(UM_SHOW_COUNTER), (std::vector<std::string>{"right", "left"}));
}

TEST_F(FrameTest, CommandRangesBecomeMessagesToEveryPane) {
  CMainFrame& f = showFrame();
  struct Case {
    int32_t id;
    uint32_t message;
    uintptr_t wParam;
    intptr_t lParam;
  };
  for (const Case& c : {Case{4096, UM_ASSIGN_GRAPH, 0, -1}, Case{4096 + 37, UM_ASSIGN_GRAPH, 37, -1},
                        Case{4607, UM_ASSIGN_GRAPH, 511, -1}, Case{4608, UM_SELECT_PROCESSOR, 0, 0},
                        Case{4863, UM_SELECT_PROCESSOR, 255, 0}, Case{4864 + 1, UM_SELECT_CONFIG, 1, 1},
                        Case{4880, UM_SELECT_CONFIG, 16, 1}}) {
    log.clear();
    EXPECT_TRUE(f.OnCommand(c.id));
    ASSERT_EQ(log.size(), 2u) << c.id;
    for (const LoggedMessage& m : log) {
      EXPECT_EQ(m.message, c.message) << c.id;
      EXPECT_EQ(m.wParam, c.wParam) << c.id;
      EXPECT_EQ(m.lParam, c.lParam) << c.id;
    }
  }
  log.clear();
  EXPECT_FALSE(f.OnCommand(4881));
  EXPECT_FALSE(f.OnCommand(4095));
  EXPECT_TRUE(log.empty());
}

TEST_F(FrameTest, DisplayTickAdvancesTheClockAndPauseStopsIt) {
  CMainFrame& f = showFrame();
  QTest::qWait(450);
  const uint32_t running = SampleClock::now();
  EXPECT_GE(running, 300u);
  EXPECT_EQ(running % 100, 0u);
  EXPECT_EQ(receivers(kMsgTimer).size(), 2 * running / 100);

  f.runCommand(kCmdPause);
  EXPECT_FALSE(app->samplingRuns());
  EXPECT_FALSE(f.displayTimerActive());
  EXPECT_TRUE(f.commandAction(kCmdPause)->isChecked());
  const uint32_t paused = SampleClock::now();
  QTest::qWait(350);
  f.OnTimer();  // a tick that still arrives changes nothing
  EXPECT_EQ(SampleClock::now(), paused);

  f.runCommand(kCmdPause);
  EXPECT_TRUE(app->samplingRuns());
  EXPECT_TRUE(f.displayTimerActive());
  EXPECT_FALSE(f.commandAction(kCmdPause)->isChecked());
  f.OnTimer();
  EXPECT_EQ(SampleClock::now(), paused + 100);
}

TEST_F(FrameTest, ClearWhilePausedRedrawsOnceRightAfterTheCommand) {
  app->processors.Append(new CProcessor_2);
  CMainFrame& f = showFrame();
  f.runCommand(kCmdPause);
  log.clear();
  f.runCommand(kCmdClear);
  // Posted, not sent: the views redraw once the command has returned.
  EXPECT_TRUE(receivers(kMsgTimer).empty());
  QCoreApplication::processEvents();
  EXPECT_EQ(receivers(kMsgTimer), (std::vector<std::string>{"left", "right"}));

  // While running the next tick redraws; nothing is posted: every timer
  // message then comes from a tick.
  f.runCommand(kCmdPause);
  ASSERT_TRUE(app->samplingRuns());
  log.clear();
  const uint32_t before = SampleClock::now();
  f.runCommand(kCmdClear);
  QCoreApplication::processEvents();
  EXPECT_EQ(receivers(kMsgTimer).size(), 2 * (SampleClock::now() - before) / 100);
}

TEST_F(FrameTest, ClearWithoutAPackageDoesNothing) {
  CMainFrame& f = showFrame();
  f.runCommand(kCmdPause);
  log.clear();
  f.runCommand(kCmdClear);
  QCoreApplication::processEvents();
  EXPECT_TRUE(log.empty());
}

TEST_F(FrameTest, ViewCommandsToggleTheirStateAndCheckMarks) {
  CMainFrame& f = showFrame();
  f.runCommand(kCmdKeepRatio);
  EXPECT_EQ(app->settingsFlags, 1u);
  EXPECT_TRUE(f.commandAction(kCmdKeepRatio)->isChecked());
  f.runCommand(kCmdKeepRatio);
  EXPECT_EQ(app->settingsFlags, 5u);
  EXPECT_FALSE(f.commandAction(kCmdKeepRatio)->isChecked());

  f.runCommand(kCmdStatusBar);
  EXPECT_TRUE(f.frameStatusBar().isHidden());
  EXPECT_FALSE(f.commandAction(kCmdStatusBar)->isChecked());
  f.runCommand(kCmdStatusBar);
  EXPECT_FALSE(f.frameStatusBar().isHidden());
  EXPECT_TRUE(f.commandAction(kCmdStatusBar)->isChecked());

  // Chosen from the menu the item flips its own mark, then runs the
  // command; the frame's state decides the mark.
  f.commandAction(kCmdKeepRatio)->trigger();
  EXPECT_EQ(app->settingsFlags, 1u);
  EXPECT_TRUE(f.commandAction(kCmdKeepRatio)->isChecked());
  f.commandAction(kCmdPause)->trigger();
  EXPECT_FALSE(app->samplingRuns());
  EXPECT_TRUE(f.commandAction(kCmdPause)->isChecked());
}

TEST_F(FrameTest, RunTimeItemsRunOnceThroughTheirViewNotThroughTheSelectMenu) {
  CMainFrame& f = showFrame();
  ASSERT_NE(f.selectMenu(), nullptr);
  QMenu counters("计数器");
  QAction* item = counters.addAction("usage");
  item->setData(kCmdCounterBase + 3);
  f.selectMenu()->addMenu(&counters);
  log.clear();
  // A mouse choice in a popup is reported by "选择(&S)" too; the view that
  // owns the popup runs it, so the frame must not run it a second time.
  emit f.selectMenu()->triggered(item);
  emit f.selectMenu()->triggered(f.commandAction(kCmdPlaceholder));
  EXPECT_TRUE(log.empty());
  // What the view asks for: the command, relayed to both panes.
  f.runCommand(kCmdCounterBase + 3);
  ASSERT_EQ(receivers(UM_ASSIGN_GRAPH), (std::vector<std::string>{"left", "right"}));
  EXPECT_EQ(log[0].wParam, 3u);
  EXPECT_EQ(log[0].lParam, -1);
}

TEST_F(FrameTest, PromptStringsShowInTheStatusBar) {
  CMainFrame& f = showFrame();
  struct Item {
    int32_t id;
    const char* prompt;
  };
  for (const Item& item : {Item{kCmdLoadProfile, "Load a .tv2 profile file"}, Item{kCmdPause, "Pause all counters"}}) {
    QAction* action = f.commandAction(item.id);
    ASSERT_NE(action, nullptr) << item.id;
    EXPECT_EQ(action->data().toInt(), item.id);
    action->showStatusText(&f);
    EXPECT_EQ(f.frameStatusBar().messageText(), item.prompt);
  }
  // Leaving the menu clears the prompt.
  f.commandAction(kCmdSaveReport)->showStatusText(&f);
  EXPECT_EQ(f.frameStatusBar().messageText(), "就绪");
}

TEST_F(FrameTest, KeepingOnHoldsTheLeftColumnsShareWhenTheWindowGrows) {
  writeSettings("[Tarvelle2]\nFLAGS=1\n");
  CMainFrame& f = showFrame();
  const int total0 = f.splitter().columnWidth(0) + f.splitter().columnWidth(1);
  const double share = 250.0 / total0;
  f.resize(1500, 800);
  f.resize(1900, 800);
  const int cx0 = f.splitter().columnWidth(0);
  const int total = cx0 + f.splitter().columnWidth(1);
  EXPECT_GT(total, total0);
  EXPECT_NEAR(cx0, share * total, 1.0);

  // With keeping off the column keeps its pixels.
  f.runCommand(kCmdKeepRatio);
  f.resize(1100, 800);
  EXPECT_EQ(f.splitter().columnWidth(0), cx0);
}

TEST_F(FrameTest, CloseWritesTheSettingsInOrder) {
  CMainFrame& f = showFrame();
  left->profileLine = "[TV2 Profile]0 2 1 2 4294967295 4294967295\n";
  f.runCommand(kCmdSwapViews);  // the left view now in column 1: its line still comes
  f.runCommand(kCmdKeepRatio);
  app->checkUpdates = 7;
  bool closedHook = false;
  f.onClosed = [&] { closedHook = true; };
  f.runCommand(kCmdExit);
  EXPECT_TRUE(f.closed());
  EXPECT_TRUE(closedHook);
  EXPECT_FALSE(f.displayTimerActive());

  const std::vector<std::string> lines = fileLines(settingsPath());
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[0], "[Tarvelle2]");
  const QPoint at = f.pos();
  EXPECT_EQ(lines[1], "MAINWINDOW=0 1 " + std::to_string(at.x()) + " " + std::to_string(at.x() + 1100) + " " +
                          std::to_string(at.y()) + " " + std::to_string(at.y() + 800));
  EXPECT_EQ(lines[2], "COL0=" + std::to_string(f.splitter().columnWidth(0)));
  EXPECT_EQ(lines[3], "FLAGS=3");
  EXPECT_EQ(lines[4], "[TV2 Profile]0 2 1 2 4294967295 4294967295");
  EXPECT_EQ(lines[5], "UPDATES=1");
  // Both panes were asked, each with its own empty profile.
  ASSERT_EQ(receivers(UM_SAVE_PROFILE).size(), 2u);

  // A second close (a second signal) writes nothing more.
  std::filesystem::remove(settingsPath());
  f.close();
  EXPECT_FALSE(std::filesystem::exists(settingsPath()));
}

TEST_F(FrameTest, CloseWithEmptySlotsWritesNoProfileLineAndTheFileReadsBack) {
  CMainFrame& f = showFrame();
  f.resize(900, 640);
  f.close();
  const std::vector<std::string> lines = fileLines(settingsPath());
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[3], "FLAGS=5");
  EXPECT_EQ(lines[4], "UPDATES=1");

  // The next start opens where this one closed.
  frame.reset();
  CMainFrame& next = showFrame();
  EXPECT_EQ(next.size(), QSize(900, 640));
  EXPECT_EQ(next.splitter().columnWidth(0), 250);
  EXPECT_FALSE(app->loadedProfile);
}

TEST_F(FrameTest, UnwritableSettingsStillClose) {
  CMainFrame& f = showFrame();
  app->settingsFolder = (folder / "missing" / "").string();
  f.close();
  EXPECT_TRUE(f.closed());
  EXPECT_FALSE(std::filesystem::exists(settingsPath()));
}

}  // namespace
}  // namespace tv2::testing
