// The command line: parsing, and the program itself started with and without
// a display.
#include "app/command_line.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <string>

#include "../support/temp_folder.h"

namespace qmr {
namespace {

struct RunResult {
  int status = -1;
  std::string output;  // standard output and error together
};

// Runs the built program with the given environment prefix and arguments.
RunResult RunProgram(const std::string& environment, const std::string& arguments) {
  testing::TempFolder tmp;
  const std::string out = tmp.File("out.txt");
  const std::string command = "env " + environment + " SDL_AUDIODRIVER=dummy '" QMR_PROGRAM "' " +
                              arguments + " >'" + out + "' 2>&1";
  RunResult r;
  const int rc = std::system(command.c_str());
  r.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  r.output = testing::ReadWhole(out);
  return r;
}

const char* kNoDisplay = "-u DISPLAY -u WAYLAND_DISPLAY";

TEST(CommandLineTest, Parsing) {
  const char* a1[] = {"qmr", "--demo", "--home", "/tmp/x", "--minimized"};
  CommandLine line = ParseCommandLine(5, a1);
  EXPECT_TRUE(line.error.empty());
  EXPECT_TRUE(line.demo);
  EXPECT_TRUE(line.minimized);
  EXPECT_EQ(line.home, "/tmp/x");

  const char* a2[] = {"qmr", "--home=/srv/q"};
  EXPECT_EQ(ParseCommandLine(2, a2).home, "/srv/q");

  // A missing value and an unknown option are errors, whatever follows.
  const char* a3[] = {"qmr", "--home"};
  EXPECT_FALSE(ParseCommandLine(2, a3).error.empty());
  const char* a4[] = {"qmr", "--frobnicate", "--help"};
  line = ParseCommandLine(3, a4);
  EXPECT_NE(line.error.find("--frobnicate"), std::string::npos);
  const char* a5[] = {"qmr", "somefile"};
  EXPECT_FALSE(ParseCommandLine(2, a5).error.empty());
}

TEST(CommandLineTest, HelpVersionAndErrorsNeedNoDisplay) {
  RunResult r = RunProgram(kNoDisplay, "--version");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.output.rfind(std::string("qmr ") + ProgramVersion() + "\n", 0), 0u) << r.output;

  r = RunProgram(kNoDisplay, "--help");
  EXPECT_EQ(r.status, 0);
  for (const char* option : {"--demo", "--home DIR", "--minimized", "XDG_CONFIG_HOME"}) {
    EXPECT_NE(r.output.find(option), std::string::npos) << option;
  }

  r = RunProgram(kNoDisplay, "--bogus");
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.output.find("unknown option '--bogus'"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find(UsageLine()), std::string::npos) << r.output;

  // No display: one plain line, none of the toolkit's own messages.
  testing::TempFolder home;
  r = RunProgram(std::string(kNoDisplay) + " QMR_HOME=" + home.Path(), "");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.output, std::string(kNoDisplayText) + "\n");
}

TEST(CommandLineTest, DemoFillsItsHomeOnce) {
  testing::TempFolder tmp;
  const std::string home = tmp.File("demo home");
  // Without a display the program ends after choosing its folders.
  RunResult r = RunProgram(kNoDisplay, "--demo --home '" + home + "'");
  EXPECT_EQ(r.status, 1);
  const std::string settings = testing::ReadWhole(home + "/qmr.ini");
  EXPECT_NE(settings.find("[STREAMS]"), std::string::npos);
  EXPECT_NE(settings.find("=pattern"), std::string::npos);

  // The user's own changes in the demo home stay.
  testing::WriteWhole(home + "/qmr.ini", "[STARTUP]\nOPENALL=0\n");
  RunProgram(kNoDisplay, "--demo --home '" + home + "'");
  EXPECT_EQ(testing::ReadWhole(home + "/qmr.ini"), "[STARTUP]\nOPENALL=0\n");

  // A home that cannot be made is named, and the program ends.
  testing::WriteWhole(tmp.File("plain"), "x");
  r = RunProgram(kNoDisplay, "--home '" + tmp.File("plain") + "/sub'");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("is a file"), std::string::npos) << r.output;
}

TEST(CommandLineTest, DemoRunsOnTheDisplayAndStopsOnSignal) {
  const char* display = std::getenv("DISPLAY");
  if (display == nullptr || *display == 0) GTEST_SKIP() << "no display";
  testing::TempFolder tmp;
  // SIGTERM after a few seconds runs the normal quit stages.
  const RunResult r = RunProgram("", "--demo --minimized --home '" + tmp.Path() +
                                         "' & pid=$!; sleep 4; kill -TERM $pid; wait $pid");
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(r.output.find("CRITICAL"), std::string::npos) << r.output;
  EXPECT_EQ(r.output.find("ALSA"), std::string::npos) << r.output;
  EXPECT_TRUE(testing::IsFolder(tmp.Path() + "/AVI"));
  EXPECT_TRUE(testing::IsFolder(tmp.Path() + "/PIC"));
}

}  // namespace
}  // namespace qmr
