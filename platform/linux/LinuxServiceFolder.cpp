#include "platform/linux/LinuxServiceFolder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/ErrorCodes.h"
#include "platform/linux/LinuxErrors.h"

namespace tv2 {

LinuxServiceFolder::LinuxServiceFolder(const std::string& runRoot) {
  std::string root = runRoot;
  while (root.size() > 1 && root.back() == '/') root.pop_back();
  m_path = root + "/tarvelle2";
}

bool LinuxServiceFolder::validName(const std::string& name) {
  if (name.empty() || name.size() > 64 || name[0] == '.') return false;
  for (char c : name) {
    bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
              c == '-' || c == '.';
    if (!ok) return false;
  }
  return true;
}

uint32_t LinuxServiceFolder::prepare() const {
  if (::mkdir(m_path.c_str(), 0700) != 0 && errno != EEXIST) return LinuxErrors::fromErrno(errno);
  struct stat info;
  if (::lstat(m_path.c_str(), &info) != 0) return LinuxErrors::fromErrno(errno);
  // Whoever else could write here could register a service of their own.
  if (!S_ISDIR(info.st_mode) || info.st_uid != 0 || (info.st_mode & (S_IWGRP | S_IWOTH)) != 0)
    return kErrorAccessDenied;
  return kOk;
}

}  // namespace tv2
