#pragma once

#include <sys/stat.h>
#include <sys/types.h>

namespace tv2 {

// Who may create, replace and write files in a folder the program trusts:
// its owner, and, when a group is named, the members of that group (a folder
// of root's shared with one group, mode 0770). A folder or file is accepted
// only when it belongs to the owner and nobody outside that circle may write
// it. Plain data, copied freely.
struct LinuxTrust {
  static constexpr gid_t kNoGroup = static_cast<gid_t>(-1);

  uid_t owner = 0;
  gid_t group = kNoGroup;

  // The caller's own circle: root alone for root, else the effective user.
  static LinuxTrust ofCaller();

  // A folder (not a link) of the owner's that others cannot write to; group
  // write only for the named group.
  bool acceptsFolder(const struct stat& info) const;
  // A regular file (not a link, with no second name elsewhere) of the
  // owner's that others cannot write to; group write only for the named
  // group.
  bool acceptsFile(const struct stat& info) const;

 private:
  bool acceptsWriters(const struct stat& info) const;
};

}  // namespace tv2
