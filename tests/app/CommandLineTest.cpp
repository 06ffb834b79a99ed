// The command line: every mode with its values, and every kind of bad input
// turned into one line of error text.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "platform/sim/SimMachine.h"

namespace tv2 {
namespace {

using Args = std::vector<std::string>;

CommandLineResult parse(const Args& args) { return CommandLine::parse(args, sim::SimMachine::presetNames()); }

TEST(CommandLineTest, NoOptionsRunsTheMonitorOnThisMachine) {
  CommandLineResult r = parse({});
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.options.mode, RunMode::kMonitor);
  EXPECT_TRUE(r.options.preset.empty());
}

TEST(CommandLineTest, EveryPresetAndAliasIsAccepted) {
  for (const std::string& name : sim::SimMachine::presetNames()) {
    CommandLineResult r = parse({"--simulate", name});
    ASSERT_TRUE(r.ok) << name << ": " << r.error;
    EXPECT_EQ(r.options.preset, name);
    EXPECT_TRUE(sim::SimMachine::preset(r.options.preset).has_value()) << name;
  }
}

TEST(CommandLineTest, ReportTakesAnOptionalFile) {
  CommandLineResult toStdout = parse({"--report"});
  ASSERT_TRUE(toStdout.ok);
  EXPECT_EQ(toStdout.options.mode, RunMode::kReport);
  EXPECT_TRUE(toStdout.options.outputPath.empty());

  CommandLineResult toFile = parse({"--report", "out.txt", "--simulate", "intel-snb"});
  ASSERT_TRUE(toFile.ok) << toFile.error;
  EXPECT_EQ(toFile.options.outputPath, "out.txt");
  EXPECT_EQ(toFile.options.preset, "intel-snb");

  // An option after --report is not taken for its file.
  CommandLineResult thenOption = parse({"--report", "--simulate", "amd-bd"});
  ASSERT_TRUE(thenOption.ok) << thenOption.error;
  EXPECT_TRUE(thenOption.options.outputPath.empty());
  EXPECT_EQ(thenOption.options.preset, "amd-bd");
}

TEST(CommandLineTest, RecordWithAllItsValues) {
  CommandLineResult r = parse({"--simulate", "intel-snb", "--record", "-", "--seconds", "12", "--config", "1",
                               "--metrics", "3,1,3,255,0"});
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.options.mode, RunMode::kRecord);
  EXPECT_EQ(r.options.outputPath, "-");
  EXPECT_EQ(r.options.seconds, 12);
  EXPECT_EQ(r.options.configuration, 1);
  EXPECT_EQ(r.options.metrics, (std::vector<int32_t>{3, 1, 255, 0}));  // duplicates dropped

  CommandLineResult defaults = parse({"--record", "run.csv", "--seconds", "1"});
  ASSERT_TRUE(defaults.ok) << defaults.error;
  EXPECT_EQ(defaults.options.configuration, 0);
  EXPECT_TRUE(defaults.options.metrics.empty());
}

TEST(CommandLineTest, HelpWinsAndTheUsageNamesEveryOptionWithAnExample) {
  CommandLineResult r = parse({"--seconds", "5", "--help"});
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.options.mode, RunMode::kHelp);
  EXPECT_EQ(parse({"-h"}).options.mode, RunMode::kHelp);

  std::string usage = CommandLine::usage(sim::SimMachine::presetNames());
  for (const char* option : {"--simulate", "--load", "--report", "--record", "--seconds", "--config", "--metrics", "--help"}) {
    EXPECT_NE(usage.find(option), std::string::npos) << option;
  }
  EXPECT_NE(usage.find("example: tarvelle2 --record"), std::string::npos);
  for (const std::string& name : sim::SimMachine::presetNames()) {
    EXPECT_NE(usage.find(" " + name), std::string::npos) << name;
  }
}

// Each of these must fail with a single line of text.
TEST(CommandLineTest, BadInputGivesOneLineOfError) {
  const std::vector<Args> bad = {
      {"--bogus"},
      {"report"},
      {"--simulate"},
      {"--simulate", "no-such-machine"},
      {"--simulate", "intel-snb", "--simulate", "amd-bd"},
      {"--record"},
      {"--record", "--seconds", "3"},
      {"--record", "x.csv"},
      {"--record", "x.csv", "--seconds"},
      {"--record", "x.csv", "--seconds", "abc"},
      {"--record", "x.csv", "--seconds", "-3"},
      {"--record", "x.csv", "--seconds", "0"},
      {"--record", "x.csv", "--seconds", "1.5"},
      {"--record", "x.csv", "--seconds", "99999999999"},
      {"--record", "x.csv", "--seconds", "1", "--seconds", "2"},
      {"--record", "x.csv", "--seconds", "1", "--config"},
      {"--record", "x.csv", "--seconds", "1", "--config", "-1"},
      {"--record", "x.csv", "--seconds", "1", "--config", "one"},
      {"--record", "x.csv", "--seconds", "1", "--config", "256"},
      {"--record", "x.csv", "--seconds", "1", "--metrics"},
      {"--record", "x.csv", "--seconds", "1", "--metrics", ""},
      {"--record", "x.csv", "--seconds", "1", "--metrics", "1,,2"},
      {"--record", "x.csv", "--seconds", "1", "--metrics", "1,"},
      {"--record", "x.csv", "--seconds", "1", "--metrics", "1,x"},
      {"--record", "x.csv", "--seconds", "1", "--metrics", "300"},
      {"--record", "x.csv", "--seconds", "1", "--metrics", "-2"},
      {"--seconds", "5"},
      {"--config", "1"},
      {"--metrics", "1"},
      {"--report", "--seconds", "5"},
      {"--report", "--record", "x.csv", "--seconds", "1"},
      {"--record", "x.csv", "--seconds", "1", "--report"},
      {"--load", "0.5"},
      {"--simulate", "intel-snb", "--load"},
      {"--simulate", "intel-snb", "--load", ""},
      {"--simulate", "intel-snb", "--load", "1.01"},
      {"--simulate", "intel-snb", "--load", "-0.5"},
      {"--simulate", "intel-snb", "--load", "50%"},
      {"--simulate", "intel-snb", "--load", "0.5,"},
      {"--simulate", "intel-snb", "--load", "0.5,,1"},
      {"--simulate", "intel-snb", "--load", "1e-1"},
      {"--simulate", "intel-snb", "--load", "nan"},
      {"--simulate", "intel-snb", "--load", "."},
      {"--simulate", "intel-snb", "--load", "0..5"},
      {"--simulate", "intel-snb", "--load", "Demo"},
      {"--simulate", "intel-snb", "--load", "1", "--load", "1"},
  };
  for (const Args& args : bad) {
    std::string shown;
    for (const std::string& a : args) shown += "[" + a + "]";
    CommandLineResult r = parse(args);
    EXPECT_FALSE(r.ok) << shown;
    EXPECT_FALSE(r.error.empty()) << shown;
    EXPECT_EQ(r.error.find('\n'), std::string::npos) << shown << ": " << r.error;
  }
}

TEST(CommandLineTest, LoadIsTheDemonstrationOneShareOrOnePerProcessor) {
  CommandLineResult byDefault = parse({"--simulate", "intel-snb"});
  ASSERT_TRUE(byDefault.ok);
  EXPECT_TRUE(byDefault.options.load.empty());
  CommandLineResult demo = parse({"--simulate", "intel-snb", "--load", "demo", "--report"});
  ASSERT_TRUE(demo.ok) << demo.error;
  EXPECT_TRUE(demo.options.load.empty());

  CommandLineResult one = parse({"--load", "0.7", "--simulate", "intel-snb", "--record", "-", "--seconds", "1"});
  ASSERT_TRUE(one.ok) << one.error;
  EXPECT_EQ(one.options.load, (std::vector<double>{0.7}));

  CommandLineResult list = parse({"--simulate", "intel-snb", "--load", "1,0,.25,0.5,1.0,0,0,0.125"});
  ASSERT_TRUE(list.ok) << list.error;
  EXPECT_EQ(list.options.load, (std::vector<double>{1, 0, 0.25, 0.5, 1, 0, 0, 0.125}));

  // The list must fit the machine: one share for all, or one for each.
  EXPECT_EQ(CommandLine::checkLoadFits({}, 8), "");
  EXPECT_EQ(CommandLine::checkLoadFits({0.5}, 8), "");
  EXPECT_EQ(CommandLine::checkLoadFits(list.options.load, 8), "");
  const std::string tooFew = CommandLine::checkLoadFits({0.5, 0.5}, 8);
  EXPECT_NE(tooFew.find("2 shares"), std::string::npos) << tooFew;
  EXPECT_NE(tooFew.find("8 logical processors"), std::string::npos) << tooFew;
  EXPECT_NE(CommandLine::checkLoadFits(list.options.load, 4), "");
}

TEST(CommandLineTest, NumbersAreWholeAndWithinRange) {
  int32_t value = -1;
  EXPECT_TRUE(CommandLine::parseNumber("0", 10, &value));
  EXPECT_EQ(value, 0);
  EXPECT_TRUE(CommandLine::parseNumber("0010", 10, &value));
  EXPECT_EQ(value, 10);
  EXPECT_FALSE(CommandLine::parseNumber("11", 10, &value));
  EXPECT_FALSE(CommandLine::parseNumber("+1", 10, &value));
  EXPECT_FALSE(CommandLine::parseNumber(" 1", 10, &value));
  EXPECT_FALSE(CommandLine::parseNumber("4294967297", CommandLine::kMaxSeconds, &value));
}

TEST(CommandLineTest, ServeTakesAPortAndAnOptionalNumericAddress) {
  struct Case {
    const char* value;
    const char* address;
    int32_t port;
  };
  for (const Case& c : {Case{"9464", "127.0.0.1", 9464}, Case{"0", "127.0.0.1", 0},
                        Case{"0.0.0.0:9464", "0.0.0.0", 9464}, Case{"192.168.1.20:65535", "192.168.1.20", 65535},
                        Case{"[::1]:9464", "[::1]", 9464}, Case{"[fe80::1:2]:80", "[fe80::1:2]", 80}}) {
    CommandLineResult r = parse({"--simulate", "intel-snb", "--serve", c.value});
    ASSERT_TRUE(r.ok) << c.value << ": " << r.error;
    EXPECT_TRUE(r.options.serve);
    EXPECT_FALSE(r.options.window);
    EXPECT_EQ(r.options.mode, RunMode::kMonitor);
    EXPECT_EQ(r.options.serveAddress, c.address) << c.value;
    EXPECT_EQ(r.options.servePort, c.port) << c.value;
  }
  CommandLineResult withWindow = parse({"--serve", "9464", "--window"});
  ASSERT_TRUE(withWindow.ok) << withWindow.error;
  EXPECT_TRUE(withWindow.options.window);
  CommandLineResult whileRecording = parse({"--record", "-", "--seconds", "5", "--serve", "9464"});
  ASSERT_TRUE(whileRecording.ok) << whileRecording.error;
  EXPECT_EQ(whileRecording.options.mode, RunMode::kRecord);
  EXPECT_TRUE(whileRecording.options.serve);
  EXPECT_FALSE(parse({}).options.serve);

  for (const char* bad : {"", "65536", "-1", "94x", ":9464", "localhost:9464", "1.2.3:80", "1.2.3.4.5:80",
                          "256.1.1.1:80", "1.2.3.4:", "::1:9464", "[::1]", "[]:80", "[::g]:80", "[::1]9464",
                          "01234567890"}) {
    CommandLineResult r = parse({"--serve", bad});
    EXPECT_FALSE(r.ok) << bad;
    EXPECT_EQ(r.error.find('\n'), std::string::npos) << bad;
  }
  EXPECT_FALSE(parse({"--serve"}).ok);
  EXPECT_FALSE(parse({"--serve", "1", "--serve", "2"}).ok);
  EXPECT_FALSE(parse({"--report", "--serve", "9464"}).ok);
  // The window opens anyway without --serve, and a recording has none.
  EXPECT_FALSE(parse({"--window"}).ok);
  EXPECT_FALSE(parse({"--record", "-", "--seconds", "5", "--serve", "1", "--window"}).ok);
}

}  // namespace
}  // namespace tv2
