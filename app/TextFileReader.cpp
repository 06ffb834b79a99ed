#include "app/TextFileReader.h"

#include <climits>
#include <fstream>

namespace tv2 {
namespace {

constexpr char16_t kReplacement = 0xFFFD;

void appendUtf8(std::u16string& out, std::string_view in) {
  size_t i = 0;
  while (i < in.size()) {
    auto b0 = static_cast<unsigned char>(in[i]);
    uint32_t cp = 0;
    size_t length = 0;
    if (b0 < 0x80) {
      cp = b0;
      length = 1;
    } else if ((b0 & 0xE0) == 0xC0) {
      cp = b0 & 0x1F;
      length = 2;
    } else if ((b0 & 0xF0) == 0xE0) {
      cp = b0 & 0x0F;
      length = 3;
    } else if ((b0 & 0xF8) == 0xF0) {
      cp = b0 & 0x07;
      length = 4;
    }
    bool valid = length > 0 && i + length <= in.size();
    for (size_t k = 1; valid && k < length; ++k) {
      auto b = static_cast<unsigned char>(in[i + k]);
      if ((b & 0xC0) != 0x80) valid = false;
      cp = (cp << 6) | (b & 0x3F);
    }
    static constexpr uint32_t kMinimum[] = {0, 0, 0x80, 0x800, 0x10000};
    if (valid && (cp < kMinimum[length] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))) valid = false;
    if (!valid) {
      out.push_back(kReplacement);
      ++i;
      continue;
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
    i += length;
  }
}

void appendUtf16Le(std::u16string& out, std::string_view in) {
  // An odd trailing byte cannot form a code unit and is dropped.
  for (size_t i = 0; i + 1 < in.size(); i += 2) {
    out.push_back(static_cast<char16_t>(static_cast<unsigned char>(in[i]) |
                                        (static_cast<unsigned char>(in[i + 1]) << 8)));
  }
}

}  // namespace

bool TextFileReader::open(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return false;
  std::string bytes(kMaxFileBytes, '\0');
  file.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (file.bad()) return false;
  bytes.resize(static_cast<size_t>(file.gcount()));
  openBytes(bytes);
  return true;
}

void TextFileReader::openBytes(std::string_view bytes) {
  std::u16string decoded;
  if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") {
    appendUtf8(decoded, bytes.substr(3));
  } else if (bytes.size() >= 2 && bytes.substr(0, 2) == "\xFF\xFE") {
    appendUtf16Le(decoded, bytes.substr(2));
  } else {
    appendUtf16Le(decoded, bytes);
  }
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

bool scanPrefixedInt(std::u16string_view text, std::string_view prefix, int* value) {
  if (text.size() < prefix.size()) return false;
  for (size_t k = 0; k < prefix.size(); ++k) {
    if (text[k] != static_cast<unsigned char>(prefix[k])) return false;
  }
  size_t i = prefix.size();
  while (i < text.size() && (text[i] == u' ' || text[i] == u'\t' || text[i] == u'\n' || text[i] == u'\r')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) negative = text[i++] == u'-';
  if (i >= text.size() || text[i] < u'0' || text[i] > u'9') return false;
  long long number = 0;
  for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
    if (number < static_cast<long long>(INT_MAX) + 1) number = number * 10 + (text[i] - u'0');
  }
  if (negative) number = -number;
  if (number > INT_MAX) number = INT_MAX;
  if (number < INT_MIN) number = INT_MIN;
  *value = static_cast<int>(number);
  return true;
}

}  // namespace tv2
