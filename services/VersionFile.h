#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "platform/PlatformTypes.h"

namespace tv2 {

// Four version numbers a.b.c.d as the version file and the dialogs use them.
using VersionNumbers = std::array<int32_t, 4>;

inline VersionNumbers toVersionNumbers(const FileVersion& version) {
  return {static_cast<int32_t>(version.major), static_cast<int32_t>(version.minor),
          static_cast<int32_t>(version.build), static_cast<int32_t>(version.revision)};
}

// What the scan of a version file found.
enum class VersionScanResult {
  kFound,       // the product's entry, fully scanned
  kNoMarker,    // the text does not begin with the marker
  kNoEntry,     // no ";"-ended entry mentions the product
  kBadEntry,    // the first entry that mentions the product does not scan
};

// The version file: "[Norvane_VER]" first, then "key=a.b.c.d;" entries. CR
// and LF are ignored anywhere; text after the last ";" is ignored. The first
// ";"-ended entry that contains "tarvelle" decides: it must read
// "tarvelle=%d.%d.%d.%d" from its first byte (so the entry that carries the
// marker, or a key that merely contains the product's, does not scan).
VersionScanResult scanVersionFile(std::string_view text, VersionNumbers* published);

// The number versions are compared by: a*1000 + b*100 + c*10 + d. The weights
// overlap once a part exceeds 9 (1.10.0.0 counts as 2000, like 2.0.0.0); the
// comparison is deliberately that simple. Computed in 64 bits so that no
// published number can overflow it.
int64_t versionWeight(const VersionNumbers& version);

}  // namespace tv2
