#include "services/VersionFile.h"

#include <limits>
#include <string>

namespace tv2 {

namespace {

constexpr std::string_view kMarker = "[Norvane_VER]";
constexpr std::string_view kProductKey = "tarvelle";
// An entry keeps at most this many bytes; no valid entry comes near it, and
// one that grows past it is dropped whole rather than read truncated.
constexpr size_t kMaxEntryBytes = 127;

bool isScanSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

// One "%d": leading white space, an optional sign, at least one digit.
// Values beyond 32 bits saturate instead of wrapping.
bool scanInt(std::string_view text, size_t* pos, int32_t* value) {
  size_t i = *pos;
  while (i < text.size() && isScanSpace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  size_t digitsStart = i;
  int64_t magnitude = 0;
  constexpr int64_t kCap = int64_t{std::numeric_limits<int32_t>::max()} + 1;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
    magnitude = magnitude * 10 + (text[i] - '0');
    if (magnitude > kCap) magnitude = kCap;
    ++i;
  }
  if (i == digitsStart) return false;
  int64_t signedValue = negative ? -magnitude : magnitude;
  if (signedValue > std::numeric_limits<int32_t>::max()) signedValue = std::numeric_limits<int32_t>::max();
  *value = static_cast<int32_t>(signedValue);
  *pos = i;
  return true;
}

// "tarvelle=%d.%d.%d.%d" against the entry; true when all four convert.
bool scanEntry(std::string_view entry, VersionNumbers* numbers) {
  std::string_view prefix = "tarvelle=";
  if (entry.substr(0, prefix.size()) != prefix) return false;
  size_t pos = prefix.size();
  for (size_t n = 0; n < numbers->size(); ++n) {
    if (n > 0) {
      if (pos >= entry.size() || entry[pos] != '.') return false;
      ++pos;
    }
    if (!scanInt(entry, &pos, &(*numbers)[n])) return false;
  }
  return true;
}

}  // namespace

VersionScanResult scanVersionFile(std::string_view text, VersionNumbers* published) {
  if (text.substr(0, kMarker.size()) != kMarker) return VersionScanResult::kNoMarker;
  std::string entry;
  bool overlong = false;
  for (char c : text) {
    if (c == '\r' || c == '\n') continue;
    if (c != ';') {
      if (entry.size() < kMaxEntryBytes) {
        entry.push_back(c);
      } else {
        overlong = true;
      }
      continue;
    }
    if (!overlong && entry.find(kProductKey) != std::string::npos) {
      VersionNumbers numbers{};
      if (!scanEntry(entry, &numbers)) return VersionScanResult::kBadEntry;
      *published = numbers;
      return VersionScanResult::kFound;
    }
    entry.clear();
    overlong = false;
  }
  return VersionScanResult::kNoEntry;
}

int64_t versionWeight(const VersionNumbers& version) {
  return int64_t{version[0]} * 1000 + int64_t{version[1]} * 100 + int64_t{version[2]} * 10 + int64_t{version[3]};
}

}  // namespace tv2
