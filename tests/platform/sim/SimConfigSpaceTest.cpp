// PCI configuration space of the simulated AMD parts through the ports and the
// memory-mapped window, the northbridge power and temperature registers, and
// the management unit with its mailbox.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <string>

#include "platform/sim/SimMachine.h"

namespace tv2::sim {
namespace {

constexpr uint32_t kMmioBase = 0xE0000000;

std::shared_ptr<SimMachine> manualMachine(const std::string& preset) {
  auto m = std::make_shared<SimMachine>(SimMachine::preset(preset).value());
  m->useManualClock();
  return m;
}

// Port 0xCF8 address with register bits 11:8 in 27:24.
uint32_t portAddress(int device, int function, uint32_t reg) {
  return 0x80000000u | (static_cast<uint32_t>(device) << 11) |
         (static_cast<uint32_t>(function) << 8) | (reg & 0xFC) | (((reg >> 8) & 0xF) << 24);
}

bool portRead(SimMachine& m, int device, int function, uint32_t reg, uint32_t* value) {
  return m.hardware().writePort(0xCF8, portAddress(device, function, reg)) &&
         m.hardware().readPort(0xCFC, value);
}

uint64_t windowAddress(int device, int function, uint32_t reg) {
  return kMmioBase + ((static_cast<uint64_t>(device) << 15) | (function << 12) | reg);
}

uint32_t physical(SimMachine& m, uint64_t address) {
  uint8_t bytes[4] = {};
  EXPECT_TRUE(m.hardware().readPhysical(address, 4, bytes)) << std::hex << address;
  uint32_t value = 0;
  std::memcpy(&value, bytes, 4);
  return value;
}

uint32_t config(SimMachine& m, int device, int function, uint32_t reg) {
  return physical(m, windowAddress(device, function, reg));
}

void setConfig(SimMachine& m, int device, int function, uint32_t reg, uint32_t value) {
  EXPECT_TRUE(m.hardware().writePhysicalDword(windowAddress(device, function, reg), value));
}

uint32_t smuRegister(SimMachine& m, uint32_t index) {
  setConfig(m, 0, 0, 0xB8, index);
  return config(m, 0, 0, 0xBC);
}

TEST(SimConfigSpaceTest, PortsIgnoreExtendedRegisterBitsUntilTheNorthbridgeAllowsThem) {
  auto m = manualMachine("amd-bd");
  uint32_t value = 0;
  // F4 0x15C through the ports reaches 0x5C while 0x8C bit 14 is clear.
  ASSERT_TRUE(portRead(*m, 0x18, 4, 0x15C, &value));
  EXPECT_EQ(value, 0u);
  EXPECT_EQ(config(*m, 0x18, 4, 0x15C), 0x89u);  // the window always reaches it
  uint32_t nb = 0;
  ASSERT_TRUE(portRead(*m, 0x18, 3, 0x8C, &nb));
  EXPECT_EQ(nb & (1u << 14), 0u);
  ASSERT_TRUE(m->hardware().writePort(0xCFC, nb | (1u << 14)));
  ASSERT_TRUE(portRead(*m, 0x18, 4, 0x15C, &value));
  EXPECT_EQ(value, 0x89u);  // boost enabled, two boost states
  EXPECT_EQ(config(*m, 0x18, 3, 0x8C), nb | (1u << 14));

  // The TDP the program derives: field * factor / 65536.
  const uint32_t e8 = config(*m, 0x18, 5, 0xE8);
  const uint32_t factor = ((e8 & 0x3FF) << 6) + ((e8 >> 10) & 0x3F);
  EXPECT_EQ((config(*m, 0x18, 4, 0x1B8) & 0xFFFF) * factor / 65536, 125u);

  // The kept address reads back; without its enable bit, and for devices that
  // do not exist, the data port fails; so do unaligned window accesses.
  ASSERT_TRUE(m->hardware().writePort(0xCF8, 0x0000C08C));
  ASSERT_TRUE(m->hardware().readPort(0xCF8, &value));
  EXPECT_EQ(value, 0x0000C08Cu);
  EXPECT_FALSE(m->hardware().readPort(0xCFC, &value));
  EXPECT_FALSE(portRead(*m, 0x19, 3, 0x8C, &value));
  uint8_t bytes[8] = {};
  EXPECT_FALSE(m->hardware().readPhysical(windowAddress(0x05, 0, 0), 4, bytes));
  EXPECT_FALSE(m->hardware().writePhysicalDword(windowAddress(0x18, 3, 0x8E), 0));
  EXPECT_FALSE(m->hardware().readPhysical(windowAddress(0x18, 3, 0xFFC), 8, bytes));
  // Failing registers by number.
  m->hardware().setPciFailing(0, 0x18, 4, 0x15C, true);
  EXPECT_FALSE(m->hardware().readPhysical(windowAddress(0x18, 4, 0x15C), 4, bytes));
  EXPECT_FALSE(portRead(*m, 0x18, 4, 0x15C, &value));
}

TEST(SimConfigSpaceTest, NorthbridgeTemperatureAndPowerFollowTheWorkload) {
  auto bd = manualMachine("amd-bd");
  bd->setTemperature(0, 47.5);
  setConfig(*bd, 0x18, 3, 0x1E8, 0x30);
  EXPECT_EQ(config(*bd, 0x18, 3, 0x1EC) & 0xFF, 47u);
  setConfig(*bd, 0x18, 3, 0x1E8, 0x31);
  EXPECT_EQ(config(*bd, 0x18, 3, 0x1EC) & 0xFF, 4u);  // eighths

  // Package power = base power of F4 0x1B8 + F4 0x1C0 bits 9:0 in 0.1 W.
  bd->setPower(0, SimPowerDraw{60.0, 15.0, 0.0, 0.0});
  const uint32_t base = (config(*bd, 0x18, 4, 0x1B8) >> 16) * 4096 / 65536;
  EXPECT_EQ(base + (config(*bd, 0x18, 4, 0x1C0) & 0x3FF) / 10.0, 75.0);

  // Trinity telemetry reads live only inside the hold/read exchange.
  auto tn = manualMachine("amd-tn");
  tn->setPower(0, SimPowerDraw{42.0, 9.0, 6.0, 0.0});
  EXPECT_EQ((smuRegister(*tn, 0x1F428) >> 29) & 1, 1u);
  const uint32_t scales = smuRegister(*tn, 0x1F840);
  EXPECT_EQ(config(*tn, 0x18, 5, 0x158), 0u);
  const uint32_t hold = config(*tn, 0x18, 5, 0x12C);
  ASSERT_NE(hold & 0x40, 0u);
  setConfig(*tn, 0x18, 5, 0x12C, hold & ~0x40u);
  setConfig(*tn, 0x18, 5, 0x188, config(*tn, 0x18, 5, 0x188) | 0x40);
  const auto watts = [](uint32_t d, uint32_t scale) {
    return (d & 0xFF) / 255.0 * scale / 100.0 * (1.55 - ((d >> 16) & 0xFF) * 0.00625);
  };
  EXPECT_NEAR(watts(config(*tn, 0x18, 5, 0x158), scales & 0xFFFF), 42.0, 0.6);
  EXPECT_NEAR(watts(config(*tn, 0x18, 5, 0x15C), scales >> 16), 15.0, 0.2);
}

TEST(SimConfigSpaceTest, MailboxAnswersAndLatchesTheAveragePower) {
  auto m = manualMachine("amd-kv-15h");
  const uint32_t base = config(*m, 1, 0, 0x24) & ~0xFu;
  ASSERT_NE(base, 0u);
  const auto send = [&](uint32_t message) {
    EXPECT_TRUE(m->hardware().writePhysicalDword(base + 0x250, message));
    return physical(*m, base + 0x254);
  };
  for (uint32_t message : {0x51u, 0x69u, 0x6Bu}) EXPECT_EQ(send(message), 1u);
  EXPECT_EQ(smuRegister(*m, 0x3FF7C), 0u);  // nothing latched yet

  m->setPower(0, SimPowerDraw{30.0, 7.0, 10.0, 0.0});
  EXPECT_EQ(send(0x170), 1u);
  m->advanceMs(10);
  m->setPower(0, SimPowerDraw{50.0, 7.0, 20.0, 0.0});
  m->advanceMs(10);
  EXPECT_EQ(send(0x171), 1u);
  EXPECT_EQ(smuRegister(*m, 0x3FF7C), 62u * 256);  // average of 47 W and 77 W
  EXPECT_EQ(smuRegister(*m, 0x3FE2C), 15u * 256);

  m->hardware().setMailboxAnswering(false);
  EXPECT_EQ(send(0x170), 0u);
  // No mailbox on parts without the management unit's window.
  auto bd = manualMachine("amd-bd");
  EXPECT_FALSE(bd->hardware().writePhysicalDword(base + 0x250, 0x170));
  EXPECT_EQ(config(*bd, 0, 0, 0), 0x17051022u);  // the host bridge exists
}

}  // namespace
}  // namespace tv2::sim
