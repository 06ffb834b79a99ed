#pragma once

namespace tv2 {

class CTarvelle2App;

// The start-up and shutdown steps that belong to the layers above the
// monitoring core: the power-event watcher, the shared fonts and brush, the
// start-up update check and the main frame. The windowed program plugs in its
// own; without a window (headless runs, tests) every step does nothing.
class AppShell {
 public:
  virtual ~AppShell() = default;

  // True when the power-event watcher could be set up.
  virtual bool setUpPowerEvents(CTarvelle2App& /*app*/) { return false; }
  virtual void tearDownPowerEvents(CTarvelle2App& /*app*/) {}
  virtual void createSharedDrawingObjects(CTarvelle2App& /*app*/) {}
  virtual void deleteSharedDrawingObjects(CTarvelle2App& /*app*/) {}
  // The start-up update check; true when the program is to end.
  virtual bool startupUpdateCheckEndsProgram(CTarvelle2App& /*app*/) { return false; }
  // Creates and shows the main frame (which reads the rest of the settings).
  virtual void createMainFrame(CTarvelle2App& /*app*/) {}
  // Applies the stored profile or the configuration's default graphs.
  virtual void applyStartupProfile(CTarvelle2App& /*app*/) {}
};

}  // namespace tv2
