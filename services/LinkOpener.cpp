#include "services/LinkOpener.h"

#include <QDesktopServices>
#include <QProcess>

namespace tv2 {

LinkOpener::LinkOpener()
    : LinkOpener([](const QUrl& url) { return QDesktopServices::openUrl(url); }, DefaultBrowser::fromEnvironment(),
                 [](const QString& program, const QStringList& arguments) {
                   return QProcess::startDetached(program, arguments);
                 }) {}

LinkOpener::LinkOpener(DesktopOpen desktopOpen, DefaultBrowser browser, StartDetached startDetached)
    : m_desktopOpen(std::move(desktopOpen)), m_browser(std::move(browser)), m_startDetached(std::move(startDetached)) {}

bool LinkOpener::open(const QString& target) const {
  if (m_desktopOpen && m_desktopOpen(QUrl(target))) return true;
  BrowserCommand command = fallbackCommand(target);
  if (command.program.isEmpty() || !m_startDetached) return false;
  return m_startDetached(command.program, command.arguments);
}

BrowserCommand LinkOpener::fallbackCommand(const QString& target) const {
  QString exec = m_browser.execLine();
  if (exec.isEmpty()) return {};
  return BrowserCommand::make(exec, target);
}

}  // namespace tv2
