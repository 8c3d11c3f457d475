#include "base/log_file.h"

#include <sys/stat.h>
#include <time.h>

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <vector>

#include "base/process.h"

namespace qmr {

namespace {

std::mutex& LogLock() {
  static std::mutex lock;
  return lock;
}

// Guarded by LogLock.
std::string& PathStorage() {
  static std::string path;
  return path;
}

std::string CurrentPath() {
  std::lock_guard<std::mutex> lock(LogLock());
  std::string& path = PathStorage();
  if (path.empty()) path = LogFolder() + kPathSeparator + "log.txt";
  return path;
}

}  // namespace

std::string LogFile::Path() { return CurrentPath(); }

void LogFile::ResetPath() {
  std::lock_guard<std::mutex> lock(LogLock());
  PathStorage().clear();
}

void LogFile::Write(const std::string& message) {
  const std::string path = CurrentPath();
  struct stat st;
  if (stat(path.c_str(), &st) == 0 && st.st_size > kRotateSize) {
    std::lock_guard<std::mutex> lock(LogLock());
    // Tested again under the lock: when two writers both saw a full log, the
    // second must not move the fresh log over the backup the first just made.
    if (stat(path.c_str(), &st) == 0 && st.st_size > kRotateSize) {
      const std::string backup = path + ".bak";
      std::remove(backup.c_str());
      std::rename(path.c_str(), backup.c_str());
    }
  }
  time_t now = time(nullptr);
  struct tm tmv;
  localtime_r(&now, &tmv);
  char stamp[32];
  strftime(stamp, sizeof(stamp), "%Y%m%d %H:%M:%S\n", &tmv);
  std::string entry;
  entry.reserve(message.size() + 32);
  entry += '\n';
  entry += stamp;
  entry += message;
  entry += '\n';

  std::lock_guard<std::mutex> lock(LogLock());
  FILE* f = std::fopen(path.c_str(), "ab");
  if (!f) return;  // The entry is lost; the caller is not told.
  std::fwrite(entry.data(), 1, entry.size(), f);
  std::fclose(f);
}

void LogFile::Writef(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  int n = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  std::string text;
  if (n > 0) {
    std::vector<char> buf(static_cast<std::size_t>(n) + 1);
    std::vsnprintf(buf.data(), buf.size(), format, args);
    text.assign(buf.data(), static_cast<std::size_t>(n));
  }
  va_end(args);
  Write(text);
}

}  // namespace qmr
