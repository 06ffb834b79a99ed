#pragma once

#include <string>
#include <string_view>

#include "platform/OutputSink.h"

namespace tv2 {

// A report or recording target: a file created (or truncated) at a path the
// user named, or standard output. Written straight through its descriptor,
// so every failure is seen at the write that met it, with its reason.
class LinuxOutputFile : public OutputSink {
 public:
  LinuxOutputFile() = default;
  ~LinuxOutputFile() override;
  LinuxOutputFile(const LinuxOutputFile&) = delete;
  LinuxOutputFile& operator=(const LinuxOutputFile&) = delete;

  // Empty or "-": standard output. False, with errorText() telling why, when
  // the file cannot be created.
  bool open(const std::string& path);
  // False, with errorText(), when the last data could not be stored.
  bool close();

  bool write(std::string_view bytes, size_t* written) override;
  // Only a regular file can be cut back.
  bool takeBack(size_t count) override;
  std::string errorText() const override;

 private:
  int m_fd = -1;
  bool m_owned = false;  // a file this object opened, not standard output
  int m_error = 0;       // errno of the last failure
};

}  // namespace tv2
