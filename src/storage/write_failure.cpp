#include "storage/write_failure.h"

#include <atomic>
#include <cstring>
#include <mutex>

#include "base/log_file.h"

namespace qmr {

namespace {

std::mutex& NotifierMutex() {
  static std::mutex mutex;
  return mutex;
}

std::function<void(const std::string&)>& Notifier() {
  static std::function<void(const std::string&)> notifier;
  return notifier;
}

std::atomic<bool> boxShown{false};

}  // namespace

void ReportWriteFailure(const std::string& logLine, const std::string& boxText) {
  LogFile::Write(logLine);
  if (boxText.empty() || boxShown.exchange(true)) return;
  std::lock_guard<std::mutex> lock(NotifierMutex());
  if (Notifier()) Notifier()(boxText);
}

void SetWriteFailureNotifier(std::function<void(const std::string&)> notifier) {
  std::lock_guard<std::mutex> lock(NotifierMutex());
  Notifier() = std::move(notifier);
}

void ResetWriteFailureNotice() { boxShown.store(false); }

std::string ErrorText(int error) {
  char buffer[256];
  // The GNU strerror_r returns the text, which may not be in buffer.
  const char* text = strerror_r(error, buffer, sizeof buffer);
  return text != nullptr ? text : "error " + std::to_string(error);
}

}  // namespace qmr
