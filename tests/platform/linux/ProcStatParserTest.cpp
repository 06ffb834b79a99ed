#include "platform/linux/ProcStatParser.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/ErrorCodes.h"
#include "platform/linux/LinuxErrors.h"

namespace tv2 {
namespace {

std::string recorded(const char* name) {
  std::ifstream file(std::string(TV2_TEST_DATA_DIR "/procstat/") + name);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

// cpu8 of the recording: user 1234, nice 66, system 500, idle 9000,
// iowait 100, irq 20, softirq 30, steal 5, guest 7.
TEST(ProcStatParser, ConvertsRecordedTicksAtOneHundredHertz) {
  std::string text = recorded("gaps.txt");
  ASSERT_FALSE(text.empty());
  std::vector<int> cpus{8, 16};
  ProcessorTimes times[2];
  ASSERT_EQ(ProcStatParser::parse(text, cpus, 100, times), kOk);
  // idle + iowait = 9100 ticks = 91 s.
  EXPECT_EQ(times[0].idle, 910'000'000);
  // system + irq + softirq + idle + iowait = 9650 ticks; steal is no kernel time.
  EXPECT_EQ(times[0].kernel, 965'000'000);
  // user + nice = 1300 ticks; guest is already inside user.
  EXPECT_EQ(times[0].user, 130'000'000);
  EXPECT_EQ(times[1].idle, 10'000'000);
  EXPECT_EQ(times[1].kernel, 10'300'000);
  EXPECT_EQ(times[1].user, 700'000);
}

TEST(ProcStatParser, TickRateScalesTheUnits) {
  std::string text = recorded("gaps.txt");
  std::vector<int> cpus{8};
  ProcessorTimes times;
  ASSERT_EQ(ProcStatParser::parse(text, cpus, 250, &times), kOk);
  EXPECT_EQ(times.idle, 364'000'000);  // 9100 / 250 s
  EXPECT_EQ(times.user, 52'000'000);   // 1300 / 250 s

  int64_t units = 0;
  ASSERT_TRUE(ProcStatParser::ticksTo100ns(1, 300, &units));
  EXPECT_EQ(units, 33'333);
  // A year of ticks at 1000 Hz still converts exactly.
  ASSERT_TRUE(ProcStatParser::ticksTo100ns(31'536'000'000ULL, 1000, &units));
  EXPECT_EQ(units, 315'360'000'000'000LL);
  EXPECT_FALSE(ProcStatParser::ticksTo100ns(uint64_t{1} << 59, 100, &units));
  EXPECT_FALSE(ProcStatParser::ticksTo100ns(1, 0, &units));
}

TEST(ProcStatParser, OutputFollowsRequestedOrderNotFileOrder) {
  std::vector<int> cpus{16, 0, 8};
  ProcessorTimes times[3];
  ASSERT_EQ(ProcStatParser::parse(recorded("gaps.txt"), cpus, 100, times), kOk);
  EXPECT_EQ(times[0].user, 700'000);
  EXPECT_EQ(times[1].user, 100'000'000);
  EXPECT_EQ(times[2].user, 130'000'000);
}

TEST(ProcStatParser, MissingCpuIsNotFound) {
  std::vector<int> cpus{8, 9};
  ProcessorTimes times[2];
  EXPECT_EQ(ProcStatParser::parse(recorded("gaps-cpu9-offline.txt"), cpus, 100, times),
            LinuxErrors::kNotFound);
  EXPECT_EQ(ProcStatParser::parse("", cpus, 100, times), LinuxErrors::kNotFound);
}

// Lines other than cpuN are skipped, and so are CPUs nobody asked for, even
// when their numbers are odd; the oldest kernels print only four fields.
TEST(ProcStatParser, SkipsWhatItDoesNotNeed) {
  const char* text =
      "cpu  1 2 3 4\n"
      "cpufreq 12 x\n"
      "cpu0 100 0 50 1000\n"
      "cpu1\tbogus\n"
      "intr 5 6 7\n";
  std::vector<int> cpus{0};
  ProcessorTimes times;
  ASSERT_EQ(ProcStatParser::parse(text, cpus, 100, &times), kOk);
  EXPECT_EQ(times.idle, 100'000'000);
  EXPECT_EQ(times.kernel, 105'000'000);
  EXPECT_EQ(times.user, 10'000'000);

  // The last line may lack its newline, and fields may be tab separated.
  ASSERT_EQ(ProcStatParser::parse("cpu0\t1 1 1 1 1 1 1", cpus, 100, &times), kOk);
  EXPECT_EQ(times.kernel, 500'000);  // 5 ticks
}

TEST(ProcStatParser, MalformedLinesOfWantedCpusAreInvalidData) {
  std::vector<int> cpus{3};
  ProcessorTimes times;
  for (const char* text : {
           "cpu3 1 2 3\n",                       // fewer than four fields
           "cpu3 1 2 x 4 5 6 7\n",               // not a number
           "cpu3 1 2 -3 4 5 6 7\n",              // negative
           "cpu3 1 2 3 99999999999999999999 0\n",  // beyond 64 bits
           "cpu3 1 2 3 1152921504606846977 0\n",   // beyond any real tick count
           "cpu3x 1 2 3 4\n",                    // not a CPU number
       }) {
    EXPECT_EQ(ProcStatParser::parse(text, cpus, 100, &times), LinuxErrors::kInvalidData) << text;
  }
  // The same CPU twice before all are found.
  std::vector<int> two{3, 4};
  ProcessorTimes pair[2];
  EXPECT_EQ(ProcStatParser::parse("cpu3 1 2 3 4\ncpu3 1 2 3 4\ncpu4 1 2 3 4\n", two, 100, pair),
            LinuxErrors::kInvalidData);
  EXPECT_EQ(ProcStatParser::parse("cpu3 1 2 3 4\n", cpus, 0, &times), kErrorInvalidParameter);
}

// Feeding stops as soon as every wanted CPU has been seen, so a later broken
// line does not matter.
TEST(ProcStatParser, StopsOnceEveryCpuIsFound) {
  std::vector<int> cpus{0};
  ProcessorTimes times;
  ProcStatParser parser(cpus, 100, &times);
  EXPECT_EQ(parser.feedLine("cpu  1 1 1 1"), ProcStatParser::Step::kMore);
  EXPECT_EQ(parser.feedLine("cpu0 1 1 1 1"), ProcStatParser::Step::kDone);
  EXPECT_EQ(parser.feedLine("cpu1 broken"), ProcStatParser::Step::kDone);
  EXPECT_EQ(parser.finish(), kOk);
}

}  // namespace
}  // namespace tv2
