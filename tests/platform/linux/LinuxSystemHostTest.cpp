// The system driver host as a copy without root sees it: the reason it
// gives when the host cannot be used, and the service manager view that
// reports the installed host and never stops or removes it.

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/ErrorCodes.h"
#include "platform/ServiceManager.h"
#include "platform/linux/LinuxSystemHost.h"
#include "platform/linux/LinuxSystemServiceManager.h"

namespace tv2::test {
namespace {

namespace fs = std::filesystem;

TEST(LinuxSystemHostExplain, NamesTheFirstObstacleAndWhatToDo) {
  LinuxSystemHost::Facts facts;
  facts.userName = "ada";
  facts.groupName = "tarvelle2";
  EXPECT_NE(LinuxSystemHost::explain(facts).find("no system driver host is installed"), std::string::npos);

  facts.unitInstalled = true;
  EXPECT_NE(LinuxSystemHost::explain(facts).find("systemctl enable --now tarvelle2-host.socket"), std::string::npos);

  facts.socketPresent = true;
  EXPECT_EQ(LinuxSystemHost::explain(facts),
            "you are not in group tarvelle2: sudo adduser ada tarvelle2, then log in again");
  facts.userListedInGroup = true;
  EXPECT_EQ(LinuxSystemHost::explain(facts), "you were added to group tarvelle2 after logging in: log in again");

  facts.processInGroup = true;
  EXPECT_NE(LinuxSystemHost::explain(facts).find("does not answer"), std::string::npos);
  facts.answers = true;
  EXPECT_EQ(LinuxSystemHost::explain(facts), "");
  // A socket without the unit file (installed by hand) is just as good.
  facts.unitInstalled = false;
  EXPECT_EQ(LinuxSystemHost::explain(facts), "");
  for (const std::string& text : {std::string("a"), LinuxSystemHost::explain(LinuxSystemHost::Facts{})})
    EXPECT_EQ(text.find('\n'), std::string::npos) << "one line";
}

class LinuxSystemServiceManagerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/tv2-system-host-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    root = pattern;
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(root, ignored);
  }
  std::string socketPath() const { return root + "/host.sock"; }
  std::string unitPath() const { return root + "/tarvelle2-host.socket"; }
  void makeSocket() {
    int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socketPath().c_str(), sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::close(fd);
  }

  std::string root;
};

TEST_F(LinuxSystemServiceManagerTest, ReportsTheInstalledRunningHostAndNeverStopsOrRemovesIt) {
  if (::geteuid() != 0) GTEST_SKIP() << "the system host's socket is root's";
  LinuxSystemHost host(socketPath(), {unitPath()});
  LinuxSystemServiceManager manager(host);
  ServiceStatus status;

  // Nothing installed.
  EXPECT_FALSE(host.installed());
  EXPECT_EQ(manager.createService("kzor138", "kzor138", "/x"), kErrorAccessDenied);
  EXPECT_EQ(manager.startService("kzor138"), kErrorServiceDoesNotExist);

  // The unit is installed but its socket is not active.
  std::ofstream(unitPath()) << "[Socket]\n";
  EXPECT_TRUE(host.installed());
  EXPECT_EQ(manager.createService("kzor138", "kzor138", "/x"), kErrorServiceExists);
  EXPECT_EQ(manager.startService("kzor138"), kErrorAccessDenied);
  EXPECT_EQ(manager.controlService("kzor138", kServiceControlInterrogate, &status), kErrorServiceNotActive);
  EXPECT_EQ(status.state, kServiceStopped);

  // Active: the driver client's install path counts 1073 and 1056 as success.
  makeSocket();
  EXPECT_EQ(manager.createService("kzor138", "kzor138", "/x"), kErrorServiceExists);
  EXPECT_EQ(manager.startService("kzor138"), kErrorServiceAlreadyRunning);
  EXPECT_EQ(manager.controlService("kzor138", kServiceControlInterrogate, &status), kOk);
  EXPECT_EQ(status.state, kServiceRunning);
  status = ServiceStatus{};
  EXPECT_EQ(manager.controlService("kzor138", kServiceControlStop, &status), kErrorAccessDenied);
  EXPECT_EQ(status.state, kServiceRunning);
  EXPECT_EQ(manager.deleteService("kzor138"), kErrorAccessDenied);
  struct stat info;
  EXPECT_EQ(::lstat(socketPath().c_str(), &info), 0);
  EXPECT_EQ(::lstat(unitPath().c_str(), &info), 0);
}

TEST_F(LinuxSystemServiceManagerTest, ASocketOfAnotherUserDoesNotCount) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs to give the socket away";
  makeSocket();
  ASSERT_EQ(::chown(socketPath().c_str(), 65534, 65534), 0);
  LinuxSystemHost host(socketPath(), {unitPath()});
  EXPECT_FALSE(host.socketPresent());
  EXPECT_FALSE(host.installed());
}

}  // namespace
}  // namespace tv2::test
