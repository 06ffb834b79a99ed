#include "platform/linux/LinuxNamedMutex.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <limits.h>
#include <unistd.h>

#include <cerrno>
#include <utility>
#include <vector>

#include "platform/ErrorCodes.h"
#include "platform/linux/LinuxErrors.h"

namespace tv2 {

namespace {

constexpr std::string_view kSuffix = ".lock";

bool callerInGroup(gid_t gid) {
  if (::getegid() == gid) return true;
  int count = ::getgroups(0, nullptr);
  if (count <= 0) return false;
  std::vector<gid_t> groups(static_cast<size_t>(count));
  count = ::getgroups(count, groups.data());
  for (int i = 0; i < count; ++i)
    if (groups[static_cast<size_t>(i)] == gid) return true;
  return false;
}

}  // namespace

LinuxNamedMutex::LinuxNamedMutex(std::shared_ptr<LinuxLockFile> file) : m_file(std::move(file)) {}

uint32_t LinuxNamedMutex::fileName(std::string_view prefix, std::string_view name, std::string* out) {
  if (name.empty()) return kErrorInvalidParameter;
  std::string result;
  result.reserve(prefix.size() + name.size() + kSuffix.size());
  for (std::string_view part : {prefix, name}) {
    for (char c : part) {
      if (c == '\0') return kErrorInvalidParameter;
      result.push_back(c == '\\' || c == '/' ? '-' : c);
    }
  }
  result += kSuffix;
  if (result.size() > NAME_MAX || result[0] == '.') return kErrorInvalidParameter;
  *out = std::move(result);
  return kOk;
}

std::unique_ptr<LinuxNamedMutex> LinuxNamedMutex::open(const LinuxTrustedFolder& folder, std::string_view prefix,
                                                       std::string_view name, bool* alreadyExisted,
                                                       uint32_t* error) {
  uint32_t spare = kOk;
  uint32_t& err = error != nullptr ? *error : spare;
  if (alreadyExisted != nullptr) *alreadyExisted = false;
  std::string file;
  err = fileName(prefix, name, &file);
  if (err != kOk) return nullptr;
  std::shared_ptr<LinuxLockFile> lock = LinuxLockFile::open(folder, file, alreadyExisted, &err);
  if (!lock) return nullptr;
  return std::unique_ptr<LinuxNamedMutex>(new LinuxNamedMutex(std::move(lock)));
}

bool LinuxNamedMutex::sharedFolderTrust(const std::string& path, uid_t caller, LinuxTrust* out) {
  struct stat info;
  // Root's, for one group other than root's, and not writable by the group:
  // only root makes the lock file (mode 0660), so no member can replace it.
  if (::lstat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != 0 || info.st_gid == 0 ||
      (info.st_mode & (S_IWGRP | S_IWOTH)) != 0)
    return false;
  if (caller != 0 && !callerInGroup(info.st_gid)) return false;
  out->owner = 0;
  out->group = info.st_gid;
  return true;
}

uint32_t LinuxNamedMutex::openFolder(uid_t caller, const std::string& runRoot, const char* runtimeDir,
                                     LinuxTrustedFolder* out) {
  LinuxTrust trust;
  trust.owner = caller;
  std::string root = runRoot;
  while (root.size() > 1 && root.back() == '/') root.pop_back();
  // The installed package's shared folder: root and the members of its group
  // (the system host's users) all lock the one file in it.
  LinuxTrust shared;
  if (sharedFolderTrust(root + "/tarvelle2/" + kSharedFolder, caller, &shared) &&
      LinuxTrustedFolder::open(root + "/tarvelle2/" + kSharedFolder, shared, false, out) == kOk)
    return kOk;
  if (caller == 0) return LinuxTrustedFolder::open(root + "/tarvelle2", trust, true, out);
  if (runtimeDir == nullptr || runtimeDir[0] != '/') return kErrorPathNotFound;
  return LinuxTrustedFolder::open(runtimeDir, trust, false, out);
}

uint32_t LinuxNamedMutex::remove(const LinuxTrustedFolder& folder, std::string_view prefix, std::string_view name) {
  std::string file;
  uint32_t result = fileName(prefix, name, &file);
  if (result != kOk) return result;
  if (!folder.valid()) return kErrorInvalidHandle;
  if (::unlinkat(folder.fd(), file.c_str(), 0) != 0) return LinuxErrors::fromErrno(errno);
  return kOk;
}

uint32_t LinuxNamedMutex::wait(uint32_t timeoutMs) { return m_file->wait(timeoutMs); }

bool LinuxNamedMutex::release() { return m_file->release(); }

}  // namespace tv2
