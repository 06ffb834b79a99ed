#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "app/ProfileLine.h"
#include "app/TextFileReader.h"
#include "app/TextFileWriter.h"

namespace tv2 {
namespace {

namespace fs = std::filesystem;

// A profile read from a narrow file's bytes; configIndex 77 marks "untouched".
struct Read {
  bool taken = false;
  CProfile profile;
};
Read readNarrow(const std::string& bytes) {
  TextFileReader reader;
  reader.openNarrowBytes(bytes);
  Read result;
  result.profile.configIndex = 77;
  result.taken = ReadProfileLine(reader, &result.profile);
  return result;
}

TEST(ProfileLine, EmptyEntriesGoOutAsAllOnesAndComeBack) {
  CProfile profile;
  profile.configIndex = 0;
  profile.AddMetric(1);
  profile.AddMetric(2);
  const std::string line = FormatProfileLine(profile);
  EXPECT_EQ(line, "[TV2 Profile]0 2 1 2 4294967295 4294967295\n");

  Read back = readNarrow(TextFileWriter::withCrLf(line));
  ASSERT_TRUE(back.taken);
  EXPECT_EQ(back.profile.configIndex, 0);
  EXPECT_EQ(back.profile.metricCount, 2);
  EXPECT_EQ(back.profile.metrics[0], 1);
  EXPECT_EQ(back.profile.metrics[1], 2);
  EXPECT_EQ(back.profile.metrics[2], -1);
  EXPECT_EQ(back.profile.metrics[3], -1);
  // Entries past the fourth are neither written nor read.
  profile.AddMetric(3);
  profile.AddMetric(4);
  profile.AddMetric(5);
  EXPECT_EQ(FormatProfileLine(profile), "[TV2 Profile]0 5 1 2 3 4\n");
}

TEST(ProfileLine, TheFirstLineWithTheKeyDecides) {
  Read read = readNarrow("some text\r\n\r\n[TV2 Profile]3 1 7 -1 -1 -1\r\n[TV2 Profile]1 1 9 -1 -1 -1\r\n");
  ASSERT_TRUE(read.taken);
  EXPECT_EQ(read.profile.configIndex, 3);
  EXPECT_EQ(read.profile.metrics[0], 7);
  EXPECT_EQ(read.profile.metrics[1], -1);  // "-1" through %u is 4294967295

  // A first line that converts only in part ends the reading, profile untouched.
  read = readNarrow("[TV2 Profile]3 1 7\r\n[TV2 Profile]1 1 9 -1 -1 -1\r\n");
  EXPECT_FALSE(read.taken);
  EXPECT_EQ(read.profile.configIndex, 77);
  // So does a key that is not at the start of its line.
  read = readNarrow("x[TV2 Profile]3 1 7 -1 -1 -1\r\n[TV2 Profile]1 1 9 -1 -1 -1\r\n");
  EXPECT_FALSE(read.taken);
  EXPECT_FALSE(readNarrow("").taken);
  EXPECT_FALSE(readNarrow("[TV2 Profile]").taken);
  EXPECT_FALSE(readNarrow("[TV2 Profile]1 2 3 4 5 +").taken);
}

TEST(ProfileLine, NumbersOutOfRangeSaturateAndSignsWrapForUnsignedFields) {
  Read read = readNarrow("[TV2 Profile]99999999999 -99999999999 99999999999 -2 +5 0\n");
  ASSERT_TRUE(read.taken);
  EXPECT_EQ(read.profile.configIndex, 2147483647);
  EXPECT_EQ(read.profile.metricCount, -2147483647 - 1);
  EXPECT_EQ(static_cast<uint32_t>(read.profile.metrics[0]), 4294967295u);
  EXPECT_EQ(static_cast<uint32_t>(read.profile.metrics[1]), 4294967294u);
  EXPECT_EQ(read.profile.metrics[2], 5);
  EXPECT_EQ(read.profile.metrics[3], 0);
}

TEST(ProfileLine, NarrowFilesTakeAMarkLatin1AndLinesInPieces) {
  // A mark in front of the line is skipped; a stray 8-bit byte is itself.
  Read read = readNarrow("\xEF\xBB\xBF[TV2 Profile]1 1 4 -1 -1 -1\r\n");
  ASSERT_TRUE(read.taken);
  EXPECT_EQ(read.profile.metrics[0], 4);
  TextFileReader reader;
  reader.openNarrowBytes("caf\xE9 \xE9\x85\x8D\r\nx\ry\r\n");
  std::u16string line;
  ASSERT_TRUE(reader.readLine(line, 255));
  EXPECT_EQ(line, u"caf\u00E9 配\n");
  ASSERT_TRUE(reader.readLine(line, 255));
  EXPECT_EQ(line, u"x\ry\n");  // a lone CR is text
  // The key in the second piece of a long line starts that piece.
  read = readNarrow(std::string(254, '-') + "[TV2 Profile]2 1 6 -1 -1 -1\n");
  ASSERT_TRUE(read.taken);
  EXPECT_EQ(read.profile.configIndex, 2);
}

TEST(ProfileLine, NarrowFilesWrittenAndReadBack) {
  const fs::path folder = fs::temp_directory_path() / ("tv2-profile-" + std::to_string(::getpid()));
  fs::remove_all(folder);
  fs::create_directories(folder);
  const fs::path file = folder / "文件.tv2";
  ASSERT_TRUE(TextFileWriter::writeNarrow(file.string(), "[TV2 Profile]1 1 4 -1 -1 -1\n"));
  std::ifstream in(file, std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()),
            "[TV2 Profile]1 1 4 -1 -1 -1\r\n");
  TextFileReader reader;
  ASSERT_TRUE(reader.openNarrow(file.string()));
  CProfile profile;
  EXPECT_TRUE(ReadProfileLine(reader, &profile));
  EXPECT_EQ(profile.configIndex, 1);
  // An empty profile file is still a file.
  ASSERT_TRUE(TextFileWriter::writeNarrow(file.string(), ""));
  EXPECT_EQ(fs::file_size(file), 0u);
  ASSERT_TRUE(reader.openNarrow(file.string()));
  EXPECT_FALSE(ReadProfileLine(reader, &profile));
  // A link chosen in the dialog: the file it names gets the contents.
  const fs::path target = folder / "target.tv2";
  std::ofstream(target) << "old";
  fs::create_symlink(target, folder / "link.tv2");
  ASSERT_TRUE(TextFileWriter::writeNarrow((folder / "link.tv2").string(), "a\n"));
  EXPECT_TRUE(fs::is_symlink(folder / "link.tv2"));
  EXPECT_EQ(fs::file_size(target), 3u);
  EXPECT_FALSE(TextFileWriter::writeNarrow(folder.string(), "a\n"));  // a folder
  EXPECT_FALSE(reader.openNarrow(folder.string()));
  fs::remove_all(folder);
}

}  // namespace
}  // namespace tv2
