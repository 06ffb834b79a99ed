// Termination signals close the main window through its close path; a
// signal during a start-up question answers it as its escape button does.

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QTimer>

#include <csignal>
#include <unistd.h>

#include "frame/QtPrompts.h"
#include "frame/SignalCloser.h"
#include "platform/linux/TerminationSignals.h"
#include "tests/frame/SimFrameHarness.h"

namespace tv2::testing {
namespace {

// Runs events until done or the limit passes.
template <typename Done>
bool waitFor(Done done, int limitMs = 3000) {
  QElapsedTimer timer;
  timer.start();
  while (!done() && timer.elapsed() < limitMs) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  return done();
}

TEST(TerminationSignalsTest, EachSignalIsReadOnceThroughTheDescriptor) {
  TerminationSignals termination;
  ASSERT_GE(termination.fd(), 0);
  EXPECT_EQ(termination.readPending(), 0);
  for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
    ASSERT_EQ(kill(getpid(), signal), 0);
    EXPECT_EQ(termination.readPending(), signal);
    EXPECT_EQ(termination.lastSignal(), signal);
    EXPECT_EQ(termination.readPending(), 0);
  }
  ASSERT_EQ(kill(getpid(), SIGTERM), 0);
  EXPECT_TRUE(termination.wait(1000));
  EXPECT_FALSE(termination.wait(10));
}

TEST(SignalCloseTest, SigtermClosesTheWindowThroughItsClosePath) {
  SimFrameHarness h("intel-snb");
  ASSERT_TRUE(h.start());
  TerminationSignals termination;
  int closes = 0;
  h.frame()->onClosed = [&] { ++closes; };
  SignalCloser closer(
      termination.fd(), [&] { return termination.readPending(); }, [&](int) { h.shell->requestClose(); });

  ASSERT_EQ(kill(getpid(), SIGTERM), 0);
  ASSERT_TRUE(waitFor([&] { return h.frame()->closed(); }));
  EXPECT_TRUE(h.shell->closeRequested());
  EXPECT_FALSE(h.frame()->isVisible());
  const std::vector<std::string> lines = fileLines(h.app->SettingsPath());
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[0], "[Tarvelle2]");
  EXPECT_EQ(lines[4].rfind("[TV2 Profile]0 4 ", 0), 0u);

  // A second signal while the program ends changes nothing.
  std::filesystem::remove(h.app->SettingsPath());
  ASSERT_EQ(kill(getpid(), SIGINT), 0);
  waitFor([] { return false; }, 200);
  EXPECT_EQ(closes, 1);
  EXPECT_FALSE(std::filesystem::exists(h.app->SettingsPath()));
}

TEST(SignalCloseTest, SignalDuringAQuestionAnswersNo) {
  TerminationSignals termination;
  ScriptedPrompts unused;
  QtAppShell shell(unused);
  SignalCloser closer(
      termination.fd(), [&] { return termination.readPending(); }, [&](int) { shell.requestClose(); });
  QtPrompts prompts;
  QTimer::singleShot(100, [] { kill(getpid(), SIGHUP); });
  // Should the signal not close the box, the test fails instead of hanging.
  QTimer::singleShot(5000, [] {
    if (QWidget* box = QApplication::activeModalWidget()) box->close();
  });
  QElapsedTimer timer;
  timer.start();
  const int answer = prompts.messageBox("The program has detected that the performance counters on processor 0 may be "
                                        "in use.",
                                        "Tarvelle2 Warning", kMbYesNo | kMbIconWarning);
  EXPECT_EQ(answer, kIdNo);
  EXPECT_TRUE(shell.closeRequested());
  EXPECT_LT(timer.elapsed(), 3000);
}

}  // namespace
}  // namespace tv2::testing
