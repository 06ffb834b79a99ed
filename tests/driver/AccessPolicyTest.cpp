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
