#pragma once

#include <cstdint>
#include <string>

namespace tv2 {

// The driver host's command line, as the service manager starts it:
//   --socket PATH      the device (required)
//   --pid-file PATH    written once the device listens, removed at exit
//   --daemon           detach; the starting process ends once the device
//                      listens, with 0, or with the failure's exit code
//   --socket-activated serve on the listening socket the service manager
//                      passed (it must be bound to --socket); root and the
//                      socket file's group may connect; no pid file, no
//                      detaching, the socket file stays at exit
//   --owner-pid PID    the process that installs the host; once it is gone
//                      and no client is connected, the host ends by itself
//   --registration PATH  the service registration, removed with the socket
//                      and pid file when the host ends for that reason
//   --dev-root DIR, --sys-root DIR, --frame-timeout-ms N, --no-modprobe
//                      for tests that give the host a tree of plain files
struct HostOptions {
  std::string socketPath;
  std::string pidFile;
  int ownerPid = 0;  // 0: none named
  std::string registration;
  bool daemon = false;
  bool socketActivated = false;
  std::string devRoot = "/dev";
  std::string sysRoot = "/sys";
  uint32_t frameTimeoutMs = 2000;
  bool loadMsrModule = true;

  // False with a one-line reason in *error.
  static bool parse(int argc, const char* const* argv, HostOptions* out, std::string* error);
};

// Exit codes of the host.
inline constexpr int kHostExitOk = 0;
inline constexpr int kHostExitUsage = 2;
inline constexpr int kHostExitNoDevice = 3;   // cannot listen on the socket
inline constexpr int kHostExitNoPidFile = 4;  // cannot write the pid file
inline constexpr int kHostExitNoSignals = 5;  // cannot set up the stop signals
inline constexpr int kHostExitDetach = 6;     // cannot detach
inline constexpr int kHostExitServing = 7;    // the serving loop failed

}  // namespace tv2
