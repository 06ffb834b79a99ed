#include "hw/CKMDriver.h"

#include <algorithm>
#include <cstring>

#include "driver/protocol/DeviceRequests.h"
#include "driver/protocol/LittleEndian.h"
#include "hw/DriverErrors.h"
#include "hw/DriverImageFile.h"
#include "platform/ErrorCodes.h"
#include "platform/Platform.h"

namespace tv2 {

namespace {

constexpr uint32_t kConfigAddressPort = 0xCF8;
constexpr uint32_t kConfigDataPort = 0xCFC;
constexpr size_t kMaxComputerName = 511;

uint32_t& errorSlot(uint32_t* error, uint32_t* spare) { return error != nullptr ? *error : *spare; }

}  // namespace

CKMDriver::CKMDriver(Platform& platform) : m_platform(platform) {}

CKMDriver::~CKMDriver() = default;

void CKMDriver::SetImageResourceIds(int vxd, int x86, int x64, int ia64) {
  m_imageResourceIds[kImageVxd] = vxd;
  m_imageResourceIds[kImageX86] = x86;
  m_imageResourceIds[kImageX64] = x64;
  m_imageResourceIds[kImageIa64] = ia64;
}

int CKMDriver::Initialize(const char* baseFolder, uint32_t* error, int extractImage) {
  uint32_t spare = kOk;
  uint32_t& err = errorSlot(error, &spare);
  err = kOk;
  m_lockOnly = false;

  SystemVersion version;
  if (m_platform.systemVersion(&version)) m_platformId = version.platformId;
  const bool nt = m_platformId == SystemVersion::kPlatformNt;

  // Windows 2000 and earlier have no session namespaces: the lock's name
  // carries the "Global\" prefix only from 5.1 on.
  m_driverMutex.reset();
  bool beforeSessions = version.major < 5 || (version.major == 5 && version.minor == 0);
  m_driverMutexName = nt && !beforeSessions ? std::string("Global\\") + kMutexName : kMutexName;
  bool existed = false;
  uint32_t mutexError = kOk;
  m_driverMutex = m_platform.createNamedMutex(m_driverMutexName, &existed, &mutexError);

  m_extractImage = extractImage;
  m_baseFolder = baseFolder != nullptr ? std::string(baseFolder) : m_platform.files().currentDirectory();

  m_driverFolder = m_baseFolder;
  m_madeDriverFolder = false;
  if (nt && extractImage != 0) {
    // The private sub-folder; a name too long for the work buffer keeps the
    // base folder rather than a truncated path.
    std::string folder = DriverImageFile::join(m_baseFolder, kServiceBaseName);
    if (!folder.empty() && folder.size() < DriverImageFile::kMaxPath) {
      folder.push_back('/');
      // A folder that was already there is used only when it is private: one
      // someone else made (or a link in its place) is left alone, and is
      // never removed by Uninstall.
      FileSystemService& files = m_platform.fileSystem();
      uint32_t made = files.createDirectory(folder);
      m_madeDriverFolder = made == kOk;
      if (made == kOk || (made == kErrorAlreadyExists && files.isPrivateFolder(folder))) m_driverFolder = folder;
    }
  }

  int result = 0;
  if (nt) {
    m_driverFileName = std::string(kServiceBaseName) + kX64FileSuffix;
    m_serviceName = kServiceBaseName;
    result = Acquire(&err, kInitializeWaitMs);
    if (result != 0) Release();
  } else {
    // The Windows 9x family's VxD has no counterpart here; like every other
    // platform it is refused.
    err = DRIVER_ERR_PLATFORM;
  }
  if (result == 0) Uninstall(1, 1);
  return result;
}

int CKMDriver::Acquire(uint32_t* error, uint32_t timeoutMs) {
  uint32_t spare = kOk;
  uint32_t& err = errorSlot(error, &spare);
  err = kOk;
  if (!m_driverMutex) {
    err = DRIVER_ERR_NO_MUTEX;
    return 0;
  }
  uint32_t wait = m_driverMutex->wait(timeoutMs);
  if (wait != kWaitObject0) {
    if (wait == kWaitAbandoned) {
      // The wait handed over the lock of a holder that died mid-sequence.
      // Whatever it left open is ours to drop; a failed Acquire never keeps
      // the lock.
      m_device.reset();
      m_acquireDepth = 0;
      m_owner.store(std::thread::id(), std::memory_order_relaxed);
      m_driverMutex->release();
    }
    // A wait that failed outright says why, as the system's own error.
    if (wait == kWaitFailed) {
      uint32_t reason = m_driverMutex->lastWaitError();
      err = reason != kOk ? reason : wait;
    } else {
      err = wait;
    }
    return 0;
  }
  if (m_acquireDepth > 0) {
    // The holder again: the device is already open.
    ++m_acquireDepth;
    return 1;
  }
  uint32_t opened = kOk;
  if (!m_lockOnly) opened = m_platformId == SystemVersion::kPlatformNt ? openDevice() : DRIVER_ERR_PLATFORM;
  if (opened != kOk) {
    err = opened;
    m_driverMutex->release();
    return 0;
  }
  m_acquireDepth = 1;
  m_owner.store(std::this_thread::get_id(), std::memory_order_relaxed);
  return 1;
}

void CKMDriver::Release() {
  // Only the holder has a device and a lock level to give back; a Release
  // without a matching Acquire (shutdown calls one unconditionally) does
  // nothing, and above all does not close another thread's device.
  if (!m_driverMutex || m_owner.load(std::memory_order_relaxed) != std::this_thread::get_id()) return;
  if (m_acquireDepth > 1) {
    --m_acquireDepth;
    m_driverMutex->release();
    return;
  }
  m_device.reset();
  m_acquireDepth = 0;
  m_owner.store(std::thread::id(), std::memory_order_relaxed);
  m_driverMutex->release();
}

int CKMDriver::Uninstall(int stop, int remove) {
  int done = 0;
  if (m_driverMutex) {
    uint32_t wait = m_driverMutex->wait(kUninstallWaitMs);
    if (wait == kWaitObject0) {
      if (m_platformId == SystemVersion::kPlatformNt) {
        removeService(stop, remove);
        done = 1;
      }
      // An install that failed before its clean-up leaves the private
      // folder behind; it is empty then, and only an empty one goes.
      if (m_extractImage != 0 && m_madeDriverFolder && m_driverFolder.size() > m_baseFolder.size())
        m_platform.fileSystem().removeDirectory(m_driverFolder);
      // The handle goes below: levels this thread still holds through
      // Acquire would otherwise stay held with nothing left to release them.
      if (m_owner.load(std::memory_order_relaxed) == std::this_thread::get_id()) {
        m_device.reset();
        for (; m_acquireDepth > 0; --m_acquireDepth) m_driverMutex->release();
        m_owner.store(std::thread::id(), std::memory_order_relaxed);
      }
      m_driverMutex->release();
    } else if (wait == kWaitAbandoned) {
      // The service work is skipped: the dead holder may have been in the
      // middle of it. The ownership that came with the wait is given back,
      // or every other user of the driver would wait for this process to end.
      m_device.reset();
      m_acquireDepth = 0;
      m_owner.store(std::thread::id(), std::memory_order_relaxed);
      m_driverMutex->release();
    }
  }
  m_driverMutex.reset();
  return done;
}

uint32_t CKMDriver::openDevice() {
  const std::string name = std::string("\\\\.\\") + m_serviceName;
  uint32_t error = kOk;
  m_device = m_platform.openDevice(name, &error);
  if (m_device) return kOk;
  // Only a missing device means the driver is not there; it is installed
  // again, also when it disappeared while the program ran.
  if (error != kErrorFileNotFound) return error;
  uint32_t installed = installDriver();
  if (installed != kOk) return installed;
  m_device = m_platform.openDevice(name, &error);
  return m_device ? kOk : error;
}

uint32_t CKMDriver::installDriver() {
  m_computerName = m_platform.computerName().substr(0, kMaxComputerName);
  uint32_t error = kOk;
  m_serviceManager = m_platform.openServiceManager(m_computerName, &error);
  if (!m_serviceManager) return error;

  FileSystemService& files = m_platform.fileSystem();
  const bool privateFolder = m_driverFolder.size() > m_baseFolder.size();
  if (m_extractImage != 0) {
    error = DriverImageFile::write(m_platform, m_imageResourceIds[kImageX64], m_driverFileName, privateFolder,
                                   &m_driverFolder);
    if (error != kOk) {
      m_serviceManager.reset();
      return error;
    }
  }

  const std::string imagePath = DriverImageFile::join(m_driverFolder, m_driverFileName);
  uint32_t result = kOk;
  if (imagePath.empty()) {
    result = kErrorFilenameTooLong;
  } else {
    uint32_t created = m_serviceManager->createService(m_serviceName, m_serviceName, imagePath);
    if (created != kOk && created != kErrorServiceExists) result = created;
  }
  if (result == kOk) {
    uint32_t started = m_serviceManager->startService(m_serviceName);
    if (started != kOk && started != kErrorServiceAlreadyRunning) {
      result = started;
      m_serviceManager->deleteService(m_serviceName);
    }
  }
  m_serviceManager.reset();

  if (m_extractImage != 0 && !imagePath.empty()) {
    // The running host no longer needs its file.
    files.deleteFile(imagePath);
    if (m_driverFolder.size() > m_baseFolder.size()) files.removeDirectory(m_driverFolder);
  }
  return result;
}

uint32_t CKMDriver::removeService(int stop, int remove) {
  m_computerName = m_platform.computerName().substr(0, kMaxComputerName);
  uint32_t error = kOk;
  m_serviceManager = m_platform.openServiceManager(m_computerName, &error);
  if (!m_serviceManager) return error;

  if (stop != 0) {
    ServiceStatus status;
    uint32_t asked = m_serviceManager->controlService(m_serviceName, kServiceControlInterrogate, &status);
    if (asked != kErrorServiceDoesNotExist && status.state != kServiceStopped) {
      status = ServiceStatus{};
      m_serviceManager->controlService(m_serviceName, kServiceControlStop, &status);
      if (status.state == kServiceStopPending) {
        // The driver waits for our open device before it can stop.
        m_device.reset();
        m_serviceManager->controlService(m_serviceName, kServiceControlStop, &status);
      }
    }
  }
  if (remove != 0) m_serviceManager->deleteService(m_serviceName);
  m_serviceManager.reset();
  m_platform.sleepMs(kRemoveSettleMs);
  return kOk;
}

bool CKMDriver::request(uint32_t code, const void* input, uint32_t inputSize, void* output,
                        uint32_t outputSize, uint32_t minimumOutput) {
  if (!m_device) return false;
  uint32_t returned = 0;
  if (m_device->request(code, input, inputSize, output, outputSize, &returned) != kOk) return false;
  return returned >= minimumOutput;
}

int CKMDriver::GetDriverVersion(int32_t* version) {
  if (version != nullptr) *version = -1;
  uint8_t out[kVersionOutput];
  if (!request(IOCTL_GET_VERSION, nullptr, 0, out, sizeof out, kVersionOutput)) return 0;
  if (version != nullptr) *version = static_cast<int32_t>(loadLe32(out));
  return 1;
}

int CKMDriver::ReadMsr(uint32_t index, uint32_t* high, uint32_t* low) {
  if (high != nullptr) *high = kNoValue;
  if (low != nullptr) *low = kNoValue;
  uint8_t in[kReadMsrInput];
  storeLe32(in, index);
  uint8_t out[kMsrOutput];
  if (!request(IOCTL_READ_MSR, in, sizeof in, out, sizeof out, kMsrOutput)) return 0;
  uint32_t lowHalf = loadLe32(out);
  uint32_t highHalf = loadLe32(out + 4);
  // All ones in both halves is what a failed read leaves: no reading.
  if (lowHalf == kNoValue && highHalf == kNoValue) return 0;
  if (high != nullptr) *high = highHalf;
  if (low != nullptr) *low = lowHalf;
  return 1;
}

int CKMDriver::WriteMsr(uint32_t index, uint32_t high, uint32_t low) {
  uint8_t in[kWriteMsrInput];
  storeLe32(in, index);
  storeLe32(in + 4, high);
  storeLe32(in + 8, low);
  uint8_t out[kMsrOutput];
  if (!request(IOCTL_WRITE_MSR, in, sizeof in, out, sizeof out, 4)) return 0;
  return loadLe32(out) != kNoValue ? 1 : 0;
}

int CKMDriver::ReadPortDword(uint32_t port, uint32_t* value) {
  if (value != nullptr) *value = kNoValue;
  uint8_t in[kReadPortInput];
  storeLe32(in, port);
  uint8_t out[kReadPortOutput];
  if (!request(IOCTL_READ_PORT_DWORD, in, sizeof in, out, sizeof out, 4)) return 0;
  if (value != nullptr) *value = loadLe32(out);
  return 1;
}

int CKMDriver::WritePortDword(uint32_t port, uint32_t value) {
  uint8_t in[kWritePortInput];
  storeLe32(in, port);
  storeLe32(in + 4, value);
  uint8_t out[8];
  return request(IOCTL_WRITE_PORT_DWORD, in, sizeof in, out, sizeof out, 0) ? 1 : 0;
}

int CKMDriver::ReadPhysicalMemory(uint32_t high, uint32_t low, uint32_t count, void* destination) {
  if (count == 0 || destination == nullptr || !m_device) return 0;
  uint64_t address = static_cast<uint64_t>(high) << 32 | low;
  uint8_t* target = static_cast<uint8_t*>(destination);
  // The host answers at most kMaxPhysicalRead bytes a request.
  for (uint32_t done = 0; done < count;) {
    uint32_t part = std::min(count - done, kMaxPhysicalRead);
    uint64_t from = address + done;
    uint64_t into = reinterpret_cast<uintptr_t>(target + done);
    uint8_t in[kReadPhysInput];
    storeLe32(in, static_cast<uint32_t>(from >> 32));
    storeLe32(in + 4, static_cast<uint32_t>(from));
    storeLe32(in + 8, part);
    storeLe32(in + 12, static_cast<uint32_t>(into >> 32));
    storeLe32(in + 16, static_cast<uint32_t>(into));
    if (!request(IOCTL_READ_PHYS_MEMORY, in, sizeof in, target + done, part, part)) return 0;
    done += part;
  }
  return 1;
}

int CKMDriver::ReadPhysicalDword(uint32_t high, uint32_t base, uint32_t offset, uint32_t* value) {
  if (value != nullptr) *value = kNoValue;
  uint8_t bytes[4];
  if (!ReadPhysicalMemory(high, base + offset, 4, bytes)) return 0;
  if (value != nullptr) *value = loadLe32(bytes);
  return 1;
}

int CKMDriver::WritePhysicalDword(uint32_t high, uint32_t base, uint32_t offset, uint32_t value) {
  uint8_t in[kWritePhysInput];
  storeLe32(in, high);
  storeLe32(in + 4, base + offset);
  storeLe32(in + 8, value);
  uint8_t out[8];
  return request(IOCTL_WRITE_PHYS_DWORD, in, sizeof in, out, sizeof out, 0) ? 1 : 0;
}

int CKMDriver::pciAccess(uint32_t address, bool write, uint32_t* value) {
  uint32_t kept = 0;
  if (!ReadPortDword(kConfigAddressPort, &kept)) return 0;
  if (!WritePortDword(kConfigAddressPort, address & ~3u)) return 0;
  uint32_t data = 0;
  if (write ? !WritePortDword(kConfigDataPort, *value) : !ReadPortDword(kConfigDataPort, &data)) return 0;
  if (!WritePortDword(kConfigAddressPort, kept)) return 0;
  if (!write) *value = data >> (8 * (address & 3));
  return 1;
}

int CKMDriver::ReadPciConfig(uint32_t bus, uint32_t device, uint32_t function, uint32_t offset,
                             uint32_t* value) {
  uint32_t address = 0x80000000u | (bus & 0xFF) << 16 | (device & 0x1F) << 11 | (function & 7) << 8 |
                     (offset & 0xFF);
  return ReadPciConfigAddress(address, value);
}

int CKMDriver::ReadPciConfigAddress(uint32_t address, uint32_t* value) {
  if (value == nullptr) return 0;
  *value = kNoValue;
  uint32_t result = kNoValue;
  if (!pciAccess(address, false, &result)) return 0;
  *value = result;
  return 1;
}

int CKMDriver::WritePciConfigDword(uint32_t bus, uint32_t device, uint32_t function, uint32_t offset,
                                   uint32_t value) {
  if ((offset & 3) != 0) return 0;
  uint32_t address = 0x80000000u | (bus & 0xFF) << 16 | (device & 0x1F) << 11 | (function & 7) << 8 |
                     (offset & 0xFF);
  return pciAccess(address, true, &value);
}

bool CKMDriver::CreateDriverMutex(const std::string& name, uint32_t* error) {
  m_driverMutex.reset();
  bool existed = false;
  uint32_t code = kOk;
  m_driverMutex = m_platform.createNamedMutex(name, &existed, &code);
  m_driverMutexName = m_driverMutex ? name : std::string();
  m_lockOnly = m_driverMutex != nullptr;
  if (error != nullptr) *error = m_driverMutex ? kOk : code;
  return m_driverMutex != nullptr;
}

void CKMDriver::CloseDriverMutex() { m_driverMutex.reset(); }

}  // namespace tv2
