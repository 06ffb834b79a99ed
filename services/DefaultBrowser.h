#pragma once

#include <QString>
#include <QStringList>

namespace tv2 {

// Finds the Exec line of the default web browser's desktop entry: the
// entry xdg-settings names, or else the first installed default for
// "x-scheme-handler/http", then for "text/html", in the mimeapps.list files;
// the entry itself is looked up in the applications folders. The folders
// are given, so that tests can aim the search at their own files.
class DefaultBrowser {
 public:
  // mimeapps.list (and the older defaults.list) files, most important
  // first; the applications folders, most important first; whether to ask
  // xdg-settings first.
  DefaultBrowser(QStringList listFiles, QStringList applicationDirs, bool askXdgSettings);

  // The user's and the system's files and folders (XDG_CONFIG_HOME,
  // XDG_CONFIG_DIRS, XDG_DATA_HOME and XDG_DATA_DIRS), asking xdg-settings.
  static DefaultBrowser fromEnvironment();

  // The Exec value of the browser's entry; empty when none is found.
  QString execLine() const;

  // The Exec value of a desktop entry found in the applications folders
  // ("vendor-name.desktop" may also live as "vendor/name.desktop"); empty
  // when the entry is missing, hidden or has no Exec line.
  QString execLineOf(const QString& desktopId) const;

 private:
  QString askXdgSettings() const;

  QStringList m_listFiles;
  QStringList m_applicationDirs;
  bool m_askXdgSettings;
};

}  // namespace tv2
