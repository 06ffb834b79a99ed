#include "services/BrowserCommand.h"

namespace tv2 {

namespace {

const QString kPlaceholders[] = {QStringLiteral("%u"), QStringLiteral("%U"), QStringLiteral("%f"),
                                 QStringLiteral("%F")};

// Position of the first placeholder in the form "%x" with the quotes, or
// -1.
qsizetype firstPlaceholder(const QString& line, bool quoted) {
  qsizetype first = -1;
  for (const QString& placeholder : kPlaceholders) {
    QString form = quoted ? QLatin1Char('"') + placeholder + QLatin1Char('"') : placeholder;
    qsizetype at = line.indexOf(form);
    if (at >= 0 && (first < 0 || at < first)) first = at;
  }
  return first;
}

}  // namespace

BrowserCommand BrowserCommand::make(const QString& execLine, const QString& target) {
  qsizetype cut = firstPlaceholder(execLine, true);
  if (cut < 0) cut = firstPlaceholder(execLine, false);
  QString head = cut < 0 ? execLine : execLine.left(cut);

  BrowserCommand command;
  command.commandLine = head + QLatin1Char(' ') + target;
  QStringList words = splitExec(head);
  if (words.isEmpty()) return command;
  command.program = words.takeFirst();
  command.arguments = words;
  if (!target.isEmpty()) command.arguments.append(target);
  return command;
}

QStringList BrowserCommand::splitExec(const QString& execLine) {
  QStringList words;
  QString word;
  bool inWord = false;
  bool quoted = false;
  for (qsizetype i = 0; i < execLine.size(); ++i) {
    QChar c = execLine[i];
    if (quoted) {
      if (c == QLatin1Char('"')) {
        quoted = false;
      } else if (c == QLatin1Char('\\') && i + 1 < execLine.size() &&
                 QStringLiteral("\"`$\\").contains(execLine[i + 1])) {
        word += execLine[++i];
      } else {
        word += c;
      }
      continue;
    }
    if (c == QLatin1Char(' ') || c == QLatin1Char('\t')) {
      if (inWord) words.append(word);
      word.clear();
      inWord = false;
      continue;
    }
    inWord = true;
    if (c == QLatin1Char('"')) {
      quoted = true;
    } else if (c == QLatin1Char('%') && i + 1 < execLine.size() && execLine[i + 1] == QLatin1Char('%')) {
      word += QLatin1Char('%');
      ++i;
    } else {
      word += c;
    }
  }
  if (inWord) words.append(word);
  return words;
}

}  // namespace tv2
