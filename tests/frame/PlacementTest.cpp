// The window placement the close writes, for each way the window can be
// left: its state gives the placement flags and show command, and the
// rectangle is always that of the normal (restored) window, so that the next
// start opens it there at its normal size.

#include <gtest/gtest.h>

#include <QCoreApplication>

#include <string>

#include "tests/frame/FrameTestSupport.h"

namespace tv2::testing {
namespace {

using PlacementTest = LightFrame;

TEST_F(PlacementTest, CloseWritesTheNormalRectangleWithTheStateOfTheWindow) {
  struct Case {
    const char* name;
    Qt::WindowStates state;
    const char* flagsAndShow;  // placement flags, show command
  };
  // Show commands 1 normal, 2 minimised, 3 maximised; flag 2: a minimised
  // window that comes back maximised.
  const Case cases[] = {
      {"normal", Qt::WindowNoState, "0 1"},
      {"maximised", Qt::WindowMaximized, "0 3"},
      {"minimised", Qt::WindowMinimized, "0 2"},
      {"minimised from maximised", Qt::WindowMinimized | Qt::WindowMaximized, "2 2"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove(settingsPath());
    CMainFrame& f = showFrame();
    f.move(40, 30);
    f.resize(900, 620);
    QCoreApplication::processEvents();
    const QPoint at = f.pos();
    f.setWindowState(c.state);
    QCoreApplication::processEvents();
    f.runCommand(kCmdExit);
    ASSERT_TRUE(f.closed());

    const std::vector<std::string> lines = fileLines(settingsPath());
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[1], std::string("MAINWINDOW=") + c.flagsAndShow + " " + std::to_string(at.x()) + " " +
                            std::to_string(at.x() + 900) + " " + std::to_string(at.y()) + " " +
                            std::to_string(at.y() + 620));
    frame.reset();
  }
}

}  // namespace
}  // namespace tv2::testing
