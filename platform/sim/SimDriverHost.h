#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

#include "driver/protocol/AccessPolicy.h"
#include "driver/protocol/DeviceRequestHandler.h"
#include "driver/protocol/HardwareBackend.h"
#include "platform/ServiceManager.h"

namespace tv2::sim {

// The driver host running on a simulated machine: the same frame decoding,
// request handling and access policy as the real host, over a
// HardwareBackend (the machine's, or a test's fake). Like the real host it
// learns the policy's facts (PM timer port, configuration window, mailbox)
// from the hardware when it starts, and serves one request at a time.
//
// A stop while devices are open leaves it stop-pending until the last one
// closes, as a kernel driver with open handles does. Killing it (the host
// process dies) fails every open device at once.
//
// Threads: any; m_mutex guards every member below it and serialises requests.
class SimDriverHost {
 public:
  // version: what the host answers the version request with.
  SimDriverHost(HardwareBackend& hardware, uint32_t version);
  SimDriverHost(const SimDriverHost&) = delete;
  SimDriverHost& operator=(const SimDriverHost&) = delete;

  // One whole request frame in, one whole answer frame out, as over the
  // socket. False (no answer) when the host is dead.
  bool serve(const std::vector<uint8_t>& frame, std::vector<uint8_t>* answer);

  // Devices. attach is false when the host no longer accepts devices.
  bool attachDevice();
  void detachDevice();

  void stop();
  void kill();
  // kServiceRunning, kServiceStopPending or kServiceStopped.
  uint32_t state() const;
  // Requests served so far.
  uint64_t requestCount() const;

 private:
  HardwareBackend& m_hardware;  // thread-safe on its own (or a test fake)
  const AccessPolicy m_policy;
  const uint32_t m_version;
  DeviceRequestHandler m_handler;  // used under m_mutex
  mutable std::mutex m_mutex;
  int m_devices = 0;
  bool m_stopRequested = false;
  bool m_dead = false;
  uint64_t m_requests = 0;
  std::vector<uint8_t> m_output;  // one answer's output, reused
};

}  // namespace tv2::sim
