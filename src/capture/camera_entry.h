// One camera the program knows of: a local video device or a camera listed in
// the settings section STREAMS. Owned by the camera list in enumeration order.
#pragma once

#include <array>
#include <atomic>
#include <mutex>
#include <string>

namespace qmr {

// The weekly record schedule of a camera.
struct CameraSchedule {
  std::array<bool, 7> days{};  // index 0 Sunday to 6 Saturday
  int startHour = 0, startMinute = 0, startSecond = 0;
  int stopHour = 0, stopMinute = 0, stopSecond = 0;
  bool recordVideo = true;  // false: the period only switches detection on
};

enum class SourceKind { V4l2, Stream, Pattern };

class CameraEntry {
 public:
  // Display name "%s   NO.%d": settings section, window title, file names.
  std::string name;
  // The name the device or the STREAMS key gives, before the name rule.
  std::string friendlyName;
  SourceKind kind = SourceKind::Pattern;
  // Device node (/dev/videoN), URL or path, or the pattern parameters.
  std::string source;
  int sameNameIndex = 0;
  // Set while a camera window shows this camera.
  std::atomic<bool> inUse{false};
  // Motion feedback, written by the detector thread and read by the
  // user-interface thread's status refresh: set during a motion period, and
  // the wall-clock time (seconds since the epoch) the last period began.
  std::atomic<bool> inMotion{false};
  std::atomic<long long> lastMotionTime{0};

  // The schedule is written by the user-interface thread and read by the
  // scheduler thread, hence the copy under a lock.
  CameraSchedule GetSchedule() const {
    std::lock_guard<std::mutex> lock(scheduleMutex_);
    return schedule_;
  }
  void SetSchedule(const CameraSchedule& schedule) {
    std::lock_guard<std::mutex> lock(scheduleMutex_);
    schedule_ = schedule;
  }

 private:
  mutable std::mutex scheduleMutex_;
  CameraSchedule schedule_;
};

}  // namespace qmr
