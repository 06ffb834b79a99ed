#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tv2 {

// Reads the program's text files the way a text stream does, as UTF-16 lines
// in pieces of at most maxChars - 1 code units, the newline kept, CR LF made
// LF. Two kinds of file:
// - wide (the settings file, opened with Unicode detection): a UTF-8
//   byte-order mark selects UTF-8, a UTF-16 LE mark or no mark at all selects
//   UTF-16 LE; malformed bytes decode to U+FFFD;
// - narrow (profile files): 8-bit bytes as they are; a run of bytes that is
//   valid UTF-8 decodes as such, any other byte stands for itself (Latin-1),
//   and a leading UTF-8 mark is skipped.
// Any bytes are accepted: nothing here stops, fails or grows without bound on
// malformed input. Threads: one reader belongs to one thread.
class TextFileReader {
 public:
  // Files larger than this are not settings or profile files: they are not
  // read at all (never a part of one, which would lose what lies beyond).
  static constexpr size_t kMaxFileBytes = 4 * 1024 * 1024;

  // False when the path is not a regular file (a folder, a pipe that would
  // block, a device that never ends), cannot be read or is larger than
  // kMaxFileBytes.
  bool open(const std::string& path);
  bool openNarrow(const std::string& path);
  // Decode bytes as if they were the file's contents (no size limit).
  void openBytes(std::string_view bytes);
  void openNarrowBytes(std::string_view bytes);

  // True when the file at path is larger than kMaxFileBytes, so that the
  // readers took nothing from it.
  static bool tooLarge(const std::string& path);

  // The next piece of a line (fgetws semantics); false at the end.
  bool readLine(std::u16string& line, size_t maxChars);

 private:
  void takeText(const std::u16string& decoded);

  std::u16string m_text;  // decoded, CR LF already made LF
  size_t m_position = 0;
};

// UTF-8 to UTF-16; malformed bytes become U+FFFD.
std::u16string utf8ToUtf16(std::string_view bytes);

// True when text holds the ASCII string key anywhere.
bool containsAscii(std::u16string_view text, std::string_view key);

// One integer field as a scanf-style conversion reads it: the sign and the
// magnitude, which saturates just above 2^32 so no input can overflow it.
struct ScannedInteger {
  bool negative = false;
  uint64_t magnitude = 0;

  // %d: out-of-range numbers saturate.
  int32_t asInt() const;
  // %u: a negative number wraps as strtoul does ("-1" is 4294967295); an
  // out-of-range magnitude saturates before that.
  uint32_t asUnsigned() const;
};

// Parses "<prefix>" followed by count integer fields, anchored at the start
// of text: the prefix must match exactly; each field is optional blanks, an
// optional sign and at least one digit. True only when all count fields
// convert; fields is then filled (and untouched otherwise).
bool scanPrefixedIntegers(std::u16string_view text, std::string_view prefix, ScannedInteger* fields, size_t count);

// "<prefix>%d": one field, saturated to int.
bool scanPrefixedInt(std::u16string_view text, std::string_view prefix, int* value);

}  // namespace tv2
