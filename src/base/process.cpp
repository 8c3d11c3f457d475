#include "base/process.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

#include "base/log_file.h"

namespace qmr {

std::atomic<int> StopFlag{0};

namespace {

std::string& AppFolderStorage() {
  static std::string folder;
  return folder;
}


std::string& LogFolderStorage() {
  static std::string folder;
  return folder;
}

std::string& MediaFolderStorage() {
  static std::string folder;
  return folder;
}

bool g_installed = false;

std::string ExecutableFolder() {
  char buf[4096];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof(buf) - 1);
  if (n <= 0) return ".";
  buf[n] = 0;
  std::string path(buf);
  auto pos = path.rfind(kPathSeparator);
  if (pos == std::string::npos) return ".";
  if (pos == 0) return "/";
  return path.substr(0, pos);
}

// Known without the folder choice, so that the command line can find the
// program's own files before QMR_HOME is settled.
const std::string& ProgramFolderStorage() {
  static const std::string folder = ExecutableFolder();
  return folder;
}

std::string WithoutTrailingSeparator(std::string folder) {
  while (folder.size() > 1 && folder.back() == kPathSeparator) folder.pop_back();
  return folder;
}

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

bool IsAbsolute(const std::string& path) { return !path.empty() && path[0] == kPathSeparator; }

std::string ReadSmallFile(const std::string& path) {
  std::string text;
  if (FILE* f = std::fopen(path.c_str(), "rb")) {
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof(buf), f)) > 0 && text.size() < 65536) text.append(buf, n);
    std::fclose(f);
  }
  return text;
}

std::once_flag g_folderOnce;

void FillFoldersOnce() {
  std::call_once(g_folderOnce, [] {
    if (!AppFolderStorage().empty()) return;  // set by a test before any use
    FolderInputs in;
    in.programFolder = ProgramFolderStorage();
    struct stat st;
    in.buildTree = stat((in.programFolder + "/CMakeCache.txt").c_str(), &st) == 0;
    in.qmrHome = Env("QMR_HOME");
    in.userHome = Env("HOME");
    in.xdgConfigHome = Env("XDG_CONFIG_HOME");
    in.xdgStateHome = Env("XDG_STATE_HOME");
    char cwd[4096];
    if (getcwd(cwd, sizeof(cwd))) in.workingFolder = cwd;
    const FolderChoice choice = ChooseFolders(in);
    AppFolderStorage() = choice.home;
    LogFolderStorage() = choice.log;
    MediaFolderStorage() = choice.media;
    g_installed = choice.installed;
    // The folders that hold the settings and the log must exist before the
    // first write; a failure is reported at start by the windows, which
    // check every folder with EnsureWritableFolder.
    std::string ignored;
    EnsureWritableFolder(choice.home, ignored);
    if (choice.log != choice.home) EnsureWritableFolder(choice.log, ignored);
  });
}

extern "C" void OnStopSignal(int) { StopFlag.store(1); }

struct ThreadStart {
  ThreadFunction function;
  void* argument;
  ThreadHandle* handle;
};

void* ThreadTrampoline(void* p) {
  ThreadStart start = *static_cast<ThreadStart*>(p);
  delete static_cast<ThreadStart*>(p);
  start.function(start.argument);
  start.handle->store(0);
  return nullptr;
}

}  // namespace

const std::string& ApplicationFolder() {
  FillFoldersOnce();
  return AppFolderStorage();
}

void SetApplicationFolder(const std::string& folder) {
  FillFoldersOnce();
  AppFolderStorage() = WithoutTrailingSeparator(folder);
  LogFolderStorage() = AppFolderStorage();
  MediaFolderStorage() = AppFolderStorage();
  g_installed = false;
  LogFile::ResetPath();
}

const std::string& LogFolder() {
  FillFoldersOnce();
  return LogFolderStorage();
}

const std::string& MediaFolder() {
  FillFoldersOnce();
  return MediaFolderStorage();
}

bool RunsInstalled() {
  FillFoldersOnce();
  return g_installed;
}

std::string VideosFolderFromUserDirs(const std::string& text, const std::string& userHome) {
  std::size_t pos = 0;
  std::string found;
  while (pos < text.size()) {
    std::size_t eol = text.find('\n', pos);
    if (eol == std::string::npos) eol = text.size();
    std::string line = TrimSpaces(text.substr(pos, eol - pos));
    pos = eol + 1;
    const std::string key = "XDG_VIDEOS_DIR=";
    if (line.compare(0, key.size(), key) != 0) continue;
    std::string value = line.substr(key.size());
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
      value = value.substr(1, value.size() - 2);
    }
    if (value.compare(0, 5, "$HOME") == 0) {
      if (userHome.empty()) continue;
      value = userHome + value.substr(5);
    }
    if (!IsAbsolute(value)) continue;
    found = WithoutTrailingSeparator(value);
  }
  if (found == WithoutTrailingSeparator(userHome)) return "";
  return found;
}

FolderChoice ChooseFolders(const FolderInputs& in) {
  FolderChoice c;
  if (!in.qmrHome.empty()) {
    std::string folder = in.qmrHome;
    // Folders derived from it (AVI, PIC) are only created on absolute
    // paths, so a relative QMR_HOME is taken from the working folder.
    if (!IsAbsolute(folder) && !in.workingFolder.empty()) {
      folder = in.workingFolder + kPathSeparator + folder;
    }
    c.home = WithoutTrailingSeparator(folder);
  } else if (in.buildTree || in.userHome.empty()) {
    // Without a home folder there is nowhere else to go.
    c.home = in.programFolder;
  } else {
    c.installed = true;
    const std::string config = IsAbsolute(in.xdgConfigHome)
                                   ? WithoutTrailingSeparator(in.xdgConfigHome)
                                   : in.userHome + "/.config";
    const std::string state = IsAbsolute(in.xdgStateHome)
                                  ? WithoutTrailingSeparator(in.xdgStateHome)
                                  : in.userHome + "/.local/state";
    std::string videos =
        VideosFolderFromUserDirs(ReadSmallFile(config + "/user-dirs.dirs"), in.userHome);
    if (videos.empty()) videos = in.userHome + "/Videos";
    c.home = config + "/qmr";
    c.log = state + "/qmr";
    c.media = videos + "/Quelmar";
    return c;
  }
  c.log = c.home;
  c.media = c.home;
  return c;
}

bool EnsureWritableFolder(const std::string& folder, std::string& problem) {
  problem.clear();
  if (!IsAbsolute(folder)) {
    problem = "The folder \"" + folder + "\" is not an absolute path.";
    return false;
  }
  // Each missing parent is made in turn, as mkdir -p does.
  for (std::size_t i = 1; i <= folder.size(); ++i) {
    if (i < folder.size() && folder[i] != kPathSeparator) continue;
    const std::string part = folder.substr(0, i);
    struct stat st;
    if (stat(part.c_str(), &st) == 0) {
      if (!S_ISDIR(st.st_mode)) {
        problem = "The folder \"" + folder + "\" cannot be created: \"" + part + "\" is a file.";
        return false;
      }
      continue;
    }
    if (mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) {
      problem = "The folder \"" + folder + "\" cannot be created: " + std::strerror(errno) + ".";
      return false;
    }
  }
  // Tried for real: access() may say yes on a read-only mount.
  const std::string probe = folder + "/.qmr-write-test";
  const int fd = open(probe.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) {
    problem =
        "No file can be written in the folder \"" + folder + "\": " + std::strerror(errno) + ".";
    return false;
  }
  close(fd);
  unlink(probe.c_str());
  return true;
}

const std::string& ProgramFolder() { return ProgramFolderStorage(); }

std::string ProgramResourcePath(const std::string& name) {
  const std::string beside = ProgramFolder() + kPathSeparator + name;
  struct stat st;
  if (stat(beside.c_str(), &st) == 0) return beside;
  const std::string installed = ProgramFolder() + "/../share/qmr/" + name;
  if (stat(installed.c_str(), &st) == 0) return installed;
  return beside;
}

void InstallStopSignals() {
  struct sigaction sa {};
  sa.sa_handler = OnStopSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  // A peer that closes a socket mid-write must not end the program.
  signal(SIGPIPE, SIG_IGN);
}

void ProcessStart() {
  StopFlag.store(0);
  FillFoldersOnce();
  InstallStopSignals();
}

bool StartThread(ThreadFunction function, void* argument, ThreadHandle& handle) {
  pthread_attr_t attr;
  if (pthread_attr_init(&attr) != 0) return false;
  pthread_attr_setstacksize(&attr, 1048576);
  pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
  auto* start = new ThreadStart{function, argument, &handle};
  // Marked running before the thread exists, so that a thread which ends at
  // once cannot have its cleared handle overwritten afterwards.
  handle.store(1);
  pthread_t thread;
  int rc = pthread_create(&thread, &attr, ThreadTrampoline, start);
  pthread_attr_destroy(&attr);
  if (rc != 0) {
    delete start;
    handle.store(0);
    return false;
  }
  return true;
}

bool WaitForThreadEnd(const ThreadHandle& handle, int timeoutMs, const char* threadName) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (handle.load() != 0) {
    if (std::chrono::steady_clock::now() >= deadline) {
      LogFile::Write(std::string("The ") + (threadName ? threadName : "worker") +
                     " thread did not end in time\n");
      return false;
    }
    SleepMs(20);
  }
  return true;
}

std::uint32_t TickCount() {
  using namespace std::chrono;
  return static_cast<std::uint32_t>(
      duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void SleepMs(int ms) {
  if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

SystemTime GetLocalTime() {
  struct timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  struct tm tmv;
  localtime_r(&ts.tv_sec, &tmv);
  SystemTime t;
  t.year = static_cast<std::uint16_t>(tmv.tm_year + 1900);
  t.month = static_cast<std::uint16_t>(tmv.tm_mon + 1);
  t.dayOfWeek = static_cast<std::uint16_t>(tmv.tm_wday);
  t.day = static_cast<std::uint16_t>(tmv.tm_mday);
  t.hour = static_cast<std::uint16_t>(tmv.tm_hour);
  t.minute = static_cast<std::uint16_t>(tmv.tm_min);
  t.second = static_cast<std::uint16_t>(tmv.tm_sec);
  t.milliseconds = static_cast<std::uint16_t>(ts.tv_nsec / 1000000);
  return t;
}

std::string FormatStampText(const SystemTime& t) {
  char buf[64];
  std::snprintf(buf, sizeof(buf), "%02d/%02d %02d:%02d:%02d:%03d", t.month, t.day, t.hour, t.minute,
                t.second, t.milliseconds);
  return buf;
}

std::string TrimSpaces(const std::string& text) {
  std::size_t b = 0, e = text.size();
  while (b < e && text[b] == ' ') ++b;
  while (e > b && text[e - 1] == ' ') --e;
  return text.substr(b, e - b);
}

std::string LowerAscii(const std::string& text) {
  std::string out = text;
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

}  // namespace qmr
