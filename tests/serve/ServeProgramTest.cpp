// --serve on the real program as a process: it serves without a window until
// SIGTERM or SIGINT ends it in order, and a port it cannot have ends it at
// once with the reason.

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

#include "tests/serve/ChildProcess.h"
#include "tests/serve/HttpProbe.h"

namespace tv2 {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;
using testing::ChildProcess;
using testing::HttpProbe;

class ServeProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/tv2-serve-program-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    m_folder = pattern;
    m_log = m_folder / "tarvelle2.log";
  }
  void TearDown() override { std::filesystem::remove_all(m_folder); }

  std::unique_ptr<ChildProcess> start(const std::string& serve) {
    return std::make_unique<ChildProcess>(
        std::vector<std::string>{TV2_PROGRAM, "--simulate", "intel-snb", "--serve", serve}, m_log.string(),
        std::vector<std::string>{"HOME=" + m_folder.string(), "XDG_CONFIG_HOME=" + (m_folder / "config").string()});
  }
  std::string log() const {
    std::ifstream in(m_log, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  // The port the program says it serves on; 0 when it did not say so in time.
  int32_t servedPort() const {
    const std::string prefix = "serving the counters at http://127.0.0.1:";
    const auto end = steady_clock::now() + milliseconds(15000);
    while (steady_clock::now() < end) {
      const std::string text = log();
      if (size_t at = text.find(prefix); at != std::string::npos) return std::stoi(text.substr(at + prefix.size()));
      std::this_thread::sleep_for(milliseconds(50));
    }
    return 0;
  }

  std::filesystem::path m_folder;
  std::filesystem::path m_log;
};

TEST_F(ServeProgramTest, ServesWithoutAWindowUntilATerminationSignal) {
  for (int signal : {SIGTERM, SIGINT}) {
    SCOPED_TRACE(signal);
    auto program = start("0");
    ASSERT_TRUE(program->started());
    const int32_t port = servedPort();
    ASSERT_GT(port, 0) << log();
    // Once start-up is done the counters are there.
    std::string answer;
    const auto end = steady_clock::now() + milliseconds(15000);
    while (steady_clock::now() < end && answer.find("tarvelle2_package_power_watts{") == std::string::npos) {
      std::this_thread::sleep_for(milliseconds(200));
      answer = HttpProbe::get(port, "/metrics");
    }
    EXPECT_NE(answer.find("tarvelle2_usage_ratio{"), std::string::npos) << answer << log();
    EXPECT_NE(answer.find("tarvelle2_package_power_watts{"), std::string::npos) << answer;

    const int status = program->stop(signal, milliseconds(10000));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status << log();
    EXPECT_FALSE(HttpProbe(port).connected());
  }
}

TEST_F(ServeProgramTest, APortInUseEndsTheProgramWithTheReason) {
  // Someone else listens on the port.
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::listen(fd, 1), 0);
  ASSERT_EQ(::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length), 0);
  const int32_t port = ntohs(address.sin_port);

  auto program = start(std::to_string(port));
  const int status = program->stop(0, milliseconds(10000));  // signal 0: only wait
  ::close(fd);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status << log();
  EXPECT_NE(log().find("cannot serve on 127.0.0.1:" + std::to_string(port)), std::string::npos) << log();
}

}  // namespace
}  // namespace tv2
