// Start-up and shutdown of the driver by the application object: the
// message on a failed initialisation, the version check, the uninstall at
// exit, and the headless message box.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/CTarvelle2App.h"
#include "counters/model/SampleClock.h"
#include "platform/ErrorCodes.h"
#include "platform/sim/SimMachine.h"
#include "platform/sim/SimPlatform.h"

namespace tv2::test {
namespace {

struct Message {
  std::string text;
  std::string caption;
  uint32_t flags;
};

class RecordingShell : public AppShell {
 public:
  int messageBox(const std::string& text, const std::string& caption, uint32_t flags) override {
    messages.push_back(Message{text, caption, flags});
    return kIdOk;
  }
  std::vector<Message> messages;
};

class DriverStartupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SampleClock::reset();
    machine = std::make_shared<sim::SimMachine>(*sim::SimMachine::preset("intel-snb"));
    platform = std::make_unique<sim::SimPlatform>(machine);
    platform->setProgramPath("/sim/opt/tarvelle2");
    platform->setTempFolder("/sim/tmp/");
  }
  void TearDown() override { SampleClock::reset(); }

  sim::SimServiceControl& services() { return platform->system().services(); }

  std::shared_ptr<sim::SimMachine> machine;
  std::unique_ptr<sim::SimPlatform> platform;
  RecordingShell shell;
};

TEST_F(DriverStartupTest, InstallsFromTheTempFolderAndRemovesTheDriverAtExit) {
  CTarvelle2App app(*platform, shell);
  ASSERT_TRUE(app.InitInstance());
  EXPECT_TRUE(shell.messages.empty());
  ASSERT_NE(app.driver, nullptr);
  EXPECT_EQ(app.driver->imageResourceId(0), 106);
  EXPECT_EQ(app.driver->imageResourceId(3), 109);
  EXPECT_EQ(app.driver->baseFolder(), "/sim/tmp/");
  EXPECT_EQ(services().serviceState("kzor138"), kServiceRunning);
  EXPECT_EQ(app.processors.count, 1);
  EXPECT_EQ(app.ExitInstance(), 0);
  EXPECT_EQ(app.driver, nullptr);
  EXPECT_FALSE(services().serviceExists("kzor138"));
}

TEST_F(DriverStartupTest, AFailedInitialisationIsReportedAndUsageStillRuns) {
  platform->system().setServiceManagerError(kErrorAccessDenied);
  CTarvelle2App app(*platform, shell);
  ASSERT_TRUE(app.InitInstance());
  ASSERT_EQ(shell.messages.size(), 1u);
  EXPECT_EQ(shell.messages[0].text, "Error during driver initialization");
  EXPECT_EQ(shell.messages[0].caption, "Error");
  EXPECT_EQ(shell.messages[0].flags, kMbIconWarning);
  // The processors are there, and so are the samplers; only the driver is not.
  EXPECT_EQ(app.processors.count, 1);
  EXPECT_EQ(app.engine().usageThreadCount(), 1);
  ASSERT_NE(app.driver, nullptr);
  EXPECT_FALSE(app.driver->hasDriverMutex());
  EXPECT_EQ(app.ExitInstance(), 0);
}

TEST_F(DriverStartupTest, ADriverOfAnotherVersionIsRemovedAndNothingIsDiscovered) {
  services().setHostVersion(0x137);
  CTarvelle2App app(*platform, shell);
  // The window still opens, with no processor.
  ASSERT_TRUE(app.InitInstance());
  EXPECT_TRUE(shell.messages.empty());
  EXPECT_EQ(app.processors.count, 0);
  EXPECT_EQ(app.engine().counterThreadCount(), 0);
  EXPECT_EQ(app.engine().usageThreadCount(), 0);
  EXPECT_FALSE(services().serviceExists("kzor138"));
  EXPECT_EQ(app.ExitInstance(), 0);
}

TEST(HeadlessMessageBox, WritesOneLineAndAnswersAsAReaderWould) {
  AppShell shell;
  ::testing::internal::CaptureStderr();
  int plain = shell.messageBox("Error during driver initialization", "Error", kMbIconWarning);
  int question = shell.messageBox("Use them anyway?", "Tarvelle2 Warning", kMbIconWarning | kMbYesNo);
  std::string written = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(plain, kIdOk);
  EXPECT_EQ(question, kIdNo);
  EXPECT_EQ(written,
            "Error: Error during driver initialization\n"
            "Tarvelle2 Warning: Use them anyway?\n");
}

}  // namespace
}  // namespace tv2::test
