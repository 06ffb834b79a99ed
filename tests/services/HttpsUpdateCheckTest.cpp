// The update check against the real https address, answered by a server on
// loopback with a test certificate authority: run in a private mount and
// network namespace where the address's host name is 127.0.0.1 and the test
// authority stands in for the system's, so the program's TLS backend and its
// use of the system's authorities are what is tested. A missing backend or a
// certificate problem fails here instead of passing unnoticed.
//
// The test runs itself a second time inside the namespace (unshare, from
// util-linux; ip, from iproute2, brings the namespace's loopback up) and
// makes its keys and certificates with openssl.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QSslCertificate>
#include <QSslKey>
#include <QSslSocket>
#include <QTemporaryDir>
#include <QUrl>

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

// Set (to the folder with the keys) in the run inside the namespace.
constexpr const char* kInsideVariable = "TV2_HTTPS_TEST_FOLDER";

QString realHost() { return QUrl(QString::fromLatin1(kVersionFileUrl)).host(); }

bool run(const QString& program, const QStringList& arguments, QString* output = nullptr) {
  QProcess process;
  process.setProcessChannelMode(QProcess::MergedChannels);
  process.start(program, arguments);
  const bool finished = process.waitForFinished(60000);
  if (output != nullptr) *output = QString::fromLocal8Bit(process.readAll());
  return finished && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

// An authority (name.pem, name.key) and, signed by it, a server certificate
// for host (name-server.pem, name-server.key).
bool makeAuthorityAndServer(const QDir& dir, const QString& name, const QString& host) {
  const QString ca = dir.filePath(name);
  const QString server = dir.filePath(name + QStringLiteral("-server"));
  QString output;
  const bool made =
      run("openssl", {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-days",
                      "2", "-subj", "/CN=Tarvelle2 test authority " + name, "-keyout", ca + ".key", "-out", ca + ".pem",
                      "-addext", "basicConstraints=critical,CA:TRUE", "-addext", "keyUsage=critical,keyCertSign,cRLSign"},
          &output) &&
      run("openssl", {"req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-subj",
                      "/CN=" + host, "-keyout", server + ".key", "-out", server + ".csr"},
          &output) &&
      run("openssl", {"x509", "-req", "-in", server + ".csr", "-CA", ca + ".pem", "-CAkey", ca + ".key",
                      "-CAcreateserial", "-days", "2", "-out", server + ".pem", "-extfile", dir.filePath("server.ext")},
          &output);
  if (!made) ADD_FAILURE() << "openssl: " << output.toStdString();
  return made;
}

QSslConfiguration serverConfiguration(const QDir& dir, const QString& name) {
  QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
  QFile certificate(dir.filePath(name + QStringLiteral("-server.pem")));
  QFile key(dir.filePath(name + QStringLiteral("-server.key")));
  EXPECT_TRUE(certificate.open(QIODevice::ReadOnly));
  EXPECT_TRUE(key.open(QIODevice::ReadOnly));
  tls.setLocalCertificate(QSslCertificate(&certificate, QSsl::Pem));
  tls.setPrivateKey(QSslKey(&key, QSsl::Ec, QSsl::Pem));
  tls.setPeerVerifyMode(QSslSocket::VerifyNone);
  return tls;
}

// The checks, inside the namespace: the real address with no test URL.
void checkInsideTheNamespace(const QDir& dir) {
  ASSERT_TRUE(QSslSocket::supportsSsl()) << "no TLS backend: " << QSslSocket::activeBackend().toStdString();

  auto machine = std::make_shared<sim::SimMachine>(*sim::SimMachine::preset("intel-snb"));
  sim::SimPlatform platform(machine);
  AppShell shell;
  CTarvelle2App app(platform, shell);
  app.fileVersion = FileVersion{2, 0, 4, 0};
  QStringList messages;
  QStringList shownVersions;
  UpdateCheckOptions options;  // the real version file's address
  options.fetchLimitMs = 3000;
  options.messageBox = [&](const QString& text, const QString& caption, QMessageBox::Icon) {
    messages.append(caption + QStringLiteral(": ") + text);
  };
  options.openPage = [](const QString&) {};
  options.runDialog = [&](CUpdateDlg& dialog) {
    shownVersions = {dialog.programVersionLabel()->text(), dialog.publishedVersionLabel()->text()};
    dialog.closeButton()->click();
    return dialog.result();
  };
  const QByteArray newer = "[Norvane_VER]\r\nnorvane-tools=3.1.0.0;\r\ntarvelle=2.0.5.0;\r\n";

  {
    // Certified by the authority the system trusts: read, compared, shown.
    LoopbackHttpServer server(newer, LoopbackHttpServer::Mode::kAnswer, serverConfiguration(dir, "trusted"), 443);
    ASSERT_TRUE(server.listening());
    EXPECT_EQ(CheckForUpdate(app, nullptr, true, options), 0);
    EXPECT_TRUE(messages.isEmpty()) << messages.join('\n').toStdString();
    EXPECT_EQ(shownVersions, (QStringList{QStringLiteral("2.04.0"), QStringLiteral("2.05.0")}));
    ASSERT_EQ(server.requests, 1);
    EXPECT_TRUE(server.lastRequest.startsWith("GET /versions/version.txt HTTP/1.1\r\n"));
    EXPECT_TRUE(server.lastRequest.contains("\r\nHost: " + realHost().toLatin1() + "\r\n"))
        << server.lastRequest.constData();
  }
  {
    // Certified by an authority the system does not know: a secure-channel
    // failure, told from the menu, silent at start; the request never goes out.
    LoopbackHttpServer server(newer, LoopbackHttpServer::Mode::kAnswer, serverConfiguration(dir, "stranger"), 443);
    ASSERT_TRUE(server.listening());
    shownVersions.clear();
    EXPECT_EQ(CheckForUpdate(app, nullptr, false, options), 0);
    EXPECT_TRUE(messages.isEmpty());
    EXPECT_EQ(CheckForUpdate(app, nullptr, true, options), 0);
    EXPECT_EQ(messages, QStringList{QStringLiteral("Tarvelle 错误: 服务器连接错误 [12157]")});
    EXPECT_TRUE(shownVersions.isEmpty());
    EXPECT_EQ(server.requests, 0);
  }
  {
    // Completes the handshake and never answers the request: the timeout,
    // after the whole limit, from the menu only.
    LoopbackHttpServer server("", LoopbackHttpServer::Mode::kSilent, serverConfiguration(dir, "trusted"), 443);
    ASSERT_TRUE(server.listening());
    messages.clear();
    options.fetchLimitMs = 1500;
    EXPECT_EQ(CheckForUpdate(app, nullptr, false, options), 0);
    EXPECT_TRUE(messages.isEmpty());
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(CheckForUpdate(app, nullptr, true, options), 0);
    EXPECT_GE(clock.elapsed(), 1450);
    EXPECT_EQ(messages, QStringList{QStringLiteral("Tarvelle 错误: 服务器连接错误 [12002]")});
  }
}

TEST(HttpsUpdateCheck, TheRealAddressIsCheckedThroughTheSystemsAuthorities) {
  if (const QByteArray inside = qgetenv(kInsideVariable); !inside.isEmpty()) {
    checkInsideTheNamespace(QDir(QString::fromLocal8Bit(inside)));
    return;
  }
  QString output;
  if (!run("unshare", {"-mn", "true"}, &output)) {
    GTEST_SKIP() << "no private mount and network namespace here (needs root): " << output.toStdString();
  }

  QTemporaryDir folder;
  ASSERT_TRUE(folder.isValid());
  const QDir dir(folder.path());
  const QString host = realHost();
  {
    QFile ext(dir.filePath("server.ext"));
    ASSERT_TRUE(ext.open(QIODevice::WriteOnly));
    ext.write(("subjectAltName=DNS:" + host + "\nextendedKeyUsage=serverAuth\n").toLatin1());
  }
  ASSERT_TRUE(makeAuthorityAndServer(dir, "trusted", host));
  ASSERT_TRUE(makeAuthorityAndServer(dir, "stranger", host));
  // The system's authorities, as Debian lays them out: one bundle and the
  // hashed names OpenSSL looks certificates up by; only the trusted one.
  ASSERT_TRUE(dir.mkdir("certs"));
  ASSERT_TRUE(QFile::copy(dir.filePath("trusted.pem"), dir.filePath("certs/ca-certificates.crt")));
  ASSERT_TRUE(QFile::copy(dir.filePath("trusted.pem"), dir.filePath("certs/tarvelle2-test.pem")));
  ASSERT_TRUE(run("openssl", {"rehash", dir.filePath("certs")}, &output)) << output.toStdString();
  {
    QFile hosts(dir.filePath("hosts"));
    ASSERT_TRUE(hosts.open(QIODevice::WriteOnly));
    hosts.write(("127.0.0.1 localhost\n127.0.0.1 " + host + "\n").toLatin1());
  }

  // Inside: loopback up, the name and the authorities in place, then this
  // test again.
  const QString script = QStringLiteral(
      "set -e; ip link set lo up; mount --bind \"$1/hosts\" /etc/hosts; "
      "mount --bind \"$1/certs\" /etc/ssl/certs; exec \"$2\" --gtest_filter=HttpsUpdateCheck.*");
  QProcess inner;
  inner.setProcessChannelMode(QProcess::MergedChannels);
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert(kInsideVariable, dir.path());
  inner.setProcessEnvironment(environment);
  inner.start("unshare", {"-mn", "--propagation", "private", "sh", "-c", script, "sh", dir.path(),
                          QCoreApplication::applicationFilePath()});
  ASSERT_TRUE(inner.waitForFinished(50000));
  const QString innerOutput = QString::fromLocal8Bit(inner.readAll());
  EXPECT_EQ(inner.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(inner.exitCode(), 0) << innerOutput.toStdString();
  // The inner run really ran the checks, not nothing.
  EXPECT_TRUE(innerOutput.contains("[  PASSED  ] 1 test")) << innerOutput.toStdString();
}

}  // namespace
}  // namespace tv2
