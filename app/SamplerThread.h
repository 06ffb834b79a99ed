#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include "platform/PlatformTypes.h"

namespace tv2 {

class ProcessorService;
class SamplerGate;

// One sampler: a thread bound to a processor (counter samplers) or a group
// (usage samplers) that runs its pass, then sleeps for its period, until the
// gate asks it to stop. The binding is recorded so that it can be applied
// again after something moved the thread (pinning through the process mask).
class SamplerThread {
 public:
  SamplerThread(SamplerGate& gate, ProcessorService& processors, GroupAffinity binding,
                std::chrono::milliseconds period, std::function<void()> pass);
  ~SamplerThread();
  SamplerThread(const SamplerThread&) = delete;
  SamplerThread& operator=(const SamplerThread&) = delete;

  // Creates the thread, held at the gate. False when the system refuses.
  bool start();
  // Waits for the thread to end (the gate must have been told to stop).
  void join();
  // The thread applies its recorded binding again before its next pass.
  void requestRebind() { m_rebind.store(true, std::memory_order_relaxed); }

  const GroupAffinity& binding() const { return m_binding; }
  // How long the sampler sleeps after each pass.
  std::chrono::milliseconds period() const { return m_period; }
  bool running() const { return m_thread.joinable(); }

 private:
  void run();

  SamplerGate& m_gate;
  ProcessorService& m_processors;
  const GroupAffinity m_binding;  // set at construction, read-only after
  const std::chrono::milliseconds m_period;
  const std::function<void()> m_pass;
  std::atomic<bool> m_rebind{true};  // written by any thread, read by the sampler
  bool m_bound = false;              // the sampler thread's own
  std::thread m_thread;              // owned by the creating (user-interface) thread
};

}  // namespace tv2
