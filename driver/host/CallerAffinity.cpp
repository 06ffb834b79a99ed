#include "driver/host/CallerAffinity.h"

#include <sched.h>

namespace tv2 {

namespace {

// Far beyond any machine the program runs on; requests naming more are not
// followed.
constexpr int32_t kMaxCpus = 8192;

}  // namespace

void CallerAffinity::follow(int32_t cpu) {
  if (cpu < 0 || cpu >= kMaxCpus || cpu == m_lastAsked) return;
  m_lastAsked = cpu;
  cpu_set_t* set = CPU_ALLOC(kMaxCpus);
  if (set == nullptr) return;
  size_t size = CPU_ALLOC_SIZE(kMaxCpus);
  CPU_ZERO_S(size, set);
  CPU_SET_S(static_cast<size_t>(cpu), size, set);
  if (sched_setaffinity(0, size, set) == 0) m_current = cpu;
  CPU_FREE(set);
}

}  // namespace tv2
