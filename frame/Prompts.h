#pragma once

#include <cstdint>
#include <string>

class QWidget;

namespace tv2 {

// What the window program asks the user: message boxes and the open and save
// file dialogs. The program uses real Qt dialogs (QtPrompts); tests substitute
// scripted answers. User-interface thread only.
class Prompts {
 public:
  virtual ~Prompts() = default;

  // A message box without owner window; flags and answer as AppShell numbers
  // them (kMbYesNo, kMbIconWarning, kIdYes ...).
  virtual int messageBox(const std::string& text, const std::string& caption, uint32_t flags) = 0;

  // A save dialog that asks before overwriting, or an open dialog for an
  // existing file. initialName is the suggested name, filter the
  // "Name (*.ext)|*.ext|...||" list. True with *path set when confirmed.
  virtual bool saveFileName(QWidget* owner, const std::string& initialName, const std::string& filter,
                            std::string* path) = 0;
  virtual bool openFileName(QWidget* owner, const std::string& initialName, const std::string& filter,
                            std::string* path) = 0;
};

}  // namespace tv2
