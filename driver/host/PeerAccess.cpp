#include "driver/host/PeerAccess.h"

#include <sys/socket.h>

#include <algorithm>
#include <cerrno>

namespace tv2 {

bool PeerAccess::allows(uid_t uid, gid_t gid, const std::vector<gid_t>& groups) const {
  if (uid == 0) return true;
  if (m_allowedGroup == kNoGroup) return false;
  // Group 0 is never handed out through the socket: only root may be root.
  if (m_allowedGroup == 0) return false;
  return gid == m_allowedGroup || std::find(groups.begin(), groups.end(), m_allowedGroup) != groups.end();
}

bool PeerAccess::peerGroups(int fd, std::vector<gid_t>* groups) {
  groups->assign(16, 0);
  for (int attempt = 0; attempt < 8; ++attempt) {
    socklen_t size = static_cast<socklen_t>(groups->size() * sizeof(gid_t));
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERGROUPS, groups->data(), &size) == 0) {
      groups->resize(size / sizeof(gid_t));
      return true;
    }
    // ERANGE: the size the list needs is in size.
    if (errno != ERANGE || size / sizeof(gid_t) <= groups->size()) return false;
    groups->assign(size / sizeof(gid_t), 0);
  }
  return false;
}

bool PeerAccess::allows(int fd) const {
  ucred credentials{};
  socklen_t size = sizeof credentials;
  if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0 || size != sizeof credentials)
    return false;
  if (credentials.uid == 0) return true;
  if (m_allowedGroup == kNoGroup) return false;
  std::vector<gid_t> groups;
  if (!peerGroups(fd, &groups)) return false;
  return allows(credentials.uid, credentials.gid, groups);
}

}  // namespace tv2
