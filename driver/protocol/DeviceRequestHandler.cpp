#include "driver/protocol/DeviceRequestHandler.h"

#include "driver/protocol/DeviceRequests.h"
#include "driver/protocol/HardwareFacts.h"
#include "driver/protocol/LittleEndian.h"

namespace tv2 {

namespace {

void putDwords(std::vector<uint8_t>* output, uint32_t first, uint32_t second) {
  output->resize(8);
  storeLe32(output->data(), first);
  storeLe32(output->data() + 4, second);
}

}  // namespace

DeviceRequestHandler::DeviceRequestHandler(HardwareBackend& hardware, const AccessPolicy& policy)
    : m_hardware(hardware), m_policy(policy) {}

uint32_t DeviceRequestHandler::handle(const RequestFrame& request, std::vector<uint8_t>* output) {
  if (output == nullptr) return kStatusInvalidParameter;
  output->clear();
  uint32_t status = kStatusInvalidFunction;
  switch (request.code) {
    case IOCTL_READ_MSR:
      status = readMsr(request, output);
      break;
    case IOCTL_WRITE_MSR:
      status = writeMsr(request, output);
      break;
    case IOCTL_READ_PORT_DWORD:
      status = readPort(request, output);
      break;
    case IOCTL_WRITE_PORT_DWORD:
      status = writePort(request);
      break;
    case IOCTL_READ_PHYS_MEMORY:
      status = readPhysical(request, output);
      break;
    case IOCTL_WRITE_PHYS_DWORD:
      status = writePhysical(request);
      break;
    case IOCTL_GET_VERSION:
      status = version(request, output);
      break;
    default:
      break;
  }
  if (status != kStatusOk) output->clear();
  return status;
}

uint32_t DeviceRequestHandler::readMsr(const RequestFrame& request, std::vector<uint8_t>* output) {
  if (request.inputLength != kReadMsrInput || request.processor < 0) return kStatusInvalidParameter;
  if (request.outputCapacity < kMsrOutput) return kStatusBufferTooSmall;
  uint64_t value = 0;
  if (!m_hardware.readMsr(request.processor, loadLe32(request.input), &value))
    return kStatusHardwareFailed;
  putDwords(output, static_cast<uint32_t>(value), static_cast<uint32_t>(value >> 32));
  return kStatusOk;
}

uint32_t DeviceRequestHandler::writeMsr(const RequestFrame& request, std::vector<uint8_t>* output) {
  if (request.inputLength != kWriteMsrInput || request.processor < 0) return kStatusInvalidParameter;
  if (request.outputCapacity < kMsrOutput) return kStatusBufferTooSmall;
  uint32_t index = loadLe32(request.input);
  uint64_t value = static_cast<uint64_t>(loadLe32(request.input + 4)) << 32 | loadLe32(request.input + 8);
  uint64_t mask = AccessPolicy::msrWriteMask(index);
  if (mask == 0) return kStatusAccessDenied;
  if (mask != ~uint64_t{0}) {
    uint64_t current = 0;
    if (!m_hardware.readMsr(request.processor, index, &current)) return kStatusHardwareFailed;
    value = (current & ~mask) | (value & mask);
  }
  if (!m_hardware.writeMsr(request.processor, index, value)) return kStatusHardwareFailed;
  putDwords(output, static_cast<uint32_t>(value), static_cast<uint32_t>(value >> 32));
  return kStatusOk;
}

uint32_t DeviceRequestHandler::readPort(const RequestFrame& request, std::vector<uint8_t>* output) {
  if (request.inputLength != kReadPortInput) return kStatusInvalidParameter;
  if (request.outputCapacity < kReadPortOutput) return kStatusBufferTooSmall;
  uint32_t port = loadLe32(request.input);
  if (!m_policy.mayReadPort(port)) return kStatusAccessDenied;
  uint32_t value = 0;
  if (!m_hardware.readPort(port, &value)) return kStatusHardwareFailed;
  putDwords(output, value, 0);
  return kStatusOk;
}

template <typename Read, typename Write>
uint32_t DeviceRequestHandler::maskedWrite(uint32_t mask, uint32_t value, Read current, Write write) {
  if (mask == 0) return kStatusAccessDenied;
  if (mask != 0xFFFFFFFF) {
    uint32_t now = 0;
    if (!current(&now)) return kStatusHardwareFailed;
    value = (now & ~mask) | (value & mask);
  }
  return write(value) ? kStatusOk : kStatusHardwareFailed;
}

uint32_t DeviceRequestHandler::writePort(const RequestFrame& request) {
  if (request.inputLength != kWritePortInput) return kStatusInvalidParameter;
  uint32_t port = loadLe32(request.input);
  uint32_t value = loadLe32(request.input + 4);
  if (!AccessPolicy::mayWritePort(port)) return kStatusAccessDenied;
  if (port == AccessPolicy::kConfigAddressPort)
    return m_hardware.writePort(port, value) ? kStatusOk : kStatusHardwareFailed;

  // A configuration write: the register is the one 0xCF8 addresses now.
  uint32_t address = 0;
  if (!m_hardware.readPort(AccessPolicy::kConfigAddressPort, &address)) return kStatusHardwareFailed;
  ConfigRegister target;
  if (!AccessPolicy::decodeConfigAddress(address, &target)) return kStatusAccessDenied;
  if (AccessPolicy::configWriteMask(target) == 0) return kStatusAccessDenied;
  // Only AMD's own device: the same register elsewhere is something else.
  uint32_t deviceId = 0;
  if (!HardwareFacts::readConfig(m_hardware, address & 0x80FFFF00u, &deviceId)) return kStatusHardwareFailed;
  if (!AccessPolicy::isAmdDeviceFor(target, deviceId)) return kStatusAccessDenied;
  return maskedWrite(
      AccessPolicy::configWriteMask(target), value,
      [&](uint32_t* now) { return m_hardware.readPort(AccessPolicy::kConfigDataPort, now); },
      [&](uint32_t v) { return m_hardware.writePort(AccessPolicy::kConfigDataPort, v); });
}

uint32_t DeviceRequestHandler::readPhysical(const RequestFrame& request, std::vector<uint8_t>* output) {
  if (request.inputLength != kReadPhysInput) return kStatusInvalidParameter;
  uint64_t address = static_cast<uint64_t>(loadLe32(request.input)) << 32 | loadLe32(request.input + 4);
  uint32_t count = loadLe32(request.input + 8);
  if (count == 0 || count > kMaxPhysicalRead) return kStatusInvalidParameter;
  if (request.outputCapacity < count) return kStatusBufferTooSmall;
  if (address + count < address) return kStatusInvalidParameter;  // wraps around
  // Memory the monitor does not read fails as a read that failed would.
  if (!m_policy.mayReadPhysical(address, count)) return kStatusAccessDenied;
  output->resize(count);
  if (!m_hardware.readPhysical(address, count, output->data())) return kStatusHardwareFailed;
  return kStatusOk;
}

uint32_t DeviceRequestHandler::writePhysical(const RequestFrame& request) {
  if (request.inputLength != kWritePhysInput) return kStatusInvalidParameter;
  uint64_t address = static_cast<uint64_t>(loadLe32(request.input)) << 32 | loadLe32(request.input + 4);
  uint32_t value = loadLe32(request.input + 8);
  switch (m_policy.classifyPhysicalWrite(address)) {
    case AccessPolicy::PhysicalWrite::kMailbox:
      if (!AccessPolicy::mayWriteMailboxMessage(value)) return kStatusAccessDenied;
      return m_hardware.writePhysicalDword(address, value) ? kStatusOk : kStatusHardwareFailed;
    case AccessPolicy::PhysicalWrite::kConfigWindow: {
      ConfigRegister target =
          AccessPolicy::decodeWindowOffset(address - m_policy.facts().configWindowBase);
      if (AccessPolicy::configWriteMask(target) == 0) return kStatusAccessDenied;
      uint8_t idBytes[4];
      if (!m_hardware.readPhysical(address & ~uint64_t{0xFFF}, 4, idBytes)) return kStatusHardwareFailed;
      if (!AccessPolicy::isAmdDeviceFor(target, loadLe32(idBytes))) return kStatusAccessDenied;
      return maskedWrite(
          AccessPolicy::configWriteMask(target), value,
          [&](uint32_t* now) {
            uint8_t bytes[4];
            if (!m_hardware.readPhysical(address, 4, bytes)) return false;
            *now = loadLe32(bytes);
            return true;
          },
          [&](uint32_t v) { return m_hardware.writePhysicalDword(address, v); });
    }
    case AccessPolicy::PhysicalWrite::kRefused:
      break;
  }
  return kStatusAccessDenied;
}

uint32_t DeviceRequestHandler::version(const RequestFrame& request, std::vector<uint8_t>* output) {
  if (request.inputLength != 0) return kStatusInvalidParameter;
  if (request.outputCapacity < kVersionOutput) return kStatusBufferTooSmall;
  output->resize(kVersionOutput);
  storeLe32(output->data(), kDriverVersion);
  return kStatusOk;
}

}  // namespace tv2
