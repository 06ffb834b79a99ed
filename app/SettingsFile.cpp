#include "app/SettingsFile.h"

#include "app/SettingsReaders.h"
#include "app/TextFileReader.h"
#include "app/TextFileWriter.h"

namespace tv2 {

// Each reader opens the file afresh and reads it from the start; a file that
// cannot be opened leaves every value as given.

int32_t SettingsFile::readUpdates(int32_t current) const {
  TextFileReader reader;
  if (!reader.open(m_path)) return current;
  return ReadUpdatesSetting(reader, current);
}

bool SettingsFile::readPlacement(int32_t* x, int32_t* y, int32_t* width, int32_t* height) const {
  TextFileReader reader;
  if (!reader.open(m_path)) return false;
  return ReadPlacementSetting(reader, x, y, width, height);
}

void SettingsFile::readClientArea(int32_t* column0Width, uint32_t* settingsFlags,
                                  std::unique_ptr<CProfile>* profile) const {
  TextFileReader reader;
  if (!reader.open(m_path)) return;
  ReadClientAreaSettings(reader, column0Width, settingsFlags, profile);
}

bool SettingsFile::write(const std::string& text) const {
  // Written whole beside the old file and renamed over it: a full disk or a
  // crash mid-write leaves the old settings.
  if (TextFileReader::tooLarge(m_path)) return false;
  return TextFileWriter::replaceFile(m_path, EncodeSettingsText(text));
}

}  // namespace tv2
