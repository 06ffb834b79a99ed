#pragma once

#include <sys/types.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace tv2::test {

// A driver host started by a test as a separate process, on a tree of plain
// files standing in for /dev and /sys, with its socket and pid file in a
// private folder. Root only (the host serves nobody else).
class HostHarness {
 public:
  HostHarness();
  ~HostHarness();
  HostHarness(const HostHarness&) = delete;
  HostHarness& operator=(const HostHarness&) = delete;

  const std::string& root() const { return m_root; }
  std::string socketPath() const { return m_root + "/run/host.sock"; }
  std::string pidPath() const { return m_root + "/run/host.pid"; }
  std::string msrFile(int cpu) const { return m_root + "/dev/cpu/" + std::to_string(cpu) + "/msr"; }
  std::string configFile(const std::string& function) const {
    return m_root + "/sys/bus/pci/devices/0000:" + function + "/config";
  }

  // Writes a register or configuration dword into the fake tree.
  void putMsr(int cpu, uint32_t index, uint64_t value);
  uint64_t msr(int cpu, uint32_t index) const;
  void putConfig(const std::string& function, uint32_t reg, uint32_t value);
  uint32_t config(const std::string& function, uint32_t reg) const;

  // Writes bytes into the stand-in for /dev/mem (a sparse 4 GB file, made on
  // first use; without it the host has no physical memory at all).
  void putMemory(uint64_t address, const std::vector<uint8_t>& bytes);
  std::string memFile() const { return m_root + "/dev/mem"; }
  // Arguments added to the host's command line from the next start on.
  std::vector<std::string> extraArguments;
  // The host's resident memory in KB (0 when it cannot be read).
  long residentKb() const;

  // Starts the host and waits until its pid file is there; false on failure.
  bool start();
  // Another host on the same socket; returns its exit status (it should not run).
  int startSecond();
  // SIGTERM (or the given signal) and the exit status; -1 when it did not end.
  int stop(int signal = 15);
  // The exit status once the host ends by itself within timeoutMs; -1 when
  // it is still running then.
  int waitExit(int timeoutMs);
  pid_t pid() const { return m_pid; }

  // Every path below the root, sorted (for "the host wrote nothing else").
  std::vector<std::string> listTree() const;

 private:
  std::vector<std::string> hostArguments() const;

  std::string m_root;
  pid_t m_pid = -1;
};

// One client connection to the host's socket.
class HostClient {
 public:
  explicit HostClient(const std::string& socketPath);
  ~HostClient();
  HostClient(const HostClient&) = delete;
  HostClient& operator=(const HostClient&) = delete;

  bool connected() const { return m_fd >= 0; }
  bool sendBytes(const std::vector<uint8_t>& bytes);
  void shutdownWrite();
  // A whole request frame of little-endian fields.
  static std::vector<uint8_t> frame(uint32_t code, std::initializer_list<uint32_t> fields, uint32_t capacity,
                                    int32_t processor = 0);
  // Sends the request and reads its answer: false when the connection ended
  // (or nothing came within timeoutMs).
  bool call(uint32_t code, std::initializer_list<uint32_t> fields, uint32_t capacity, uint32_t* status,
            std::vector<uint8_t>* output, int32_t processor = 0);
  bool readAnswer(uint32_t* status, std::vector<uint8_t>* output, int timeoutMs = 3000);
  // Shrinks the receive buffer, as a client that reads slowly would have.
  void shrinkReceiveBuffer(int bytes);
  // True when the host closed the connection within timeoutMs.
  bool closedByPeer(int timeoutMs = 3000);

 private:
  bool readExactly(uint8_t* data, size_t size, int timeoutMs);
  int m_fd = -1;
};

}  // namespace tv2::test
