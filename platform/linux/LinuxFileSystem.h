#pragma once

#include "platform/FileSystemService.h"

namespace tv2 {

// The real file system, with the checks that let the program trust a file
// it is about to have the service manager run as root: no links are
// followed, files are created afresh (O_EXCL) rather than truncated, and a
// folder counts as private only when it belongs to the caller, nobody else
// may write to it, and its parent does not let others rename it away. Holds
// no state.
class LinuxFileSystem : public FileSystemService {
 public:
  FileFacts inspect(const std::string& path) override;
  bool isPrivateFolder(const std::string& folder) override;
  uint32_t readFile(const std::string& path, uint64_t maxBytes, std::vector<uint8_t>* out) override;
  uint32_t writeFile(const std::string& path, const uint8_t* data, size_t size, bool executable) override;
  uint32_t deleteFile(const std::string& path) override;
  uint32_t createDirectory(const std::string& path) override;
  uint32_t removeDirectory(const std::string& path) override;

  // The folder part of a path ("/a/b/c" -> "/a/b", "c" -> ".").
  static std::string folderOf(const std::string& path);
};

}  // namespace tv2
