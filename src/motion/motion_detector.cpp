#include "motion/motion_detector.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

#include "base/app_context.h"
#include "base/log_file.h"
#include "capture/capture_device.h"
#include "capture/video_frame.h"
#include "config/ini_file.h"
#include "config/settings.h"
#include "motion/pixel_count.h"
#include "motion/pixel_test.h"

namespace qmr {

namespace {

// Whole pixel value of a zone coordinate, truncated toward zero and kept in
// range (coordinates come from the settings file and the editor).
long long Whole(double value) {
  if (!(value == value)) return 0;
  return static_cast<long long>(std::clamp(std::trunc(value), -1e12, 1e12));
}

// Pixels per run compared with memcmp before any pixel is judged: a run that
// did not change at all is skipped. Even, so the 2-pixel sampling grid keeps
// its phase across runs.
constexpr int kRunPixels = 256;

struct MaskSpan {
  double left;
  double right;
};

}  // namespace

// One check's walk over the examined points.
struct MotionScan {
  std::uint8_t* reference = nullptr;  // stepped in place when step is set
  const std::uint8_t* current = nullptr;
  long long count = 0;
  // The walk ends as soon as count reaches stopAt; past countUntil the
  // verdict is settled and the walk only steps the background.
  long long stopAt = LLONG_MAX;
  long long countUntil = LLONG_MAX;
  bool step = false;
  int quietStep = 0;
  int changedStep = 0;
};

namespace {

// Judges the sampled pixels x = xs, xs + step, ... < xe of the stored row at
// rowOffset, skipping points inside any span, and steps the background over
// every run that differs. Returns true as soon as the count reaches stopAt.
bool ScanRow(MotionScan& scan, size_t rowOffset, long long xs, long long xe,
             const std::vector<MaskSpan>& skips) {
  std::uint8_t* reference = scan.reference + rowOffset;
  const std::uint8_t* current = scan.current + rowOffset;
  for (long long runStart = xs; runStart < xe; runStart += kRunPixels) {
    const long long runEnd = std::min<long long>(runStart + kRunPixels, xe);
    // The last sampled pixel of the run starts before runEnd, so its three
    // bytes end at or before 3 * runEnd.
    const size_t offset = static_cast<size_t>(runStart) * 3;
    const size_t bytes = static_cast<size_t>(runEnd - runStart) * 3;
    if (std::memcmp(reference + offset, current + offset, bytes) == 0) continue;
    if (scan.count >= scan.countUntil) {
      // Nothing to count any more.
    } else if (skips.empty()) {
      // The count only grows, so judging a whole run before comparing with
      // the limit gives the same verdict as comparing after every pixel.
      scan.count += CountChangedSamples(reference + offset, current + offset,
                                        static_cast<int>(runEnd - runStart));
    } else {
      for (long long x = runStart; x < runEnd; x += MotionDetector::kStepX) {
        const double fx = static_cast<double>(x);
        bool masked = false;
        for (const MaskSpan& span : skips) {
          if (span.left <= fx && fx <= span.right) {
            masked = true;
            break;
          }
        }
        if (masked) continue;
        const size_t at = static_cast<size_t>(x) * 3;
        if (PixelChanged(reference + at, current + at) && ++scan.count >= scan.stopAt) {
          return true;
        }
      }
    }
    if (scan.step) {
      StepBackground(reference + offset, current + offset, static_cast<int>(bytes), scan.quietStep,
                     scan.changedStep);
    }
    if (scan.count >= scan.stopAt) return true;
  }
  return false;
}

// Area of the part of a zone that lies on a width x height picture, in
// whole pixels. Only that part is ever examined, so only it may count
// towards the trigger; a zone outside the picture or turned inside out
// counts nothing.
long long VisibleArea(const Zone& zone, int width, int height) {
  const long long w = Whole(std::min<double>(zone.right, width) - std::max(zone.left, 0.0));
  const long long h = Whole(std::min<double>(zone.bottom, height) - std::max(zone.top, 0.0));
  return w > 0 && h > 0 ? w * h : 0;
}

// First value >= lower on the grid start, start + step, ...
long long FirstOnGrid(long long start, long long lower, long long step) {
  if (start >= lower) return start;
  const long long steps = (lower - start + step - 1) / step;
  return start + steps * step;
}

}  // namespace

MotionDetector::MotionDetector(AppContext* context, std::string cameraName)
    : context_(context), cameraName_(std::move(cameraName)) {
  if (context_ != nullptr) {
    AppContext* ctx = context_;
    SetMinimumSecondsSource([ctx] { return ctx->Settings().Get().duration; });
    SetLightSwitchSource([ctx] { return ctx->Settings().Get().lightSwitch; });
  }
}

MotionDetector::~MotionDetector() { SetRunning(false); }

void MotionDetector::SetDevice(CaptureDevice* device) {
  device_ = device;
  if (device == nullptr) {
    SetFrameSource(static_cast<FrameBuffer*>(nullptr));
    return;
  }
  SetFrameSource(&device->Frames());
  device->SetMotionDetector(this);
}

void MotionDetector::LoadZoneSettings(const IniFile& ini) {
  if (ini.GetKeyCount(cameraName_) <= 0) {
    SetReference(kBackground);  // a camera never set up before
    return;
  }
  std::string text;
  ini.GetString(cameraName_, "SENSIBLE_ZONES", "", text);
  if (!text.empty()) LoadZones(text, false);
  text.clear();
  ini.GetString(cameraName_, "MASK_ZONES", "", text);
  if (!text.empty()) LoadZones(text, true);
  text.clear();
  ini.GetString(cameraName_, "ZONE_SIZE", "", text);
  int width = 0;
  int height = 0;
  if (std::sscanf(text.c_str(), "%d,%d", &width, &height) == 2) SetZoneSize(width, height);
  int threshold = kDefaultThreshold;
  ini.GetInt(cameraName_, "THRESHOLD", kDefaultThreshold, threshold);
  // Clamped like the editor's value, so a stored 0 behaves after a restart
  // as it did when it was entered.
  SetThreshold(threshold);
  int stored = 0;
  const bool tuned = ini.GetInt(cameraName_, "THRESHOLD", kDefaultThreshold, stored);
  int reference = tuned ? kPreviousCheck : kBackground;
  ini.GetInt(cameraName_, "REFERENCE", reference, reference);
  SetReference(reference);
}

void MotionDetector::SetReference(int reference) {
  reference_ = reference == kBackground ? kBackground : kPreviousCheck;
  restartReference_ = true;
}

void MotionDetector::SetLightSwitchSource(std::function<int()> source) {
  lightSwitch_ = std::move(source);
}

int MotionDetector::LightSwitchPercent() const {
  return lightSwitch_ ? std::clamp(lightSwitch_(), 0, 100) : 0;
}

void MotionDetector::LoadZones(const std::string& text, bool isMask) {
  std::lock_guard<std::mutex> lock(zonesMutex_);
  ParseZoneList(text, isMask, isMask ? maskZones_ : sensibleZones_);
  ZonesChanged();
}

void MotionDetector::SetZones(const ZoneList& sensible, const ZoneList& mask) {
  ClearZones();
  std::lock_guard<std::mutex> lock(zonesMutex_);
  CopyZones(sensible, sensibleZones_);
  CopyZones(mask, maskZones_);
  ZonesChanged();
}

void MotionDetector::GetZones(ZoneList& sensibleOut, ZoneList& maskOut) const {
  std::lock_guard<std::mutex> lock(zonesMutex_);
  CopyZones(sensibleZones_, sensibleOut);
  CopyZones(maskZones_, maskOut);
}

void MotionDetector::ClearZones() {
  SetRunning(false);
  std::lock_guard<std::mutex> lock(zonesMutex_);
  sensibleZones_.clear();
  maskZones_.clear();
  ZonesChanged();
}

void MotionDetector::SetZoneSize(int width, int height) {
  std::lock_guard<std::mutex> lock(zonesMutex_);
  zoneWidth_ = width;
  zoneHeight_ = height;
  ZonesChanged();
}

bool MotionDetector::ZonesApply(int width, int height) const {
  return width == zoneWidth_.load() && height == zoneHeight_.load() && !sensibleZones_.empty();
}

void MotionDetector::ComputeTriggerCount(int width, int height) {
  long long area = 0;
  {
    std::lock_guard<std::mutex> lock(zonesMutex_);
    if (ZonesApply(width, height)) {
      for (const auto& zone : sensibleZones_) area += VisibleArea(*zone, width, height);
      for (const auto& zone : maskZones_) area -= VisibleArea(*zone, width, height);
    } else {
      area = static_cast<long long>(width) * height;
    }
  }
  // 64-bit so that large pictures cannot overflow; a negative area (masks
  // larger than their zones) gives 0, the most sensitive count.
  const int threshold = Threshold();
  const long long count = threshold * area / (kStepX * kStepY * 100LL);
  triggerCount_ = static_cast<int>(std::clamp<long long>(count, 0, INT_MAX));
  // The light guard only means something above the sensitivity; at or
  // below it every motion would count as a light change.
  const int light = LightSwitchPercent();
  lightTrigger_ = light > threshold
                      ? std::max(1LL, light * std::max(area, 0LL) / (kStepX * kStepY * 100LL))
                      : 0;
  triggerLight_ = light;
}

bool MotionDetector::IsPixelChanged(int x, int y) const {
  const VideoFrame& current = CurrentFrame();
  const VideoFrame& reference = ReferenceFrame();
  if (current.pixels.Length() == 0 || reference.pixels.Length() == 0) return false;
  const long long width = current.Width();
  if (x < 0 || y < 0 || x >= width) return false;
  const long long offset = (static_cast<long long>(y) * width + x) * 3;
  if (offset + 3 > current.pixels.Length() || offset + 3 > reference.pixels.Length()) {
    return false;
  }
  return PixelChanged(reference.pixels.Data() + offset, current.pixels.Data() + offset);
}

bool MotionDetector::Detect() {
  VideoFrame& current = CurrentFrame();
  const VideoFrame& reference = ReferenceFrame();
  const bool background = reference_.load() == kBackground;
  if ((background && restartReference_.exchange(false)) || reference.pixels.Length() == 0 ||
      reference.header.width != current.header.width ||
      reference.header.height != current.header.height ||
      reference.header.bitCount != current.header.bitCount) {
    CopyCurrentToReference();
    haveStepTime_ = false;
    return false;
  }
  const int width = current.Width();
  const int height = current.Height();
  const long long frameBytes = static_cast<long long>(width) * height * 3;
  // Only whole 24-bit frames can be judged; anything else is no motion.
  if (width <= 0 || height <= 0 || current.header.bitCount != 24 ||
      current.pixels.Length() < frameBytes || reference.pixels.Length() < frameBytes) {
    return false;
  }

  const int threshold = Threshold();
  const unsigned version = zonesVersion_.load();
  if (triggerCount_.load() == 0 || threshold != triggerThreshold_ || version != triggerVersion_ ||
      width != triggerWidth_ || height != triggerHeight_ || LightSwitchPercent() != triggerLight_) {
    ComputeTriggerCount(width, height);
    triggerThreshold_ = threshold;
    triggerVersion_ = version;
    triggerWidth_ = width;
    triggerHeight_ = height;
  }

  MotionScan scan;
  scan.reference = ReferenceFrame().pixels.Data();
  scan.current = current.pixels.Data();
  const long long need = std::max<long long>(triggerCount_.load(), 1);
  if (background) {
    // Every examined point is visited, so that all of the background moves;
    // counting stops once the verdict is settled.
    BackgroundSteps(scan.quietStep, scan.changedStep);
    scan.step = scan.quietStep > 0 || scan.changedStep > 0;
    scan.countUntil = lightTrigger_ > 0 ? std::max(need, lightTrigger_) : need;
  } else {
    scan.stopAt = lightTrigger_ > 0 ? std::max(need, lightTrigger_) : need;
  }
  {
    std::lock_guard<std::mutex> lock(zonesMutex_);
    if (ZonesApply(width, height)) {
      DetectInZones(width, height, scan);
    } else {
      DetectWholePicture(width, height, scan);
    }
  }
  if (lightTrigger_ > 0 && scan.count >= lightTrigger_) {
    LightChange();
    return false;
  }
  return scan.count >= need;
}

void MotionDetector::UpdateReference() {
  if (reference_.load() != kBackground) DetectorThread::UpdateReference();
}

void MotionDetector::BackgroundSteps(int& quietStep, int& changedStep) {
  const std::uint32_t now = CheckTime();
  // A long pause (the thread was stopped) moves the background all the way.
  constexpr std::uint32_t kLongestStepMs = 60000;
  const std::uint32_t elapsed =
      haveStepTime_ ? std::min<std::uint32_t>(now - lastStepTime_, kLongestStepMs) : 0;
  haveStepTime_ = true;
  lastStepTime_ = now;
  auto step = [elapsed](long long& carry, int levelsPerSecond) {
    carry += static_cast<long long>(elapsed) * levelsPerSecond;
    const long long levels = std::min<long long>(carry / 1000, 255);
    carry = levels == 255 ? 0 : carry - levels * 1000;
    return static_cast<int>(levels);
  };
  quietStep = step(quietCarry_, kBackgroundQuietLevelsPerSecond);
  changedStep = step(changedCarry_, kBackgroundChangedLevelsPerSecond);
}

void MotionDetector::LightChange() {
  lightChanges_.fetch_add(1);
  // The light is what changed: the new picture is the reference from now on.
  if (reference_.load() == kBackground) CopyCurrentToReference();
  const std::uint32_t now = CheckTime();
  if (!lightLogged_ || now - lastLightLog_ >= kLightLogIntervalMs) {
    lightLogged_ = true;
    lastLightLog_ = now;
    LogFile::Writef("%s: light change ignored", cameraName_.c_str());
  }
}

void MotionDetector::DetectWholePicture(int width, int height, MotionScan& scan) {
  const size_t stride = static_cast<size_t>(width) * 3;
  const std::vector<MaskSpan> noSkips;
  for (int y = 0; y < height; y += kStepY) {
    if (ScanRow(scan, static_cast<size_t>(y) * stride, 0, width, noSkips)) return;
  }
}

void MotionDetector::DetectInZones(int width, int height, MotionScan& scan) {
  const size_t stride = static_cast<size_t>(width) * 3;
  std::vector<MaskSpan> spans;
  // The count is one total over all zones, and it only grows, so the order
  // in which points are visited cannot change the verdict: rows are walked
  // in memory order. Points outside the picture are never read.
  for (const auto& zone : sensibleZones_) {
    const long long left = Whole(zone->left);
    const long long right = Whole(zone->right);
    const long long top = Whole(zone->top);
    const long long bottom = Whole(zone->bottom);
    const long long xs = FirstOnGrid(left, 0, kStepX);
    const long long xe = std::min<long long>(right, width);
    const long long ys = FirstOnGrid(top, 0, kStepY);
    const long long ye = std::min<long long>(bottom, height);
    if (xs >= xe || ys >= ye) continue;
    for (long long y = ys; y < ye; y += kStepY) {
      spans.clear();
      const double fy = static_cast<double>(y);
      for (const auto& mask : maskZones_) {
        if (mask->top <= fy && fy <= mask->bottom) spans.push_back({mask->left, mask->right});
      }
      // Zone rows count from the top of the picture; stored rows from the
      // bottom.
      const size_t row = static_cast<size_t>(height - 1 - y) * stride;
      if (ScanRow(scan, row, xs, xe, spans)) return;
    }
  }
}

}  // namespace qmr
