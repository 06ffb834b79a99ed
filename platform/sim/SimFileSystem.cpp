#include "platform/sim/SimFileSystem.h"

#include <utility>

#include "platform/ErrorCodes.h"

namespace tv2::sim {

std::string SimFileSystem::normal(const std::string& path) {
  std::string result = path;
  while (result.size() > 1 && result.back() == '/') result.pop_back();
  return result;
}

std::string SimFileSystem::folderOf(const std::string& path) {
  std::string trimmed = normal(path);
  size_t slash = trimmed.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : normal(trimmed.substr(0, slash));
}

bool SimFileSystem::folderExistsLocked(const std::string& folder) const {
  std::string key = normal(folder);
  if (m_createdFolders.count(key) != 0) return true;
  return m_removedFolders.count(key) == 0 && m_files.count(key) == 0;
}

bool SimFileSystem::folderPrivateLocked(const std::string& folder) const {
  return folderExistsLocked(folder) && m_sharedFolders.count(normal(folder)) == 0;
}

void SimFileSystem::putFile(const std::string& path, std::vector<uint8_t> bytes, bool ownedByCaller,
                            bool regularFile) {
  std::lock_guard lock(m_mutex);
  m_files[normal(path)] = File{std::move(bytes), ownedByCaller, regularFile};
}

void SimFileSystem::setFolderShared(const std::string& folder, bool shared) {
  std::lock_guard lock(m_mutex);
  if (shared)
    m_sharedFolders.insert(normal(folder));
  else
    m_sharedFolders.erase(normal(folder));
}

void SimFileSystem::setWriteError(uint32_t error) {
  std::lock_guard lock(m_mutex);
  m_writeError = error;
}

void SimFileSystem::setCreateDirectoryError(uint32_t error) {
  std::lock_guard lock(m_mutex);
  m_createDirectoryError = error;
}

bool SimFileSystem::fileExists(const std::string& path) const {
  std::lock_guard lock(m_mutex);
  return m_files.count(normal(path)) != 0;
}

bool SimFileSystem::folderExists(const std::string& folder) const {
  std::lock_guard lock(m_mutex);
  return folderExistsLocked(folder);
}

std::optional<std::vector<uint8_t>> SimFileSystem::contents(const std::string& path) const {
  std::lock_guard lock(m_mutex);
  auto found = m_files.find(normal(path));
  if (found == m_files.end()) return std::nullopt;
  return found->second.bytes;
}

int SimFileSystem::writeCount() const {
  std::lock_guard lock(m_mutex);
  return m_writes;
}

FileFacts SimFileSystem::inspect(const std::string& path) {
  std::lock_guard lock(m_mutex);
  FileFacts facts;
  auto found = m_files.find(normal(path));
  if (found == m_files.end()) return facts;
  facts.exists = true;
  facts.regularFile = found->second.regularFile;
  facts.ownedByCaller = found->second.ownedByCaller;
  facts.size = found->second.bytes.size();
  facts.privateFolder = folderPrivateLocked(folderOf(path));
  return facts;
}

bool SimFileSystem::isPrivateFolder(const std::string& folder) {
  std::lock_guard lock(m_mutex);
  return folderPrivateLocked(folder);
}

uint32_t SimFileSystem::readFile(const std::string& path, uint64_t maxBytes, std::vector<uint8_t>* out) {
  std::lock_guard lock(m_mutex);
  if (out == nullptr) return kErrorInvalidParameter;
  out->clear();
  auto found = m_files.find(normal(path));
  if (found == m_files.end()) return kErrorFileNotFound;
  // A link is not followed, and nothing larger than asked for is read.
  if (!found->second.regularFile || found->second.bytes.size() > maxBytes) return kErrorAccessDenied;
  *out = found->second.bytes;
  return kOk;
}

uint32_t SimFileSystem::writeFile(const std::string& path, const uint8_t* data, size_t size, bool) {
  std::lock_guard lock(m_mutex);
  if (m_writeError != 0) return m_writeError;
  if (!folderExistsLocked(folderOf(path))) return kErrorFileNotFound;
  ++m_writes;
  m_files[normal(path)] = File{std::vector<uint8_t>(data, data + size), true, true};
  return kOk;
}

uint32_t SimFileSystem::deleteFile(const std::string& path) {
  std::lock_guard lock(m_mutex);
  return m_files.erase(normal(path)) != 0 ? kOk : kErrorFileNotFound;
}

uint32_t SimFileSystem::createDirectory(const std::string& path) {
  std::lock_guard lock(m_mutex);
  std::string key = normal(path);
  if (m_createDirectoryError != 0) return m_createDirectoryError;
  if (m_files.count(key) != 0 || m_createdFolders.count(key) != 0) return kErrorAlreadyExists;
  m_createdFolders.insert(key);
  m_removedFolders.erase(key);
  return kOk;
}

uint32_t SimFileSystem::removeDirectory(const std::string& path) {
  std::lock_guard lock(m_mutex);
  std::string key = normal(path);
  if (!folderExistsLocked(key)) return kErrorFileNotFound;
  for (const auto& [file, entry] : m_files)
    if (folderOf(file) == key) return kErrorDirectoryNotEmpty;
  m_createdFolders.erase(key);
  m_removedFolders.insert(key);
  return kOk;
}

}  // namespace tv2::sim
