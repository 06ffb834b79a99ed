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

// The areas the root pointer is searched in.
constexpr PhysicalRange kFirstKb{0, 0x400};
constexpr PhysicalRange kBiosArea{0xE0000, 0x20000};

// Device ids of the northbridge functions 0x18.0-5, as the first function's
// id: each function's id is this plus its number (families 10h, 11h, 12h/14h,
// 15h models 00h, 10h, 30h, 60h, 16h models 00h, 30h).
constexpr uint32_t kNorthbridgeBases[] = {0x1200, 0x1300, 0x1700, 0x1600, 0x1400,
                                          0x141A, 0x1570, 0x1530, 0x1580};

// The management-unit messages the power counters send.
constexpr uint32_t kMailboxMessages[] = {0x51, 0x69, 0x6B, 0x170, 0x171};

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

bool AccessPolicy::mayReadPhysical(uint64_t address, uint64_t length) const {
  if (length == 0 || address + length < address) return false;
  if (kFirstKb.contains(address, length) || kBiosArea.contains(address, length)) return true;
  for (const PhysicalRange& table : m_facts.firmwareTables)
    if (table.contains(address, length)) return true;
  if (m_facts.hpetBase.has_value() &&
      PhysicalRange{*m_facts.hpetBase, FirmwareTables::kHpetBlockSize}.contains(address, length))
    return true;
  if (m_facts.mailboxBase.has_value() &&
      PhysicalRange{*m_facts.mailboxBase + kMailboxMessageOffset, 8}.contains(address, length))
    return true;
  return inConfigWindow(address, length);
}

bool AccessPolicy::mayWriteMailboxMessage(uint32_t message) {
  for (uint32_t known : kMailboxMessages)
    if (message == known) return true;
  return false;
}

bool AccessPolicy::isAmdDeviceFor(const ConfigRegister& target, uint32_t deviceId) {
  if ((deviceId & 0xFFFF) != kAmdVendor) return false;
  if (target.bus == 0 && target.device == 0 && target.function == 0) return true;  // AMD's host bridge
  uint32_t device = deviceId >> 16;
  for (uint32_t base : kNorthbridgeBases)
    if (device == base + static_cast<uint32_t>(target.function)) return true;
  return false;
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
