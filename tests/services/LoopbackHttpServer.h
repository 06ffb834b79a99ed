#pragma once

#include <memory>
#include <vector>

#include <QByteArray>
#include <QHostAddress>
#include <QSslConfiguration>
#include <QSslServer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

namespace tv2::testing {

// A tiny HTTP (or HTTPS) server on 127.0.0.1 that answers every GET with one body. It
// runs on the test's own thread: the update check blocks that thread only
// through a local event loop, so the server still gets its turn.
class LoopbackHttpServer {
 public:
  enum class Mode {
    kAnswer,   // headers and the whole body, then close
    kSilent,   // accept the connection and never say a word
    kTrickle,  // headers announcing a large body, then one byte every 50 ms
  };

  explicit LoopbackHttpServer(QByteArray body, Mode mode = Mode::kAnswer) : LoopbackHttpServer(std::move(body), mode, 0) {}

  // The same over TLS with the given certificate and key, on a fixed port
  // (443 for the real address inside a private network namespace).
  LoopbackHttpServer(QByteArray body, Mode mode, const QSslConfiguration& tls, quint16 port)
      : LoopbackHttpServer(std::move(body), mode, port, &tls) {}

  bool listening() const { return m_server->isListening(); }
  QString url() const { return QStringLiteral("http://127.0.0.1:%1/versions/version.txt").arg(m_server->serverPort()); }
  // The request head of the last GET.
  QByteArray lastRequest;
  int requests = 0;

 private:
  LoopbackHttpServer(QByteArray body, Mode mode, quint16 port, const QSslConfiguration* tls = nullptr)
      : m_body(std::move(body)), m_mode(mode) {
    if (tls != nullptr) {
      auto server = std::make_unique<QSslServer>();
      server->setSslConfiguration(*tls);
      m_server = std::move(server);
    } else {
      m_server = std::make_unique<QTcpServer>();
    }
    m_server->listen(QHostAddress::LocalHost, port);
    // A QSslServer hands a connection on once its handshake is done, and
    // says so only through pendingConnectionAvailable.
    QObject::connect(m_server.get(), &QTcpServer::newConnection, [this] { accept(); });
    QObject::connect(m_server.get(), &QTcpServer::pendingConnectionAvailable, [this] { accept(); });
  }

  void accept() {
    while (QTcpSocket* socket = m_server->nextPendingConnection()) {
      auto buffer = std::make_shared<QByteArray>();
      QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket, buffer] {
        *buffer += socket->readAll();
        if (!buffer->contains("\r\n\r\n")) return;
        lastRequest = *buffer;
        buffer->clear();
        ++requests;
        answer(socket);
      });
    }
  }

  void answer(QTcpSocket* socket) {
    if (m_mode == Mode::kSilent) return;
    if (m_mode == Mode::kTrickle) {
      socket->write("HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 100000\r\n\r\n");
      auto* timer = new QTimer(socket);
      QObject::connect(timer, &QTimer::timeout, socket, [socket] { socket->write("x"); });
      timer->start(50);
      return;
    }
    QByteArray head = "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: " +
                      QByteArray::number(m_body.size()) + "\r\nConnection: close\r\n\r\n";
    socket->write(head + m_body);
    socket->disconnectFromHost();
  }

  std::unique_ptr<QTcpServer> m_server;
  QByteArray m_body;
  Mode m_mode;
};

}  // namespace tv2::testing
