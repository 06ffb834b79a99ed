#include "counters/AMD_Counter.h"

#include "hw/CKMDriver.h"
#include "platform/Platform.h"

namespace tv2 {
namespace {

constexpr uint32_t kMsrMmioConfigBase = 0xC0010058;
constexpr uint32_t kPortConfigAddress = 0xCF8;
constexpr uint32_t kPortConfigData = 0xCFC;

// The port mechanism's address with register bits 11:8 in address bits
// 27:24: the form these processors accept once 0:18.3 0x8C bit 14 is set.
// Without it, registers above 0xFF would silently read register & 0xFF.
uint32_t extendedConfigAddress(uint32_t bus, uint32_t device, uint32_t function, uint32_t reg) {
  return 0x80000000u | ((bus & 0xFF) << 16) | ((device & 0x1F) << 11) | ((function & 7) << 8) | (reg & 0xFC) |
         ((reg & 0xF00) << 16);
}

// The dword holding the register within the memory-mapped window. The window
// is read a dword at a time and the register's byte is shifted down after,
// as the port path does; an unaligned dword read would shift twice.
uint32_t configOffset(uint32_t bus, uint32_t device, uint32_t function, uint32_t reg) {
  return ((bus << 8) | ((device << 3) & 0xFF) | (function & 7)) << 12 | (reg & 0xFFC);
}

}  // namespace

AMD_Counter::AMD_Counter(int32_t index, CKMDriver* driverClient, Platform* platform)
    : CCounter(index), m_driver(driverClient), m_platform(platform) {}

void AMD_Counter::Update(CTimer* /*timer*/) {
  double reading = Read();
  currentRaw = reading;
  if (reading <= 0) return;
  auto level = static_cast<float>(reading);
  value = level;
  if (level >= 0) Push(level);
}

void AMD_Counter::learnConfigBase() {
  if (m_configLearnt || m_driver == nullptr) return;
  uint32_t high = 0;
  uint32_t low = 0;
  if (!m_driver->ReadMsr(kMsrMmioConfigBase, &high, &low)) return;  // tried again next time
  m_configLearnt = true;
  if ((low & 1) == 0) return;
  // The whole base: on a machine with much memory it lies above 4 GB, and its
  // low half alone would be ordinary memory.
  configBase = low & 0xFFF00000u;
  configBaseHigh = high & 0xFFFFu;
}

bool AMD_Counter::ReadConfig(uint32_t bus, uint32_t device, uint32_t function, uint32_t reg, uint32_t* out) {
  if (m_driver == nullptr) return false;
  learnConfigBase();
  uint32_t word = 0;
  if (!useWindow()) {
    if (reg <= 0xFF) return m_driver->ReadPciConfig(bus, device, function, reg, out) != 0;
    if (!m_driver->ReadPciConfigAddress(extendedConfigAddress(bus, device, function, reg), &word)) return false;
    *out = word >> ((reg & 3) * 8);
    return true;
  }
  if (!m_driver->ReadPhysicalDword(configBaseHigh, configBase, configOffset(bus, device, function, reg), &word)) return false;
  *out = word >> ((reg & 3) * 8);
  return true;
}

bool AMD_Counter::WriteConfig(uint32_t bus, uint32_t device, uint32_t function, uint32_t reg, uint32_t data) {
  if (m_driver == nullptr) return false;
  learnConfigBase();
  if (!useWindow()) {
    if (reg <= 0xFF) return m_driver->WritePciConfigDword(bus, device, function, reg, data) != 0;
    if (reg & 3) return false;
    // The same port sequence the client uses, with the extended register
    // bits; the address port is put back as it was found, like the client does.
    uint32_t kept = 0;
    if (!m_driver->ReadPortDword(kPortConfigAddress, &kept)) return false;
    bool written = m_driver->WritePortDword(kPortConfigAddress, extendedConfigAddress(bus, device, function, reg)) &&
                   m_driver->WritePortDword(kPortConfigData, data);
    m_driver->WritePortDword(kPortConfigAddress, kept);
    return written;
  }
  if (reg & 3) return false;
  return m_driver->WritePhysicalDword(configBaseHigh, configBase, configOffset(bus, device, function, reg), data) != 0;
}

bool AMD_Counter::EnableExtendedConfig() {
  uint32_t word = 0;
  if (!ReadConfig(0, 0x18, 3, 0x8C, &word)) return false;
  if (word & (1u << 14)) return true;
  return WriteConfig(0, 0x18, 3, 0x8C, word | (1u << 14));
}

bool AMD_Counter::readSmuRegister(uint32_t smuRegister, uint32_t* out) {
  uint32_t saved = 0;
  if (!ReadConfig(0, 0, 0, 0xB8, &saved)) return false;
  bool ok = WriteConfig(0, 0, 0, 0xB8, smuRegister) && ReadConfig(0, 0, 0, 0xBC, out);
  WriteConfig(0, 0, 0, 0xB8, saved);
  return ok;
}

void AMD_Counter::sleepMs(uint32_t milliseconds) {
  if (m_platform != nullptr) m_platform->sleepMs(milliseconds);
}

}  // namespace tv2
