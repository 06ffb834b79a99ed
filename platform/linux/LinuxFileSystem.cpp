#include "platform/linux/LinuxFileSystem.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/ErrorCodes.h"
#include "platform/linux/LinuxErrors.h"

namespace tv2 {

namespace {

std::string withoutTrailingSlashes(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

bool validPath(const std::string& path) { return !path.empty() && path.find('\0') == std::string::npos; }

}  // namespace

std::string LinuxFileSystem::folderOf(const std::string& path) {
  std::string trimmed = withoutTrailingSlashes(path);
  size_t slash = trimmed.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return withoutTrailingSlashes(trimmed.substr(0, slash));
}

bool LinuxFileSystem::isPrivateFolder(const std::string& folder) {
  if (!validPath(folder)) return false;
  std::string path = withoutTrailingSlashes(folder);
  struct stat info;
  if (::stat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return false;
  if (info.st_uid != ::geteuid() || (info.st_mode & (S_IWGRP | S_IWOTH)) != 0) return false;
  // A parent that someone else owns, or that others may write to without the
  // sticky bit, lets the folder be renamed away and replaced between the
  // check and the use.
  std::string parentPath = folderOf(path);
  if (parentPath == path) return true;
  struct stat parent;
  if (::stat(parentPath.c_str(), &parent) != 0) return false;
  bool ownerTrusted = parent.st_uid == 0 || parent.st_uid == ::geteuid();
  bool othersMayRename = (parent.st_mode & (S_IWGRP | S_IWOTH)) != 0 && (parent.st_mode & S_ISVTX) == 0;
  return ownerTrusted && !othersMayRename;
}

FileFacts LinuxFileSystem::inspect(const std::string& path) {
  FileFacts facts;
  if (!validPath(path)) return facts;
  struct stat info;
  if (::lstat(path.c_str(), &info) != 0) return facts;
  facts.exists = true;
  facts.regularFile = S_ISREG(info.st_mode);
  facts.ownedByCaller = info.st_uid == ::geteuid();
  facts.size = static_cast<uint64_t>(info.st_size);
  facts.privateFolder = isPrivateFolder(folderOf(path));
  return facts;
}

uint32_t LinuxFileSystem::readFile(const std::string& path, uint64_t maxBytes, std::vector<uint8_t>* out) {
  if (!validPath(path) || out == nullptr) return kErrorInvalidParameter;
  out->clear();
  int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return LinuxErrors::fromErrno(errno);
  struct stat info;
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || static_cast<uint64_t>(info.st_size) > maxBytes) {
    ::close(fd);
    return kErrorAccessDenied;
  }
  out->resize(static_cast<size_t>(info.st_size));
  size_t done = 0;
  while (done < out->size()) {
    ssize_t n = ::read(fd, out->data() + done, out->size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  ::close(fd);
  if (done != out->size()) {
    out->clear();
    return LinuxErrors::kInvalidData;
  }
  return kOk;
}

uint32_t LinuxFileSystem::writeFile(const std::string& path, const uint8_t* data, size_t size, bool executable) {
  if (!validPath(path) || (size > 0 && data == nullptr)) return kErrorInvalidParameter;
  // Never truncate what is there: it may be someone else's file, or a link.
  if (::unlink(path.c_str()) != 0 && errno != ENOENT) return LinuxErrors::fromErrno(errno);
  mode_t mode = executable ? 0700 : 0600;
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
  if (fd < 0) return LinuxErrors::fromErrno(errno);
  size_t done = 0;
  int error = 0;
  while (done < size) {
    ssize_t n = ::write(fd, data + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error = n < 0 ? errno : EIO;
      break;
    }
    done += static_cast<size_t>(n);
  }
  // The umask may have taken bits away; the mode is exactly what was asked.
  if (error == 0 && ::fchmod(fd, mode) != 0) error = errno;
  if (::close(fd) != 0 && error == 0) error = errno;
  if (error != 0) {
    ::unlink(path.c_str());
    return LinuxErrors::fromErrno(error);
  }
  return kOk;
}

uint32_t LinuxFileSystem::deleteFile(const std::string& path) {
  if (!validPath(path)) return kErrorInvalidParameter;
  return ::unlink(path.c_str()) == 0 ? kOk : LinuxErrors::fromErrno(errno);
}

uint32_t LinuxFileSystem::createDirectory(const std::string& path) {
  if (!validPath(path)) return kErrorInvalidParameter;
  std::string folder = withoutTrailingSlashes(path);
  if (::mkdir(folder.c_str(), 0700) != 0) return LinuxErrors::fromErrno(errno);
  ::chmod(folder.c_str(), 0700);
  return kOk;
}

uint32_t LinuxFileSystem::removeDirectory(const std::string& path) {
  if (!validPath(path)) return kErrorInvalidParameter;
  std::string folder = withoutTrailingSlashes(path);
  if (::rmdir(folder.c_str()) == 0) return kOk;
  if (errno == ENOTEMPTY || errno == EEXIST) return kErrorDirectoryNotEmpty;
  return LinuxErrors::fromErrno(errno);
}

}  // namespace tv2
