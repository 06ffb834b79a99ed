#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/FileSystemService.h"

namespace tv2::sim {

// The files the program writes on a simulated machine, kept in memory: the
// driver image and its folder. Tests plant files (someone else's, or a link)
// and folders others may write to, and make writes or folder creation fail.
//
// Folders the program never created or removed here (the temporary folder)
// exist and are private; folders made with createDirectory exist until
// removed. Paths are compared as given, less trailing '/'.
//
// Threads: any; one mutex guards everything.
class SimFileSystem : public FileSystemService {
 public:
  // Tests.
  void putFile(const std::string& path, std::vector<uint8_t> bytes, bool ownedByCaller = true,
               bool regularFile = true);
  // Others may write to the folder (it stops being private).
  void setFolderShared(const std::string& folder, bool shared);
  void setWriteError(uint32_t error);            // every writeFile fails (0: succeeds again)
  void setCreateDirectoryError(uint32_t error);  // every createDirectory fails
  bool fileExists(const std::string& path) const;
  bool folderExists(const std::string& folder) const;
  std::optional<std::vector<uint8_t>> contents(const std::string& path) const;
  int writeCount() const;

  FileFacts inspect(const std::string& path) override;
  bool isPrivateFolder(const std::string& folder) override;
  uint32_t readFile(const std::string& path, uint64_t maxBytes, std::vector<uint8_t>* out) override;
  uint32_t writeFile(const std::string& path, const uint8_t* data, size_t size, bool executable) override;
  uint32_t deleteFile(const std::string& path) override;
  uint32_t createDirectory(const std::string& path) override;
  uint32_t removeDirectory(const std::string& path) override;

 private:
  struct File {
    std::vector<uint8_t> bytes;
    bool ownedByCaller = true;
    bool regularFile = true;
  };

  static std::string normal(const std::string& path);
  static std::string folderOf(const std::string& path);
  bool folderExistsLocked(const std::string& folder) const;
  bool folderPrivateLocked(const std::string& folder) const;

  mutable std::mutex m_mutex;  // guards every member below
  std::map<std::string, File> m_files;
  std::set<std::string> m_createdFolders;
  std::set<std::string> m_removedFolders;
  std::set<std::string> m_sharedFolders;
  uint32_t m_writeError = 0;
  uint32_t m_createDirectoryError = 0;
  int m_writes = 0;
};

}  // namespace tv2::sim
