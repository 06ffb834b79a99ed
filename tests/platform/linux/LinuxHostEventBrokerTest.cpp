// What the monitor keeps of what a host passes: a stand-in host in this
// process answers the open request with chosen statuses and descriptors, and
// the broker must keep exactly one perf event descriptor per event asked,
// close-on-exec, and close everything else it was sent.

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <linux/perf_event.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "driver/protocol/DeviceRequests.h"
#include "driver/protocol/FrameCodec.h"
#include "driver/protocol/KernelEventCodec.h"
#include "driver/protocol/LittleEndian.h"
#include "platform/ErrorCodes.h"
#include "platform/linux/LinuxHostEventBroker.h"
#include "tests/AttackNamespace.h"

namespace tv2 {
namespace {

int openDescriptors() {
  int count = 0;
  DIR* folder = ::opendir("/proc/self/fd");
  while (folder != nullptr && ::readdir(folder) != nullptr) ++count;
  if (folder != nullptr) ::closedir(folder);
  return count;
}

int cpuClock() {
  perf_event_attr attr{};
  attr.size = sizeof attr;
  attr.type = PERF_TYPE_SOFTWARE;
  attr.config = PERF_COUNT_SW_CPU_CLOCK;
  return static_cast<int>(::syscall(SYS_perf_event_open, &attr, 0, -1, -1, PERF_FLAG_FD_CLOEXEC));
}

// One answer of the stand-in host.
struct Reply {
  uint32_t status = kStatusOk;
  uint32_t descriptors = 0;
  uint32_t systemError = 0;
  std::vector<int> fds;  // sent, then closed here
  bool badMagic = false;
};

// Set in main(): this run is root in a mount namespace of its own, with a
// private /tmp, where the attacker may plant its socket.
bool g_isolated = false;

class LinuxHostEventBrokerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The broker takes descriptors only from a host of root's.
    if (::geteuid() != 0) GTEST_SKIP() << "the stand-in host must be root's";
    char pattern[] = "/tmp/tv2-broker-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    m_folder = pattern;
    m_socket = m_folder + "/host.sock";
    m_listen = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, m_socket.c_str(), sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(m_listen, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(m_listen, 4), 0);
  }
  void TearDown() override {
    if (m_host.joinable()) m_host.join();
    if (m_listen >= 0) ::close(m_listen);
    if (!m_folder.empty()) {
      ::unlink(m_socket.c_str());
      ::rmdir(m_folder.c_str());
    }
  }

  // Serves the next connection: one answer per reply, in order.
  void serve(std::vector<Reply> replies) {
    if (m_host.joinable()) m_host.join();
    m_host = std::thread([this, replies = std::move(replies)]() mutable {
      int fd = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
      for (Reply& reply : replies) {
        uint8_t request[FrameCodec::kMaxRequestSize];
        ssize_t n = ::recv(fd, request, FrameCodec::kRequestHeaderSize, MSG_WAITALL);
        if (n != static_cast<ssize_t>(FrameCodec::kRequestHeaderSize)) break;
        uint32_t inputLength = loadLe32(request + 12);
        if (::recv(fd, request, inputLength, MSG_WAITALL) != static_cast<ssize_t>(inputLength)) break;
        std::vector<uint8_t> output;
        KernelEventCodec::encodeAnswer(KernelEventsAnswer{reply.descriptors, reply.systemError}, &output);
        std::vector<uint8_t> bytes;
        FrameCodec::encodeAnswer(reply.status, output.data(), 8, &bytes);
        if (reply.badMagic) bytes[0] ^= 0xFF;
        std::vector<char> control(CMSG_SPACE(sizeof(int) * reply.fds.size()));
        iovec part{bytes.data(), bytes.size()};
        msghdr message{};
        message.msg_iov = &part;
        message.msg_iovlen = 1;
        if (!reply.fds.empty()) {
          message.msg_control = control.data();
          message.msg_controllen = control.size();
          cmsghdr* header = CMSG_FIRSTHDR(&message);
          header->cmsg_level = SOL_SOCKET;
          header->cmsg_type = SCM_RIGHTS;
          header->cmsg_len = CMSG_LEN(sizeof(int) * reply.fds.size());
          std::memcpy(CMSG_DATA(header), reply.fds.data(), sizeof(int) * reply.fds.size());
        }
        ::sendmsg(fd, &message, MSG_NOSIGNAL);
        for (int passed : reply.fds) ::close(passed);
      }
      ::close(fd);
    });
  }
  void waitHost() {
    if (m_host.joinable()) m_host.join();
  }

  LinuxHostEventBroker broker() { return LinuxHostEventBroker(LinuxSystemHost(m_socket, {}), 2000); }

  std::string m_folder;
  std::string m_socket;
  int m_listen = -1;
  std::thread m_host;
};

const KernelEvent kTwo[] = {KernelEvent::kMsrTsc, KernelEvent::kCpuClock};

TEST_F(LinuxHostEventBrokerTest, KeepsOnePerfEventPerEventCloseOnExec) {
  int before = openDescriptors();
  {
    LinuxHostEventBroker events(LinuxSystemHost(m_socket, {}), 2000);
    serve({Reply{kStatusOk, 2, 0, {cpuClock(), cpuClock()}}});
    std::vector<OwnedFd> fds;
    KernelOpenError error;
    ASSERT_TRUE(events.openGroup(1, kTwo, &fds, &error)) << error.reason;
    ASSERT_EQ(fds.size(), 2u);
    for (const OwnedFd& fd : fds) {
      EXPECT_TRUE(LinuxHostEventBroker::isPerfEvent(fd.get()));
      EXPECT_NE(::fcntl(fd.get(), F_GETFD) & FD_CLOEXEC, 0);
    }
    waitHost();
  }
  EXPECT_EQ(openDescriptors(), before);
}

TEST_F(LinuxHostEventBrokerTest, ClosesWhateverDoesNotMatchTheRequest) {
  int pipeEnds[2];
  ASSERT_EQ(::pipe(pipeEnds), 0);
  std::vector<int> many;
  for (int i = 0; i < 20; ++i) many.push_back(cpuClock());
  struct Case {
    const char* what;
    Reply reply;
  };
  std::vector<Case> cases = {
      {"not perf events", Reply{kStatusOk, 2, 0, {pipeEnds[0], pipeEnds[1]}}},
      {"one descriptor short", Reply{kStatusOk, 2, 0, {cpuClock()}}},
      {"more than it says", Reply{kStatusOk, 1, 0, {cpuClock(), cpuClock()}}},
      {"more than a group and the room for them", Reply{kStatusOk, 2, 0, many}},
      {"descriptors with a refusal", Reply{kStatusInvalidParameter, 0, 0, {cpuClock(), cpuClock()}}},
  };
  int before = openDescriptors() - 2 - static_cast<int>(many.size()) - 5;
  {
    LinuxHostEventBroker events = broker();
    std::vector<Reply> replies;
    for (const Case& c : cases) replies.push_back(c.reply);
    serve(replies);
    for (const Case& c : cases) {
      std::vector<OwnedFd> fds;
      KernelOpenError error;
      EXPECT_FALSE(events.openGroup(0, kTwo, &fds, &error)) << c.what;
      EXPECT_TRUE(fds.empty()) << c.what;
      EXPECT_NE(error.code, kOk) << c.what;
    }
    waitHost();
  }
  EXPECT_EQ(openDescriptors(), before) << "every descriptor received was closed";
}

TEST_F(LinuxHostEventBrokerTest, RefusalsCarryTheHostsStatusAndTheKernelsError) {
  LinuxHostEventBroker events = broker();
  serve({Reply{kStatusNotSupported, 0, 0, {}}, Reply{kStatusHardwareFailed, 0, EACCES, {}}, Reply{kStatusOk, 2, 0, {}, true}});
  std::vector<OwnedFd> fds;
  KernelOpenError error;
  EXPECT_FALSE(events.openGroup(0, kTwo, &fds, &error));
  EXPECT_EQ(error.code, kErrorNotSupported);
  EXPECT_NE(error.reason.find("tsc and 1 more on CPU 0"), std::string::npos) << error.reason;
  EXPECT_FALSE(events.openGroup(0, kTwo, &fds, &error));
  EXPECT_EQ(error.code, kErrorAccessDenied);
  EXPECT_EQ(error.systemError, EACCES);
  EXPECT_NE(error.reason.find(std::strerror(EACCES)), std::string::npos) << error.reason;
  EXPECT_FALSE(events.openGroup(0, kTwo, &fds, &error)) << "a malformed answer";
  waitHost();
  // The stream was dropped with the malformed answer; the next request connects anew.
  serve({Reply{kStatusOk, 1, 0, {cpuClock()}}});
  const KernelEvent one[] = {KernelEvent::kCpuClock};
  EXPECT_TRUE(events.openGroup(0, one, &fds, &error)) << error.reason;
  EXPECT_EQ(fds.size(), 1u);
}

TEST_F(LinuxHostEventBrokerTest, AskingForNothingOrTooMuchNeverReachesTheHost) {
  LinuxHostEventBroker events = broker();
  std::vector<KernelEvent> tooMany(KernelGroupReading::kMaxEvents + 1, KernelEvent::kCpuClock);
  std::vector<OwnedFd> fds;
  KernelOpenError error;
  EXPECT_FALSE(events.openGroup(0, tooMany, &fds, &error));
  EXPECT_EQ(error.code, kErrorInvalidParameter);
  EXPECT_FALSE(events.openGroup(0, {}, &fds, &error));
  EXPECT_FALSE(events.openGroup(-1, kTwo, &fds, &error));
  // Nobody listening: the request fails and says so.
  ::close(m_listen);
  m_listen = -1;
  ::unlink(m_socket.c_str());
  EXPECT_FALSE(events.openGroup(0, kTwo, &fds, &error));
  EXPECT_FALSE(error.reason.empty());
}

TEST_F(LinuxHostEventBrokerTest, TakesNothingFromAHostThatIsNotRoots) {
  // Another user listening where the host should be: whatever it would
  // pass, the broker does not even ask.
  if (!g_isolated) GTEST_SKIP() << "needs root, unshare and setpriv";
  std::string planted = m_folder + "/planted.sock";
  ASSERT_EQ(::chmod(m_folder.c_str(), 0777), 0);
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  pid_t other = ::fork();
  ASSERT_GE(other, 0);
  if (other == 0) {
    if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(2);
    int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, planted.c_str(), sizeof address.sun_path - 1);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, 4) != 0) ::_exit(3);
    char byte = 1;
    if (::write(ready[1], &byte, 1) != 1) ::_exit(4);
    int client = ::accept(fd, nullptr, nullptr);
    // The answer it would give: success with one descriptor of its own.
    std::vector<uint8_t> output;
    KernelEventCodec::encodeAnswer(KernelEventsAnswer{1, 0}, &output);
    std::vector<uint8_t> bytes;
    FrameCodec::encodeAnswer(kStatusOk, output.data(), 8, &bytes);
    ::send(client, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    ::pause();
    ::_exit(0);
  }
  ::close(ready[1]);
  char byte = 0;
  ASSERT_EQ(::read(ready[0], &byte, 1), 1);
  ::close(ready[0]);
  LinuxHostEventBroker events(LinuxSystemHost(planted, {}), 2000);
  const KernelEvent one[] = {KernelEvent::kCpuClock};
  std::vector<OwnedFd> fds;
  KernelOpenError error;
  EXPECT_FALSE(events.openGroup(0, one, &fds, &error));
  EXPECT_EQ(error.code, kErrorAccessDenied);
  EXPECT_NE(error.reason.find("not root's driver host"), std::string::npos) << error.reason;
  ::kill(other, SIGKILL);
  ::waitpid(other, nullptr, 0);
  ::unlink(planted.c_str());
}

}  // namespace
}  // namespace tv2

int main(int argc, char** argv) {
  // Every test's socket folder lies in a /tmp of this run's own; without
  // root or unshare the attack test skips.
  if (tv2::InPrivateMountNamespace(argc, argv)) tv2::g_isolated = tv2::mountTmpfs("/tmp", "mode=1777");
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
