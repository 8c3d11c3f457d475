// The scheduler thread: twice a second it ticks the transfer thread and keeps
// every camera whose weekly schedule is due open and recording (or detecting).
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "base/process.h"
#include "capture/camera_entry.h"

namespace qmr {

// What the scheduler does to the program. The main frame implements it by
// running each operation on the user-interface thread; tests use a double.
class ScheduleTarget {
 public:
  virtual ~ScheduleTarget() = default;
  // Sends the transfer thread its tick; failure (no transfer thread) is ignored.
  virtual void PostTransferTick() = 0;
  // Makes sure camera `index` has a running window: opens it when the entry
  // is not in use (dropping a window whose start failed). False when there is
  // no running window for it afterwards.
  virtual bool EnsureCameraOpen(int index) = 0;
  virtual bool IsRecording(int index) = 0;
  // Starts a recording whose messages go to the log file.
  virtual bool StartRecording(int index) = 0;
  virtual bool IsDetecting(int index) = 0;
  virtual bool StartDetecting(int index) = 0;
};

// True when the schedule's period holds the local time `now`: today's day flag
// is on and start <= now < stop, both taken today at now's milliseconds. An
// empty period (start equal to or after stop) is never due.
bool ScheduleDue(const CameraSchedule& schedule, const SystemTime& now);

class Scheduler {
 public:
  using Clock = std::function<SystemTime()>;
  static constexpr std::uint32_t kTickIntervalMs = 500;
  // The longest sleep between looks at StopFlag.
  static constexpr int kSleepMs = 100;
  // After a scheduled recording failed to start, the camera's next attempt
  // waits this long (a full disk would otherwise fail twice a second).
  static constexpr std::uint32_t kRetryAfterFailureMs = 30000;

  Scheduler(const std::vector<std::unique_ptr<CameraEntry>>& cameras, ScheduleTarget& target,
            Clock clock = GetLocalTime);

  // One tick: the transfer tick, then every due camera in list order.
  void Tick();
  // Ticks every 500 ms until StopFlag is set, sleeping until the next tick
  // in slices of at most kSleepMs.
  void Run();

  // Thread function for StartThread; the argument is a Scheduler*.
  static void ThreadMain(void* scheduler);

  // The lock the owner holds while it adds cameras to the list; set before
  // the thread starts.
  void SetListLock(std::mutex* lock) { listLock_ = lock; }

 private:
  const std::vector<std::unique_ptr<CameraEntry>>& cameras_;
  ScheduleTarget& target_;
  Clock clock_;
  // Per camera: whether the last start failed, and its tick count.
  std::vector<bool> failed_;
  std::vector<std::uint32_t> failedAt_;
  std::mutex* listLock_ = nullptr;
};

// True when at least `interval` ms passed from `last` to `now` on a 32-bit
// millisecond counter, also across its wrap-around.
inline bool TickIntervalPassed(std::uint32_t last, std::uint32_t now, std::uint32_t interval) {
  return static_cast<std::uint32_t>(now - last) >= interval;
}

}  // namespace qmr
