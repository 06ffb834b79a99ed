// libFuzzer target for the settings file's three readers: the bytes are read
// as the file would be (mark detection, UTF-16 LE or UTF-8, lines in pieces),
// and the results are checked against what the readers promise. The same
// bytes taken as the text the writer is given must read back exactly as the
// UTF-8 file of that text does, so the writer's encoding is checked too.
//
// Built with clang only (-fsanitize=fuzzer,address,undefined), by
// app/fuzz/run-fuzzers.sh; not part of the normal build.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "app/SettingsReaders.h"
#include "app/TextFileReader.h"

namespace {

using namespace tv2;

constexpr int32_t kUnset = -12345;

struct Readings {
  int32_t updates = kUnset;
  bool placed = false;
  int32_t x = kUnset, y = kUnset, width = kUnset, height = kUnset;
  int32_t column0 = kUnset;
  uint32_t flags = 0;
  std::unique_ptr<CProfile> profile;

  bool operator==(const Readings& other) const {
    bool sameProfile = (profile == nullptr) == (other.profile == nullptr);
    if (sameProfile && profile != nullptr) {
      sameProfile = profile->configIndex == other.profile->configIndex &&
                    profile->metricCount == other.profile->metricCount && profile->metrics == other.profile->metrics;
    }
    return updates == other.updates && placed == other.placed && x == other.x && y == other.y &&
           width == other.width && height == other.height && column0 == other.column0 && flags == other.flags &&
           sameProfile;
  }
};

Readings readAll(const std::string& bytes) {
  Readings r;
  TextFileReader reader;
  reader.openBytes(bytes);
  r.updates = ReadUpdatesSetting(reader, kUnset);
  reader.openBytes(bytes);
  r.placed = ReadPlacementSetting(reader, &r.x, &r.y, &r.width, &r.height);
  reader.openBytes(bytes);
  ReadClientAreaSettings(reader, &r.column0, &r.flags, &r.profile);

  // The update setting is 0 or 1 once any line scanned.
  if (r.updates != kUnset && r.updates != 0 && r.updates != 1) std::abort();
  // A placement is all or nothing.
  const bool anySet = r.x != kUnset || r.y != kUnset || r.width != kUnset || r.height != kUnset;
  if (!r.placed && anySet) std::abort();
  // FLAGS always comes with RUNNING.
  if (r.flags != 0 && (r.flags & 1u) == 0) std::abort();
  // A created profile holds only the four entries a line can fill.
  if (r.profile != nullptr) {
    for (int k = 4; k < CProfile::kMaxMetrics; ++k) {
      if (r.profile->metrics[k] != -1) std::abort();
    }
  }
  return r;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  readAll(bytes);
  // Written by the program, read back: the same as the UTF-8 file.
  if (!(readAll(EncodeSettingsText(bytes)) == readAll("\xEF\xBB\xBF" + bytes))) std::abort();
  return 0;
}
