#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/NamedMutex.h"
#include "platform/linux/LinuxLockFile.h"
#include "platform/linux/LinuxTrustedFolder.h"

namespace tv2 {

// A named mutex shared between processes: a lock file in a folder only the
// caller's own circle can create files in (root: the service folder under
// /run; other users: their private $XDG_RUNTIME_DIR), locked with an
// open-file-description lock the kernel holds (see LinuxLockFile). No memory
// is shared with other processes, so nothing another user writes can reach
// into this one. Ownership belongs to a thread and is recursive for it; a
// process or thread that ends while owning it leaves it abandoned, and the
// next waiter gets kWaitAbandoned and owns it. Handles may be used from any
// thread.
class LinuxNamedMutex : public NamedMutex {
 public:
  // Waits without a time limit.
  static constexpr uint32_t kInfinite = LinuxLockFile::kInfinite;

  // Opens or creates the mutex that the program calls `name` in folder.
  // *alreadyExisted is false only when this call made its file.
  static std::unique_ptr<LinuxNamedMutex> open(const LinuxTrustedFolder& folder, std::string_view prefix,
                                               std::string_view name, bool* alreadyExisted, uint32_t* error);

  // The lock file's name for a program name: prefix + name with '\' and '/'
  // turned into '-', + ".lock" ("Global\kzor" -> "tarvelle2-Global-kzor.lock").
  // kErrorInvalidParameter for an empty name, a NUL character or a result
  // longer than a file name may be.
  static uint32_t fileName(std::string_view prefix, std::string_view name, std::string* out);

  // The folder of the caller's locks: the installed package's shared folder
  // <runRoot>/tarvelle2/shared when it is there (a folder of root's for one
  // group, not writable by the group, holding lock files of root's with mode
  // 0660) and the caller is root or in its group, so that every user of the
  // system host shares one lock; otherwise <runRoot>/tarvelle2 for root (made
  // when missing), the private runtimeDir ($XDG_RUNTIME_DIR) for anyone
  // else. Never a folder others may write to such as /tmp or /dev/shm: a user
  // without a runtime folder gets kErrorPathNotFound, one whose runtime
  // folder is not private kErrorAccessDenied.
  static uint32_t openFolder(uid_t caller, const std::string& runRoot, const char* runtimeDir,
                             LinuxTrustedFolder* out);
  static constexpr const char* kSharedFolder = "shared";

  // Removes the file so the next open creates a fresh mutex; processes that
  // have it open keep using the old one.
  static uint32_t remove(const LinuxTrustedFolder& folder, std::string_view prefix, std::string_view name);

  uint32_t wait(uint32_t timeoutMs) override;
  bool release() override;
  uint32_t lastWaitError() const override { return LinuxLockFile::lastWaitError(); }

 private:
  // The trust of the shared folder at path for caller; false when it is not
  // one (see openFolder).
  static bool sharedFolderTrust(const std::string& path, uid_t caller, LinuxTrust* out);

  explicit LinuxNamedMutex(std::shared_ptr<LinuxLockFile> file);

  const std::shared_ptr<LinuxLockFile> m_file;  // thread-safe on its own
};

}  // namespace tv2
