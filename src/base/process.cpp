#include "base/process.h"

#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
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

std::string& ProgramFolderStorage() {
  static std::string folder;
  return folder;
}

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

std::string WithoutTrailingSeparator(std::string folder) {
  while (folder.size() > 1 && folder.back() == kPathSeparator) folder.pop_back();
  return folder;
}

std::once_flag g_folderOnce;

void FillFoldersOnce() {
  std::call_once(g_folderOnce, [] {
    ProgramFolderStorage() = ExecutableFolder();
    if (AppFolderStorage().empty()) {
      const char* home = std::getenv("QMR_HOME");
      if (home && *home) {
        std::string folder = home;
        // Folders derived from it (AVI, PIC) are only created on absolute
        // paths, so a relative QMR_HOME is taken from the working folder.
        if (folder[0] != kPathSeparator) {
          char cwd[4096];
          if (getcwd(cwd, sizeof(cwd))) folder = std::string(cwd) + kPathSeparator + folder;
        }
        AppFolderStorage() = WithoutTrailingSeparator(folder);
        // The home folder is where everything is written: make sure it exists.
        mkdir(AppFolderStorage().c_str(), 0755);
      } else {
        AppFolderStorage() = ProgramFolderStorage();
      }
    }
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
  LogFile::ResetPath();
}

const std::string& ProgramFolder() {
  FillFoldersOnce();
  return ProgramFolderStorage();
}

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
