// The window-less modes of the real program, run as a separate process on a
// simulated machine.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <cmath>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>
#include <sys/wait.h>
#include <unistd.h>

namespace {

struct Outcome {
  int status = -1;
  std::string output;
};

// Runs the program with the arguments through the shell; output is what the
// redirections in args send to the pipe.
Outcome run(const std::string& args) {
  Outcome outcome;
  // Simulated runs keep settings in the user's folder: a scratch one here.
  static const std::string configHome =
      (std::filesystem::temp_directory_path() / ("tv2-headless-config-" + std::to_string(::getpid()))).string();
  static const struct Cleanup {
    ~Cleanup() { std::filesystem::remove_all(configHome); }
  } cleanup;
  std::string command = "XDG_CONFIG_HOME='" + configHome + "' " + std::string(TV2_PROGRAM) + " " + args;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return outcome;
  char buffer[4096];
  size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) outcome.output.append(buffer, n);
  int raw = ::pclose(pipe);
  outcome.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return outcome;
}

TEST(HeadlessProgramTest, RecordsToStandardOutputForOneSecond) {
  Outcome o = run("--simulate intel-snb --record - --seconds 1 2>/dev/null");
  EXPECT_EQ(o.status, 0);
  std::istringstream in(o.output);
  std::string line;
  ASSERT_TRUE(std::getline(in, line));
  EXPECT_EQ(line, "clock_ms,package,level,instance,metric,name,unit,value");
  int rows = 0;
  while (std::getline(in, line)) {
    ++rows;
    EXPECT_EQ(std::count(line.begin(), line.end(), ','), 7) << line;
  }
  EXPECT_GT(rows, 0);
  EXPECT_EQ(o.output.back(), '\n');
}

struct CsvRow {
  long clockMs = 0;
  std::string level;
  int instance = 0;
  int metric = 0;
  double value = 0.0;
};

// The rows of a recording (names hold no commas in these columns' use here:
// only the fields before the name and the last one are read).
std::vector<CsvRow> parseRows(const std::string& csv) {
  std::vector<CsvRow> rows;
  std::istringstream in(csv);
  std::string line;
  std::getline(in, line);  // header
  while (std::getline(in, line)) {
    std::vector<std::string> fields;
    std::stringstream split(line);
    std::string field;
    while (std::getline(split, field, ',')) fields.push_back(field);
    if (fields.size() < 8) continue;
    rows.push_back(CsvRow{std::stol(fields[0]), fields[2], std::stoi(fields[3]), std::stoi(fields[4]),
                          std::stod(fields.back())});
  }
  return rows;
}

constexpr int kUsage = 1;
constexpr int kIpc = 16;

// Usage of each logical processor after its first point (which has nothing
// before it to compare with), and whether IPC rows came.
std::map<int, std::vector<double>> usageByProcessor(const std::vector<CsvRow>& rows, bool* ipcSeen) {
  std::map<int, std::vector<double>> usage;
  long first = -1;
  *ipcSeen = false;
  for (const CsvRow& r : rows) {
    if (r.metric == kIpc && r.value > 0.0) *ipcSeen = true;
    if (r.metric != kUsage || r.level != "cpu") continue;
    if (first < 0) first = r.clockMs;
    if (r.clockMs > first) usage[r.instance].push_back(r.value);
  }
  return usage;
}

TEST(HeadlessProgramTest, HeadlessSimulatedRecordingRunsTheLoadAskedFor) {
  {
    SCOPED_TRACE("one share for every processor");
    Outcome o = run("--simulate intel-snb --load 0.7 --record - --seconds 2 2>/dev/null");
    ASSERT_EQ(o.status, 0);
    bool ipc = false;
    auto usage = usageByProcessor(parseRows(o.output), &ipc);
    EXPECT_TRUE(ipc);
    ASSERT_EQ(usage.size(), 8u);
    for (const auto& [cpu, values] : usage) {
      ASSERT_FALSE(values.empty()) << cpu;
      for (double v : values) EXPECT_NEAR(v, 70.0, 3.0) << "processor " << cpu;
    }
  }
  {
    SCOPED_TRACE("one share per processor");
    Outcome o = run("--simulate intel-snb --load 1,0,0.5,0,0.25,0,0,1 --record - --seconds 2 2>/dev/null");
    ASSERT_EQ(o.status, 0);
    bool ipc = false;
    auto usage = usageByProcessor(parseRows(o.output), &ipc);
    EXPECT_TRUE(ipc);
    const double expected[8] = {100, 0, 50, 0, 25, 0, 0, 100};
    ASSERT_EQ(usage.size(), 8u);
    for (const auto& [cpu, values] : usage) {
      for (double v : values) EXPECT_NEAR(v, expected[cpu], 3.0) << "processor " << cpu;
    }
  }
  {
    SCOPED_TRACE("the demonstration by default");
    Outcome o = run("--simulate intel-snb --record - --seconds 2 2>/dev/null");
    ASSERT_EQ(o.status, 0);
    bool ipc = false;
    auto usage = usageByProcessor(parseRows(o.output), &ipc);
    EXPECT_TRUE(ipc);
    ASSERT_EQ(usage.size(), 8u);
    std::set<long> distinct;
    for (const auto& [cpu, values] : usage) {
      for (double v : values) {
        EXPECT_GE(v, 10.0 - 3.0) << "processor " << cpu;
        EXPECT_LE(v, 80.0 + 3.0) << "processor " << cpu;
        distinct.insert(std::lround(v));
      }
    }
    EXPECT_GT(distinct.size(), 3u);  // the processors do not all run alike
  }
}

TEST(HeadlessProgramTest, WritesTheReportToAFile) {
  std::filesystem::path path =
      std::filesystem::temp_directory_path() / ("tv2-report-" + std::to_string(::getpid()) + ".txt");
  Outcome o = run("--simulate intel-snb --report " + path.string() + " 2>&1");
  EXPECT_EQ(o.status, 0) << o.output;
  std::ifstream in(path, std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::filesystem::remove(path);
  EXPECT_EQ(text.rfind("Processor = ", 0), 0u) << text;
  EXPECT_NE(text.find("\r\nHPET Timer BA = 0x"), std::string::npos) << text;
  EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
}

TEST(HeadlessProgramTest, BadInputEndsWithStatusTwoAndOneLine) {
  for (const char* args : {"--no-such-option", "--simulate nowhere --report", "--record - --seconds 0",
                           "--record - --seconds x", "--record - --seconds 1 --metrics 1,,2",
                           "--simulate intel-snb --record - --seconds 1 --config 99",
                           "--simulate intel-snb --load 0.5,0.5 --report", "--load 0.5 --report",
                           "--simulate intel-snb --load 2 --report"}) {
    Outcome o = run(std::string(args) + " 2>&1 >/dev/null");
    EXPECT_EQ(o.status, 2) << args;
    ASSERT_FALSE(o.output.empty()) << args;
    EXPECT_EQ(o.output.find('\n'), o.output.size() - 1) << args << ": " << o.output;
  }
}

// A target that cannot be written ends the run with status 1 and one line
// that names the reason in the system's words.
TEST(HeadlessProgramTest, WriteFailuresSayWhyAndEndWithStatusOne) {
  {
    SCOPED_TRACE("report to a full device");
    Outcome o = run("--simulate intel-snb --report /dev/full 2>&1 >/dev/null");
    EXPECT_EQ(o.status, 1);
    EXPECT_NE(o.output.find("No space left on device"), std::string::npos) << o.output;
    EXPECT_NE(o.output.find("'/dev/full'"), std::string::npos) << o.output;
  }
  {
    SCOPED_TRACE("recording to a full device stops at once");
    const auto started = std::chrono::steady_clock::now();
    Outcome o = run("--simulate intel-snb --record /dev/full --seconds 20 2>&1 >/dev/null");
    const auto seconds =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - started).count();
    EXPECT_EQ(o.status, 1);
    EXPECT_NE(o.output.find("No space left on device"), std::string::npos) << o.output;
    EXPECT_LT(seconds, 15) << "the recording ran on";
  }
  {
    SCOPED_TRACE("a folder that does not exist");
    Outcome o = run("--simulate intel-snb --record /nonexistent-tv2/run.csv --seconds 1 2>&1");
    EXPECT_EQ(o.status, 2);
    EXPECT_NE(o.output.find("cannot create '/nonexistent-tv2/run.csv': No such file or directory"), std::string::npos)
        << o.output;
  }
}

// A file-size limit stops a recording part-way through a write, as a full
// disk does: the file keeps its whole rows only.
TEST(HeadlessProgramTest, ARecordingCutShortLeavesOnlyWholeRows) {
  const std::filesystem::path path =
      std::filesystem::temp_directory_path() / ("tv2-cut-" + std::to_string(::getpid()) + ".csv");
  // 24 blocks of 512 bytes (1024 for some shells): far less than ten seconds
  // of rows. The size signal is ignored, so the write fails instead.
  const std::string command = "XDG_CONFIG_HOME='" + path.string() + ".config' sh -c \"trap '' XFSZ; ulimit -f 24; exec " + std::string(TV2_PROGRAM) +
                              " --simulate intel-snb --record '" + path.string() + "' --seconds 10\" 2>&1";
  Outcome cut;
  FILE* pipe = ::popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  char buffer[4096];
  size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) cut.output.append(buffer, n);
  const int raw = ::pclose(pipe);
  cut.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  std::ifstream in(path, std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::filesystem::remove(path);
  std::filesystem::remove_all(path.string() + ".config");
  EXPECT_EQ(cut.status, 1) << cut.output;
  EXPECT_NE(cut.output.find("File too large"), std::string::npos) << cut.output;
  ASSERT_FALSE(text.empty());
  EXPECT_EQ(text.back(), '\n');
  EXPECT_LE(text.size(), 24u * 1024u);
  std::istringstream lines(text);
  std::string line;
  int rows = 0;
  while (std::getline(lines, line)) {
    ++rows;
    EXPECT_EQ(std::count(line.begin(), line.end(), ','), 7) << line;
  }
  EXPECT_GT(rows, 1);
}

TEST(HeadlessProgramTest, HelpShowsEveryOption) {
  Outcome o = run("--help");
  EXPECT_EQ(o.status, 0);
  for (const char* option : {"--simulate", "--load", "--report", "--record", "--seconds", "--config", "--metrics"}) {
    EXPECT_NE(o.output.find(option), std::string::npos) << option;
  }
}

}  // namespace
