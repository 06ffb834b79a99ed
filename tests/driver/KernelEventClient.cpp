// A monitor's side of the kernel event request, run by the tests as another
// user (setpriv) against the real host:
//   group SOCKET CPU EVENT...   open through the broker, check and read the group
//   raw SOCKET HEX              send these bytes, report the answer and what came with it
//   pipeline SOCKET CPU EVENT   two requests before reading either answer
//   platform SOCKET             the monitor's own platform: its kernel counter
//                               service opens a group on the last processor
// Every result is one line on standard output.

#include <fcntl.h>
#include <linux/perf_event.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "driver/protocol/FrameCodec.h"
#include "driver/protocol/KernelEventCodec.h"
#include "driver/protocol/LittleEndian.h"
#include "platform/linux/LinuxHostEventBroker.h"
#include "platform/linux/LinuxPlatform.h"
#include "platform/linux/perf/PerfEventGroup.h"

namespace {

using namespace tv2;

int connectTo(const char* path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path, sizeof address.sun_path - 1);
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return -1;
  return fd;
}

// Burns about ms of processor time so that every counter moves.
void spin(int ms) {
  timespec start{};
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &start);
  do {
    clock_gettime(CLOCK_MONOTONIC, &now);
  } while ((now.tv_sec - start.tv_sec) * 1000 + (now.tv_nsec - start.tv_nsec) / 1000000 < ms);
}

int ioctlError(int fd, unsigned long request, unsigned long argument) {
  return ::ioctl(fd, request, argument) == 0 ? 0 : errno;
}

int group(const char* socket, int cpu, char** names, int count) {
  std::vector<KernelEvent> events;
  for (int i = 0; i < count; ++i) events.push_back(static_cast<KernelEvent>(std::atoi(names[i])));
  LinuxHostEventBroker broker(LinuxSystemHost(socket, {}), 3000);
  std::vector<OwnedFd> fds;
  KernelOpenError error;
  if (!broker.openGroup(cpu, events, &fds, &error)) {
    std::printf("refused %u %d %s\n", error.code, error.systemError, error.reason.c_str());
    return 1;
  }
  bool cloexec = true;
  for (const OwnedFd& fd : fds) cloexec = cloexec && (::fcntl(fd.get(), F_GETFD) & FD_CLOEXEC) != 0;
  // What the holder of a counting descriptor might try to turn it into a
  // sampling one, or change what it counts.
  uint64_t period = 1000;
  int periodError = ::ioctl(fds[0].get(), PERF_EVENT_IOC_PERIOD, &period) == 0 ? 0 : errno;
  int refreshError = ioctlError(fds[0].get(), PERF_EVENT_IOC_REFRESH, 1);
  perf_event_attr changed{};
  changed.size = sizeof changed;
  changed.type = PERF_TYPE_SOFTWARE;
  changed.sample_period = 1;
  int modifyError = ::ioctl(fds[0].get(), PERF_EVENT_IOC_MODIFY_ATTRIBUTES, &changed) == 0 ? 0 : errno;
  PerfEventGroup counting(std::move(fds));
  KernelGroupReading first;
  KernelGroupReading second;
  bool read = counting.read(&first);
  spin(30);
  read = counting.read(&second) && read;
  bool advanced = read && second.count == count && second.timeEnabled > first.timeEnabled;
  for (int i = 0; advanced && i < second.count; ++i) advanced = second.values[static_cast<size_t>(i)] > first.values[static_cast<size_t>(i)];
  std::printf("opened %d cloexec %d advanced %d period %d refresh %d modify %d\n", count, cloexec ? 1 : 0,
              advanced ? 1 : 0, periodError, refreshError, modifyError);
  return 0;
}

// Reads one answer and every descriptor that comes with it; prints what came.
void readAnswer(int fd, const char* label) {
  uint8_t bytes[FrameCodec::kAnswerHeaderSize + kKernelEventsOutput] = {};
  size_t got = 0;
  size_t wanted = FrameCodec::kAnswerHeaderSize;
  int descriptors = 0;
  while (got < wanted) {
    pollfd ready{fd, POLLIN, 0};
    if (::poll(&ready, 1, 3000) != 1) {
      std::printf("%s timeout fds %d\n", label, descriptors);
      return;
    }
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int) * 64)];
    iovec part{bytes + got, wanted - got};
    msghdr message{};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    ssize_t n = ::recvmsg(fd, &message, MSG_CMSG_CLOEXEC);
    if (n <= 0) {
      std::printf("%s closed after %zu fds %d\n", label, got, descriptors);
      return;
    }
    for (cmsghdr* h = CMSG_FIRSTHDR(&message); h != nullptr; h = CMSG_NXTHDR(&message, h))
      if (h->cmsg_type == SCM_RIGHTS) descriptors += static_cast<int>((h->cmsg_len - CMSG_LEN(0)) / sizeof(int));
    got += static_cast<size_t>(n);
    if (got == FrameCodec::kAnswerHeaderSize) wanted += std::min<uint32_t>(loadLe32(bytes + 8), kKernelEventsOutput);
  }
  uint32_t length = loadLe32(bytes + 8);
  std::printf("%s status %u length %u descriptors %u errno %u fds %d\n", label, loadLe32(bytes + 4), length,
              length >= 8 ? loadLe32(bytes + 12) : 0, length >= 8 ? loadLe32(bytes + 16) : 0, descriptors);
}

int raw(const char* socket, const char* hex) {
  std::vector<uint8_t> bytes;
  for (size_t i = 0; hex[i] != '\0' && hex[i + 1] != '\0'; i += 2)
    bytes.push_back(static_cast<uint8_t>(std::strtoul(std::string(hex + i, 2).c_str(), nullptr, 16)));
  int fd = connectTo(socket);
  if (fd < 0) {
    std::printf("unreachable %d\n", errno);
    return 1;
  }
  // A host that closes at once may refuse the bytes; the answer (none) tells.
  ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
  readAnswer(fd, "answer");
  ::close(fd);
  return 0;
}

int pipeline(const char* socket, int cpu, int event) {
  uint8_t number = static_cast<uint8_t>(event);
  RequestFrame frame;
  std::vector<uint8_t> bytes;
  KernelEventCodec::encodeRequest(cpu, std::span<const uint8_t>(&number, 1), &frame);
  FrameCodec::encodeRequest(frame, &bytes);
  FrameCodec::encodeRequest(frame, &bytes);
  int fd = connectTo(socket);
  if (fd < 0 || ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(bytes.size())) {
    std::printf("unreachable\n");
    return 1;
  }
  // Both requests are in before the first answer is read.
  ::usleep(200 * 1000);
  readAnswer(fd, "first");
  readAnswer(fd, "second");
  ::close(fd);
  return 0;
}

int platform(const char* socket) {
  LinuxPlatformOptions options;
  options.systemSocket = socket;
  options.systemUnitFiles = {};
  LinuxPlatform running(options);
  KernelCounterService* service = running.kernelCounters();
  if (service == nullptr) {
    std::printf("no service\n");
    return 1;
  }
  KernelCounterInventory inventory = service->inventory();
  if (inventory.processors.empty()) {
    std::printf("no processors\n");
    return 1;
  }
  const KernelProcessor& last = inventory.processors.back();
  const KernelEvent events[] = {KernelEvent::kCpuClock};
  KernelOpenError error;
  std::unique_ptr<KernelEventGroup> counting = service->openGroup(last.group, last.index, events, &error);
  KernelGroupReading first;
  KernelGroupReading second;
  bool advanced = counting != nullptr && counting->read(&first);
  spin(30);
  advanced = advanced && counting->read(&second) && second.values[0] > first.values[0];
  std::printf("direct %d host %d advanced %d%s%s\n", inventory.mayOpenDirectly ? 1 : 0, inventory.hostOpens ? 1 : 0,
              advanced ? 1 : 0, counting == nullptr ? " " : "", counting == nullptr ? error.reason.c_str() : "");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "group" && argc >= 5) return group(argv[2], std::atoi(argv[3]), argv + 4, argc - 4);
  if (mode == "raw" && argc == 4) return raw(argv[2], argv[3]);
  if (mode == "platform" && argc == 3) return platform(argv[2]);
  if (mode == "pipeline" && argc == 5) return pipeline(argv[2], std::atoi(argv[3]), std::atoi(argv[4]));
  std::fprintf(stderr, "usage: group SOCKET CPU EVENT... | raw SOCKET HEX | pipeline SOCKET CPU EVENT\n");
  return 2;
}
