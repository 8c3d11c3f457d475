// The pixel test, the trigger count, the zone verdict and the motion state
// machine of the detector.
#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

#include "capture/capture_device.h"
#include "capture/frame_buffer.h"
#include "capture/pattern_source.h"
#include "config/ini_file.h"
#include "motion/detector_thread.h"
#include "motion/motion_detector.h"
#include "motion/pixel_count.h"
#include "motion/pixel_test.h"
#include "motion_test_support.h"

namespace qmr {
namespace {

using test::MakeFrame;
using test::PaintShown;
using test::Zones;

TEST(PixelTest, KnownDifferences) {
  EXPECT_TRUE(PixelDifferenceChangedExact(20, 20, 20));   // Y = 17
  EXPECT_FALSE(PixelDifferenceChangedExact(15, 15, 15));  // Y = 12, V = U = 0
  EXPECT_TRUE(PixelDifferenceChanged(20, 20, 20));
  EXPECT_FALSE(PixelDifferenceChanged(15, 15, 15));
  EXPECT_TRUE(PixelDifferenceChanged(-20, -20, -20));
  // Chroma alone: a pure byte-0 change of 21 gives Y = 5, V = 9.
  EXPECT_TRUE(PixelDifferenceChanged(21, 0, 0));
  EXPECT_FALSE(PixelDifferenceChanged(20, 0, 0));  // V = trunc(8.784) = 8
}

// A motion detector whose current frame the test fills.
struct TestDetector : MotionDetector {
  using DetectorThread::CopyCurrentToReference;
  using DetectorThread::CurrentFrame;
};

class DetectorFixture : public ::testing::Test {
 protected:
  // Judges after against before with the detector's zones.
  bool Judge(const VideoFrame& before, const VideoFrame& after) {
    Current() = before;
    detector.CopyCurrentToReference();
    Current() = after;
    return detector.Detect();
  }
  VideoFrame& Current() { return detector.CurrentFrame(); }

  TestDetector detector;
};

TEST_F(DetectorFixture, TriggerCounts) {
  detector.ComputeTriggerCount(320, 240);
  EXPECT_EQ(detector.TriggerCount(), 3840);

  detector.SetZones(Zones({SensibleZone(0, 0, 100, 100)}), Zones({MaskZone(10, 10, 30, 30)}));
  detector.SetZoneSize(320, 240);
  detector.SetThreshold(10);
  detector.ComputeTriggerCount(320, 240);
  EXPECT_EQ(detector.TriggerCount(), 240);
  // Another picture size: zones do not apply, the whole picture counts.
  detector.ComputeTriggerCount(640, 480);
  EXPECT_EQ(detector.TriggerCount(), 640 * 480 * 10 / 400);

  detector.SetZones(Zones({SensibleZone(0, 0, 10, 10)}), ZoneList{});
  detector.SetThreshold(1);
  detector.ComputeTriggerCount(320, 240);
  EXPECT_EQ(detector.TriggerCount(), 0);
}

TEST_F(DetectorFixture, WholePictureVerdictFollowsThreshold) {
  // 20% of the sampled pixels must change: a band of 19% is quiet, 21% moves.
  VideoFrame still = MakeFrame(320, 240, 100, 1);
  VideoFrame small = MakeFrame(320, 240, 100, 2);
  PaintShown(small, 0, 0, 320, 45, 200);  // 45 of 240 rows = 18.75%
  EXPECT_FALSE(Judge(still, small));
  VideoFrame large = MakeFrame(320, 240, 100, 3);
  PaintShown(large, 0, 0, 320, 50, 200);  // 20.8%
  EXPECT_TRUE(Judge(still, large));
  EXPECT_EQ(detector.TriggerCount(), 3840);
  // A small change below the pixel limit is no motion at all.
  EXPECT_FALSE(Judge(still, MakeFrame(320, 240, 115, 4)));

  // A picture so small that the trigger count is 0: one changed sample is
  // motion, but a still picture is not.
  detector.SetThreshold(1);
  VideoFrame tinyStill = MakeFrame(16, 16, 100, 5);
  VideoFrame tinyMoved = MakeFrame(16, 16, 100, 6);
  PaintShown(tinyMoved, 4, 5, 5, 6, 200);  // stored row 10, sampled
  EXPECT_FALSE(Judge(tinyStill, tinyStill));
  EXPECT_EQ(detector.TriggerCount(), 0);
  EXPECT_TRUE(Judge(tinyStill, tinyMoved));
}

TEST_F(DetectorFixture, ZoneDrawnInTopHalfWatchesTopHalfOfPicture) {
  detector.SetZones(Zones({SensibleZone(0, 0, 320, 120)}), ZoneList{});
  detector.SetZoneSize(320, 240);
  VideoFrame still = MakeFrame(320, 240, 100, 1);
  VideoFrame top = MakeFrame(320, 240, 100, 2);
  PaintShown(top, 0, 0, 320, 120, 200);
  VideoFrame bottom = MakeFrame(320, 240, 100, 3);
  PaintShown(bottom, 0, 120, 320, 240, 200);
  EXPECT_TRUE(Judge(still, top));
  EXPECT_FALSE(Judge(still, bottom));
}

TEST_F(DetectorFixture, MasksCutHolesAndZonesApplyOnlyAtTheirSize) {
  // The only change lies inside the mask: nothing is seen.
  detector.SetZones(Zones({SensibleZone(0, 0, 100, 100)}), Zones({MaskZone(10, 10, 60, 60)}));
  detector.SetZoneSize(320, 240);
  detector.SetThreshold(1);
  VideoFrame still = MakeFrame(320, 240, 100, 1);
  VideoFrame masked = MakeFrame(320, 240, 100, 2);
  PaintShown(masked, 10, 10, 61, 61, 200);
  EXPECT_FALSE(Judge(still, masked));
  // The same change outside the zone is seen once the zones no longer apply.
  VideoFrame outside = MakeFrame(320, 240, 100, 3);
  PaintShown(outside, 150, 150, 250, 200, 200);
  EXPECT_FALSE(Judge(still, outside));
  detector.SetZoneSize(640, 480);
  EXPECT_TRUE(Judge(still, outside));
}

TEST_F(DetectorFixture, ZonesBeyondThePictureAndBadFramesAreSafe) {
  // Zones reaching past every edge are clipped to the picture, for the
  // points examined and for the trigger count.
  detector.SetZones(Zones({SensibleZone(-75, -75, 400, 300)}), Zones({MaskZone(-80, -80, 10, 10)}));
  detector.SetZoneSize(64, 48);
  detector.ComputeTriggerCount(64, 48);
  EXPECT_EQ(detector.TriggerCount(), 20 * (64 * 48 - 10 * 10) / 400);
  VideoFrame still = MakeFrame(64, 48, 10, 1);
  EXPECT_TRUE(Judge(still, MakeFrame(64, 48, 200, 2)));
  EXPECT_FALSE(Judge(still, MakeFrame(64, 48, 10, 3)));

  // A size change only resets the reference, however different the frames.
  Current() = MakeFrame(32, 48, 200, 4);
  EXPECT_FALSE(detector.Detect());
  Current() = MakeFrame(32, 48, 10, 4);
  EXPECT_TRUE(detector.Detect());
  // A frame shorter than its header says is never read past its end.
  VideoFrame truncated = MakeFrame(32, 48, 10, 5);
  truncated.pixels.SetLength(100);
  Current() = truncated;
  EXPECT_FALSE(detector.Detect());
  EXPECT_FALSE(detector.IsPixelChanged(31, 47));
}

TEST(MotionDetectorSettings, LoadsZonesSizeAndThresholdOfItsCamera) {
  IniFile ini;
  const std::string camera = "Pattern   NO.1";
  ini.SetString(camera, "SENSIBLE_ZONES", "10,20,110,80$150,30,200,90");
  ini.SetString(camera, "MASK_ZONES", "20,30,40,50");
  ini.SetString(camera, "ZONE_SIZE", "320,240");
  ini.SetInt(camera, "THRESHOLD", 0);
  MotionDetector detector(nullptr, camera);
  detector.LoadZoneSettings(ini);
  ZoneList sensible, mask;
  detector.GetZones(sensible, mask);
  EXPECT_EQ(FormatZoneList(sensible), "10,20,110,80$150,30,200,90");
  EXPECT_EQ(FormatZoneList(mask), "20,30,40,50");
  EXPECT_EQ(detector.ZoneWidth(), 320);
  EXPECT_EQ(detector.ZoneHeight(), 240);
  EXPECT_EQ(detector.Threshold(), 1);

  // An unreadable size leaves the zones without a size.
  ini.SetString("Other", "ZONE_SIZE", "320x240");
  MotionDetector other(nullptr, "Other");
  other.LoadZoneSettings(ini);
  EXPECT_EQ(other.ZoneWidth(), 0);
  EXPECT_EQ(other.Threshold(), 20);
}

// A detector whose verdicts are scripted, counting its hook calls.
class ScriptedDetector : public DetectorThread {
 public:
  ScriptedDetector() {
    SetFrameSource([this](VideoFrame&) { return frameReady; });
  }
  ~ScriptedDetector() override { SetRunning(false); }
  bool Detect() override {
    bool verdict = verdicts.empty() ? false : verdicts.front();
    if (!verdicts.empty()) verdicts.pop_front();
    return verdict;
  }
  void OnMotion() override {
    beginFlags.push_back(MotionBegins());
    ClearMotionBegins();
  }
  void OnMotionEnd() override { ++ends; }

  // Runs one check with the given verdict at tick now.
  void Check(bool verdict, std::uint32_t now) {
    verdicts.push_back(verdict);
    EXPECT_EQ(Poll(now), 0) << "no check at " << now;
  }

  bool frameReady = true;
  std::deque<bool> verdicts;
  std::vector<bool> beginFlags;
  int ends = 0;
};

TEST(DetectorStateMachine, PacingAndStartOfAPeriod) {
  ScriptedDetector d;
  d.ResetMotionState(1000);
  // Idle: nothing before 200 ms have passed since the last check.
  EXPECT_EQ(d.Poll(1100), DetectorThread::kIdleSleepMs);
  d.frameReady = false;
  EXPECT_EQ(d.Poll(1200), DetectorThread::kFramePollMs);
  d.frameReady = true;

  // Two detections and a quiet check start nothing.
  d.Check(true, 1200);
  d.Check(true, 1210);  // counting: no pacing
  d.Check(false, 1220);
  EXPECT_TRUE(d.beginFlags.empty());
  EXPECT_FALSE(d.InMotion());
  EXPECT_EQ(d.Poll(1230), DetectorThread::kIdleSleepMs);

  // Three in a row start a period; the third check runs OnMotion with
  // motion begins set.
  d.Check(true, 1420);
  d.Check(true, 1430);
  d.Check(true, 1440);
  EXPECT_TRUE(d.InMotion());
  EXPECT_EQ(d.beginFlags, std::vector<bool>{true});
}

TEST(DetectorStateMachine, AsksForWholePicturesOnlyNearChecksAndDuringMotion) {
  ScriptedDetector d;
  d.ResetMotionState(1000);
  d.Check(false, 1200);
  // Between checks the camera may keep only its JPEG of a frame ...
  EXPECT_EQ(d.Poll(1210), DetectorThread::kIdleSleepMs);
  EXPECT_FALSE(d.WantsPixels());
  EXPECT_EQ(d.Poll(1399), DetectorThread::kIdleSleepMs);
  EXPECT_FALSE(d.WantsPixels());
  // ... until a check wants a frame, which it waits for.
  d.frameReady = false;
  EXPECT_EQ(d.Poll(1400), DetectorThread::kFramePollMs);
  EXPECT_TRUE(d.WantsPixels());
  d.frameReady = true;
  d.Check(false, 1405);
  EXPECT_FALSE(d.WantsPixels());
  // A pending detection and a motion period judge every frame.
  d.Check(true, 1605);
  EXPECT_TRUE(d.WantsPixels());
  d.Check(true, 1610);
  d.Check(true, 1620);
  EXPECT_TRUE(d.InMotion());
  EXPECT_TRUE(d.WantsPixels());
}

TEST(DetectorStateMachine, PeriodEndsAfterMinimumTimeAndThreeQuietChecks) {
  ScriptedDetector d;
  d.ResetMotionState(0);
  d.Check(true, 200);
  d.Check(true, 210);
  d.Check(true, 220);  // period starts at 220
  // Quiet checks inside the minimum time keep the period going.
  d.Check(false, 1000);
  d.Check(false, 2000);
  d.Check(false, 3000);
  d.Check(false, 5220);  // exactly 5 s: not yet over
  EXPECT_TRUE(d.InMotion());
  // Motion resets the quiet count but not the start time.
  d.Check(true, 5300);
  d.Check(false, 5400);
  d.Check(false, 5500);
  EXPECT_TRUE(d.InMotion());
  d.Check(false, 5600);
  EXPECT_FALSE(d.InMotion());
  EXPECT_EQ(d.ends, 1);
  // OnMotion ran at every check of the period but the last.
  EXPECT_EQ(d.beginFlags.size(), 8u);
  EXPECT_TRUE(d.beginFlags[0]);
  for (size_t i = 1; i < d.beginFlags.size(); ++i) EXPECT_FALSE(d.beginFlags[i]);

  // Continuous motion never ends the period; a shorter minimum applies at once.
  int minimum = 60;
  d.SetMinimumSecondsSource([&minimum] { return minimum; });
  d.Check(true, 10000);
  d.Check(true, 10010);
  d.Check(true, 10020);
  for (std::uint32_t t = 10030; t < 20000; t += 100) d.Check(true, t);
  for (std::uint32_t t = 20000; t < 20300; t += 100) d.Check(false, t);
  EXPECT_TRUE(d.InMotion());
  minimum = 1;
  d.Check(false, 20300);
  EXPECT_FALSE(d.InMotion());
  EXPECT_EQ(d.ends, 2);
}

TEST(DetectorStateMachine, BetweenChecksEveryJpegReachesThePreEventHookOnceAndInOrder) {
  struct Keeper : DetectorThread {
    ~Keeper() override { SetRunning(false); }
    bool WantsEveryFrame() const override { return true; }
    bool JpegSufficesBetweenChecks() const override { return true; }
    void OnFrameOutsideMotion() override {
      seen.push_back(CurrentFrame().sequence);
      if (CurrentFrame().jpeg.empty()) ++withoutJpeg;
    }
    std::vector<std::uint64_t> seen;
    int withoutJpeg = 0;
  } d;
  FrameBuffer buffer;
  d.SetFrameSource(&buffer);
  d.ResetMotionState(0);
  // A camera at 30 frames per second for two seconds of ticks, each frame
  // with its JPEG; the detector polled whenever its last answer says.
  std::uint64_t stored = 0;
  int polls = 0;
  std::uint32_t wake = 200;
  for (std::uint32_t now = 200; now < 2200; ++now) {
    if ((now - 200) % 33 == 0) {
      VideoFrame f = MakeFrame(8, 4, 0, static_cast<int>(now));
      std::vector<std::uint8_t> jpeg = {0xFF, 0xD8, 0xFF, 0xD9};
      buffer.SwapIn(f.pixels, jpeg, f.header, f.captureTime);
      ++stored;
    }
    if (now < wake) continue;
    ++polls;
    wake = now + static_cast<std::uint32_t>(std::max(1, d.Poll(now)));
  }
  // Every frame but those stored since the last poll went through the hook,
  // once each, oldest first, and always with its JPEG.
  ASSERT_GE(d.seen.size(), stored - 6);
  for (std::size_t i = 0; i < d.seen.size(); ++i) EXPECT_EQ(d.seen[i], i + 1) << i;
  EXPECT_EQ(d.withoutJpeg, 0);
  // Without waking for each frame (61 of them): two polls per check.
  EXPECT_LE(polls, 2 * (2000 / DetectorThread::kIdleIntervalMs) + 1);
  EXPECT_FALSE(d.InMotion());
}

TEST(DetectorThreadRun, StartsStopsAndFindsMotionInRealFrames) {
  ScriptedDetector idle;
  EXPECT_TRUE(idle.SetRunning(false));  // not running: returns at once

  // A real detector on a frame buffer: a changing picture starts a period.
  struct Recorder : MotionDetector {
    ~Recorder() override { SetRunning(false); }
    void OnMotion() override {
      if (MotionBegins()) ++periods;
      ClearMotionBegins();
    }
    std::atomic<int> periods{0};
  } detector;
  FrameBuffer buffer;
  detector.SetFrameSource(&buffer);
  ASSERT_TRUE(detector.SetRunning(true));
  EXPECT_TRUE(detector.SetRunning(true));
  EXPECT_TRUE(detector.IsRunning());
  std::uint32_t seed = 12345;
  for (int i = 0; i < 400 && detector.periods.load() == 0; ++i) {
    // Noise: any two frames differ almost everywhere.
    VideoFrame frame = MakeFrame(64, 48, 0, i + 1);
    for (int b = 0; b < frame.pixels.Length(); ++b) {
      seed ^= seed << 13;
      seed ^= seed >> 17;
      seed ^= seed << 5;
      frame.pixels.Data()[b] = static_cast<std::uint8_t>(seed);
    }
    buffer.StoreFrame(frame.pixels.Data(), frame.header, frame.captureTime);
    SleepMs(10);
  }
  EXPECT_EQ(detector.periods.load(), 1);
  EXPECT_TRUE(detector.SetRunning(false));
  EXPECT_FALSE(detector.IsRunning());
  EXPECT_FALSE(detector.ThreadAlive());

  // Applying zones stops the thread, and it stays stopped.
  ASSERT_TRUE(detector.SetRunning(true));
  detector.SetZones(ZoneList{}, ZoneList{});
  EXPECT_FALSE(detector.IsRunning());
  EXPECT_FALSE(detector.ThreadAlive());
}


// The test pattern camera moves its object for 1 s of every 3 s. A detector
// watching it sees one motion period per cycle, starting shortly after the
// object starts and ending shortly after it stops.
TEST(DetectorOnPatternCamera, MotionPeriodsFollowThePatternCycle) {
  struct Periods : MotionDetector {
    ~Periods() override { SetRunning(false); }
    void OnMotion() override {
      if (MotionBegins()) {
        std::lock_guard<std::mutex> lock(mutex);
        starts.push_back(TickCount());
      }
      ClearMotionBegins();
    }
    void OnMotionEnd() override {
      std::lock_guard<std::mutex> lock(mutex);
      ends.push_back(TickCount());
    }
    std::mutex mutex;
    std::vector<std::uint32_t> starts, ends;
  } detector;
  // Whole picture at 1%: the moving square changes a few percent of it.
  detector.SetThreshold(1);
  detector.SetMinimumSecondsSource([] { return 0; });

  CaptureDevice device;
  ASSERT_TRUE(device.Open(std::make_unique<PatternSource>(
      ParsePatternParameters("pattern 320x240@5 motion=1 still=2"))));
  detector.SetDevice(&device);
  ASSERT_TRUE(device.Start());
  ASSERT_TRUE(detector.SetRunning(true));
  EXPECT_TRUE(device.IsDetecting());
  SleepMs(7600);
  detector.SetRunning(false);
  device.Stop();

  std::lock_guard<std::mutex> lock(detector.mutex);
  ASSERT_GE(detector.starts.size(), 2u);
  ASSERT_GE(detector.ends.size(), 2u);
  for (size_t i = 0; i < 2; ++i) {
    const std::uint32_t length = detector.ends[i] - detector.starts[i];
    EXPECT_GT(length, 300u) << "period " << i;
    EXPECT_LT(length, 2500u) << "period " << i;
  }
  const std::uint32_t spacing = detector.starts[1] - detector.starts[0];
  EXPECT_GT(spacing, 2000u);
  EXPECT_LT(spacing, 4000u);
}

}  // namespace
}  // namespace qmr
