// libFuzzer target for what the driver host does with a client's bytes: the
// stream is cut into frames exactly as the host's connection loop does, each
// frame is decoded and executed through the access policy, and the answer is
// encoded. The hardware is a small in-memory model (nothing real is
// touched); the model checks that no refused write ever reaches it.
//
// Built with clang only (-fsanitize=fuzzer,address,undefined), by
// driver/fuzz/run-fuzzer.sh; not part of the normal build.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "driver/protocol/AccessPolicy.h"
#include "driver/protocol/DeviceRequestHandler.h"
#include "driver/protocol/FrameCodec.h"
#include "driver/protocol/HardwareFacts.h"
#include "driver/protocol/KernelEventCodec.h"

namespace {

using namespace tv2;

PolicyFacts facts();

class ModelHardware : public HardwareBackend {
 public:
  bool readMsr(int32_t cpu, uint32_t index, uint64_t* value) override {
    if (cpu > 63 || (index & 0xF) == 0xF) return false;
    *value = static_cast<uint64_t>(index) * 0x9E3779B97F4A7C15ull;
    return true;
  }
  bool writeMsr(int32_t, uint32_t index, uint64_t) override {
    if (AccessPolicy::msrWriteMask(index) == 0) std::abort();  // a refused write got through
    return true;
  }
  bool readPort(uint32_t port, uint32_t* value) override {
    if (port == 0xCF8) {
      *value = m_address;
      return true;
    }
    *value = port ^ m_address;
    return port == 0xCFC || port == 0x808;
  }
  bool writePort(uint32_t port, uint32_t value) override {
    if (port == 0xCF8) {
      m_address = value;
      return true;
    }
    if (port != 0xCFC) std::abort();
    ConfigRegister target;
    if (!AccessPolicy::decodeConfigAddress(m_address, &target) || AccessPolicy::configWriteMask(target) == 0)
      std::abort();
    return true;
  }
  bool readPhysical(uint64_t address, uint32_t length, uint8_t* out) override {
    // Reads reach only what the policy grants (and the id dwords of the
    // configuration window, read before a window write).
    static const AccessPolicy check(facts());
    if (!check.mayReadPhysical(address, length)) std::abort();
    if (length > kMaxPhysicalRead || address > 0xFFFFFFFFull) return false;
    for (uint32_t i = 0; i < length; ++i) out[i] = static_cast<uint8_t>(address + i);
    return true;
  }
  bool writePhysicalDword(uint64_t address, uint32_t) override {
    bool window = address >= 0xE0000000 && address < 0xF0000000;
    if (!window && address != 0xFEB80250) std::abort();
    return true;
  }

 private:
  uint32_t m_address = 0;
};

PolicyFacts facts() {
  PolicyFacts result;
  result.pmTimerPort = 0x808;
  result.configWindowBase = 0xE0000000;
  result.configWindowSize = 256u << 20;
  result.mailboxBase = 0xFEB80000;
  result.firmwareTables = {PhysicalRange{0x7FEE0000, 104}, PhysicalRange{0x7FEE0200, 244}};
  result.hpetBase = 0xFED00000;
  return result;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static ModelHardware hardware;
  static const AccessPolicy policy(facts());
  DeviceRequestHandler handler(hardware, policy);
  std::vector<uint8_t> output;
  std::vector<uint8_t> answer;
  size_t offset = 0;
  while (offset < size) {
    RequestFrame request;
    size_t used = 0;
    FrameCodec::Parse parse = FrameCodec::decodeRequest(data + offset, size - offset, &request, &used);
    if (parse != FrameCodec::Parse::kComplete) break;
    if (used == 0 || used > size - offset) std::abort();
    offset += used;
    // The kernel event request: what the host would open is always within
    // the list and one group.
    KernelEventsRequest events;
    if (KernelEventCodec::decodeRequest(request, 16, &events) == kStatusOk &&
        (events.cpu < 0 || events.count == 0 || events.count > kMaxKernelGroupEvents))
      std::abort();
    for (uint32_t i = 0; i < events.count; ++i)
      if (events.events[i] >= 16) std::abort();
    uint32_t status = handler.handle(request, &output);
    if (status != kStatusOk && !output.empty()) std::abort();
    if (output.size() > request.outputCapacity) std::abort();
    answer.clear();
    if (!FrameCodec::encodeAnswer(status, output.data(), static_cast<uint32_t>(output.size()), &answer))
      std::abort();
    AnswerHeader header;
    if (FrameCodec::decodeAnswerHeader(answer.data(), answer.size(), request.outputCapacity, &header) !=
        FrameCodec::Parse::kComplete)
      std::abort();
  }
  // The same bytes as the kernel's copy of an FADT.
  HardwareFacts::pmTimerPortFromFadt(data, size);
  return 0;
}
