#include "app/SettingsReaders.h"

#include "app/ProfileLine.h"
#include "app/TextFileReader.h"

namespace tv2 {
namespace {

// Lines are read into a buffer of 255 characters, so a longer line comes in
// pieces of 254 and every piece is handled as a line of its own.
constexpr size_t kLineChars = 255;
constexpr uint32_t kRunningBit = 1u;

// The first line must name the file as ours.
bool isSettingsFile(TextFileReader& reader) {
  std::u16string line;
  return reader.readLine(line, kLineChars) && containsAscii(line, "[Tarvelle2]");
}

}  // namespace

// A CR LF already in the text stays one line end.
std::string EncodeSettingsText(const std::string& text) {
  std::u16string wide = utf8ToUtf16(text);
  std::string bytes = "\xFF\xFE";
  bytes.reserve(2 + wide.size() * 2 + 64);
  auto put = [&bytes](char16_t c) {
    bytes.push_back(static_cast<char>(c & 0xFF));
    bytes.push_back(static_cast<char>(c >> 8));
  };
  for (size_t i = 0; i < wide.size(); ++i) {
    if (wide[i] == u'\r' && i + 1 < wide.size() && wide[i + 1] == u'\n') continue;
    if (wide[i] == u'\n') put(u'\r');
    put(wide[i]);
  }
  return bytes;
}

int32_t ReadUpdatesSetting(TextFileReader& reader, int32_t current) {
  if (!isSettingsFile(reader)) return current;
  std::u16string line;
  while (reader.readLine(line, kLineChars)) {
    int number = 0;
    if (containsAscii(line, "UPDATES=") && scanPrefixedInt(line, "UPDATES=", &number)) current = number != 0 ? 1 : 0;
  }
  return current;
}

bool ReadPlacementSetting(TextFileReader& reader, int32_t* x, int32_t* y, int32_t* width, int32_t* height) {
  if (!isSettingsFile(reader)) return false;
  std::u16string line;
  while (reader.readLine(line, kLineChars)) {
    if (!containsAscii(line, "MAINWINDOW=")) continue;
    // Flags and show command are read but never applied; then left, right,
    // top, bottom. Only the first such line counts, scanned or not.
    ScannedInteger fields[6];
    if (!scanPrefixedIntegers(line, "MAINWINDOW=", fields, 6)) return false;
    const int64_t left = fields[2].asInt();
    const int64_t right = fields[3].asInt();
    const int64_t top = fields[4].asInt();
    const int64_t bottom = fields[5].asInt();
    // A hand-edited rectangle whose extent does not fit the size type would
    // wrap into a nonsense size: such a line is ignored like one that does
    // not convert.
    const int64_t w = right - left;
    const int64_t h = bottom - top;
    if (w < INT32_MIN || w > INT32_MAX || h < INT32_MIN || h > INT32_MAX) return false;
    if (x != nullptr) *x = static_cast<int32_t>(left);
    if (y != nullptr) *y = static_cast<int32_t>(top);
    if (width != nullptr) *width = static_cast<int32_t>(w);
    if (height != nullptr) *height = static_cast<int32_t>(h);
    return true;
  }
  return false;
}

void ReadClientAreaSettings(TextFileReader& reader, int32_t* column0Width, uint32_t* settingsFlags,
                            std::unique_ptr<CProfile>* profile) {
  if (!isSettingsFile(reader)) return;
  std::u16string line;
  while (reader.readLine(line, kLineChars)) {
    // Only the first key found in a line counts, in this order.
    if (containsAscii(line, "COL0=")) {
      int width = 0;
      if (column0Width != nullptr && scanPrefixedInt(line, "COL0=", &width)) *column0Width = width;
    } else if (containsAscii(line, "FLAGS=")) {
      ScannedInteger flags;
      if (settingsFlags != nullptr && scanPrefixedIntegers(line, "FLAGS=", &flags, 1)) {
        *settingsFlags = flags.asUnsigned() | kRunningBit;
      }
    } else if (containsAscii(line, kProfileKey)) {
      if (profile == nullptr) continue;
      // The profile is created only by a line that scans; an existing one
      // keeps its other entries.
      std::unique_ptr<CProfile> fresh;
      CProfile* target = profile->get();
      if (target == nullptr) {
        fresh = std::make_unique<CProfile>();
        target = fresh.get();
      }
      if (ScanProfileLine(line, target) && fresh) *profile = std::move(fresh);
    }
  }
}

}  // namespace tv2
