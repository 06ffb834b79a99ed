#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <unistd.h>

#include "app/CTarvelle2App.h"
#include "counters/model/SampleClock.h"
#include "platform/sim/SimMachine.h"
#include "platform/sim/SimPlatform.h"
#include "tests/testing/TextBytes.h"

namespace tv2 {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

class AppTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SampleClock::reset();
    folder = std::filesystem::temp_directory_path() /
             ("tv2-app-" + std::to_string(::getpid()) + "-" +
              ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(folder);
    auto config = sim::SimMachine::preset("nehalem");
    ASSERT_TRUE(config.has_value());
    machine = std::make_shared<sim::SimMachine>(*config);
    platform = std::make_unique<sim::SimPlatform>(machine);
    platform->setProgramPath((folder / "tarvelle2").string());
  }
  void TearDown() override {
    std::filesystem::remove_all(folder);
    SampleClock::reset();
  }

  // Waits until pred holds or the time is up.
  template <typename Pred>
  bool waitFor(Pred pred, milliseconds limit) {
    auto end = steady_clock::now() + limit;
    while (steady_clock::now() < end) {
      if (pred()) return true;
      std::this_thread::sleep_for(milliseconds(20));
    }
    return pred();
  }

  std::filesystem::path folder;
  std::shared_ptr<sim::SimMachine> machine;
  std::unique_ptr<sim::SimPlatform> platform;
  AppShell shell;
};

TEST_F(AppTest, StartsOneSamplerPerProcessorAndGroupAndSamplesUsage) {
  machine->setLoadAll(0.5, 0.5);
  CTarvelle2App app(*platform, shell);
  ASSERT_TRUE(app.InitInstance());
  EXPECT_EQ(app.programFolder, folder.string());
  EXPECT_EQ(app.processors.count, 1);
  EXPECT_EQ(app.groups.groupCount, 1);
  EXPECT_EQ(app.engine().counterThreadCount(), 8);
  EXPECT_EQ(app.engine().usageThreadCount(), 1);
  // Each counter sampler is bound to its own processor, the usage sampler to its group.
  for (int i = 0; i < 8; ++i) {
    ASSERT_NE(app.engine().counterThread(i), nullptr);
    EXPECT_EQ(app.engine().counterThread(i)->binding().mask, uint64_t{1} << i);
  }
  EXPECT_EQ(app.engine().usageThread(0)->binding().mask, 0xFFu);

  CProcessor_2* package = app.SelectedProcessor();
  ASSERT_NE(package, nullptr);
  CCounter* user = package->threads[0].userTime;
  ASSERT_NE(user, nullptr);
  // The usage sampler runs every 500 ms: the second sample makes the first point.
  EXPECT_TRUE(waitFor([&] { return user->history->count >= 1; }, milliseconds(3000)));
  EXPECT_EQ(app.ExitInstance(), 0);
  EXPECT_EQ(app.processors.count, 0);
}

TEST_F(AppTest, SecondCopyEndsAtOnce) {
  CTarvelle2App first(*platform, shell);
  ASSERT_TRUE(first.InitInstance());
  CTarvelle2App second(*platform, shell);
  EXPECT_FALSE(second.InitInstance());
  EXPECT_EQ(second.processors.count, 0);  // nothing was started
  first.ExitInstance();
  // Once the first copy is gone a new one starts.
  CTarvelle2App third(*platform, shell);
  EXPECT_TRUE(third.InitInstance());
  third.ExitInstance();
}

TEST_F(AppTest, PauseHoldsClockAndSamplesClearEmptiesAndShutdownIsPrompt) {
  CTarvelle2App app(*platform, shell);
  ASSERT_TRUE(app.InitInstance());
  CProcessor_2* package = app.SelectedProcessor();
  ASSERT_NE(package, nullptr);
  CCounter* idle = package->threads[1].idleTime;
  for (int i = 0; i < 5; ++i) app.OnTimerTick();
  ASSERT_TRUE(waitFor([&] { return idle->history->count >= 1; }, milliseconds(3000)));

  app.PauseSampling();
  EXPECT_FALSE(app.samplingRuns());
  uint32_t clockAtPause = SampleClock::now();
  app.OnTimerTick();
  EXPECT_EQ(SampleClock::now(), clockAtPause);

  app.ClearHistories(*package);
  EXPECT_EQ(idle->history->count, 0);
  EXPECT_EQ(idle->history->writePosition, -1);
  // Held samplers record nothing while paused.
  std::this_thread::sleep_for(milliseconds(1100));
  EXPECT_EQ(idle->history->count, 0);

  app.ResumeSampling();
  app.OnTimerTick();
  EXPECT_EQ(SampleClock::now(), clockAtPause + 100);
  app.PauseSampling();

  // Shutting down while paused still ends every thread, without waiting out
  // a whole sampling period.
  auto start = steady_clock::now();
  app.ExitInstance();
  EXPECT_LT(steady_clock::now() - start, milliseconds(500));
}

TEST_F(AppTest, MissingProcessorTimesLeaveUsageEmpty) {
  platform->setProcessorTimesAvailable(false);
  CTarvelle2App app(*platform, shell);
  ASSERT_TRUE(app.InitInstance());
  EXPECT_EQ(app.queryProcessorTimes, nullptr);
  std::this_thread::sleep_for(milliseconds(1100));
  EXPECT_EQ(app.SelectedProcessor()->threads[0].idleTime->history->count, 0);
  app.ExitInstance();
}

void writeBytes(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

using tv2::testing::utf16le;

TEST_F(AppTest, StartupReadsTheUpdateSettingFromTheProgramFolder) {
  writeBytes(folder / "Tarvelle2.ini", "\xFF\xFE" + utf16le("[Tarvelle2]\r\nUPDATES=0\r\n"));
  CTarvelle2App app(*platform, shell);
  ASSERT_TRUE(app.InitInstance());
  EXPECT_EQ(app.SettingsPath(), (folder / "Tarvelle2.ini").string());
  EXPECT_EQ(app.checkUpdates, 0);
  app.ExitInstance();
}

TEST_F(AppTest, AProgramFolderTheUserMayNotWriteKeepsTheSettingsInTheUsersFolder) {
  // Tests may run as root, where permissions block nothing: the platform
  // gives the answer.
  auto& files = static_cast<sim::SimFileService&>(platform->files());
  files.setFolderWritable(false);
  const auto userFolder = folder / "home" / ".config" / "tarvelle2";
  files.setUserConfigFolder(userFolder.string());
  // An administrator's file beside the program holds while the user has none.
  writeBytes(folder / "Tarvelle2.ini", "\xFF\xFE" + utf16le("[Tarvelle2]\r\nUPDATES=0\r\n"));
  {
    CTarvelle2App app(*platform, shell);
    ASSERT_TRUE(app.InitInstance());
    EXPECT_EQ(app.SettingsPath(), (userFolder / "Tarvelle2.ini").string());
    EXPECT_EQ(app.SettingsReadPath(), (folder / "Tarvelle2.ini").string());
    EXPECT_EQ(app.checkUpdates, 0);
    EXPECT_TRUE(std::filesystem::is_directory(userFolder));
    EXPECT_EQ(std::filesystem::status(userFolder).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_all);
    app.ExitInstance();
  }
  // Once the user has a file of their own, it alone counts.
  writeBytes(userFolder / "Tarvelle2.ini", "\xFF\xFE" + utf16le("[Tarvelle2]\r\nUPDATES=1\r\n"));
  CTarvelle2App app(*platform, shell);
  ASSERT_TRUE(app.InitInstance());
  EXPECT_EQ(app.SettingsReadPath(), (userFolder / "Tarvelle2.ini").string());
  EXPECT_EQ(app.checkUpdates, 1);
  app.ExitInstance();
}

TEST_F(AppTest, WithoutAUserFolderTheProgramsFileIsReadButNothingWritten) {
  auto& files = static_cast<sim::SimFileService&>(platform->files());
  files.setFolderWritable(false);
  files.setUserConfigFolder("/proc/tv2-cannot-exist");
  writeBytes(folder / "Tarvelle2.ini", "\xFF\xFE" + utf16le("[Tarvelle2]\r\nUPDATES=0\r\n"));
  CTarvelle2App app(*platform, shell);
  ASSERT_TRUE(app.InitInstance());
  EXPECT_EQ(app.SettingsPath(), "");
  EXPECT_EQ(app.SettingsReadPath(), (folder / "Tarvelle2.ini").string());
  EXPECT_EQ(app.checkUpdates, 0);
  app.ExitInstance();
}

// An installed program never keeps settings in its own folder, even where
// it could write there (root).
TEST_F(AppTest, AnInstalledProgramKeepsSettingsInTheUsersFolderEvenWhenItsOwnIsWritable) {
  auto& files = static_cast<sim::SimFileService&>(platform->files());
  files.setFolderWritable(true);
  const auto userFolder = folder / "config";
  files.setUserConfigFolder(userFolder.string());
  for (const char* program : {"/usr/bin/tarvelle2", "/opt/tarvelle2/bin/tarvelle2", "/usr/lib/tarvelle2/tarvelle2"}) {
    SCOPED_TRACE(program);
    platform->setProgramPath(program);
    CTarvelle2App app(*platform, shell);
    ASSERT_TRUE(app.InitInstance());
    EXPECT_EQ(app.SettingsPath(), (userFolder / "Tarvelle2.ini").string());
    app.ExitInstance();
  }
  for (const char* notInstalled : {"/usr2", "/optical", "/home/u/usr", "/srv/opt"}) {
    EXPECT_FALSE(CTarvelle2App::isInstalledFolder(notInstalled)) << notInstalled;
  }
  EXPECT_TRUE(CTarvelle2App::isInstalledFolder("/usr"));
  EXPECT_TRUE(CTarvelle2App::isInstalledFolder("/opt/x"));
}

}  // namespace
}  // namespace tv2
