#pragma once

#include <unistd.h>

#include <map>
#include <mutex>
#include <string>

#include "platform/FileSystemService.h"
#include "platform/linux/LinuxTrustedFolder.h"

namespace tv2 {

// The real file system, with the checks that let the program trust a file
// it is about to have the service manager run as root: no links are
// followed, files are created afresh (O_EXCL) rather than truncated.
//
// Root works only inside folders it made itself directly under the root
// folder it is given (/run/tarvelle2, which only root may write to): the
// folder is made with mode 0700, opened with O_DIRECTORY | O_NOFOLLOW and
// checked through that descriptor, and every later step inside it goes
// through the descriptor (openat, fstatat, unlinkat), so nobody can swap or
// redirect it. Any other path is refused to root (kErrorAccessDenied), so a
// folder or link someone else put anywhere changes nothing. Everyone else
// works by path, and a folder counts as private only when it belongs to the
// caller, nobody else may write to it, and its parent does not let others
// rename it away. Thread-safe.
class LinuxFileSystem : public FileSystemService {
 public:
  // rootRules: the rules for root (the default for an effective user id of
  // 0); tests choose.
  explicit LinuxFileSystem(std::string rootFolder = "/run/tarvelle2", bool rootRules = ::geteuid() == 0);

  FileFacts inspect(const std::string& path) override;
  bool isPrivateFolder(const std::string& folder) override;
  uint32_t readFile(const std::string& path, uint64_t maxBytes, std::vector<uint8_t>* out) override;
  uint32_t writeFile(const std::string& path, const uint8_t* data, size_t size, bool executable) override;
  uint32_t deleteFile(const std::string& path) override;
  uint32_t createDirectory(const std::string& path) override;
  uint32_t removeDirectory(const std::string& path) override;

  // The folder part of a path ("/a/b/c" -> "/a/b", "c" -> ".").
  static std::string folderOf(const std::string& path);

 private:
  // Where a file operation happens: a folder descriptor (or AT_FDCWD) and
  // the name relative to it. For root, the held folder's descriptor, which
  // stays valid while m_mutex is held.
  struct Place {
    int folder = -1;
    std::string name;
  };
  // kErrorAccessDenied for root outside its own folders. Requires m_mutex.
  uint32_t placeOf(const std::string& path, Place* out) const;
  bool privateFolderLocked(const std::string& folder) const;

  const std::string m_rootFolder;
  const bool m_rootRules;
  mutable std::mutex m_mutex;
  // Root's folders by path (without trailing '/'); written by createDirectory
  // and removeDirectory, guarded by m_mutex.
  std::map<std::string, LinuxTrustedFolder> m_held;
};

}  // namespace tv2
