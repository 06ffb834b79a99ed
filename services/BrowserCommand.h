#pragma once

#include <QString>
#include <QStringList>

namespace tv2 {

// A web browser's command with the link target in place of its file or URL
// placeholder. The desktop entry's Exec line is cut at the first
// placeholder (%u, %U, %f or %F; in double quotes, or else alone), a blank
// and the target are appended: that is commandLine. program and arguments
// are the cut line split by the Exec quoting rules, with the target as one
// more argument of its own, so that blanks or quotes in a target never
// become arguments of their own. An empty target adds no argument.
struct BrowserCommand {
  QString commandLine;
  QString program;
  QStringList arguments;

  static BrowserCommand make(const QString& execLine, const QString& target);

  // The Exec value split into words: blanks separate, double quotes group,
  // and inside quotes a backslash keeps the next '"', '`', '$' or '\'; "%%"
  // stands for '%'.
  static QStringList splitExec(const QString& execLine);
};

}  // namespace tv2
