#include "driver/host/KernelEventOpener.h"

#include <linux/perf_event.h>

#include <algorithm>
#include <utility>

#include "driver/protocol/DeviceRequests.h"
#include "driver/protocol/KernelEventCodec.h"
#include "platform/ErrorCodes.h"
#include "platform/KernelCounterService.h"
#include "platform/linux/perf/PerfEventTable.h"
#include "platform/linux/perf/PerfGroupOpener.h"

namespace tv2 {

static_assert(kMaxKernelGroupEvents == KernelGroupReading::kMaxEvents);

KernelEventOpener::KernelEventOpener(std::string sysRoot, std::string procRoot)
    : m_reader(std::move(sysRoot), std::move(procRoot)) {
  KernelCounterInventory unused;
  m_reader.read({}, &m_sources, &unused);
}

bool KernelEventOpener::online(int cpu) const {
  // Asked at every request: processors come and go while the host runs.
  std::vector<int> cpus = m_reader.onlineCpus();
  return std::binary_search(cpus.begin(), cpus.end(), cpu);
}

uint32_t KernelEventOpener::open(const RequestFrame& request, std::vector<OwnedFd>* fds, uint32_t* systemError) {
  fds->clear();
  *systemError = 0;
  KernelEventsRequest wanted;
  uint32_t status = KernelEventCodec::decodeRequest(request, static_cast<uint32_t>(kKernelEventCount), &wanted);
  if (status != kStatusOk) return status;
  if (!online(wanted.cpu)) return kStatusInvalidParameter;

  perf_event_attr attrs[kMaxKernelGroupEvents];
  const char* names[kMaxKernelGroupEvents];
  int countingCpu = -1;
  for (uint32_t i = 0; i < wanted.count; ++i) {
    KernelEvent event = static_cast<KernelEvent>(wanted.events[i]);
    perf_event_attr built;
    KernelOpenError error;
    if (!PerfEventTable::attr(m_sources, wanted.cpu, event, i == 0, &built, &error))
      return error.code == kErrorNotSupported ? kStatusNotSupported : kStatusInvalidParameter;
    // One group counts on one CPU: power events only with power events.
    int cpu = PerfEventTable::countingCpu(m_sources, wanted.cpu, event);
    if (i > 0 && cpu != countingCpu) return kStatusInvalidParameter;
    countingCpu = cpu;
    // Only what names the event crosses over; everything else stays zero,
    // so whatever the table holds the descriptor can count and nothing more.
    perf_event_attr& clean = attrs[i];
    clean = perf_event_attr{};
    clean.size = sizeof clean;
    clean.type = built.type;
    clean.config = built.config;
    clean.read_format = PerfEventTable::kReadFormat;
    clean.disabled = i == 0 ? 1 : 0;
    names[i] = PerfEventTable::name(event);
  }
  KernelOpenError error;
  if (!PerfGroupOpener::openAttributes(countingCpu, std::span<const perf_event_attr>(attrs, wanted.count),
                                       std::span<const char* const>(names, wanted.count), fds, &error)) {
    fds->clear();
    *systemError = static_cast<uint32_t>(error.systemError);
    return error.systemError != 0 ? kStatusHardwareFailed : kStatusInvalidParameter;
  }
  if (fds->size() != wanted.count) {
    fds->clear();
    return kStatusHardwareFailed;
  }
  return kStatusOk;
}

}  // namespace tv2
