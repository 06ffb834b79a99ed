#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tv2 {

// Failures of FileSystemService besides the common ones (2, 5, 183).
inline constexpr uint32_t kErrorDirectoryNotEmpty = 145;
inline constexpr uint32_t kErrorFilenameTooLong = 206;

// What the program may learn about a file before it trusts it.
struct FileFacts {
  bool exists = false;         // something is at the path (a link is not followed)
  bool regularFile = false;    // a plain file, not a link, folder or device
  bool ownedByCaller = false;  // owned by the program's own (effective) user
  bool privateFolder = false;  // its folder is the caller's and writable by nobody else
  uint64_t size = 0;
};

// Files and folders the program writes: the driver image and its private
// folder. Paths use '/'. Every method may be called from any thread; the
// file system itself is the only shared state.
class FileSystemService {
 public:
  virtual ~FileSystemService() = default;

  virtual FileFacts inspect(const std::string& path) = 0;
  // True when the folder belongs to the caller and nobody else may write to
  // it (nor rename it away).
  virtual bool isPrivateFolder(const std::string& folder) = 0;
  // The whole file, when it is at most maxBytes long.
  virtual uint32_t readFile(const std::string& path, uint64_t maxBytes, std::vector<uint8_t>* out) = 0;
  // Replaces whatever is at path by a new file of the caller's holding these
  // bytes (mode 0700 when executable, else 0600). Never writes through a link
  // or into a file someone else created.
  virtual uint32_t writeFile(const std::string& path, const uint8_t* data, size_t size, bool executable) = 0;
  virtual uint32_t deleteFile(const std::string& path) = 0;
  // A folder only the caller may use; kErrorAlreadyExists when the path is
  // taken.
  virtual uint32_t createDirectory(const std::string& path) = 0;
  // Only an empty folder.
  virtual uint32_t removeDirectory(const std::string& path) = 0;
};

}  // namespace tv2
