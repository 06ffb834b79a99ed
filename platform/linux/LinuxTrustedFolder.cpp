#include "platform/linux/LinuxTrustedFolder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>
#include <vector>

#include "platform/ErrorCodes.h"
#include "platform/linux/LinuxErrors.h"

namespace tv2 {

namespace {

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

// A link where a folder or file was expected is refused, not missing.
uint32_t openFailure(int error) {
  return error == ELOOP || error == ENOTDIR ? kErrorAccessDenied : LinuxErrors::fromErrno(error);
}

// A folder on the way to a trusted one: nobody but root or the trusted owner
// may replace what it holds.
bool acceptsAncestor(const struct stat& info, const LinuxTrust& trust) {
  if (!S_ISDIR(info.st_mode) || (info.st_uid != 0 && info.st_uid != trust.owner)) return false;
  return (info.st_mode & (S_IWGRP | S_IWOTH)) == 0 || (info.st_mode & S_ISVTX) != 0;
}

std::vector<std::string> components(const std::string& path) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start < path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    if (end > start) parts.push_back(path.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

}  // namespace

LinuxTrustedFolder::LinuxTrustedFolder(int fd, std::string path, const LinuxTrust& trust)
    : m_fd(fd), m_path(std::move(path)), m_trust(trust) {}

LinuxTrustedFolder::~LinuxTrustedFolder() { close(); }

LinuxTrustedFolder::LinuxTrustedFolder(LinuxTrustedFolder&& other) noexcept
    : m_fd(std::exchange(other.m_fd, -1)), m_path(std::move(other.m_path)), m_trust(other.m_trust) {}

LinuxTrustedFolder& LinuxTrustedFolder::operator=(LinuxTrustedFolder&& other) noexcept {
  if (this != &other) {
    close();
    m_fd = std::exchange(other.m_fd, -1);
    m_path = std::move(other.m_path);
    m_trust = other.m_trust;
  }
  return *this;
}

void LinuxTrustedFolder::close() {
  if (m_fd >= 0) ::close(m_fd);
  m_fd = -1;
}

bool LinuxTrustedFolder::validName(const std::string& name) {
  return !name.empty() && name.size() <= 255 && name != "." && name != ".." &&
         name.find('/') == std::string::npos && name.find('\0') == std::string::npos;
}

uint32_t LinuxTrustedFolder::open(const std::string& path, const LinuxTrust& trust, bool create,
                                  LinuxTrustedFolder* out) {
  if (out == nullptr || path.empty() || path[0] != '/' || path.find('\0') != std::string::npos)
    return kErrorInvalidParameter;
  std::vector<std::string> parts = components(path);
  for (const std::string& part : parts)
    if (part == "." || part == "..") return kErrorInvalidParameter;

  int current = ::open("/", kFolderFlags);
  if (current < 0) return LinuxErrors::fromErrno(errno);
  std::string walked;
  for (size_t i = 0; i < parts.size(); ++i) {
    struct stat info;
    if (::fstat(current, &info) != 0 || !acceptsAncestor(info, trust)) {
      ::close(current);
      return kErrorAccessDenied;
    }
    bool last = i + 1 == parts.size();
    bool made = last && create && ::mkdirat(current, parts[i].c_str(), 0700) == 0;
    int next = ::openat(current, parts[i].c_str(), kFolderFlags);
    int openError = errno;
    ::close(current);
    if (next < 0) return openFailure(openError);
    // A folder made here gets exactly 0700, whatever the umask left.
    if (made) ::fchmod(next, 0700);
    current = next;
    walked += "/" + parts[i];
  }
  struct stat info;
  if (::fstat(current, &info) != 0 || !trust.acceptsFolder(info)) {
    ::close(current);
    return kErrorAccessDenied;
  }
  *out = LinuxTrustedFolder(current, walked.empty() ? "/" : walked, trust);
  return kOk;
}

uint32_t LinuxTrustedFolder::openChild(const std::string& name, bool create, LinuxTrustedFolder* out,
                                       bool* created) const {
  bool spare = false;
  bool& made = created != nullptr ? *created : spare;
  made = false;
  if (m_fd < 0 || out == nullptr) return kErrorInvalidHandle;
  if (!validName(name)) return kErrorInvalidParameter;
  made = create && ::mkdirat(m_fd, name.c_str(), 0700) == 0;
  int fd = ::openat(m_fd, name.c_str(), kFolderFlags);
  if (fd < 0) return openFailure(errno);
  if (made) ::fchmod(fd, 0700);
  struct stat info;
  if (::fstat(fd, &info) != 0 || !m_trust.acceptsFolder(info)) {
    ::close(fd);
    return kErrorAccessDenied;
  }
  *out = LinuxTrustedFolder(fd, m_path == "/" ? "/" + name : m_path + "/" + name, m_trust);
  return kOk;
}

int LinuxTrustedFolder::openFile(const std::string& name, mode_t mode, bool replaceUntrusted,
                                 bool* created, uint32_t* error) const {
  uint32_t spareError = kOk;
  uint32_t& err = error != nullptr ? *error : spareError;
  bool spareCreated = false;
  bool& made = created != nullptr ? *created : spareCreated;
  made = false;
  if (m_fd < 0) {
    err = kErrorInvalidHandle;
    return -1;
  }
  if (!validName(name)) {
    err = kErrorInvalidParameter;
    return -1;
  }
  // Someone may remove or make the file between the steps; a few rounds settle that.
  for (int attempt = 0; attempt < 4; ++attempt) {
    struct stat before;
    if (::fstatat(m_fd, name.c_str(), &before, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno != ENOENT) {
        err = LinuxErrors::fromErrno(errno);
        return -1;
      }
      int fd = ::openat(m_fd, name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
      if (fd < 0) {
        if (errno == EEXIST) continue;
        err = LinuxErrors::fromErrno(errno);
        return -1;
      }
      struct stat info;
      // A folder shared with a group gives its files that group (whatever the
      // creator's own); the umask may have taken bits away, so the mode is
      // set to exactly what was asked.
      bool grouped = m_trust.group == LinuxTrust::kNoGroup || ::fchown(fd, static_cast<uid_t>(-1), m_trust.group) == 0;
      if (!grouped || ::fchmod(fd, mode) != 0 || ::fstat(fd, &info) != 0 || !m_trust.acceptsFile(info)) {
        err = kErrorAccessDenied;
        ::close(fd);
        return -1;
      }
      made = true;
      err = kOk;
      return fd;
    }
    // Only a regular file is ever opened: opening a pipe or a device could
    // block or act on hardware.
    if (m_trust.acceptsFile(before)) {
      int fd = ::openat(m_fd, name.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
      if (fd < 0) {
        if (errno == ENOENT) continue;
        err = openFailure(errno);
        return -1;
      }
      struct stat info;
      if (::fstat(fd, &info) == 0 && info.st_dev == before.st_dev && info.st_ino == before.st_ino &&
          m_trust.acceptsFile(info)) {
        err = kOk;
        return fd;
      }
      ::close(fd);
    }
    if (!replaceUntrusted) {
      err = kErrorAccessDenied;
      return -1;
    }
    // Removes the name only: a link goes, not what it points to.
    int flags = S_ISDIR(before.st_mode) ? AT_REMOVEDIR : 0;
    if (::unlinkat(m_fd, name.c_str(), flags) != 0 && errno != ENOENT) {
      err = LinuxErrors::fromErrno(errno);
      return -1;
    }
  }
  err = LinuxErrors::kGeneralFailure;
  return -1;
}

}  // namespace tv2
