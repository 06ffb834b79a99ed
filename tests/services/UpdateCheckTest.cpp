// The whole update check against a real HTTP server on loopback: the
// request it sends, the scan of the answer, the comparison, and what the
// user is told or shown, silently and interactively.

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include "app/CTarvelle2App.h"
#include "platform/sim/SimMachine.h"
#include "platform/sim/SimPlatform.h"
#include "services/CUpdateDlg.h"
#include "services/ServiceAddresses.h"
#include "services/UpdateCheck.h"
#include "services/VersionFetch.h"
#include "tests/services/LoopbackHttpServer.h"

namespace tv2 {
namespace {

using testing::LoopbackHttpServer;

class UpdateCheck : public ::testing::Test {
 protected:
  UpdateCheck()
      : m_machine(std::make_shared<sim::SimMachine>(*sim::SimMachine::preset("intel-snb"))),
        m_platform(m_machine),
        m_app(m_platform, m_shell) {
    m_app.fileVersion = FileVersion{2, 0, 4, 0};
  }

  // Runs the check against server; the dialog, when it comes, is answered
  // by pressing the button named (nullptr: "关闭").
  int check(const LoopbackHttpServer& server, bool interactive, const char* press = nullptr) {
    return check(server.url(), interactive, press);
  }
  int check(const QString& url, bool interactive, const char* press = nullptr) {
    UpdateCheckOptions options;
    options.versionFileUrl = url;
    options.fetchLimitMs = 1000;
    options.messageBox = [this](const QString& text, const QString& caption, QMessageBox::Icon icon) {
      messages.append(caption + QStringLiteral(": ") + text);
      icons.push_back(icon);
    };
    options.openPage = [this](const QString& page) { opened.append(page); };
    options.runDialog = [this, press](CUpdateDlg& dialog) {
      dialog.show();
      shownVersions = {dialog.programVersionLabel()->text(), dialog.publishedVersionLabel()->text()};
      if (press != nullptr && QString::fromUtf8(press) == QStringLiteral("更新")) {
        dialog.updateButton()->click();
      } else {
        dialog.closeButton()->click();
      }
      return dialog.result();
    };
    return CheckForUpdate(m_app, nullptr, interactive, options);
  }

  static QByteArray versionFile(const char* entry) {
    return QByteArray("[Norvane_VER]\r\nnorvane-tools=3.1.0.0;\r\n") + entry + "\r\n";
  }

  std::shared_ptr<sim::SimMachine> m_machine;
  sim::SimPlatform m_platform;
  AppShell m_shell;
  CTarvelle2App m_app;
  QStringList messages;
  std::vector<QMessageBox::Icon> icons;
  QStringList opened;
  QStringList shownVersions;
};

TEST_F(UpdateCheck, ANewerVersionShowsTheDialogAndTheRequestBypassesCaches) {
  LoopbackHttpServer server(versionFile("tarvelle=2.0.5.0;"));
  EXPECT_EQ(check(server, true), 0);
  EXPECT_EQ(shownVersions, (QStringList{QStringLiteral("2.04.0"), QStringLiteral("2.05.0")}));
  EXPECT_TRUE(messages.isEmpty());

  ASSERT_EQ(server.requests, 1);
  QByteArray request = server.lastRequest;
  EXPECT_TRUE(request.startsWith("GET /versions/version.txt HTTP/1.1\r\n")) << request.constData();
  EXPECT_TRUE(request.contains("\r\nUser-Agent: Norvane\r\n")) << request.constData();
  EXPECT_TRUE(request.contains("\r\nCache-Control: no-cache\r\n")) << request.constData();
  EXPECT_TRUE(request.contains("\r\nPragma: no-cache\r\n")) << request.constData();
}

TEST_F(UpdateCheck, UpdateAtStartEndsTheProgramAndKeepsTheSetting) {
  LoopbackHttpServer server(versionFile("tarvelle=2.0.5.0;"));
  EXPECT_EQ(check(server, false, "更新"), 1);
  EXPECT_EQ(opened, QStringList{QString::fromLatin1(kVersionHistoryUrl)});
  EXPECT_EQ(m_app.checkUpdates, 1);

  // The real modal run: "更新" pressed while exec() runs.
  UpdateCheckOptions options;
  options.versionFileUrl = server.url();
  options.openPage = [](const QString&) {};
  QTimer poll;  // the fetch runs first: wait for the dialog to appear
  QObject::connect(&poll, &QTimer::timeout, [&poll] {
    auto* dialog = qobject_cast<CUpdateDlg*>(QApplication::activeModalWidget());
    if (dialog == nullptr) return;
    poll.stop();
    dialog->checkBox()->setChecked(false);
    dialog->updateButton()->click();
  });
  poll.start(20);
  EXPECT_TRUE(StartupUpdateCheckEndsProgram(m_app, options));
  EXPECT_EQ(m_app.checkUpdates, 1);
}

TEST_F(UpdateCheck, SameVersionIsToldOnlyWhenInteractive) {
  LoopbackHttpServer server(versionFile("tarvelle=2.0.4.0;"));
  EXPECT_EQ(check(server, false), 0);
  EXPECT_TRUE(messages.isEmpty());
  EXPECT_EQ(check(server, true), 0);
  EXPECT_EQ(messages, QStringList{QStringLiteral("Tarvelle 信息: 你正在使用最新版本的Tarvelle.")});
  EXPECT_EQ(icons, std::vector<QMessageBox::Icon>{QMessageBox::Information});
  EXPECT_TRUE(shownVersions.isEmpty());
}

TEST_F(UpdateCheck, OverlappingWeightsAreNotNewer) {
  m_app.fileVersion = FileVersion{2, 0, 0, 0};
  LoopbackHttpServer older(versionFile("tarvelle=1.9.9.9;"));
  LoopbackHttpServer overlapping(versionFile("tarvelle=1.10.0.0;"));
  EXPECT_EQ(check(older, true), 0);
  EXPECT_EQ(check(overlapping, true), 0);
  EXPECT_EQ(messages.size(), 2);
  EXPECT_TRUE(shownVersions.isEmpty());
}

TEST_F(UpdateCheck, BadlyPlacedOrFormedEntriesFailSilently) {
  // The product entry inside the marker's entry, a key with a trailing
  // digit before the real one, and an entry without its final ";".
  LoopbackHttpServer inMarker("[Norvane_VER]tarvelle=9.0.0.0;");
  LoopbackHttpServer longerKey("[Norvane_VER]\r\n;tarvelle2=9.0.0.0;tarvelle=9.0.0.0;");
  LoopbackHttpServer unfinished("[Norvane_VER]\r\n;tarvelle=9.0.0.0\r\n");
  LoopbackHttpServer noMarker("[Norvane_Ver]\r\n;tarvelle=9.0.0.0;");
  for (LoopbackHttpServer* server : {&inMarker, &longerKey, &unfinished, &noMarker}) {
    EXPECT_EQ(check(*server, true), 0);
    EXPECT_EQ(server->requests, 1);
  }
  EXPECT_TRUE(messages.isEmpty());
  EXPECT_TRUE(shownVersions.isEmpty());
}

TEST_F(UpdateCheck, ConnectionRefusedIsToldOnlyWhenInteractive) {
  QString url;
  {
    QTcpServer closed;
    closed.listen(QHostAddress::LocalHost, 0);
    url = QStringLiteral("http://127.0.0.1:%1/versions/version.txt").arg(closed.serverPort());
  }
  EXPECT_EQ(check(url, false), 0);
  EXPECT_TRUE(messages.isEmpty());
  EXPECT_EQ(check(url, true), 0);
  EXPECT_EQ(messages, QStringList{QStringLiteral("Tarvelle 错误: 服务器连接错误 [12029]")});
  EXPECT_EQ(icons, std::vector<QMessageBox::Icon>{QMessageBox::Warning});
}

TEST_F(UpdateCheck, AServerThatNeverFinishesIsGivenUpWithinTheLimit) {
  LoopbackHttpServer silent("", LoopbackHttpServer::Mode::kSilent);
  LoopbackHttpServer trickle("", LoopbackHttpServer::Mode::kTrickle);
  struct Case {
    LoopbackHttpServer* server;
    VersionFetch::Status status;
    int errorCode;
  };
  // Never answered: a connection failure (timeout); answered, then too
  // slow: a failed read.
  for (const Case& c : {Case{&silent, VersionFetch::Status::kConnectFailed, VersionFetch::kErrorTimeout},
                        Case{&trickle, VersionFetch::Status::kReadFailed, 0}}) {
    QElapsedTimer clock;
    clock.start();
    VersionFetch::Result result = VersionFetch::fetch(QUrl(c.server->url()), 400);
    EXPECT_GE(clock.elapsed(), 380);
    EXPECT_LT(clock.elapsed(), 1500);
    EXPECT_EQ(result.status, c.status);
    EXPECT_EQ(result.errorCode, c.errorCode);
    EXPECT_TRUE(result.bytes.isEmpty());
  }
  EXPECT_EQ(silent.requests, 1);
  EXPECT_EQ(trickle.requests, 1);

  // At start nothing is said; from the menu the silent server is told like
  // any other connection failure, the stalled one is not.
  EXPECT_EQ(check(silent, false), 0);
  EXPECT_EQ(check(trickle, true), 0);
  EXPECT_TRUE(messages.isEmpty());
  QElapsedTimer clock;
  clock.start();
  EXPECT_EQ(check(silent, true), 0);
  EXPECT_GE(clock.elapsed(), 950);  // after the whole limit of 1000 ms, not before
  EXPECT_EQ(messages, QStringList{QStringLiteral("Tarvelle 错误: 服务器连接错误 [12002]")});
  EXPECT_EQ(icons, std::vector<QMessageBox::Icon>{QMessageBox::Warning});
}

TEST_F(UpdateCheck, OnlyTheFirst512BytesAreRead) {
  QByteArray large = "[Norvane_VER]" + QByteArray(100 * 1024, 'x');
  for (int i = 0; i < large.size(); ++i) large[i] = i < 13 ? large[i] : static_cast<char>('a' + i % 26);
  LoopbackHttpServer server(large);
  VersionFetch::Result result = VersionFetch::fetch(QUrl(server.url()));
  EXPECT_EQ(result.status, VersionFetch::Status::kRead);
  EXPECT_EQ(result.bytes, large.left(512));

  // An entry that ends within the 512 bytes is read; one that ends after
  // them is not.
  QByteArray head = "[Norvane_VER];" + QByteArray(480, '\n');
  LoopbackHttpServer within(head + "tarvelle=2.0.5.0;" + QByteArray(100 * 1024, ' '));
  LoopbackHttpServer beyond(head + QByteArray(20, '\n') + "tarvelle=2.0.5.0;" + QByteArray(100 * 1024, ' '));
  EXPECT_EQ(check(within, true), 0);
  EXPECT_EQ(shownVersions.size(), 2);
  shownVersions.clear();
  EXPECT_EQ(check(beyond, true), 0);
  EXPECT_TRUE(shownVersions.isEmpty());
  EXPECT_TRUE(messages.isEmpty());
}

}  // namespace
}  // namespace tv2
