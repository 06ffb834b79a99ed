#include "cpu/VendorCodes.h"

#include <cstring>

namespace tv2 {

int32_t vendorCodeFromString(const char* vendor12) {
  // Compared with the terminating zero: 13 bytes.
  struct Entry {
    const char* name;
    int32_t code;
  };
  static constexpr Entry kVendors[] = {
      {"GenuineIntel", VENDOR_INTEL},     {"AuthenticAMD", VENDOR_AMD},
      {"CyrixInstead", VENDOR_CYRIX},     {"CentaurHauls", VENDOR_CENTAUR},
      {"GenuineTMx86", VENDOR_TRANSMETA},
  };
  for (const Entry& entry : kVendors) {
    if (std::memcmp(vendor12, entry.name, 13) == 0) return entry.code;
  }
  return VENDOR_UNKNOWN;
}

}  // namespace tv2
