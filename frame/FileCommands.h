#pragma once

#include <string>

class QWidget;

namespace tv2 {

class AW_CMultiViewSplitter;
class CTarvelle2App;
class MessageWindow;
class Prompts;

// The frame's file commands: save and load a profile file, save the debug
// report. Each asks for a file through the prompts; a cancelled dialog or a
// file that cannot be opened or written does nothing and reports nothing.
// User-interface thread only.
class FileCommands {
 public:
  static constexpr const char* kProfileFilter = "TV2 File (*.tv2)|*.tv2|All Files (*.*)|*.*||";
  static constexpr const char* kProfileSaveName = "文件.tv2";
  static constexpr const char* kProfileOpenName = "*.tv2";
  static constexpr const char* kReportFilter = "TXT File (*.txt)|*.txt|All Files (*.*)|*.*||";
  static constexpr const char* kReportSaveName = "tv2报告.txt";

  // frame relays messages to every pane; splitter lists the panes in column
  // order; owner owns the dialogs.
  FileCommands(CTarvelle2App& app, MessageWindow& frame, const AW_CMultiViewSplitter& splitter, Prompts& prompts,
               QWidget* owner)
      : m_app(app), m_frame(frame), m_splitter(splitter), m_prompts(prompts), m_owner(owner) {}

  // Command 32784: every pane's snapshot line into a narrow CR LF file (an
  // empty file when no slot holds a graph).
  void saveProfile();
  // Command 32785: the file's profile line read by the panes, then that
  // configuration selected and the profile applied when it names a metric.
  void loadProfile();
  // Command 32789.
  void saveReport();

  // Every pane's answer to UM_SAVE_PROFILE, each with a fresh profile, in
  // column order: the profile lines (UTF-8, '\n' ends). Also what the
  // settings file keeps.
  std::string collectProfileLines();

 private:
  CTarvelle2App& m_app;
  MessageWindow& m_frame;
  const AW_CMultiViewSplitter& m_splitter;
  Prompts& m_prompts;
  QWidget* m_owner;
};

}  // namespace tv2
