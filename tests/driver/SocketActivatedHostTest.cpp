// The driver host started the way its system service starts it: a service
// manager binds the socket (owner root, a group, mode 0660) and passes it as
// descriptor 3 with LISTEN_PID/LISTEN_FDS. Who gets served, which sockets the
// host refuses to serve on, and that the socket file outlives the host.

#include <gtest/gtest.h>

#include <grp.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "driver/host/HostOptions.h"
#include "driver/protocol/DeviceRequests.h"
#include "driver/protocol/FrameCodec.h"
#include "driver/protocol/LittleEndian.h"
#include "tests/driver/HostHarness.h"

namespace tv2::test {
namespace {

constexpr gid_t kTestGroup = 64123;  // a group nobody on the machine has
constexpr uid_t kNobody = 65534;

struct Launch {
  mode_t socketMode = 0660;
  gid_t socketGroup = kTestGroup;
  bool passSocket = true;
  bool listenPidIsHost = true;
  std::string boundPath;  // empty: the harness's socket path
};

class SocketActivatedHostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::geteuid() != 0) GTEST_SKIP() << "the driver host serves root only";
    ASSERT_FALSE(tree.root().empty());
    // Others may walk to the socket; only the socket's mode and the host decide.
    ASSERT_EQ(::chmod(tree.root().c_str(), 0755), 0);
    ASSERT_EQ(::chmod((tree.root() + "/run").c_str(), 0755), 0);
  }
  void TearDown() override {
    if (m_pid > 0) {
      ::kill(m_pid, SIGKILL);
      ::waitpid(m_pid, nullptr, 0);
    }
  }

  // Binds and listens as a service manager does, then starts the host on
  // the socket as the unit's command line does.
  void start(const Launch& launch) {
    std::string bound = launch.boundPath.empty() ? tree.socketPath() : launch.boundPath;
    ::unlink(bound.c_str());
    int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, bound.c_str(), sizeof address.sun_path - 1);
    mode_t old = ::umask(0177);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::umask(old);
    ASSERT_EQ(::chown(bound.c_str(), 0, launch.socketGroup), 0);
    ASSERT_EQ(::chmod(bound.c_str(), launch.socketMode), 0);
    ASSERT_EQ(::listen(fd, 8), 0);
    m_pid = ::fork();
    ASSERT_GE(m_pid, 0);
    if (m_pid == 0) {
      if (launch.passSocket) {
        if (::dup2(fd, 3) != 3) ::_exit(99);
        ::setenv("LISTEN_FDS", "1", 1);
        pid_t named = launch.listenPidIsHost ? ::getpid() : ::getppid();
        ::setenv("LISTEN_PID", std::to_string(named).c_str(), 1);
      }
      std::string dev = tree.root() + "/dev";
      std::string sys = tree.root() + "/sys";
      std::string socket = tree.socketPath();
      const char* argv[] = {TV2_DRIVER_HOST, "--socket", socket.c_str(), "--socket-activated", "--no-modprobe",
                            "--dev-root", dev.c_str(), "--sys-root", sys.c_str(), nullptr};
      ::execv(TV2_DRIVER_HOST, const_cast<char* const*>(argv));
      ::_exit(98);
    }
    ::close(fd);
  }

  // The host's exit status once it ends within timeoutMs; -1 when it runs on.
  int exitStatus(int timeoutMs) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < end) {
      int status = 0;
      if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
        m_pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return -1;
  }

  // In a child with the given identity: 0 answered with the driver's
  // version, 1 disconnected unanswered, 3 could not connect.
  int versionAs(uid_t uid, gid_t gid, std::vector<gid_t> groups) {
    pid_t child = ::fork();
    if (child < 0) return -1;
    if (child == 0) {
      if (::setgroups(groups.size(), groups.data()) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0) ::_exit(2);
      HostClient client(tree.socketPath());
      if (!client.connected()) ::_exit(3);
      client.sendBytes(HostClient::frame(IOCTL_GET_VERSION, {}, 4));
      uint32_t status = 0;
      std::vector<uint8_t> output;
      if (!client.readAnswer(&status, &output)) ::_exit(1);
      ::_exit(status == kStatusOk && output.size() == 4 && loadLe32(output.data()) == kDriverVersion ? 0 : 4);
    }
    int status = 0;
    if (::waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
  }

  HostHarness tree;
  pid_t m_pid = -1;
};

TEST_F(SocketActivatedHostTest, ServesRootAndMembersOfTheSocketsGroupOnly) {
  start(Launch{});
  EXPECT_EQ(versionAs(0, 0, {}), 0);
  EXPECT_EQ(versionAs(kNobody, kNobody, {kTestGroup}), 0) << "supplementary member";
  EXPECT_EQ(versionAs(kNobody, kTestGroup, {}), 0) << "primary member";
  EXPECT_EQ(versionAs(kNobody, kNobody, {}), 3) << "the socket's mode keeps others out";
  // With the file opened to everybody, the host's own check is what is left:
  // the group was fixed when it started, and others are cut off unanswered.
  ASSERT_EQ(::chmod(tree.socketPath().c_str(), 0666), 0);
  EXPECT_EQ(versionAs(kNobody, kNobody, {}), 1);
  EXPECT_EQ(versionAs(kNobody, kNobody, {kTestGroup + 1, 0}), 1) << "group 0 or another group is not enough";
  EXPECT_EQ(versionAs(kNobody, kNobody, {kTestGroup}), 0);
}

TEST_F(SocketActivatedHostTest, ASocketWithoutGroupAccessServesRootOnly) {
  start(Launch{.socketMode = 0600});
  EXPECT_EQ(versionAs(0, 0, {}), 0);
  ASSERT_EQ(::chmod(tree.socketPath().c_str(), 0666), 0);
  EXPECT_EQ(versionAs(kNobody, kNobody, {kTestGroup}), 1);
}

TEST_F(SocketActivatedHostTest, StopsOnTheStopControlAndLeavesTheSocketFile) {
  start(Launch{});
  EXPECT_EQ(versionAs(0, 0, {}), 0);
  ::kill(m_pid, SIGTERM);
  EXPECT_EQ(exitStatus(5000), kHostExitOk);
  struct stat info;
  EXPECT_EQ(::lstat(tree.socketPath().c_str(), &info), 0) << "the service manager's file stays";
}

TEST_F(SocketActivatedHostTest, RefusesSocketsItCannotTrust) {
  std::vector<std::pair<const char*, Launch>> cases = {
      {"others may connect", Launch{.socketMode = 0666}},
      {"owned by root's group 0 but open to others", Launch{.socketMode = 0606, .socketGroup = 0}},
      {"no socket passed", Launch{.passSocket = false}},
      {"passed to another process", Launch{.listenPidIsHost = false}},
      {"bound elsewhere", Launch{.boundPath = tree.root() + "/run/other.sock"}},
  };
  for (const auto& [what, launch] : cases) {
    SCOPED_TRACE(what);
    start(launch);
    EXPECT_EQ(exitStatus(5000), kHostExitNoDevice);
  }
  // A folder others may write to could have the file swapped under the host.
  ASSERT_EQ(::chmod((tree.root() + "/run").c_str(), 0775), 0);
  start(Launch{});
  EXPECT_EQ(exitStatus(5000), kHostExitNoDevice);
}

}  // namespace
}  // namespace tv2::test
