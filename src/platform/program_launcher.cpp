#include "platform/program_launcher.h"

#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>
#include <thread>

#include "base/log_file.h"

extern char** environ;

namespace qmr {

std::vector<std::string> ProgramLauncher::SplitCommandLine(const std::string& line) {
  std::vector<std::string> args;
  std::string current;
  bool inArgument = false;
  char quote = 0;
  for (std::size_t i = 0; i < line.size(); ++i) {
    char c = line[i];
    if (quote != 0) {
      if (c == quote) {
        quote = 0;
      } else if (quote == '"' && c == '\\' && i + 1 < line.size() &&
                 (line[i + 1] == '"' || line[i + 1] == '\\')) {
        current += line[++i];
      } else {
        current += c;
      }
    } else if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
      if (inArgument) {
        args.push_back(current);
        current.clear();
        inArgument = false;
      }
    } else if (c == '"' || c == '\'') {
      quote = c;
      inArgument = true;
    } else {
      current += c;
      inArgument = true;
    }
  }
  if (inArgument) args.push_back(current);
  return args;
}

namespace {

bool StartArguments(std::vector<std::string> args);

}  // namespace

bool ProgramLauncher::Start(const std::string& commandLine) {
  return StartArguments(SplitCommandLine(commandLine));
}

bool ProgramLauncher::Start(const std::string& program, const std::string& parameters) {
  // Without a program the first parameter must not be taken for one.
  if (program.find_first_not_of(" \t") == std::string::npos) return false;
  std::vector<std::string> args;
  struct stat st {};
  if (!program.empty() && stat(program.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
    args.push_back(program);
  } else {
    args = SplitCommandLine(program);
  }
  for (auto& p : SplitCommandLine(parameters)) args.push_back(std::move(p));
  return StartArguments(std::move(args));
}

namespace {

bool StartArguments(std::vector<std::string> args) {
  if (args.empty() || args[0].empty()) return false;
  std::vector<char*> argv;
  argv.reserve(args.size() + 1);
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  // The child starts with every signal unblocked and the default actions for
  // the signals this program handles, whatever thread starts it.
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t none;
  sigemptyset(&none);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGINT);
  sigaddset(&defaults, SIGTERM);
  sigaddset(&defaults, SIGPIPE);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setsigdefault(&attr, &defaults);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  pid_t pid = 0;
  int rc = posix_spawnp(&pid, argv[0], nullptr, &attr, argv.data(), environ);
  posix_spawnattr_destroy(&attr);
  if (rc != 0) {
    LogFile::Write("Program " + args[0] + " can not be started: " + std::strerror(rc));
    return false;
  }
  // Collect the child's exit status when it ends. Waiting for this one pid
  // only leaves children started elsewhere (ffmpeg probes, pppd helpers) to
  // their own owners.
  try {
    std::thread([pid] {
      int status = 0;
      while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
      }
    }).detach();
  } catch (const std::system_error&) {
    // No thread: the child becomes a zombie until the program ends; the start
    // itself succeeded.
  }
  return true;
}

}  // namespace

}  // namespace qmr
