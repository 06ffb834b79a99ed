#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "platform/Device.h"
#include "platform/NamedMutex.h"
#include "platform/ServiceManager.h"

namespace tv2 {

class Platform;

// The client of the privileged driver host, the program's only road to
// model-specific registers, 32-bit ports, physical memory and, through ports
// 0xCF8/0xCFC, PCI configuration space. The host's image is one of the
// program's resources: the client writes it to disk, registers it with the
// service manager as a demand-start kernel-driver service, starts it, opens
// its device and sends it requests. Every use of the device is bracketed by
// the driver lock, a named mutex shared with every program that uses the
// same driver, and the device is open only while the lock is held.
//
// Threads. The lock is owned per thread and recursive for its owner.
// m_driverMutex, the identifiers, the names and folders and m_platformId are
// written by the user-interface thread in Initialize and Uninstall, while no
// sampler thread exists; every other thread only reads them. m_device,
// m_acquireDepth, m_serviceManager and (on the fallback) m_driverFolder are
// touched only by the thread that holds the driver lock, which guards them;
// so is m_computerName, refreshed at every install and removal.
// The hardware operations and GetDriverVersion may be called only between
// Acquire and Release, on the acquiring thread.
class CKMDriver {
 public:
  // Slots of the image identifiers.
  static constexpr int kImageVxd = 0;
  static constexpr int kImageX86 = 1;
  static constexpr int kImageX64 = 2;
  static constexpr int kImageIa64 = 3;

  static constexpr const char* kMutexName = "kzor";
  static constexpr const char* kServiceBaseName = "kzor138";
  static constexpr const char* kX64FileSuffix = "_x64.sys";
  static constexpr uint32_t kInitializeWaitMs = 2000;
  static constexpr uint32_t kUninstallWaitMs = 10000;
  // Given to the system after removing the service, before returning.
  static constexpr uint32_t kRemoveSettleMs = 200;
  // Value every hardware operation leaves in its out values on failure.
  static constexpr uint32_t kNoValue = 0xFFFFFFFF;

  explicit CKMDriver(Platform& platform);
  // Closes nothing: the owner calls Release and Uninstall first.
  virtual ~CKMDriver();
  CKMDriver(const CKMDriver&) = delete;
  CKMDriver& operator=(const CKMDriver&) = delete;

  // The RCDATA identifiers of the four images; -1 means none.
  void SetImageResourceIds(int vxd, int x86, int x64, int ia64);

  // Reads the platform, creates the driver lock, prepares the folders and
  // names and opens the driver once (installing it when its device is
  // missing). 1 on success; on failure the driver is stopped and removed and
  // the lock closed. baseFolder null: the current directory.
  int Initialize(const char* baseFolder, uint32_t* error, int extractImage);

  // 1 with the lock held and the device open; 0 with the lock not held and
  // *error one of DRIVER_ERR_NO_MUTEX, 258 (timeout), 128 (the previous owner
  // died holding the lock), the system's error when the wait itself failed,
  // DRIVER_ERR_PLATFORM or the device's open error.
  // A device that is missing (the host died or was removed) is installed
  // again first.
  int Acquire(uint32_t* error, uint32_t timeoutMs);
  // Closes the device and gives the lock back.
  void Release();
  // Stops and removes the driver's service (when the lock can be had within
  // 10 s) and closes the lock; Acquire then fails until Initialize runs
  // again. 1 when the service work was done.
  int Uninstall(int stop, int remove);

  // The driver's version (0x138) in *version, -1 when the request fails.
  int GetDriverVersion(int32_t* version);

  // Hardware. Each sets its out values to 0xFFFFFFFF first and leaves them
  // so on failure; each fails at once without the device.
  int ReadMsr(uint32_t index, uint32_t* high, uint32_t* low);
  int WriteMsr(uint32_t index, uint32_t high, uint32_t low);
  int ReadPortDword(uint32_t port, uint32_t* value);
  int WritePortDword(uint32_t port, uint32_t value);
  // count bytes at high:low into destination; a count of 0 sends nothing.
  int ReadPhysicalMemory(uint32_t high, uint32_t low, uint32_t count, void* destination);
  int ReadPhysicalDword(uint32_t high, uint32_t base, uint32_t offset, uint32_t* value);
  int WritePhysicalDword(uint32_t high, uint32_t base, uint32_t offset, uint32_t value);
  // The configuration dword holding offset, shifted right by 8 × (offset % 4).
  int ReadPciConfig(uint32_t bus, uint32_t device, uint32_t function, uint32_t offset, uint32_t* value);
  int ReadPciConfigAddress(uint32_t address, uint32_t* value);
  // A whole dword; an offset that is not a multiple of 4 fails untouched.
  int WritePciConfigDword(uint32_t bus, uint32_t device, uint32_t function, uint32_t offset,
                          uint32_t value);

  // Creates (or opens) a driver lock of the given name without anything
  // else: Acquire then takes the lock and opens no device. For tests that
  // need the lock alone; Initialize ends this mode.
  bool CreateDriverMutex(const std::string& name, uint32_t* error);
  // Forgets the lock.
  void CloseDriverMutex();

  int platformId() const { return m_platformId; }
  int extractImage() const { return m_extractImage; }
  int imageResourceId(int slot) const { return slot >= 0 && slot < 4 ? m_imageResourceIds[slot] : -1; }
  const std::string& computerName() const { return m_computerName; }
  const std::string& baseFolder() const { return m_baseFolder; }
  const std::string& driverFolder() const { return m_driverFolder; }
  const std::string& driverFileName() const { return m_driverFileName; }
  const std::string& serviceName() const { return m_serviceName; }
  // The lock's name as Initialize chose it.
  const std::string& driverMutexName() const { return m_driverMutexName; }
  bool hasDriverMutex() const { return m_driverMutex != nullptr; }
  // Only meaningful on the thread that holds the lock.
  bool deviceOpen() const { return m_device != nullptr; }

 private:
  // Opens the device, installing the driver when it is missing.
  uint32_t openDevice();
  uint32_t installDriver();
  uint32_t removeService(int stop, int remove);
  // One request; false when the device is closed or the request fails or
  // returns fewer than minimumOutput bytes.
  bool request(uint32_t code, const void* input, uint32_t inputSize, void* output, uint32_t outputSize,
               uint32_t minimumOutput);
  int pciAccess(uint32_t address, bool write, uint32_t* value);

  Platform& m_platform;
  std::unique_ptr<Device> m_device;                  // guarded by the driver lock
  std::unique_ptr<ServiceManager> m_serviceManager;  // open only during install and removal
  int m_extractImage = 0;
  std::string m_computerName;
  std::string m_baseFolder;
  std::string m_driverFolder;
  std::string m_driverFileName;
  std::string m_serviceName;
  int m_platformId = -1;
  std::unique_ptr<NamedMutex> m_driverMutex;
  // This run made m_driverFolder (Initialize); only then may Uninstall remove it.
  bool m_madeDriverFolder = false;
  int m_imageResourceIds[4] = {-1, -1, -1, -1};
  std::string m_driverMutexName;
  // Levels of the lock the holder has taken through Acquire; the device is
  // opened by the first and closed by the last. Guarded by the driver lock.
  int m_acquireDepth = 0;
  // The thread that holds the lock through Acquire, so that a Release from
  // any other thread touches nothing. Written by the holder, read by anyone.
  std::atomic<std::thread::id> m_owner{};
  // Set by CreateDriverMutex: the lock without a device.
  bool m_lockOnly = false;
};

}  // namespace tv2
