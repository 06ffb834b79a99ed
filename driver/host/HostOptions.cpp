#include "driver/host/HostOptions.h"

#include <charconv>
#include <cstring>
#include <utility>

namespace tv2 {

bool HostOptions::parse(int argc, const char* const* argv, HostOptions* out, std::string* error) {
  HostOptions options;
  auto value = [&](int* i, std::string* target) {
    if (*i + 1 >= argc || argv[*i + 1][0] == '\0') {
      *error = std::string(argv[*i]) + " needs a value";
      return false;
    }
    *target = argv[++*i];
    return true;
  };
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (std::strcmp(arg, "--socket") == 0) {
      if (!value(&i, &options.socketPath)) return false;
    } else if (std::strcmp(arg, "--pid-file") == 0) {
      if (!value(&i, &options.pidFile)) return false;
    } else if (std::strcmp(arg, "--registration") == 0) {
      if (!value(&i, &options.registration)) return false;
    } else if (std::strcmp(arg, "--owner-pid") == 0) {
      std::string text;
      if (!value(&i, &text)) return false;
      int pid = 0;
      auto [end, code] = std::from_chars(text.data(), text.data() + text.size(), pid);
      if (code != std::errc() || end != text.data() + text.size() || pid <= 1) {
        *error = "--owner-pid needs a process id above 1";
        return false;
      }
      options.ownerPid = pid;
    } else if (std::strcmp(arg, "--dev-root") == 0) {
      if (!value(&i, &options.devRoot)) return false;
    } else if (std::strcmp(arg, "--sys-root") == 0) {
      if (!value(&i, &options.sysRoot)) return false;
    } else if (std::strcmp(arg, "--frame-timeout-ms") == 0) {
      std::string text;
      if (!value(&i, &text)) return false;
      uint32_t ms = 0;
      auto [end, code] = std::from_chars(text.data(), text.data() + text.size(), ms);
      if (code != std::errc() || end != text.data() + text.size() || ms == 0 || ms > 600000) {
        *error = "--frame-timeout-ms needs a number of milliseconds from 1 to 600000";
        return false;
      }
      options.frameTimeoutMs = ms;
    } else if (std::strcmp(arg, "--daemon") == 0) {
      options.daemon = true;
    } else if (std::strcmp(arg, "--socket-activated") == 0) {
      options.socketActivated = true;
    } else if (std::strcmp(arg, "--no-modprobe") == 0) {
      options.loadMsrModule = false;
    } else {
      *error = std::string("unknown option ") + arg;
      return false;
    }
  }
  if (options.socketPath.empty()) {
    *error = "--socket is required";
    return false;
  }
  if (options.socketActivated && (options.daemon || !options.pidFile.empty())) {
    *error = "--socket-activated runs under a service manager: no --daemon or --pid-file";
    return false;
  }
  *out = std::move(options);
  return true;
}

}  // namespace tv2
