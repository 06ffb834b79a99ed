#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "platform/ErrorCodes.h"
#include "platform/KernelCounterService.h"

namespace tv2::testing {

// A kernel counter service whose counts, times and sensors the test sets.
// Every open group reads the processor's current state (the events asked,
// in the order asked); the test moves the counts and times on, multiplexes
// (counting time below enabled time), refuses opens and fails reads.
class FakeKernelCounterService : public KernelCounterService {
 public:
  struct ProcessorState {
    std::array<uint64_t, kKernelEventCount> counts{};
    uint64_t enabled = 0;
    uint64_t running = 0;
    bool failReads = false;
    bool refuseOpen = false;
    std::vector<std::vector<KernelEvent>> opened;  // every group asked for, in order
  };

  KernelCounterInventory inventory() override { return inventoryToGive; }

  std::unique_ptr<KernelEventGroup> openGroup(int group, int index, std::span<const KernelEvent> events,
                                              KernelOpenError* error) override {
    std::lock_guard lock(m_mutex);
    ProcessorState& state = m_state[{group, index}];
    state.opened.emplace_back(events.begin(), events.end());
    if (state.refuseOpen) {
      error->code = kErrorAccessDenied;
      error->systemError = 13;
      error->reason = "refused on cpu " + std::to_string(index);
      return nullptr;
    }
    return std::make_unique<Group>(*this, group, index, std::vector<KernelEvent>(events.begin(), events.end()));
  }

  bool readTemperature(int sensor, int32_t* milliCelsius) override {
    std::lock_guard lock(m_mutex);
    if (sensor < 0 || sensor >= static_cast<int>(temperatures.size()) || temperatures[sensor] < -273000) return false;
    *milliCelsius = temperatures[static_cast<size_t>(sensor)];
    return true;
  }
  bool readEnergy(int zone, uint64_t* microjoules, uint64_t* timeNs) override {
    std::lock_guard lock(m_mutex);
    if (zone < 0 || zone >= static_cast<int>(energy.size()) || !energyReadable) return false;
    *microjoules = energy[static_cast<size_t>(zone)];
    *timeNs = energyTime;
    return true;
  }
  bool readFrequency(int group, int index, uint32_t* kiloHertz) override {
    std::lock_guard lock(m_mutex);
    auto found = frequencies.find({group, index});
    if (found == frequencies.end()) return false;
    *kiloHertz = found->second;
    return true;
  }

  // The state of processor (group, index), created empty on first use.
  ProcessorState& processor(int group, int index) {
    std::lock_guard lock(m_mutex);
    return m_state[{group, index}];
  }
  // Every processor counts for `ns` (of which `runningNs` on the hardware)
  // at the given rates per second of counting time.
  void advance(int group, int index, uint64_t ns, uint64_t runningNs,
               const std::map<KernelEvent, double>& perSecond) {
    std::lock_guard lock(m_mutex);
    ProcessorState& state = m_state[{group, index}];
    state.enabled += ns;
    state.running += runningNs;
    for (const auto& [event, rate] : perSecond) {
      state.counts[static_cast<size_t>(event)] += static_cast<uint64_t>(rate * static_cast<double>(runningNs) / 1e9);
    }
  }

  KernelCounterInventory inventoryToGive;
  std::vector<int32_t> temperatures;  // below -273000: unreadable
  std::vector<uint64_t> energy;       // per zone, microjoules
  uint64_t energyTime = 0;
  bool energyReadable = true;
  std::map<std::pair<int, int>, uint32_t> frequencies;

 private:
  class Group : public KernelEventGroup {
   public:
    Group(FakeKernelCounterService& owner, int group, int index, std::vector<KernelEvent> events)
        : m_owner(owner), m_key(group, index), m_events(std::move(events)) {}
    bool read(KernelGroupReading* out) override {
      std::lock_guard lock(m_owner.m_mutex);
      const ProcessorState& state = m_owner.m_state[m_key];
      if (state.failReads) return false;
      out->timeEnabled = state.enabled;
      out->timeRunning = state.running;
      out->count = static_cast<int>(m_events.size());
      for (size_t i = 0; i < m_events.size(); ++i) out->values[i] = state.counts[static_cast<size_t>(m_events[i])];
      return true;
    }

   private:
    FakeKernelCounterService& m_owner;
    std::pair<int, int> m_key;
    std::vector<KernelEvent> m_events;
  };

  std::mutex m_mutex;
  std::map<std::pair<int, int>, ProcessorState> m_state;
};

}  // namespace tv2::testing
