// Decoding of the seven requests: sizes, fields and the requests that must
// never reach the hardware.

#include <gtest/gtest.h>

#include <initializer_list>
#include <vector>

#include "driver/protocol/DeviceRequestHandler.h"
#include "driver/protocol/DeviceRequests.h"
#include "driver/protocol/LittleEndian.h"
#include "tests/hw/FakeHardware.h"

namespace tv2 {
namespace {

RequestFrame makeRequest(uint32_t code, std::initializer_list<uint32_t> fields, uint32_t capacity,
                         int32_t processor = 0) {
  RequestFrame frame;
  frame.code = code;
  frame.processor = processor;
  frame.outputCapacity = capacity;
  for (uint32_t field : fields) {
    storeLe32(frame.input + frame.inputLength, field);
    frame.inputLength += 4;
  }
  return frame;
}

class RequestHandlerTest : public ::testing::Test {
 protected:
  RequestHandlerTest() : policy(facts()), handler(fake, policy) {}
  static PolicyFacts facts() {
    PolicyFacts f;
    f.pmTimerPort = 0x408;
    f.firmwareTables = {PhysicalRange{0x10000000F0ull, 16}};
    return f;
  }
  uint32_t handle(const RequestFrame& frame) { return handler.handle(frame, &output); }

  test::FakeHardware fake;
  AccessPolicy policy;
  DeviceRequestHandler handler;
  std::vector<uint8_t> output;
};

TEST_F(RequestHandlerTest, AnswersWithTheTablesLayouts) {
  fake.msrs[0x1B1] = 0x0000000188440000ull;
  ASSERT_EQ(handle(makeRequest(IOCTL_READ_MSR, {0x1B1}, 8, 3)), kStatusOk);
  ASSERT_EQ(output.size(), 8u);
  EXPECT_EQ(loadLe32(output.data()), 0x88440000u);  // low half first
  EXPECT_EQ(loadLe32(output.data() + 4), 0x1u);
  EXPECT_EQ(fake.count("rdmsr 3 1B1"), 1);

  ASSERT_EQ(handle(makeRequest(IOCTL_WRITE_MSR, {0x38F, 0x7, 0xF}, 8, 1)), kStatusOk);
  EXPECT_EQ(fake.msrs[0x38F], 0x000000070000000Full);
  EXPECT_EQ(loadLe32(output.data()), 0xFu);
  EXPECT_EQ(loadLe32(output.data() + 4), 0x7u);

  fake.ports[0x408] = 0x00ABCDEF;
  ASSERT_EQ(handle(makeRequest(IOCTL_READ_PORT_DWORD, {0x408}, 8)), kStatusOk);
  EXPECT_EQ(output, (std::vector<uint8_t>{0xEF, 0xCD, 0xAB, 0, 0, 0, 0, 0}));

  fake.putMemory(0x10000000F0ull, {1, 2, 3});
  ASSERT_EQ(handle(makeRequest(IOCTL_READ_PHYS_MEMORY, {0x10, 0xF0, 3, 0x7FFF, 0x1234}, 3)), kStatusOk);
  EXPECT_EQ(output, (std::vector<uint8_t>{1, 2, 3}));

  ASSERT_EQ(handle(makeRequest(IOCTL_GET_VERSION, {}, 4)), kStatusOk);
  EXPECT_EQ(loadLe32(output.data()), 0x138u);
}

TEST_F(RequestHandlerTest, MalformedRequestsNeverReachTheHardware) {
  fake.msrs[0x10] = 1;
  fake.putMemory(0, std::vector<uint8_t>(16, 0));
  const RequestFrame bad[] = {
      makeRequest(IOCTL_READ_MSR, {0x10, 0}, 8),                      // input too long
      makeRequest(IOCTL_READ_MSR, {0x10}, 7),                         // output too small
      makeRequest(IOCTL_READ_MSR, {0x10}, 8, -1),                     // no processor
      makeRequest(IOCTL_WRITE_MSR, {0x186, 0}, 8),                    // input too short
      makeRequest(IOCTL_READ_PORT_DWORD, {0xCF8}, 4),                 // output too small
      makeRequest(IOCTL_READ_PHYS_MEMORY, {0, 0, 0, 0, 0}, 8),        // nothing to read
      makeRequest(IOCTL_READ_PHYS_MEMORY, {0, 0, 16, 0, 0}, 8),       // more than the buffer
      makeRequest(IOCTL_READ_PHYS_MEMORY, {0, 0, kMaxPhysicalRead + 1, 0, 0}, kMaxPhysicalRead),
      makeRequest(IOCTL_READ_PHYS_MEMORY, {0xFFFFFFFF, 0xFFFFFFF0, 32, 0, 0}, 32),  // wraps
      makeRequest(IOCTL_GET_VERSION, {0}, 4),
      makeRequest(0x9C402404, {0x10}, 8),                             // a code nobody serves
  };
  for (const RequestFrame& frame : bad) {
    output.assign(3, 0xAA);
    EXPECT_NE(handle(frame), kStatusOk) << std::hex << frame.code;
    EXPECT_TRUE(output.empty());
  }
  EXPECT_EQ(handle(makeRequest(0x9C402404, {}, 0)), kStatusInvalidFunction);
  EXPECT_TRUE(fake.takeLog().empty());
}

TEST_F(RequestHandlerTest, PartialMasksKeepTheOtherBits) {
  fake.msrs[0x1A0] = 0x0000000000850089ull;
  ASSERT_EQ(handle(makeRequest(IOCTL_WRITE_MSR, {0x1A0, 0xFFFFFFFF, 0xFFFFFFFF}, 8)), kStatusOk);
  EXPECT_EQ(fake.msrs[0x1A0], 0x0000000000C50089ull);
  EXPECT_EQ(loadLe32(output.data()), 0x00C50089u) << "the answer is what was written";

  // 0:18.3 0x1E8 through the ports, addressed with extended register bits.
  fake.config[0x8000C300] = 0x16031022;
  fake.config[0x8100C3E8] = 0xFFFF0000;
  ASSERT_EQ(handle(makeRequest(IOCTL_WRITE_PORT_DWORD, {0xCF8, 0x8100C3E8}, 8)), kStatusOk);
  ASSERT_EQ(handle(makeRequest(IOCTL_WRITE_PORT_DWORD, {0xCFC, 0x12345731}, 8)), kStatusOk);
  EXPECT_EQ(fake.config[0x8100C3E8], 0xFFFF0731u);
  // The same register without the enable bit is not a configuration write.
  ASSERT_EQ(handle(makeRequest(IOCTL_WRITE_PORT_DWORD, {0xCF8, 0x0100C3E8}, 8)), kStatusOk);
  EXPECT_EQ(handle(makeRequest(IOCTL_WRITE_PORT_DWORD, {0xCFC, 0}, 8)), kStatusAccessDenied);
}

}  // namespace
}  // namespace tv2
