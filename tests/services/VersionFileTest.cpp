// The version file scan and the version comparison, on their own: the
// cases the loopback tests of the whole check do not reach.

#include <gtest/gtest.h>

#include <string>

#include "services/VersionFile.h"

namespace tv2 {
namespace {

VersionScanResult scan(const std::string& text, VersionNumbers* out) { return scanVersionFile(text, out); }

TEST(VersionFile, LineBreaksAnywhereAreIgnored) {
  VersionNumbers published{};
  ASSERT_EQ(scan("[Norvane_VER]\r\n;other=1.0.0.0;\r\ntar\nvelle=2.0\r\n.5.0\n;", &published), VersionScanResult::kFound);
  EXPECT_EQ(published, (VersionNumbers{2, 0, 5, 0}));
}

TEST(VersionFile, NumbersReadLikePercentD) {
  VersionNumbers published{};
  // Blanks before a number and a sign are taken; after it, a blank stops the scan.
  ASSERT_EQ(scan("[Norvane_VER];tarvelle= 2.+0.-1.7junk;", &published), VersionScanResult::kFound);
  EXPECT_EQ(published, (VersionNumbers{2, 0, -1, 7}));
  EXPECT_EQ(scan("[Norvane_VER];tarvelle=2 .0.5.0;", &published), VersionScanResult::kBadEntry);
  EXPECT_EQ(scan("[Norvane_VER];tarvelle=2.0.5;", &published), VersionScanResult::kBadEntry);
  EXPECT_EQ(scan("[Norvane_VER]; tarvelle=2.0.5.0;", &published), VersionScanResult::kBadEntry);
  // Out of range saturates instead of wrapping into a small number.
  ASSERT_EQ(scan("[Norvane_VER];tarvelle=99999999999.0.0.0;", &published), VersionScanResult::kFound);
  EXPECT_EQ(published[0], 2147483647);
  EXPECT_GT(versionWeight(published), versionWeight({2, 0, 0, 0}));
}

TEST(VersionFile, AnOverlongEntryIsDroppedAndTheScanGoesOn) {
  std::string text = "[Norvane_VER];" + std::string(200, 'x') + "tarvelle=9.0.0.0;tarvelle=2.0.5.0;";
  VersionNumbers published{};
  ASSERT_EQ(scan(text, &published), VersionScanResult::kFound);
  EXPECT_EQ(published, (VersionNumbers{2, 0, 5, 0}));
}

}  // namespace
}  // namespace tv2
