#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>

#include "driver/protocol/HardwareBackend.h"

namespace tv2 {

struct LinuxHardwareOptions {
  // Where the device nodes and sysfs live; tests point these at a tree of
  // plain files (a sparse file stands in for /dev/cpu/N/msr).
  std::string devRoot = "/dev";
  std::string sysRoot = "/sys";
  // Run "modprobe msr" once when /dev/cpu/0/msr is missing (real /dev only).
  bool loadMsrModule = true;
};

// The hardware as Linux lets a root process reach it:
// - MSRs through /dev/cpu/N/msr (8-byte pread/pwrite at the register number;
//   EIO means the register does not exist);
// - ports 0xCF8/0xCFC as the PCI configuration mechanism: the address written
//   to 0xCF8 is kept here and 0xCFC reads or writes the addressed dword of
//   /sys/bus/pci/devices/0000:BB:DD.F/config, so the kernel's own use of the
//   real ports is never disturbed; other port reads with inl after
//   ioperm/iopl; no other port is ever written;
// - physical memory through /dev/mem (mmap, so device registers such as the
//   HPET are read with 32-bit loads), except inside the configuration window,
//   which is served from the same sysfs files.
// Each missing interface (no msr module, lockdown, no /dev/mem, no port
// access) fails the requests that need it and nothing else.
//
// Threads: used by the host's one serving thread only.
class LinuxHardware : public HardwareBackend {
 public:
  explicit LinuxHardware(LinuxHardwareOptions options);
  ~LinuxHardware() override;
  LinuxHardware(const LinuxHardware&) = delete;
  LinuxHardware& operator=(const LinuxHardware&) = delete;

  bool readMsr(int32_t cpu, uint32_t index, uint64_t* value) override;
  bool writeMsr(int32_t cpu, uint32_t index, uint64_t value) override;
  bool readPort(uint32_t port, uint32_t* value) override;
  bool writePort(uint32_t port, uint32_t value) override;
  bool readPhysical(uint64_t address, uint32_t length, uint8_t* out) override;
  bool writePhysicalDword(uint64_t address, uint32_t value) override;

  // The configuration window physical accesses are redirected from.
  void setConfigWindow(uint64_t base, uint64_t size);

  // The PM timer port of the kernel's copy of the FADT, when it exports one.
  std::optional<uint32_t> pmTimerPortFromKernel() const;

 private:
  // The cached descriptor of a processor's MSR file; -1 when it cannot be
  // opened.
  int msrFile(int32_t cpu);
  void loadMsrModuleOnce();
  std::string configPath(int bus, int device, int function) const;
  bool configAccess(int bus, int device, int function, uint32_t reg, uint32_t length, uint8_t* data,
                    bool write);
  // The configuration register the offset names when the whole access lies
  // inside one function of the window.
  bool inWindow(uint64_t address, uint64_t length) const;
  bool windowAccess(uint64_t address, uint32_t length, uint8_t* data, bool write);
  bool memoryAccess(uint64_t address, uint32_t length, uint8_t* data, bool write);
  bool portAccess(uint32_t port);

  const LinuxHardwareOptions m_options;
  std::unordered_map<int32_t, int> m_msrFiles;  // processor -> open file
  bool m_msrModuleTried = false;
  uint32_t m_configAddress = 0;  // what 0xCF8 holds
  uint64_t m_windowBase = 0;
  uint64_t m_windowSize = 0;
  int m_memFile = -1;
  bool m_memWritable = false;
  std::set<uint32_t> m_openPorts;  // ports ioperm granted
  bool m_iopl = false;             // iopl(3) granted
};

}  // namespace tv2
