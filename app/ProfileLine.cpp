#include "app/ProfileLine.h"

#include <cstdint>
#include <cstdio>

#include "app/TextFileReader.h"

namespace tv2 {
namespace {

constexpr size_t kLineChars = 255;  // a line buffer of 255 characters: pieces of 254

}  // namespace

std::string FormatProfileLine(const CProfile& profile) {
  char line[256];
  std::snprintf(line, sizeof line, "[TV2 Profile]%d %d %u %u %u %u\n", profile.configIndex, profile.metricCount,
                static_cast<uint32_t>(profile.metrics[0]), static_cast<uint32_t>(profile.metrics[1]),
                static_cast<uint32_t>(profile.metrics[2]), static_cast<uint32_t>(profile.metrics[3]));
  return line;
}

bool ScanProfileLine(std::u16string_view line, CProfile* profile) {
  ScannedInteger fields[6];
  if (profile == nullptr || !scanPrefixedIntegers(line, kProfileKey, fields, 6)) return false;
  profile->configIndex = fields[0].asInt();
  profile->metricCount = fields[1].asInt();
  for (int k = 0; k < 4; ++k) profile->metrics[k] = static_cast<int32_t>(fields[k + 2].asUnsigned());
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
