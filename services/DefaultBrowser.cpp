#include "services/DefaultBrowser.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>

namespace tv2 {

namespace {

constexpr int kXdgSettingsWaitMs = 3000;
// A desktop entry or list file larger than this is not one.
constexpr qint64 kMaxFileBytes = 1 << 20;

const char* const kBrowserTypes[] = {"x-scheme-handler/http", "text/html"};

// The value escapes of desktop entry files: \s \n \t \r \\.
QString unescapeValue(const QString& value) {
  QString out;
  out.reserve(value.size());
  for (qsizetype i = 0; i < value.size(); ++i) {
    if (value[i] != QLatin1Char('\\') || i + 1 == value.size()) {
      out += value[i];
      continue;
    }
    QChar next = value[++i];
    if (next == QLatin1Char('s')) {
      out += QLatin1Char(' ');
    } else if (next == QLatin1Char('n')) {
      out += QLatin1Char('\n');
    } else if (next == QLatin1Char('t')) {
      out += QLatin1Char('\t');
    } else if (next == QLatin1Char('r')) {
      out += QLatin1Char('\r');
    } else if (next == QLatin1Char('\\')) {
      out += QLatin1Char('\\');
    } else {
      out += QLatin1Char('\\');
      out += next;
    }
  }
  return out;
}

// The value of key in group of an ini-style file, or a null string.
QString readKey(const QString& path, const QString& group, const QString& key) {
  QFile file(path);
  if (file.size() > kMaxFileBytes || !file.open(QIODevice::ReadOnly | QIODevice::Text)) return {};
  QString wanted = QLatin1Char('[') + group + QLatin1Char(']');
  bool inGroup = false;
  QString value;
  while (!file.atEnd()) {
    QString line = QString::fromUtf8(file.readLine()).trimmed();
    if (line.startsWith(QLatin1Char('['))) {
      inGroup = line == wanted;
      continue;
    }
    if (!inGroup) continue;
    qsizetype equals = line.indexOf(QLatin1Char('='));
    if (equals <= 0 || line.left(equals).trimmed() != key) continue;
    // The first occurrence counts.
    if (value.isNull()) value = unescapeValue(line.mid(equals + 1).trimmed());
  }
  return value;
}

}  // namespace

DefaultBrowser::DefaultBrowser(QStringList listFiles, QStringList applicationDirs, bool askXdgSettings)
    : m_listFiles(std::move(listFiles)),
      m_applicationDirs(std::move(applicationDirs)),
      m_askXdgSettings(askXdgSettings) {}

DefaultBrowser DefaultBrowser::fromEnvironment() {
  QStringList applicationDirs = QStandardPaths::standardLocations(QStandardPaths::ApplicationsLocation);
  QStringList listFiles;
  for (const QString& dir : QStandardPaths::standardLocations(QStandardPaths::GenericConfigLocation)) {
    listFiles.append(dir + QStringLiteral("/mimeapps.list"));
  }
  for (const QString& dir : applicationDirs) listFiles.append(dir + QStringLiteral("/mimeapps.list"));
  for (const QString& dir : applicationDirs) listFiles.append(dir + QStringLiteral("/defaults.list"));
  return DefaultBrowser(listFiles, applicationDirs, true);
}

QString DefaultBrowser::execLine() const {
  if (m_askXdgSettings) {
    QString exec = execLineOf(askXdgSettings());
    if (!exec.isEmpty()) return exec;
  }
  for (const char* type : kBrowserTypes) {
    for (const QString& listFile : m_listFiles) {
      QString ids = readKey(listFile, QStringLiteral("Default Applications"), QString::fromLatin1(type));
      for (const QString& id : ids.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        QString exec = execLineOf(id.trimmed());
        if (!exec.isEmpty()) return exec;
      }
    }
  }
  return {};
}

QString DefaultBrowser::execLineOf(const QString& desktopId) const {
  if (!desktopId.endsWith(QStringLiteral(".desktop")) || desktopId.contains(QStringLiteral(".."))) return {};
  QStringList names = {desktopId};
  // "vendor-name.desktop" may be installed as vendor/name.desktop.
  for (qsizetype dash = desktopId.indexOf(QLatin1Char('-')); dash > 0;
       dash = desktopId.indexOf(QLatin1Char('-'), dash + 1)) {
    QString nested = desktopId;
    nested[dash] = QLatin1Char('/');
    names.append(nested);
  }
  for (const QString& dir : m_applicationDirs) {
    for (const QString& name : names) {
      QString path = QDir(dir).filePath(name);
      if (!QFile::exists(path)) continue;
      // The first folder that holds the entry decides, even when it hides it.
      if (readKey(path, QStringLiteral("Desktop Entry"), QStringLiteral("Hidden")) == QStringLiteral("true")) {
        return {};
      }
      return readKey(path, QStringLiteral("Desktop Entry"), QStringLiteral("Exec"));
    }
  }
  return {};
}

QString DefaultBrowser::askXdgSettings() const {
  QProcess process;
  process.start(QStringLiteral("xdg-settings"), {QStringLiteral("get"), QStringLiteral("default-web-browser")});
  if (!process.waitForStarted(kXdgSettingsWaitMs)) return {};
  if (!process.waitForFinished(kXdgSettingsWaitMs)) {
    process.kill();
    process.waitForFinished(kXdgSettingsWaitMs);
    return {};
  }
  if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) return {};
  return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

}  // namespace tv2
