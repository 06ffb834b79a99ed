#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace tv2 {

class CTarvelle2App;

// Message box styles and answers, numbered as the program compares them.
inline constexpr uint32_t kMbOk = 0x0;
inline constexpr uint32_t kMbYesNo = 0x4;
inline constexpr uint32_t kMbIconWarning = 0x30;
inline constexpr int kIdOk = 1;
inline constexpr int kIdYes = 6;
inline constexpr int kIdNo = 7;

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

  // Whether a question can reach a user (a window program); without one a
  // YES/NO question is not asked and the cautious answer is taken.
  virtual bool canAsk() const { return false; }
  // One line for the user about how the run goes: standard error, prefixed
  // with the program's name. (The window also shows the app's notice.)
  virtual void notice(const std::string& line) {
    std::fprintf(stderr, "Tarvelle2: %s\n", line.c_str());
    std::fflush(stderr);
  }

  // A message box without owner window; returns the button chosen. Without
  // a window the message is one line "caption: text" on standard error, and
  // the answer is the one a user who only reads it gives: OK, or NO to a
  // YES/NO question.
  virtual int messageBox(const std::string& text, const std::string& caption, uint32_t flags) {
    std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
    std::fflush(stderr);
    return (flags & 0xF) == kMbYesNo ? kIdNo : kIdOk;
  }
};

}  // namespace tv2
