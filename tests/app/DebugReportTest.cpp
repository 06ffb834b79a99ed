// The debug report: the lines a simulated machine's configuration calls for,
// in order, with CR LF ends; and the formatting rules on hand-made records.

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "SimAppHarness.h"
#include "app/DebugReport.h"
#include "hw/CTimer.h"

namespace tv2::testing {
namespace {

// Splits at CR LF; a bare LF or a missing last line end fails the test.
std::vector<std::string> crlfLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find("\r\n", start);
    EXPECT_NE(end, std::string::npos) << "text after the last CR LF: " << text.substr(start);
    if (end == std::string::npos) break;
    std::string line = text.substr(start, end - start);
    EXPECT_EQ(line.find('\n'), std::string::npos) << "bare line feed in '" << line << "'";
    EXPECT_EQ(line.find('\r'), std::string::npos) << "bare carriage return in '" << line << "'";
    lines.push_back(line);
    start = end + 2;
  }
  return lines;
}

std::string printf1(const char* pattern, double value) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, pattern, value);
  return buffer;
}

// Leading spaces are skipped; trailing ones stay.
std::string shownBrand(const std::string& brand) {
  size_t first = brand.find_first_not_of(' ');
  return first == std::string::npos ? std::string() : brand.substr(first);
}

// Clocks as the part's registers describe them: Intel base ratio and one-core
// turbo ratio times the bus clock; AMD the first non-boost P-state and the
// highest boost state.
void clocksOf(const sim::SimPartConfig& part, bool amd, double* baseMhz, double* turboMhz) {
  if (amd) {
    *baseMhz = part.pStateMhz[static_cast<size_t>(part.boostStates)];
    *turboMhz = part.boostStates > 0 ? part.pStateMhz[0] : 0;
  } else {
    *baseMhz = static_cast<int>(part.baseRatio * part.busMhz);
    *turboMhz = static_cast<int>(static_cast<double>(part.turboRatios & 0xFF) * part.busMhz);
  }
}

int powerOfTwoAtLeast(int n) {
  int p = 1;
  while (p < n) p *= 2;
  return p;
}

// What the report must say about each package of the machine, derived from
// its configuration (not from the program's records), in report order.
std::vector<std::string> expectedLines(const sim::SimMachineConfig& config) {
  const sim::SimProcessorModel& m = config.model;
  const bool amd = m.vendor == "AuthenticAMD";
  double baseMhz = 0, turboMhz = 0;
  clocksOf(m.part, amd, &baseMhz, &turboMhz);
  const int threads = m.coresPerPackage * m.threadsPerCore;
  std::vector<std::string> lines;
  for (int p = 0; p < config.packages; ++p) {
    lines.push_back("Processor = " + shownBrand(m.brand));
    char b[96];
    // The vendor (1 Intel, 2 AMD) above the signature without its stepping.
    std::snprintf(b, sizeof b, "CPUID = 0x%X", ((amd ? 2u : 1u) << 24) | (m.signature & ~0xFu));
    lines.push_back(b);
    std::snprintf(b, sizeof b, "Topology = %d cores, %d threads", m.coresPerPackage, threads);
    if (m.coresPerComputeUnit > 1) {
      std::snprintf(b, sizeof b, "Topology = %d CU, %d cores, %d threads", m.coresPerPackage / m.coresPerComputeUnit,
                    m.coresPerPackage, threads);
    }
    lines.push_back(b);
    if (baseMhz > 0) {
      std::string clock = printf1("Max clock speed (turbo) = %.2f GHz", static_cast<float>(baseMhz) / 1000.0f);
      clock += turboMhz > 0 ? printf1(" (%.2f GHz)", static_cast<float>(turboMhz) / 1000.0f) : " (n.a)";
      lines.push_back(clock);
    }
    if (m.part.tdpW > 0) lines.push_back("TDP = " + std::to_string(static_cast<int>(m.part.tdpW)) + " W");
    for (const sim::SimCacheDesc& c : m.caches) {
      static const char* const kPrefix[] = {"", "L%d D-Cache = ", "L%d I-Cache = ", "L%d Cache   = "};
      std::snprintf(b, sizeof b, kPrefix[c.type], c.level);
      std::string line = b;
      int instances = threads / powerOfTwoAtLeast(c.sharingThreads);
      if (instances > 1) line += std::to_string(instances) + " x ";
      int sizeKB = c.ways * c.partitions * c.lineSize * c.sets / 1024;
      line += sizeKB > 1024 ? std::to_string(sizeKB / 1024) + " MBytes" : std::to_string(sizeKB) + " KBytes";
      lines.push_back(line);
    }
  }
  return lines;
}

// Each expected line appears, in the expected order.
void expectInOrder(const std::vector<std::string>& lines, const std::vector<std::string>& expected) {
  size_t at = 0;
  for (const std::string& want : expected) {
    size_t found = at;
    while (found < lines.size() && lines[found] != want) ++found;
    EXPECT_LT(found, lines.size()) << "missing or out of order: '" << want << "'";
    if (found < lines.size()) at = found + 1;
  }
}

struct ReportCase {
  const char* preset;
};

std::string caseName(const ::testing::TestParamInfo<ReportCase>& info) {
  std::string name = info.param.preset;
  for (char& ch : name) {
    if (ch == '-') ch = '_';
  }
  return name;
}

class DebugReportMachineTest : public ::testing::TestWithParam<ReportCase> {};

TEST_P(DebugReportMachineTest, DescribesTheMachineAsConfigured) {
  const ReportCase& c = GetParam();
  SimAppHarness h(c.preset);
  ASSERT_TRUE(h.start());
  std::ostringstream out;
  DebugReport::write(out, h.app->processors, h.app->acpiTimer.get(), h.app->hpetTimer.get());
  std::vector<std::string> lines = crlfLines(out.str());
  for (const std::string& line : lines) EXPECT_FALSE(line.empty()) << "blank line";

  const sim::SimMachineConfig& config = h.machine->config();
  expectInOrder(lines, expectedLines(config));

  // One affinity line and one line per core for each package.
  const int cores = config.model.coresPerPackage;
  int affinity = 0, coreLines = 0, packages = 0;
  for (const std::string& line : lines) {
    affinity += line.rfind("Affinity = 0x", 0) == 0 && line.size() == 21;
    coreLines += line.rfind("Core ", 0) == 0;
    packages += line.rfind("Max CPUID level = 0x", 0) == 0;
  }
  EXPECT_EQ(packages, config.packages);
  EXPECT_EQ(affinity, config.packages);
  EXPECT_EQ(coreLines, config.packages * cores);

  // The timers close the report.
  char acpi[48], hpet[48];
  std::snprintf(acpi, sizeof acpi, "ACPI Timer BA = 0x%X", config.firmware.pmTimerPort);
  std::snprintf(hpet, sizeof hpet, "HPET Timer BA = 0x%X", config.firmware.hpetBase);
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[lines.size() - 2], acpi);
  EXPECT_EQ(lines.back(), hpet);
}

INSTANTIATE_TEST_SUITE_P(Presets, DebugReportMachineTest,
                         ::testing::Values(ReportCase{"intel-snb"}, ReportCase{"intel-snb-2p"}, ReportCase{"amd-bd"},
                                           ReportCase{"amd-tn"}),
                         caseName);

TEST(DebugReportTest, MonitoringCapabilitiesFollowTheCaches) {
  SimAppHarness h("intel-snb");
  ASSERT_TRUE(h.start());
  std::ostringstream out;
  DebugReport::write(out, h.app->processors, nullptr, nullptr);
  std::vector<std::string> lines = crlfLines(out.str());
  const uint32_t eax = h.machine->config().model.pmuEax;
  const uint32_t edx = h.machine->config().model.pmuEdx;
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[lines.size() - 3], "Perf Monitoring version = " + std::to_string(eax & 0xFF));
  EXPECT_EQ(lines[lines.size() - 2], "Fixed counters = " + std::to_string(edx & 0x1F));
  EXPECT_EQ(lines.back(), "General counters = " + std::to_string((eax >> 8) & 0xFF));
}

class FixedTimer : public CTimer {
 public:
  explicit FixedTimer(int32_t base) : CTimer(nullptr, 1.0, 1.0) { baseAddress = base; }
  double ReadTicks() override { return 0; }
};

TEST(DebugReportTest, FormattingRulesOnHandMadeRecords) {
  CTList<CProcessor_2> processors;
  auto* p = new CProcessor_2;
  p->processorCode = -1;     // no CPUID line
  p->computeUnitCount = 2;   // CU form
  p->coreCount = 1;
  p->threadCount = 2;
  p->cores.resize(1);
  p->cores[0].coreId = 7;
  p->cores[0].group = 1;
  p->cores[0].affinityMask = -1;
  p->baseClock = 2500;
  p->turboClock = 0;
  p->caches.Append(new CCacheLevel(1, 2, 3, 1536));  // 1 MBytes, no count
  p->caches.Append(new CCacheLevel(2, 3, 3, 1024));  // 1024 KBytes
  p->caches.Append(new CCacheLevel(4, 1, 9, 32));    // unknown type: no prefix
  processors.Append(p);
  auto* noClock = new CProcessor_2;
  noClock->maxStdLeaf = 0xD;
  noClock->maxExtLeaf = 0x80000008;
  noClock->baseClock = 0;
  noClock->turboClock = 3000;
  processors.Append(noClock);
  FixedTimer hpet(0x1234ABCD);

  std::ostringstream out;
  DebugReport::write(out, processors, nullptr, &hpet);
  processors.DeleteAll();
  EXPECT_EQ(out.str(),
            "Max CPUID level = 0x0 (ext : 0x0)\r\n"
            "Topology = 2 CU, 1 cores, 2 threads\r\n"
            "Affinity = 0x00000000\r\n"
            "Core 7 = group=1, affinity=0xFFFFFFFF\r\n"
            "Max clock speed (turbo) = 2.50 GHz (n.a)\r\n"
            "L2 Cache   = 1 MBytes\r\n"
            "L3 Cache   = 2 x 1024 KBytes\r\n"
            "4 x 32 KBytes\r\n"
            "Max CPUID level = 0xD (ext : 0x80000008)\r\n"
            "Topology = -1 cores, -1 threads\r\n"
            "Affinity = 0x00000000\r\n"
            "HPET Timer BA = 0x1234ABCD\r\n");
}

TEST(DebugReportTest, NothingToReportIsEmpty) {
  CTList<CProcessor_2> none;
  std::ostringstream out;
  DebugReport::write(out, none, nullptr, nullptr);
  EXPECT_TRUE(out.str().empty());
  FixedTimer acpi(0x408);
  DebugReport::write(out, none, &acpi, nullptr);
  EXPECT_EQ(out.str(), "ACPI Timer BA = 0x408\r\n");
}

}  // namespace
}  // namespace tv2::testing
