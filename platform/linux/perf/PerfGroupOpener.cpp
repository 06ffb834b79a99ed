#include "platform/linux/perf/PerfGroupOpener.h"

#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/ErrorCodes.h"
#include "platform/linux/perf/PerfEventTable.h"
#include "platform/linux/perf/PerfOpenError.h"

namespace tv2 {

namespace {

int perfEventOpen(const perf_event_attr* attr, int cpu, int groupFd) {
  return static_cast<int>(::syscall(SYS_perf_event_open, attr, -1, cpu, groupFd, PERF_FLAG_FD_CLOEXEC));
}

bool refuse(KernelOpenError* error, uint32_t code, std::string reason) {
  if (error != nullptr) *error = KernelOpenError{code, 0, std::move(reason)};
  return false;
}

}  // namespace

bool PerfGroupOpener::open(const PerfEventSources& sources, int cpu, std::span<const KernelEvent> events,
                           std::vector<OwnedFd>* fds, KernelOpenError* error) {
  fds->clear();
  if (events.empty() || events.size() > static_cast<size_t>(KernelGroupReading::kMaxEvents))
    return refuse(error, kErrorInvalidParameter,
                  "a counting group holds 1 to " + std::to_string(KernelGroupReading::kMaxEvents) + " events");
  bool power = PerfEventTable::kind(events[0]) == PerfEventTable::Kind::kPower;
  for (KernelEvent event : events) {
    if ((PerfEventTable::kind(event) == PerfEventTable::Kind::kPower) != power)
      return refuse(error, kErrorInvalidParameter, "power events are counted in a group of their own");
  }
  int countingCpu = PerfEventTable::countingCpu(sources, cpu, events[0]);
  std::vector<perf_event_attr> attrs(events.size());
  std::vector<const char*> names(events.size());
  for (size_t i = 0; i < events.size(); ++i) {
    if (!PerfEventTable::attr(sources, cpu, events[i], i == 0, &attrs[i], error)) return false;
    names[i] = PerfEventTable::name(events[i]);
  }
  return openAttributes(countingCpu, attrs, names, fds, error);
}

bool PerfGroupOpener::openAttributes(int cpu, std::span<const perf_event_attr> attrs,
                                     std::span<const char* const> names, std::vector<OwnedFd>* fds,
                                     KernelOpenError* error) {
  fds->clear();
  if (attrs.empty() || names.size() != attrs.size())
    return refuse(error, kErrorInvalidParameter, "an empty counting group");
  std::vector<OwnedFd> opened;
  opened.reserve(attrs.size());
  for (size_t i = 0; i < attrs.size(); ++i) {
    int groupFd = i == 0 ? -1 : opened.front().get();
    int fd = perfEventOpen(&attrs[i], cpu, groupFd);
    if (fd < 0) {
      int saved = errno;
      if (error != nullptr)
        *error = PerfOpenError::fromErrno(saved, std::string(names[i]) + " on CPU " + std::to_string(cpu));
      return false;  // `opened` closes what was opened so far
    }
    opened.emplace_back(fd);
  }
  if (::ioctl(opened.front().get(), PERF_EVENT_IOC_ENABLE, PERF_IOC_FLAG_GROUP) != 0) {
    int saved = errno;
    if (error != nullptr)
      *error = PerfOpenError::fromErrno(saved, "the group of " + std::string(names[0]) + " on CPU " +
                                                   std::to_string(cpu));
    return false;
  }
  *fds = std::move(opened);
  return true;
}

}  // namespace tv2
