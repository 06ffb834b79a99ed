// The host's access policy: which registers, ports and physical addresses a
// client may write, and how configuration addresses are decoded.

#include <gtest/gtest.h>

#include "driver/protocol/AccessPolicy.h"

namespace tv2 {
namespace {

PolicyFacts amdFacts() {
  PolicyFacts facts;
  facts.pmTimerPort = 0x808;
  facts.configWindowBase = 0xE0000000;
  facts.configWindowSize = 256u << 20;
  facts.mailboxBase = 0xFEB80000;
  return facts;
}

TEST(AccessPolicy, ConfigurationAddressesCarryAmdExtendedRegisterBits) {
  ConfigRegister target;
  EXPECT_FALSE(AccessPolicy::decodeConfigAddress(0x0100C45C, &target)) << "enable bit clear";
  ASSERT_TRUE(AccessPolicy::decodeConfigAddress(0x8100C45F, &target));
  EXPECT_EQ(target.bus, 0);
  EXPECT_EQ(target.device, 0x18);
  EXPECT_EQ(target.function, 4);
  EXPECT_EQ(target.reg, 0x15Cu);
  ConfigRegister window = AccessPolicy::decodeWindowOffset(0x012C55E8);
  EXPECT_EQ(window.bus, 0x12);
  EXPECT_EQ(window.device, 0x18);
  EXPECT_EQ(window.function, 5);
  EXPECT_EQ(window.reg, 0x5E8u);
}

TEST(AccessPolicy, ConfigurationWritesOnlyToTheProgrammedBits) {
  auto mask = [](int bus, int device, int function, uint32_t reg) {
    return AccessPolicy::configWriteMask(ConfigRegister{bus, device, function, reg});
  };
  EXPECT_EQ(mask(0, 0, 0, 0xB8), 0xFFFFFFFFu);
  EXPECT_EQ(mask(0, 0, 0, 0xBC), 0u) << "the management unit's data register is read only";
  EXPECT_EQ(mask(0, 0x18, 3, 0x8C), 1u << 14);
  EXPECT_EQ(mask(0, 0x1F, 3, 0x1E8), 0x7FFu);
  EXPECT_EQ(mask(0, 0x19, 5, 0x12C), 1u << 6);
  EXPECT_EQ(mask(0, 0x18, 5, 0x188), 1u << 6);
  EXPECT_EQ(mask(0, 0x18, 4, 0x8C), 0u);
  EXPECT_EQ(mask(1, 0x18, 3, 0x8C), 0u);
  EXPECT_EQ(mask(0, 0x17, 3, 0x8C), 0u);
  EXPECT_EQ(mask(0, 0, 0, 0x04), 0u);
}

TEST(AccessPolicy, PortsAreTheConfigurationMechanismAndTheTimer) {
  AccessPolicy policy(amdFacts());
  EXPECT_TRUE(policy.mayReadPort(0xCF8));
  EXPECT_TRUE(policy.mayReadPort(0xCFC));
  EXPECT_TRUE(policy.mayReadPort(0x808));
  EXPECT_FALSE(policy.mayReadPort(0x80C));
  EXPECT_FALSE(AccessPolicy(PolicyFacts{}).mayReadPort(0x808));
  EXPECT_TRUE(AccessPolicy::mayWritePort(0xCF8));
  EXPECT_TRUE(AccessPolicy::mayWritePort(0xCFC));
  EXPECT_FALSE(AccessPolicy::mayWritePort(0x808));
  EXPECT_FALSE(AccessPolicy::mayWritePort(0xCF9)) << "the reset control port";
}

TEST(AccessPolicy, PhysicalWritesOnlyToTheMailboxAndTheWindow) {
  AccessPolicy policy(amdFacts());
  using W = AccessPolicy::PhysicalWrite;
  EXPECT_EQ(policy.classifyPhysicalWrite(0xFEB80250), W::kMailbox);
  EXPECT_EQ(policy.classifyPhysicalWrite(0xFEB80254), W::kRefused);
  EXPECT_EQ(policy.classifyPhysicalWrite(0xE0000000), W::kConfigWindow);
  EXPECT_EQ(policy.classifyPhysicalWrite(0xEFFFFFFC), W::kConfigWindow);
  EXPECT_EQ(policy.classifyPhysicalWrite(0xF0000000), W::kRefused);
  EXPECT_EQ(policy.classifyPhysicalWrite(0xDFFFFFFC), W::kRefused);
  EXPECT_EQ(policy.classifyPhysicalWrite(0xE0000002), W::kRefused) << "unaligned";
  EXPECT_EQ(AccessPolicy(PolicyFacts{}).classifyPhysicalWrite(0xFEB80250), W::kRefused);
  // A read may not run from one function's registers into the next's.
  EXPECT_TRUE(policy.inConfigWindow(0xE0000F00, 0x100));
  EXPECT_FALSE(policy.inConfigWindow(0xE0000F00, 0x101));
  EXPECT_FALSE(policy.inConfigWindow(0xEFFFFFFC, 8));
}

}  // namespace
}  // namespace tv2

namespace tv2 {
namespace {

TEST(AccessPolicy, PhysicalReadsOnlyWhereTheMonitorReads) {
  PolicyFacts facts = amdFacts();
  facts.firmwareTables = {PhysicalRange{0x7FEE0000, 104}, PhysicalRange{0x7FEE0200, 244}};
  facts.hpetBase = 0xFED00000;
  AccessPolicy policy(facts);
  struct Case {
    uint64_t address;
    uint64_t length;
    bool served;
  };
  const Case cases[] = {
      {0, 0x400, true},                // the first KB, where the root pointer is looked for first
      {0x3FC, 8, false},               // ... and not a byte beyond it
      {0xE0000, 0x10000, true},        // the BIOS area in the client's two pieces
      {0xF0000, 0x10000, true},
      {0xDFFFF, 2, false},
      {0xFFFFC, 8, false},
      {0x100000, 4, false},            // ordinary memory
      {0x7FEE0000, 104, true},         // the root table as the client reads it
      {0x7FEE0200, 244, true},         // a listed table, by its stated length
      {0x7FEE0200, 245, false},
      {0x7FEE0100, 36, false},         // between tables
      {0xFED00000, 4, true},           // the HPET block
      {0xFED000F0, 8, true},
      {0xFED003FC, 8, false},
      {0xFEB80254, 4, true},           // the mailbox's answer
      {0xFEB80250, 4, true},
      {0xFEB80000, 4, false},          // the rest of the unit's registers
      {0xFEB80258, 4, false},
      {0xE000C38C, 4, true},           // the configuration window
      {0xEFFFFFFC, 8, false},
      {0xFFFFFFFFFFFFFFF0ull, 32, false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(policy.mayReadPhysical(c.address, c.length), c.served) << std::hex << c.address << " " << c.length;
  EXPECT_FALSE(policy.mayReadPhysical(0, 0));

  // A machine without tables, HPET, window or mailbox: the BIOS areas only.
  AccessPolicy bare{PolicyFacts{}};
  EXPECT_TRUE(bare.mayReadPhysical(0xF6A70, 20));
  EXPECT_FALSE(bare.mayReadPhysical(0xFED00000, 4));
  EXPECT_FALSE(bare.mayReadPhysical(0xE0000000, 4));
}

TEST(AccessPolicy, MailboxMessagesAndAmdDevicesOnly) {
  for (uint32_t message : {0x51u, 0x69u, 0x6Bu, 0x170u, 0x171u})
    EXPECT_TRUE(AccessPolicy::mayWriteMailboxMessage(message)) << std::hex << message;
  for (uint32_t message : {0u, 0x50u, 0x52u, 0x172u, 0xFFFFFFFFu})
    EXPECT_FALSE(AccessPolicy::mayWriteMailboxMessage(message)) << std::hex << message;

  const ConfigRegister hostBridge{0, 0, 0, 0xB8};
  EXPECT_TRUE(AccessPolicy::isAmdDeviceFor(hostBridge, 0x14101022));
  EXPECT_FALSE(AccessPolicy::isAmdDeviceFor(hostBridge, 0x01008086)) << "an Intel host bridge: SMRAM base";
  EXPECT_FALSE(AccessPolicy::isAmdDeviceFor(hostBridge, 0xFFFFFFFF)) << "no device";
  const ConfigRegister f3{0, 0x18, 3, 0x8C};
  const ConfigRegister f5{0, 0x19, 5, 0x12C};
  for (uint32_t id : {0x16031022u, 0x14031022u, 0x141D1022u, 0x15331022u, 0x12031022u})
    EXPECT_TRUE(AccessPolicy::isAmdDeviceFor(f3, id)) << std::hex << id;
  EXPECT_TRUE(AccessPolicy::isAmdDeviceFor(f5, 0x16051022u));
  EXPECT_TRUE(AccessPolicy::isAmdDeviceFor(f5, 0x141F1022u));
  EXPECT_FALSE(AccessPolicy::isAmdDeviceFor(f3, 0x16051022u)) << "function 5's id at function 3";
  EXPECT_FALSE(AccessPolicy::isAmdDeviceFor(f3, 0x16038086u)) << "right id, other vendor";
  EXPECT_FALSE(AccessPolicy::isAmdDeviceFor(f3, 0x43851022u)) << "some other AMD device";
}

}  // namespace
}  // namespace tv2
