#include "frame/QtPrompts.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QStringList>

#include "app/AppShell.h"

namespace tv2 {

namespace {

// Button sets and icons in the low and the next nibble of the flags, with the
// answers numbered as the program compares them.
constexpr uint32_t kButtonMask = 0x0F;
constexpr uint32_t kMbOkCancel = 0x1;
constexpr uint32_t kMbYesNoCancel = 0x3;
constexpr uint32_t kMbRetryCancel = 0x5;
constexpr uint32_t kIconMask = 0xF0;
constexpr uint32_t kMbIconError = 0x10;
constexpr uint32_t kMbIconQuestion = 0x20;
constexpr uint32_t kMbIconInformation = 0x40;
constexpr int kIdCancel = 2;
constexpr int kIdRetry = 4;

QMessageBox::Icon iconOf(uint32_t flags) {
  switch (flags & kIconMask) {
    case kMbIconError:
      return QMessageBox::Critical;
    case kMbIconQuestion:
      return QMessageBox::Question;
    case kMbIconWarning:
      return QMessageBox::Warning;
    case kMbIconInformation:
      return QMessageBox::Information;
    default:
      return QMessageBox::NoIcon;
  }
}

QMessageBox::StandardButtons buttonsOf(uint32_t flags) {
  switch (flags & kButtonMask) {
    case kMbOkCancel:
      return QMessageBox::Ok | QMessageBox::Cancel;
    case kMbYesNoCancel:
      return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
    case kMbYesNo:
      return QMessageBox::Yes | QMessageBox::No;
    case kMbRetryCancel:
      return QMessageBox::Retry | QMessageBox::Cancel;
    default:
      return QMessageBox::Ok;
  }
}

int answerOf(int button) {
  switch (button) {
    case QMessageBox::Yes:
      return kIdYes;
    case QMessageBox::No:
      return kIdNo;
    case QMessageBox::Cancel:
      return kIdCancel;
    case QMessageBox::Retry:
      return kIdRetry;
    default:
      return kIdOk;
  }
}

}  // namespace

int QtPrompts::messageBox(const std::string& text, const std::string& caption, uint32_t flags) {
  // No owner window: the box stands on its own and blocks the whole program,
  // as start-up needs its answer before it goes on. Closing it answers like
  // its escape button (No to a yes/no question).
  QMessageBox box(iconOf(flags), QString::fromStdString(caption), QString::fromStdString(text), buttonsOf(flags));
  box.setWindowModality(Qt::ApplicationModal);
  return answerOf(box.exec());
}

QString QtPrompts::qtFilter(const std::string& filter) {
  const QStringList parts = QString::fromStdString(filter).split(u'|', Qt::SkipEmptyParts);
  QStringList filters;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    const QString& name = parts[i];
    const QString patterns = QString(parts[i + 1]).replace(u';', u' ');
    filters << (name.contains(u'(') ? name : name + " (" + patterns + ")");
  }
  return filters.join(";;");
}

bool QtPrompts::saveFileName(QWidget* owner, const std::string& initialName, const std::string& filter,
                             std::string* path) {
  return runFileDialog(owner, true, initialName, filter, path);
}

bool QtPrompts::openFileName(QWidget* owner, const std::string& initialName, const std::string& filter,
                             std::string* path) {
  return runFileDialog(owner, false, initialName, filter, path);
}

bool QtPrompts::runFileDialog(QWidget* owner, bool save, const std::string& initialName, const std::string& filter,
                              std::string* path) {
  // The dialog opens where the user last confirmed one, else in the home
  // folder: the program's own folder is rarely writable on Linux. A wildcard
  // name only repeats the filter, so it is not put into the name field.
  const QString folder = m_folder.isEmpty() ? QDir::homePath() : m_folder;
  const QString name = QString::fromStdString(initialName);
  const QString start = name.contains(u'*') ? folder : QDir(folder).filePath(name);
  const QString chosen = save ? QFileDialog::getSaveFileName(owner, QString(), start, qtFilter(filter))
                              : QFileDialog::getOpenFileName(owner, QString(), start, qtFilter(filter));
  if (chosen.isEmpty()) return false;
  m_folder = QFileInfo(chosen).absolutePath();
  *path = chosen.toStdString();
  return true;
}

}  // namespace tv2
