#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

#include "platform/linux/LinuxTrust.h"

namespace tv2 {

// An open descriptor of a folder that was checked through that very
// descriptor: every component of its path was opened with O_NOFOLLOW from the
// one before (no link is followed anywhere), every folder on the way belongs
// to root or to the trusted owner and nobody else may rename entries in it
// (not writable by others, or sticky), and the folder itself is one the trust
// accepts. Everything done inside goes through the descriptor (openat,
// fstatat, unlinkat), so the folder cannot be swapped after the check.
// Move-only; closes its descriptor. Used by one thread at a time.
class LinuxTrustedFolder {
 public:
  LinuxTrustedFolder() = default;
  ~LinuxTrustedFolder();
  LinuxTrustedFolder(LinuxTrustedFolder&& other) noexcept;
  LinuxTrustedFolder& operator=(LinuxTrustedFolder&& other) noexcept;
  LinuxTrustedFolder(const LinuxTrustedFolder&) = delete;
  LinuxTrustedFolder& operator=(const LinuxTrustedFolder&) = delete;

  // Opens the absolute path; with create, makes a missing last component
  // (mode 0700). kErrorAccessDenied for anything the checks refuse (a link, a
  // folder of another user's, one others may write to), kErrorFileNotFound
  // when it is missing, kErrorInvalidParameter for a relative path.
  static uint32_t open(const std::string& path, const LinuxTrust& trust, bool create,
                       LinuxTrustedFolder* out);

  // The sub-folder name (one component). With create it is made (mode 0700)
  // when missing, and *created says whether this call made it.
  uint32_t openChild(const std::string& name, bool create, LinuxTrustedFolder* out,
                     bool* created) const;

  // The regular file name, opened for reading and writing, created (with
  // exactly mode) when missing. A thing at name the trust does not accept (a
  // link, a file of another user's or others may write, a pipe, a folder) is
  // kErrorAccessDenied, or with replaceUntrusted removed and a new file made
  // in its place (O_EXCL). -1 on failure with *error set.
  int openFile(const std::string& name, mode_t mode, bool replaceUntrusted, bool* created,
               uint32_t* error) const;

  // True for a name that stays inside the folder: one component, not "." or
  // "..", without '/' or NUL, at most 255 bytes.
  static bool validName(const std::string& name);

  bool valid() const { return m_fd >= 0; }
  int fd() const { return m_fd; }
  const std::string& path() const { return m_path; }
  const LinuxTrust& trust() const { return m_trust; }

 private:
  LinuxTrustedFolder(int fd, std::string path, const LinuxTrust& trust);
  void close();

  int m_fd = -1;
  std::string m_path;
  LinuxTrust m_trust;
};

}  // namespace tv2
