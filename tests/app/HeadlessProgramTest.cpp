// The window-less modes of the real program, run as a separate process on a
// simulated machine.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
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
  std::string command = std::string(TV2_PROGRAM) + " " + args;
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
                           "--simulate intel-snb --record - --seconds 1 --config 99"}) {
    Outcome o = run(std::string(args) + " 2>&1 >/dev/null");
    EXPECT_EQ(o.status, 2) << args;
    ASSERT_FALSE(o.output.empty()) << args;
    EXPECT_EQ(o.output.find('\n'), o.output.size() - 1) << args << ": " << o.output;
  }
}

TEST(HeadlessProgramTest, HelpShowsEveryOption) {
  Outcome o = run("--help");
  EXPECT_EQ(o.status, 0);
  for (const char* option : {"--simulate", "--report", "--record", "--seconds", "--config", "--metrics"}) {
    EXPECT_NE(o.output.find(option), std::string::npos) << option;
  }
}

}  // namespace
