// One driver request from the client to the hardware and back: in process
// against the simulated device (frame encoding, decoding, policy and the
// simulated registers), and over the socket to the real driver host (root
// only; the host reads a plain file standing in for /dev/cpu/N/msr, so the
// figure is the transport's and the client's, plus one pread). The calling
// thread is bound to processor 0 first, as every counter sampler is bound to
// its processor.

#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>

#include "hw/CKMDriver.h"
#include "platform/linux/LinuxPlatform.h"
#include "platform/sim/SimMachine.h"
#include "platform/sim/SimPlatform.h"

namespace {

using namespace tv2;

// A driver client with the lock held, set up once per run of the program.
struct SimDriver {
  SimDriver() {
    machine = std::make_shared<sim::SimMachine>(*sim::SimMachine::preset("intel-snb"));
    machine->useManualClock();
    platform = std::make_unique<sim::SimPlatform>(machine);
    platform->setTempFolder("/sim/tmp/");
    driver = std::make_unique<CKMDriver>(*platform);
    driver->SetImageResourceIds(106, 107, 108, 109);
    uint32_t error = 0;
    ready = driver->Initialize("/sim/user/", &error, 1) == 1 && driver->Acquire(&error, 0) == 1;
  }
  ~SimDriver() {
    driver->Release();
    driver->Uninstall(1, 1);
  }
  std::shared_ptr<sim::SimMachine> machine;
  std::unique_ptr<sim::SimPlatform> platform;
  std::unique_ptr<CKMDriver> driver;
  bool ready = false;
};

struct HostDriver {
  HostDriver() {
    namespace fs = std::filesystem;
    root = (fs::temp_directory_path() / ("tv2-bench-" + std::to_string(std::random_device{}()))).string();
    fs::create_directories(root + "/run");
    fs::create_directories(root + "/base");
    fs::permissions(root, fs::perms::owner_all);
    fs::permissions(root + "/base", fs::perms::owner_all);
    // A register file for processor 0, where the caller is bound.
    fs::create_directories(root + "/dev/cpu/0");
    { std::ofstream(root + "/dev/cpu/0/msr"); }
    fs::resize_file(root + "/dev/cpu/0/msr", 0x1000);
    LinuxPlatformOptions options;
    options.runRoot = root + "/run";
    options.namePrefix = "tv2-bench-" + std::to_string(std::random_device{}()) + "-";
    options.serviceArguments = {"--no-modprobe", "--dev-root", root + "/dev"};
    platform = std::make_unique<LinuxPlatform>(options);
    driver = std::make_unique<CKMDriver>(*platform);
    driver->SetImageResourceIds(106, 107, 108, 109);
    uint32_t error = 0;
    // Only root may install the host: for anyone else Initialize fails.
    ready = platform->processors().setThreadGroupAffinity(GroupAffinity{1, 0}) &&
            driver->Initialize(platform->files().tempFolder().c_str(), &error, 1) == 1 &&
            driver->Acquire(&error, 2000) == 1;
  }
  ~HostDriver() {
    driver->Release();
    driver->Uninstall(1, 1);
    platform->removeNamedMutex("Global\\kzor");
    std::filesystem::remove_all(root);
  }
  std::string root;
  std::unique_ptr<LinuxPlatform> platform;
  std::unique_ptr<CKMDriver> driver;
  bool ready = false;
};

SimDriver& simDriver() {
  static SimDriver instance;
  return instance;
}

HostDriver& hostDriver() {
  static HostDriver instance;
  return instance;
}

void BM_DriverReadMsr_SimDevice(benchmark::State& state) {
  SimDriver& sim = simDriver();
  if (!sim.ready) {
    state.SkipWithError("the simulated driver did not start");
    return;
  }
  uint32_t high = 0;
  uint32_t low = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(sim.driver->ReadMsr(0x10, &high, &low));
    benchmark::DoNotOptimize(low);
  }
}
BENCHMARK(BM_DriverReadMsr_SimDevice);

void BM_DriverReadMsr_Host(benchmark::State& state) {
  HostDriver& host = hostDriver();
  if (!host.ready) {
    state.SkipWithError("needs root to install the driver host");
    return;
  }
  uint32_t high = 0;
  uint32_t low = 0;
  for (auto _ : state) {
    if (host.driver->ReadMsr(0x186, &high, &low) != 1) {
      state.SkipWithError("the host did not answer");
      break;
    }
    benchmark::DoNotOptimize(low);
  }
}
BENCHMARK(BM_DriverReadMsr_Host);

void BM_DriverVersion_Host(benchmark::State& state) {
  HostDriver& host = hostDriver();
  if (!host.ready) {
    state.SkipWithError("needs root to install the driver host");
    return;
  }
  int32_t version = 0;
  for (auto _ : state) {
    host.driver->GetDriverVersion(&version);
    benchmark::DoNotOptimize(version);
  }
}
BENCHMARK(BM_DriverVersion_Host);

}  // namespace
