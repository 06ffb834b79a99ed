#pragma once

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QFile>
#include <QTemporaryDir>

extern char** environ;

namespace tv2::testing {

// A D-Bus daemon of the test's own, listening in a temporary folder; the
// test stops its own child when done. Started with posix_spawn rather than
// QProcess, whose fork ThreadSanitizer cannot follow in a process that
// already runs threads.
class PrivateBus {
 public:
  PrivateBus() {
    QString config = m_dir.filePath(QStringLiteral("bus.conf"));
    QFile file(config);
    if (!file.open(QIODevice::WriteOnly)) return;
    file.write(QStringLiteral(
                   "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
                   " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                   "<busconfig><type>session</type><listen>unix:dir=%1</listen><auth>EXTERNAL</auth>\n"
                   "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
                   "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n")
                   .arg(m_dir.path())
                   .toUtf8());
    file.close();
    int out[2];
    if (::pipe(out) != 0) return;
    std::string configArgument = "--config-file=" + config.toStdString();
    char* argv[] = {const_cast<char*>("dbus-daemon"), configArgument.data(), const_cast<char*>("--nofork"),
                    const_cast<char*>("--nopidfile"), const_cast<char*>("--print-address=1"), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    posix_spawn_file_actions_addclose(&actions, out[1]);
    if (posix_spawnp(&m_pid, "dbus-daemon", &actions, nullptr, argv, environ) != 0) m_pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    std::string line;
    pollfd wait{out[0], POLLIN, 0};
    while (m_pid > 0 && line.find('\n') == std::string::npos && ::poll(&wait, 1, 5000) > 0) {
      char buffer[256];
      ssize_t n = ::read(out[0], buffer, sizeof buffer);
      if (n <= 0) break;
      line.append(buffer, static_cast<size_t>(n));
    }
    ::close(out[0]);
    m_address = QString::fromStdString(line).trimmed();
  }
  ~PrivateBus() {
    if (m_pid <= 0) return;
    ::kill(m_pid, SIGTERM);
    ::waitpid(m_pid, nullptr, 0);
  }
  PrivateBus(const PrivateBus&) = delete;
  PrivateBus& operator=(const PrivateBus&) = delete;

  QString address() const { return m_address; }

 private:
  QTemporaryDir m_dir;
  pid_t m_pid = -1;
  QString m_address;
};

// Stands in for systemd-logind on a private bus: owns its name and sends
// its PrepareForSleep signal.
class StandInLogind {
 public:
  explicit StandInLogind(const QString& address)
      : m_name(QStringLiteral("stand-in-logind-%1").arg(++s_instances)),
        m_bus(QDBusConnection::connectToBus(address, m_name)) {
    m_registered = m_bus.registerService(QStringLiteral("org.freedesktop.login1"));
  }
  ~StandInLogind() { QDBusConnection::disconnectFromBus(m_name); }
  StandInLogind(const StandInLogind&) = delete;
  StandInLogind& operator=(const StandInLogind&) = delete;

  bool registered() const { return m_registered; }
  void prepareForSleep(bool start) {
    QDBusMessage signal = QDBusMessage::createSignal(
        QStringLiteral("/org/freedesktop/login1"), QStringLiteral("org.freedesktop.login1.Manager"),
        QStringLiteral("PrepareForSleep"));
    signal << start;
    m_bus.send(signal);
  }

 private:
  static inline int s_instances = 0;
  QString m_name;
  QDBusConnection m_bus;
  bool m_registered = false;
};

}  // namespace tv2::testing
