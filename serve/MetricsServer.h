#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "counters/model/CTList.h"
#include "cpu/CProcessor_2.h"

namespace prometheus {
class Exposer;
}

namespace tv2 {

class MetricsCollector;

// The HTTP endpoint: /metrics in the Prometheus text format, every other
// path 404, no files served. prometheus-cpp's exposer runs civetweb, which
// accepts on a thread of its own and answers on a fixed pool of workers; a
// request that is not complete within kRequestTimeoutMs, or a reader that
// does not take the answer in that time, is dropped. Malformed requests,
// many connections or slow clients therefore hold up other scrapes at
// worst, never the program: no thread of the monitor ever waits for the
// server, and a scrape only holds the package locks shared (MetricsCollector).
//
// Threads: start, publish, stop and the destructor run on the main thread;
// the server's own threads run between start and stop.
class MetricsServer {
 public:
  // A scraper sends its request at once and reads a few tens of kilobytes;
  // a client that has not finished its request, or not taken the answer,
  // after kRequestTimeoutMs holds a worker no longer.
  static constexpr int32_t kWorkerThreads = 8;
  static constexpr int32_t kRequestTimeoutMs = 2000;

  MetricsServer();
  ~MetricsServer();
  MetricsServer(const MetricsServer&) = delete;
  MetricsServer& operator=(const MetricsServer&) = delete;

  // Listens on address (numeric IPv4, or IPv6 in brackets) and port (0: one
  // the system picks); false with *error when the socket cannot be had.
  // Until publish, /metrics answers with no families.
  bool start(const std::string& address, int32_t port, std::string* error);
  // Scrapes read these packages from now on; they must stay until stop.
  void publish(const CTList<CProcessor_2>& processors);
  // Closes the socket and waits for every thread of the server, including a
  // scrape in progress; nothing reads the packages afterwards. Idempotent.
  void stop();

  bool running() const { return m_exposer != nullptr; }
  // The port listened on (the one the system picked for 0); 0 when stopped.
  int32_t port() const { return m_port; }
  // "127.0.0.1:9464", "[::1]:9464": where the server listens.
  std::string endpoint() const;

 private:
  std::shared_ptr<MetricsCollector> m_collector;
  std::unique_ptr<prometheus::Exposer> m_exposer;
  std::string m_address;
  int32_t m_port = 0;
};

}  // namespace tv2
