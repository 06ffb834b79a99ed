#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "driver/host/CallerAffinity.h"
#include "driver/host/KernelEventOpener.h"
#include "driver/host/PeerAccess.h"
#include "driver/protocol/DeviceRequestHandler.h"
#include "driver/protocol/FrameCodec.h"

namespace tv2 {

struct HostServerOptions {
  std::string socketPath;
  // A frame begun must be complete within this time, else it is answered as
  // malformed and the connection closed.
  uint32_t frameTimeoutMs = 2000;
  size_t maxClients = 32;
  // Move to the processor each request names (see CallerAffinity).
  bool followCaller = true;
};

// The device: a Unix stream socket (mode 0600) that root clients connect to.
// One thread serves every connection with poll, one request at a time, so a
// slow or hostile client never holds up another. Every complete request is
// answered; a request that cannot be trusted (bad magic, a length beyond the
// limits, a frame cut short by the end of the stream or by the frame timeout)
// is answered with kStatusInvalidData and its connection closed, since the
// stream has lost its frame boundaries. Clients whose credentials
// (SO_PEERCRED) are not root's are disconnected before anything is read;
// on a socket the service manager passed (adopt), so are clients outside the
// socket file's group (see PeerAccess).
//
// A client that sends requests without reading the answers stops being read
// from while its unsent answers exceed kMaxPendingOutput; its requests wait in
// the socket (and then in the client), so the host's memory stays bounded by
// maxClients times that bound whatever clients do. Nothing is dropped: once
// the client reads, the held requests are served in order.
//
// Kernel counting events (setKernelEvents): the open request's answer carries
// the group's descriptors as SCM_RIGHTS on its first byte, and the host
// closes its own copies as soon as the answer is sent. A client gets
// descriptors only once it has taken every earlier answer (nothing of its
// connection is unsent or unread), so descriptors in flight to one client
// never exceed one group's; a client that asks again before reading is
// refused (EBUSY) and the host holds none of its descriptors.
//
// Given the installing process (watchOwner), the server also ends once that
// process is gone and no client is connected: an orphaned host does not
// outlive the monitor that started it.
//
// Threads: one; the object is not shared.
class HostServer {
 public:
  // Unsent answer bytes per client beyond which its requests are not read:
  // four answers of the largest size.
  static constexpr size_t kMaxPendingOutput = 4 * (FrameCodec::kAnswerHeaderSize + FrameCodec::kMaxOutput);

  enum class End { kStopped, kOrphaned, kFailed };

  HostServer(DeviceRequestHandler& handler, HostServerOptions options);
  ~HostServer();
  HostServer(const HostServer&) = delete;
  HostServer& operator=(const HostServer&) = delete;

  // Creates the listening socket. A stale socket left by a dead host is
  // replaced; a live one, or anything that is not a socket, is left alone and
  // the call fails. Returns 0 or an errno value.
  int listen();

  // A pidfd of the process that installed the host; the server takes it over.
  void watchOwner(int pidfd);

  // Serves until stopFd becomes readable (a signalfd for SIGTERM), or, with
  // an owner watched, until the owner is gone and no client is connected.
  // kFailed when poll itself fails (errno in *error).
  End run(int stopFd, int* error = nullptr);

  // Serves on a listening socket the service manager made and passed
  // (taken over; non-blocking); members of allowedGroup may connect besides
  // root. Returns 0 or an errno value.
  int adopt(int fd, gid_t allowedGroup);

  // Serves the kernel event request through opener (observed, outlives the
  // server); without one the request is an unknown one.
  void setKernelEvents(KernelEventOpener* opener) { m_kernelEvents = opener; }

  // Removes the socket file if it is still the one listen() made; an
  // adopted socket's file stays.
  void removeSocket();

 private:
  struct Connection {
    int fd = -1;
    std::vector<uint8_t> input;
    std::vector<uint8_t> output;
    size_t sent = 0;
    int64_t frameStartMs = -1;  // when the pending partial frame began
    bool closing = false;       // close once output is sent
    bool dead = false;          // close now
  };

  void acceptClients();
  void readFrom(Connection& connection, int64_t nowMs);
  void serveFrames(Connection& connection, int64_t nowMs);
  void writeTo(Connection& connection);
  void answer(Connection& connection, uint32_t status, const std::vector<uint8_t>& output);
  void failAndClose(Connection& connection);
  void serveKernelEvents(Connection& connection, const RequestFrame& request);
  // Sends a whole answer with descriptors attached; false when the stream
  // could not take it (nothing of it was sent). The descriptors stay the
  // caller's to close.
  bool sendWithDescriptors(Connection& connection, uint32_t status, const std::vector<uint8_t>& output,
                           const std::vector<OwnedFd>& fds);
  int pollTimeout(int64_t nowMs) const;
  size_t pending(const Connection& connection) const { return connection.output.size() - connection.sent; }
  // Requests held back while output was over the bound, served once it is not.
  void serveHeld(Connection& connection, int64_t nowMs);

  DeviceRequestHandler& m_handler;
  const HostServerOptions m_options;
  int m_listenFd = -1;
  PeerAccess m_access;  // root only unless adopt names a group
  int m_ownerFd = -1;        // pidfd of the installing process; -1 once it is gone
  bool m_ownerGone = false;  // the installing process has ended
  dev_t m_socketDevice = 0;
  ino_t m_socketInode = 0;
  std::vector<Connection> m_connections;
  std::vector<uint8_t> m_scratch;  // one answer's output, reused
  CallerAffinity m_affinity;
  KernelEventOpener* m_kernelEvents = nullptr;
};

}  // namespace tv2
