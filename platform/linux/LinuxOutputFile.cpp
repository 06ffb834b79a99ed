#include "platform/linux/LinuxOutputFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/FileReplace.h"

namespace tv2 {

LinuxOutputFile::~LinuxOutputFile() { close(); }

bool LinuxOutputFile::open(const std::string& path) {
  close();
  if (path.empty() || path == "-") {
    m_fd = STDOUT_FILENO;
    m_owned = false;
    return true;
  }
  if (path.find('\0') != std::string::npos) {
    m_error = EINVAL;
    return false;
  }
  // The running user's own links are followed; anybody else's link is
  // replaced by a new file, never written through (an existing file keeps
  // its owner and mode).
  const std::string target = FollowOwnLinks(path);
  int fd = ::open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd < 0 && errno == ELOOP && ::unlink(target.c_str()) == 0) {
    // Exclusive: a link planted again meanwhile makes this fail.
    fd = ::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
  }
  if (fd < 0) {
    m_error = errno;
    return false;
  }
  m_fd = fd;
  m_owned = true;
  return true;
}

bool LinuxOutputFile::close() {
  if (m_fd < 0 || !m_owned) {
    m_fd = -1;
    return true;
  }
  // A network file system may report a failed write only here.
  const bool closed = ::close(m_fd) == 0;
  if (!closed) m_error = errno;
  m_fd = -1;
  m_owned = false;
  return closed;
}

bool LinuxOutputFile::write(std::string_view bytes, size_t* written) {
  *written = 0;
  if (m_fd < 0) {
    m_error = EBADF;
    return false;
  }
  while (*written < bytes.size()) {
    const ssize_t n = ::write(m_fd, bytes.data() + *written, bytes.size() - *written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      // A write that stores nothing and reports nothing would loop forever.
      m_error = n < 0 ? errno : EIO;
      return false;
    }
    *written += static_cast<size_t>(n);
  }
  return true;
}

bool LinuxOutputFile::takeBack(size_t count) {
  struct stat facts {};
  if (m_fd < 0 || ::fstat(m_fd, &facts) != 0 || !S_ISREG(facts.st_mode)) return false;
  const off_t end = ::lseek(m_fd, 0, SEEK_CUR);
  if (end < 0 || static_cast<unsigned long long>(end) < count) return false;
  const off_t cut = end - static_cast<off_t>(count);
  return ::ftruncate(m_fd, cut) == 0 && ::lseek(m_fd, cut, SEEK_SET) == cut;
}

std::string LinuxOutputFile::errorText() const { return m_error == 0 ? std::string() : std::strerror(m_error); }

}  // namespace tv2
