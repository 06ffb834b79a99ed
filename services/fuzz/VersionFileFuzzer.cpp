// libFuzzer target for the version file the update check downloads: any text
// the server (or whoever answers in its place) sends is scanned, and what it
// accepts is weighed.
//
// Built with clang only by scripts/fuzz-parsers.sh; not part of the normal build.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "services/VersionFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  tv2::VersionNumbers published{-7, -7, -7, -7};
  tv2::VersionScanResult result = tv2::scanVersionFile(text, &published);
  if (result == tv2::VersionScanResult::kFound) tv2::versionWeight(published);
  return 0;
}
