#include "scheduler/scheduler.h"

#include <gtest/gtest.h>

#include <atomic>
#include <map>

namespace qmr {
namespace {

SystemTime At(int dayOfWeek, int hour, int minute, int second, int ms = 0) {
  SystemTime t;
  t.year = 2026;
  t.month = 12;
  t.day = 7 + dayOfWeek;
  t.dayOfWeek = static_cast<std::uint16_t>(dayOfWeek);
  t.hour = static_cast<std::uint16_t>(hour);
  t.minute = static_cast<std::uint16_t>(minute);
  t.second = static_cast<std::uint16_t>(second);
  t.milliseconds = static_cast<std::uint16_t>(ms);
  return t;
}

CameraSchedule Weekdays(int startHour, int stopHour, bool record = true) {
  CameraSchedule s;
  for (int d = 1; d <= 5; ++d) s.days[d] = true;
  s.startHour = startHour;
  s.stopHour = stopHour;
  s.recordVideo = record;
  return s;
}

// Keeps the state the main frame would keep: which cameras have a running
// window and what each records or detects.
class FakeTarget : public ScheduleTarget {
 public:
  struct Camera {
    bool open = false, recording = false, detecting = false;
    int opens = 0, recordStarts = 0, detectStarts = 0;
  };
  void PostTransferTick() override { ++ticks; }
  bool EnsureCameraOpen(int index) override {
    Camera& c = cameras[index];
    if (!c.open && openWorks) {
      c.open = true;
      ++c.opens;
    }
    return c.open;
  }
  bool IsRecording(int index) override { return cameras[index].recording; }
  bool StartRecording(int index) override {
    ++cameras[index].recordStarts;
    cameras[index].recording = recordWorks;
    return recordWorks;
  }
  bool IsDetecting(int index) override { return cameras[index].detecting; }
  bool StartDetecting(int index) override {
    ++cameras[index].detectStarts;
    cameras[index].detecting = true;
    return true;
  }
  std::atomic<int> ticks{0};
  bool openWorks = true;
  bool recordWorks = true;
  std::map<int, Camera> cameras;
};

struct SchedulerFixture : ::testing::Test {
  void Add(const CameraSchedule& s) {
    cameras.push_back(std::make_unique<CameraEntry>());
    cameras.back()->SetSchedule(s);
  }
  Scheduler Make() {
    return Scheduler(cameras, target, [this] { return now; });
  }
  std::vector<std::unique_ptr<CameraEntry>> cameras;
  FakeTarget target;
  SystemTime now;
};

TEST(ScheduleDueTest, PeriodBoundsAndDays) {
  CameraSchedule s = Weekdays(8, 17);
  EXPECT_FALSE(ScheduleDue(s, At(1, 7, 59, 59, 900)));
  EXPECT_TRUE(ScheduleDue(s, At(1, 8, 0, 0, 0)));
  EXPECT_TRUE(ScheduleDue(s, At(1, 16, 59, 59, 999)));
  EXPECT_FALSE(ScheduleDue(s, At(1, 17, 0, 0, 0)));  // stop is outside the period
  EXPECT_FALSE(ScheduleDue(s, At(0, 12, 0, 0)));     // Sunday flag off
  EXPECT_FALSE(ScheduleDue(s, At(6, 12, 0, 0)));     // Saturday flag off

  CameraSchedule empty = Weekdays(8, 8);
  for (int sec : {0, 1, 59}) EXPECT_FALSE(ScheduleDue(empty, At(1, 8, 0, sec)));
  CameraSchedule reversed = Weekdays(17, 8);
  EXPECT_FALSE(ScheduleDue(reversed, At(1, 12, 0, 0)));

  CameraSchedule noDays = Weekdays(0, 23);
  noDays.days.fill(false);
  noDays.stopMinute = 59;
  noDays.stopSecond = 59;
  for (int d = 0; d < 7; ++d) EXPECT_FALSE(ScheduleDue(noDays, At(d, 12, 0, 0)));
  // A malformed day of week never indexes past the flags.
  EXPECT_FALSE(ScheduleDue(Weekdays(0, 23), At(7, 12, 0, 0)));
}

TEST(ScheduleDueTest, TickIntervalSurvivesCounterWrap) {
  EXPECT_FALSE(TickIntervalPassed(0xFFFFFF00u, 0x00000010u, 500));  // 272 ms
  EXPECT_TRUE(TickIntervalPassed(0xFFFFFF00u, 0x00000100u, 500));   // 512 ms
  EXPECT_TRUE(TickIntervalPassed(1000, 1500, 500));
  EXPECT_FALSE(TickIntervalPassed(1000, 1499, 500));
}

TEST_F(SchedulerFixture, OpensAtStartAndKeepsRecordingThroughThePeriod) {
  Add(Weekdays(8, 9));
  Add(CameraSchedule{});  // never scheduled
  Scheduler scheduler = Make();

  now = At(1, 7, 59, 59, 900);
  scheduler.Tick();
  EXPECT_EQ(target.ticks, 1);
  EXPECT_FALSE(target.cameras[0].open);

  now = At(1, 8, 0, 0, 0);
  scheduler.Tick();
  EXPECT_TRUE(target.cameras[0].open);
  EXPECT_TRUE(target.cameras[0].recording);
  EXPECT_EQ(target.cameras[0].recordStarts, 1);
  EXPECT_FALSE(target.cameras[1].open);

  // The user stops the recording: the next tick starts it again.
  target.cameras[0].recording = false;
  now = At(1, 8, 30, 0, 500);
  scheduler.Tick();
  EXPECT_TRUE(target.cameras[0].recording);
  EXPECT_EQ(target.cameras[0].recordStarts, 2);

  // After the stop time nothing is switched off; at the next day's start a
  // camera that still records is left alone.
  now = At(1, 10, 0, 0);
  scheduler.Tick();
  now = At(2, 8, 0, 0);
  scheduler.Tick();
  EXPECT_TRUE(target.cameras[0].recording);
  EXPECT_EQ(target.cameras[0].recordStarts, 2);
  EXPECT_EQ(target.cameras[0].opens, 1);
  EXPECT_EQ(target.ticks, 5);
}

// A recording that cannot start (a full disk) is not tried again at every
// tick: the next try waits kRetryAfterFailureMs.
TEST_F(SchedulerFixture, FailedRecordingStartWaitsBeforeTheNextTry) {
  Add(Weekdays(8, 9));
  Scheduler scheduler = Make();
  now = At(3, 8, 15, 0);
  target.recordWorks = false;
  for (int i = 0; i < 5; ++i) scheduler.Tick();
  EXPECT_EQ(target.cameras[0].recordStarts, 1);
  EXPECT_FALSE(target.cameras[0].recording);
  EXPECT_EQ(target.ticks, 5);
}

TEST_F(SchedulerFixture, DetectOnlyScheduleAndFailedOpenRetries) {
  Add(Weekdays(8, 9, /*record=*/false));
  Scheduler scheduler = Make();
  now = At(3, 8, 15, 0);

  target.openWorks = false;
  scheduler.Tick();
  EXPECT_EQ(target.cameras[0].detectStarts, 0);

  target.openWorks = true;  // tried again at the next tick
  scheduler.Tick();
  scheduler.Tick();
  EXPECT_TRUE(target.cameras[0].detecting);
  EXPECT_EQ(target.cameras[0].detectStarts, 1);
  EXPECT_EQ(target.cameras[0].recordStarts, 0);
}

TEST_F(SchedulerFixture, ThreadTicksUntilStopFlag) {
  Scheduler scheduler = Make();
  StopFlag = 0;
  ThreadHandle handle{0};
  ASSERT_TRUE(StartThread(&Scheduler::ThreadMain, &scheduler, handle));
  for (int i = 0; i < 1000 && target.ticks < 2; ++i) SleepMs(10);
  EXPECT_GE(target.ticks, 2);
  StopFlag = 1;
  EXPECT_TRUE(WaitForThreadEnd(handle, 10000, "scheduler"));
  StopFlag = 0;
}

}  // namespace
}  // namespace qmr
