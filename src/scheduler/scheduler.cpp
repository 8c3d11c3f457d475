#include "scheduler/scheduler.h"

#include <algorithm>

namespace qmr {

namespace {

int SecondOfDay(int hour, int minute, int second) { return hour * 3600 + minute * 60 + second; }

}  // namespace

bool ScheduleDue(const CameraSchedule& schedule, const SystemTime& now) {
  if (now.dayOfWeek > 6 || !schedule.days[now.dayOfWeek]) return false;
  // Start and stop are today's instants at now's milliseconds, so comparing
  // whole seconds of the day gives the same answer.
  const int current = SecondOfDay(now.hour, now.minute, now.second);
  const int start = SecondOfDay(schedule.startHour, schedule.startMinute, schedule.startSecond);
  const int stop = SecondOfDay(schedule.stopHour, schedule.stopMinute, schedule.stopSecond);
  return start <= current && current < stop;
}

Scheduler::Scheduler(const std::vector<std::unique_ptr<CameraEntry>>& cameras,
                     ScheduleTarget& target, Clock clock)
    : cameras_(cameras), target_(target), clock_(std::move(clock)) {}

void Scheduler::Tick() {
  target_.PostTransferTick();
  const SystemTime now = clock_();
  for (std::size_t i = 0;; ++i) {
    if (StopFlag.load() != 0) return;
    CameraSchedule schedule;
    {
      // The list may grow meanwhile (cameras added while the program runs).
      std::unique_lock<std::mutex> lock;
      if (listLock_ != nullptr) lock = std::unique_lock<std::mutex>(*listLock_);
      if (i >= cameras_.size()) break;
      schedule = cameras_[i]->GetSchedule();
    }
    if (!ScheduleDue(schedule, now)) continue;
    const int index = static_cast<int>(i);
    if (!target_.EnsureCameraOpen(index)) continue;
    // Nothing is ever switched off here: a period that ended leaves what it
    // started running until the user stops it.
    if (schedule.recordVideo) {
      // Sized by the index in hand: the list itself is read under its lock.
      if (failedAt_.size() <= i) {
        failedAt_.resize(i + 1, 0);
        failed_.resize(i + 1, false);
      }
      const std::uint32_t tick = TickCount();
      if (failed_[i] && !TickIntervalPassed(failedAt_[i], tick, kRetryAfterFailureMs)) continue;
      if (!target_.IsRecording(index)) {
        failed_[i] = !target_.StartRecording(index);
        failedAt_[i] = tick;
      }
    } else {
      if (!target_.IsDetecting(index)) target_.StartDetecting(index);
    }
  }
}

void Scheduler::Run() {
  std::uint32_t last = TickCount();
  while (StopFlag.load() == 0) {
    const std::uint32_t now = TickCount();
    if (TickIntervalPassed(last, now, kTickIntervalMs)) {
      last = now;
      Tick();
    }
    // Waking only to find the tick not yet due costs more than the tick.
    const std::uint32_t due = kTickIntervalMs - std::min<std::uint32_t>(
                                                    kTickIntervalMs, TickCount() - last);
    SleepMs(static_cast<int>(std::clamp<std::uint32_t>(due, 1, kSleepMs)));
  }
}

void Scheduler::ThreadMain(void* scheduler) { static_cast<Scheduler*>(scheduler)->Run(); }

}  // namespace qmr
