#include "frame/FileCommands.h"

#include <sstream>

#include "app/CProfile.h"
#include "app/CTarvelle2App.h"
#include "app/DebugReport.h"
#include "app/TextFileReader.h"
#include "app/TextFileWriter.h"
#include "frame/AW_CMultiViewSplitter.h"
#include "frame/Prompts.h"
#include "ui/MessageWindow.h"
#include "ui/WindowMessages.h"

namespace tv2 {

std::string FileCommands::collectProfileLines() {
  std::string text;
  for (int column = 0; column < AW_CMultiViewSplitter::kColumnCount; ++column) {
    MessageWindow* pane = m_splitter.pane(column).window;
    if (pane == nullptr) continue;
    // A fresh profile per pane: what one pane leaves in it never reaches
    // the next.
    CProfile profile;
    pane->sendMessage(UM_SAVE_PROFILE, reinterpret_cast<uintptr_t>(&text), reinterpret_cast<intptr_t>(&profile));
  }
  return text;
}

void FileCommands::saveProfile() {
  std::string path;
  if (!m_prompts.saveFileName(m_owner, kProfileSaveName, kProfileFilter, &path)) return;
  TextFileWriter::writeNarrow(path, collectProfileLines());
}

void FileCommands::loadProfile() {
  CProfile profile;
  std::string path;
  if (!m_prompts.openFileName(m_owner, kProfileOpenName, kProfileFilter, &path)) return;
  TextFileReader reader;
  if (!reader.openNarrow(path)) return;
  m_frame.sendMessage(UM_LOAD_PROFILE, reinterpret_cast<uintptr_t>(&reader), reinterpret_cast<intptr_t>(&profile));
  // A file without a usable line leaves the count at 0 and changes nothing.
  if (profile.metricCount <= 0) return;
  m_frame.sendMessage(UM_SELECT_CONFIG, static_cast<uintptr_t>(static_cast<uint32_t>(profile.configIndex)), 0);
  m_frame.sendMessage(UM_APPLY_PROFILE, reinterpret_cast<uintptr_t>(&profile), 0);
}

void FileCommands::saveReport() {
  std::string path;
  if (!m_prompts.saveFileName(m_owner, kReportSaveName, kReportFilter, &path)) return;
  std::ostringstream report;
  DebugReport::write(report, m_app.processors, m_app.acpiTimer.get(), m_app.hpetTimer.get());
  // The report's lines already end in CR LF; the writer keeps them so.
  TextFileWriter::writeNarrow(path, report.str());
}

}  // namespace tv2
