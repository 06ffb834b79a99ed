// libFuzzer target for the driver host's own walk of the firmware tables,
// whose result decides which physical memory the host serves: the input is a
// memory image (address A reads byte A modulo its size). Every range the walk
// grants must be one the client needs: the root table (at most the table's
// largest size), or a listed table of 36 to 4096 bytes, or a header.
//
// Built with clang only by scripts/fuzz-parsers.sh; not part of the normal build.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "driver/protocol/FirmwareTables.h"

namespace {

using namespace tv2;

class ImageMemory : public HardwareBackend {
 public:
  ImageMemory(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
  bool readMsr(int32_t, uint32_t, uint64_t*) override { return false; }
  bool writeMsr(int32_t, uint32_t, uint64_t) override { std::abort(); }
  bool readPort(uint32_t, uint32_t*) override { return false; }
  bool writePort(uint32_t, uint32_t) override { std::abort(); }
  bool readPhysical(uint64_t address, uint32_t length, uint8_t* out) override {
    if (length == 0 || length > 0x20000 || address > 0xFFFFFFFFull) std::abort();
    // Whole stretches of the image at a time.
    size_t at = static_cast<size_t>(address % m_size);
    for (uint32_t done = 0; done < length;) {
      size_t part = std::min<size_t>(length - done, m_size - at);
      std::memcpy(out + done, m_data + at, part);
      done += static_cast<uint32_t>(part);
      at = 0;
    }
    return true;
  }
  bool writePhysicalDword(uint64_t, uint32_t) override { std::abort(); }

 private:
  const uint8_t* m_data;
  size_t m_size;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  ImageMemory memory(data, size);
  FirmwareTables found = FirmwareTables::walk(memory);
  // The root table and at most 17 entries.
  if (found.tables.size() > 18) std::abort();
  for (size_t i = 0; i < found.tables.size(); ++i) {
    const PhysicalRange& range = found.tables[i];
    uint64_t smallest = i == 0 ? FirmwareTables::kRootReadSize : FirmwareTables::kHeaderSize;
    if (range.length < smallest || range.length > FirmwareTables::kLargestTable) std::abort();
    if (range.base > 0xFFFFFFFFull) std::abort();
  }
  if (found.pmTimerPort.has_value() && (*found.pmTimerPort == 0 || *found.pmTimerPort > 0xFFFF)) std::abort();
  if (found.hpetBase.has_value() && (*found.hpetBase == 0 || *found.hpetBase > 0xFFFFFFFFull)) std::abort();
  // The same bytes as single tables.
  FirmwareTables::pmTimerPortFromFadt(data, size);
  FirmwareTables::hpetBaseFromTable(data, size);
  return 0;
}
