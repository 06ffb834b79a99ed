// Kernel counting events through the real host, with real system calls: the
// host started as its socket unit starts it on /run/tarvelle2/host.sock (a
// tmpfs in a mount namespace of the test's own), and the client a separate
// process at uid 65534 with and without the socket's group. This machine's
// kernel has the software PMU and the msr PMU (tsc), which is what is
// counted; hardware events are refused by the kernel here and said so.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "driver/protocol/DeviceRequests.h"
#include "driver/protocol/FrameCodec.h"
#include "driver/protocol/KernelEventCodec.h"
#include "platform/KernelCounterService.h"
#include "tests/AttackNamespace.h"

namespace tv2 {
namespace {

bool g_isolated = false;
constexpr gid_t kTestGroup = 64124;
constexpr const char* kSocket = "/run/tarvelle2/host.sock";
constexpr int kTsc = static_cast<int>(KernelEvent::kMsrTsc);
constexpr int kCpuClock = static_cast<int>(KernelEvent::kCpuClock);
constexpr int kCycles = static_cast<int>(KernelEvent::kCycles);

bool msrTscOffered() { return ::access("/sys/bus/event_source/devices/msr/events/tsc", R_OK) == 0; }

// Runs the client as uid 65534 with the given supplementary groups (none:
// no group at all); its one line of output.
std::string client(const std::vector<std::string>& arguments, bool member = true) {
  std::vector<std::string> args = {"setpriv", "--reuid=65534", "--regid=65534"};
  args.push_back(member ? "--groups=" + std::to_string(kTestGroup) : "--clear-groups");
  args.push_back("--");
  args.push_back(TV2_KERNEL_EVENT_CLIENT);
  args.insert(args.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) return "no pipe";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, ends[1], STDOUT_FILENO);
  pid_t pid = -1;
  int spawned = posix_spawn(&pid, "/usr/bin/setpriv", &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(ends[1]);
  std::string output;
  char c = 0;
  while (spawned == 0 && ::read(ends[0], &c, 1) == 1) output.push_back(c);
  ::close(ends[0]);
  if (spawned == 0) ::waitpid(pid, nullptr, 0);
  while (!output.empty() && output.back() == '\n') output.pop_back();
  return output;
}

std::string hex(const std::vector<uint8_t>& bytes) {
  std::string text;
  char pair[3];
  for (uint8_t byte : bytes) {
    std::snprintf(pair, sizeof pair, "%02x", byte);
    text += pair;
  }
  return text;
}

// A request frame for `events` on `cpu`, with the count field as given.
std::vector<uint8_t> request(int cpu, std::vector<uint8_t> events, uint32_t count, uint32_t capacity = 8) {
  RequestFrame frame;
  frame.code = IOCTL_OPEN_KERNEL_EVENTS;
  frame.processor = cpu;
  frame.inputLength = static_cast<uint32_t>(4 + events.size());
  frame.outputCapacity = capacity;
  frame.input[0] = static_cast<uint8_t>(count);
  frame.input[1] = static_cast<uint8_t>(count >> 8);
  for (size_t i = 0; i < events.size() && i + 4 < RequestFrame::kMaxInput; ++i) frame.input[4 + i] = events[i];
  std::vector<uint8_t> bytes;
  FrameCodec::encodeRequest(frame, &bytes);
  return bytes;
}

std::string answer(uint32_t status, uint32_t descriptors, uint32_t error, int fds) {
  return "answer status " + std::to_string(status) + " length 8 descriptors " + std::to_string(descriptors) +
         " errno " + std::to_string(error) + " fds " + std::to_string(fds);
}

class KernelEventHostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!g_isolated) GTEST_SKIP() << "needs root, unshare and setpriv";
    ASSERT_EQ(::mount("tv2-run", "/run", "tmpfs", MS_NOSUID | MS_NODEV, "mode=0755"), 0);
    ASSERT_EQ(::mkdir("/run/tarvelle2", 0755), 0);
    ASSERT_EQ(::mkdir("/run/tarvelle2/dev", 0700), 0);
    int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, kSocket, sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::chown(kSocket, 0, kTestGroup), 0);
    ASSERT_EQ(::chmod(kSocket, 0660), 0);
    ASSERT_EQ(::listen(fd, 8), 0);
    m_host = ::fork();
    ASSERT_GE(m_host, 0);
    if (m_host == 0) {
      if (::dup2(fd, 3) != 3) ::_exit(99);
      ::setenv("LISTEN_FDS", "1", 1);
      ::setenv("LISTEN_PID", std::to_string(::getpid()).c_str(), 1);
      // The unit's command line; the register devices are an empty stand-in.
      // With a bounding set, the host runs with only those capabilities.
      std::string bounding = "--bounding-set=-all" + m_capabilities;
      const char* argv[] = {"setpriv", bounding.c_str(), "--",  TV2_DRIVER_HOST, "--socket", kSocket,
                            "--socket-activated", "--no-modprobe", "--dev-root", "/run/tarvelle2/dev", nullptr};
      if (m_capabilities.empty())
        ::execv(TV2_DRIVER_HOST, const_cast<char* const*>(argv + 3));
      else
        ::execv("/usr/bin/setpriv", const_cast<char* const*>(argv));
      ::_exit(98);
    }
    ::close(fd);
    // The host checks the socket's mode as it starts: tests change it only
    // once the host answers.
    ASSERT_TRUE(answersVersion());
  }
  bool answersVersion() {
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, kSocket, sizeof address.sun_path - 1);
    timeval timeout{5, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    RequestFrame frame;
    frame.code = IOCTL_GET_VERSION;
    frame.outputCapacity = 4;
    std::vector<uint8_t> bytes;
    FrameCodec::encodeRequest(frame, &bytes);
    uint8_t answer[FrameCodec::kAnswerHeaderSize + 4];
    bool answered = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                    ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size()) &&
                    ::recv(fd, answer, sizeof answer, MSG_WAITALL) == static_cast<ssize_t>(sizeof answer);
    ::close(fd);
    return answered;
  }
  void TearDown() override {
    if (m_host > 0) {
      ::kill(m_host, SIGKILL);
      ::waitpid(m_host, nullptr, 0);
    }
    ::umount2("/run", MNT_DETACH);
  }
  bool hostRuns() { return m_host > 0 && ::waitpid(m_host, nullptr, WNOHANG) == 0; }
  // The host's open descriptors: its own copies of what it passed must be gone.
  int hostDescriptors() {
    int count = 0;
    std::string folder = "/proc/" + std::to_string(m_host) + "/fd/";
    for (int fd = 0; fd < 256; ++fd) count += ::access((folder + std::to_string(fd)).c_str(), F_OK) == 0 ? 1 : 0;
    return count;
  }

  pid_t m_host = -1;
  std::string m_capabilities;  // empty: all of root's
};

// The host with the unit's capabilities for counting and registers, and
// without CAP_SYS_ADMIN: CAP_PERFMON is what lets it count whole CPUs.
class KernelEventHostPerfmonTest : public KernelEventHostTest {
 public:
  KernelEventHostPerfmonTest() { m_capabilities = ",+sys_rawio,+perfmon"; }
};
class KernelEventHostNoPerfmonTest : public KernelEventHostTest {
 public:
  KernelEventHostNoPerfmonTest() { m_capabilities = ",+sys_rawio"; }
};

TEST_F(KernelEventHostTest, AMemberCountsTheFixedEventsWithTheDescriptorsItIsPassed) {
  ASSERT_EQ(client({"raw", kSocket, hex(request(0, {kCpuClock}, 1, 4))}), answer(kStatusBufferTooSmall, 0, 0, 0))
      << "the host is up and answers";
  int before = hostDescriptors();
  EXPECT_EQ(client({"group", kSocket, "0", std::to_string(kCpuClock)}),
            "opened 1 cloexec 1 advanced 1 period 22 refresh 22 modify 22");
  if (msrTscOffered()) {
    // The last online CPU, and a group of two PMUs: msr with a software event.
    std::string last = std::to_string(::sysconf(_SC_NPROCESSORS_ONLN) - 1);
    EXPECT_EQ(client({"group", kSocket, last, std::to_string(kTsc), std::to_string(kCpuClock)}),
              "opened 2 cloexec 1 advanced 1 period 22 refresh 22 modify 22");
  }
  // The clients are gone; once the host has seen them go, it holds what it held before.
  // Up to 10 s: a loaded machine may schedule the host late.
  for (int wait = 0; wait < 1000 && hostDescriptors() != before; ++wait) ::usleep(10 * 1000);
  EXPECT_EQ(hostDescriptors(), before) << "the host keeps none of what it passed";
  EXPECT_TRUE(hostRuns());
}

TEST_F(KernelEventHostTest, TheMonitorsKernelCountersGoThroughTheHostForAMember) {
  EXPECT_EQ(client({"platform", kSocket}), "direct 0 host 1 advanced 1");
  // Without the group the service says why, and opens nothing.
  ASSERT_EQ(::chmod(kSocket, 0666), 0);
  std::string outsider = client({"platform", kSocket}, false);
  EXPECT_EQ(outsider.rfind("direct 0 host 0 advanced 0 ", 0), 0u) << outsider;
  EXPECT_NE(outsider.find("not in group"), std::string::npos) << outsider;
}

TEST_F(KernelEventHostTest, RefusalsPassNothingAndTheHostServesOn) {
  int cpus = static_cast<int>(::sysconf(_SC_NPROCESSORS_CONF));
  std::vector<std::pair<const char*, std::vector<uint8_t>>> refused = {
      {"an event outside the list", request(0, {static_cast<uint8_t>(kKernelEventCount)}, 1)},
      {"a number far outside it", request(0, {kCpuClock, 0xFF}, 2)},
      {"a CPU that does not exist", request(cpus + 3, {kCpuClock}, 1)},
      {"a negative CPU", request(-1, {kCpuClock}, 1)},
      {"more events than a group holds", request(0, std::vector<uint8_t>(17, kCpuClock), 17)},
      {"a count above what the frame holds", request(0, {kCpuClock, kCpuClock}, 16)},
      {"a count of nothing", request(0, {}, 0)},
      {"a count that would wrap", request(0, {kCpuClock}, 0xFFFF)},
  };
  for (const auto& [what, bytes] : refused) {
    SCOPED_TRACE(what);
    EXPECT_EQ(client({"raw", kSocket, hex(bytes)}), answer(kStatusInvalidParameter, 0, 0, 0));
  }
  // Hardware events: this machine's kernel has no hardware PMU and says so.
  std::string cycles = client({"group", kSocket, "0", std::to_string(kCycles)});
  EXPECT_EQ(cycles.rfind("refused 50 0 ", 0), 0u) << cycles;
  // Frames the stream cannot survive: answered as malformed, then closed.
  std::vector<uint8_t> frame = request(0, {kCpuClock}, 1);
  std::vector<uint8_t> garbage = frame;
  garbage[0] ^= 0xFF;
  EXPECT_EQ(client({"raw", kSocket, hex(garbage)}), "answer status 13 length 0 descriptors 0 errno 0 fds 0");
  std::vector<uint8_t> oversized = frame;
  oversized[12] = 0xFF;  // input length far beyond a frame's
  EXPECT_EQ(client({"raw", kSocket, hex(oversized)}), "answer status 13 length 0 descriptors 0 errno 0 fds 0");
  frame.pop_back();  // cut short: the frame timeout ends it
  EXPECT_EQ(client({"raw", kSocket, hex(frame)}), "answer status 13 length 0 descriptors 0 errno 0 fds 0");
  // Two requests before reading the first answer: only the first gets descriptors.
  EXPECT_EQ(client({"pipeline", kSocket, "0", std::to_string(kCpuClock)}),
            "first status 0 length 8 descriptors 1 errno 0 fds 1\n"
            "second status 5 length 8 descriptors 0 errno 16 fds 0");
  EXPECT_TRUE(hostRuns());
  EXPECT_EQ(client({"group", kSocket, "0", std::to_string(kCpuClock)}),
            "opened 1 cloexec 1 advanced 1 period 22 refresh 22 modify 22");
}

TEST_F(KernelEventHostTest, OthersGetNothing) {
  // The socket's mode keeps them out; with it opened to all, the host does.
  EXPECT_EQ(client({"raw", kSocket, hex(request(0, {kCpuClock}, 1))}, false), "unreachable 13");
  ASSERT_EQ(::chmod(kSocket, 0666), 0);
  EXPECT_EQ(client({"raw", kSocket, hex(request(0, {kCpuClock}, 1))}, false), "answer closed after 0 fds 0");
  std::string refused = client({"group", kSocket, "0", std::to_string(kCpuClock)}, false);
  EXPECT_EQ(refused.rfind("refused 5 ", 0), 0u) << refused;
  EXPECT_TRUE(hostRuns());
}

TEST_F(KernelEventHostPerfmonTest, CountsWithoutCapSysAdmin) {
  EXPECT_EQ(client({"group", kSocket, "0", std::to_string(kCpuClock)}),
            "opened 1 cloexec 1 advanced 1 period 22 refresh 22 modify 22");
}

TEST_F(KernelEventHostNoPerfmonTest, WithoutCapPerfmonTheKernelsRefusalReachesTheClient) {
  if (::access("/proc/sys/kernel/perf_event_paranoid", R_OK) != 0) GTEST_SKIP();
  std::string refused = client({"group", kSocket, "0", std::to_string(kCpuClock)});
  EXPECT_EQ(refused.rfind("refused 5 13 cannot count cpu-clock on CPU 0 through the system driver host", 0), 0u)
      << refused;
  EXPECT_TRUE(hostRuns());
}

}  // namespace
}  // namespace tv2

int main(int argc, char** argv) {
  // Without root, unshare or setpriv the tests skip.
  if (tv2::InPrivateMountNamespace(argc, argv)) tv2::g_isolated = ::access("/usr/bin/setpriv", X_OK) == 0;
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
