#pragma once

#include <string>
#include <string_view>

#include "app/CProfile.h"

namespace tv2 {

class TextFileReader;

// The one-line text form of a profile, shared by profile files and the
// settings file: "[TV2 Profile]" followed by the configuration index, the
// metric count and metrics 0-3, empty entries written as 4294967295.
inline constexpr std::string_view kProfileKey = "[TV2 Profile]";

// The line, ending in '\n'.
std::string FormatProfileLine(const CProfile& profile);

// Scans a line that begins with the key. Only a line whose six numbers all
// convert is taken: then configIndex, metricCount and metrics[0..3] are set
// and true returned; otherwise the profile is left unchanged. Numbers out of
// range saturate; "-1" in a metric field is 4294967295, as %u reads it.
bool ScanProfileLine(std::u16string_view line, CProfile* profile);

// Reads lines (pieces of at most 254 characters) up to the first that holds
// the key anywhere, scans it and stops there whether or not it scanned. True
// when that line scanned (the profile was set); false at the end of the
// stream or for a line that converts only in part.
bool ReadProfileLine(TextFileReader& reader, CProfile* profile);

}  // namespace tv2
