#include "hw/DriverImageFile.h"

#include <algorithm>
#include <vector>

#include "hw/DriverErrors.h"
#include "platform/ErrorCodes.h"
#include "platform/Platform.h"

namespace tv2 {

std::string DriverImageFile::join(const std::string& folder, const std::string& name) {
  std::string path = folder;
  if (path.empty() || path.back() != '/') path.push_back('/');
  path += name;
  return path.size() <= kMaxPath ? path : std::string();
}

bool DriverImageFile::isTrustedCopy(FileSystemService& files, const std::string& path,
                                    std::span<const uint8_t> image) {
  FileFacts facts = files.inspect(path);
  if (!facts.exists || !facts.regularFile || !facts.ownedByCaller || !facts.privateFolder ||
      facts.size != image.size())
    return false;
  std::vector<uint8_t> bytes;
  if (files.readFile(path, image.size(), &bytes) != kOk) return false;
  return std::equal(bytes.begin(), bytes.end(), image.begin(), image.end());
}

uint32_t DriverImageFile::writeInto(FileSystemService& files, const std::string& folder,
                                    const std::string& path, std::span<const uint8_t> image) {
  if (path.empty()) return kErrorFilenameTooLong;
  if (isTrustedCopy(files, path, image)) return kOk;
  if (!files.isPrivateFolder(folder)) return kErrorAccessDenied;
  uint32_t error = files.writeFile(path, image.data(), image.size(), true);
  if (error == kOk) return kOk;
  // Whatever stood in the way goes, then one more try.
  files.deleteFile(path);
  return files.writeFile(path, image.data(), image.size(), true);
}

uint32_t DriverImageFile::write(Platform& platform, int resourceId, const std::string& fileName,
                                bool makeFolder, std::string* folder) {
  if (resourceId == -1) return DRIVER_ERR_NO_IMAGE;
  std::span<const uint8_t> image;
  uint32_t error = platform.resources().find(static_cast<uint32_t>(resourceId), &image);
  if (error != kOk) return error;

  FileSystemService& files = platform.fileSystem();
  if (makeFolder) files.createDirectory(*folder);
  error = writeInto(files, *folder, join(*folder, fileName), image);
  if (error == kOk) return kOk;

  std::string fallback = platform.files().tempFolder();
  if (fallback.empty()) return error;
  error = writeInto(files, fallback, join(fallback, fileName), image);
  if (error == kOk) *folder = fallback;
  return error;
}

}  // namespace tv2
