#pragma once

#include <string>

namespace tv2::testing {

// ASCII text as UTF-16 LE bytes, the way the settings file stores it.
inline std::string utf16le(const std::string& ascii) {
  std::string out;
  for (char c : ascii) {
    out.push_back(c);
    out.push_back('\0');
  }
  return out;
}

}  // namespace tv2::testing
