#include <gtest/gtest.h>

#include <string>

#include "app/TextFileReader.h"

namespace tv2 {
namespace {

TEST(TextFileReader, DecodesUtf8WithMarkAndKeepsNonAscii) {
  TextFileReader reader;
  reader.openBytes("\xEF\xBB\xBF" "PROFILE=\xE9\x85\x8D\xE7\xBD\xAE 0\r\n\xF0\x9F\x98\x80\n");
  std::u16string line;
  ASSERT_TRUE(reader.readLine(line, 255));
  EXPECT_EQ(line, u"PROFILE=配置 0\n");
  ASSERT_TRUE(reader.readLine(line, 255));
  EXPECT_EQ(line, u"\U0001F600\n");  // a surrogate pair
  EXPECT_FALSE(reader.readLine(line, 255));
}

TEST(TextFileReader, MalformedUtf8BecomesReplacementCharacters) {
  TextFileReader reader;
  // A stray continuation byte, an overlong form, a truncated sequence.
  reader.openBytes("\xEF\xBB\xBF" "a\x80" "b\xC0\xAF" "c\xE6\x88");
  std::u16string line;
  ASSERT_TRUE(reader.readLine(line, 255));
  EXPECT_EQ(line, u"a\uFFFDb\uFFFD\uFFFDc\uFFFD\uFFFD");
}

TEST(TextFileReader, LongLinesComeInPieces) {
  TextFileReader reader;
  std::string text(300, 'x');
  reader.openBytes("\xEF\xBB\xBF" + text + "\r\nnext\r\n");
  std::u16string line;
  ASSERT_TRUE(reader.readLine(line, 255));
  EXPECT_EQ(line.size(), 254u);
  ASSERT_TRUE(reader.readLine(line, 255));
  EXPECT_EQ(line, std::u16string(46, u'x') + u"\n");
  ASSERT_TRUE(reader.readLine(line, 255));
  EXPECT_EQ(line, u"next\n");
}

TEST(TextFileReader, OddUtf16TailAndEmptyInput) {
  TextFileReader reader;
  reader.openBytes(std::string("\xFF\xFE" "A\0B", 5));
  std::u16string line;
  ASSERT_TRUE(reader.readLine(line, 255));
  EXPECT_EQ(line, u"A");
  reader.openBytes("");
  EXPECT_FALSE(reader.readLine(line, 255));
  EXPECT_FALSE(reader.open("/nonexistent/tv2/settings.ini"));
}

TEST(TextScan, PrefixedIntegers) {
  int value = 0;
  EXPECT_TRUE(scanPrefixedInt(u"UPDATES=12\n", "UPDATES=", &value));
  EXPECT_EQ(value, 12);
  EXPECT_TRUE(scanPrefixedInt(u"UPDATES=  -4x", "UPDATES=", &value));
  EXPECT_EQ(value, -4);
  EXPECT_TRUE(scanPrefixedInt(u"UPDATES=99999999999999999999", "UPDATES=", &value));
  EXPECT_EQ(value, 2147483647);
  EXPECT_FALSE(scanPrefixedInt(u" UPDATES=1", "UPDATES=", &value));
  EXPECT_FALSE(scanPrefixedInt(u"UPDATES=", "UPDATES=", &value));
  EXPECT_FALSE(scanPrefixedInt(u"UPDATES=+", "UPDATES=", &value));
  EXPECT_TRUE(containsAscii(u"xx[Tarvelle2]yy", "[Tarvelle2]"));
  EXPECT_FALSE(containsAscii(u"[Tarvelle]", "[Tarvelle2]"));
}

}  // namespace
}  // namespace tv2
