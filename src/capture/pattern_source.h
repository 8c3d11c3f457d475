// The built-in test pattern camera: a fixed scene with one object that moves
// for some seconds and then stands still, on a repeating cycle. It is fully
// deterministic (the scene follows the frame count, not the clock), honours
// format and property changes like a real device, and is cheap to draw.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "base/process.h"
#include "capture/frame_source.h"

namespace qmr {

struct PatternParameters {
  int width = 320;
  int height = 240;
  int frameRate = 10;
  int motionSeconds = 4;  // the object moves this long ...
  int stillSeconds = 6;   // ... then stands still this long
};

// Reads "pattern [WxH][@rate] [motion=S] [still=S]"; unknown or bad parts
// keep their defaults.
PatternParameters ParsePatternParameters(const std::string& text);

class PatternSource : public FrameSource {
 public:
  static constexpr int kMinRate = 1;
  static constexpr int kMaxRate = 30;

  explicit PatternSource(const PatternParameters& parameters, std::string name = "Test pattern");
  ~PatternSource() override;

  bool Open() override { return true; }
  std::string DeviceName() const override { return name_; }
  bool Start(SampleSink& sink) override;
  void Stop() override;
  void Close() override { Stop(); }

  bool GetFormat(int& width, int& height, int& frameRate) override;
  bool SetFormat(int width, int height, int frameRate) override;
  int CapabilityCount() override;
  bool GetCapability(int index, VideoCapability& capability) override;
  bool GetPropertyRange(int property, PropertyRange& range) override;
  bool GetProperty(int property, long& value, long& flags) override;
  bool SetProperty(int property, long value, long flags) override;

  // Draws the picture of the given frame number into out (top-down BGR24,
  // width * 3 per row) at the current format and properties. Used by the
  // streaming thread; public so tests can look at a frame without a thread.
  void RenderFrame(std::uint64_t frameNumber, std::vector<std::uint8_t>& out, int& width,
                   int& height);
  // Whether the object moves in the given frame.
  bool InMotion(std::uint64_t frameNumber) const;

 private:
  static void ThreadMain(void* argument);
  void Run();
  void RebuildBackgroundLocked();
  void ObjectPosition(std::uint64_t frameNumber, int width, int height, int& x, int& y) const;

  const std::string name_;
  mutable std::mutex mutex_;  // format, properties and the background
  PatternParameters params_;
  const PatternParameters configured_;  // its default format
  std::vector<std::pair<int, int>> sizes_;
  long properties_[kVideoPropertyCount];
  long flags_[kVideoPropertyCount];
  bool backgroundValid_ = false;
  std::vector<std::uint8_t> background_;
  std::uint8_t objectColour_[3] = {0, 0, 0};

  SampleSink* sink_ = nullptr;
  std::atomic<bool> stop_{false};
  ThreadHandle thread_{0};
};

}  // namespace qmr
