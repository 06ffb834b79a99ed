// Every reader of the settings and profile files on input no editor would
// write: no crash, no hang, and the defaults stay unless a line really scans.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "app/ProfileLine.h"
#include "app/SettingsFile.h"
#include "app/SettingsReaders.h"
#include "app/TextFileReader.h"
#include "tests/testing/TextBytes.h"

namespace tv2 {
namespace {

namespace fs = std::filesystem;

struct Outcome {
  int32_t updates = 1;
  bool placed = false;
  int32_t column0 = 250;
  uint32_t flags = 5;
  bool hasProfile = false;
  bool profileTaken = false;
};

// All four readers on the same bytes, the settings readers as a wide file,
// the profile reader as a narrow one.
Outcome readAll(const std::string& bytes) {
  Outcome out;
  TextFileReader reader;
  reader.openBytes(bytes);
  out.updates = ReadUpdatesSetting(reader, 1);
  reader.openBytes(bytes);
  int32_t x = 0, y = 0, width = 0, height = 0;
  out.placed = ReadPlacementSetting(reader, &x, &y, &width, &height);
  reader.openBytes(bytes);
  std::unique_ptr<CProfile> profile;
  ReadClientAreaSettings(reader, &out.column0, &out.flags, &profile);
  out.hasProfile = profile != nullptr;
  reader.openNarrowBytes(bytes);
  CProfile narrow;
  out.profileTaken = ReadProfileLine(reader, &narrow);
  return out;
}

void expectDefaults(const Outcome& out, const std::string& what) {
  EXPECT_EQ(out.updates, 1) << what;
  EXPECT_FALSE(out.placed) << what;
  EXPECT_EQ(out.column0, 250) << what;
  EXPECT_EQ(out.flags, 5u) << what;
  EXPECT_FALSE(out.hasProfile) << what;
  EXPECT_FALSE(out.profileTaken) << what;
}

using tv2::testing::utf16le;

TEST(ReaderBadInput, NoiseTruncationAndOddByteCountsKeepTheDefaults) {
  std::mt19937 random(20240611);
  for (size_t size : {1u, 2u, 3u, 17u, 255u, 4096u, 65537u}) {
    std::string noise(size, '\0');
    for (char& c : noise) c = static_cast<char>(random());
    expectDefaults(readAll(noise), "noise of " + std::to_string(size));
    expectDefaults(readAll("\xFF\xFE" + noise), "marked noise of " + std::to_string(size));
    expectDefaults(readAll("\xEF\xBB\xBF" + noise), "UTF-8 noise of " + std::to_string(size));
  }
  // A good file cut at every length, including in the middle of a code unit.
  const std::string good = "\xFF\xFE" + utf16le("[Tarvelle2]\r\nUPDATES=0\r\nCOL0=300\r\nFLAGS=6\r\n");
  for (size_t cut = 0; cut < good.size(); ++cut) {
    Outcome out = readAll(good.substr(0, cut));
    EXPECT_TRUE(out.updates == 0 || out.updates == 1);
    EXPECT_TRUE(out.column0 == 250 || out.column0 == 300 || out.column0 == 3 || out.column0 == 30);
    EXPECT_TRUE(out.flags == 5u || out.flags == 7u);
  }
  expectDefaults(readAll(std::string("\xFF\xFE[\0T", 5)), "truncated header");
}

TEST(ReaderBadInput, NulsEndNothingAndMatchNothing) {
  // A NUL inside a key or number spoils that line only.
  const std::string text = utf16le("[Tarvelle2]\r\nUPD") + std::string(2, '\0') + utf16le("ATES=0\r\nCOL0=3") +
                           std::string(2, '\0') + utf16le("00\r\nFLAGS=6\r\n");
  Outcome out = readAll("\xFF\xFE" + text);
  EXPECT_EQ(out.updates, 1);
  EXPECT_EQ(out.column0, 3);  // the scan stops at the NUL, as a C string would
  EXPECT_EQ(out.flags, 7u);
  expectDefaults(readAll(std::string(4096, '\0')), "NULs");
  const std::string narrow = std::string("[TV2 Pro") + '\0' + "file]1 1 1 1 1 1\n";
  TextFileReader reader;
  reader.openNarrowBytes(narrow);
  CProfile profile;
  EXPECT_FALSE(ReadProfileLine(reader, &profile));
}

TEST(ReaderBadInput, ATenMegabyteLineIsReadInPieces) {
  const std::string digits(10 * 1024 * 1024, '9');
  // In memory: the whole line, 254 characters at a time. A number that long
  // saturates instead of overflowing.
  Outcome out = readAll("\xEF\xBB\xBF[Tarvelle2]\r\nCOL0=" + digits + "\r\nUPDATES=0\r\n[TV2 Profile]" + digits + "\r\n");
  EXPECT_EQ(out.column0, 2147483647);
  EXPECT_EQ(out.updates, 0);
  EXPECT_FALSE(out.hasProfile);  // one number, then the line goes on in pieces
  expectDefaults(readAll(digits), "a line of digits");

  // From disk: a file over the 4 MB limit is not read at all, never a part
  // of it that would lose what lies beyond.
  const fs::path path = fs::temp_directory_path() / ("tv2-bad-input-" + std::to_string(::getpid()) + ".ini");
  {
    std::ofstream file(path, std::ios::binary);
    file << "\xEF\xBB\xBF[Tarvelle2]\r\n" << digits << "\r\nUPDATES=0\r\n";
  }
  EXPECT_EQ(SettingsFile(path.string()).readUpdates(1), 1);
  TextFileReader reader;
  EXPECT_FALSE(reader.openNarrow(path.string()));
  EXPECT_TRUE(TextFileReader::tooLarge(path.string()));
  fs::remove(path);
}

TEST(ReaderBadInput, WhatIsNotARegularFileIsNotOpened) {
  const fs::path folder = fs::temp_directory_path() / ("tv2-bad-files-" + std::to_string(::getpid()));
  fs::remove_all(folder);
  fs::create_directories(folder);
  // A named pipe without a writer would block the opening for ever.
  const fs::path pipe = folder / "Tarvelle2.ini";
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  int32_t x = 0, y = 0, width = 0, height = 0;
  EXPECT_FALSE(SettingsFile(pipe.string()).readPlacement(&x, &y, &width, &height));
  TextFileReader reader;
  EXPECT_FALSE(reader.openNarrow(pipe.string()));
  // Neither a folder nor a device that never ends.
  EXPECT_FALSE(reader.open(folder.string()));
  EXPECT_FALSE(reader.open("/dev/zero"));
  EXPECT_FALSE(reader.open(std::string("Tarvelle2.ini\0x", 15)));
  EXPECT_EQ(SettingsFile(folder.string()).readUpdates(0), 0);
  fs::remove_all(folder);
}

}  // namespace
}  // namespace tv2
