// The file commands: profile save and load, the debug report, and the file
// dialogs' filters.

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "frame/FileCommands.h"
#include "frame/QtPrompts.h"
#include "tests/frame/FrameTestSupport.h"

namespace tv2::testing {
namespace {

using FileCommandsTest = LightFrame;

void writeBytes(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

TEST_F(FileCommandsTest, SaveProfileWritesEveryPanesLineWithCrLf) {
  CMainFrame& f = showFrame();
  left->profileLine = "[TV2 Profile]1 2 1 15 4294967295 4294967295\n";
  const std::filesystem::path path = folder / "choice.tv2";
  prompts.files = {path.string()};
  f.runCommand(kCmdSaveProfile);
  ASSERT_EQ(prompts.asked.size(), 1u);
  EXPECT_EQ(prompts.asked[0], "save 文件.tv2 TV2 File (*.tv2)|*.tv2|All Files (*.*)|*.*||");
  EXPECT_EQ(bytesOf(path), "[TV2 Profile]1 2 1 15 4294967295 4294967295\r\n");
  // Each pane had a profile of its own.
  ASSERT_EQ(log.size(), 2u);
  EXPECT_NE(log[0].lParam, 0);
  EXPECT_EQ(log[0].message, UM_SAVE_PROFILE);

  // No slot filled: the file is still created, empty.
  left->profileLine.clear();
  writeBytes(path, "old contents");
  prompts.files = {path.string()};
  f.runCommand(kCmdSaveProfile);
  EXPECT_TRUE(std::filesystem::exists(path));
  EXPECT_EQ(bytesOf(path), "");

  // Cancelled: nothing is asked of the panes.
  log.clear();
  f.runCommand(kCmdSaveProfile);
  EXPECT_TRUE(log.empty());
}

TEST_F(FileCommandsTest, LoadProfileSelectsItsConfigurationThenAppliesIt) {
  CMainFrame& f = showFrame();
  left->readsProfiles = true;
  const std::filesystem::path path = folder / "choice.tv2";
  writeBytes(path, "first line\r\n[TV2 Profile]1 2 1 15 4294967295 4294967295\r\n"
                   "[TV2 Profile]0 1 3 4294967295 4294967295 4294967295\r\n");
  prompts.files = {path.string()};
  log.clear();
  f.runCommand(kCmdLoadProfile);
  ASSERT_EQ(prompts.asked.size(), 1u);
  EXPECT_EQ(prompts.asked[0], "open *.tv2 TV2 File (*.tv2)|*.tv2|All Files (*.*)|*.*||");
  ASSERT_EQ(log.size(), 6u);
  EXPECT_EQ(log[0].message, UM_LOAD_PROFILE);
  EXPECT_EQ(log[1].message, UM_LOAD_PROFILE);
  EXPECT_EQ(log[2].message, UM_SELECT_CONFIG);
  EXPECT_EQ(log[2].pane, "left");
  EXPECT_EQ(log[2].wParam, 1u);
  EXPECT_EQ(log[2].lParam, 0);
  EXPECT_EQ(log[3].message, UM_SELECT_CONFIG);
  EXPECT_EQ(log[4].message, UM_APPLY_PROFILE);
  EXPECT_EQ(log[5].message, UM_APPLY_PROFILE);
  EXPECT_EQ(log[4].wParam, log[5].wParam);
  EXPECT_NE(log[4].wParam, 0u);
}

TEST_F(FileCommandsTest, ProfilesThatNameNoMetricOrCannotBeReadChangeNothing) {
  CMainFrame& f = showFrame();
  left->readsProfiles = true;
  const std::filesystem::path empty = folder / "empty.tv2";
  const std::filesystem::path zero = folder / "zero.tv2";
  writeBytes(empty, "");
  writeBytes(zero, "[TV2 Profile]1 0 1 15 4294967295 4294967295\r\n");
  for (const std::filesystem::path& path : {empty, zero, folder / "missing.tv2", folder}) {
    prompts.files = {path.string()};
    log.clear();
    f.runCommand(kCmdLoadProfile);
    EXPECT_TRUE(receivers(UM_SELECT_CONFIG).empty()) << path;
    EXPECT_TRUE(receivers(UM_APPLY_PROFILE).empty()) << path;
  }
  log.clear();
  f.runCommand(kCmdLoadProfile);  // cancelled
  EXPECT_TRUE(log.empty());
}

TEST_F(FileCommandsTest, SaveReportWritesTheDebugReport) {
  auto* package = new CProcessor_2;
  package->name = "Simulated Processor";
  package->tdp = 95;
  app->processors.Append(package);
  CMainFrame& f = showFrame();
  const std::filesystem::path path = folder / "report.txt";
  prompts.files = {path.string()};
  f.runCommand(kCmdSaveReport);
  ASSERT_EQ(prompts.asked.size(), 1u);
  EXPECT_EQ(prompts.asked[0], "save tv2报告.txt TXT File (*.txt)|*.txt|All Files (*.*)|*.*||");
  const std::string report = bytesOf(path);
  EXPECT_EQ(report.rfind("Processor = Simulated Processor\r\n", 0), 0u) << report;
  EXPECT_NE(report.find("TDP = 95 W\r\n"), std::string::npos) << report;
  EXPECT_EQ(report.find("\r\r"), std::string::npos);

  // A folder that does not exist: nothing is written, nothing reported.
  prompts.files = {(folder / "missing" / "report.txt").string()};
  f.runCommand(kCmdSaveReport);
  EXPECT_FALSE(std::filesystem::exists(folder / "missing"));
  EXPECT_TRUE(prompts.boxes.empty());
}

TEST(QtPromptsTest, FiltersBecomeQtNameFilters) {
  EXPECT_EQ(QtPrompts::qtFilter(FileCommands::kProfileFilter), "TV2 File (*.tv2);;All Files (*.*)");
  EXPECT_EQ(QtPrompts::qtFilter(FileCommands::kReportFilter), "TXT File (*.txt);;All Files (*.*)");
  EXPECT_EQ(QtPrompts::qtFilter("Pictures|*.png;*.jpg||"), "Pictures (*.png *.jpg)");
  EXPECT_EQ(QtPrompts::qtFilter(""), "");
}

}  // namespace
}  // namespace tv2::testing
