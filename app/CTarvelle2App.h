#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "app/AppShell.h"
#include "app/CCountersConfig.h"
#include "app/CProfile.h"
#include "app/SamplingEngine.h"
#include "counters/CounterBuildContext.h"
#include "counters/model/CTList.h"
#include "cpu/CProcessor_2.h"
#include "cpu/ProcessorGroups.h"
#include "hw/CKMDriver.h"
#include "hw/CTimer.h"
#include "platform/InstanceLock.h"
#include "platform/Platform.h"

namespace tv2 {

class CCountersConfig;

// Settings flag bits (FLAGS).
inline constexpr uint32_t kFlagRunning = 1u << 0;
inline constexpr uint32_t kFlagSwapped = 1u << 1;
inline constexpr uint32_t kFlagFreeRatio = 1u << 2;

// The application object: owns the driver client, the processor records, the
// platform timers, the sampling engine and the start-up profile, brings the
// monitor up in a fixed order and takes it down again.
//
// Threads: every member is written by the user-interface thread; the sampler
// threads read the driver, the timers, the processors and the group table,
// which stay fixed between InitialiseMonitoring and the join in ExitInstance.
class CTarvelle2App {
 public:
  static constexpr const char* kInstanceName = "TARVELL2";
  static constexpr uint32_t kDriverWaitMs = 2000;

  CTarvelle2App(Platform& platform, AppShell& shell);
  ~CTarvelle2App();
  CTarvelle2App(const CTarvelle2App&) = delete;
  CTarvelle2App& operator=(const CTarvelle2App&) = delete;

  // False ends the program before any window exists (a second copy, a driver
  // of the wrong version, the start-up update check).
  bool InitInstance();
  int ExitInstance();
  bool InitialiseMonitoring();

  void CreateSamplerThreads();
  void ResumeSamplerThreads();
  void SuspendSamplerThreads();

  // Clears a package's counters and builds them again: event counters only
  // when a configuration is given, then power, temperature and the derived
  // metrics. The caller holds the driver lock when there is one.
  void BuildCounterLists(CProcessor_2& processor, const CCountersConfig* configuration);

  // The display tick (every 100 ms while sampling runs). A tick that arrives
  // while paused changes nothing: the sample clock stands still.
  void OnTimerTick() {
    if (samplingRuns()) m_engine.tick();
  }
  // Pause and resume the sampling (bit 0 of settingsFlags).
  void PauseSampling();
  void ResumeSampling();
  bool samplingRuns() const { return (settingsFlags & kFlagRunning) != 0; }
  // Forgets every sample of one package.
  void ClearHistories(CProcessor_2& processor) { m_engine.clearHistories(processor, !samplingRuns()); }

  // Full path the settings file (Tarvelle2.ini) is written to: in the
  // program's folder when the user may write there and the program is not
  // installed (a build tree, a copy in a folder the user owns), else in the
  // user's configuration folder; an installed program (under /usr or /opt)
  // never writes its own folder, root included. Empty when there is no
  // place to write. Decided once by InitInstance.
  std::string SettingsPath() const;
  // The file the settings are read from: the one SettingsPath names when it
  // exists, else the one beside the program (an administrator's defaults).
  std::string SettingsReadPath() const;
  // An installed program's folder: /usr or /opt, or below them.
  static bool isInstalledFolder(const std::string& folder);

  // The package at selectedProcessor, or null (also for a negative index,
  // which a hand-edited profile or a bad command could leave).
  CProcessor_2* SelectedProcessor() const {
    return selectedProcessor < 0 ? nullptr : processors.At(selectedProcessor);
  }

  Platform& platform() { return m_platform; }
  SamplingEngine& engine() { return m_engine; }

  int32_t cpuCountersUsable = 1;
  // Why some package's event counters are off, as one line; empty when all
  // are in use. Told once through the shell at start-up, shown by the window.
  std::string countersNotice;
  int32_t configCount = 0;
  int32_t currentConfig = 0;
  std::unique_ptr<CCountersConfig[]> configs;  // created after discovery, deleted at exit
  std::unique_ptr<CProfile> loadedProfile;
  ProcessorTimesService* queryProcessorTimes = nullptr;
  ProcessorGroups groups;
  std::unique_ptr<InstanceLock> singleInstanceMutex;
  int32_t powerEventSink = 0;
  uint32_t settingsFlags = kFlagRunning | kFlagFreeRatio;
  int32_t checkUpdates = 1;
  std::unique_ptr<CKMDriver> driver;
  // The kernel's counter service (owned by the platform; null where the
  // system has none) and what it offered at start-up; kernel-backed packages
  // build from these. Set by InitialiseMonitoring, then only read.
  KernelCounterService* kernelCounters = nullptr;
  KernelCounterInventory kernelInventory;
  CTList<CProcessor_2> processors;
  std::unique_ptr<CTimer> acpiTimer;
  std::unique_ptr<CTimer> hpetTimer;
  int32_t selectedProcessor = 0;
  std::string programFolder;
  std::string settingsFileName = "Tarvelle2.ini";
  std::string settingsFolder;  // with trailing '/'; empty before InitInstance
  FileVersion fileVersion;

 private:
  CounterBuildContext buildContext();
  void chooseSettingsFolder();
  void readUpdateSetting();
  void shutDownMonitoring();

  Platform& m_platform;
  AppShell& m_shell;
  SamplingEngine m_engine;
};

}  // namespace tv2
