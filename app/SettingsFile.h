#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "app/CProfile.h"

namespace tv2 {

// The settings file "Tarvelle2.ini": read by three readers at their moments,
// written anew when the main window closes. Reading accepts any bytes; a
// file that cannot be read leaves every value as given.
class SettingsFile {
 public:
  explicit SettingsFile(std::string path) : m_path(std::move(path)) {}

  const std::string& path() const { return m_path; }

  // Start-up: the last "UPDATES=%d" line, as 1 or 0; current when none scans.
  int32_t readUpdates(int32_t current) const;
  // Window creation: the first "MAINWINDOW=" line's rectangle as position and
  // size. False (nothing set) when there is none or it does not convert fully.
  bool readPlacement(int32_t* x, int32_t* y, int32_t* width, int32_t* height) const;
  // Client-area creation: COL0, FLAGS (bit 0 forced on) and the profile line
  // (creating *profile when one scans). Values not found stay as given.
  void readClientArea(int32_t* column0Width, uint32_t* settingsFlags, std::unique_ptr<CProfile>* profile) const;

  // Writes text (UTF-8 lines ending in '\n') as UTF-16 LE with a byte-order
  // mark and CR LF line ends, through a temporary file renamed over the old
  // one. False when it cannot be written; the old file is then untouched.
  // A file too large to read is never replaced: nothing was read from it, so
  // the text would only hold defaults in place of its values.
  bool write(const std::string& text) const;

 private:
  std::string m_path;
};

}  // namespace tv2
