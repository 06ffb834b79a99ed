// The services' tests need a QApplication; they run on the offscreen
// platform, and requests to the test's own loopback servers must not be
// sent to a proxy the environment names.

#include <gtest/gtest.h>

#include <QApplication>
#include <QtGlobal>

// Qt's own threads (the network manager's, the D-Bus connection's) hand their
// objects over through Qt's futex-based mutexes, which ThreadSanitizer cannot
// see in a Qt that was not built with it: it then takes Qt's own allocations
// and frees for races. Those calls made from inside Qt, GLib and libdbus are left out;
// every access of our own code is still checked. Only read by ThreadSanitizer.
extern "C" const char* __tsan_default_suppressions() {
  return "called_from_lib:libQt6Core.so.6\n"
         "called_from_lib:libQt6Network.so.6\n"
         "called_from_lib:libQt6DBus.so.6\n"
         "called_from_lib:libglib-2.0.so.0\n"
         "called_from_lib:libdbus-1.so.3\n";
}

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  for (const char* name : {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"}) {
    qunsetenv(name);
  }
  QApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
