#include "app/TextFileReader.h"

#include <algorithm>
#include <climits>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace tv2 {
namespace {

constexpr char16_t kReplacement = 0xFFFD;

// Decodes one UTF-8 sequence at in[i]; false (nothing consumed) when the
// bytes there do not form a valid, shortest-form sequence.
bool decodeUtf8At(std::string_view in, size_t i, uint32_t* codePoint, size_t* length) {
  auto b0 = static_cast<unsigned char>(in[i]);
  uint32_t cp = 0;
  size_t n = 0;
  if (b0 < 0x80) {
    cp = b0;
    n = 1;
  } else if ((b0 & 0xE0) == 0xC0) {
    cp = b0 & 0x1F;
    n = 2;
  } else if ((b0 & 0xF0) == 0xE0) {
    cp = b0 & 0x0F;
    n = 3;
  } else if ((b0 & 0xF8) == 0xF0) {
    cp = b0 & 0x07;
    n = 4;
  }
  if (n == 0 || i + n > in.size()) return false;
  for (size_t k = 1; k < n; ++k) {
    auto b = static_cast<unsigned char>(in[i + k]);
    if ((b & 0xC0) != 0x80) return false;
    cp = (cp << 6) | (b & 0x3F);
  }
  static constexpr uint32_t kMinimum[] = {0, 0, 0x80, 0x800, 0x10000};
  if (cp < kMinimum[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
  *codePoint = cp;
  *length = n;
  return true;
}

void appendCodePoint(std::u16string& out, uint32_t cp) {
  if (cp < 0x10000) {
    out.push_back(static_cast<char16_t>(cp));
    return;
  }
  cp -= 0x10000;
  out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
  out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
}

// latin1Fallback: a byte that starts no valid sequence stands for itself
// (narrow files) instead of becoming U+FFFD (wide files).
void appendUtf8(std::u16string& out, std::string_view in, bool latin1Fallback) {
  size_t i = 0;
  while (i < in.size()) {
    uint32_t cp = 0;
    size_t length = 0;
    if (decodeUtf8At(in, i, &cp, &length)) {
      appendCodePoint(out, cp);
      i += length;
      continue;
    }
    out.push_back(latin1Fallback ? static_cast<char16_t>(static_cast<unsigned char>(in[i])) : kReplacement);
    ++i;
  }
}

void appendUtf16Le(std::u16string& out, std::string_view in) {
  // An odd trailing byte cannot form a code unit and is dropped.
  for (size_t i = 0; i + 1 < in.size(); i += 2) {
    out.push_back(static_cast<char16_t>(static_cast<unsigned char>(in[i]) |
                                        (static_cast<unsigned char>(in[i + 1]) << 8)));
  }
}

// At most kMaxFileBytes of a regular file. Anything else is refused before it
// is opened: opening a pipe would wait for a writer, a device may never end.
bool readCapped(const std::string& path, std::string* bytes) {
  if (path.empty() || path.find('\0') != std::string::npos) return false;
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error)) return false;
  std::ifstream file(path, std::ios::binary);
  if (!file) return false;
  bytes->clear();
  // One byte past the limit tells a file that is too large (it may have
  // grown since anyone looked at its size).
  char chunk[64 * 1024];
  while (bytes->size() <= TextFileReader::kMaxFileBytes) {
    size_t want = std::min(sizeof chunk, TextFileReader::kMaxFileBytes + 1 - bytes->size());
    file.read(chunk, static_cast<std::streamsize>(want));
    bytes->append(chunk, static_cast<size_t>(file.gcount()));
    if (!file) break;
  }
  if (bytes->size() > TextFileReader::kMaxFileBytes) {
    bytes->clear();
    return false;
  }
  return !file.bad();
}

bool isScanBlank(char16_t c) {
  return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r' || c == u'\v' || c == u'\f';
}

}  // namespace

bool TextFileReader::tooLarge(const std::string& path) {
  std::error_code error;
  if (path.empty() || !std::filesystem::is_regular_file(path, error)) return false;
  const uintmax_t size = std::filesystem::file_size(path, error);
  return !error && size > kMaxFileBytes;
}

bool TextFileReader::open(const std::string& path) {
  std::string bytes;
  if (!readCapped(path, &bytes)) return false;
  openBytes(bytes);
  return true;
}

bool TextFileReader::openNarrow(const std::string& path) {
  std::string bytes;
  if (!readCapped(path, &bytes)) return false;
  openNarrowBytes(bytes);
  return true;
}

void TextFileReader::openBytes(std::string_view bytes) {
  std::u16string decoded;
  if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") {
    appendUtf8(decoded, bytes.substr(3), false);
  } else if (bytes.size() >= 2 && bytes.substr(0, 2) == "\xFF\xFE") {
    appendUtf16Le(decoded, bytes.substr(2));
  } else {
    appendUtf16Le(decoded, bytes);
  }
  takeText(decoded);
}

void TextFileReader::openNarrowBytes(std::string_view bytes) {
  if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
  std::u16string decoded;
  appendUtf8(decoded, bytes, true);
  takeText(decoded);
}

void TextFileReader::takeText(const std::u16string& decoded) {
  m_text.clear();
  m_text.reserve(decoded.size());
  for (size_t i = 0; i < decoded.size(); ++i) {
    if (decoded[i] == u'\r' && i + 1 < decoded.size() && decoded[i + 1] == u'\n') continue;
    m_text.push_back(decoded[i]);
  }
  m_position = 0;
}

bool TextFileReader::readLine(std::u16string& line, size_t maxChars) {
  line.clear();
  if (m_position >= m_text.size() || maxChars < 2) return false;
  while (m_position < m_text.size() && line.size() + 1 < maxChars) {
    char16_t c = m_text[m_position++];
    line.push_back(c);
    if (c == u'\n') break;
  }
  return true;
}

std::u16string utf8ToUtf16(std::string_view bytes) {
  std::u16string out;
  out.reserve(bytes.size());
  appendUtf8(out, bytes, false);
  return out;
}

bool containsAscii(std::u16string_view text, std::string_view key) {
  if (key.empty()) return true;
  if (text.size() < key.size()) return false;
  for (size_t i = 0; i + key.size() <= text.size(); ++i) {
    size_t k = 0;
    while (k < key.size() && text[i + k] == static_cast<unsigned char>(key[k])) ++k;
    if (k == key.size()) return true;
  }
  return false;
}

int32_t ScannedInteger::asInt() const {
  if (negative) return magnitude > uint64_t{INT32_MAX} + 1 ? INT32_MIN : static_cast<int32_t>(-static_cast<int64_t>(magnitude));
  return magnitude > INT32_MAX ? INT32_MAX : static_cast<int32_t>(magnitude);
}

uint32_t ScannedInteger::asUnsigned() const {
  uint32_t value = magnitude > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(magnitude);
  return negative ? static_cast<uint32_t>(0u - value) : value;
}

bool scanPrefixedIntegers(std::u16string_view text, std::string_view prefix, ScannedInteger* fields, size_t count) {
  if (text.size() < prefix.size()) return false;
  for (size_t k = 0; k < prefix.size(); ++k) {
    if (text[k] != static_cast<unsigned char>(prefix[k])) return false;
  }
  // Fields are collected first so that a line converting only in part
  // changes nothing.
  constexpr size_t kMaxFields = 8;
  if (count > kMaxFields) return false;
  ScannedInteger scanned[kMaxFields];
  size_t i = prefix.size();
  for (size_t field = 0; field < count; ++field) {
    while (i < text.size() && isScanBlank(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) negative = text[i++] == u'-';
    if (i >= text.size() || text[i] < u'0' || text[i] > u'9') return false;
    uint64_t number = 0;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
      if (number <= UINT32_MAX) number = number * 10 + static_cast<uint64_t>(text[i] - u'0');
    }
    scanned[field] = ScannedInteger{negative, number};
  }
  for (size_t field = 0; field < count; ++field) fields[field] = scanned[field];
  return true;
}

bool scanPrefixedInt(std::u16string_view text, std::string_view prefix, int* value) {
  ScannedInteger field;
  if (!scanPrefixedIntegers(text, prefix, &field, 1)) return false;
  *value = field.asInt();
  return true;
}

}  // namespace tv2
