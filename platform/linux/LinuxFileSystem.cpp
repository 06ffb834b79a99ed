#include "platform/linux/LinuxFileSystem.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "platform/ErrorCodes.h"
#include "platform/linux/LinuxErrors.h"

namespace tv2 {

namespace {

std::string withoutTrailingSlashes(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

std::string lastComponent(const std::string& path) {
  std::string trimmed = withoutTrailingSlashes(path);
  size_t slash = trimmed.find_last_of('/');
  return slash == std::string::npos ? trimmed : trimmed.substr(slash + 1);
}

bool validPath(const std::string& path) { return !path.empty() && path.find('\0') == std::string::npos; }

LinuxTrust rootTrust() { return LinuxTrust{}; }

}  // namespace

LinuxFileSystem::LinuxFileSystem(std::string rootFolder, bool rootRules)
    : m_rootFolder(withoutTrailingSlashes(std::move(rootFolder))), m_rootRules(rootRules) {}

std::string LinuxFileSystem::folderOf(const std::string& path) {
  std::string trimmed = withoutTrailingSlashes(path);
  size_t slash = trimmed.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return withoutTrailingSlashes(trimmed.substr(0, slash));
}

uint32_t LinuxFileSystem::placeOf(const std::string& path, Place* out) const {
  if (!validPath(path)) return kErrorInvalidParameter;
  if (!m_rootRules) {
    out->folder = AT_FDCWD;
    out->name = path;
    return kOk;
  }
  auto held = m_held.find(folderOf(path));
  std::string name = lastComponent(path);
  if (held == m_held.end() || !LinuxTrustedFolder::validName(name)) return kErrorAccessDenied;
  out->folder = held->second.fd();
  out->name = name;
  return kOk;
}

bool LinuxFileSystem::privateFolderLocked(const std::string& folder) const {
  if (!validPath(folder)) return false;
  std::string path = withoutTrailingSlashes(folder);
  if (m_rootRules) return m_held.count(path) != 0;
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

bool LinuxFileSystem::isPrivateFolder(const std::string& folder) {
  std::lock_guard<std::mutex> lock(m_mutex);
  return privateFolderLocked(folder);
}

FileFacts LinuxFileSystem::inspect(const std::string& path) {
  std::lock_guard<std::mutex> lock(m_mutex);
  FileFacts facts;
  Place place;
  if (placeOf(path, &place) != kOk) return facts;
  struct stat info;
  if (::fstatat(place.folder, place.name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) return facts;
  facts.exists = true;
  facts.regularFile = S_ISREG(info.st_mode);
  facts.ownedByCaller = info.st_uid == ::geteuid();
  facts.size = static_cast<uint64_t>(info.st_size);
  facts.privateFolder = privateFolderLocked(folderOf(path));
  return facts;
}

uint32_t LinuxFileSystem::readFile(const std::string& path, uint64_t maxBytes, std::vector<uint8_t>* out) {
  if (out == nullptr) return kErrorInvalidParameter;
  out->clear();
  std::lock_guard<std::mutex> lock(m_mutex);
  Place place;
  uint32_t error = placeOf(path, &place);
  if (error != kOk) return error;
  int fd = ::openat(place.folder, place.name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
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
  if (size > 0 && data == nullptr) return kErrorInvalidParameter;
  std::lock_guard<std::mutex> lock(m_mutex);
  Place place;
  uint32_t placed = placeOf(path, &place);
  if (placed != kOk) return placed;
  const char* name = place.name.c_str();
  // Never truncate what is there: it may be someone else's file, or a link.
  if (::unlinkat(place.folder, name, 0) != 0 && errno != ENOENT) return LinuxErrors::fromErrno(errno);
  mode_t mode = executable ? 0700 : 0600;
  int fd = ::openat(place.folder, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
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
    ::unlinkat(place.folder, name, 0);
    return LinuxErrors::fromErrno(error);
  }
  return kOk;
}

uint32_t LinuxFileSystem::deleteFile(const std::string& path) {
  std::lock_guard<std::mutex> lock(m_mutex);
  Place place;
  uint32_t error = placeOf(path, &place);
  if (error != kOk) return error;
  return ::unlinkat(place.folder, place.name.c_str(), 0) == 0 ? kOk : LinuxErrors::fromErrno(errno);
}

uint32_t LinuxFileSystem::createDirectory(const std::string& path) {
  if (!validPath(path)) return kErrorInvalidParameter;
  std::string folder = withoutTrailingSlashes(path);
  if (!m_rootRules) {
    if (::mkdir(folder.c_str(), 0700) != 0) return LinuxErrors::fromErrno(errno);
    ::chmod(folder.c_str(), 0700);
    return kOk;
  }
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_held.count(folder) != 0) return kErrorAlreadyExists;
  // Only directly in root's own folder, which nobody else may write to.
  if (folderOf(folder) != m_rootFolder) return kErrorAccessDenied;
  LinuxTrustedFolder rootFolder;
  uint32_t error = LinuxTrustedFolder::open(m_rootFolder, rootTrust(), true, &rootFolder);
  if (error != kOk) return error;
  LinuxTrustedFolder made;
  bool created = false;
  error = rootFolder.openChild(lastComponent(folder), true, &made, &created);
  if (error != kOk) return error;
  m_held.emplace(folder, std::move(made));
  return created ? kOk : kErrorAlreadyExists;
}

uint32_t LinuxFileSystem::removeDirectory(const std::string& path) {
  if (!validPath(path)) return kErrorInvalidParameter;
  std::string folder = withoutTrailingSlashes(path);
  if (!m_rootRules) {
    if (::rmdir(folder.c_str()) == 0) return kOk;
    if (errno == ENOTEMPTY || errno == EEXIST) return kErrorDirectoryNotEmpty;
    return LinuxErrors::fromErrno(errno);
  }
  std::lock_guard<std::mutex> lock(m_mutex);
  auto held = m_held.find(folder);
  if (held == m_held.end()) return kErrorAccessDenied;
  LinuxTrustedFolder rootFolder;
  uint32_t error = LinuxTrustedFolder::open(m_rootFolder, rootTrust(), false, &rootFolder);
  if (error != kOk) return error;
  // The name must still be the folder this object holds.
  struct stat there;
  struct stat mine;
  std::string name = lastComponent(folder);
  if (::fstatat(rootFolder.fd(), name.c_str(), &there, AT_SYMLINK_NOFOLLOW) != 0 ||
      ::fstat(held->second.fd(), &mine) != 0 || there.st_dev != mine.st_dev || there.st_ino != mine.st_ino) {
    m_held.erase(held);
    return kErrorFileNotFound;
  }
  if (::unlinkat(rootFolder.fd(), name.c_str(), AT_REMOVEDIR) != 0)
    return errno == ENOTEMPTY || errno == EEXIST ? kErrorDirectoryNotEmpty : LinuxErrors::fromErrno(errno);
  m_held.erase(held);
  return kOk;
}

}  // namespace tv2
