#include "driver/host/SocketActivation.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <charconv>
#include <cstddef>
#include <cstdlib>
#include <cstring>

namespace tv2 {

namespace {

bool readNumber(const char* text, long* value) {
  if (text == nullptr || *text == '\0') return false;
  const char* end = text + std::strlen(text);
  auto [stop, code] = std::from_chars(text, end, *value);
  return code == std::errc() && stop == end;
}

int socketOption(int fd, int option) {
  int value = -1;
  socklen_t size = sizeof value;
  if (::getsockopt(fd, SOL_SOCKET, option, &value, &size) != 0) return -1;
  return value;
}

std::string folderOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? std::string("/") : path.substr(0, slash);
}

}  // namespace

bool ActivatedSocket::take(const std::string& expectedPath, ActivatedSocket* out, std::string* error) {
  long pid = 0;
  long count = 0;
  bool forUs = readNumber(std::getenv("LISTEN_PID"), &pid) && pid == ::getpid();
  bool counted = readNumber(std::getenv("LISTEN_FDS"), &count);
  ::unsetenv("LISTEN_PID");
  ::unsetenv("LISTEN_FDS");
  ::unsetenv("LISTEN_FDNAMES");
  if (!forUs || !counted) {
    *error = "no socket was passed (LISTEN_PID/LISTEN_FDS not set for this process)";
    return false;
  }
  if (count != 1) {
    *error = "exactly one socket must be passed, got " + std::to_string(count);
    return false;
  }
  const int fd = kFirstFd;
  struct stat info;
  if (::fstat(fd, &info) != 0 || !S_ISSOCK(info.st_mode) || socketOption(fd, SO_DOMAIN) != AF_UNIX ||
      socketOption(fd, SO_TYPE) != SOCK_STREAM || socketOption(fd, SO_ACCEPTCONN) != 1) {
    *error = "the passed descriptor is not a listening Unix stream socket";
    return false;
  }
  sockaddr_un address{};
  socklen_t size = sizeof address;
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0 ||
      size <= offsetof(sockaddr_un, sun_path) ||
      std::string(address.sun_path, ::strnlen(address.sun_path, sizeof address.sun_path)) != expectedPath) {
    *error = "the passed socket is not bound to " + expectedPath;
    return false;
  }
  // The file decides who can connect: it must be root's, closed to others,
  // in a folder nobody but root may change (or the file could be swapped).
  struct stat file;
  struct stat folder;
  if (::lstat(expectedPath.c_str(), &file) != 0 || !S_ISSOCK(file.st_mode) || file.st_uid != 0 ||
      (file.st_mode & S_IRWXO) != 0) {
    *error = expectedPath + " must be a socket of root's that others cannot use";
    return false;
  }
  std::string parent = folderOf(expectedPath);
  if (::lstat(parent.c_str(), &folder) != 0 || !S_ISDIR(folder.st_mode) || folder.st_uid != 0 ||
      (folder.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    *error = parent + " must be a folder of root's that nobody else may write to";
    return false;
  }
  int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0 || ::fcntl(fd, F_SETFD, FD_CLOEXEC) != 0) {
    *error = "cannot set up the passed socket";
    return false;
  }
  out->fd = fd;
  // Connecting needs write permission on the file: the group may connect
  // only when its bits include write.
  out->group = (file.st_mode & S_IWGRP) != 0 ? file.st_gid : static_cast<gid_t>(-1);
  return true;
}

}  // namespace tv2
