#include "platform/linux/LinuxSystemHost.h"

#include <grp.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <utility>

namespace tv2 {

namespace {

bool exists(const std::string& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0;
}

bool rootSocket(const std::string& path, struct stat* info) {
  return ::lstat(path.c_str(), info) == 0 && S_ISSOCK(info->st_mode) && info->st_uid == 0;
}

std::string groupName(gid_t gid) {
  group entry{};
  group* found = nullptr;
  std::vector<char> buffer(16384);
  if (::getgrgid_r(gid, &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr)
    return found->gr_name;
  return std::to_string(gid);
}

bool processHasGroup(gid_t gid) {
  if (::getegid() == gid) return true;
  int count = ::getgroups(0, nullptr);
  if (count <= 0) return false;
  std::vector<gid_t> groups(static_cast<size_t>(count));
  count = ::getgroups(count, groups.data());
  return count > 0 && std::find(groups.begin(), groups.begin() + count, gid) != groups.begin() + count;
}

// The user's name, and whether the user database puts the user in gid.
bool userListedInGroup(gid_t gid, std::string* userName) {
  passwd entry{};
  passwd* found = nullptr;
  std::vector<char> buffer(16384);
  if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr) {
    *userName = std::to_string(::geteuid());
    return false;
  }
  *userName = found->pw_name;
  int count = 64;
  std::vector<gid_t> groups(static_cast<size_t>(count));
  if (::getgrouplist(found->pw_name, found->pw_gid, groups.data(), &count) < 0) {
    groups.resize(static_cast<size_t>(count));
    if (::getgrouplist(found->pw_name, found->pw_gid, groups.data(), &count) < 0) return false;
  }
  groups.resize(static_cast<size_t>(count));
  return std::find(groups.begin(), groups.end(), gid) != groups.end();
}

bool answers(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) return false;
  std::memcpy(address.sun_path, path.c_str(), path.size());
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  bool connected = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);
  return connected;
}

}  // namespace

LinuxSystemHost::LinuxSystemHost(std::string socketPath, std::vector<std::string> unitFiles)
    : m_socketPath(std::move(socketPath)), m_unitFiles(std::move(unitFiles)) {}

bool LinuxSystemHost::socketPresent() const {
  struct stat info;
  return rootSocket(m_socketPath, &info);
}

bool LinuxSystemHost::installed() const {
  return socketPresent() || std::any_of(m_unitFiles.begin(), m_unitFiles.end(), exists);
}

LinuxSystemHost::Facts LinuxSystemHost::gather() const {
  Facts facts;
  facts.unitInstalled = std::any_of(m_unitFiles.begin(), m_unitFiles.end(), exists);
  struct stat info;
  facts.socketPresent = rootSocket(m_socketPath, &info);
  gid_t gid = facts.socketPresent ? info.st_gid : static_cast<gid_t>(-1);
  if (!facts.socketPresent) {
    // Without the socket the group is the one the package creates.
    group entry{};
    group* found = nullptr;
    std::vector<char> buffer(16384);
    if (::getgrnam_r(kGroupName, &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr)
      gid = found->gr_gid;
  }
  facts.groupName = gid != static_cast<gid_t>(-1) ? groupName(gid) : std::string(kGroupName);
  facts.processInGroup = gid != static_cast<gid_t>(-1) && processHasGroup(gid);
  facts.userListedInGroup = gid != static_cast<gid_t>(-1) && userListedInGroup(gid, &facts.userName);
  if (facts.userName.empty()) userListedInGroup(0, &facts.userName);
  facts.answers = facts.socketPresent && answers(m_socketPath);
  return facts;
}

std::string LinuxSystemHost::explain(const Facts& facts) {
  if (!facts.unitInstalled && !facts.socketPresent)
    return "no system driver host is installed: install the tarvelle2 package (see README), or run as root";
  if (!facts.socketPresent)
    return std::string("the system driver host is installed but its socket is not active: "
                       "sudo systemctl enable --now ") + kSocketUnit;
  if (!facts.processInGroup) {
    if (facts.userListedInGroup)
      return "you were added to group " + facts.groupName + " after logging in: log in again";
    return "you are not in group " + facts.groupName + ": sudo adduser " + facts.userName + " " +
           facts.groupName + ", then log in again";
  }
  if (!facts.answers)
    return std::string("the system driver host does not answer: see systemctl status ") + kSocketUnit;
  return std::string();
}

}  // namespace tv2
