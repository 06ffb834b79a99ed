#pragma once

#include <cstdint>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "driver/protocol/HardwareBackend.h"

namespace tv2::test {

// Hardware for the driver tests: registers and configuration dwords the
// test sets, all-ones readings on demand, and a log of every access so a
// test can see what reached the hardware and what did not.
class FakeHardware : public HardwareBackend {
 public:
  bool readMsr(int32_t cpu, uint32_t index, uint64_t* value) override {
    std::lock_guard lock(m_mutex);
    log("rdmsr " + std::to_string(cpu) + " " + hex(index));
    auto found = msrs.find(index);
    if (found == msrs.end()) return false;
    *value = found->second;
    return true;
  }
  bool writeMsr(int32_t cpu, uint32_t index, uint64_t value) override {
    std::lock_guard lock(m_mutex);
    log("wrmsr " + std::to_string(cpu) + " " + hex(index));
    msrs[index] = value;
    return true;
  }
  bool readPort(uint32_t port, uint32_t* value) override {
    std::lock_guard lock(m_mutex);
    log("in " + hex(port));
    if (port == 0xCF8) {
      *value = configAddress;
      return true;
    }
    if (port == 0xCFC) {
      auto found = config.find(configAddress & 0x8FFFFFFCu);
      *value = found == config.end() ? 0xFFFFFFFF : found->second;
      return (configAddress & 0x80000000u) != 0;
    }
    auto found = ports.find(port);
    if (found == ports.end()) return false;
    *value = found->second;
    return true;
  }
  bool writePort(uint32_t port, uint32_t value) override {
    std::lock_guard lock(m_mutex);
    log("out " + hex(port));
    if (port == 0xCF8) {
      configAddress = value;
      return true;
    }
    if (port == 0xCFC && (configAddress & 0x80000000u) != 0) {
      config[configAddress & 0x8FFFFFFCu] = value;
      return true;
    }
    return false;
  }
  bool readPhysical(uint64_t address, uint32_t length, uint8_t* out) override {
    std::lock_guard lock(m_mutex);
    log("read " + hex(address) + " " + std::to_string(length));
    for (uint32_t i = 0; i < length; ++i) {
      auto found = memory.find(address + i);
      if (found == memory.end()) return false;
      out[i] = found->second;
    }
    return true;
  }
  bool writePhysicalDword(uint64_t address, uint32_t value) override {
    std::lock_guard lock(m_mutex);
    log("write " + hex(address));
    for (uint32_t i = 0; i < 4; ++i) memory[address + i] = static_cast<uint8_t>(value >> (8 * i));
    return true;
  }

  void putMemory(uint64_t address, const std::vector<uint8_t>& bytes) {
    std::lock_guard lock(m_mutex);
    for (size_t i = 0; i < bytes.size(); ++i) memory[address + i] = bytes[i];
  }
  std::vector<std::string> takeLog() {
    std::lock_guard lock(m_mutex);
    std::vector<std::string> taken;
    taken.swap(m_log);
    return taken;
  }
  // Accesses since the last takeLog whose text starts with prefix.
  int count(const std::string& prefix) {
    std::lock_guard lock(m_mutex);
    int n = 0;
    for (const std::string& entry : m_log)
      if (entry.rfind(prefix, 0) == 0) ++n;
    return n;
  }

  // Set by the test before the host starts; read and written by the host.
  std::map<uint32_t, uint64_t> msrs;
  std::map<uint32_t, uint32_t> ports;
  std::map<uint32_t, uint32_t> config;  // by 0xCF8 address (enable, ext bits, dword)
  std::map<uint64_t, uint8_t> memory;
  uint32_t configAddress = 0;

  static std::string hex(uint64_t value) {
    char text[24];
    std::snprintf(text, sizeof text, "%llX", static_cast<unsigned long long>(value));
    return text;
  }

 private:
  void log(std::string entry) { m_log.push_back(std::move(entry)); }

  std::mutex m_mutex;  // every member above is touched under it once a host runs
  std::vector<std::string> m_log;
};

}  // namespace tv2::test
