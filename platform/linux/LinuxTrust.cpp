#include "platform/linux/LinuxTrust.h"

#include <unistd.h>

namespace tv2 {

LinuxTrust LinuxTrust::ofCaller() {
  LinuxTrust trust;
  trust.owner = ::geteuid();
  return trust;
}

bool LinuxTrust::acceptsWriters(const struct stat& info) const {
  if (info.st_uid != owner || (info.st_mode & S_IWOTH) != 0) return false;
  if ((info.st_mode & S_IWGRP) == 0) return true;
  return group != kNoGroup && info.st_gid == group;
}

bool LinuxTrust::acceptsFolder(const struct stat& info) const {
  return S_ISDIR(info.st_mode) && acceptsWriters(info);
}

bool LinuxTrust::acceptsFile(const struct stat& info) const {
  return S_ISREG(info.st_mode) && info.st_nlink == 1 && acceptsWriters(info);
}

}  // namespace tv2
