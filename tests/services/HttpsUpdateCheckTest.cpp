// The update check against the real https address, answered by a server on
// loopback with a test certificate authority: run in a private mount and
// network namespace where the address's host name is 127.0.0.1 and the test
// authority stands in for the system's, so the program's TLS backend and its
// use of the system's authorities are what is tested. A missing backend or a
// certificate problem fails here instead of passing unnoticed.
//
// The test runs itself a second time inside the namespace (unshare, from
// util-linux; ip, from iproute2, brings the namespace's loopback up), after
// a script has made the keys and certificates there with openssl.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QSslCertificate>
#include <QSslKey>
#include <QSslSocket>
#include <QTemporaryDir>
#include <QUrl>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <string>
#include <vector>

#include "app/CTarvelle2App.h"
#include "platform/sim/SimMachine.h"
#include "platform/sim/SimPlatform.h"
#include "services/CUpdateDlg.h"
#include "services/ServiceAddresses.h"
#include "services/UpdateCheck.h"
#include "services/VersionFetch.h"
#include "tests/services/LoopbackHttpServer.h"

extern char** environ;

namespace tv2 {
namespace {

using testing::LoopbackHttpServer;

// Set (to the folder with the keys) in the run inside the namespace.
constexpr const char* kInsideVariable = "TV2_HTTPS_TEST_FOLDER";

QString realHost() { return QUrl(QString::fromLatin1(kVersionFileUrl)).host(); }

// Makes a test authority "trusted" (the only one the system will know) and
// an unknown one "stranger", each with a server certificate for the host,
// puts the system's authorities and host names in place inside the private
// namespace, then runs this test again there. $1 folder, $2 this program,
// $3 the host name.
constexpr const char* kNamespaceScript = R"(set -e
cd "$1"
printf 'subjectAltName=DNS:%s\nextendedKeyUsage=serverAuth\n' "$3" > server.ext
for name in trusted stranger; do
  openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 \
    -subj "/CN=Tarvelle2 test authority $name" -keyout $name.key -out $name.pem \
    -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign
  openssl req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -subj "/CN=$3" \
    -keyout $name-server.key -out $name-server.csr
  openssl x509 -req -in $name-server.csr -CA $name.pem -CAkey $name.key -CAcreateserial -days 2 \
    -out $name-server.pem -extfile server.ext
done
# The system's authorities as Debian lays them out: one bundle and the
# hashed names OpenSSL looks certificates up by.
mkdir certs
cp trusted.pem certs/ca-certificates.crt
cp trusted.pem certs/tarvelle2-test.pem
openssl rehash certs
printf '127.0.0.1 localhost\n127.0.0.1 %s\n' "$3" > hosts
ip link set lo up
mount --bind hosts /etc/hosts
mount --bind certs /etc/ssl/certs
exec "$2" --gtest_filter=HttpsUpdateCheck.*
)";

// Runs the script above under unshare with the output in a file; the exit
// status, or -1. posix_spawn rather than QProcess, whose fork
// ThreadSanitizer cannot follow in a process that runs threads.
int runInNamespace(const QDir& dir, const QString& outputFile) {
  const std::string folder = dir.path().toStdString();
  const std::string self = QCoreApplication::applicationFilePath().toStdString();
  const std::string host = realHost().toStdString();
  const std::string output = outputFile.toStdString();
  std::vector<std::string> arguments = {"unshare", "-mn", "--propagation", "private", "sh", "-c",
                                        kNamespaceScript, "sh", folder, self, host};
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  // The environment with the inside marker added.
  std::vector<std::string> variables;
  for (char** v = environ; *v != nullptr; ++v) variables.emplace_back(*v);
  variables.push_back(std::string(kInsideVariable) + "=" + folder);
  std::vector<char*> envp;
  for (std::string& variable : variables) envp.push_back(variable.data());
  envp.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  pid_t pid = -1;
  const int spawned = posix_spawnp(&pid, "unshare", &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return -1;
  int status = 0;
  if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
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
  QTemporaryDir folder;
  ASSERT_TRUE(folder.isValid());
  const QDir dir(folder.path());
  const QString outputFile = dir.filePath("output.txt");
  const int status = runInNamespace(dir, outputFile);
  QFile outputText(outputFile);
  const QString output = outputText.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(outputText.readAll()) : QString();
  if (status != 0 && output.contains("unshare failed")) {
    GTEST_SKIP() << "no private mount and network namespace here (needs root): " << output.toStdString();
  }
  EXPECT_EQ(status, 0) << output.toStdString();
  // The inner run really ran the checks, not nothing.
  EXPECT_TRUE(output.contains("[  PASSED  ] 1 test")) << output.toStdString();
}

}  // namespace
}  // namespace tv2
