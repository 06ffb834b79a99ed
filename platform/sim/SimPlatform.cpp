#include "platform/sim/SimPlatform.h"

#include <chrono>
#include <thread>
#include <utility>

#include "platform/ErrorCodes.h"
#include "platform/sim/SimInstanceLock.h"
#include "platform/sim/SimNamedMutex.h"
#include "platform/sim/SimPresets.h"

namespace tv2::sim {

namespace {

std::shared_ptr<SimMachine> machineOrDefault(std::shared_ptr<SimMachine> machine) {
  if (machine) {
    return machine;
  }
  return std::make_shared<SimMachine>(SimPresets::find("nehalem").value_or(SimMachineConfig{}));
}

uint64_t nextProcessSerial() {
  static std::atomic<uint64_t> s_next{1};
  return s_next.fetch_add(1, std::memory_order_relaxed);
}

}  // namespace

SimPlatform::SimPlatform(std::shared_ptr<SimMachine> machine)
    : m_machine(machineOrDefault(std::move(machine))),
      m_process(nextProcessSerial()),
      m_processors(*m_machine),
      m_times(*m_machine),
      m_system(*m_machine, m_processors),
      m_kernelCounters(m_machine) {}

void SimPlatform::setGroupFunctions(bool available) { m_processors.setGroupFunctions(available); }

void SimPlatform::setUnpinnable(int cpu, bool unpinnable) {
  m_processors.setUnpinnable(cpu, unpinnable);
}

void SimPlatform::setProcessorTimesAvailable(bool available) {
  m_timesAvailable.store(available, std::memory_order_relaxed);
}

void SimPlatform::setProcessorTimesFailing(bool failing) { m_times.setFailing(failing); }

void SimPlatform::holdMutexElsewhere(const std::string& name, bool held) {
  m_machine->mutexes()->holdElsewhere(name, held);
}

void SimPlatform::abandonMutex(const std::string& name) { m_machine->mutexes()->abandon(name); }

void SimPlatform::failMutexWaits(const std::string& name, uint32_t error) {
  m_machine->mutexes()->failWaits(name, error);
}

void SimPlatform::setCreateMutexError(uint32_t error) {
  m_createMutexError.store(error, std::memory_order_relaxed);
}

void SimPlatform::setInstanceLockHeldElsewhere(const std::string& name, bool held) {
  m_machine->instanceLocks()->setHeldElsewhere(name, held);
}

void SimPlatform::setProgramPath(std::string path) { m_files.setProgramPath(std::move(path)); }

void SimPlatform::setUserConfigFolder(std::string folder) { m_files.setUserConfigFolder(std::move(folder)); }

void SimPlatform::setTempFolder(std::string folder) { m_files.setTempFolder(std::move(folder)); }

void SimPlatform::setProgramVersion(FileVersion version) { m_files.setProgramVersion(version); }

void SimPlatform::setProgramVersionReadable(bool readable) {
  m_files.setProgramVersionReadable(readable);
}

ProcessorTimesService* SimPlatform::processorTimes() {
  return m_timesAvailable.load(std::memory_order_relaxed) ? &m_times : nullptr;
}

std::unique_ptr<NamedMutex> SimPlatform::createNamedMutex(const std::string& name,
                                                          bool* alreadyExisted, uint32_t* error) {
  uint32_t failure = m_createMutexError.load(std::memory_order_relaxed);
  if (failure == kOk && name.empty()) {
    failure = kErrorInvalidParameter;
  }
  if (failure != kOk) {
    if (error != nullptr) {
      *error = failure;
    }
    return nullptr;
  }
  bool existed = false;
  m_machine->mutexes()->open(name, &existed);
  if (alreadyExisted != nullptr) {
    *alreadyExisted = existed;
  }
  if (error != nullptr) {
    *error = kOk;
  }
  return std::make_unique<SimNamedMutex>(m_machine->mutexes(), name, m_process);
}

std::unique_ptr<InstanceLock> SimPlatform::acquireInstanceLock(const std::string& name) {
  if (!m_machine->instanceLocks()->tryAcquire(name)) {
    return nullptr;
  }
  return std::make_unique<SimInstanceLock>(m_machine->instanceLocks(), name);
}

void SimPlatform::sleepMs(uint32_t milliseconds) {
  if (m_machine->manualClock()) {
    // Manual time: the sleeper moves the machine clock on by what it would have
    // slept, so waits in the program (the HPET check, the management-unit
    // exchange) cost no wall-clock time. Concurrent sleepers each move it.
    m_machine->advanceMs(milliseconds);
    std::this_thread::yield();
    return;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

}  // namespace tv2::sim
