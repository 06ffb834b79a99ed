#include "platform/linux/perf/PerfEventGroup.h"

#include <unistd.h>

#include <cerrno>
#include <utility>

namespace tv2 {

namespace {

// nr, time enabled, time running.
constexpr size_t kHeaderWords = 3;

}  // namespace

PerfEventGroup::PerfEventGroup(std::vector<OwnedFd> fds) : m_fds(std::move(fds)) {}

bool PerfEventGroup::parse(const uint64_t* words, size_t bytes, int expected, KernelGroupReading* out) {
  if (expected <= 0 || expected > KernelGroupReading::kMaxEvents) return false;
  if (bytes < kHeaderWords * sizeof(uint64_t)) return false;
  // The kernel says how many values follow; a group that lost or gained a
  // member is not the one the caller built its ratios for.
  if (words[0] != static_cast<uint64_t>(expected)) return false;
  if (bytes != (kHeaderWords + static_cast<size_t>(expected)) * sizeof(uint64_t)) return false;
  out->timeEnabled = words[1];
  out->timeRunning = words[2];
  out->count = expected;
  for (int i = 0; i < expected; ++i) out->values[static_cast<size_t>(i)] = words[kHeaderWords + static_cast<size_t>(i)];
  return true;
}

bool PerfEventGroup::read(KernelGroupReading* out) {
  if (out == nullptr || m_fds.empty()) return false;
  // One word more than the group needs, so that a longer answer shows.
  uint64_t words[kHeaderWords + KernelGroupReading::kMaxEvents + 1];
  ssize_t got;
  do {
    got = ::read(m_fds.front().get(), words, sizeof words);
  } while (got < 0 && errno == EINTR);
  if (got < 0) return false;
  return parse(words, static_cast<size_t>(got), eventCount(), out);
}

}  // namespace tv2
