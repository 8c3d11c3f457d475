// What a frame is compared with: the previous check or the background, and
// the light-change guard. Clips are made by ffmpeg at test time and played
// to a detector on a simulated clock, so a minute of video takes seconds.
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "base/log_file.h"
#include "base/process.h"
#include "capture/video_frame.h"
#include "config/ini_file.h"
#include "motion/motion_detector.h"
#include "motion/pixel_count.h"
#include "motion_test_support.h"

namespace qmr {
namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 480;
constexpr int kFps = 30;

// Frames of an ffmpeg filter graph, bottom-up BGR24 like a camera's.
class Clip {
 public:
  Clip(const std::string& graph, int width = kWidth, int height = kHeight)
      : bytes_(static_cast<size_t>(width) * height * 3) {
    const std::string command = "ffmpeg -v error -nostdin -f lavfi -i \"" + graph +
                                "\" -vf vflip -f rawvideo -pix_fmt bgr24 -";
    pipe_ = popen(command.c_str(), "r");
  }
  ~Clip() {
    if (pipe_ != nullptr) pclose(pipe_);
  }
  bool Next(std::vector<std::uint8_t>& frame) {
    frame.resize(bytes_);
    return pipe_ != nullptr && fread(frame.data(), 1, bytes_, pipe_) == bytes_;
  }

 private:
  size_t bytes_;
  FILE* pipe_ = nullptr;
};

// A detector counting its motion periods, with their start and end ticks.
struct PeriodCounter : MotionDetector {
  PeriodCounter() : MotionDetector(nullptr, "Clip   NO.1") {}
  ~PeriodCounter() override { SetRunning(false); }
  void OnMotion() override {
    if (MotionBegins()) starts.push_back(CheckTime());
    ClearMotionBegins();
  }
  void OnMotionEnd() override { ends.push_back(CheckTime()); }
  std::vector<std::uint32_t> starts, ends;
};

// Plays a clip to the detector as its worker thread would see it: frames
// arrive every 1000 / kFps ms, of which the capture hands on every
// `deliverEvery`-th (1 in high speed mode; 2 when the leisurely capture drops
// the frames that come while the frame thread is busy); the frame buffer
// holds only the newest; a check takes 2 ms. Returns the frames played.
int Play(PeriodCounter& detector, Clip& clip, int deliverEvery) {
  std::vector<std::uint8_t> pixels;
  int read = -1;       // index of the frame in pixels
  int delivered = -1;  // index of the last frame handed to the detector
  int held = -1;       // index of the frame in the frame buffer
  detector.SetFrameSource([&](VideoFrame& frame) {
    if (held < 0 || held == delivered) return false;
    frame = test::MakeFrame(kWidth, kHeight, 0, held * 1000 / kFps);
    std::memcpy(frame.pixels.Data(), pixels.data(), pixels.size());
    delivered = held;
    return true;
  });
  detector.ResetMotionState(0);
  double now = 0;
  for (;;) {
    const int arrived = static_cast<int>(std::floor(now * kFps / 1000.0));
    bool ended = false;
    while (read < arrived) {
      if (!clip.Next(pixels)) {
        ended = true;
        break;
      }
      ++read;
      if (read % deliverEvery == 0) held = read;
    }
    if (ended) break;
    const int sleep = detector.Poll(static_cast<std::uint32_t>(now));
    now += sleep > 0 ? sleep : 2;
  }
  return read;
}

// A grey room with a lighter wall.
std::string Room(int seconds) {
  std::ostringstream graph;
  graph << "color=c=0x505050:s=" << kWidth << "x" << kHeight << ":r=" << kFps << ":d=" << seconds
        << "[room];color=c=0x707068:s=200x" << kHeight << ":r=" << kFps
        << "[wall];[room][wall]overlay=x=440:y=0:shortest=1";
  return graph.str();
}

// Noise of its own on every colour channel of every frame; strength 8 is
// about 4.5 levels of standard deviation, 4 half of that.
std::string Noisy(const std::string& graph, int strength = 4) {
  return graph + ",format=rgb24,noise=alls=" + std::to_string(strength) + ":allf=t";
}

// A solid box a quarter of the picture high, x given as an ffmpeg
// expression of t, shown while enable is true.
std::string WithBox(const std::string& graph, const std::string& x, const std::string& enable) {
  return graph + "[scene];color=c=0xc8c0b8:s=120x120:r=" + std::to_string(kFps) +
         "[box];[scene][box]overlay=x='" + x + "':y=180:enable='" + enable + "':shortest=1";
}

// Two crossings at 160 pixels a second (a person walking across a room),
// one every 10 seconds.
std::string Crossings() {
  return Noisy(WithBox(Room(20), "-120+160*mod(t\\,10)", "lt(mod(t\\,10)\\,4.75)"));
}

void Prepare(PeriodCounter& detector, int reference) {
  detector.SetThreshold(2);
  detector.SetReference(reference);
  detector.SetMinimumSecondsSource([] { return 2; });
}

TEST(BackgroundReference, EachSlowCrossingMakesOnePeriod) {
  for (int deliverEvery : {1, 2}) {
    SCOPED_TRACE(deliverEvery == 1 ? "high speed" : "leisurely");
    PeriodCounter background;
    Prepare(background, MotionDetector::kBackground);
    Clip clip(Crossings());
    ASSERT_EQ(Play(background, clip, deliverEvery), 20 * kFps - 1);
    ASSERT_EQ(background.starts.size(), 2u);
    ASSERT_EQ(background.ends.size(), 2u);
    for (int i = 0; i < 2; ++i) {
      // The box enters at 0 s and 10 s, and has left at 4.75 s and 14.75 s.
      EXPECT_LT(background.starts[i], 10000u * i + 1500) << i;
      EXPECT_GT(background.ends[i], 10000u * i + 4000) << i;
      EXPECT_LT(background.ends[i], 10000u * i + 7500) << i;
    }

    // Compared with the previous check the same crossings go unseen: between
    // two checks the box changes only thin strips at its edges.
    PeriodCounter previous;
    Prepare(previous, MotionDetector::kPreviousCheck);
    Clip again(Crossings());
    Play(previous, again, deliverEvery);
    EXPECT_EQ(previous.starts.size(), 0u);
  }
}

TEST(BackgroundReference, NoiseAloneMakesNoEventInAMinute) {
  PeriodCounter detector;
  Prepare(detector, MotionDetector::kBackground);
  // With this much noise nearly 2 % of the samples differ between two
  // frames, but hardly any from the noise's middle.
  Clip clip(Noisy(Room(60), 8));
  ASSERT_EQ(Play(detector, clip, 1), 60 * kFps - 1);
  EXPECT_EQ(detector.starts.size(), 0u);
}

TEST(BackgroundReference, AStoppedObjectBecomesBackground) {
  // The box walks in and stops in the middle of the picture at 3 s.
  PeriodCounter detector;
  Prepare(detector, MotionDetector::kBackground);
  Clip clip(Noisy(WithBox(Room(16), "min(-120+160*t\\,360)", "1")));
  Play(detector, clip, 1);
  ASSERT_EQ(detector.starts.size(), 1u);
  ASSERT_EQ(detector.ends.size(), 1u);
  // Settled within the stated time, and three quiet checks later the period
  // is over.
  EXPECT_LT(detector.ends[0], 3000u + MotionDetector::kBackgroundSettleSeconds * 1000 + 1000);
}

// The light jumps up at 2 s; in one clip a box then runs across at 4 s.
std::string LightJump(bool box) {
  std::string graph = Room(10) + "[dim];color=c=0x909090:s=" + std::to_string(kWidth) + "x" +
                      std::to_string(kHeight) + ":r=" + std::to_string(kFps) +
                      "[light];[dim][light]overlay=enable='gte(t\\,2)':shortest=1";
  // Fast enough to be seen against the previous check too.
  if (box) graph = WithBox(graph, "-120+1200*(t-4)", "between(t\\,4\\,4.7)");
  return Noisy(graph);
}

TEST(LightSwitch, ALightChangeIsNoMotionButWhatMovesAfterItIs) {
  for (int reference : {MotionDetector::kPreviousCheck, MotionDetector::kBackground}) {
    SCOPED_TRACE(reference);
    PeriodCounter light;
    Prepare(light, reference);
    light.SetLightSwitchSource([] { return 60; });
    Clip jump(LightJump(false));
    Play(light, jump, 1);
    EXPECT_EQ(light.starts.size(), 0u);
    EXPECT_GE(light.LightChangesIgnored(), 1);

    PeriodCounter box;
    Prepare(box, reference);
    box.SetLightSwitchSource([] { return 60; });
    Clip jumpAndBox(LightJump(true));
    Play(box, jumpAndBox, 1);
    ASSERT_EQ(box.starts.size(), 1u);
    EXPECT_GT(box.starts[0], 4000u);

    // Without the guard the jump itself is an event against the background
    // (against the previous check it is a single changed check).
    if (reference != MotionDetector::kBackground) continue;
    PeriodCounter unguarded;
    Prepare(unguarded, reference);
    Clip jumpAgain(LightJump(false));
    Play(unguarded, jumpAgain, 1);
    EXPECT_EQ(unguarded.starts.size(), 1u);
  }
}

// Synthetic frames for the guard's bookkeeping.
struct Stepper : MotionDetector {
  Stepper() : MotionDetector(nullptr, "Lamp   NO.1") {}
  // One check of a frame of the given level at tick now.
  bool Check(std::uint8_t level, std::uint32_t now) {
    SetFrameSource([level, now](VideoFrame& frame) {
      frame = test::MakeFrame(64, 48, level, static_cast<int>(now));
      return true;
    });
    ResetMotionState(now - 1000);
    const int before = LightChangesIgnored();
    Poll(now);
    return LightChangesIgnored() > before;
  }
};

TEST(LightSwitch, LoggedOnceAMinuteAndOnlyAboveTheSensitivity) {
  char pattern[] = "/tmp/qmr_light_XXXXXX";
  const std::string folder = mkdtemp(pattern);
  SetApplicationFolder(folder);
  LogFile::ResetPath();
  Stepper detector;
  detector.SetThreshold(20);
  int percent = 60;
  detector.SetLightSwitchSource([&percent] { return percent; });
  detector.Check(50, 1000);
  EXPECT_TRUE(detector.Check(150, 2000));
  EXPECT_TRUE(detector.Check(50, 30000));
  EXPECT_TRUE(detector.Check(150, 62000));
  std::ifstream log(LogFile::Path());
  std::string text((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
  size_t lines = 0;
  for (size_t at = text.find("light change ignored"); at != std::string::npos;
       at = text.find("light change ignored", at + 1)) {
    ++lines;
  }
  EXPECT_EQ(lines, 2u);
  EXPECT_NE(text.find("Lamp   NO.1: light change ignored"), std::string::npos);

  // A guard at or below the sensitivity would swallow every motion: off.
  percent = 20;
  EXPECT_FALSE(detector.Check(50, 63000));
  percent = 0;
  EXPECT_FALSE(detector.Check(150, 64000));
  LogFile::ResetPath();
  std::system(("rm -rf '" + folder + "'").c_str());
}

TEST(BackgroundReference, StepMovesBytesByTheirOwnLimit) {
  // Across every pair of levels the fast path equals the byte-by-byte one.
  std::vector<std::uint8_t> background, current;
  for (int b = 0; b < 256; ++b) {
    for (int c = 0; c < 256; ++c) {
      background.push_back(static_cast<std::uint8_t>(b));
      current.push_back(static_cast<std::uint8_t>(c));
    }
  }
  for (int quiet : {0, 1, 3, 255}) {
    for (int changed : {0, 2, 40, 255}) {
      std::vector<std::uint8_t> fast = background, slow = background;
      StepBackground(fast.data(), current.data(), static_cast<int>(fast.size()), quiet, changed);
      StepBackgroundScalar(slow.data(), current.data(), static_cast<int>(slow.size()), quiet,
                           changed);
      ASSERT_EQ(fast, slow) << quiet << " " << changed;
    }
  }
  std::uint8_t bg[2] = {100, 100};
  const std::uint8_t now[2] = {110, 200};
  StepBackgroundScalar(bg, now, 2, 3, 7);
  EXPECT_EQ(bg[0], 103);  // within 16 levels: the quiet step
  EXPECT_EQ(bg[1], 107);  // further: the changed step
}

TEST(BackgroundReference, ReadFromTheCameraSection) {
  IniFile ini;
  ini.SetString("Tuned   NO.1", "THRESHOLD", "12");
  ini.SetString("Format   NO.1", "IMAGE_WIDTH", "640");
  ini.SetString("Chosen   NO.1", "THRESHOLD", "12");
  ini.SetString("Chosen   NO.1", "REFERENCE", "1");
  // A sensitivity from before the choice existed keeps its comparison; a
  // camera without one (or without a section) is new and gets the background.
  const std::pair<const char*, int> cases[] = {
      {"Tuned   NO.1", 0}, {"Format   NO.1", 1}, {"Chosen   NO.1", 1}, {"New   NO.1", 1}};
  for (const auto& [name, expected] : cases) {
    MotionDetector detector(nullptr, name);
    detector.LoadZoneSettings(ini);
    EXPECT_EQ(detector.GetReference(), expected) << name;
  }
  MotionDetector detector;
  detector.SetReference(7);
  EXPECT_EQ(detector.GetReference(), MotionDetector::kPreviousCheck);
}

}  // namespace
}  // namespace qmr
