#pragma once

#include <string>

#include "platform/PlatformTypes.h"

namespace tv2 {

// The program's own file, folders and current directory.
class FileService {
 public:
  virtual ~FileService() = default;

  // Full path of the running program; empty when unknown.
  virtual std::string programPath() = 0;
  // Version of the program's own file; false when it cannot be read.
  virtual bool programVersion(FileVersion* out) = 0;
  // The user's private temporary folder, with a trailing '/'.
  virtual std::string tempFolder() = 0;
  virtual std::string currentDirectory() = 0;
  virtual bool setCurrentDirectory(const std::string& folder) = 0;

  // True when the calling user may create and replace files in the folder.
  // The program keeps its settings beside itself only then.
  virtual bool isFolderWritable(const std::string& folder) = 0;
  // The user's own folder for the program's settings, with a trailing '/',
  // created (private to the user) when missing; empty when there is none.
  virtual std::string userConfigFolder() = 0;
};

}  // namespace tv2
