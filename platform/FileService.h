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
};

}  // namespace tv2
