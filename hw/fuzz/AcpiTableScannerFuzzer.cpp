// libFuzzer target for the client's walk of the firmware tables: the input is
// a memory image (physical address A reads byte A modulo its size, so every
// pointer in it lands somewhere), scanned exactly as at start-up. The timers
// it would create read through a driver without a device, so the HPET check
// fails quietly; the table parsing is what is exercised.
//
// Built with clang only by scripts/fuzz-parsers.sh; not part of the normal build.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "hw/AcpiTableScanner.h"
#include "hw/CKMDriver.h"
#include "platform/Platform.h"

namespace {

using namespace tv2;

// Nothing here is reached by the scan but the pause of the HPET check.
class IdlePlatform : public Platform {
 public:
  ProcessorService& processors() override { std::abort(); }
  ProcessorTimesService* processorTimes() override { std::abort(); }
  FileService& files() override { std::abort(); }
  std::unique_ptr<NamedMutex> createNamedMutex(const std::string&, bool*, uint32_t*) override { std::abort(); }
  std::unique_ptr<InstanceLock> acquireInstanceLock(const std::string&) override { std::abort(); }
  void sleepMs(uint32_t) override {}
  bool systemVersion(SystemVersion*) override { std::abort(); }
  std::string computerName() override { std::abort(); }
  ResourceService& resources() override { std::abort(); }
  FileSystemService& fileSystem() override { std::abort(); }
  std::unique_ptr<ServiceManager> openServiceManager(const std::string&, uint32_t*) override { std::abort(); }
  std::unique_ptr<Device> openDevice(const std::string&, uint32_t*) override { std::abort(); }
};

class ImageScanner : public AcpiTableScanner {
 public:
  ImageScanner(CKMDriver& driver, Platform& platform, const uint8_t* data, size_t size)
      : AcpiTableScanner(driver, platform), m_data(data), m_size(size) {}

 protected:
  int readMemory(uint32_t address, uint32_t length, void* out) override {
    // No read the scanner makes is larger than the BIOS area.
    if (length == 0 || length > 0x20000 || m_size == 0) std::abort();
    auto* bytes = static_cast<uint8_t*>(out);
    // Whole stretches of the image at a time.
    size_t at = static_cast<size_t>(address % m_size);
    for (uint32_t done = 0; done < length;) {
      size_t part = std::min<size_t>(length - done, m_size - at);
      std::memcpy(bytes + done, m_data + at, part);
      done += static_cast<uint32_t>(part);
      at = 0;
    }
    return 1;
  }

 private:
  const uint8_t* m_data;
  size_t m_size;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  static IdlePlatform platform;
  static CKMDriver driver(platform);
  ImageScanner scanner(driver, platform, data, size);
  std::unique_ptr<CTimer> acpi;
  std::unique_ptr<CTimer> hpet;
  scanner.ScanAcpiTables(&acpi, &hpet);
  if (acpi != nullptr && (acpi->baseAddress <= 0 || acpi->frequency <= 0)) std::abort();
  return 0;
}
