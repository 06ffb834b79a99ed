#include "tests/driver/HostHarness.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <thread>

#include "driver/protocol/FrameCodec.h"
#include "driver/protocol/LittleEndian.h"

extern char** environ;

namespace tv2::test {

namespace {

namespace fs = std::filesystem;

// Sparse files: every register up to the AMD counters reads 0 until written;
// beyond the end a register does not exist.
constexpr off_t kMsrFileSize = 0xC0011000;

void makeFile(const std::string& path, off_t size) {
  fs::create_directories(fs::path(path).parent_path());
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return;
  if (::ftruncate(fd, size) != 0) {
  }
  ::close(fd);
}

void putBytes(const std::string& path, off_t offset, const void* data, size_t size) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) return;
  if (::pwrite(fd, data, size, offset) != static_cast<ssize_t>(size)) {
  }
  ::close(fd);
}

void getBytes(const std::string& path, off_t offset, void* data, size_t size) {
  std::memset(data, 0, size);
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return;
  if (::pread(fd, data, size, offset) != static_cast<ssize_t>(size)) {
  }
  ::close(fd);
}

}  // namespace

HostHarness::HostHarness() {
  char pattern[] = "/tmp/tv2-host-XXXXXX";
  if (::mkdtemp(pattern) == nullptr) return;
  m_root = pattern;
  fs::create_directories(m_root + "/run");
  makeFile(msrFile(0), kMsrFileSize);
  makeFile(msrFile(1), kMsrFileSize);
  makeFile(configFile("00:00.0"), 4096);
  makeFile(configFile("00:18.3"), 4096);
  putConfig("00:00.0", 0, 0x14501022);
  putConfig("00:18.3", 0, 0x16031022);  // AMD's family 15h northbridge, function 3
  putConfig("00:18.3", 0x8C, 0xD03);
  // The AMD configuration window at 0xE0000000, 256 buses.
  putMsr(0, 0xC0010058, 0xE0000021);
  // The kernel's copy of the FADT names the PM timer at 0x808.
  std::vector<uint8_t> fadt(244, 0);
  std::memcpy(fadt.data(), "FACP", 4);
  storeLe32(fadt.data() + 4, 244);
  fadt[8] = 4;
  storeLe32(fadt.data() + 76, 0x808);
  std::string tables = m_root + "/sys/firmware/acpi/tables/FACP";
  makeFile(tables, 0);
  putBytes(tables, 0, fadt.data(), fadt.size());
}

HostHarness::~HostHarness() {
  if (m_pid > 0) stop(SIGKILL);
  if (!m_root.empty()) {
    std::error_code ignored;
    fs::remove_all(m_root, ignored);
  }
}

void HostHarness::putMsr(int cpu, uint32_t index, uint64_t value) { putBytes(msrFile(cpu), index, &value, 8); }

uint64_t HostHarness::msr(int cpu, uint32_t index) const {
  uint64_t value = 0;
  getBytes(msrFile(cpu), index, &value, 8);
  return value;
}

void HostHarness::putMemory(uint64_t address, const std::vector<uint8_t>& bytes) {
  if (!fs::exists(memFile())) makeFile(memFile(), off_t{1} << 32);
  putBytes(memFile(), static_cast<off_t>(address), bytes.data(), bytes.size());
}

long HostHarness::residentKb() const {
  if (m_pid <= 0) return 0;
  std::string path = "/proc/" + std::to_string(m_pid) + "/status";
  FILE* file = std::fopen(path.c_str(), "r");
  if (file == nullptr) return 0;
  char line[256];
  long kb = 0;
  while (std::fgets(line, sizeof line, file) != nullptr)
    if (std::sscanf(line, "VmRSS: %ld kB", &kb) == 1) break;
  std::fclose(file);
  return kb;
}

int HostHarness::waitExit(int timeoutMs) {
  if (m_pid <= 0) return -1;
  int status = 0;
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (std::chrono::steady_clock::now() < end) {
    if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
      m_pid = -1;
      return status;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return -1;
}

void HostHarness::putConfig(const std::string& function, uint32_t reg, uint32_t value) {
  putBytes(configFile(function), reg, &value, 4);
}

uint32_t HostHarness::config(const std::string& function, uint32_t reg) const {
  uint32_t value = 0;
  getBytes(configFile(function), reg, &value, 4);
  return value;
}

std::vector<std::string> HostHarness::hostArguments() const {
  std::vector<std::string> arguments = {
      TV2_DRIVER_HOST, "--socket",       socketPath(), "--pid-file",         pidPath(),
      "--dev-root",    m_root + "/dev", "--sys-root", m_root + "/sys",      "--frame-timeout-ms",
      "300",           "--no-modprobe"};
  arguments.insert(arguments.end(), extraArguments.begin(), extraArguments.end());
  return arguments;
}

bool HostHarness::start() {
  std::error_code ignored;
  fs::remove(pidPath(), ignored);  // a killed host leaves its own behind
  std::vector<std::string> arguments = hostArguments();
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  if (posix_spawn(&m_pid, TV2_DRIVER_HOST, nullptr, nullptr, argv.data(), environ) != 0) {
    m_pid = -1;
    return false;
  }
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (std::chrono::steady_clock::now() < end) {
    if (fs::exists(pidPath())) return true;
    int status = 0;
    if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
      m_pid = -1;
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return false;
}

int HostHarness::startSecond() {
  std::vector<std::string> arguments = hostArguments();
  arguments[4] = pidPath() + ".second";
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t second = -1;
  int spawned = posix_spawn(&second, TV2_DRIVER_HOST, &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return -1;
  int status = 0;
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (std::chrono::steady_clock::now() < end) {
    if (::waitpid(second, &status, WNOHANG) == second) return status;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ::kill(second, SIGKILL);
  ::waitpid(second, &status, 0);
  return -1;
}

int HostHarness::stop(int signal) {
  if (m_pid <= 0) return -1;
  ::kill(m_pid, signal);
  int status = 0;
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (std::chrono::steady_clock::now() < end) {
    if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
      m_pid = -1;
      return status;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ::kill(m_pid, SIGKILL);
  ::waitpid(m_pid, &status, 0);
  m_pid = -1;
  return -1;
}

std::vector<std::string> HostHarness::listTree() const {
  std::vector<std::string> paths;
  for (const auto& entry : fs::recursive_directory_iterator(m_root)) paths.push_back(entry.path().string());
  std::sort(paths.begin(), paths.end());
  return paths;
}

HostClient::HostClient(const std::string& socketPath) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (socketPath.size() >= sizeof address.sun_path) return;
  std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size());
  m_fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (m_fd >= 0 && ::connect(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ::close(m_fd);
    m_fd = -1;
  }
}

HostClient::~HostClient() {
  if (m_fd >= 0) ::close(m_fd);
}

bool HostClient::sendBytes(const std::vector<uint8_t>& bytes) {
  return m_fd >= 0 && ::send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
}

void HostClient::shutdownWrite() { ::shutdown(m_fd, SHUT_WR); }

void HostClient::shrinkReceiveBuffer(int bytes) {
  ::setsockopt(m_fd, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
}

std::vector<uint8_t> HostClient::frame(uint32_t code, std::initializer_list<uint32_t> fields, uint32_t capacity,
                                       int32_t processor) {
  RequestFrame request;
  request.code = code;
  request.processor = processor;
  request.outputCapacity = capacity;
  for (uint32_t field : fields) {
    storeLe32(request.input + request.inputLength, field);
    request.inputLength += 4;
  }
  std::vector<uint8_t> bytes;
  FrameCodec::encodeRequest(request, &bytes);
  return bytes;
}

bool HostClient::call(uint32_t code, std::initializer_list<uint32_t> fields, uint32_t capacity, uint32_t* status,
                      std::vector<uint8_t>* output, int32_t processor) {
  return sendBytes(frame(code, fields, capacity, processor)) && readAnswer(status, output);
}

bool HostClient::readExactly(uint8_t* data, size_t size, int timeoutMs) {
  while (size > 0) {
    pollfd ready{m_fd, POLLIN, 0};
    if (::poll(&ready, 1, timeoutMs) <= 0) return false;
    ssize_t n = ::recv(m_fd, data, size, 0);
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool HostClient::readAnswer(uint32_t* status, std::vector<uint8_t>* output, int timeoutMs) {
  uint8_t header[FrameCodec::kAnswerHeaderSize];
  if (!readExactly(header, sizeof header, timeoutMs)) return false;
  AnswerHeader answer;
  if (FrameCodec::decodeAnswerHeader(header, sizeof header, FrameCodec::kMaxOutput, &answer) !=
      FrameCodec::Parse::kComplete)
    return false;
  output->assign(answer.outputLength, 0);
  if (answer.outputLength > 0 && !readExactly(output->data(), output->size(), timeoutMs)) return false;
  *status = answer.status;
  return true;
}

bool HostClient::closedByPeer(int timeoutMs) {
  pollfd ready{m_fd, POLLIN, 0};
  if (::poll(&ready, 1, timeoutMs) <= 0) return false;
  uint8_t byte = 0;
  return ::recv(m_fd, &byte, 1, 0) == 0;
}

}  // namespace tv2::test
