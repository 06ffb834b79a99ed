#include "driver/protocol/AccessPolicy.h"

namespace tv2 {

namespace {

constexpr uint64_t kWholeMsr = ~uint64_t{0};
constexpr uint32_t kWholeDword = 0xFFFFFFFF;

// Registers the counters program, by range.
struct MsrRange {
  uint32_t first;
  uint32_t last;
};

constexpr MsrRange kWritableMsrs[] = {
    {0x0C1, 0x0C8},            // general counters IA32_PMC0..7
    {0x186, 0x18D},            // their event selects
    {0x309, 0x30B},            // fixed counters
    {0x38D, 0x38D},            // fixed-counter control
    {0x38F, 0x38F},            // global control
    {0xC0010200, 0xC001020B},  // AMD core selects and counters
    {0xC0010240, 0xC0010247},  // AMD northbridge selects and counters
};

bool isNorthbridge(const ConfigRegister& target, int function) {
  return target.bus == 0 && target.device >= 0x18 && target.device <= 0x1F &&
         target.function == function;
}

}  // namespace

AccessPolicy::AccessPolicy(PolicyFacts facts) : m_facts(facts) {}

uint64_t AccessPolicy::msrWriteMask(uint32_t index) {
  for (const MsrRange& range : kWritableMsrs)
    if (index >= range.first && index <= range.last) return kWholeMsr;
  // The monitor only lifts the BIOS limit on CPUID leaves (and puts it back);
  // every other bit of the miscellaneous enables stays as the firmware set it.
  if (index == kMiscEnableMsr) return kCpuidLimitBit;
  return 0;
}

uint32_t AccessPolicy::configWriteMask(const ConfigRegister& target) {
  // The management unit's index register on the host bridge.
  if (target.bus == 0 && target.device == 0 && target.function == 0 && target.reg == 0xB8)
    return kWholeDword;
  if (isNorthbridge(target, 3)) {
    if (target.reg == 0x8C) return 1u << 14;  // extended register numbers through 0xCF8
    if (target.reg == 0x1E8) return 0x7FF;    // temperature index field
  }
  if (isNorthbridge(target, 5) && (target.reg == 0x12C || target.reg == 0x188))
    return 1u << 6;  // power sample latch bits
  return 0;
}

bool AccessPolicy::mayReadPort(uint32_t port) const {
  if (port == kConfigAddressPort || port == kConfigDataPort) return true;
  return m_facts.pmTimerPort.has_value() && *m_facts.pmTimerPort == port;
}

bool AccessPolicy::mayWritePort(uint32_t port) {
  return port == kConfigAddressPort || port == kConfigDataPort;
}

AccessPolicy::PhysicalWrite AccessPolicy::classifyPhysicalWrite(uint64_t address) const {
  if ((address & 3) != 0) return PhysicalWrite::kRefused;
  if (inConfigWindow(address, 4)) return PhysicalWrite::kConfigWindow;
  if (m_facts.mailboxBase.has_value() && address == *m_facts.mailboxBase + kMailboxMessageOffset)
    return PhysicalWrite::kMailbox;
  return PhysicalWrite::kRefused;
}

bool AccessPolicy::inConfigWindow(uint64_t address, uint64_t length) const {
  if (m_facts.configWindowSize == 0 || length == 0) return false;
  if (address < m_facts.configWindowBase) return false;
  uint64_t offset = address - m_facts.configWindowBase;
  if (offset >= m_facts.configWindowSize || length > m_facts.configWindowSize - offset) return false;
  // One function's registers only: the sysfs file behind it ends there.
  return (offset & 0xFFF) + length <= 0x1000;
}

bool AccessPolicy::decodeConfigAddress(uint32_t address, ConfigRegister* target) {
  if ((address & 0x80000000u) == 0 || target == nullptr) return false;
  target->bus = static_cast<int>((address >> 16) & 0xFF);
  target->device = static_cast<int>((address >> 11) & 0x1F);
  target->function = static_cast<int>((address >> 8) & 7);
  target->reg = (address & 0xFC) | ((address >> 16) & 0xF00);
  return true;
}

ConfigRegister AccessPolicy::decodeWindowOffset(uint64_t offset) {
  ConfigRegister target;
  target.bus = static_cast<int>((offset >> 20) & 0xFF);
  target.device = static_cast<int>((offset >> 15) & 0x1F);
  target.function = static_cast<int>((offset >> 12) & 7);
  target.reg = static_cast<uint32_t>(offset & 0xFFF);
  return target;
}

}  // namespace tv2
