#pragma once

#include <mutex>
#include <optional>
#include <string>

#include "platform/FileService.h"

namespace tv2::sim {

// The program's file and folders as a test sets them up. The current directory
// lives in this object only; the test process never changes directory.
//
// The default temp folder is created on first use under /tmp with a name no
// other process or platform shares, and removed with its contents when this
// object goes; a folder set by a test is left alone.
class SimFileService : public FileService {
 public:
  static constexpr const char* kDefaultProgramPath = "/opt/tarvelle2/bin/tarvelle2";

  SimFileService();
  ~SimFileService() override;
  SimFileService(const SimFileService&) = delete;
  SimFileService& operator=(const SimFileService&) = delete;

  void setProgramPath(std::string path);
  void setTempFolder(std::string folder);
  void setProgramVersion(FileVersion version);
  void setProgramVersionReadable(bool readable);
  // The answer isFolderWritable gives for every folder; nullopt (the
  // default) asks the real file system. Tests that run as root, where
  // permissions block nothing, inject "not writable" here.
  void setFolderWritable(std::optional<bool> writable);
  // Empty (the default): a "config/tarvelle2/" folder inside the temp
  // folder, so that tests never write to the real home folder.
  void setUserConfigFolder(std::string folder);

  std::string programPath() override;
  bool programVersion(FileVersion* out) override;
  // Empty when the folder cannot be created.
  std::string tempFolder() override;
  std::string currentDirectory() override;
  // False unless the folder exists; a relative folder is taken from the
  // current directory.
  bool setCurrentDirectory(const std::string& folder) override;
  bool isFolderWritable(const std::string& folder) override;
  // Created when missing; empty when it cannot be.
  std::string userConfigFolder() override;

 private:
  std::string tempFolderLocked();  // m_mutex held

  std::mutex m_mutex;  // guards every member below; written by tests and the program
  std::string m_programPath = kDefaultProgramPath;
  FileVersion m_version{2, 1, 3, 0};
  bool m_versionReadable = true;
  std::string m_tempFolder;     // with trailing '/', empty until first use
  bool m_ownsTempFolder = false;
  std::string m_currentDirectory;
  std::optional<bool> m_folderWritable;
  std::string m_userConfigFolder;  // with trailing '/', or empty for the default
};

}  // namespace tv2::sim
