#pragma once

#include <QString>
#include <string>

#include "frame/Prompts.h"

namespace tv2 {

// Message boxes and file dialogs as real Qt dialogs.
class QtPrompts : public Prompts {
 public:
  int messageBox(const std::string& text, const std::string& caption, uint32_t flags) override;
  bool saveFileName(QWidget* owner, const std::string& initialName, const std::string& filter,
                    std::string* path) override;
  bool openFileName(QWidget* owner, const std::string& initialName, const std::string& filter,
                    std::string* path) override;

  // "TV2 File (*.tv2)|*.tv2|All Files (*.*)|*.*||" as Qt's name filters
  // "TV2 File (*.tv2);;All Files (*.*)": the display names, whose patterns
  // Qt reads from the brackets. A display name without brackets gets the
  // pattern appended.
  static QString qtFilter(const std::string& filter);

 private:
  bool runFileDialog(QWidget* owner, bool save, const std::string& initialName, const std::string& filter,
                     std::string* path);

  QString m_folder;  // where the last file dialog was confirmed; empty: home folder
};

}  // namespace tv2
