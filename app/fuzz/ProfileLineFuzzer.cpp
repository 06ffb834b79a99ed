// libFuzzer target for the profile line reader: the bytes are read as a
// narrow profile file and as a wide stream, and any line that is taken must
// survive a write and a second read unchanged.
//
// Built with clang only (-fsanitize=fuzzer,address,undefined), by
// app/fuzz/run-fuzzers.sh; not part of the normal build.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "app/ProfileLine.h"
#include "app/TextFileReader.h"

namespace {

using namespace tv2;

void checkRoundTrip(const CProfile& profile) {
  TextFileReader reader;
  reader.openNarrowBytes(FormatProfileLine(profile));
  CProfile again;
  if (!ReadProfileLine(reader, &again)) std::abort();
  if (again.configIndex != profile.configIndex || again.metricCount != profile.metricCount) std::abort();
  for (int k = 0; k < 4; ++k) {
    if (again.metrics[k] != profile.metrics[k]) std::abort();
  }
}

void readOne(TextFileReader& reader) {
  CProfile profile;
  const CProfile before = profile;
  if (!ReadProfileLine(reader, &profile)) {
    // A line that does not scan leaves the profile as it was.
    if (profile.configIndex != before.configIndex || profile.metricCount != before.metricCount ||
        profile.metrics != before.metrics) {
      std::abort();
    }
    return;
  }
  for (int k = 4; k < CProfile::kMaxMetrics; ++k) {
    if (profile.metrics[k] != -1) std::abort();
  }
  checkRoundTrip(profile);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  TextFileReader reader;
  reader.openNarrowBytes(bytes);
  readOne(reader);
  reader.openBytes(bytes);
  readOne(reader);
  return 0;
}
