#include "app/command_line.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>

#include "base/process.h"

#ifndef QMR_VERSION
#define QMR_VERSION "2.01"
#endif

namespace qmr {

CommandLine ParseCommandLine(int argc, const char* const* argv) {
  CommandLine line;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i] ? argv[i] : "";
    if (arg == "--help" || arg == "-h") {
      line.help = true;
    } else if (arg == "--version" || arg == "-V") {
      line.version = true;
    } else if (arg == "--demo") {
      line.demo = true;
    } else if (arg == "--minimized" || arg == "--minimised") {
      line.minimized = true;
    } else if (arg == "--home") {
      if (i + 1 >= argc || argv[i + 1] == nullptr || argv[i + 1][0] == 0) {
        line.error = "option --home needs a folder";
        return line;
      }
      line.home = argv[++i];
    } else if (arg.compare(0, 7, "--home=") == 0) {
      line.home = arg.substr(7);
      if (line.home.empty()) {
        line.error = "option --home needs a folder";
        return line;
      }
    } else {
      line.error = "unknown option '" + arg + "'";
      return line;
    }
  }
  return line;
}

const char* ProgramVersion() { return QMR_VERSION; }

std::string VersionText() {
  return std::string("qmr ") + ProgramVersion() + "\nQuelmar Video Capture\n";
}

std::string UsageLine() {
  return "Usage: qmr [--help] [--version] [--demo] [--home DIR] [--minimized]";
}

std::string HelpText() {
  return UsageLine() +
         "\n"
         "Quelmar Video Capture: watches the cameras of this computer and records motion.\n"
         "\n"
         "Options:\n"
         "  -h, --help       show this help and exit\n"
         "  -V, --version    show the version and exit\n"
         "      --demo       start with two built-in test-pattern cameras (no camera needed)\n"
         "      --home DIR   keep the settings, log, recordings and pictures in DIR\n"
         "                   (the same as the QMR_HOME environment variable)\n"
         "      --minimized  start with the main window minimised\n"
         "\n"
         "Folders, when installed: settings in $XDG_CONFIG_HOME/qmr (~/.config/qmr), the log in\n"
         "$XDG_STATE_HOME/qmr (~/.local/state/qmr), recordings and pictures in the videos folder\n"
         "(~/Videos/Quelmar/AVI and PIC). Run from the build tree or with QMR_HOME set, "
         "everything\n"
         "is kept in that one folder.\n";
}

namespace {

std::string DemoHome() {
  const char* qmrHome = std::getenv("QMR_HOME");
  if (qmrHome && *qmrHome) return qmrHome;
  // The demo has its own home, so it never touches the user's settings.
  if (access((ProgramFolder() + "/CMakeCache.txt").c_str(), F_OK) == 0) {
    return ProgramFolder() + "/demo";
  }
  const char* state = std::getenv("XDG_STATE_HOME");
  if (state && state[0] == '/') return std::string(state) + "/qmr/demo";
  const char* home = std::getenv("HOME");
  if (home && *home) return std::string(home) + "/.local/state/qmr/demo";
  return ProgramFolder() + "/demo";
}

}  // namespace

bool ApplyHomeOptions(const CommandLine& line, std::string& problem) {
  problem.clear();
  std::string home = line.home;
  if (home.empty() && line.demo) home = DemoHome();
  if (home.empty()) return true;
  if (home[0] != '/') {
    char cwd[4096];
    if (getcwd(cwd, sizeof(cwd))) home = std::string(cwd) + "/" + home;
  }
  if (!EnsureWritableFolder(home, problem)) return false;
  setenv("QMR_HOME", home.c_str(), 1);
  if (!line.demo) return true;
  // The demo settings are copied once; later changes in its dialogs stay.
  const std::string settings = home + "/qmr.ini";
  if (access(settings.c_str(), F_OK) == 0) return true;
  const std::string source = ProgramResourcePath("demo.ini");
  std::ifstream in(source, std::ios::binary);
  std::ofstream out(settings, std::ios::binary);
  if (!in || !out || !(out << in.rdbuf())) {
    problem = "The demo settings " + source + " cannot be copied to " + settings + ".";
    return false;
  }
  return true;
}

}  // namespace qmr
