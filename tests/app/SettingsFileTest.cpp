#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "app/SettingsFile.h"
#include "app/TextFileReader.h"
#include "tests/testing/TextBytes.h"

namespace tv2 {
namespace {

namespace fs = std::filesystem;

using tv2::testing::utf16le;

// A settings file's bytes as the program writes them.
std::string iniBytes(const std::string& text) { return "\xFF\xFE" + utf16le(text); }

std::string readAll(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

class SettingsFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder = fs::temp_directory_path() / ("tv2-settings-" + std::to_string(::getpid()) + "-" +
                                          ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(folder);
    fs::create_directories(folder);
    path = folder / "Tarvelle2.ini";
  }
  void TearDown() override {
    fs::permissions(folder, fs::perms::owner_all, fs::perm_options::add);
    fs::remove_all(folder);
  }
  void put(const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

  // The client-area values after reading, starting from the defaults.
  struct ClientArea {
    int32_t column0 = 250;
    uint32_t flags = 5;
    std::unique_ptr<CProfile> profile;
  };
  ClientArea clientArea() {
    ClientArea area;
    SettingsFile(path.string()).readClientArea(&area.column0, &area.flags, &area.profile);
    return area;
  }

  fs::path folder;
  fs::path path;
};

TEST_F(SettingsFileTest, OnlyAFileWhoseFirstLineNamesTheSectionIsRead) {
  SettingsFile settings(path.string());
  EXPECT_EQ(settings.readUpdates(1), 1);  // no file
  put(iniBytes("junk before [Tarvelle2] and after\r\nUPDATES=0\r\n"));
  EXPECT_EQ(settings.readUpdates(1), 0);
  put(iniBytes("\r\n[Tarvelle2]\r\nUPDATES=0\r\nCOL0=99\r\n"));
  EXPECT_EQ(settings.readUpdates(1), 1);
  EXPECT_EQ(clientArea().column0, 250);
  // The header must sit within the first 254 characters of the first line.
  put(iniBytes(std::string(254, ' ') + "[Tarvelle2]\r\nUPDATES=0\r\n"));
  EXPECT_EQ(settings.readUpdates(1), 1);
}

TEST_F(SettingsFileTest, EveryEncodingTheStreamDetects) {
  const std::string body = "[Tarvelle2]\r\nCOL0=321\r\nUPDATES=0\r\n";
  for (const std::string& bytes : {iniBytes(body), utf16le(body), "\xEF\xBB\xBF" + body}) {
    put(bytes);
    EXPECT_EQ(SettingsFile(path.string()).readUpdates(1), 0);
    EXPECT_EQ(clientArea().column0, 321);
  }
  // Plain 8-bit text without a mark reads as UTF-16 garbage: not ours.
  put(body);
  EXPECT_EQ(SettingsFile(path.string()).readUpdates(1), 1);
}

TEST_F(SettingsFileTest, UpdatesTakesTheLastLineThatScans) {
  SettingsFile settings(path.string());
  put(iniBytes("[Tarvelle2]\r\nUPDATES=0\r\nUPDATES=7\r\n"));
  EXPECT_EQ(settings.readUpdates(0), 1);
  put(iniBytes("[Tarvelle2]\r\nUPDATES=7\r\nUPDATES=0\r\nUPDATES=x\r\n NOUPDATES=1\r\n"));
  EXPECT_EQ(settings.readUpdates(1), 0);
  put(iniBytes("[Tarvelle2]\r\nUPDATES=-3\r\n"));
  EXPECT_EQ(settings.readUpdates(0), 1);
  // A long line comes in pieces of 254; a piece that begins with the key
  // counts as a line of its own.
  put(iniBytes("[Tarvelle2]\r\n" + std::string(254, 'x') + "UPDATES=0\r\n"));
  EXPECT_EQ(settings.readUpdates(1), 0);
}

TEST_F(SettingsFileTest, ClientAreaKeysAreAnchoredAndLaterLinesWin) {
  put(iniBytes("[Tarvelle2]\r\n  COL0=400\r\nFLAGS=6\r\n"));
  ClientArea area = clientArea();
  EXPECT_EQ(area.column0, 250);  // indented: recognised, not scanned
  EXPECT_EQ(area.flags, 7u);     // RUNNING forced on
  EXPECT_EQ(area.profile, nullptr);

  put(iniBytes("[Tarvelle2]\r\nCOL0=300\r\nFLAGS=2\r\nCOL0=310\r\nFLAGS=0\r\nCOL0=x\r\n"));
  area = clientArea();
  EXPECT_EQ(area.column0, 310);
  EXPECT_EQ(area.flags, 1u);

  // The first key found decides: this is a COL0 line that does not scan, so
  // FLAGS stays too.
  put(iniBytes("[Tarvelle2]\r\nFLAGS=2 COL0=5\r\n"));
  area = clientArea();
  EXPECT_EQ(area.column0, 250);
  EXPECT_EQ(area.flags, 5u);

  // %u wraps a negative number; out-of-range numbers saturate.
  put(iniBytes("[Tarvelle2]\r\nFLAGS=-2\r\nCOL0=99999999999\r\n"));
  area = clientArea();
  EXPECT_EQ(area.flags, 0xFFFFFFFFu);
  EXPECT_EQ(area.column0, 2147483647);
}

TEST_F(SettingsFileTest, ProfileLineCreatesTheProfileOnlyWhenItScans) {
  put(iniBytes("[Tarvelle2]\r\n[TV2 Profile]1 2 3 4\r\n"));
  EXPECT_EQ(clientArea().profile, nullptr);  // converts only in part

  put(iniBytes("[Tarvelle2]\r\n[TV2 Profile]0 2 1 2 4294967295 4294967295\r\n"
               "[TV2 Profile]x\r\n[TV2 Profile]2 1 9 -1 -1 -1\r\n"));
  ClientArea area = clientArea();
  ASSERT_NE(area.profile, nullptr);
  EXPECT_EQ(area.profile->configIndex, 2);
  EXPECT_EQ(area.profile->metricCount, 1);
  EXPECT_EQ(area.profile->metrics[0], 9);
  EXPECT_EQ(area.profile->metrics[1], -1);

  // An existing profile is updated in place; entries 4-15 are left alone.
  auto existing = std::make_unique<CProfile>();
  existing->metrics[4] = 44;
  CProfile* kept = existing.get();
  int32_t column0 = 250;
  uint32_t flags = 5;
  SettingsFile(path.string()).readClientArea(&column0, &flags, &existing);
  EXPECT_EQ(existing.get(), kept);
  EXPECT_EQ(existing->configIndex, 2);
  EXPECT_EQ(existing->metrics[4], 44);
}

TEST_F(SettingsFileTest, PlacementIsTheFirstLineAndOnlyWhenItConvertsWhole) {
  SettingsFile settings(path.string());
  int32_t x = -7, y = -7, width = -7, height = -7;
  put(iniBytes("[Tarvelle2]\r\nMAINWINDOW=2 1 100 900 50 650\r\nMAINWINDOW=0 0 1 2 3 4\r\n"));
  ASSERT_TRUE(settings.readPlacement(&x, &y, &width, &height));
  EXPECT_EQ(x, 100);
  EXPECT_EQ(y, 50);
  EXPECT_EQ(width, 800);
  EXPECT_EQ(height, 600);

  // The first line stops the reading, scanned or not.
  x = y = width = height = -7;
  put(iniBytes("[Tarvelle2]\r\nMAINWINDOW=2 1 100 900\r\nMAINWINDOW=2 1 100 900 50 650\r\n"));
  EXPECT_FALSE(settings.readPlacement(&x, &y, &width, &height));
  put(iniBytes("[Tarvelle2]\r\n MAINWINDOW=2 1 100 900 50 650\r\n"));
  EXPECT_FALSE(settings.readPlacement(&x, &y, &width, &height));
  // An extent that would wrap is not a size.
  put(iniBytes("[Tarvelle2]\r\nMAINWINDOW=0 0 -2147483648 2147483647 0 10\r\n"));
  EXPECT_FALSE(settings.readPlacement(&x, &y, &width, &height));
  put(iniBytes("MAINWINDOW=2 1 100 900 50 650\r\n"));
  EXPECT_FALSE(settings.readPlacement(&x, &y, &width, &height));
  EXPECT_EQ(x, -7);
  EXPECT_EQ(width, -7);
}

TEST_F(SettingsFileTest, WritesUtf16WithMarkAndCrLfAndOnlyWhatItIsGiven) {
  put(iniBytes("[Tarvelle2]\r\nCOL0=300\r\nSOMEKEY=1\r\n"));
  SettingsFile settings(path.string());
  ASSERT_TRUE(settings.write("[Tarvelle2]\nMAINWINDOW=2 1 100 900 50 650\nCOL0=280\nFLAGS=7\n"
                             "[TV2 Profile]0 2 1 2 4294967295 4294967295\nUPDATES=0\n"));
  const std::string expected = iniBytes(
      "[Tarvelle2]\r\nMAINWINDOW=2 1 100 900 50 650\r\nCOL0=280\r\nFLAGS=7\r\n"
      "[TV2 Profile]0 2 1 2 4294967295 4294967295\r\nUPDATES=0\r\n");
  EXPECT_EQ(readAll(path), expected);  // the unknown key is gone
  ClientArea area = clientArea();
  EXPECT_EQ(area.column0, 280);
  EXPECT_EQ(area.flags, 7u);
  ASSERT_NE(area.profile, nullptr);
  EXPECT_EQ(area.profile->metrics[1], 2);
  EXPECT_EQ(settings.readUpdates(1), 0);

  // Non-ASCII text goes out as UTF-16; a CR LF given stays one line end.
  ASSERT_TRUE(settings.write("[Tarvelle2]\r\n配置\n"));
  EXPECT_EQ(readAll(path), iniBytes("[Tarvelle2]\r\n") + "\x4D\x91\x6E\x7F" + utf16le("\r\n"));
  // Nothing is left beside the file.
  EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1);
}

TEST_F(SettingsFileTest, AFailedWriteLeavesTheOldFileWhole) {
  const std::string old = iniBytes("[Tarvelle2]\r\nCOL0=300\r\n");
  put(old);
  // A folder at the path.
  fs::create_directory(folder / "dir.ini");
  EXPECT_FALSE(SettingsFile((folder / "dir.ini").string()).write("[Tarvelle2]\n"));
  EXPECT_TRUE(fs::is_directory(folder / "dir.ini"));
  // A folder that does not exist.
  EXPECT_FALSE(SettingsFile((folder / "missing" / "Tarvelle2.ini").string()).write("[Tarvelle2]\n"));
  EXPECT_FALSE(SettingsFile("").write("[Tarvelle2]\n"));
  // A folder that takes no new file (permissions do not stop root).
  fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec, fs::perm_options::replace);
  if (::access(folder.c_str(), W_OK) != 0) {
    EXPECT_FALSE(SettingsFile(path.string()).write("[Tarvelle2]\nCOL0=1\n"));
  }
  fs::permissions(folder, fs::perms::owner_all, fs::perm_options::add);
  EXPECT_EQ(readAll(path), old);
  EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 2);  // file and dir.ini
}

// A long line in front of the keys: a file within the limit is read to its
// end; one beyond it is not read at all and is never replaced by a close
// that would write defaults over its values.
TEST_F(SettingsFileTest, ALargeFileIsReadWholeOrLeftAlone) {
  const std::string filler(TextFileReader::kMaxFileBytes / 2 - 200, 'x');  // UTF-16: two bytes each
  const std::string tail = "UPDATES=0\n[TV2 Profile]1 2 1 15 4294967295 4294967295\n";
  put(iniBytes("[Tarvelle2]\nCOMMENT=" + filler + "\n" + tail));
  ASSERT_LE(fs::file_size(path), TextFileReader::kMaxFileBytes);
  EXPECT_EQ(SettingsFile(path.string()).readUpdates(1), 0);
  ClientArea area = clientArea();
  ASSERT_NE(area.profile, nullptr);
  EXPECT_EQ(area.profile->configIndex, 1);
  EXPECT_FALSE(TextFileReader::tooLarge(path.string()));

  const std::string large = iniBytes("[Tarvelle2]\nCOMMENT=" + filler + filler + "\n" + tail);
  put(large);
  ASSERT_GT(fs::file_size(path), TextFileReader::kMaxFileBytes);
  EXPECT_TRUE(TextFileReader::tooLarge(path.string()));
  EXPECT_EQ(SettingsFile(path.string()).readUpdates(1), 1);  // nothing read: the default stays
  EXPECT_EQ(clientArea().profile, nullptr);
  EXPECT_FALSE(SettingsFile(path.string()).write("[Tarvelle2]\nUPDATES=1\n"));
  EXPECT_EQ(readAll(path), large);
}

TEST_F(SettingsFileTest, OnlyTheRunningUsersLinkIsWrittenThrough) {
  // The user's own link stays a link; the file it names gets the settings.
  const fs::path target = folder / "kept-elsewhere.ini";
  std::ofstream(target) << "old";
  fs::create_symlink(target, path);
  ASSERT_TRUE(SettingsFile(path.string()).write("[Tarvelle2]\n"));
  EXPECT_TRUE(fs::is_symlink(path));
  EXPECT_EQ(readAll(target), iniBytes("[Tarvelle2]\r\n"));
  if (::geteuid() != 0) return;
  // Another user's link is replaced by a file; what it names stays as it was.
  const fs::path victim = folder / "victim";
  std::ofstream(victim) << "keep";
  fs::remove(path);
  fs::create_symlink(victim, path);
  ASSERT_EQ(::lchown(path.c_str(), 65534, 65534), 0);
  ASSERT_TRUE(SettingsFile(path.string()).write("[Tarvelle2]\n"));
  EXPECT_FALSE(fs::is_symlink(path));
  EXPECT_EQ(readAll(victim), "keep");
  EXPECT_EQ(readAll(path), iniBytes("[Tarvelle2]\r\n"));
}

}  // namespace
}  // namespace tv2
