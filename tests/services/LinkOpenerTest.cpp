// Opening a link when the desktop cannot: the default browser's desktop
// entry found in given folders, its Exec line cut at the placeholder, the
// target appended. Nothing is ever launched: the process start is recorded.

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "services/BrowserCommand.h"
#include "services/LinkOpener.h"

namespace tv2 {
namespace {

TEST(BrowserCommand, CutsAtAQuotedPlaceholder) {
  BrowserCommand command = BrowserCommand::make(QStringLiteral("\"/opt/web browser/run\" --new \"%u\" --x"),
                                                QStringLiteral("https://a.test/p?q=1"));
  EXPECT_EQ(command.commandLine, QStringLiteral("\"/opt/web browser/run\" --new  https://a.test/p?q=1"));
  EXPECT_EQ(command.program, QStringLiteral("/opt/web browser/run"));
  EXPECT_EQ(command.arguments, (QStringList{QStringLiteral("--new"), QStringLiteral("https://a.test/p?q=1")}));
}

TEST(BrowserCommand, CutsAtAnUnquotedPlaceholderOrAppendsAtTheEnd) {
  BrowserCommand unquoted = BrowserCommand::make(QStringLiteral("firefox-esr %U %F"), QStringLiteral("https://a.test"));
  EXPECT_EQ(unquoted.commandLine, QStringLiteral("firefox-esr  https://a.test"));
  EXPECT_EQ(unquoted.program, QStringLiteral("firefox-esr"));
  EXPECT_EQ(unquoted.arguments, QStringList{QStringLiteral("https://a.test")});

  BrowserCommand none = BrowserCommand::make(QStringLiteral("browser --private"), QStringLiteral("https://a.test"));
  EXPECT_EQ(none.commandLine, QStringLiteral("browser --private https://a.test"));
  EXPECT_EQ(none.arguments, (QStringList{QStringLiteral("--private"), QStringLiteral("https://a.test")}));

  // A target is one argument, whatever it holds; an empty one adds none.
  BrowserCommand odd = BrowserCommand::make(QStringLiteral("b %u"), QStringLiteral("x\" --evil \"y"));
  EXPECT_EQ(odd.arguments, QStringList{QStringLiteral("x\" --evil \"y")});
  BrowserCommand empty = BrowserCommand::make(QStringLiteral("b %u"), QString());
  EXPECT_EQ(empty.commandLine, QStringLiteral("b  "));
  EXPECT_TRUE(empty.arguments.isEmpty());
}

TEST(BrowserCommand, SplitsByTheExecQuotingRules) {
  EXPECT_EQ(BrowserCommand::splitExec(QStringLiteral("a \"b c\" \"d\\\"e\" 100%% \"\"")),
            (QStringList{QStringLiteral("a"), QStringLiteral("b c"), QStringLiteral("d\"e"), QStringLiteral("100%"),
                         QString()}));
}

class BrowserLookup : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(m_root.isValid());
    QDir(m_root.path()).mkpath(QStringLiteral("user/applications/vendor"));
    QDir(m_root.path()).mkpath(QStringLiteral("system/applications"));
  }
  QString path(const QString& relative) const { return m_root.filePath(relative); }
  void write(const QString& relative, const QByteArray& text) const {
    QFile file(path(relative));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(text);
  }
  DefaultBrowser browser() const {
    return DefaultBrowser({path(QStringLiteral("user/mimeapps.list")), path(QStringLiteral("system/mimeapps.list"))},
                          {path(QStringLiteral("user/applications")), path(QStringLiteral("system/applications"))},
                          false);
  }

  QTemporaryDir m_root;
};

TEST_F(BrowserLookup, PrefersTheHttpHandlerAndSkipsEntriesThatAreNotInstalled) {
  write(QStringLiteral("user/mimeapps.list"),
        "[Added Associations]\nx-scheme-handler/http=wrong.desktop\n"
        "[Default Applications]\ntext/html=viewer.desktop\n");
  write(QStringLiteral("system/mimeapps.list"),
        "[Default Applications]\nx-scheme-handler/http=missing.desktop;vendor-web.desktop;\n");
  write(QStringLiteral("user/applications/vendor/web.desktop"),
        "[Desktop Entry]\nName=Web\nExec=/usr/bin/web\\s--tab %u\n[Desktop Action new]\nExec=other\n");
  write(QStringLiteral("system/applications/viewer.desktop"), "[Desktop Entry]\nExec=viewer %f\n");
  write(QStringLiteral("system/applications/wrong.desktop"), "[Desktop Entry]\nExec=wrong %u\n");
  EXPECT_EQ(browser().execLine(), QStringLiteral("/usr/bin/web --tab %u"));
}

TEST_F(BrowserLookup, FallsBackToTheHtmlHandlerAndHonoursHiddenEntries) {
  write(QStringLiteral("user/mimeapps.list"), "[Default Applications]\nx-scheme-handler/http=gone.desktop\n");
  write(QStringLiteral("system/mimeapps.list"), "[Default Applications]\ntext/html=viewer.desktop\n");
  write(QStringLiteral("user/applications/gone.desktop"), "[Desktop Entry]\nHidden=true\nExec=gone %u\n");
  write(QStringLiteral("system/applications/gone.desktop"), "[Desktop Entry]\nExec=gone %u\n");
  write(QStringLiteral("system/applications/viewer.desktop"), "[Desktop Entry]\nExec=viewer %f\n");
  EXPECT_EQ(browser().execLine(), QStringLiteral("viewer %f"));
}

TEST_F(BrowserLookup, TheFallbackRunsOnlyWhenTheDesktopFails) {
  write(QStringLiteral("user/mimeapps.list"), "[Default Applications]\nx-scheme-handler/http=web.desktop\n");
  write(QStringLiteral("system/applications/web.desktop"), "[Desktop Entry]\nExec=web \"%U\"\n");
  struct Start {
    QString program;
    QStringList arguments;
  };
  std::vector<Start> started;
  auto record = [&](const QString& program, const QStringList& arguments) {
    started.push_back({program, arguments});
    return true;
  };
  bool desktopWorks = true;
  QList<QUrl> desktopAsked;
  LinkOpener opener(
      [&](const QUrl& url) {
        desktopAsked.append(url);
        return desktopWorks;
      },
      browser(), record);

  EXPECT_TRUE(opener.open(QStringLiteral("https://a.test/")));
  EXPECT_TRUE(started.empty());

  desktopWorks = false;
  EXPECT_TRUE(opener.open(QStringLiteral("https://a.test/")));
  ASSERT_EQ(started.size(), 1u);
  EXPECT_EQ(started[0].program, QStringLiteral("web"));
  EXPECT_EQ(started[0].arguments, QStringList{QStringLiteral("https://a.test/")});

  // An empty target reaches the desktop empty, and the browser with nothing.
  EXPECT_TRUE(opener.open(QString()));
  EXPECT_TRUE(desktopAsked.back().isEmpty());
  ASSERT_EQ(started.size(), 2u);
  EXPECT_TRUE(started[1].arguments.isEmpty());
}

}  // namespace
}  // namespace tv2
