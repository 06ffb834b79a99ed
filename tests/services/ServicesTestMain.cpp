// The services' tests need a QApplication; they run on the offscreen
// platform, and requests to the test's own loopback servers must not be
// sent to a proxy the environment names.

#include <gtest/gtest.h>

#include <QApplication>
#include <QtGlobal>

#include "ui/QtSanitizerSuppressions.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  for (const char* name : {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"}) {
    qunsetenv(name);
  }
  QApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
