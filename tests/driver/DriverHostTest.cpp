// The real driver host as a separate process, on a tree of plain files in
// place of /dev and /sys: what it serves, what it refuses, how it survives
// broken clients, and how it stops.

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "driver/protocol/DeviceRequests.h"
#include "driver/protocol/FrameCodec.h"
#include "driver/protocol/LittleEndian.h"
#include "tests/driver/HostHarness.h"

namespace tv2::test {
namespace {

class DriverHostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::geteuid() != 0) GTEST_SKIP() << "the driver host serves root only";
    ASSERT_FALSE(host.root().empty());
    ASSERT_TRUE(host.start());
  }

  // One request on a connection of its own.
  uint32_t call(uint32_t code, std::initializer_list<uint32_t> fields, uint32_t capacity,
                std::vector<uint8_t>* output = nullptr, int32_t processor = 0) {
    HostClient client(host.socketPath());
    EXPECT_TRUE(client.connected());
    uint32_t status = 0xDEAD;
    std::vector<uint8_t> spare;
    EXPECT_TRUE(client.call(code, fields, capacity, &status, output != nullptr ? output : &spare, processor));
    return status;
  }
  bool versionAnswers() {
    std::vector<uint8_t> output;
    return call(IOCTL_GET_VERSION, {}, 4, &output) == kStatusOk && output.size() == 4 &&
           loadLe32(output.data()) == kDriverVersion;
  }

  HostHarness host;
};

TEST_F(DriverHostTest, ServesRegistersOnTheNamedProcessor) {
  EXPECT_TRUE(versionAnswers());
  EXPECT_EQ(call(IOCTL_WRITE_MSR, {0x186, 0x1, 0x004300C0}, 8, nullptr, 1), kStatusOk);
  EXPECT_EQ(host.msr(1, 0x186), 0x00000001004300C0ull);
  EXPECT_EQ(host.msr(0, 0x186), 0u);
  std::vector<uint8_t> output;
  ASSERT_EQ(call(IOCTL_READ_MSR, {0x186}, 8, &output, 1), kStatusOk);
  EXPECT_EQ(loadLe32(output.data()), 0x004300C0u);
  EXPECT_EQ(loadLe32(output.data() + 4), 1u);
  // A register beyond the file, and a processor without one, do not exist.
  EXPECT_EQ(call(IOCTL_READ_MSR, {0xC0020000}, 8), kStatusHardwareFailed);
  EXPECT_EQ(call(IOCTL_READ_MSR, {0x10}, 8, nullptr, 7), kStatusHardwareFailed);
}

TEST_F(DriverHostTest, ConfigurationSpaceComesFromSysfsThroughPortsAndWindow) {
  HostClient client(host.socketPath());
  uint32_t status = 0;
  std::vector<uint8_t> output;
  ASSERT_TRUE(client.call(IOCTL_WRITE_PORT_DWORD, {0xCF8, 0x8000C38C}, 8, &status, &output));
  ASSERT_EQ(status, kStatusOk);
  ASSERT_TRUE(client.call(IOCTL_READ_PORT_DWORD, {0xCF8}, 8, &status, &output));
  EXPECT_EQ(loadLe32(output.data()), 0x8000C38Cu) << "0xCF8 reads back the kept address";
  ASSERT_TRUE(client.call(IOCTL_READ_PORT_DWORD, {0xCFC}, 8, &status, &output));
  EXPECT_EQ(loadLe32(output.data()), 0xD03u);
  ASSERT_TRUE(client.call(IOCTL_WRITE_PORT_DWORD, {0xCFC, 0xFFFFFFFF}, 8, &status, &output));
  EXPECT_EQ(status, kStatusOk);
  EXPECT_EQ(host.config("00:18.3", 0x8C), 0x4D03u) << "bit 14 only";

  // The same register through the memory-mapped window.
  const uint32_t address = 0xE0000000 | 0x18u << 15 | 3u << 12 | 0x8C;
  ASSERT_EQ(call(IOCTL_READ_PHYS_MEMORY, {0, address, 4, 0, 0}, 4, &output), kStatusOk);
  EXPECT_EQ(loadLe32(output.data()), 0x4D03u);
  // Outside the window physical memory is /dev/mem, which this tree lacks.
  EXPECT_EQ(call(IOCTL_READ_PHYS_MEMORY, {0, 0xF0000, 16, 0, 0}, 16), kStatusHardwareFailed);
  // A base above 4 GB names the same window, whole.
  host.putMsr(0, 0xC0010058, 0x3E0000021ull);
  ASSERT_EQ(host.stop(), 0);
  ASSERT_TRUE(host.start());
  ASSERT_EQ(call(IOCTL_READ_PHYS_MEMORY, {3, address, 4, 0, 0}, 4, &output), kStatusOk);
  EXPECT_EQ(loadLe32(output.data()), 0x4D03u);
  EXPECT_EQ(call(IOCTL_READ_PHYS_MEMORY, {0, address, 4, 0, 0}, 4, &output), kStatusAccessDenied)
      << "the low half alone is ordinary memory";
}

TEST_F(DriverHostTest, RefusedWritesFailAndChangeNothing) {
  const std::vector<uint8_t> hostBridge = [&] {
    std::vector<uint8_t> bytes(16);
    for (uint32_t i = 0; i < 4; ++i) storeLe32(bytes.data() + 4 * i, host.config("00:00.0", 4 * i));
    return bytes;
  }();
  EXPECT_EQ(call(IOCTL_WRITE_MSR, {0x10, 0, 0}, 8), kStatusAccessDenied);
  EXPECT_EQ(call(IOCTL_WRITE_MSR, {0xC0010058, 0, 0}, 8), kStatusAccessDenied);
  EXPECT_EQ(call(IOCTL_WRITE_PORT_DWORD, {0x80, 1}, 8), kStatusAccessDenied);
  EXPECT_EQ(call(IOCTL_WRITE_PORT_DWORD, {0xCF9, 6}, 8), kStatusAccessDenied);
  EXPECT_EQ(call(IOCTL_READ_PORT_DWORD, {0x70}, 8), kStatusAccessDenied);
  EXPECT_EQ(call(IOCTL_WRITE_PHYS_DWORD, {0, 0x1000, 1}, 8), kStatusAccessDenied);
  EXPECT_EQ(call(IOCTL_WRITE_PHYS_DWORD, {0, 0xE0000004, 0}, 8), kStatusAccessDenied);
  HostClient client(host.socketPath());
  uint32_t status = 0;
  std::vector<uint8_t> output;
  ASSERT_TRUE(client.call(IOCTL_WRITE_PORT_DWORD, {0xCF8, 0x80000004}, 8, &status, &output));
  ASSERT_TRUE(client.call(IOCTL_WRITE_PORT_DWORD, {0xCFC, 0}, 8, &status, &output));
  EXPECT_EQ(status, kStatusAccessDenied);

  EXPECT_EQ(host.msr(0, 0xC0010058), 0xE0000021u);
  for (uint32_t i = 0; i < 4; ++i) EXPECT_EQ(host.config("00:00.0", 4 * i), loadLe32(hostBridge.data() + 4 * i));
  // The timer port the FADT names is not refused (whether the port itself
  // can be reached depends on the kernel).
  EXPECT_NE(call(IOCTL_READ_PORT_DWORD, {0x808}, 8), kStatusAccessDenied);
}

TEST_F(DriverHostTest, BrokenFramesAreAnsweredAndTheHostKeepsServing) {
  std::vector<uint8_t> whole = HostClient::frame(IOCTL_READ_MSR, {0x10}, 8);
  std::vector<uint8_t> cut(whole.begin(), whole.end() - 2);
  uint32_t status = 0;
  std::vector<uint8_t> output;
  {  // Cut short by the end of the stream.
    HostClient client(host.socketPath());
    ASSERT_TRUE(client.sendBytes(cut));
    client.shutdownWrite();
    ASSERT_TRUE(client.readAnswer(&status, &output));
    EXPECT_EQ(status, kStatusInvalidData);
    EXPECT_TRUE(client.closedByPeer());
  }
  {  // Cut short and left hanging: the frame timeout answers it.
    HostClient client(host.socketPath());
    ASSERT_TRUE(client.sendBytes(cut));
    ASSERT_TRUE(client.readAnswer(&status, &output, 5000));
    EXPECT_EQ(status, kStatusInvalidData);
    EXPECT_TRUE(client.closedByPeer());
  }
  {  // An unknown code is an ordinary failure: the connection goes on.
    HostClient client(host.socketPath());
    ASSERT_TRUE(client.call(0x9C402404, {0x10}, 8, &status, &output));
    EXPECT_EQ(status, kStatusInvalidFunction);
    ASSERT_TRUE(client.call(IOCTL_GET_VERSION, {}, 4, &status, &output));
    EXPECT_EQ(status, kStatusOk);
  }
  for (int variant = 0; variant < 3; ++variant) {  // oversized lengths and garbage
    std::vector<uint8_t> bad = whole;
    if (variant == 0) storeLe32(bad.data() + 12, 0x7FFFFFFF);
    if (variant == 1) storeLe32(bad.data() + 16, FrameCodec::kMaxOutput + 1);
    if (variant == 2) bad.assign({'G', 'E', 'T', ' ', '/', '\r', '\n'});
    HostClient client(host.socketPath());
    ASSERT_TRUE(client.sendBytes(bad));
    ASSERT_TRUE(client.readAnswer(&status, &output)) << variant;
    EXPECT_EQ(status, kStatusInvalidData);
    EXPECT_TRUE(client.closedByPeer());
  }
  EXPECT_TRUE(versionAnswers());
}

TEST_F(DriverHostTest, ClientsOtherThanRootAreDisconnected) {
  // Open the way to the socket, so that only the host's own check is left.
  ASSERT_EQ(::chmod(host.root().c_str(), 0755), 0);
  ASSERT_EQ(::chmod((host.root() + "/run").c_str(), 0755), 0);
  ASSERT_EQ(::chmod(host.socketPath().c_str(), 0666), 0);
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(2);
    HostClient client(host.socketPath());
    if (!client.connected()) ::_exit(3);
    client.sendBytes(HostClient::frame(IOCTL_GET_VERSION, {}, 4));
    uint32_t status = 0;
    std::vector<uint8_t> output;
    ::_exit(client.readAnswer(&status, &output) ? 1 : 0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "1: answered, 2: no user to be, 3: could not connect";
  EXPECT_TRUE(versionAnswers());
}

TEST_F(DriverHostTest, StopsOnTheStopControlAndWritesNothingElse) {
  std::vector<std::string> before = host.listTree();
  EXPECT_TRUE(versionAnswers());
  EXPECT_EQ(call(IOCTL_WRITE_MSR, {0x38F, 0, 1}, 8), kStatusOk);
  EXPECT_EQ(call(IOCTL_WRITE_PHYS_DWORD, {0, 0x1000, 1}, 8), kStatusAccessDenied);
  // A second host on the same device refuses to start and leaves it alone.
  int second = host.startSecond();
  ASSERT_TRUE(WIFEXITED(second));
  EXPECT_NE(WEXITSTATUS(second), 0);
  EXPECT_TRUE(versionAnswers());
  EXPECT_EQ(host.listTree(), before);

  int status = host.stop(SIGTERM);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  std::vector<std::string> after = host.listTree();
  std::erase(before, host.socketPath());
  std::erase(before, host.pidPath());
  EXPECT_EQ(after, before);
}

TEST_F(DriverHostTest, ANewHostReplacesTheSocketAKilledOneLeft) {
  int status = host.stop(SIGKILL);
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_FALSE(HostClient(host.socketPath()).connected());
  ASSERT_TRUE(host.start());
  EXPECT_TRUE(versionAnswers());
}

}  // namespace
}  // namespace tv2::test
