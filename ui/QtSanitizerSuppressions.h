#pragma once

// Include in exactly one source file of a program that runs Qt's own threads.
//
// Debian's Qt is not built with ThreadSanitizer: its threads (posted events,
// the network manager's, the D-Bus connection's) hand objects over through
// Qt's futex-based mutexes, which the sanitizer cannot see, so it takes Qt's
// own allocations and frees for races. Reports whose access is made from
// inside Qt, GLib or libdbus are dropped; every access of our own code is
// still checked. The civetweb server inside the Prometheus endpoint is kept
// visible (its locks order the hand-over of request handlers to its workers),
// except for gmtime, whose static buffer its workers share when they date an
// error answer. Only ThreadSanitizer reads this function.
extern "C" __attribute__((used)) const char* __tsan_default_suppressions() {
  return "called_from_lib:libQt6Core.so.6\n"
         "called_from_lib:libQt6Network.so.6\n"
         // Qt's painting splits large fills (the icon drawn from its SVG)
         // over its own thread pool.
         "called_from_lib:libQt6Gui.so.6\n"
         "called_from_lib:libQt6Svg.so.6\n"
         "called_from_lib:libQt6DBus.so.6\n"
         "called_from_lib:libglib-2.0.so.0\n"
         "called_from_lib:libdbus-1.so.3\n"
         // The https update check: Qt's TLS plugin and OpenSSL, run on the
         // network manager's thread.
         "called_from_lib:libqopensslbackend.so\n"
         "called_from_lib:libssl.so.3\n"
         "called_from_lib:libcrypto.so.3\n"
         "race:gmtime\n";
}
