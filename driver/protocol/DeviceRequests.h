#pragma once

#include <cstdint>

namespace tv2 {

// The seven requests the driver host serves, with the codes and byte layouts
// the client sends (every field a little-endian u32). Each code is a buffered
// request of device type 0x9C40 with function 0x900 + n.
inline constexpr uint32_t kDriverDeviceType = 0x9C40;

constexpr uint32_t driverRequestCode(uint32_t function) {
  // Device type << 16 | any access << 14 | function << 2 | buffered.
  return kDriverDeviceType << 16 | function << 2;
}

// in: index; out: low half, high half.
inline constexpr uint32_t IOCTL_READ_MSR = driverRequestCode(0x900);
// in: port; out: value, filler.
inline constexpr uint32_t IOCTL_READ_PORT_DWORD = driverRequestCode(0x905);
// in: port, value; out: nothing.
inline constexpr uint32_t IOCTL_WRITE_PORT_DWORD = driverRequestCode(0x906);
// in: address high, address low, byte count, destination high, destination
// low; out: the bytes read. The destination address is the client's own
// buffer; the host cannot reach it and returns the bytes in the answer.
inline constexpr uint32_t IOCTL_READ_PHYS_MEMORY = driverRequestCode(0x908);
// in: index, high half, low half; out: low half, high half as written.
inline constexpr uint32_t IOCTL_WRITE_MSR = driverRequestCode(0x909);
// in: address high, address low, value; out: nothing.
inline constexpr uint32_t IOCTL_WRITE_PHYS_DWORD = driverRequestCode(0x90C);
// in: nothing; out: version.
inline constexpr uint32_t IOCTL_GET_VERSION = driverRequestCode(0x90E);

// The version the host answers and the client insists on.
inline constexpr uint32_t kDriverVersion = 0x138;

// Input sizes of the requests above.
inline constexpr uint32_t kReadMsrInput = 4;
inline constexpr uint32_t kReadPortInput = 4;
inline constexpr uint32_t kWritePortInput = 8;
inline constexpr uint32_t kReadPhysInput = 20;
inline constexpr uint32_t kWriteMsrInput = 12;
inline constexpr uint32_t kWritePhysInput = 12;
// Output sizes of the requests that answer with fixed fields.
inline constexpr uint32_t kMsrOutput = 8;
inline constexpr uint32_t kReadPortOutput = 8;
inline constexpr uint32_t kVersionOutput = 4;

// Largest physical read one request may ask for; the client splits longer
// reads. Large enough for the BIOS area scan in two pieces, small enough that
// a client cannot make the host allocate much.
inline constexpr uint32_t kMaxPhysicalRead = 64 * 1024;

// Status of an answer: 0 for success, else the error the client's request
// call reports. The numbers are the platform's error codes.
inline constexpr uint32_t kStatusOk = 0;
inline constexpr uint32_t kStatusInvalidFunction = 1;     // unknown request code
inline constexpr uint32_t kStatusAccessDenied = 5;        // refused by the access policy
inline constexpr uint32_t kStatusInvalidData = 13;        // malformed frame
inline constexpr uint32_t kStatusHardwareFailed = 31;     // the access itself failed
inline constexpr uint32_t kStatusNotSupported = 50;       // the kernel does not offer it here
inline constexpr uint32_t kStatusInvalidParameter = 87;   // wrong input size or field
inline constexpr uint32_t kStatusBufferTooSmall = 122;    // output capacity below the answer

}  // namespace tv2
