// Discovery on the machine the tests run on, compared with what lscpu and
// /proc/cpuinfo report.

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <string>

#include "cpu/ProcessorDiscovery.h"
#include "platform/linux/LinuxPlatform.h"

namespace tv2 {
namespace {

std::map<std::string, std::string> lscpu() {
  std::map<std::string, std::string> fields;
  FILE* pipe = popen("LC_ALL=C lscpu 2>/dev/null", "r");
  if (pipe == nullptr) return fields;
  char line[1024];
  while (fgets(line, sizeof line, pipe) != nullptr) {
    std::string s(line);
    size_t colon = s.find(':');
    if (colon == std::string::npos) continue;
    size_t start = s.find_first_not_of(" \t", colon + 1);
    size_t end = s.find_last_not_of(" \t\n");
    fields[s.substr(0, colon)] = start == std::string::npos ? "" : s.substr(start, end - start + 1);
  }
  pclose(pipe);
  return fields;
}

std::string cpuinfoModelName() {
  std::ifstream in("/proc/cpuinfo");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("model name", 0) != 0) continue;
    size_t colon = line.find(':');
    size_t start = line.find_first_not_of(" \t", colon + 1);
    return start == std::string::npos ? "" : line.substr(start);
  }
  return "";
}

TEST(RealMachine, TopologyAgreesWithLscpuAndBrandWithCpuinfo) {
  auto fields = lscpu();
  if (fields.empty() || !fields.count("Socket(s)")) GTEST_SKIP() << "lscpu not available";
  LinuxPlatform platform;
  CTList<CProcessor_2> processors;
  ProcessorGroups groups;
  DetectProcessors(platform.processors(), processors, groups);

  int sockets = std::stoi(fields["Socket(s)"]);
  int coresPerSocket = std::stoi(fields["Core(s) per socket"]);
  int threadsPerCore = std::stoi(fields["Thread(s) per core"]);
  EXPECT_EQ(processors.count, sockets);
  int threads = 0;
  for (CProcessor_2* p : processors) {
    EXPECT_EQ(p->coreCount, coresPerSocket);
    EXPECT_EQ(p->threadCount, coresPerSocket * threadsPerCore);
    for (const CoreRecord& core : p->cores) EXPECT_EQ(core.threadCount, threadsPerCore);
    threads += p->threadCount;
    EXPECT_EQ(p->name, cpuinfoModelName());
  }
  EXPECT_EQ(threads, std::stoi(fields["CPU(s)"]));
  processors.DeleteAll();
}

}  // namespace
}  // namespace tv2
