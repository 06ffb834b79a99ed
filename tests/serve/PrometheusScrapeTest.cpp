// Debian's real Prometheus server scrapes the program running on a simulated
// machine with a fixed load, once a second; what it stored matches what the
// machine really did, and promtool accepts a scrape. Both programs run on
// loopback with ports the system picked and storage in a temporary folder.

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>
#include <thread>

#include "platform/sim/SimMachine.h"
#include "tests/serve/ChildProcess.h"
#include "tests/serve/HttpProbe.h"

namespace tv2 {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;
using testing::ChildProcess;
using testing::HttpProbe;

constexpr double kLoad = 0.7;

std::string readFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A loopback port nobody listens on right now.
int32_t freePort() {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  int32_t port = 0;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
    port = ntohs(address.sin_port);
  }
  ::close(fd);
  return port;
}

std::string urlEncode(const std::string& text) {
  std::string out;
  char buffer[4];
  for (unsigned char c : text) {
    if (std::isalnum(c) || c == '_' || c == '-' || c == '.') {
      out += static_cast<char>(c);
    } else {
      std::snprintf(buffer, sizeof buffer, "%%%02X", c);
      out += buffer;
    }
  }
  return out;
}

// Every value of an instant query's answer, in the order given.
std::vector<double> queryValues(int32_t port, const std::string& query) {
  const std::string answer = HttpProbe::get(port, "/api/v1/query?query=" + urlEncode(query));
  std::vector<double> values;
  static const std::regex value(R"re("value":\[[0-9.]+,"([^"]+)"\])re");
  for (auto it = std::sregex_iterator(answer.begin(), answer.end(), value); it != std::sregex_iterator(); ++it) {
    values.push_back(std::stod((*it)[1].str()));
  }
  return values;
}

// The text of one line with the given prefix in the log, once it appears.
std::string waitForLine(const std::filesystem::path& log, const std::string& prefix, milliseconds limit) {
  const auto end = steady_clock::now() + limit;
  while (steady_clock::now() < end) {
    const std::string text = readFile(log);
    if (size_t at = text.find(prefix); at != std::string::npos) {
      return text.substr(at + prefix.size(), text.find('\n', at) - at - prefix.size());
    }
    std::this_thread::sleep_for(milliseconds(50));
  }
  return {};
}

class PrometheusScrapeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/tv2-prometheus-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    m_folder = pattern;
  }
  void TearDown() override { std::filesystem::remove_all(m_folder); }
  std::filesystem::path m_folder;
};

TEST_F(PrometheusScrapeTest, StoredFiguresMatchTheSimulatedMachine) {
  // The program first: it picks its port and says which.
  const std::filesystem::path programLog = m_folder / "tarvelle2.log";
  ChildProcess program({TV2_PROGRAM, "--simulate", "intel-snb", "--load", "0.7", "--serve", "0"}, programLog,
                       {"HOME=" + m_folder.string(), "XDG_CONFIG_HOME=" + (m_folder / "config").string()});
  ASSERT_TRUE(program.started());
  const std::string url = waitForLine(programLog, "serving the counters at http://127.0.0.1:", milliseconds(15000));
  ASSERT_FALSE(url.empty()) << readFile(programLog);
  const int32_t programPort = std::stoi(url);

  const std::string scrape = HttpProbe::get(programPort, "/metrics");
  ASSERT_EQ(HttpProbe::status(scrape), 200) << scrape;
  {
    std::ofstream(m_folder / "scrape.txt", std::ios::binary) << scrape.substr(scrape.find("\r\n\r\n") + 4);
    const std::string command = "promtool check metrics < '" + (m_folder / "scrape.txt").string() + "' > '" +
                                (m_folder / "promtool.txt").string() + "' 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0) << readFile(m_folder / "promtool.txt");
  }

  // Prometheus, scraping every second.
  std::ofstream(m_folder / "prometheus.yml") << "global:\n"
                                                "  scrape_interval: 1s\n"
                                                "  scrape_timeout: 1s\n"
                                                "scrape_configs:\n"
                                                "  - job_name: tarvelle2\n"
                                                "    static_configs:\n"
                                                "      - targets: ['127.0.0.1:"
                                             << programPort << "']\n";
  const int32_t port = freePort();
  ASSERT_GT(port, 0);
  const std::filesystem::path serverLog = m_folder / "prometheus.log";
  ChildProcess server({"prometheus", "--config.file=" + (m_folder / "prometheus.yml").string(),
                       "--storage.tsdb.path=" + (m_folder / "data").string(),
                       "--web.listen-address=127.0.0.1:" + std::to_string(port), "--log.level=warn"},
                      serverLog);
  ASSERT_TRUE(server.started());

  // A few scrapes stored.
  const std::string usage = "tarvelle2_usage_ratio{job=\"tarvelle2\",level=\"package\",package=\"0\"}";
  const auto end = steady_clock::now() + milliseconds(30000);
  double stored = 0;
  while (steady_clock::now() < end && server.running()) {
    std::vector<double> counts = queryValues(port, "count_over_time(" + usage + "[1m])");
    if (!counts.empty()) stored = counts.front();
    if (stored >= 4) break;
    std::this_thread::sleep_for(milliseconds(250));
  }
  ASSERT_GE(stored, 4) << readFile(serverLog) << queryValues(port, "up").size();

  // The truth: the same machine under the same load.
  sim::SimMachine machine(*sim::SimMachine::preset("intel-snb"));
  machine.setLoadAll(kLoad);
  const double ipc = machine.trueRate(0, sim::SimEvent::kInstructions) / machine.trueRate(0, sim::SimEvent::kUnhaltedCycles);
  const double watts = machine.truePower(0, sim::SimPowerDomain::kPackage);

  // Every point stored over the last scrapes, the first ones included.
  auto expectAllNear = [&](const std::string& series, double truth, size_t seriesCount) {
    for (const char* over : {"min_over_time", "max_over_time"}) {
      std::vector<double> values = queryValues(port, std::string(over) + "(" + series + "[1m])");
      EXPECT_EQ(values.size(), seriesCount) << series;
      for (double value : values) EXPECT_NEAR(value, truth, truth * 0.01) << over << " " << series;
    }
  };
  expectAllNear(usage, kLoad, 1);
  expectAllNear("tarvelle2_usage_ratio{level=\"cpu\"}", kLoad, 8);
  expectAllNear("tarvelle2_instructions_per_cycle{level=\"package\"}", ipc, 1);
  expectAllNear("tarvelle2_instructions_per_cycle{level=\"cpu\"}", ipc, 8);
  expectAllNear("tarvelle2_package_power_watts", watts, 1);
  EXPECT_EQ(queryValues(port, "up{job=\"tarvelle2\"}"), std::vector<double>{1.0});

  // Both end in order on SIGTERM.
  const int programStatus = program.stop(SIGTERM, milliseconds(15000));
  EXPECT_TRUE(WIFEXITED(programStatus) && WEXITSTATUS(programStatus) == 0) << programStatus << readFile(programLog);
  EXPECT_NE(server.stop(SIGTERM, milliseconds(15000)), -1);
}

}  // namespace
}  // namespace tv2
