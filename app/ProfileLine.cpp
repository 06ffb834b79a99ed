#include "app/ProfileLine.h"

#include <cinttypes>
#include <cstdint>
#include <cstdio>

#include "app/TextFileReader.h"

namespace tv2 {
namespace {

constexpr size_t kLineChars = 255;  // a line buffer of 255 characters: pieces of 254

bool isBlank(char16_t c) { return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r' || c == u'\v' || c == u'\f'; }

// One scanf-style integer field: leading blanks, optional sign, digits. The
// magnitude saturates at 2^32 so that out-of-range numbers cannot overflow.
bool scanField(std::u16string_view text, size_t* position, bool* negative, uint64_t* magnitude) {
  size_t i = *position;
  while (i < text.size() && isBlank(text[i])) ++i;
  *negative = false;
  if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) *negative = text[i++] == u'-';
  if (i >= text.size() || text[i] < u'0' || text[i] > u'9') return false;
  uint64_t number = 0;
  for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
    if (number <= UINT32_MAX) number = number * 10 + static_cast<uint64_t>(text[i] - u'0');
  }
  *magnitude = number;
  *position = i;
  return true;
}

int32_t asSigned(bool negative, uint64_t magnitude) {
  if (negative) return magnitude > uint64_t{INT32_MAX} + 1 ? INT32_MIN : static_cast<int32_t>(-static_cast<int64_t>(magnitude));
  return magnitude > INT32_MAX ? INT32_MAX : static_cast<int32_t>(magnitude);
}

// %u: a negative number wraps as strtoul does ("-1" is 4294967295).
uint32_t asUnsigned(bool negative, uint64_t magnitude) {
  uint32_t value = magnitude > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(magnitude);
  return negative ? static_cast<uint32_t>(0u - value) : value;
}

}  // namespace

std::string FormatProfileLine(const CProfile& profile) {
  char line[256];
  std::snprintf(line, sizeof line, "[TV2 Profile]%d %d %u %u %u %u\n", profile.configIndex, profile.metricCount,
                static_cast<uint32_t>(profile.metrics[0]), static_cast<uint32_t>(profile.metrics[1]),
                static_cast<uint32_t>(profile.metrics[2]), static_cast<uint32_t>(profile.metrics[3]));
  return line;
}

bool ScanProfileLine(std::u16string_view line, CProfile* profile) {
  if (line.size() < kProfileKey.size()) return false;
  for (size_t k = 0; k < kProfileKey.size(); ++k) {
    if (line[k] != static_cast<unsigned char>(kProfileKey[k])) return false;
  }
  size_t position = kProfileKey.size();
  bool negative[6];
  uint64_t magnitude[6];
  for (int field = 0; field < 6; ++field) {
    if (!scanField(line, &position, &negative[field], &magnitude[field])) return false;
  }
  profile->configIndex = asSigned(negative[0], magnitude[0]);
  profile->metricCount = asSigned(negative[1], magnitude[1]);
  for (int k = 0; k < 4; ++k) profile->metrics[k] = static_cast<int32_t>(asUnsigned(negative[k + 2], magnitude[k + 2]));
  return true;
}

bool ReadProfileLine(TextFileReader& reader, CProfile* profile) {
  std::u16string line;
  while (reader.readLine(line, kLineChars)) {
    if (!containsAscii(line, kProfileKey)) continue;
    return ScanProfileLine(line, profile);
  }
  return false;
}

}  // namespace tv2
