#include "app/SamplerThread.h"

#include <system_error>

#include "app/SamplerGate.h"
#include "platform/ProcessorService.h"

namespace tv2 {

SamplerThread::SamplerThread(SamplerGate& gate, ProcessorService& processors, GroupAffinity binding,
                             std::chrono::milliseconds period, std::function<void()> pass)
    : m_gate(gate), m_processors(processors), m_binding(binding), m_period(period), m_pass(std::move(pass)) {}

SamplerThread::~SamplerThread() { join(); }

bool SamplerThread::start() {
  // std::thread reports a refused creation by throwing; it stops here, and the
  // slot stays empty as with any other creation failure.
  try {
    m_thread = std::thread([this] { run(); });
  } catch (const std::system_error&) {
    return false;
  }
  return true;
}

void SamplerThread::join() {
  if (m_thread.joinable()) m_thread.join();
}

void SamplerThread::run() {
  while (m_gate.beginPass()) {
    if (m_rebind.exchange(false, std::memory_order_relaxed) || !m_bound) {
      m_bound = m_processors.setThreadGroupAffinity(m_binding);
    }
    // A sampler that is not on its processor skips the pass rather than read
    // another processor's registers into this processor's counters.
    if (m_bound) m_pass();
    m_gate.endPass();
    if (!m_gate.sleepFor(m_period)) break;
  }
}

}  // namespace tv2
