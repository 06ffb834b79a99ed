#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "app/CProfile.h"

namespace tv2 {

class TextFileReader;

// The settings file's readers on an opened stream (SettingsFile opens the
// file; the fuzz targets feed bytes). Each takes its reader from the start,
// checks the "[Tarvelle2]" first line and leaves every value as given when
// the file is not one of ours. Lines are handled in pieces of at most 254
// characters; a key is found anywhere in a piece, its value scanned only from
// the piece's first character.

// The last "UPDATES=%d" line that scans, as 1 or 0; current when none does.
int32_t ReadUpdatesSetting(TextFileReader& reader, int32_t current);

// The first "MAINWINDOW=" line, as position and size (x = left, y = top,
// width = right - left, height = bottom - top); the placement flags and show
// command are read and never applied. False, nothing set, when there is no
// such line or it does not convert completely.
bool ReadPlacementSetting(TextFileReader& reader, int32_t* x, int32_t* y, int32_t* width, int32_t* height);

// COL0, FLAGS (with bit 0 forced on) and the profile line, later lines
// overwriting earlier ones; the first key found decides what a line is.
// *profile is created only by a profile line that scans.
void ReadClientAreaSettings(TextFileReader& reader, int32_t* column0Width, uint32_t* settingsFlags,
                            std::unique_ptr<CProfile>* profile);

// The bytes the settings file holds for text (UTF-8 lines ending in '\n'):
// byte-order mark, UTF-16 LE, CR LF line ends.
std::string EncodeSettingsText(const std::string& text);

}  // namespace tv2
