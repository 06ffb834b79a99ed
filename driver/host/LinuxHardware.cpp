#include "driver/host/LinuxHardware.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>
#if defined(__x86_64__) || defined(__i386__)
#include <sys/io.h>
#endif

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

#include "driver/protocol/AccessPolicy.h"
#include "driver/protocol/HardwareFacts.h"

extern char** environ;

namespace tv2 {

namespace {

bool readAll(int fd, uint8_t* data, size_t length, off_t offset) {
  while (length > 0) {
    ssize_t n = ::pread(fd, data, length, offset);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    length -= static_cast<size_t>(n);
    offset += n;
  }
  return true;
}

bool writeAll(int fd, const uint8_t* data, size_t length, off_t offset) {
  while (length > 0) {
    ssize_t n = ::pwrite(fd, data, length, offset);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    length -= static_cast<size_t>(n);
    offset += n;
  }
  return true;
}

// Device registers answer only to accesses of their own width, so aligned
// transfers go dword by dword; tables and odd sizes byte by byte.
void copyMapped(volatile uint8_t* mapped, uint8_t* data, uint32_t length, bool write) {
  bool dwords = (reinterpret_cast<uintptr_t>(mapped) & 3) == 0 && (length & 3) == 0;
  if (dwords) {
    volatile uint32_t* words = reinterpret_cast<volatile uint32_t*>(mapped);
    for (uint32_t i = 0; i < length / 4; ++i) {
      uint32_t word = 0;
      if (write) {
        std::memcpy(&word, data + 4 * i, 4);
        words[i] = word;
      } else {
        word = words[i];
        std::memcpy(data + 4 * i, &word, 4);
      }
    }
    return;
  }
  for (uint32_t i = 0; i < length; ++i) {
    if (write)
      mapped[i] = data[i];
    else
      data[i] = mapped[i];
  }
}

}  // namespace

LinuxHardware::LinuxHardware(LinuxHardwareOptions options) : m_options(std::move(options)) {}

LinuxHardware::~LinuxHardware() {
  for (auto& [cpu, fd] : m_msrFiles)
    if (fd >= 0) ::close(fd);
  if (m_memFile >= 0) ::close(m_memFile);
}

void LinuxHardware::loadMsrModuleOnce() {
  if (m_msrModuleTried) return;
  m_msrModuleTried = true;
  if (!m_options.loadMsrModule || m_options.devRoot != "/dev") return;
  // Only the module's own name goes to modprobe; its output is not wanted.
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  const char* paths[] = {"/sbin/modprobe", "/usr/sbin/modprobe"};
  for (const char* path : paths) {
    char* argv[] = {const_cast<char*>("modprobe"), const_cast<char*>("-q"), const_cast<char*>("msr"),
                    nullptr};
    pid_t pid = -1;
    if (posix_spawn(&pid, path, &actions, nullptr, argv, environ) != 0) continue;
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    break;
  }
  posix_spawn_file_actions_destroy(&actions);
}

int LinuxHardware::msrFile(int32_t cpu) {
  if (cpu < 0) return -1;
  auto found = m_msrFiles.find(cpu);
  if (found != m_msrFiles.end()) return found->second;
  std::string path = m_options.devRoot + "/cpu/" + std::to_string(cpu) + "/msr";
  int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0 && (errno == EACCES || errno == EPERM || errno == EROFS))
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0 && errno == ENOENT && !m_msrModuleTried) {
    loadMsrModuleOnce();
    fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
  }
  // Failures are not cached: the module may be loaded later, and a
  // processor may come online.
  if (fd >= 0) m_msrFiles[cpu] = fd;
  return fd;
}

bool LinuxHardware::readMsr(int32_t cpu, uint32_t index, uint64_t* value) {
  int fd = msrFile(cpu);
  if (fd < 0 || value == nullptr) return false;
  uint8_t bytes[8];
  if (!readAll(fd, bytes, 8, static_cast<off_t>(index))) return false;
  std::memcpy(value, bytes, 8);
  return true;
}

bool LinuxHardware::writeMsr(int32_t cpu, uint32_t index, uint64_t value) {
  int fd = msrFile(cpu);
  if (fd < 0) return false;
  uint8_t bytes[8];
  std::memcpy(bytes, &value, 8);
  return writeAll(fd, bytes, 8, static_cast<off_t>(index));
}

std::string LinuxHardware::configPath(int bus, int device, int function) const {
  char name[32];
  std::snprintf(name, sizeof name, "0000:%02x:%02x.%x", bus & 0xFF, device & 0x1F, function & 7);
  return m_options.sysRoot + "/bus/pci/devices/" + name + "/config";
}

bool LinuxHardware::configAccess(int bus, int device, int function, uint32_t reg, uint32_t length,
                                 uint8_t* data, bool write) {
  if (reg >= 0x1000 || length > 0x1000 - reg) return false;
  std::string path = configPath(bus, device, function);
  int fd = ::open(path.c_str(), (write ? O_WRONLY : O_RDONLY) | O_CLOEXEC);
  if (fd < 0) return false;
  bool ok = write ? writeAll(fd, data, length, reg) : readAll(fd, data, length, reg);
  ::close(fd);
  return ok;
}

bool LinuxHardware::readPort(uint32_t port, uint32_t* value) {
  if (value == nullptr) return false;
  if (port == AccessPolicy::kConfigAddressPort) {
    *value = m_configAddress;
    return true;
  }
  if (port == AccessPolicy::kConfigDataPort) {
    ConfigRegister target;
    if (!AccessPolicy::decodeConfigAddress(m_configAddress, &target)) return false;
    uint8_t bytes[4];
    if (!configAccess(target.bus, target.device, target.function, target.reg, 4, bytes, false))
      return false;
    std::memcpy(value, bytes, 4);
    return true;
  }
#if defined(__x86_64__) || defined(__i386__)
  if (port > 0xFFFC || !portAccess(port)) return false;
  *value = inl(static_cast<unsigned short>(port));
  return true;
#else
  return false;
#endif
}

bool LinuxHardware::portAccess(uint32_t port) {
#if defined(__x86_64__) || defined(__i386__)
  if (m_iopl || m_openPorts.count(port) != 0) return true;
  if (::ioperm(port, 4, 1) == 0) {
    m_openPorts.insert(port);
    return true;
  }
  // Without ioperm (or beyond its range) the whole port space or nothing.
  m_iopl = ::iopl(3) == 0;
  return m_iopl;
#else
  (void)port;
  return false;
#endif
}

bool LinuxHardware::writePort(uint32_t port, uint32_t value) {
  if (port == AccessPolicy::kConfigAddressPort) {
    m_configAddress = value;
    return true;
  }
  if (port == AccessPolicy::kConfigDataPort) {
    ConfigRegister target;
    if (!AccessPolicy::decodeConfigAddress(m_configAddress, &target)) return false;
    uint8_t bytes[4];
    std::memcpy(bytes, &value, 4);
    return configAccess(target.bus, target.device, target.function, target.reg, 4, bytes, true);
  }
  // No other port is ever written by this host.
  return false;
}

void LinuxHardware::setConfigWindow(uint64_t base, uint64_t size) {
  m_windowBase = base;
  m_windowSize = size;
}

bool LinuxHardware::inWindow(uint64_t address, uint64_t length) const {
  if (m_windowSize == 0 || address < m_windowBase) return false;
  uint64_t offset = address - m_windowBase;
  return offset < m_windowSize && length <= m_windowSize - offset;
}

bool LinuxHardware::windowAccess(uint64_t address, uint32_t length, uint8_t* data, bool write) {
  ConfigRegister target = AccessPolicy::decodeWindowOffset(address - m_windowBase);
  return configAccess(target.bus, target.device, target.function, target.reg, length, data, write);
}

bool LinuxHardware::memoryAccess(uint64_t address, uint32_t length, uint8_t* data, bool write) {
  if (m_memFile < 0 || (write && !m_memWritable)) {
    if (m_memFile >= 0) ::close(m_memFile);
    std::string path = m_options.devRoot + "/mem";
    m_memFile = ::open(path.c_str(), O_RDWR | O_SYNC | O_CLOEXEC);
    m_memWritable = m_memFile >= 0;
    if (m_memFile < 0) m_memFile = ::open(path.c_str(), O_RDONLY | O_SYNC | O_CLOEXEC);
    if (m_memFile < 0) return false;
  }
  if (write && !m_memWritable) return false;
  long page = ::sysconf(_SC_PAGESIZE);
  if (page <= 0) page = 4096;
  uint64_t start = address & ~static_cast<uint64_t>(page - 1);
  size_t span = static_cast<size_t>(address - start) + length;
  int protection = write ? PROT_READ | PROT_WRITE : PROT_READ;
  void* mapped = ::mmap(nullptr, span, protection, MAP_SHARED, m_memFile, static_cast<off_t>(start));
  if (mapped != MAP_FAILED) {
    copyMapped(static_cast<volatile uint8_t*>(mapped) + (address - start), data, length, write);
    ::munmap(mapped, span);
    return true;
  }
  // Some kernels refuse to map what they allow to read.
  return write ? writeAll(m_memFile, data, length, static_cast<off_t>(address))
               : readAll(m_memFile, data, length, static_cast<off_t>(address));
}

bool LinuxHardware::readPhysical(uint64_t address, uint32_t length, uint8_t* out) {
  if (out == nullptr || length == 0 || address + length < address) return false;
  if (inWindow(address, length)) {
    // One function's registers per access: the sysfs file behind it ends there.
    if ((address - m_windowBase) % 0x1000 + length > 0x1000) return false;
    return windowAccess(address, length, out, false);
  }
  return memoryAccess(address, length, out, false);
}

bool LinuxHardware::writePhysicalDword(uint64_t address, uint32_t value) {
  uint8_t bytes[4];
  std::memcpy(bytes, &value, 4);
  if (inWindow(address, 4)) return windowAccess(address, 4, bytes, true);
  return memoryAccess(address, 4, bytes, true);
}

std::optional<uint32_t> LinuxHardware::pmTimerPortFromKernel() const {
  std::string path = m_options.sysRoot + "/firmware/acpi/tables/FACP";
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  std::vector<uint8_t> table(4096);
  size_t size = 0;
  for (;;) {
    ssize_t n = ::read(fd, table.data() + size, table.size() - size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    size += static_cast<size_t>(n);
    if (size == table.size()) break;
  }
  ::close(fd);
  return HardwareFacts::pmTimerPortFromFadt(table.data(), size);
}

}  // namespace tv2
