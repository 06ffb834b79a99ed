#include "frame/QtAppShell.h"

#include <QApplication>
#include <QWidget>

#include "app/CTarvelle2App.h"
#include "app/Configurations.h"
#include "frame/CMainFrame.h"
#include "frame/Prompts.h"
#include "ui/SharedDrawingObjects.h"
#include "ui/WindowMessages.h"

namespace tv2 {

namespace {

// Profile application speaks to the main window: each graph it assigns is a
// UM_ASSIGN_GRAPH the frame relays to the panes.
class FrameGraphAssignments : public ConfigurationViews {
 public:
  explicit FrameGraphAssignments(CMainFrame& frame) : m_frame(frame) {}
  void assignGraph(int32_t counterIndex, int32_t slot) override {
    m_frame.sendMessage(UM_ASSIGN_GRAPH, static_cast<uintptr_t>(static_cast<uint32_t>(counterIndex)), slot);
  }

 private:
  CMainFrame& m_frame;
};

// Dialogs closed per termination signal at most; a dialog that refuses to
// close must not keep the loop going.
constexpr int kMaxDialogsClosed = 16;

}  // namespace

QtAppShell::QtAppShell(Prompts& prompts) : m_prompts(prompts) {}

QtAppShell::~QtAppShell() { destroyMainFrame(); }

void QtAppShell::ensureGui() {
  if (m_guiStarted) return;
  m_guiStarted = true;
  if (m_guiStarter) m_guiStarter();
}

bool QtAppShell::setUpPowerEvents(CTarvelle2App& app) {
  ensureGui();
  return powerEventsSetUp ? powerEventsSetUp(app) : false;
}

void QtAppShell::tearDownPowerEvents(CTarvelle2App& app) {
  if (powerEventsTearDown) powerEventsTearDown(app);
}

void QtAppShell::createSharedDrawingObjects(CTarvelle2App& /*app*/) {
  ensureGui();
  m_drawing = std::make_unique<SharedDrawingObjects>(SharedDrawingObjects::create());
}

void QtAppShell::deleteSharedDrawingObjects(CTarvelle2App& /*app*/) {
  destroyMainFrame();
  m_drawing.reset();
}

bool QtAppShell::startupUpdateCheckEndsProgram(CTarvelle2App& app) {
  ensureGui();
  return startupUpdateCheck ? startupUpdateCheck(app) : false;
}

void QtAppShell::createMainFrame(CTarvelle2App& app) {
  ensureGui();
  if (!m_drawing) createSharedDrawingObjects(app);
  m_frame = std::make_unique<CMainFrame>(app, *m_drawing, m_prompts, m_paneFactory);
  if (!m_title.empty()) m_frame->setWindowTitle(QString::fromStdString(m_title));
  m_frame->onClosed = mainFrameClosed;
  if (frameCreated) frameCreated(*m_frame);
  m_frame->show();
}

void QtAppShell::applyStartupProfile(CTarvelle2App& app) {
  if (!m_frame) return;
  if (app.loadedProfile) {
    // Select the stored configuration without its own graphs, then show the
    // stored ones.
    m_frame->sendMessage(UM_SELECT_CONFIG, static_cast<uintptr_t>(static_cast<uint32_t>(app.loadedProfile->configIndex)),
                         0);
    m_frame->sendMessage(UM_APPLY_PROFILE, reinterpret_cast<uintptr_t>(app.loadedProfile.get()), 0);
    return;
  }
  if (!app.configs || app.currentConfig < 0 || app.currentConfig >= app.configCount) return;
  const CProfile* profile = app.configs[static_cast<size_t>(app.currentConfig)].profile.get();
  CProcessor_2* processor = app.SelectedProcessor();
  if (profile == nullptr || processor == nullptr) return;
  FrameGraphAssignments assignments(*m_frame);
  ApplyProfile(*processor, *profile, assignments);
}

int QtAppShell::messageBox(const std::string& text, const std::string& caption, uint32_t flags) {
  ensureGui();
  return m_prompts.messageBox(text, caption, flags);
}

void QtAppShell::destroyMainFrame() { m_frame.reset(); }

void QtAppShell::requestClose() {
  if (m_closeRequested) return;
  m_closeRequested = true;
  // A question or file dialog on screen gets its escape answer (NO to the
  // "may be in use" question, cancel to a file dialog), so that whatever
  // waits for it goes on and the program can end.
  QWidget* previous = nullptr;
  for (int i = 0; i < kMaxDialogsClosed; ++i) {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr || modal == m_frame.get() || modal == previous) break;
    modal->close();
    previous = modal;
  }
  if (m_frame) m_frame->close();
}

}  // namespace tv2
