// Widget tests need a QApplication; they run on the offscreen platform. The
// termination signals are blocked first, before any thread exists, as the
// program does: a SIGTERM sent to this process then waits to be read by the
// test that expects it instead of ending the run.

#include <gtest/gtest.h>

#include <QApplication>
#include <QtGlobal>

#include "platform/linux/TerminationSignals.h"
#include "ui/QtSanitizerSuppressions.h"

int main(int argc, char** argv) {
  tv2::TerminationSignals blocked;
  ::testing::InitGoogleTest(&argc, argv);
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
