// Whole-file replacement through descriptors: the folder is opened once and
// every later step (the old file's facts, the temporary file, the rename) is
// taken relative to that descriptor, so a folder swapped meanwhile changes
// nothing.

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <random>

#include "platform/FileReplace.h"

namespace tv2 {
namespace {

constexpr int kTemporaryAttempts = 8;
constexpr int kMaxOwnLinks = 8;

class Descriptor {
 public:
  explicit Descriptor(int fd = -1) : m_fd(fd) {}
  ~Descriptor() { reset(); }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return m_fd; }
  bool valid() const { return m_fd >= 0; }
  // Closes now; false when the close reports a failed write.
  bool reset() {
    const bool closed = m_fd < 0 || ::close(m_fd) == 0;
    m_fd = -1;
    return closed;
  }

 private:
  int m_fd;
};

bool validPath(const std::string& path) { return !path.empty() && path.find('\0') == std::string::npos; }

// Folder and name of path ("." for a bare name); the name is empty for a
// path ending in '/'.
void split(const std::string& path, std::string* folder, std::string* name) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) {
    *folder = ".";
    *name = path;
  } else {
    *folder = slash == 0 ? "/" : path.substr(0, slash);
    *name = path.substr(slash + 1);
  }
}

bool writeAll(int fd, std::string_view bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// A new file in the folder under a fresh name, created exclusively (never an
// existing name, never through a link).
int createTemporary(int folder, const std::string& name, std::string* temporary) {
  std::random_device seed;
  std::mt19937 random(seed());
  static constexpr char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
  std::uniform_int_distribution<int> pick(0, static_cast<int>(sizeof kDigits) - 2);
  for (int attempt = 0; attempt < kTemporaryAttempts; ++attempt) {
    std::string candidate = name + ".~";
    for (int k = 0; k < 6; ++k) candidate.push_back(kDigits[pick(random)]);
    const int fd =
        ::openat(folder, candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd >= 0) {
      *temporary = std::move(candidate);
      return fd;
    }
    // Only a name that is taken is worth another try.
    if (errno != EEXIST) return -1;
  }
  return -1;
}

// The new file takes the old one's owner, group and permission bits. Set-id
// bits are never carried over. When the group cannot be kept (an ordinary
// user outside it), the group's bits are dropped rather than handed to
// another group.
bool takeOver(int fd, const struct stat& old) {
  if (::fchown(fd, old.st_uid, old.st_gid) != 0) {
    // An ordinary user may still be able to keep the group alone.
    if (::fchown(fd, static_cast<uid_t>(-1), old.st_gid) != 0 && errno != EPERM) return false;
  }
  struct stat now {};
  if (::fstat(fd, &now) != 0) return false;
  mode_t mode = old.st_mode & 01777;
  if (now.st_gid != old.st_gid) mode &= ~static_cast<mode_t>(S_IRWXG);
  if (now.st_uid != old.st_uid) mode &= ~static_cast<mode_t>(S_IRWXG | S_IRWXO);
  return ::fchmod(fd, mode) == 0;
}

}  // namespace

std::string FollowOwnLinks(const std::string& path) {
  std::string current = path;
  for (int hop = 0; hop < kMaxOwnLinks; ++hop) {
    struct stat facts {};
    if (::lstat(current.c_str(), &facts) != 0 || !S_ISLNK(facts.st_mode) || facts.st_uid != ::geteuid()) {
      return current;
    }
    char buffer[PATH_MAX];
    const ssize_t length = ::readlink(current.c_str(), buffer, sizeof buffer - 1);
    if (length <= 0) return current;
    std::string next(buffer, static_cast<size_t>(length));
    if (next.front() != '/') {
      std::string folder, name;
      split(current, &folder, &name);
      next = folder + "/" + next;
    }
    current = std::move(next);
  }
  return current;
}

ReplaceOutcome ReplaceFileContents(const std::string& path, std::string_view bytes) {
  if (!validPath(path)) return ReplaceOutcome::kFailed;
  std::string folderPath, name;
  split(FollowOwnLinks(path), &folderPath, &name);
  if (name.empty() || name == "." || name == "..") return ReplaceOutcome::kFailed;
  const Descriptor folder(::open(folderPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!folder.valid()) return ReplaceOutcome::kNoNewFile;

  // The old file's facts, from the file itself: O_NOFOLLOW leaves a link
  // (of another user's, as own links are already followed) to be replaced.
  struct stat old {};
  bool hadFile = false;
  {
    const Descriptor existing(
        ::openat(folder.get(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (existing.valid()) {
      if (::fstat(existing.get(), &old) != 0) return ReplaceOutcome::kFailed;
      if (S_ISDIR(old.st_mode)) return ReplaceOutcome::kFailed;
      hadFile = S_ISREG(old.st_mode);
    } else if (errno == EISDIR) {
      return ReplaceOutcome::kFailed;
    } else if (errno == EACCES) {
      // A file we may not read: its facts still come from the folder.
      hadFile = ::fstatat(folder.get(), name.c_str(), &old, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(old.st_mode);
    }
  }

  std::string temporary;
  Descriptor file(createTemporary(folder.get(), name, &temporary));
  if (!file.valid()) return ReplaceOutcome::kNoNewFile;
  bool written = (!hadFile || takeOver(file.get(), old)) && writeAll(file.get(), bytes) &&
                 ::fsync(file.get()) == 0;
  written = file.reset() && written;
  // renameat replaces a file (or a link) at the name in one step; a folder
  // there makes it fail.
  if (written) written = ::renameat(folder.get(), temporary.c_str(), folder.get(), name.c_str()) == 0;
  if (!written) {
    ::unlinkat(folder.get(), temporary.c_str(), 0);
    return ReplaceOutcome::kFailed;
  }
  ::fsync(folder.get());
  return ReplaceOutcome::kReplaced;
}

bool RewriteFileInPlace(const std::string& path, std::string_view bytes) {
  if (!validPath(path)) return false;
  const Descriptor file(
      ::open(FollowOwnLinks(path).c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
  struct stat facts {};
  if (!file.valid() || ::fstat(file.get(), &facts) != 0 || !S_ISREG(facts.st_mode)) return false;
  return ::ftruncate(file.get(), 0) == 0 && writeAll(file.get(), bytes) && ::fsync(file.get()) == 0;
}

}  // namespace tv2
