// The diagnostic log "log.txt" in ApplicationFolder: time-stamped entries,
// rotated to one ".bak" above 3,145,728 bytes. Callable from any thread.
#pragma once

#include <cstdint>
#include <string>

namespace qmr {

class LogFile {
 public:
  static constexpr std::int64_t kRotateSize = 3145728;

  // Appends "\n" + local time "%Y%m%d %H:%M:%S\n" + message + "\n".
  static void Write(const std::string& message);
  // printf-style convenience; the formatted text is written as one entry.
  static void Writef(const char* format, ...) __attribute__((format(printf, 1, 2)));
  // The path of the log file (built from ApplicationFolder on first use).
  static std::string Path();
  // Forgets the built path so that the next entry uses the current
  // ApplicationFolder (tests that change it).
  static void ResetPath();
};

}  // namespace qmr
