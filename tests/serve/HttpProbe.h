#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdint>
#include <string>

namespace tv2::testing {

// A plain TCP connection to a loopback port, for HTTP requests written by
// hand: well-formed ones, garbage, or none at all.
class HttpProbe {
 public:
  explicit HttpProbe(int32_t port, int timeoutMs = 10000) {
    m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_fd < 0) return;
    timeval limit{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    ::setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    ::setsockopt(m_fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) close();
  }
  ~HttpProbe() { close(); }
  HttpProbe(const HttpProbe&) = delete;
  HttpProbe& operator=(const HttpProbe&) = delete;

  bool connected() const { return m_fd >= 0; }
  bool send(const std::string& bytes) {
    return m_fd >= 0 && ::send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
  }
  // Everything until the server closes the connection (or the time limit).
  std::string receiveAll() {
    std::string text;
    char buffer[4096];
    while (m_fd >= 0) {
      ssize_t n = ::recv(m_fd, buffer, sizeof buffer, 0);
      if (n <= 0) break;
      text.append(buffer, static_cast<size_t>(n));
    }
    return text;
  }
  void close() {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
  }

  // One GET: the whole answer, status line first.
  static std::string get(int32_t port, const std::string& path, int timeoutMs = 10000) {
    HttpProbe probe(port, timeoutMs);
    if (!probe.send("GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n")) return {};
    return probe.receiveAll();
  }
  // The status code of an answer, 0 when there is none.
  static int status(const std::string& answer) {
    if (answer.rfind("HTTP/1.", 0) != 0 || answer.size() < 12) return 0;
    return std::stoi(answer.substr(9, 3));
  }

 private:
  int m_fd = -1;
};

}  // namespace tv2::testing
