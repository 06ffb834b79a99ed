#pragma once

#include <sys/types.h>

#include <vector>

namespace tv2 {

// Who may talk to the host: root always; with an allowed group, also every
// process whose primary or supplementary groups include it. The groups are
// the ones the kernel recorded for the peer when it connected (SO_PEERCRED,
// SO_PEERGROUPS), not the user database's, so a user added to the group
// after logging in is let in only after logging in again, and a process
// that dropped the group is not.
//
// Threads: any; the object holds only constants.
class PeerAccess {
 public:
  static constexpr gid_t kNoGroup = static_cast<gid_t>(-1);

  explicit PeerAccess(gid_t allowedGroup = kNoGroup) : m_allowedGroup(allowedGroup) {}

  gid_t allowedGroup() const { return m_allowedGroup; }

  // The decision for a connected socket; false when its credentials cannot
  // be read.
  bool allows(int fd) const;
  // The decision for the given credentials.
  bool allows(uid_t uid, gid_t gid, const std::vector<gid_t>& groups) const;

  // The peer's supplementary groups; false when the kernel cannot say.
  static bool peerGroups(int fd, std::vector<gid_t>* groups);

 private:
  gid_t m_allowedGroup;
};

}  // namespace tv2
