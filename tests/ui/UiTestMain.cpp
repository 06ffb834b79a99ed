// Widget tests need a QApplication; they run on the offscreen platform so that
// no display server is involved and every pixel comes from our own painting.

#include <gtest/gtest.h>

#include <QApplication>
#include <QtGlobal>

#include "ui/QtSanitizerSuppressions.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
