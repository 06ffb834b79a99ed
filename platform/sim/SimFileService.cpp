#include "platform/sim/SimFileService.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <utility>

namespace tv2::sim {

namespace fs = std::filesystem;

SimFileService::SimFileService() {
  std::error_code error;
  const fs::path cwd = fs::current_path(error);
  m_currentDirectory = error ? std::string("/") : cwd.string();
}

SimFileService::~SimFileService() {
  if (m_ownsTempFolder) {
    std::error_code ignored;
    fs::remove_all(m_tempFolder, ignored);
  }
}

void SimFileService::setProgramPath(std::string path) {
  std::lock_guard lock(m_mutex);
  m_programPath = std::move(path);
}

void SimFileService::setTempFolder(std::string folder) {
  std::lock_guard lock(m_mutex);
  if (!folder.empty() && folder.back() != '/') {
    folder += '/';
  }
  if (m_ownsTempFolder) {
    std::error_code ignored;
    fs::remove_all(m_tempFolder, ignored);
    m_ownsTempFolder = false;
  }
  m_tempFolder = std::move(folder);
}

void SimFileService::setProgramVersion(FileVersion version) {
  std::lock_guard lock(m_mutex);
  m_version = version;
}

void SimFileService::setProgramVersionReadable(bool readable) {
  std::lock_guard lock(m_mutex);
  m_versionReadable = readable;
}

std::string SimFileService::programPath() {
  std::lock_guard lock(m_mutex);
  return m_programPath;
}

bool SimFileService::programVersion(FileVersion* out) {
  std::lock_guard lock(m_mutex);
  if (out == nullptr || !m_versionReadable) {
    return false;
  }
  *out = m_version;
  return true;
}

void SimFileService::setFolderWritable(std::optional<bool> writable) {
  std::lock_guard lock(m_mutex);
  m_folderWritable = writable;
}

void SimFileService::setUserConfigFolder(std::string folder) {
  std::lock_guard lock(m_mutex);
  if (!folder.empty() && folder.back() != '/') folder += '/';
  m_userConfigFolder = std::move(folder);
}

std::string SimFileService::tempFolder() {
  std::lock_guard lock(m_mutex);
  return tempFolderLocked();
}

std::string SimFileService::tempFolderLocked() {
  if (m_tempFolder.empty()) {
    // mkdtemp creates the folder private to the user (0700) under a fresh name.
    char pattern[] = "/tmp/tarvelle2-sim-XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
      return {};
    }
    m_tempFolder = std::string(pattern) + "/";
    m_ownsTempFolder = true;
  }
  return m_tempFolder;
}

std::string SimFileService::currentDirectory() {
  std::lock_guard lock(m_mutex);
  return m_currentDirectory;
}

bool SimFileService::isFolderWritable(const std::string& folder) {
  {
    std::lock_guard lock(m_mutex);
    if (m_folderWritable.has_value()) return *m_folderWritable;
  }
  std::error_code error;
  if (folder.empty() || !fs::is_directory(folder, error)) return false;
  return ::access(folder.c_str(), W_OK | X_OK) == 0;
}

std::string SimFileService::userConfigFolder() {
  std::lock_guard lock(m_mutex);
  std::string folder = m_userConfigFolder;
  if (folder.empty()) {
    std::string temp = tempFolderLocked();
    if (temp.empty()) return {};
    folder = temp + "config/tarvelle2/";
  }
  std::error_code error;
  const bool created = fs::create_directories(folder, error);
  if (!fs::is_directory(folder, error)) return {};
  if (created) fs::permissions(folder, fs::perms::owner_all, fs::perm_options::replace, error);
  return folder;
}

bool SimFileService::setCurrentDirectory(const std::string& folder) {
  if (folder.empty()) {
    return false;
  }
  std::lock_guard lock(m_mutex);
  fs::path target(folder);
  if (target.is_relative()) {
    target = fs::path(m_currentDirectory) / target;
  }
  target = target.lexically_normal();
  std::error_code error;
  if (!fs::is_directory(target, error)) {
    return false;
  }
  std::string text = target.string();
  if (text.size() > 1 && text.back() == '/') {
    text.pop_back();
  }
  m_currentDirectory = std::move(text);
  return true;
}

}  // namespace tv2::sim
