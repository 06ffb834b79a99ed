// The driver client's hardware operations, through the simulated device and
// the shared request handling, on a simulated machine or on recording
// hardware.

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/ErrorCodes.h"
#include "tests/hw/DriverFixture.h"
#include "tests/hw/FakeHardware.h"

namespace tv2::test {
namespace {

constexpr uint32_t kAllOnes = 0xFFFFFFFF;

class DriverRequestTest : public DriverFixture {
 protected:
  void acquire() {
    initialize();
    uint32_t error = 0;
    ASSERT_EQ(driver->Acquire(&error, 0), 1) << error;
  }
  void TearDown() override {
    if (driver) driver->Release();
  }
  // The next host runs on the recording hardware.
  void useFake() { system().setHardware(fake); }
  bool pinTo(int cpu) {
    return platform->processors().setThreadGroupAffinity(GroupAffinity{uint64_t{1} << cpu, 0});
  }

  FakeHardware fake;
};

TEST_F(DriverRequestTest, EveryOperationFailsWithoutTheDeviceAndLeavesAllOnes) {
  initialize();
  uint32_t high = 0, low = 0, value = 0;
  EXPECT_EQ(driver->ReadMsr(0x10, &high, &low), 0);
  EXPECT_EQ(high, kAllOnes);
  EXPECT_EQ(low, kAllOnes);
  EXPECT_EQ(driver->ReadPortDword(0xCF8, &value), 0);
  EXPECT_EQ(value, kAllOnes);
  value = 0;
  EXPECT_EQ(driver->ReadPhysicalDword(0, 0xF0000, 0, &value), 0);
  EXPECT_EQ(value, kAllOnes);
  value = 0;
  EXPECT_EQ(driver->ReadPciConfig(0, 0, 0, 0, &value), 0);
  EXPECT_EQ(value, kAllOnes);
  EXPECT_EQ(driver->WriteMsr(0x186, 0, 0), 0);
  EXPECT_EQ(driver->WritePortDword(0xCF8, 0), 0);
  EXPECT_EQ(driver->WritePhysicalDword(0, 0, 0, 0), 0);
}

TEST_F(DriverRequestTest, RegistersAreReadAndWrittenOnTheCallersProcessor) {
  acquire();
  ASSERT_TRUE(pinTo(3));
  EXPECT_EQ(driver->WriteMsr(0x186, 0, 0x004300C0), 1);
  uint32_t high = 0, low = 0;
  ASSERT_EQ(driver->ReadMsr(0x186, &high, &low), 1);
  EXPECT_EQ(low, 0x004300C0u);
  EXPECT_EQ(high, 0u);
  uint64_t onThree = 0, onZero = 0;
  ASSERT_TRUE(machine->hardware().readMsr(3, 0x186, &onThree));
  ASSERT_TRUE(machine->hardware().readMsr(0, 0x186, &onZero));
  EXPECT_EQ(onThree, 0x004300C0u);
  EXPECT_EQ(onZero, 0u);
}

TEST_F(DriverRequestTest, WritesOutsideTheMonitoringRegistersNeverReachTheHardware) {
  useFake();
  acquire();
  fake.takeLog();
  for (uint32_t index : {0x10u, 0x185u, 0x18Eu, 0xC0u, 0xC9u, 0x30Cu, 0x38Eu, 0x390u, 0x19Cu, 0x1A2u,
                         0xC0010058u, 0xC001020Cu, 0xC0010248u, 0xC0010015u})
    EXPECT_EQ(driver->WriteMsr(index, 0, 0), 0) << std::hex << index;
  EXPECT_EQ(fake.count("wrmsr"), 0);
  for (uint32_t index : {0x186u, 0x18Du, 0xC1u, 0xC8u, 0x309u, 0x30Bu, 0x38Du, 0x38Fu, 0xC0010200u,
                         0xC001020Bu, 0xC0010240u, 0xC0010247u})
    EXPECT_EQ(driver->WriteMsr(index, 0, 1), 1) << std::hex << index;
}

TEST_F(DriverRequestTest, OnlyTheCpuidLimitBitOf0x1A0Moves) {
  acquire();
  ASSERT_TRUE(pinTo(0));
  uint64_t misc = 0;
  ASSERT_TRUE(machine->hardware().readMsr(0, 0x1A0, &misc));
  EXPECT_EQ(driver->WriteMsr(0x1A0, 0xFFFFFFFF, 0xFFFFFFFF), 1);
  uint64_t limited = 0;
  ASSERT_TRUE(machine->hardware().readMsr(0, 0x1A0, &limited));
  EXPECT_EQ(limited, misc | (uint64_t{1} << 22));
  EXPECT_TRUE(machine->hardware().cpuidLimited(0));
  EXPECT_EQ(driver->WriteMsr(0x1A0, 0, 0), 1);
  ASSERT_TRUE(machine->hardware().readMsr(0, 0x1A0, &limited));
  EXPECT_EQ(limited, misc & ~(uint64_t{1} << 22));
}

TEST_F(DriverRequestTest, AllOnesInBothHalvesIsAFailedRead) {
  useFake();
  fake.msrs[0x10] = ~uint64_t{0};
  fake.msrs[0x11] = 0xFFFFFFFF00000000ull;
  acquire();
  uint32_t high = 0, low = 0;
  EXPECT_EQ(driver->ReadMsr(0x10, &high, &low), 0);
  EXPECT_EQ(high, kAllOnes);
  EXPECT_EQ(low, kAllOnes);
  EXPECT_EQ(driver->ReadMsr(0x11, &high, &low), 1);
  EXPECT_EQ(high, kAllOnes);
  EXPECT_EQ(low, 0u);
  EXPECT_EQ(driver->ReadMsr(0x12, &high, &low), 0) << "a missing register";
  // A write reports success unless the low half it wrote is all ones.
  EXPECT_EQ(driver->WriteMsr(0xC1, 0, 0xFFFFFFFF), 0);
  EXPECT_EQ(fake.msrs[0xC1], 0xFFFFFFFFu);
}

TEST_F(DriverRequestTest, PhysicalReadsOfAnyLengthAndNoneForZeroBytes) {
  acquire();
  uint8_t buffer[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  EXPECT_EQ(driver->ReadPhysicalMemory(0, 0xF0000, 0, buffer), 0);
  EXPECT_EQ(buffer[0], 1) << "nothing was copied";

  // The BIOS area is twice what one request carries.
  std::vector<uint8_t> bios(0x20000);
  ASSERT_EQ(driver->ReadPhysicalMemory(0, 0xE0000, static_cast<uint32_t>(bios.size()), bios.data()), 1);
  bool found = false;
  for (size_t offset = 0; offset + 8 <= bios.size() && !found; offset += 16)
    found = std::memcmp(bios.data() + offset, "RSD PTR ", 8) == 0;
  EXPECT_TRUE(found);

  uint32_t value = 0;
  EXPECT_EQ(driver->ReadPhysicalDword(0, 0x10000000, 0, &value), 0) << "unbacked memory";
  EXPECT_EQ(value, kAllOnes);
  EXPECT_EQ(driver->WritePhysicalDword(0, 0xFED00000, 0x10, 1), 0) << "the HPET may not be written";
}

TEST_F(DriverRequestTest, ZeroBytePhysicalReadSendsNoRequest) {
  useFake();
  acquire();
  fake.takeLog();
  uint8_t buffer[4] = {};
  EXPECT_EQ(driver->ReadPhysicalMemory(0, 0x1000, 0, buffer), 0);
  EXPECT_TRUE(fake.takeLog().empty());
}

TEST_F(DriverRequestTest, PciReadsShiftTheDwordByTheOffsetsByte) {
  useFake();
  fake.config[0x8000C08C] = 0xAABBCCDD;  // 0:18.0 register 0x8C
  fake.configAddress = 0x12345678;
  acquire();
  uint32_t value = 0;
  ASSERT_EQ(driver->ReadPciConfig(0, 0x18, 0, 0x8E, &value), 1);
  EXPECT_EQ(value, 0xAABBu);
  ASSERT_EQ(driver->ReadPciConfig(0, 0x18, 0, 0x8D, &value), 1);
  EXPECT_EQ(value, 0xAABBCCu);
  EXPECT_EQ(fake.configAddress, 0x12345678u) << "the address register is put back";
  // Extended register bits in 27:24, as the caller composed them.
  fake.config[0x8100C45C] = 0x1C;
  ASSERT_EQ(driver->ReadPciConfigAddress(0x8100C45C, &value), 1);
  EXPECT_EQ(value, 0x1Cu);
}

TEST_F(DriverRequestTest, MisalignedPciWriteTouchesNoPort) {
  useFake();
  acquire();
  fake.takeLog();
  EXPECT_EQ(driver->WritePciConfigDword(0, 0x18, 3, 0x8E, 0x4000), 0);
  EXPECT_TRUE(fake.takeLog().empty());
  // An aligned one goes through 0xCF8 and 0xCFC and restores the address.
  fake.config[0x8000C38C] = 0xD03;
  fake.config[0x8000C300] = 0x16031022;  // AMD's family 15h northbridge function 3
  fake.configAddress = 0x80000000;
  EXPECT_EQ(driver->WritePciConfigDword(0, 0x18, 3, 0x8C, 0xD03 | 0x4000), 1);
  EXPECT_EQ(fake.config[0x8000C38C], 0x4D03u);
  EXPECT_EQ(fake.configAddress, 0x80000000u);
}

TEST_F(DriverRequestTest, AFailedPortStepEndsThePciSequence) {
  acquire();
  machine->hardware().setPortFailing(0xCFC, true);
  uint32_t value = 0;
  EXPECT_EQ(driver->ReadPciConfig(0, 0, 0, 0, &value), 0);
  EXPECT_EQ(value, kAllOnes);
  machine->hardware().setPortFailing(0xCFC, false);
  ASSERT_EQ(driver->ReadPciConfig(0, 0, 0, 0, &value), 1);
  EXPECT_EQ(value & 0xFFFF, 0x8086u);
}

TEST_F(DriverRequestTest, PortsBeyondTheConfigurationMechanismAndTheTimerAreRefused) {
  acquire();
  uint32_t value = 0;
  EXPECT_EQ(driver->ReadPortDword(0x80, &value), 0);
  EXPECT_EQ(driver->WritePortDword(0x80, 1), 0);
  EXPECT_EQ(driver->WritePortDword(0x70, 0), 0);
  // The PM timer port the FADT names is read.
  uint32_t port = machine->config().firmware.pmTimerPort;
  ASSERT_NE(port, 0u);
  EXPECT_EQ(driver->ReadPortDword(port, &value), 1);
  // Configuration writes reach only the registers the monitor programs.
  EXPECT_EQ(driver->WritePortDword(0xCF8, 0x80000004), 1);
  EXPECT_EQ(driver->WritePortDword(0xCFC, 0), 0) << "the host bridge's command register";
}

TEST_F(DriverRequestTest, OtherPortsNeverReachTheHardware) {
  fake.ports[0x80] = 0x12;
  fake.ports[0x408] = 0x34;
  useFake();
  acquire();
  fake.takeLog();
  uint32_t value = 0;
  EXPECT_EQ(driver->ReadPortDword(0x80, &value), 0);
  EXPECT_EQ(value, kAllOnes);
  EXPECT_EQ(driver->ReadPortDword(0x408, &value), 0) << "no FADT names it here";
  EXPECT_EQ(driver->WritePortDword(0x80, 1), 0);
  EXPECT_EQ(fake.count("in 80"), 0);
  EXPECT_EQ(fake.count("in 408"), 0);
  EXPECT_EQ(fake.count("out 80"), 0);
}

TEST_F(DriverRequestTest, AmdMailboxAndConfigurationWindowWrites) {
  useMachine("amd-kv-15h");
  acquire();
  uint32_t value = 0;
  // The window: 0:18.3 register 0x8C takes bit 14 and nothing else.
  const uint32_t window = 0xE0000000;
  const uint32_t nb3 = (0x18u << 15 | 3u << 12);
  ASSERT_EQ(driver->ReadPhysicalDword(0, window, nb3 | 0x8C, &value), 1);
  EXPECT_EQ(value, 0xD03u);
  EXPECT_EQ(driver->WritePhysicalDword(0, window, nb3 | 0x8C, 0xFFFFFFFF), 1);
  ASSERT_EQ(driver->ReadPhysicalDword(0, window, nb3 | 0x8C, &value), 1);
  EXPECT_EQ(value, 0xD03u | 0x4000u);
  EXPECT_EQ(driver->WritePhysicalDword(0, window, 0x04, 0), 0) << "host bridge command register";

  // The management unit's message register; the answer is the unit's to write.
  EXPECT_EQ(driver->WritePhysicalDword(0, 0xFEB80000, 0x250, 0x51), 1);
  ASSERT_EQ(driver->ReadPhysicalDword(0, 0xFEB80000, 0x254, &value), 1);
  EXPECT_EQ(value, 1u);
}

TEST_F(DriverRequestTest, PhysicalWritesOutsideTheMailboxAndWindowNeverReachTheHardware) {
  // Recording hardware that claims an AMD graphics function with a mailbox
  // at 0xFEB80000 and a configuration window at 0xE0000000.
  fake.msrs[0xC0010058] = 0xE0000021;
  fake.config[0x80000800] = 0x99901002;
  fake.config[0x80000824] = 0xFEB80000;
  fake.putMemory(0xE0000000, {0x22, 0x10, 0x10, 0x14});  // AMD's host bridge
  useFake();
  acquire();
  fake.takeLog();
  for (uint32_t address : {0xFEB80254u, 0xFEB8024Cu, 0xFEB80000u, 0xFED00010u, 0xDFFFFFFCu, 0xF0000000u,
                           0xE0000004u, 0xE000C38Eu})
    EXPECT_EQ(driver->WritePhysicalDword(0, address, 0, 0), 0) << std::hex << address;
  EXPECT_EQ(fake.count("write"), 0);
  EXPECT_EQ(driver->WritePhysicalDword(0, 0xFEB80250, 0, 0x51), 1);
  EXPECT_EQ(driver->WritePhysicalDword(0, 0xFEB80250, 0, 0x52), 0) << "not a message the monitor sends";
  EXPECT_EQ(driver->WritePhysicalDword(0, 0xE000C000, 0xB8, 0), 0) << "0:24.0 is not the host bridge";
  EXPECT_EQ(driver->WritePhysicalDword(0, 0xE0000000, 0xB8, 0x1F428), 1);
  EXPECT_EQ(fake.count("write"), 2);
}

}  // namespace
}  // namespace tv2::test
