#include "app/CTarvelle2App.h"

#include "app/TextFileReader.h"
#include "counters/MetricCatalogue.h"
#include "cpu/ProcessorDiscovery.h"

namespace tv2 {

CTarvelle2App::CTarvelle2App(Platform& platform, AppShell& shell)
    : m_platform(platform), m_shell(shell), m_engine(platform) {}

CTarvelle2App::~CTarvelle2App() {
  // ExitInstance normally ran; this only makes sure no sampler outlives the
  // records it reads.
  m_engine.stopAndJoin();
  processors.DeleteAll();
}

bool CTarvelle2App::InitInstance() {
  // A second copy ends silently. The lock dies with its process, so a copy
  // that was killed never blocks the next start.
  singleInstanceMutex = m_platform.acquireInstanceLock(kInstanceName);
  if (!singleInstanceMutex) return false;

  loadedProfile.reset();
  fileVersion = FileVersion{};
  checkUpdates = 1;

  FileService& files = m_platform.files();
  std::string path = files.programPath();
  FileVersion version;
  if (!path.empty() && files.programVersion(&version)) {
    fileVersion = version;
    size_t slash = path.find_last_of('/');
    programFolder = slash == std::string::npos ? std::string() : path.substr(0, slash == 0 ? 1 : slash);
  } else {
    programFolder = files.currentDirectory();
  }
  if (!programFolder.empty()) files.setCurrentDirectory(programFolder);

  settingsFileName = "Tarvelle2.ini";
  configCount = 0;
  currentConfig = 0;
  configs = nullptr;
  cpuCountersUsable = 1;
  settingsFlags = kFlagRunning | kFlagFreeRatio;

  InitialiseMonitoring();

  powerEventSink = m_shell.setUpPowerEvents(*this) ? 1 : 0;
  m_shell.createSharedDrawingObjects(*this);
  readUpdateSetting();
  if (checkUpdates == 1 && m_shell.startupUpdateCheckEndsProgram(*this)) return false;
  m_shell.createMainFrame(*this);
  m_shell.applyStartupProfile(*this);
  return true;
}

bool CTarvelle2App::InitialiseMonitoring() {
  queryProcessorTimes = m_platform.processorTimes();
  m_engine.setProcessorTimes(queryProcessorTimes);

  // The driver client, its installation and the version check arrive with
  // the driver host; until then there is no client and every hardware step
  // below takes its no-driver branch.

  selectedProcessor = 0;
  DetectProcessors(m_platform.processors(), processors, groups);

  // Counter configurations come with the counter catalogue.

  uint32_t error = 0;
  if (driver && driver->Acquire(&error, kDriverWaitMs)) {
    // Capabilities, the ACPI scan and the in-use question run here once the
    // driver can reach the hardware.
    for (CProcessor_2* processor : processors) BuildCounterLists(*processor, nullptr);
    driver->Release();
  } else {
    for (CProcessor_2* processor : processors) BuildCounterLists(*processor, nullptr);
  }

  CreateSamplerThreads();
  ResumeSamplerThreads();
  return true;
}

void CTarvelle2App::BuildCounterLists(CProcessor_2& processor, const CCountersConfig* configuration) {
  std::unique_lock lock(processor.countersLock);
  processor.ClearCounters();
  if (configuration != nullptr) {
    AddFixedCounters(processor);
    AddEventCounters(processor, configuration);
    AddNorthbridgeCounters(processor);
  }
  AddPowerAndThermalCounters(processor);
  AddDerivedMetrics(processor);
}

void CTarvelle2App::CreateSamplerThreads() {
  m_engine.setSources(driver.get(), hpetTimer.get(), acpiTimer.get(), &processors, &groups);
  m_engine.createThreads();
}

void CTarvelle2App::ResumeSamplerThreads() { m_engine.resumeThreads(); }

void CTarvelle2App::SuspendSamplerThreads() { m_engine.suspendThreads(); }

void CTarvelle2App::PauseSampling() {
  if (!samplingRuns()) return;
  SuspendSamplerThreads();
  settingsFlags &= ~kFlagRunning;
}

void CTarvelle2App::ResumeSampling() {
  if (samplingRuns()) return;
  ResumeSamplerThreads();
  settingsFlags |= kFlagRunning;
}

void CTarvelle2App::readUpdateSetting() {
  if (!programFolder.empty()) m_platform.files().setCurrentDirectory(programFolder);
  std::string folder = programFolder.empty() || programFolder.back() == '/' ? programFolder : programFolder + "/";
  checkUpdates = readUpdatesSetting(folder + settingsFileName, checkUpdates);
}

int32_t readUpdatesSetting(const std::string& path, int32_t defaultValue) {
  TextFileReader reader;
  if (!reader.open(path)) return defaultValue;
  std::u16string line;
  if (!reader.readLine(line, 256) || !containsAscii(line, "[Tarvelle2]")) return defaultValue;
  int32_t result = defaultValue;
  while (reader.readLine(line, 256)) {
    int number = 0;
    if (containsAscii(line, "UPDATES=") && scanPrefixedInt(line, "UPDATES=", &number)) {
      result = number != 0 ? 1 : 0;
    }
  }
  return result;
}

void CTarvelle2App::shutDownMonitoring() {
  // Stop flag, wake paused samplers, join usage samplers then counter samplers.
  m_engine.stopAndJoin();

  uint32_t error = 0;
  if (cpuCountersUsable == 1 && driver && driver->Acquire(&error, kDriverWaitMs)) {
    // The counter registers are reset here once the event counters exist.
    driver->Release();
  }

  processors.DeleteAll();
  groups = ProcessorGroups{};

  if (driver) {
    driver->Release();
    driver->CloseDriverMutex();
    driver.reset();
  }
  acpiTimer.reset();
  hpetTimer.reset();
}

int CTarvelle2App::ExitInstance() {
  shutDownMonitoring();
  if (powerEventSink == 1) m_shell.tearDownPowerEvents(*this);
  singleInstanceMutex.reset();
  loadedProfile.reset();
  m_shell.deleteSharedDrawingObjects(*this);
  return 0;
}

}  // namespace tv2
