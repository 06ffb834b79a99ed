#include "app/CTarvelle2App.h"

#include "app/Configurations.h"
#include "app/CounterSetup.h"
#include "app/KernelCounterSetup.h"
#include "app/SettingsFile.h"
#include "counters/DerivedMetrics.h"
#include "cpu/ProcessorCapabilities.h"
#include "cpu/ProcessorDiscovery.h"
#include "hw/AcpiTableScanner.h"

#include <filesystem>
#include <system_error>

namespace tv2 {

namespace {

// Resource numbers of the driver images and the driver version start-up
// accepts (0x138).
constexpr int kDriverImageVxd = 106;
constexpr int kDriverImageX86 = 107;
constexpr int kDriverImageX64 = 108;
constexpr int kDriverImageIa64 = 109;
constexpr int32_t kDriverVersionExpected = 312;

std::string withSlash(const std::string& folder) {
  return folder.empty() || folder.back() == '/' ? folder : folder + "/";
}

}  // namespace

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
  chooseSettingsFolder();
  configCount = 0;
  currentConfig = 0;
  configs = nullptr;
  cpuCountersUsable = 1;
  countersNotice.clear();
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

  // The driver client with its image resources, installed from the user's
  // private temporary folder. Without it the monitor still runs: every
  // driver request fails and only usage is sampled.
  driver = std::make_unique<CKMDriver>(m_platform);
  driver->SetImageResourceIds(kDriverImageVxd, kDriverImageX86, kDriverImageX64, kDriverImageIa64);
  std::string tempFolder = m_platform.files().tempFolder();
  uint32_t driverError = 0;
  if (!driver->Initialize(tempFolder.c_str(), &driverError, 1)) {
    // The reason goes on its own line, so the first stays what it always was.
    std::string reason = m_platform.driverUnavailableReason();
    m_shell.messageBox(reason.empty() ? std::string("Error during driver initialization")
                                      : "Error during driver initialization\n" + reason,
                       "Error", kMbIconWarning);
  } else if (driver->Acquire(&driverError, kDriverWaitMs)) {
    int32_t version = -1;
    driver->GetDriverVersion(&version);
    if (version != kDriverVersionExpected) {
      // A driver of another version cannot be trusted with these requests.
      driver->Release();
      driver->Uninstall(1, 1);
      return false;
    }
    driver->Release();
  }

  selectedProcessor = 0;
  DetectProcessors(m_platform.processors(), processors, groups);

  // Processors the register tables do not list count through the kernel.
  kernelCounters = m_platform.kernelCounters();
  kernelInventory = kernelCounters != nullptr ? kernelCounters->inventory() : KernelCounterInventory{};
  ChooseCounterSources(processors, kernelCounters != nullptr ? &kernelInventory : nullptr);

  configs = CreateConfigurations(processors.At(selectedProcessor), &configCount, &kernelInventory);
  const CCountersConfig* current =
      configs && currentConfig >= 0 && currentConfig < configCount ? &configs[static_cast<size_t>(currentConfig)]
                                                                   : nullptr;

  uint32_t error = 0;
  const bool locked = driver && driver->Acquire(&error, kDriverWaitMs);
  if (locked) {
    ReadProcessorCapabilities(*driver, m_platform.processors(), groups.groupMode, processors);
    AcpiTableScanner(*driver, m_platform).ScanAcpiTables(&acpiTimer, &hpetTimer);
  }
  // Each register-backed package's counters are built with the current
  // configuration unless they are in use and the user declines to take them
  // over; a kernel-backed one always gets it: the kernel shares its counters
  // with other users itself, and no driver is needed.
  KernelOpenSummary opened;
  bool anyKernel = false;
  int32_t index = 0;
  for (CProcessor_2* processor : processors) {
    if (processor->kernelCounters) {
      anyKernel = true;
      BuildPackageCounters(*processor, buildContext(), current, &opened);
    } else {
      BuildCounterLists(*processor, locked ? StartupConfiguration(*this, m_shell, *processor, index) : nullptr);
    }
    ++index;
  }
  if (locked) driver->Release();
  if (anyKernel) {
    std::string blocked = KernelCountersNotice(kernelInventory, opened);
    if (!blocked.empty()) countersNotice += (countersNotice.empty() ? "" : "; ") + blocked;
  }
  if (!countersNotice.empty()) m_shell.notice(countersNotice);

  m_engine.setDerivedPass([](CProcessor_2& processor) { ComputeDerivedMetrics(processor); });
  CreateSamplerThreads();
  ResumeSamplerThreads();
  return true;
}

CounterBuildContext CTarvelle2App::buildContext() {
  return CounterBuildContext{driver.get(), &m_platform, groups.groupMode, kernelCounters, &kernelInventory};
}

void CTarvelle2App::BuildCounterLists(CProcessor_2& processor, const CCountersConfig* configuration) {
  BuildPackageCounters(processor, buildContext(), configuration);
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

void CTarvelle2App::chooseSettingsFolder() {
  // Beside the program when the user may write there and it is not an
  // installed copy; otherwise each user's settings live in that user's own
  // folder, and without one they are not written at all.
  FileService& files = m_platform.files();
  settingsFolder.clear();
  if (!programFolder.empty() && !isInstalledFolder(programFolder) && files.isFolderWritable(programFolder)) {
    settingsFolder = withSlash(programFolder);
    return;
  }
  const std::string userFolder = files.userConfigFolder();
  if (!userFolder.empty()) settingsFolder = withSlash(userFolder);
}

bool CTarvelle2App::isInstalledFolder(const std::string& folder) {
  for (const char* root : {"/usr", "/opt"}) {
    const std::string prefix(root);
    if (folder == prefix || folder.rfind(prefix + "/", 0) == 0) return true;
  }
  return false;
}

std::string CTarvelle2App::SettingsPath() const {
  return settingsFolder.empty() ? std::string() : settingsFolder + settingsFileName;
}

std::string CTarvelle2App::SettingsReadPath() const {
  const std::string written = SettingsPath();
  std::error_code error;
  if (!written.empty() && std::filesystem::exists(std::filesystem::symlink_status(written, error))) return written;
  if (programFolder.empty()) return written;
  return withSlash(programFolder) + settingsFileName;
}

void CTarvelle2App::readUpdateSetting() {
  if (!programFolder.empty()) m_platform.files().setCurrentDirectory(programFolder);
  checkUpdates = SettingsFile(SettingsReadPath()).readUpdates(checkUpdates);
}

void CTarvelle2App::shutDownMonitoring() {
  // Stop flag, wake paused samplers, join usage samplers then counter samplers.
  m_engine.stopAndJoin();

  uint32_t error = 0;
  // Counters the program used are cleared; those it was told to leave alone
  // (or could not read) are not touched, nor those the kernel programs for
  // a kernel-backed package (its groups close with their counters).
  if (driver && driver->Acquire(&error, kDriverWaitMs)) {
    for (CProcessor_2* processor : processors) {
      if (processor->countersWithheld || processor->kernelCounters) continue;
      ResetCounters(*driver, m_platform.processors(), groups.groupMode, *processor);
    }
    driver->Release();
  }

  processors.DeleteAll();
  groups = ProcessorGroups{};

  if (driver) {
    driver->Release();
    driver->Uninstall(1, 1);
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
  configs.reset();
  configCount = 0;
  m_shell.deleteSharedDrawingObjects(*this);
  return 0;
}

}  // namespace tv2
