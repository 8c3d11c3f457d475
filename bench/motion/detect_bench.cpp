// The cost of one motion check on a whole 640 x 480 frame, against one memcpy
// of the same frame measured in the same run:
//   all_changed: every sampled pixel changes and the threshold is 100, so no
//                early return cuts the scan short;
//   unchanged:   nothing changes, the usual case between two idle checks;
// and the same two against the background (REFERENCE=1), which is stepped
// toward the frame at every check: there the whole background moves at
// every check, and at threshold 100 every sampled pixel is also judged.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "capture/video_frame.h"
#include "motion/motion_detector.h"

namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 480;
constexpr int kBytes = kWidth * kHeight * 3;

struct BenchDetector : qmr::MotionDetector {
  using qmr::DetectorThread::CopyCurrentToReference;
  using qmr::DetectorThread::CurrentFrame;
};

// One idle check against the background, 200 ms after the last one.
bool BackgroundCheck(BenchDetector& detector, std::uint32_t& now) {
  now += 200;
  detector.ResetMotionState(now);  // the tick of the check
  return detector.Detect();
}

void Fill(qmr::VideoFrame& frame, std::uint8_t level) {
  frame.header.width = kWidth;
  frame.header.height = kHeight;
  frame.header.bitCount = 24;
  frame.header.sizeImage = kBytes;
  frame.pixels.Clear();
  frame.pixels.AppendFill(level, kBytes);
}

// Pictures with texture, so memcmp has real bytes to compare.
void Texture(qmr::VideoFrame& frame, int shift) {
  for (int i = 0; i < kBytes; ++i) {
    frame.pixels.Data()[i] = static_cast<std::uint8_t>((i * 7 + (i / 1920) * 3) % 200 + shift);
  }
}

void BM_Memcpy(benchmark::State& state) {
  std::vector<std::uint8_t> from(kBytes, 1), to(kBytes);
  for (auto _ : state) {
    std::memcpy(to.data(), from.data(), kBytes);
    benchmark::DoNotOptimize(to.data());
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_Memcpy);

void BM_DetectAllChanged(benchmark::State& state) {
  BenchDetector detector;
  detector.SetThreshold(100);
  Fill(detector.CurrentFrame(), 0);
  Texture(detector.CurrentFrame(), 0);
  detector.CopyCurrentToReference();
  Texture(detector.CurrentFrame(), 50);  // every byte 50 higher: Y = 42
  bool motion = false;
  for (auto _ : state) {
    motion = detector.Detect();
    benchmark::DoNotOptimize(motion);
  }
  if (!motion) state.SkipWithError("no motion seen");
}
BENCHMARK(BM_DetectAllChanged);

void BM_DetectUnchanged(benchmark::State& state) {
  BenchDetector detector;
  Fill(detector.CurrentFrame(), 0);
  Texture(detector.CurrentFrame(), 0);
  detector.CopyCurrentToReference();
  bool motion = true;
  for (auto _ : state) {
    motion = detector.Detect();
    benchmark::DoNotOptimize(motion);
  }
  if (motion) state.SkipWithError("motion seen in a still picture");
}
BENCHMARK(BM_DetectUnchanged);

void BM_BackgroundAllChanged(benchmark::State& state) {
  BenchDetector detector;
  detector.SetReference(qmr::MotionDetector::kBackground);
  detector.SetThreshold(static_cast<int>(state.range(0)));
  std::uint32_t now = 0;
  Fill(detector.CurrentFrame(), 0);
  Texture(detector.CurrentFrame(), 27);
  BackgroundCheck(detector, now);  // the background starts here
  // The frame swings about 27 levels either side of the background, which
  // moves 9 levels toward each in turn: every sampled pixel stays changed.
  qmr::VideoFrame other;
  Fill(other, 0);
  Texture(other, 55);
  Texture(detector.CurrentFrame(), 0);
  bool motion = false;
  for (auto _ : state) {
    motion = BackgroundCheck(detector, now);
    benchmark::DoNotOptimize(motion);
    std::swap(detector.CurrentFrame(), other);
  }
  if (!motion) state.SkipWithError("no motion seen");
}
BENCHMARK(BM_BackgroundAllChanged)->Arg(100)->Arg(20);

void BM_BackgroundUnchanged(benchmark::State& state) {
  BenchDetector detector;
  detector.SetReference(qmr::MotionDetector::kBackground);
  std::uint32_t now = 0;
  Fill(detector.CurrentFrame(), 0);
  Texture(detector.CurrentFrame(), 0);
  BackgroundCheck(detector, now);
  bool motion = true;
  for (auto _ : state) {
    motion = BackgroundCheck(detector, now);
    benchmark::DoNotOptimize(motion);
  }
  if (motion) state.SkipWithError("motion seen in a still picture");
}
BENCHMARK(BM_BackgroundUnchanged);

// Prints the usual table and then each check's time as a multiple of the
// memcpy's.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.iterations > 0) {
        real_[run.benchmark_name()] = run.GetAdjustedRealTime();
        cpu_[run.benchmark_name()] = run.GetAdjustedCPUTime();
      }
    }
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    if (real_["BM_Memcpy"] <= 0 || cpu_["BM_Memcpy"] <= 0) return;
    // CPU time as well: on a shared machine the wall clock also counts the
    // time other processes held the core.
    std::printf("\nDetect / memcpy of a 640x480 frame (same run)   real   cpu\n");
    std::printf("  every sampled pixel changed, threshold 100: %5.2f %5.2f (target <= 2)\n",
                Ratio(real_, "BM_DetectAllChanged"), Ratio(cpu_, "BM_DetectAllChanged"));
    std::printf("  nothing changed:                           %5.2f %5.2f (target <= 1)\n",
                Ratio(real_, "BM_DetectUnchanged"), Ratio(cpu_, "BM_DetectUnchanged"));
    std::printf("Against the background:\n");
    std::printf("  every sampled pixel changed, threshold 100: %5.2f %5.2f (target <= 2)\n",
                Ratio(real_, "BM_BackgroundAllChanged/100"),
                Ratio(cpu_, "BM_BackgroundAllChanged/100"));
    std::printf("  every sampled pixel changed, threshold 20:  %5.2f %5.2f (target <= 2)\n",
                Ratio(real_, "BM_BackgroundAllChanged/20"),
                Ratio(cpu_, "BM_BackgroundAllChanged/20"));
    std::printf("  nothing changed:                           %5.2f %5.2f (target <= 1)\n",
                Ratio(real_, "BM_BackgroundUnchanged"), Ratio(cpu_, "BM_BackgroundUnchanged"));
  }

 private:
  static double Ratio(std::map<std::string, double>& times, const char* name) {
    return times[name] / times["BM_Memcpy"];
  }
  std::map<std::string, double> real_;
  std::map<std::string, double> cpu_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
