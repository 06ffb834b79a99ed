// The report the window's command saves is the one
// `tarvelle2 --simulate PRESET --report` writes. Slow: it starts the program
// once per preset, and each start waits out the platform timer checks in
// real time.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "tests/frame/SimFrameHarness.h"

namespace tv2::testing {
namespace {

// The window's "保存DBG报告" and the window-less --report describe the same
// machine identically, byte for byte, on every simulated preset.
TEST(ReportEqualityTest, WindowReportEqualsTheHeadlessReportOnEveryPreset) {
  for (const std::string& preset : sim::SimMachine::presetNames()) {
    SCOPED_TRACE(preset);
    SimFrameHarness h(preset);
    ASSERT_TRUE(h.start());
    const std::filesystem::path windowReport = h.folder / "window.txt";
    const std::filesystem::path headlessReport = h.folder / "headless.txt";
    h.prompts.files = {windowReport.string()};
    h.frame()->runCommand(kCmdSaveReport);

    const std::string command = "XDG_CONFIG_HOME='" + (h.folder / "config").string() + "' " + std::string(TV2_PROGRAM) + " --simulate " + preset + " --report '" +
                                headlessReport.string() + "' 2>/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    const std::string expected = bytesOf(headlessReport);
    EXPECT_FALSE(expected.empty());
    EXPECT_EQ(bytesOf(windowReport), expected);
  }
}

}  // namespace
}  // namespace tv2::testing
