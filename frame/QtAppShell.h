#pragma once

#include <functional>
#include <memory>
#include <string>

#include "app/AppShell.h"
#include "frame/FramePane.h"

namespace tv2 {

class CMainFrame;
class Prompts;
struct SharedDrawingObjects;

// The start-up and shutdown steps of the window program: real message boxes
// (through the prompts, which tests script), the shared fonts and brush, the
// main frame and the start-up profile. The power-event watcher and the
// start-up update check are hooks the services layer fills in.
//
// Threads: user-interface thread only.
class QtAppShell : public AppShell {
 public:
  explicit QtAppShell(Prompts& prompts);
  ~QtAppShell() override;
  QtAppShell(const QtAppShell&) = delete;
  QtAppShell& operator=(const QtAppShell&) = delete;

  bool setUpPowerEvents(CTarvelle2App& app) override;
  void tearDownPowerEvents(CTarvelle2App& app) override;
  void createSharedDrawingObjects(CTarvelle2App& app) override;
  void deleteSharedDrawingObjects(CTarvelle2App& app) override;
  bool startupUpdateCheckEndsProgram(CTarvelle2App& app) override;
  // Creates the frame (which reads the placement, COL0, FLAGS and the profile
  // line) and shows it.
  void createMainFrame(CTarvelle2App& app) override;
  // The stored profile through UM_SELECT_CONFIG and UM_APPLY_PROFILE, else
  // the current configuration's default graphs on the displayed package.
  void applyStartupProfile(CTarvelle2App& app) override;
  int messageBox(const std::string& text, const std::string& caption, uint32_t flags) override;
  // The window's message boxes reach the user.
  bool canAsk() const override { return true; }

  // Null before createMainFrame and after destroyMainFrame.
  CMainFrame* mainFrame() const { return m_frame.get(); }
  // The window goes before ExitInstance takes the counters it shows.
  void destroyMainFrame();

  // A termination signal: any dialog waiting for an answer is closed (it
  // answers as its escape button does), then the main window is closed the
  // way its close box closes it. Later requests change nothing.
  void requestClose();
  bool closeRequested() const { return m_closeRequested; }

  // Creates the Qt application (and what hangs on it) the first time a step
  // needs it. Start-up reaches the shell only after the single-instance
  // check, so a second copy ends without Qt ever being started. Without a
  // starter the application must already exist.
  void setGuiStarter(std::function<void()> start) { m_guiStarter = std::move(start); }

  // Set before createMainFrame.
  void setWindowTitle(std::string title) { m_title = std::move(title); }
  void setPaneFactory(PaneFactory factory) { m_paneFactory = std::move(factory); }

  // Hooks, each optional: the power-event watcher (true when it runs), the
  // start-up update check (true when the program is to end), the new frame
  // (to connect its update-check and about commands) and the frame's close.
  std::function<bool(CTarvelle2App&)> powerEventsSetUp;
  std::function<void(CTarvelle2App&)> powerEventsTearDown;
  std::function<bool(CTarvelle2App&)> startupUpdateCheck;
  std::function<void(CMainFrame&)> frameCreated;
  std::function<void()> mainFrameClosed;

 private:
  void ensureGui();

  Prompts& m_prompts;
  std::function<void()> m_guiStarter;
  bool m_guiStarted = false;
  std::string m_title;
  PaneFactory m_paneFactory;
  std::unique_ptr<SharedDrawingObjects> m_drawing;  // outlives the frame
  std::unique_ptr<CMainFrame> m_frame;
  bool m_closeRequested = false;
};

}  // namespace tv2
