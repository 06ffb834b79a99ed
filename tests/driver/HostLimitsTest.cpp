// The real driver host's limits, on its stand-in /dev and /sys: the physical
// memory it serves, the devices it lets be configured, the memory a client
// that never reads can make it hold, and its end once the process that
// installed it is gone.

#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "driver/protocol/DeviceRequests.h"
#include "driver/protocol/FrameCodec.h"
#include "driver/protocol/LittleEndian.h"
#include "tests/driver/HostHarness.h"

extern char** environ;

namespace tv2::test {
namespace {

namespace fs = std::filesystem;

constexpr uint64_t kRsdp = 0xF6A70;
constexpr uint64_t kRsdt = 0x7FEE0000;
constexpr uint64_t kFadt = 0x7FEE0200;
constexpr uint64_t kHpetTable = 0x7FEE0400;
constexpr uint64_t kHpetBlock = 0xFED00000;
constexpr uint64_t kSecret = 0x100000;  // ordinary memory

std::vector<uint8_t> tableBytes(const char* signature, uint32_t length) {
  std::vector<uint8_t> bytes(length, 0);
  std::memcpy(bytes.data(), signature, 4);
  storeLe32(bytes.data() + 4, length);
  return bytes;
}

// A firmware the host can walk: root pointer in the BIOS area, a root table
// of two entries (shorter than the 104 bytes the client reads of it), an
// FADT and an HPET table; and something secret elsewhere.
void putFirmware(HostHarness& host) {
  std::vector<uint8_t> rsdp(20, 0);
  std::memcpy(rsdp.data(), "RSD PTR ", 8);
  storeLe32(rsdp.data() + 16, static_cast<uint32_t>(kRsdt));
  uint8_t sum = 0;
  for (uint8_t byte : rsdp) sum = static_cast<uint8_t>(sum + byte);
  rsdp[8] = static_cast<uint8_t>(-sum);
  host.putMemory(kRsdp, rsdp);
  std::vector<uint8_t> rsdt = tableBytes("RSDT", 44);
  storeLe32(rsdt.data() + 36, static_cast<uint32_t>(kFadt));
  storeLe32(rsdt.data() + 40, static_cast<uint32_t>(kHpetTable));
  host.putMemory(kRsdt, rsdt);
  std::vector<uint8_t> fadt = tableBytes("FACP", 244);
  storeLe32(fadt.data() + 76, 0x808);
  host.putMemory(kFadt, fadt);
  std::vector<uint8_t> hpet = tableBytes("HPET", 56);
  storeLe32(hpet.data() + 44, static_cast<uint32_t>(kHpetBlock));
  host.putMemory(kHpetTable, hpet);
  host.putMemory(kHpetBlock, {0x01, 0xA2, 0x86, 0x80, 0x7F, 0xAD, 0x29, 0x04});
  host.putMemory(kSecret, {'s', 'e', 'c', 'r', 'e', 't'});
}

class HostLimitsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::geteuid() != 0) GTEST_SKIP() << "the driver host serves root only";
    ASSERT_FALSE(host.root().empty());
    putFirmware(host);
  }

  uint32_t readPhysical(uint64_t address, uint32_t count, std::vector<uint8_t>* output) {
    HostClient client(host.socketPath());
    uint32_t status = 0xDEAD;
    EXPECT_TRUE(client.call(IOCTL_READ_PHYS_MEMORY,
                            {static_cast<uint32_t>(address >> 32), static_cast<uint32_t>(address), count, 0, 0},
                            count, &status, output));
    return status;
  }

  HostHarness host;
};

TEST_F(HostLimitsTest, PhysicalMemoryIsServedOnlyWhereTheMonitorReads) {
  ASSERT_TRUE(host.start());
  std::vector<uint8_t> output;
  // The root pointer's search, the tables the walk found, the HPET block.
  ASSERT_EQ(readPhysical(0xE0000, 0x10000, &output), kStatusOk);
  ASSERT_EQ(readPhysical(0xF0000, 0x10000, &output), kStatusOk);
  EXPECT_EQ(std::memcmp(output.data() + (kRsdp - 0xF0000), "RSD PTR ", 8), 0);
  EXPECT_EQ(readPhysical(0, 1024, &output), kStatusOk);
  EXPECT_EQ(readPhysical(kRsdt, 104, &output), kStatusOk) << "the client reads 104 bytes of the root table";
  ASSERT_EQ(readPhysical(kFadt, 244, &output), kStatusOk);
  EXPECT_EQ(loadLe32(output.data() + 76), 0x808u);
  EXPECT_EQ(readPhysical(kHpetTable, 56, &output), kStatusOk);
  ASSERT_EQ(readPhysical(kHpetBlock + 4, 4, &output), kStatusOk);
  EXPECT_EQ(loadLe32(output.data()), 0x0429AD7Fu);

  // Everything else fails and gives nothing away.
  struct Refused {
    uint64_t address;
    uint32_t count;
  };
  for (Refused r : {Refused{kSecret, 6}, Refused{kFadt, 245}, Refused{kFadt - 4, 8}, Refused{kRsdt + 104, 4},
                    Refused{kHpetBlock + 0x400, 4}, Refused{0x400, 4}, Refused{0x100000000ull, 4},
                    Refused{0xDFFFC, 8}}) {
    output.assign(3, 0xAA);
    EXPECT_EQ(readPhysical(r.address, r.count, &output), kStatusAccessDenied) << std::hex << r.address;
    EXPECT_TRUE(output.empty());
  }
}

TEST_F(HostLimitsTest, ConfigurationWritesReachOnlyAmdsOwnDevices) {
  ASSERT_TRUE(host.start());
  auto writeConfig = [&](uint32_t address, uint32_t value) {
    HostClient client(host.socketPath());
    uint32_t status = 0xDEAD;
    std::vector<uint8_t> output;
    EXPECT_TRUE(client.call(IOCTL_WRITE_PORT_DWORD, {0xCF8, address}, 8, &status, &output));
    EXPECT_TRUE(client.call(IOCTL_WRITE_PORT_DWORD, {0xCFC, value}, 8, &status, &output));
    return status;
  };
  // 0:0.0 register 0xB8 is the management unit's index on AMD's host bridge
  // and the SMRAM base on Intel's.
  host.putConfig("00:00.0", 0, 0x01008086);
  host.putConfig("00:00.0", 0xB8, 0x7F000001);
  EXPECT_EQ(writeConfig(0x800000B8, 0x1F428), kStatusAccessDenied);
  EXPECT_EQ(host.config("00:00.0", 0xB8), 0x7F000001u);
  host.putConfig("00:00.0", 0, 0x14101022);
  EXPECT_EQ(writeConfig(0x800000B8, 0x1F428), kStatusOk);
  EXPECT_EQ(host.config("00:00.0", 0xB8), 0x1F428u);

  // 0:18.3 register 0x8C bit 14: only on a northbridge function 3.
  host.putConfig("00:18.3", 0, 0x43851022);  // AMD, but not a northbridge
  EXPECT_EQ(writeConfig(0x8000C38C, 0x4D03), kStatusAccessDenied);
  EXPECT_EQ(host.config("00:18.3", 0x8C), 0xD03u);
  host.putConfig("00:18.3", 0, 0x141D1022);
  EXPECT_EQ(writeConfig(0x8000C38C, 0x4D03), kStatusOk);
  EXPECT_EQ(host.config("00:18.3", 0x8C), 0x4D03u);
}

TEST_F(HostLimitsTest, AClientThatNeverReadsCannotGrowTheHost) {
  ASSERT_TRUE(host.start());
  const long before = host.residentKb();
  ASSERT_GT(before, 0);
  // Four clients each send 200 requests for 64 KB and read nothing: 50 MB of
  // answers if the host kept them all.
  constexpr int kClients = 4;
  constexpr int kRequests = 200;
  std::vector<uint8_t> frame = HostClient::frame(IOCTL_READ_PHYS_MEMORY, {0, 0xE0000, kMaxPhysicalRead, 0, 0},
                                                 kMaxPhysicalRead);
  std::vector<uint8_t> burst;
  for (int i = 0; i < kRequests; ++i) burst.insert(burst.end(), frame.begin(), frame.end());
  std::vector<std::unique_ptr<HostClient>> clients;
  for (int i = 0; i < kClients; ++i) {
    clients.push_back(std::make_unique<HostClient>(host.socketPath()));
    clients.back()->shrinkReceiveBuffer(4096);
    ASSERT_TRUE(clients.back()->sendBytes(burst));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  // Meanwhile others are served at once.
  {
    HostClient other(host.socketPath());
    uint32_t status = 0;
    std::vector<uint8_t> output;
    ASSERT_TRUE(other.call(IOCTL_GET_VERSION, {}, 4, &status, &output));
    EXPECT_EQ(status, kStatusOk);
  }
  const long grown = host.residentKb() - before;
  // Unbounded, the host would hold about 50 MB. Sanitizer builds carry shadow
  // memory and allocator quarantine on top of what the host itself keeps.
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
  constexpr long kBoundKb = 16 * 1024;
#else
  constexpr long kBoundKb = 6 * 1024;
#endif
  EXPECT_LT(grown, kBoundKb) << "KB the host holds for clients that do not read";

  // Nothing was dropped: once a client reads, every request is answered.
  for (auto& client : clients) {
    int answered = 0;
    uint32_t status = 0;
    std::vector<uint8_t> output;
    while (answered < kRequests && client->readAnswer(&status, &output, 5000) && status == kStatusOk &&
           output.size() == kMaxPhysicalRead)
      ++answered;
    EXPECT_EQ(answered, kRequests);
  }
}

// A stand-in for the monitor that installed the host.
pid_t startInstaller() {
  char sleepPath[] = "/bin/sleep";
  char seconds[] = "60";
  char* argv[] = {sleepPath, seconds, nullptr};
  pid_t pid = -1;
  if (posix_spawn(&pid, sleepPath, nullptr, nullptr, argv, environ) != 0) return -1;
  return pid;
}

TEST_F(HostLimitsTest, AnOrphanedHostEndsOnceNoClientIsLeftAndTakesItsFilesWithIt) {
  pid_t installer = startInstaller();
  ASSERT_GT(installer, 0);
  std::string registration = host.root() + "/run/kzor138.service";
  { std::FILE* file = std::fopen(registration.c_str(), "w"); ASSERT_NE(file, nullptr); std::fclose(file); }
  host.extraArguments = {"--owner-pid", std::to_string(installer), "--registration", registration};
  ASSERT_TRUE(host.start());

  auto client = std::make_unique<HostClient>(host.socketPath());
  uint32_t status = 0;
  std::vector<uint8_t> output;
  ASSERT_TRUE(client->call(IOCTL_GET_VERSION, {}, 4, &status, &output));
  // While the installer lives, the host stays even with nobody connected.
  {
    HostClient brief(host.socketPath());
    ASSERT_TRUE(brief.connected());
  }
  EXPECT_EQ(host.waitExit(300), -1);

  // The installer dies without stopping the host (kill -9): a client still
  // connected keeps it serving.
  ::kill(installer, SIGKILL);
  int ignored = 0;
  ::waitpid(installer, &ignored, 0);
  EXPECT_EQ(host.waitExit(300), -1);
  ASSERT_TRUE(client->call(IOCTL_GET_VERSION, {}, 4, &status, &output));
  EXPECT_EQ(status, kStatusOk);

  // The last client goes: the host ends cleanly and leaves nothing behind.
  client.reset();
  int exit = host.waitExit(5000);
  ASSERT_NE(exit, -1) << "the orphaned host is still running";
  EXPECT_TRUE(WIFEXITED(exit) && WEXITSTATUS(exit) == 0);
  EXPECT_FALSE(fs::exists(host.socketPath()));
  EXPECT_FALSE(fs::exists(host.pidPath()));
  EXPECT_FALSE(fs::exists(registration));
}

TEST_F(HostLimitsTest, AHostWhoseInstallerIsAlreadyGoneDoesNotStay) {
  pid_t installer = startInstaller();
  ASSERT_GT(installer, 0);
  ::kill(installer, SIGKILL);
  int ignored = 0;
  ::waitpid(installer, &ignored, 0);
  host.extraArguments = {"--owner-pid", std::to_string(installer)};
  // It may be gone before the harness sees it ready.
  if (host.start()) {
    int exit = host.waitExit(5000);
    ASSERT_NE(exit, -1) << "the host stays without an installer";
    EXPECT_TRUE(WIFEXITED(exit) && WEXITSTATUS(exit) == 0);
  }
  EXPECT_EQ(host.pid(), -1);
  EXPECT_FALSE(fs::exists(host.socketPath()));
  EXPECT_FALSE(fs::exists(host.pidPath()));
}

}  // namespace
}  // namespace tv2::test
