#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace tv2 {

class Platform;
class FileSystemService;

// Puts the driver image on disk for the service manager to start. An image
// already there is used only when it can be trusted: a regular file of the
// program's own user, in a folder nobody else may write to, with exactly the
// bytes the program carries. Anything else at that place is replaced, and a
// folder others may write to is never written into: whoever could put a file
// there could have the service manager run it with full privileges.
class DriverImageFile {
 public:
  // Longest path the client composes (its work buffer holds 255 characters).
  static constexpr size_t kMaxPath = 255;

  // "folder/name" with exactly one '/' between; empty when longer than kMaxPath.
  static std::string join(const std::string& folder, const std::string& name);

  // Writes resource resourceId as fileName into *folder. When that fails the
  // image goes into the temporary folder instead, which then replaces
  // *folder. makeFolder first (re)creates *folder as a private folder, since
  // an earlier install removed it. Returns kOk or the first error that
  // decided the outcome (DRIVER_ERR_NO_IMAGE for identifier -1).
  static uint32_t write(Platform& platform, int resourceId, const std::string& fileName,
                        bool makeFolder, std::string* folder);

  // True when the file at path is the program's own copy of image.
  static bool isTrustedCopy(FileSystemService& files, const std::string& path,
                            std::span<const uint8_t> image);

 private:
  static uint32_t writeInto(FileSystemService& files, const std::string& folder,
                            const std::string& path, std::span<const uint8_t> image);
};

}  // namespace tv2
