// The monitor's entry point: reads the command line, picks the platform,
// brings the application up and then either opens the main window and runs
// its event loop until the window closes (its close box, Exit, or SIGTERM,
// SIGINT or SIGHUP), writes the debug report, or records the counters as CSV;
// in every case it shuts down in order.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "app/AppShell.h"
#include "app/CTarvelle2App.h"
#include "app/CommandLine.h"
#include "app/HeadlessRun.h"
#include "platform/linux/LinuxFileService.h"
#include "platform/linux/LinuxOutputFile.h"
#include "platform/linux/LinuxPlatform.h"
#include "platform/linux/StandardStreams.h"
#include "platform/linux/TerminationSignals.h"
#include "platform/sim/SimLoadSchedule.h"
#include "platform/sim/SimMachine.h"
#include "platform/sim/SimPlatform.h"
#include "serve/MetricsServer.h"

#if TV2_WITH_QT
#include <QApplication>
#include <QtGlobal>

#include "frame/CMainFrame.h"
#include "frame/QtAppShell.h"
#include "frame/QtPrompts.h"
#include "frame/SignalCloser.h"
#include "services/CAboutDlg.h"
#include "ui/ApplicationIcon.h"
#include "ui/CGraphControl.h"
#include "ui/QtSanitizerSuppressions.h"
#include "ui/SharedDrawingObjects.h"
#include "services/PowerEventWatcher.h"
#include "services/UpdateCheck.h"
#endif

namespace {

void fail(const std::string& message) {
  std::fprintf(stderr, "tarvelle2: %s (see --help)\n", message.c_str());
}

#if TV2_WITH_QT

// Qt ends the process when it finds no display; say why in one line instead.
bool displayAvailable() {
  return !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") || !qEnvironmentVariableIsEmpty("DISPLAY") ||
         !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

// The window program: start-up with real dialogs, the main window, its event
// loop until the window closes, then the orderly shutdown.
int runWindow(int& argc, char** argv, tv2::Platform& platform, bool simulated, const std::string& preset,
              tv2::TerminationSignals& termination, tv2::MetricsServer* server) {
  if (!displayAvailable()) {
    fail("no display to open the window on (DISPLAY is not set); --report and --record need none");
    return tv2::HeadlessRun::kFailed;
  }
  // Declared in the order they must go away in reverse: the application
  // object, then the shell with the window and fonts, then Qt.
  std::unique_ptr<QApplication> application;
  std::unique_ptr<tv2::PowerEventWatcher> watcher;  // needs the application, goes before it
  std::unique_ptr<tv2::SignalCloser> closer;
  tv2::QtPrompts prompts;
  tv2::QtAppShell shell(prompts);
  shell.setWindowTitle(preset.empty() ? std::string("Tarvelle2") : "Tarvelle2 \u2014 simulated " + preset);
  shell.mainFrameClosed = [] { QCoreApplication::exit(0); };
  shell.setGuiStarter([&] {
    application = std::make_unique<QApplication>(argc, argv);
    // Every window of the program, message boxes included, shows its icon.
    QApplication::setWindowIcon(tv2::applicationIcon());
    // Only the main window's close path ends the loop; a message box closed
    // during start-up must not.
    QApplication::setQuitOnLastWindowClosed(false);
    // A termination signal closes the window as its close box does; one that
    // came before this point is read at the first chance.
    closer = std::make_unique<tv2::SignalCloser>(
        termination.fd(), [&termination] { return termination.readPending(); },
        [&shell](int) { shell.requestClose(); });
    watcher = std::make_unique<tv2::PowerEventWatcher>();
  });
  shell.powerEventsSetUp = [&watcher](tv2::CTarvelle2App& app) { return watcher && watcher->setUp(app); };
  shell.powerEventsTearDown = [&watcher](tv2::CTarvelle2App&) {
    if (watcher) watcher->tearDown();
  };
  // A simulated machine is not this one: its runs (demonstrations, tests)
  // do not ask the network at start. The menu command still does.
  if (!simulated) {
    shell.startupUpdateCheck = [](tv2::CTarvelle2App& app) { return tv2::StartupUpdateCheckEndsProgram(app); };
  }
  shell.frameCreated = [&watcher](tv2::CMainFrame& frame) {
    if (watcher) watcher->setMainWindow(&frame, &frame);
    tv2::CMainFrame* owner = &frame;
    frame.onCheckUpdates = [owner] { tv2::CheckForUpdate(owner->app(), owner, true); };
    frame.onAbout = [owner] { tv2::ShowAboutBox(owner->app().fileVersion, owner->drawingObjects().font17Bold, owner); };
  };

  // For scripts/measure-cost.sh: when the first graph point reaches the
  // screen, measured from here and as wall-clock time for the script.
  if (std::getenv("TARVELLE2_TRACE_STARTUP") != nullptr) {
    const auto started = std::chrono::steady_clock::now();
    tv2::CGraphControl::setFirstPointObserver([started] {
      const auto now = std::chrono::steady_clock::now();
      const auto epoch = std::chrono::system_clock::now().time_since_epoch();
      std::fprintf(stderr, "tarvelle2: first point drawn %lld ms after start-up began, at %lld ms since the epoch\n",
                   static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(now - started).count()),
                   static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(epoch).count()));
    });
  }
  tv2::CTarvelle2App app(platform, shell);
  if (!app.InitInstance()) {
    // A second copy (before anything of Qt started), a driver of another
    // version or the update check: what start-up built is taken down again.
    if (server != nullptr) server->stop();
    shell.destroyMainFrame();
    app.ExitInstance();
    return 0;
  }
  if (server != nullptr) server->publish(app.processors);
  tv2::CMainFrame* frame = shell.mainFrame();
  // A signal that came during start-up closes the window now that it exists.
  if (frame != nullptr && shell.closeRequested()) frame->close();
  if (frame != nullptr && !frame->closed()) QApplication::exec();
  // No scrape reads the counters once the application takes them down.
  if (server != nullptr) server->stop();
  // The window and its views go before the counters they show.
  shell.destroyMainFrame();
  return app.ExitInstance();
}

#endif

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> presets = tv2::sim::SimMachine::presetNames();
  const std::vector<std::string> args(argv + 1, argv + argc);
  const tv2::CommandLineResult parsed = tv2::CommandLine::parse(args, presets);
  if (!parsed.ok) {
    fail(parsed.error);
    return tv2::HeadlessRun::kBadInput;
  }
  const tv2::CommandLineOptions& options = parsed.options;
  if (options.mode == tv2::RunMode::kHelp) {
    std::fputs(tv2::CommandLine::usage(presets).c_str(), stdout);
    return 0;
  }

  // Before any thread exists, so that every thread inherits the blocked mask.
  tv2::TerminationSignals termination;

  std::unique_ptr<tv2::Platform> platform;
  if (options.preset.empty()) {
    platform = std::make_unique<tv2::LinuxPlatform>();
  } else {
    auto machine = std::make_shared<tv2::sim::SimMachine>(*tv2::sim::SimMachine::preset(options.preset));
    if (std::string error = tv2::CommandLine::checkLoadFits(options.load, machine->logicalProcessorCount());
        !error.empty()) {
      fail(error);
      return tv2::HeadlessRun::kBadInput;
    }
    // A simulated machine idles unless told otherwise; the window and the
    // headless modes get the same load, which the machine applies itself.
    machine->runLoadSchedule(tv2::sim::SimLoadSchedule::fixed(options.load));
    auto simPlatform = std::make_unique<tv2::sim::SimPlatform>(std::move(machine));
    // Each preset keeps its settings in the user's folder, apart from this
    // machine's, so that a simulated run remembers them from one start to
    // the next. Without a user folder they go to the simulator's temporary
    // one, which goes at exit.
    const std::string userFolder = tv2::LinuxFileService().userConfigFolder();
    if (!userFolder.empty()) simPlatform->setUserConfigFolder(userFolder + "simulated/" + options.preset + "/");
    platform = std::move(simPlatform);
  }

  // Bound before anything starts, so that a port in use ends the program
  // at once; the counters are published once start-up built them.
  tv2::MetricsServer server;
  if (options.serve) {
    std::string error;
    if (!server.start(options.serveAddress, options.servePort, &error)) {
      std::fprintf(stderr, "tarvelle2: %s\n", error.c_str());
      return tv2::HeadlessRun::kFailed;
    }
    std::fprintf(stderr, "tarvelle2: serving the counters at http://%s/metrics\n", server.endpoint().c_str());
  }
  // --serve alone runs without a window.
  const bool window = options.mode == tv2::RunMode::kMonitor && (!options.serve || options.window);

#if TV2_WITH_QT
  if (window) {
    return runWindow(argc, argv, *platform, !options.preset.empty(), options.preset, termination,
                     options.serve ? &server : nullptr);
  }
#endif

  // Opened before start-up, which moves into the program's folder.
  tv2::LinuxOutputFile output;
  const std::string target = tv2::HeadlessRun::targetName(options.outputPath);
  if (options.mode != tv2::RunMode::kMonitor && !output.open(options.outputPath)) {
    fail("cannot create " + target + ": " + output.errorText());
    return tv2::HeadlessRun::kBadInput;
  }

  tv2::AppShell shell;
  tv2::CTarvelle2App app(*platform, shell);
  if (!app.InitInstance()) {
    server.stop();
    if (window) return 0;
    // Without a window there is no update check: only the single-instance
    // lock ends start-up here.
    std::fprintf(stderr, "tarvelle2: another copy of Tarvelle2 is running on this machine; only one may run at a time\n");
    return tv2::HeadlessRun::kFailed;
  }

  if (options.serve) server.publish(app.processors);
  int status = 0;
  std::string error;
  if (options.mode == tv2::RunMode::kReport) {
    status = tv2::HeadlessRun::report(app, output, &error);
    if (!error.empty()) std::fprintf(stderr, "tarvelle2: cannot write the report to %s: %s\n", target.c_str(), error.c_str());
  } else if (options.mode == tv2::RunMode::kRecord) {
    const bool terminal = tv2::standardErrorIsTerminal();
    auto progress = [terminal](int32_t elapsed, int32_t total, int64_t rows) {
      if (!terminal) return;
      std::fprintf(stderr, "\rrecording: %d/%d s, %lld rows", elapsed, total, static_cast<long long>(rows));
      std::fflush(stderr);
    };
    status = tv2::HeadlessRun::record(
        app, output, options, [&termination](uint32_t ms) { return termination.wait(ms); }, progress, &error);
    if (terminal) std::fputs("\n", stderr);
    if (!error.empty()) std::fprintf(stderr, "tarvelle2: %s\n", error.c_str());
  } else {
    while (!termination.wait(tv2::kTickMs)) app.OnTimerTick();
  }
  server.stop();
  const int exitStatus = app.ExitInstance();
  if (!output.close() && status == 0) {
    std::fprintf(stderr, "tarvelle2: cannot write %s: %s\n", target.c_str(), output.errorText().c_str());
    status = tv2::HeadlessRun::kFailed;
  }
  return status != 0 ? status : exitStatus;
}
