#pragma once

#include <sys/types.h>

#include <string>

namespace tv2 {

// The listening socket a service manager passed at start (LISTEN_PID,
// LISTEN_FDS; the first passed descriptor is 3), checked before the host
// serves on it: a listening Unix stream socket bound to the expected path,
// whose file is root's, gives nothing to others, and sits in a folder only
// root may change. The group the file's mode lets connect becomes the group
// the host serves besides root.
struct ActivatedSocket {
  static constexpr int kFirstFd = 3;

  int fd = -1;
  gid_t group = static_cast<gid_t>(-1);  // none: root only

  // Takes the socket, or returns false with a one-line reason. The
  // environment variables are removed either way, so nothing the host might
  // start inherits them.
  static bool take(const std::string& expectedPath, ActivatedSocket* out, std::string* error);
};

}  // namespace tv2
