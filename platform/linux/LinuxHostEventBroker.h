#pragma once

#include <cstdint>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "platform/linux/LinuxSystemHost.h"
#include "platform/linux/perf/PerfEventBroker.h"

namespace tv2 {

// Counting groups opened by the system driver host and passed over its
// socket (SCM_RIGHTS), for a copy that may not open CPU-wide events itself.
// One connection serves every request, one at a time; a transport failure
// drops it and the next request connects again. What arrives is checked
// before it is kept: the host's answer must say it passed exactly one
// descriptor per event and exactly that many must have arrived, each a perf
// event; anything else (too many, too few, cut short by the kernel, another
// kind of file) is closed and the request fails. Received descriptors are
// close-on-exec from the moment they exist (MSG_CMSG_CLOEXEC).
//
// Threads: any; m_mutex guards the connection (m_fd) and serialises requests.
class LinuxHostEventBroker : public PerfEventBroker {
 public:
  LinuxHostEventBroker(LinuxSystemHost host, uint32_t timeoutMs);
  ~LinuxHostEventBroker() override;
  LinuxHostEventBroker(const LinuxHostEventBroker&) = delete;
  LinuxHostEventBroker& operator=(const LinuxHostEventBroker&) = delete;

  std::string unavailableReason() override;
  bool openGroup(int cpu, std::span<const KernelEvent> events, std::vector<OwnedFd>* fds,
                 KernelOpenError* error) override;

  // Whether fd is a perf event's descriptor (the kernel names its anonymous
  // inode "[perf_event]").
  static bool isPerfEvent(int fd);

 private:
  // Connects to the host if not connected; false with *error filled.
  bool connectLocked(KernelOpenError* error);
  void dropLocked();
  // Sends the request and takes its answer: the header and output into
  // answer[], every descriptor that came with it into *received. False on a
  // transport failure (*error filled, connection dropped).
  bool exchangeLocked(const std::vector<uint8_t>& request, uint8_t* answer, size_t answerSize,
                      std::vector<OwnedFd>* received, bool* truncated, KernelOpenError* error);

  const LinuxSystemHost m_host;
  const uint32_t m_timeoutMs;
  std::mutex m_mutex;
  int m_fd = -1;  // guarded by m_mutex
};

}  // namespace tv2
