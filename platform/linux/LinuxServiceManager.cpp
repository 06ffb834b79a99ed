#include "platform/linux/LinuxServiceManager.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "platform/ErrorCodes.h"
#include "platform/linux/LinuxErrors.h"
#include "platform/linux/LinuxFileSystem.h"
#include "platform/linux/LinuxServiceProcess.h"
#include "platform/linux/LinuxTrustedFolder.h"

namespace tv2 {

namespace {

constexpr const char* kImageKey = "image=";
constexpr const char* kDisplayKey = "display=";

bool singleLine(const std::string& text) {
  return text.find('\n') == std::string::npos && text.find('\0') == std::string::npos;
}

}  // namespace

LinuxServiceManager::LinuxServiceManager(LinuxServiceFolder folder, std::vector<std::string> extraArguments)
    : m_folder(std::move(folder)), m_extraArguments(std::move(extraArguments)) {}

uint32_t LinuxServiceManager::createService(const std::string& name, const std::string& displayName,
                                            const std::string& imagePath) {
  if (!LinuxServiceFolder::validName(name) || !singleLine(displayName)) return kErrorInvalidName;
  if (imagePath.empty() || imagePath[0] != '/' || !singleLine(imagePath)) return kErrorInvalidParameter;
  std::string path = m_folder.registration(name);
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return errno == EEXIST ? kErrorServiceExists : LinuxErrors::fromErrno(errno);
  std::string text = std::string(kDisplayKey) + displayName + "\n" + kImageKey + imagePath + "\n";
  bool written = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  if (::close(fd) != 0 || !written) {
    ::unlink(path.c_str());
    return LinuxErrors::kGeneralFailure;
  }
  return kOk;
}

uint32_t LinuxServiceManager::readRegistration(const std::string& name, std::string* imagePath) const {
  if (!LinuxServiceFolder::validName(name)) return kErrorInvalidName;
  int fd = ::open(m_folder.registration(name).c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT ? kErrorServiceDoesNotExist : LinuxErrors::fromErrno(errno);
  char buffer[2048];
  ssize_t n = ::read(fd, buffer, sizeof buffer);
  ::close(fd);
  if (n <= 0) return LinuxErrors::kInvalidData;
  std::string text(buffer, static_cast<size_t>(n));
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (line.rfind(kImageKey, 0) == 0) {
      *imagePath = line.substr(std::char_traits<char>::length(kImageKey));
      return imagePath->empty() ? LinuxErrors::kInvalidData : kOk;
    }
    start = end + 1;
  }
  return LinuxErrors::kInvalidData;
}

uint32_t LinuxServiceManager::openImage(const std::string& imagePath, int* fd) {
  *fd = -1;
  // The folder is reached without following any link, through folders only
  // root may change; the file is then opened through the folder's
  // descriptor and checked through its own, which is what gets started.
  LinuxTrustedFolder folder;
  uint32_t error = LinuxTrustedFolder::open(LinuxFileSystem::folderOf(imagePath), LinuxTrust{}, false, &folder);
  if (error != kOk) return error;
  size_t slash = imagePath.find_last_of('/');
  std::string name = imagePath.substr(slash + 1);
  if (!LinuxTrustedFolder::validName(name)) return kErrorFileNotFound;
  int image = ::openat(folder.fd(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (image < 0) return errno == ELOOP ? kErrorAccessDenied : LinuxErrors::fromErrno(errno);
  struct stat info;
  if (::fstat(image, &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != 0 ||
      (info.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    ::close(image);
    return kErrorAccessDenied;
  }
  *fd = image;
  return kOk;
}

uint32_t LinuxServiceManager::startService(const std::string& name) {
  std::string imagePath;
  uint32_t error = readRegistration(name, &imagePath);
  if (error != kOk) return error;
  std::string pidFile = m_folder.pidFile(name);
  if (LinuxServiceProcess::runningPid(pidFile) != 0) return kErrorServiceAlreadyRunning;
  int image = -1;
  error = openImage(imagePath, &image);
  if (error != kOk) return error;
  // The host ends by itself, taking its files and registration with it, once
  // this process is gone and no client is connected (a monitor killed
  // before it could stop the host).
  std::vector<std::string> arguments = {"--daemon",      "--socket",   m_folder.socket(name),
                                        "--pid-file",    pidFile,      "--registration",
                                        m_folder.registration(name), "--owner-pid", std::to_string(::getpid())};
  arguments.insert(arguments.end(), m_extraArguments.begin(), m_extraArguments.end());
  error = LinuxServiceProcess::start(image, imagePath, arguments, kStartTimeoutMs);
  ::close(image);
  return error;
}

uint32_t LinuxServiceManager::stopHost(const std::string& name) {
  std::string pidFile = m_folder.pidFile(name);
  pid_t pid = LinuxServiceProcess::runningPid(pidFile);
  if (pid != 0 && !LinuxServiceProcess::stop(pid, pidFile, kStopGraceMs)) return kServiceStopPending;
  // A host that was killed leaves its files behind; nothing else writes them.
  ::unlink(pidFile.c_str());
  ::unlink(m_folder.socket(name).c_str());
  return kServiceStopped;
}

uint32_t LinuxServiceManager::controlService(const std::string& name, uint32_t control, ServiceStatus* status) {
  ServiceStatus spare;
  ServiceStatus& result = status != nullptr ? *status : spare;
  std::string imagePath;
  uint32_t error = readRegistration(name, &imagePath);
  if (error != kOk) return error;
  bool running = LinuxServiceProcess::runningPid(m_folder.pidFile(name)) != 0;
  if (control == kServiceControlInterrogate) {
    result.state = running ? kServiceRunning : kServiceStopped;
    return running ? kOk : kErrorServiceNotActive;
  }
  if (control == kServiceControlStop) {
    if (!running) {
      result.state = kServiceStopped;
      return kErrorServiceNotActive;
    }
    result.state = stopHost(name);
    return kOk;
  }
  return kErrorInvalidServiceControl;
}

uint32_t LinuxServiceManager::deleteService(const std::string& name) {
  std::string imagePath;
  uint32_t error = readRegistration(name, &imagePath);
  if (error != kOk && error != LinuxErrors::kInvalidData) return error;
  // Nothing could stop a host whose registration is gone, so it goes first.
  if (stopHost(name) != kServiceStopped) return kErrorAccessDenied;
  if (::unlink(m_folder.registration(name).c_str()) != 0) return LinuxErrors::fromErrno(errno);
  return kOk;
}

}  // namespace tv2
