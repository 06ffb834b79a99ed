#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tv2 {

// Reads the program's text files the way a wide text stream opened with
// Unicode detection does: a UTF-8 byte-order mark selects UTF-8, a UTF-16 LE
// mark or no mark at all selects UTF-16 LE; CR LF becomes LF. Lines come out
// as UTF-16 in pieces of at most maxChars - 1 code units, the newline kept.
// Malformed bytes decode to U+FFFD and never stop the reading.
class TextFileReader {
 public:
  // Files larger than this are not settings or profile files; reading stops
  // there rather than filling memory.
  static constexpr size_t kMaxFileBytes = 4 * 1024 * 1024;

  // False when the file cannot be opened or read.
  bool open(const std::string& path);
  // Decodes bytes as if they were the file's contents.
  void openBytes(std::string_view bytes);

  // The next piece of a line (fgetws semantics); false at the end.
  bool readLine(std::u16string& line, size_t maxChars);

 private:
  std::u16string m_text;
  size_t m_position = 0;
};

// True when text holds the ASCII string key anywhere.
bool containsAscii(std::u16string_view text, std::string_view key);

// Parses "<prefix>%d" anchored at the start of text: the prefix must match
// exactly, then optional blanks, an optional sign and at least one digit.
// Out-of-range numbers saturate.
bool scanPrefixedInt(std::u16string_view text, std::string_view prefix, int* value);

}  // namespace tv2
