// The cost of one display tick of the whole window: the sample clock, the
// derived pass (every third tick), the timer message to both views (labels,
// grid scroll) and the repaint of every visible graph, at 1920 x 1080 with
// the four slots on the left and 32 per-thread graphs on the right. The
// program runs on the simulated two-package Sandy Bridge server widened to
// 16 cores (32 logical processors) per package; its samplers are held and
// the histories filled beforehand, so every graph draws a full history. Only
// the user-interface thread's work is measured.

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QtGlobal>

#include <filesystem>
#include <memory>
#include <string>
#include <unistd.h>

#include "app/CTarvelle2App.h"
#include "counters/model/SampleClock.h"
#include "cpu/ProcessorPin.h"
#include "frame/CMainFrame.h"
#include "frame/Prompts.h"
#include "frame/QtAppShell.h"
#include "platform/sim/SimMachine.h"
#include "platform/sim/SimPlatform.h"
#include "ui/CGraphControl.h"
#include "ui/WindowMessages.h"

namespace tv2 {
namespace {

void ensureApplication() {
  if (QApplication::instance() != nullptr) return;
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  static int argc = 1;
  static char name[] = "tv2_benchmarks";
  static char* argv[] = {name, nullptr};
  new QApplication(argc, argv);
}

// No dialog is ever shown: the in-use question is answered NO.
class SilentPrompts : public Prompts {
 public:
  int messageBox(const std::string&, const std::string&, uint32_t) override { return kIdNo; }
  bool saveFileName(QWidget*, const std::string&, const std::string&, std::string*) override { return false; }
  bool openFileName(QWidget*, const std::string&, const std::string&, std::string*) override { return false; }
};

// The window program on a simulated machine with a manual clock, paused by
// its own command so that the benchmark drives samplers and ticks.
class WindowOnSimulatedMachine {
 public:
  explicit WindowOnSimulatedMachine(const sim::SimMachineConfig& config)
      : m_folder(std::filesystem::temp_directory_path() / ("tv2-frame-bench-" + std::to_string(::getpid()))) {
    std::filesystem::create_directories(m_folder);
    SampleClock::reset();
    m_machine = std::make_shared<sim::SimMachine>(config);
    m_machine->useManualClock();
    m_machine->advanceMs(1000);
    m_platform = std::make_unique<sim::SimPlatform>(m_machine);
    m_platform->setProgramPath((m_folder / "tarvelle2").string());
    m_shell = std::make_unique<QtAppShell>(m_prompts);
    m_app = std::make_unique<CTarvelle2App>(*m_platform, *m_shell);
    m_started = m_app->InitInstance() && m_shell->mainFrame() != nullptr;
    if (m_started) m_shell->mainFrame()->runCommand(kCmdPause);
  }
  ~WindowOnSimulatedMachine() {
    if (m_started) {
      m_shell->destroyMainFrame();
      m_app->ExitInstance();
    }
    m_app.reset();
    m_shell.reset();
    std::filesystem::remove_all(m_folder);
    SampleClock::reset();
  }

  bool started() const { return m_started; }
  CMainFrame& frame() { return *m_shell->mainFrame(); }
  CTarvelle2App& app() { return *m_app; }

  // Samplers and ticks over simulated time, as the running program has them.
  void sample(uint32_t milliseconds) {
    for (uint32_t elapsed = 0; elapsed < milliseconds; elapsed += 100) {
      // A load that changes every second, different on every processor.
      if (m_clock % 1000 == 0) {
        for (int cpu = 0; cpu < m_machine->logicalProcessorCount(); ++cpu) {
          m_machine->setLoad(cpu, 0.2 + 0.15 * ((cpu + m_clock / 1000 * 3) % 5));
        }
      }
      m_machine->advanceMs(100);
      m_clock += 100;
      if (m_clock % 300 == 0) {
        for (CProcessor_2* package : m_app->processors) {
          for (LogicalProcessorRecord& record : package->threads) {
            ProcessorPin pin(m_platform->processors(), m_app->groups.groupMode, record);
            if (pin.pinned()) m_app->engine().counterPass(record, *package);
          }
        }
      }
      if (m_clock % 500 == 0) {
        for (int32_t g = 0; g < m_app->groups.groupCount; ++g) m_app->engine().usagePass(g);
      }
      m_app->engine().tick();
    }
  }

 private:
  std::filesystem::path m_folder;
  std::shared_ptr<sim::SimMachine> m_machine;
  std::unique_ptr<sim::SimPlatform> m_platform;
  SilentPrompts m_prompts;
  std::unique_ptr<QtAppShell> m_shell;
  std::unique_ptr<CTarvelle2App> m_app;
  bool m_started = false;
  uint32_t m_clock = 0;
};

void BM_DisplayTickWholeWindow(benchmark::State& state) {
  ensureApplication();
  sim::SimMachineConfig config = *sim::SimMachine::preset("intel-snb-2p");
  config.model.coresPerPackage = 16;  // 32 logical processors per package
  WindowOnSimulatedMachine program(config);
  if (!program.started()) {
    state.SkipWithError("the program did not start");
    return;
  }
  CMainFrame& frame = program.frame();
  frame.resize(1920, 1080);
  frame.show();
  // Full histories: 512 samples 300 ms apart.
  program.sample(160000);
  QCoreApplication::processEvents();

  int visible = 0;
  for (const CGraphControl* graph : frame.findChildren<CGraphControl*>()) {
    visible += graph->isVisible() && graph->source != nullptr ? 1 : 0;
  }
  const bool repaint = state.range(0) != 0;
  for (auto _ : state) {
    program.app().engine().tick();
    // The repaints the tick asked for, as the event loop runs them.
    if (repaint) QCoreApplication::processEvents();
  }
  state.counters["graphs"] = visible;
}
// Argument 1: the whole tick with its repaints; 0: without the repaints (the
// clock, the derived pass and the views' message handling, which brings every
// graph's kept image up to date and asks Qt to scroll and repaint its columns,
// but not Qt's repaint and flush).
BENCHMARK(BM_DisplayTickWholeWindow)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->MinTime(3.0);

}  // namespace
}  // namespace tv2
