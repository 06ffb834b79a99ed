// Writes a stand-in for the driver host's /dev and /sys below a folder: a
// sparse "mem" file holding a simulated machine's firmware (root pointer,
// RSDT, FADT, APIC and HPET tables at their physical addresses) and the
// kernel's copy of the FADT. Tests start the real host on it, so that the
// monitor's firmware-table reads have something to find.
//
// Usage: tv2_stand_in_firmware DIR

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/sim/SimFirmware.h"

using tv2::sim::SimFirmware;

namespace {

// Copies [base, base + size) of the firmware into fd at the same offset.
bool copyRange(const SimFirmware& firmware, int fd, uint64_t base, uint64_t size) {
  constexpr uint32_t kChunk = 16;
  std::vector<uint8_t> bytes(kChunk);
  for (uint64_t at = base; at < base + size; at += kChunk) {
    if (!firmware.read(at, kChunk, bytes.data())) continue;
    if (::pwrite(fd, bytes.data(), kChunk, static_cast<off_t>(at)) != kChunk) return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: tv2_stand_in_firmware DIR\n");
    return 2;
  }
  namespace fs = std::filesystem;
  std::string root = argv[1];
  std::error_code error;
  fs::create_directories(root + "/dev/cpu/0", error);
  fs::create_directories(root + "/sys/firmware/acpi/tables", error);
  SimFirmware firmware{tv2::sim::SimFirmwareConfig{}};
  int mem = ::open((root + "/dev/mem").c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (mem < 0) return 1;
  bool ok = copyRange(firmware, mem, 0, SimFirmware::kLowMemorySize) &&
            copyRange(firmware, mem, SimFirmware::kBiosAreaBase, SimFirmware::kBiosAreaSize) &&
            copyRange(firmware, mem, SimFirmware::kTablesBase, SimFirmware::kTablesSize);
  // Up to 4 GB, so that what the tables point at (the HPET page) reads as
  // zeros rather than beyond the file's end.
  if (::ftruncate(mem, static_cast<off_t>(1) << 32) != 0) ok = false;
  ::close(mem);
  // The kernel's copy of the FADT: the first table after the RSDT's slot
  // list is found by its signature.
  for (uint64_t at = 0; at < SimFirmware::kTablesSize; at += SimFirmware::kTableSlot) {
    uint8_t header[8];
    if (!firmware.read(SimFirmware::kTablesBase + at, 8, header)) continue;
    if (header[0] != 'F' || header[1] != 'A' || header[2] != 'C' || header[3] != 'P') continue;
    uint32_t length = header[4] | header[5] << 8 | header[6] << 16 | static_cast<uint32_t>(header[7]) << 24;
    std::vector<uint8_t> fadt(length);
    if (!firmware.read(SimFirmware::kTablesBase + at, length, fadt.data())) break;
    int fd = ::open((root + "/sys/firmware/acpi/tables/FACP").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC,
                    0400);
    if (fd < 0 || ::write(fd, fadt.data(), fadt.size()) != static_cast<ssize_t>(fadt.size())) ok = false;
    if (fd >= 0) ::close(fd);
    break;
  }
  return ok ? 0 : 1;
}
