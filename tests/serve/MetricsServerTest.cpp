// The endpoint over real sockets beside a running program on a simulated
// machine: what it serves and where, a port in use, and clients that send
// garbage, too much, or nothing at all while the display tick and the
// samplers go on.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "app/AppShell.h"
#include "app/CTarvelle2App.h"
#include "app/SamplingEngine.h"
#include "platform/sim/SimMachine.h"
#include "platform/sim/SimPlatform.h"
#include "serve/MetricsServer.h"
#include "tests/serve/HttpProbe.h"
#include "ui/QtSanitizerSuppressions.h"

namespace tv2 {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;
using testing::HttpProbe;

// The program as main runs it without a window: live samplers on a
// simulated machine with a load, the display tick driven by the test.
class LiveProgram {
 public:
  LiveProgram() {
    folder = std::filesystem::temp_directory_path() /
             ("tv2-serve-" + std::to_string(::getpid()) + "-" +
              ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(folder);
    machine = std::make_shared<sim::SimMachine>(*sim::SimMachine::preset("intel-snb"));
    machine->setLoadAll(0.6);
    platform = std::make_unique<sim::SimPlatform>(machine);
    platform->setProgramPath((folder / "tarvelle2").string());
    app = std::make_unique<CTarvelle2App>(*platform, shell);
    started = app->InitInstance();
  }
  ~LiveProgram() {
    if (started) app->ExitInstance();
    app.reset();
    std::filesystem::remove_all(folder);
  }
  // Points the usage summary has taken so far.
  int32_t usagePoints() const {
    const CCounter* usage = app->processors.At(0)->usageSummary;
    return usage == nullptr ? 0 : usage->history->count.load();
  }

  std::filesystem::path folder;
  std::shared_ptr<sim::SimMachine> machine;
  std::unique_ptr<sim::SimPlatform> platform;
  AppShell shell;
  std::unique_ptr<CTarvelle2App> app;
  bool started = false;
};

std::string body(const std::string& answer) {
  size_t end = answer.find("\r\n\r\n");
  return end == std::string::npos ? std::string() : answer.substr(end + 4);
}

TEST(MetricsServerTest, ServesTheCountersOnLoopbackAndNothingElse) {
  LiveProgram program;
  ASSERT_TRUE(program.started);
  MetricsServer server;
  std::string error;
  ASSERT_TRUE(server.start("127.0.0.1", 0, &error)) << error;
  ASSERT_GT(server.port(), 0);
  EXPECT_EQ(server.endpoint(), "127.0.0.1:" + std::to_string(server.port()));

  // Before start-up has published the packages: an answer without figures.
  std::string early = HttpProbe::get(server.port(), "/metrics");
  EXPECT_EQ(HttpProbe::status(early), 200) << early;
  EXPECT_EQ(body(early).find("tarvelle2_"), std::string::npos);

  server.publish(program.app->processors);
  for (int i = 0; i < 12; ++i) {
    std::this_thread::sleep_for(milliseconds(100));
    program.app->OnTimerTick();
  }
  std::string answer = HttpProbe::get(server.port(), "/metrics");
  EXPECT_EQ(HttpProbe::status(answer), 200) << answer;
  EXPECT_NE(answer.find("Content-Type: text/plain"), std::string::npos) << answer;
  const std::string series = "tarvelle2_usage_ratio{instance=\"0\",level=\"package\",package=\"0\"} ";
  const size_t at = body(answer).find(series);
  ASSERT_NE(at, std::string::npos) << answer;
  EXPECT_NEAR(std::stod(body(answer).substr(at + series.size())), 0.6, 0.006) << answer;
  EXPECT_NE(body(answer).find("tarvelle2_package_power_watts{"), std::string::npos);

  // No files, no other paths.
  for (const char* path : {"/", "/index.html", "/../../../../etc/passwd", "/metrics/../Tarvelle2.ini"}) {
    std::string other = HttpProbe::get(server.port(), path);
    EXPECT_NE(HttpProbe::status(other), 200) << path << ": " << other;
    EXPECT_EQ(other.find("root:"), std::string::npos) << path;
  }

  // The packages go only after the server stopped; afterwards nothing listens.
  const int32_t port = server.port();
  server.stop();
  EXPECT_FALSE(server.running());
  EXPECT_FALSE(HttpProbe(port).connected());
}

TEST(MetricsServerTest, APortInUseOrABadAddressIsAnErrorThatNamesIt) {
  MetricsServer first;
  std::string error;
  ASSERT_TRUE(first.start("127.0.0.1", 0, &error)) << error;
  MetricsServer second;
  EXPECT_FALSE(second.start("127.0.0.1", first.port(), &error));
  EXPECT_NE(error.find("127.0.0.1:" + std::to_string(first.port())), std::string::npos) << error;
  EXPECT_FALSE(second.running());
  error.clear();
  // An address this machine does not have.
  EXPECT_FALSE(second.start("192.0.2.1", 0, &error));
  EXPECT_NE(error.find("192.0.2.1"), std::string::npos) << error;
  // The first one serves on, undisturbed.
  EXPECT_EQ(HttpProbe::status(HttpProbe::get(first.port(), "/metrics")), 200);
}

// Runs the display tick for a while as main does; the longest tick.
steady_clock::duration tickFor(LiveProgram& program, milliseconds length, int* ticks) {
  auto longest = steady_clock::duration::zero();
  const auto begin = steady_clock::now();
  while (steady_clock::now() - begin < length) {
    std::this_thread::sleep_for(milliseconds(kTickMs));
    const auto before = steady_clock::now();
    program.app->OnTimerTick();
    longest = std::max(longest, steady_clock::now() - before);
    ++*ticks;
  }
  return longest;
}

// Garbage, half requests, oversized ones and a stream of connections: each
// gets an answer or is dropped, while the display tick and the samplers keep
// their pace and proper scrapes go on being answered.
TEST(MetricsServerTest, GarbageAndManyConnectionsStallNeitherTheProgramNorScrapes) {
  LiveProgram program;
  ASSERT_TRUE(program.started);
  MetricsServer server;
  std::string error;
  ASSERT_TRUE(server.start("127.0.0.1", 0, &error)) << error;
  server.publish(program.app->processors);
  const int32_t port = server.port();

  std::atomic<bool> stop{false};
  std::atomic<int> rejected{0};
  std::atomic<int> scraped{0};
  auto noise = [&](int offset) {
    const std::string garbage[] = {
        std::string("\x00\xff\xfe garbage\r\n\r\n", 15),
        "GET /metrics HTTP/9.9\r\n\r\n",
        "POST /metrics HTTP/1.1\r\nContent-Length: 99999999\r\n\r\nabc",
        "GET /metrics HTTP/1.1\r\nX: " + std::string(64 * 1024, 'a') + "\r\n\r\n",
        "GET " + std::string(20000, '/') + " HTTP/1.1\r\n\r\n",
        "GET /metrics HTTP/1.1\r\nHost: x\r\n",  // never finished
    };
    size_t round = static_cast<size_t>(offset);
    while (!stop.load()) {
      HttpProbe probe(port, 3 * MetricsServer::kRequestTimeoutMs);
      if (probe.send(garbage[round++ % std::size(garbage)])) {
        const int status = HttpProbe::status(probe.receiveAll());
        if (status >= 400) rejected.fetch_add(1);
      }
      if (HttpProbe::status(HttpProbe::get(port, "/metrics")) == 200) scraped.fetch_add(1);
    }
  };
  std::vector<std::thread> clients;
  for (int i = 0; i < 4; ++i) clients.emplace_back(noise, i);

  const int32_t pointsBefore = program.usagePoints();
  int ticks = 0;
  const auto longest = tickFor(program, milliseconds(2500), &ticks);
  stop = true;
  for (std::thread& client : clients) client.join();
  EXPECT_GE(ticks, 20);
  EXPECT_LT(longest, milliseconds(50));
  EXPECT_GE(program.usagePoints() - pointsBefore, 3);  // the usage sampler's passes went on
  EXPECT_GT(rejected.load(), 0);
  EXPECT_GT(scraped.load(), 0);
}

// More silent connections than the server has workers: the program keeps its
// pace, a scrape is answered once the time limit has dropped them, and the
// server stops promptly with such clients connected.
TEST(MetricsServerTest, SilentClientsAreDroppedAndDoNotHoldUpTheStop) {
  LiveProgram program;
  ASSERT_TRUE(program.started);
  MetricsServer server;
  std::string error;
  ASSERT_TRUE(server.start("127.0.0.1", 0, &error)) << error;
  server.publish(program.app->processors);
  const int32_t port = server.port();

  std::vector<std::unique_ptr<HttpProbe>> silent;
  for (int i = 0; i < MetricsServer::kWorkerThreads + 2; ++i) silent.push_back(std::make_unique<HttpProbe>(port));
  const int32_t pointsBefore = program.usagePoints();
  int ticks = 0;
  EXPECT_LT(tickFor(program, milliseconds(1200), &ticks), milliseconds(50));
  EXPECT_GE(program.usagePoints() - pointsBefore, 2);

  // Queued behind the silent ones: answered within two rounds of the limit.
  const auto asked = steady_clock::now();
  std::string answer = HttpProbe::get(port, "/metrics", 4 * MetricsServer::kRequestTimeoutMs);
  EXPECT_EQ(HttpProbe::status(answer), 200) << answer;
  EXPECT_LT(steady_clock::now() - asked, milliseconds(2 * MetricsServer::kRequestTimeoutMs + 500));

  for (auto& client : silent) client = std::make_unique<HttpProbe>(port);
  std::this_thread::sleep_for(milliseconds(100));
  const auto stopping = steady_clock::now();
  server.stop();
  EXPECT_LT(steady_clock::now() - stopping, milliseconds(MetricsServer::kRequestTimeoutMs));
}

}  // namespace
}  // namespace tv2
