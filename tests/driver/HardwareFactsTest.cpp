// What the host learns about the machine before it serves anyone.

#include <gtest/gtest.h>

#include <vector>

#include "driver/protocol/HardwareFacts.h"
#include "driver/protocol/LittleEndian.h"
#include "platform/sim/SimFirmware.h"
#include "platform/sim/SimMachine.h"

namespace tv2 {
namespace {

std::vector<uint8_t> fadt(uint32_t length, uint32_t port) {
  std::vector<uint8_t> table(length < 80 ? 80 : length, 0);
  std::copy_n("FACP", 4, table.begin());
  storeLe32(table.data() + 4, length);
  storeLe32(table.data() + 76, port);
  return table;
}

TEST(HardwareFacts, PmTimerPortComesFromAWholeFadt) {
  std::vector<uint8_t> table = fadt(244, 0x608);
  EXPECT_EQ(HardwareFacts::pmTimerPortFromFadt(table.data(), table.size()), 0x608u);
  EXPECT_FALSE(HardwareFacts::pmTimerPortFromFadt(table.data(), 79).has_value()) << "cut before the port";
  table = fadt(300, 0x608);
  EXPECT_FALSE(HardwareFacts::pmTimerPortFromFadt(table.data(), 244).has_value()) << "claims more than it has";
  table = fadt(244, 0);
  EXPECT_FALSE(HardwareFacts::pmTimerPortFromFadt(table.data(), table.size()).has_value());
  table = fadt(244, 0x10000);
  EXPECT_FALSE(HardwareFacts::pmTimerPortFromFadt(table.data(), table.size()).has_value());
  table = fadt(244, 0x608);
  table[0] = 'X';
  EXPECT_FALSE(HardwareFacts::pmTimerPortFromFadt(table.data(), table.size()).has_value());
}

TEST(HardwareFacts, LearnsFromTheMachinesOwnTables) {
  sim::SimMachine intel(*sim::SimMachine::preset("intel-snb"));
  PolicyFacts facts = HardwareFacts::learn(intel.hardware(), std::nullopt);
  EXPECT_EQ(facts.pmTimerPort, intel.config().firmware.pmTimerPort);
  EXPECT_EQ(facts.configWindowSize, 0u);
  EXPECT_FALSE(facts.mailboxBase.has_value());

  sim::SimMachine kaveri(*sim::SimMachine::preset("amd-kv-15h"));
  uint32_t kept = 0x80001234;
  ASSERT_TRUE(kaveri.hardware().writePort(0xCF8, kept));
  facts = HardwareFacts::learn(kaveri.hardware(), 0x1234u);
  EXPECT_EQ(facts.pmTimerPort, 0x1234u) << "a port the kernel named wins";
  EXPECT_EQ(facts.configWindowBase, 0xE0000000u);
  EXPECT_EQ(facts.configWindowSize, 256u << 20);
  EXPECT_EQ(facts.mailboxBase, 0xFEB80000u);
  uint32_t address = 0;
  ASSERT_TRUE(kaveri.hardware().readPort(0xCF8, &address));
  EXPECT_EQ(address, kept) << "the probe puts the configuration address back";

  // Without a graphics function there is no mailbox to write to.
  sim::SimMachine bulldozer(*sim::SimMachine::preset("amd-bd"));
  facts = HardwareFacts::learn(bulldozer.hardware(), std::nullopt);
  EXPECT_EQ(facts.configWindowBase, 0xE0000000u);
  EXPECT_FALSE(facts.mailboxBase.has_value());
}

TEST(HardwareFacts, NoRootPointerNoTimerPort) {
  auto config = *sim::SimMachine::preset("intel-snb");
  config.firmware.rsdpPlace = sim::SimRsdpPlace::kNowhere;
  sim::SimMachine machine(config);
  EXPECT_FALSE(HardwareFacts::findPmTimerPort(machine.hardware()).has_value());
  config.firmware.rsdpPlace = sim::SimRsdpPlace::kFirstKb;
  sim::SimMachine firstKb(config);
  EXPECT_EQ(HardwareFacts::findPmTimerPort(firstKb.hardware()), config.firmware.pmTimerPort);
}

}  // namespace
}  // namespace tv2

namespace tv2 {
namespace {

bool covers(const PolicyFacts& facts, uint64_t address, uint64_t length) {
  for (const PhysicalRange& range : facts.firmwareTables)
    if (range.contains(address, length)) return true;
  return false;
}

TEST(HardwareFacts, TheWalkFindsTheTablesTheClientReadsAndNoOthers) {
  auto config = *sim::SimMachine::preset("intel-snb");
  sim::SimMachine machine(config);
  PolicyFacts facts = HardwareFacts::learn(machine.hardware(), 0x1234u);
  // Root table, FACP, APIC, HPET (the sim puts them one slot apart).
  ASSERT_EQ(facts.firmwareTables.size(), 4u);
  const uint64_t root = sim::SimFirmware::kTablesBase;
  EXPECT_TRUE(covers(facts, root, 104)) << "the client reads 104 bytes of the root table";
  EXPECT_TRUE(covers(facts, root + sim::SimFirmware::kTableSlot, static_cast<uint64_t>(config.firmware.fadtLength)));
  EXPECT_FALSE(covers(facts, root + sim::SimFirmware::kTableSlot, config.firmware.fadtLength + 1u));
  EXPECT_EQ(facts.hpetBase, uint64_t{config.firmware.hpetBase});

  // Only the first 17 entries: with 20 tables ahead, FACP and HPET are not reached.
  config.firmware.extraTables = 20;
  sim::SimMachine crowded(config);
  facts = HardwareFacts::learn(crowded.hardware(), std::nullopt);
  EXPECT_EQ(facts.firmwareTables.size(), 18u);
  EXPECT_FALSE(facts.pmTimerPort.has_value());
  EXPECT_FALSE(facts.hpetBase.has_value());

  // An HPET in I/O space names no memory; a table claiming no length is none.
  config = *sim::SimMachine::preset("intel-snb");
  config.firmware.hpetAddressSpace = 1;
  config.firmware.fadtFault = sim::SimTableFault::kZeroLength;
  sim::SimMachine odd(config);
  facts = HardwareFacts::learn(odd.hardware(), std::nullopt);
  EXPECT_FALSE(facts.hpetBase.has_value());
  EXPECT_FALSE(facts.pmTimerPort.has_value());
  EXPECT_EQ(facts.firmwareTables.size(), 3u);
}

}  // namespace
}  // namespace tv2
