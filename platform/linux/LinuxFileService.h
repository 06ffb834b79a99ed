#pragma once

#include <string>

#include "platform/FileService.h"

namespace tv2 {

// The program's file, version, temporary folder and current directory. Holds
// no state; the current directory is the process's, so changing it from one
// thread changes it for all.
class LinuxFileService : public FileService {
 public:
  // rootTempFolder: root's temporary folder (<run root>/tarvelle2/).
  explicit LinuxFileService(std::string rootTempFolder = "/run/tarvelle2/");

  // /proc/self/exe.
  std::string programPath() override;
  // The version CMake built into the program.
  bool programVersion(FileVersion* out) override;
  // For root the folder given at construction, which only root may write to
  // (whatever the environment says: under sudo it may name a user's folder).
  // For anyone else $XDG_RUNTIME_DIR (private to the user) when set and a
  // directory, else $TMPDIR when set and a directory, else /tmp. Always
  // ending in '/'.
  std::string tempFolder() override;
  std::string currentDirectory() override;
  bool setCurrentDirectory(const std::string& folder) override;
  // A folder the effective user may write and enter (a read-only mount is not).
  bool isFolderWritable(const std::string& folder) override;
  // $XDG_CONFIG_HOME/tarvelle2/, else ~/.config/tarvelle2/; missing folders
  // on the way are created with mode 0700.
  std::string userConfigFolder() override;

  // The choice tempFolder() makes from the two variables' values (null when
  // unset).
  static std::string chooseTempFolder(const char* runtimeDir, const char* tmpDir);
  // The choice userConfigFolder() makes (without creating anything) from
  // $XDG_CONFIG_HOME and the home folder (null when unset). Relative values
  // are ignored, as the base directory convention asks; empty when neither
  // gives an absolute path.
  static std::string chooseConfigFolder(const char* configHome, const char* home);

 private:
  const std::string m_rootTempFolder;
};

}  // namespace tv2
