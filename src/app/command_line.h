// The program's command line: options read before any window exists, so that
// --help and --version work without a display.
#pragma once

#include <string>

namespace qmr {

struct CommandLine {
  bool help = false;
  bool version = false;
  bool demo = false;       // two built-in test-pattern cameras
  bool minimized = false;  // start with the main window iconised
  std::string home;        // --home DIR: the same as QMR_HOME
  std::string error;       // non-empty: the command line is wrong
};

// Reads the options (argv[0] is the program). Accepts "--home DIR" and
// "--home=DIR"; anything else unknown, or a missing value, sets error.
CommandLine ParseCommandLine(int argc, const char* const* argv);

// The program's version, e.g. "2.01".
const char* ProgramVersion();
// "qmr VERSION" and a line naming the program.
std::string VersionText();
// The full --help text.
std::string HelpText();
// The one-line usage shown with an error.
std::string UsageLine();

// The message printed when the display cannot be opened.
inline constexpr const char* kNoDisplayText = "qmr: cannot open the display (is DISPLAY set?)";

// Acts on --home and --demo before the process services choose the folders:
// sets QMR_HOME to the home folder, and for the demo fills a fresh demo home
// with the demo settings. Returns false with a message when it cannot.
bool ApplyHomeOptions(const CommandLine& line, std::string& problem);

}  // namespace qmr
