#include "platform/linux/LinuxFileService.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <utility>
#include <vector>

#include "BuildInfo.h"

namespace tv2 {

namespace {

bool isDirectory(const char* path) {
  if (path == nullptr || path[0] == '\0') return false;
  struct stat info;
  return ::stat(path, &info) == 0 && S_ISDIR(info.st_mode);
}

std::string withSlash(std::string folder) {
  if (folder.empty() || folder.back() != '/') folder.push_back('/');
  return folder;
}

bool isAbsolute(const char* path) { return path != nullptr && path[0] == '/'; }

// The home folder from the user database when $HOME says nothing.
std::string homeFromPasswd() {
  struct passwd entry;
  struct passwd* found = nullptr;
  std::vector<char> buffer(16 * 1024);
  if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr) return {};
  return isAbsolute(found->pw_dir) ? std::string(found->pw_dir) : std::string();
}

// Creates every missing folder of path, each private to the user (0700);
// true when path is a folder afterwards.
bool makeFolders(const std::string& path) {
  for (size_t slash = path.find('/', 1); ; slash = path.find('/', slash + 1)) {
    std::string part = path.substr(0, slash);
    if (!part.empty() && !isDirectory(part.c_str()) && ::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
      return false;
    }
    if (slash == std::string::npos) break;
  }
  return isDirectory(path.c_str());
}

}  // namespace

std::string LinuxFileService::programPath() {
  // readlink does not say when it truncated, so grow until the answer is
  // shorter than the buffer.
  std::string path(256, '\0');
  for (;;) {
    ssize_t length = ::readlink("/proc/self/exe", path.data(), path.size());
    if (length < 0) return std::string();
    if (static_cast<size_t>(length) < path.size()) {
      path.resize(static_cast<size_t>(length));
      return path;
    }
    if (path.size() >= 64 * 1024) return std::string();
    path.resize(path.size() * 2);
  }
}

bool LinuxFileService::programVersion(FileVersion* out) {
  if (out == nullptr) return false;
  // CMake leaves a version part empty when the project version omits it; the
  // "+ 0" turns that into 0 instead of a syntax error.
  out->major = TV2_VERSION_MAJOR + 0;
  out->minor = TV2_VERSION_MINOR + 0;
  out->build = TV2_VERSION_PATCH + 0;
  out->revision = TV2_VERSION_TWEAK + 0;
  return true;
}

std::string LinuxFileService::chooseTempFolder(const char* runtimeDir, const char* tmpDir) {
  if (isDirectory(runtimeDir)) return withSlash(runtimeDir);
  if (isDirectory(tmpDir)) return withSlash(tmpDir);
  return "/tmp/";
}

LinuxFileService::LinuxFileService(std::string rootTempFolder)
    : m_rootTempFolder(withSlash(std::move(rootTempFolder))) {}

std::string LinuxFileService::tempFolder() {
  if (::geteuid() == 0) return m_rootTempFolder;
  return chooseTempFolder(std::getenv("XDG_RUNTIME_DIR"), std::getenv("TMPDIR"));
}

std::string LinuxFileService::currentDirectory() {
  std::string folder(256, '\0');
  for (;;) {
    if (::getcwd(folder.data(), folder.size()) != nullptr) {
      folder.resize(std::char_traits<char>::length(folder.c_str()));
      return folder;
    }
    if (errno != ERANGE || folder.size() >= 1024 * 1024) return std::string();
    folder.resize(folder.size() * 2);
  }
}

bool LinuxFileService::isFolderWritable(const std::string& folder) {
  if (folder.empty() || folder.find('\0') != std::string::npos || !isDirectory(folder.c_str())) return false;
  // The effective user decides, as it is the one that will create the file.
  return ::faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) == 0;
}

std::string LinuxFileService::chooseConfigFolder(const char* configHome, const char* home) {
  if (isAbsolute(configHome)) return withSlash(configHome) + "tarvelle2/";
  if (isAbsolute(home)) return withSlash(home) + ".config/tarvelle2/";
  return {};
}

std::string LinuxFileService::userConfigFolder() {
  const char* home = std::getenv("HOME");
  std::string passwdHome;
  if (!isAbsolute(home)) {
    passwdHome = homeFromPasswd();
    home = passwdHome.empty() ? nullptr : passwdHome.c_str();
  }
  std::string folder = chooseConfigFolder(std::getenv("XDG_CONFIG_HOME"), home);
  if (folder.empty() || folder.find('\0') != std::string::npos) return {};
  // Without the trailing '/' for mkdir.
  if (!makeFolders(folder.substr(0, folder.size() - 1))) return {};
  return folder;
}

bool LinuxFileService::setCurrentDirectory(const std::string& folder) {
  if (folder.empty() || folder.find('\0') != std::string::npos) return false;
  return ::chdir(folder.c_str()) == 0;
}

}  // namespace tv2
