#pragma once

#include <functional>

#include <QString>
#include <QStringList>
#include <QUrl>

#include "services/BrowserCommand.h"
#include "services/DefaultBrowser.h"

namespace tv2 {

// Opens a link target in the web browser: the desktop's own handler first
// (xdg-open through Qt); when that fails, the default browser's desktop entry
// is run with the target in place of its placeholder. Nothing is reported
// when neither works. User-interface thread.
class LinkOpener {
 public:
  // The desktop's handler, and the start of a detached process; both are
  // replaced in tests so that nothing is launched.
  using DesktopOpen = std::function<bool(const QUrl& url)>;
  using StartDetached = std::function<bool(const QString& program, const QStringList& arguments)>;

  LinkOpener();  // the real desktop, browser lookup and process start
  LinkOpener(DesktopOpen desktopOpen, DefaultBrowser browser, StartDetached startDetached);

  // True when the desktop or the browser took the target. An empty target
  // is passed on as it is (the browser then opens its start page).
  bool open(const QString& target) const;

  // The command the fallback runs for the target; an empty program when
  // no browser entry was found.
  BrowserCommand fallbackCommand(const QString& target) const;

 private:
  DesktopOpen m_desktopOpen;
  DefaultBrowser m_browser;
  StartDetached m_startDetached;
};

}  // namespace tv2
