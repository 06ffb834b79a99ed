#pragma once

#include <memory>
#include <vector>

#include <QByteArray>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

namespace tv2::testing {

// A tiny HTTP server on 127.0.0.1 that answers every GET with one body. It
// runs on the test's own thread: the update check blocks that thread only
// through a local event loop, so the server still gets its turn.
class LoopbackHttpServer {
 public:
  enum class Mode {
    kAnswer,   // headers and the whole body, then close
    kSilent,   // accept the connection and never say a word
    kTrickle,  // headers announcing a large body, then one byte every 50 ms
  };

  explicit LoopbackHttpServer(QByteArray body, Mode mode = Mode::kAnswer) : m_body(std::move(body)), m_mode(mode) {
    m_server.listen(QHostAddress::LocalHost, 0);
    QObject::connect(&m_server, &QTcpServer::newConnection, [this] { accept(); });
  }

  QString url() const { return QStringLiteral("http://127.0.0.1:%1/versions/version.txt").arg(m_server.serverPort()); }
  // The request head of the last GET.
  QByteArray lastRequest;
  int requests = 0;

 private:
  void accept() {
    while (QTcpSocket* socket = m_server.nextPendingConnection()) {
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

  QTcpServer m_server;
  QByteArray m_body;
  Mode m_mode;
};

}  // namespace tv2::testing
