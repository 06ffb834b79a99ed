#pragma once

// Shared pieces of the frame tests: panes that log the messages they get,
// scripted dialogs, and a frame over an application that was never started
// (no processors, no samplers), with its settings in a fresh folder.

#include <gtest/gtest.h>

#include <QWidget>

#include <deque>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "app/CProfile.h"
#include "app/CTarvelle2App.h"
#include "app/ProfileLine.h"
#include "app/SettingsFile.h"
#include "app/TextFileReader.h"
#include "counters/model/SampleClock.h"
#include "frame/AW_CMultiViewSplitter.h"
#include "frame/CMainFrame.h"
#include "frame/Prompts.h"
#include "platform/sim/SimPlatform.h"
#include "ui/MessageWindow.h"
#include "ui/SharedDrawingObjects.h"
#include "ui/WindowMessages.h"

namespace tv2::testing {

struct LoggedMessage {
  std::string pane;
  uint32_t message;
  uintptr_t wParam;
  intptr_t lParam;
};

// A pane that records every message in a log shared with its sibling and,
// when given a line, answers UM_SAVE_PROFILE by appending it.
class RecordingPane : public QWidget, public MessageWindow {
 public:
  RecordingPane(std::string paneName, std::vector<LoggedMessage>& log, QWidget* parent)
      : QWidget(parent), name(std::move(paneName)), m_log(log) {}
  intptr_t sendMessage(uint32_t message, uintptr_t wParam, intptr_t lParam) override {
    m_log.push_back({name, message, wParam, lParam});
    if (message == UM_SAVE_PROFILE && wParam != 0 && !profileLine.empty()) {
      *reinterpret_cast<std::string*>(wParam) += profileLine;
    }
    if (message == UM_LOAD_PROFILE && readsProfiles) {
      ReadProfileLine(*reinterpret_cast<TextFileReader*>(wParam), reinterpret_cast<CProfile*>(lParam));
    }
    return 0;
  }
  std::string name;
  std::string profileLine;  // appended to UM_SAVE_PROFILE's text
  bool readsProfiles = false;  // reads UM_LOAD_PROFILE's line as the left view does
  int initialUpdates = 0;

 private:
  std::vector<LoggedMessage>& m_log;
};

// Dialog answers from a script; an empty script cancels (file dialogs) or
// answers NO.
class ScriptedPrompts : public Prompts {
 public:
  int messageBox(const std::string& text, const std::string& caption, uint32_t /*flags*/) override {
    boxes.push_back(caption + ": " + text);
    return kIdNo;
  }
  bool saveFileName(QWidget* /*owner*/, const std::string& initialName, const std::string& filter,
                    std::string* path) override {
    return answer("save " + initialName + " " + filter, path);
  }
  bool openFileName(QWidget* /*owner*/, const std::string& initialName, const std::string& filter,
                    std::string* path) override {
    return answer("open " + initialName + " " + filter, path);
  }
  std::deque<std::string> files;  // paths to answer with, in order
  std::vector<std::string> asked;
  std::vector<std::string> boxes;

 private:
  bool answer(const std::string& question, std::string* path) {
    asked.push_back(question);
    if (files.empty()) return false;
    *path = files.front();
    files.pop_front();
    return true;
  }
};

// A file's bytes as they are on disk; empty when it cannot be read.
inline std::string bytesOf(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

inline std::filesystem::path freshFolder(const std::string& kind) {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::filesystem::path folder = std::filesystem::temp_directory_path() /
                                 ("tv2-" + kind + "-" + std::to_string(::getpid()) + "-" + info->name());
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  return folder;
}

// The lines of a settings or profile file as the program reads them, line
// ends dropped; narrow files are read as 8-bit text.
inline std::vector<std::string> fileLines(const std::string& path, bool narrow = false) {
  TextFileReader reader;
  std::vector<std::string> lines;
  if (!(narrow ? reader.openNarrow(path) : reader.open(path))) return lines;
  std::u16string line;
  while (reader.readLine(line, 1024)) {
    std::string text;
    for (char16_t c : line) {
      if (c != u'\n' && c != u'\r') text.push_back(static_cast<char>(c));
    }
    lines.push_back(text);
  }
  return lines;
}

// A frame whose panes are RecordingPanes, over an application that never ran
// InitInstance: the frame's own behaviour without any counter.
class LightFrame : public ::testing::Test {
 protected:
  void SetUp() override {
    SampleClock::reset();
    folder = freshFolder("frame");
    platform = std::make_unique<sim::SimPlatform>(nullptr);
    app = std::make_unique<CTarvelle2App>(*platform, shell);
    app->programFolder = folder.string();
    app->settingsFolder = folder.string() + "/";
    drawing = std::make_unique<SharedDrawingObjects>(SharedDrawingObjects::create());
  }
  void TearDown() override {
    frame.reset();
    app.reset();
    std::filesystem::remove_all(folder);
    SampleClock::reset();
  }

  std::string settingsPath() const { return app->SettingsPath(); }
  // Settings text (UTF-8 lines) written as the program writes the file.
  void writeSettings(const std::string& text) { ASSERT_TRUE(SettingsFile(settingsPath()).write(text)); }

  CMainFrame& createFrame() {
    frame = std::make_unique<CMainFrame>(*app, *drawing, prompts, [this](PaneKind kind, ViewHost&, QWidget* parent) {
      auto* pane = new RecordingPane(kind == PaneKind::kLeftView ? "left" : "right", log, parent);
      (kind == PaneKind::kLeftView ? left : right) = pane;
      return FramePane{pane, pane, [pane] { ++pane->initialUpdates; }};
    });
    return *frame;
  }
  CMainFrame& showFrame() {
    createFrame();
    frame->show();
    return *frame;
  }
  // The panes that got a message, in order.
  std::vector<std::string> receivers(uint32_t message) const {
    std::vector<std::string> names;
    for (const LoggedMessage& m : log) {
      if (m.message == message) names.push_back(m.pane);
    }
    return names;
  }

  std::filesystem::path folder;
  std::unique_ptr<sim::SimPlatform> platform;
  AppShell shell;
  std::unique_ptr<CTarvelle2App> app;
  std::unique_ptr<SharedDrawingObjects> drawing;
  ScriptedPrompts prompts;
  std::vector<LoggedMessage> log;
  RecordingPane* left = nullptr;
  RecordingPane* right = nullptr;
  std::unique_ptr<CMainFrame> frame;
};

}  // namespace tv2::testing
