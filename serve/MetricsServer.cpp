#include "serve/MetricsServer.h"

#include <exception>
#include <vector>

#include <prometheus/exposer.h>

#include "serve/MetricsCollector.h"

namespace tv2 {

MetricsServer::MetricsServer() : m_collector(std::make_shared<MetricsCollector>()) {}

MetricsServer::~MetricsServer() { stop(); }

bool MetricsServer::start(const std::string& address, int32_t port, std::string* error) {
  if (m_exposer) return true;
  const std::string where = address + ":" + std::to_string(port);
  std::vector<std::string> options = {
      "listening_ports", where,
      "num_threads", std::to_string(kWorkerThreads),
      "request_timeout_ms", std::to_string(kRequestTimeoutMs),
      "max_request_size", "16384",
      // Connections are closed after each answer: an idle client holds no
      // worker between scrapes.
      "enable_keep_alive", "no",
  };
  // The library reports a socket it cannot bind by throwing; this is the one
  // place the program meets an exception, and it ends here as an error.
  try {
    m_exposer = std::make_unique<prometheus::Exposer>(options);
  } catch (const std::exception& failure) {
    *error = "cannot serve on " + where + ": " + failure.what();
    return false;
  }
  const std::vector<int> ports = m_exposer->GetListeningPorts();
  if (ports.empty()) {
    m_exposer.reset();
    *error = "cannot serve on " + where + ": no listening socket";
    return false;
  }
  m_address = address;
  m_port = ports.front();
  m_exposer->RegisterCollectable(m_collector);
  return true;
}

void MetricsServer::publish(const CTList<CProcessor_2>& processors) { m_collector->publish(&processors); }

void MetricsServer::stop() {
  // The exposer's destructor stops civetweb, which joins its workers.
  m_exposer.reset();
  m_collector->publish(nullptr);
  m_port = 0;
}

std::string MetricsServer::endpoint() const { return m_address + ":" + std::to_string(m_port); }

}  // namespace tv2
