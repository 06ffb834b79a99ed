#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace tv2 {

// The driver host's process as the service manager sees it: started as a
// daemon, found again through its pid file, stopped with SIGTERM. A pid is
// signalled only while the process still names the same pid file on its
// command line, so a reused pid is never taken for the host. A host counts
// as running until it is gone: while it exits (command line released,
// socket maybe still open) it still does, once it is a zombie it no longer
// does. Stateless.
class LinuxServiceProcess {
 public:
  // The pid of the live host that wrote pidFile; 0 when there is none.
  static pid_t runningPid(const std::string& pidFile);

  // Runs the program open at descriptor image (fexecve: what was checked is
  // what runs) with programName as argv[0] and arguments, and waits up to timeoutMs
  // for its starting process to end: the host detaches once its device
  // listens. kOk, or kErrorFileNotFound / kErrorAccessDenied /
  // kErrorBadExeFormat when it cannot run, kErrorServiceSpecificError when it
  // ended with a failure, kErrorServiceRequestTimeout when it did not end in
  // time (it is then killed).
  static uint32_t start(int image, const std::string& programName, const std::vector<std::string>& arguments,
                        uint32_t timeoutMs);

  // SIGTERM, and SIGKILL when it has not ended after graceMs; waits until
  // it is gone, descriptors closed. True when it is.
  static bool stop(pid_t pid, const std::string& pidFile, uint32_t graceMs);
};

}  // namespace tv2
