// Starts a program from a command line without a shell: the line is split
// into arguments (double or single quotes group words and are removed), the
// first argument is looked up on PATH, and the child runs on its own. Its
// exit is collected in the background so finished children never linger as
// zombies.
#pragma once

#include <string>
#include <vector>

namespace qmr {

class ProgramLauncher {
 public:
  // Splits a command line into its arguments. Blanks (space, tab) separate
  // arguments outside quotes; a quote character opens a quoted run that ends
  // at the same character; a backslash inside double quotes escapes a
  // following double quote or backslash. "" yields an empty argument.
  static std::vector<std::string> SplitCommandLine(const std::string& commandLine);

  // Starts the program; true when a process was started (the program file
  // was found and executed), false for an empty line or a start failure.
  static bool Start(const std::string& commandLine);
  // Starts program with parameters (a command-line tail, split as above).
  // A program path that names an existing file is one argument even when it
  // holds blanks; otherwise it is split like a command line.
  static bool Start(const std::string& program, const std::string& parameters);
};

}  // namespace qmr
