#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tv2 {

// Bounded reads of the small text files of sysfs and procfs. A file that is
// missing, not a regular file, longer than the bound or malformed gives
// false; nothing here waits on a file or reads without a limit.
class SysfsText {
 public:
  // Attribute files are a line; this leaves room for long CPU lists.
  static constexpr size_t kMaxFileSize = 8192;
  // Entries taken from one folder; sysfs folders the reader lists (PMUs,
  // hwmon devices, their files) are far smaller.
  static constexpr size_t kMaxEntries = 4096;

  static bool read(const std::string& path, std::string* out);
  // The file's content without surrounding white space.
  static bool readTrimmed(const std::string& path, std::string* out);
  // A whole decimal number (with optional sign).
  static bool readInt(const std::string& path, int64_t* out);
  static bool readUnsigned(const std::string& path, uint64_t* out);
  // The names in a folder, without "." and "..", sorted; empty when the
  // folder cannot be read.
  static std::vector<std::string> list(const std::string& folder);
  // The last part of the target of symbolic link `path`; empty when it is
  // not a link.
  static std::string linkName(const std::string& path);

  static std::string_view trim(std::string_view text);
  static bool parseInt(std::string_view text, int64_t* out);
  // Decimal, or hexadecimal with 0x.
  static bool parseUnsigned(std::string_view text, uint64_t* out);
  // A kernel CPU list ("0-3,8,10-11") into sorted, distinct CPU numbers
  // below `limit`. False when malformed or empty.
  static bool parseCpuList(std::string_view text, std::vector<int>* out, int limit = 65536);
};

}  // namespace tv2
