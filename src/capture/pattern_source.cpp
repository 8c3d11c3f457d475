#include "capture/pattern_source.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <thread>

namespace qmr {

namespace {

// Side of the moving square: a third of the picture height.
int ObjectSize(int height) { return std::max(8, height / 3); }

constexpr std::pair<int, int> kSizes[] = {{160, 120}, {320, 240}, {640, 480}, {1280, 720}};

struct PropertyInfo {
  long minimum, maximum, step, defaultValue, flags;
};
// Ranges in the usual units of webcams, so that stored values look familiar.
constexpr PropertyInfo kPropertyInfo[kVideoPropertyCount] = {
    {-64, 64, 1, 0, kPropertyFlagManual},                            // Brightness
    {0, 200, 1, 100, kPropertyFlagManual},                           // Contrast
    {-180, 180, 1, 0, kPropertyFlagManual},                          // Hue
    {0, 200, 1, 100, kPropertyFlagManual},                           // Saturation
    {0, 100, 1, 50, kPropertyFlagManual},                            // Sharpness
    {50, 300, 1, 100, kPropertyFlagManual},                          // Gamma
    {0, 1, 1, 1, kPropertyFlagManual},                               // ColorEnable
    {2800, 6500, 10, 4600, kPropertyFlagManual | kPropertyFlagAuto},  // WhiteBalance
    {0, 2, 1, 0, kPropertyFlagManual},                               // BacklightCompensation
    {0, 100, 1, 0, kPropertyFlagManual | kPropertyFlagAuto},          // Gain
    {-8, 8, 1, 0, kPropertyFlagManual | kPropertyFlagAuto},           // Exposure
};

std::uint8_t Clamp(double v) { return static_cast<std::uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v)); }

bool ParseSize(const std::string& word, int& w, int& h, int& rate) {
  // WxH, WxH@R or @R
  const std::size_t at = word.find('@');
  const std::string size = word.substr(0, at);
  bool any = false;
  if (!size.empty()) {
    const std::size_t x = size.find('x');
    if (x == std::string::npos) return false;
    const int pw = std::atoi(size.substr(0, x).c_str());
    const int ph = std::atoi(size.substr(x + 1).c_str());
    if (pw < 16 || ph < 16 || pw > 1920 || ph > 1080) return false;
    w = pw & ~3;
    h = ph;
    any = true;
  }
  if (at != std::string::npos) {
    const int r = std::atoi(word.substr(at + 1).c_str());
    if (r >= PatternSource::kMinRate && r <= PatternSource::kMaxRate) rate = r;
    any = true;
  }
  return any;
}

}  // namespace

PatternParameters ParsePatternParameters(const std::string& text) {
  PatternParameters p;
  std::istringstream in(text);
  std::string word;
  while (in >> word) {
    if (word == "pattern" || word == "PATTERN") continue;
    const std::size_t eq = word.find('=');
    if (eq != std::string::npos) {
      const std::string key = word.substr(0, eq);
      const int value = std::atoi(word.substr(eq + 1).c_str());
      if (key == "motion" && value >= 0 && value <= 3600) p.motionSeconds = value;
      if (key == "still" && value >= 0 && value <= 3600) p.stillSeconds = value;
      continue;
    }
    ParseSize(word, p.width, p.height, p.frameRate);
  }
  return p;
}

PatternSource::PatternSource(const PatternParameters& parameters, std::string name)
    : name_(std::move(name)), params_(parameters), configured_(parameters) {
  for (const auto& s : kSizes) sizes_.push_back(s);
  if (std::find(sizes_.begin(), sizes_.end(), std::make_pair(params_.width, params_.height)) ==
      sizes_.end()) {
    sizes_.emplace_back(params_.width, params_.height);
  }
  params_.frameRate = std::clamp(params_.frameRate, kMinRate, kMaxRate);
  for (int i = 0; i < kVideoPropertyCount; ++i) {
    properties_[i] = kPropertyInfo[i].defaultValue;
    flags_[i] = kPropertyFlagManual;
  }
}

PatternSource::~PatternSource() { Stop(); }

bool PatternSource::Start(SampleSink& sink) {
  if (thread_.load() != 0) return true;
  sink_ = &sink;
  stop_.store(false);
  return StartThread(ThreadMain, this, thread_);
}

void PatternSource::Stop() {
  if (thread_.load() == 0) return;
  stop_.store(true);
  while (!WaitForThreadEnd(thread_, 5000, "test pattern")) {
  }
}

bool PatternSource::GetFormat(int& width, int& height, int& frameRate) {
  std::lock_guard<std::mutex> lock(mutex_);
  width = params_.width;
  height = params_.height;
  frameRate = params_.frameRate;
  return true;
}

bool PatternSource::SetFormat(int width, int height, int frameRate) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (width == 0 && height == 0) {
    // The default is the size and rate the camera was configured with.
    width = configured_.width;
    height = configured_.height;
    if (frameRate == 0) frameRate = configured_.frameRate;
  }
  if (std::find(sizes_.begin(), sizes_.end(), std::make_pair(width, height)) == sizes_.end()) {
    return false;
  }
  if (width != params_.width || height != params_.height) backgroundValid_ = false;
  params_.width = width;
  params_.height = height;
  params_.frameRate = std::clamp(frameRate, kMinRate, kMaxRate);
  return true;
}

int PatternSource::CapabilityCount() {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<int>(sizes_.size());
}

bool PatternSource::GetCapability(int index, VideoCapability& c) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (index < 0 || index >= static_cast<int>(sizes_.size())) return false;
  const auto [w, h] = sizes_[index];
  c = VideoCapability{};
  c.inputWidth = c.minWidth = c.maxWidth = w;
  c.inputHeight = c.minHeight = c.maxHeight = h;
  c.maxFrameRate = kMaxRate;
  c.minFrameRate = kMinRate;
  return true;
}

bool PatternSource::GetPropertyRange(int property, PropertyRange& range) {
  if (property < 0 || property >= kVideoPropertyCount) return false;
  const PropertyInfo& info = kPropertyInfo[property];
  range = PropertyRange{info.minimum, info.maximum, info.step, info.defaultValue, info.flags};
  return true;
}

bool PatternSource::GetProperty(int property, long& value, long& flags) {
  if (property < 0 || property >= kVideoPropertyCount) return false;
  std::lock_guard<std::mutex> lock(mutex_);
  value = properties_[property];
  flags = flags_[property];
  return true;
}

bool PatternSource::SetProperty(int property, long value, long flags) {
  if (property < 0 || property >= kVideoPropertyCount) return false;
  const PropertyInfo& info = kPropertyInfo[property];
  if (value < info.minimum || value > info.maximum) return false;
  std::lock_guard<std::mutex> lock(mutex_);
  properties_[property] = value;
  // Automatic mode (where offered) means the default picture.
  flags_[property] = (flags & kPropertyFlagAuto) && (info.flags & kPropertyFlagAuto)
                         ? kPropertyFlagAuto
                         : kPropertyFlagManual;
  backgroundValid_ = false;
  return true;
}

bool PatternSource::InMotion(std::uint64_t frameNumber) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const int cycle = params_.motionSeconds + params_.stillSeconds;
  if (params_.motionSeconds <= 0) return false;
  if (cycle <= 0 || params_.stillSeconds <= 0) return true;
  const std::uint64_t cycleFrames = static_cast<std::uint64_t>(cycle) * params_.frameRate;
  return frameNumber % cycleFrames < static_cast<std::uint64_t>(params_.motionSeconds) *
                                          params_.frameRate;
}

void PatternSource::ObjectPosition(std::uint64_t frameNumber, int width, int height, int& x,
                                   int& y) const {
  // Time the object has spent moving up to this frame: the still part of
  // every cycle does not count, so it stops where it was and later goes on.
  const std::uint64_t rate = static_cast<std::uint64_t>(params_.frameRate);
  const std::uint64_t motion = static_cast<std::uint64_t>(params_.motionSeconds) * rate;
  const std::uint64_t cycle = motion + static_cast<std::uint64_t>(params_.stillSeconds) * rate;
  std::uint64_t moved = frameNumber;
  if (motion == 0) {
    moved = 0;
  } else if (cycle > motion) {
    moved = (frameNumber / cycle) * motion + std::min(frameNumber % cycle, motion);
  }
  const double t = static_cast<double>(moved) / static_cast<double>(rate);
  const int size = ObjectSize(height);
  const int spanX = std::max(1, width - size);
  const int spanY = std::max(1, height - size);
  // A bounce across the picture, one crossing a second, with a slow swing up
  // and down: fast and large enough that frame-to-frame changes pass a few
  // percent of the picture, as a person walking past a camera would.
  const double px = std::fmod(t, 2.0);
  x = static_cast<int>((px < 1.0 ? px : 2.0 - px) * spanX);
  y = static_cast<int>((0.5 + 0.35 * std::sin(t * 1.3)) * spanY);
}

void PatternSource::RebuildBackgroundLocked() {
  const int w = params_.width, h = params_.height;
  const long* p = properties_;
  auto value = [&](int i) {
    return flags_[i] == kPropertyFlagAuto ? kPropertyInfo[i].defaultValue : p[i];
  };
  const double brightness = static_cast<double>(value(kPropBrightness));
  const double contrast = value(kPropContrast) / 100.0;
  const double hue = value(kPropHue) * M_PI / 180.0;
  const double saturation = value(kPropSaturation) / 100.0;
  const double gamma = value(kPropGamma) / 100.0;
  const bool colour = value(kPropColorEnable) != 0;
  const double balance = (value(kPropWhiteBalance) - 4600) / 8000.0;
  const double backlight = value(kPropBacklightCompensation) * 24.0;
  const double gain = (1.0 + value(kPropGain) / 100.0) * std::pow(2.0, value(kPropExposure) / 4.0);
  // Hue rotation about the grey axis.
  const double c = std::cos(hue), s = std::sin(hue);
  const double k = (1.0 - c) / 3.0, q = std::sqrt(1.0 / 3.0) * s;
  const double m[3][3] = {{c + k, k - q, k + q}, {k + q, c + k, k - q}, {k - q, k + q, c + k}};

  auto adjust = [&](double r, double g, double b, std::uint8_t* out) {
    r *= 1.0 - balance;
    b *= 1.0 + balance;
    double rr = m[0][0] * r + m[0][1] * g + m[0][2] * b;
    double gg = m[1][0] * r + m[1][1] * g + m[1][2] * b;
    double bb = m[2][0] * r + m[2][1] * g + m[2][2] * b;
    const double luma = 0.299 * rr + 0.587 * gg + 0.114 * bb;
    const double sat = colour ? saturation : 0.0;
    double ch[3] = {luma + (rr - luma) * sat, luma + (gg - luma) * sat, luma + (bb - luma) * sat};
    for (double& v : ch) {
      v = (v - 128.0) * contrast + 128.0 + brightness;
      v *= gain;
      v = std::clamp(v, 0.0, 255.0);
      v += backlight * (1.0 - v / 255.0);
      v = 255.0 * std::pow(std::clamp(v, 0.0, 255.0) / 255.0, 1.0 / gamma);
    }
    out[0] = Clamp(ch[2]);
    out[1] = Clamp(ch[1]);
    out[2] = Clamp(ch[0]);
  };

  // The scene is built from few distinct colours, so each is adjusted once
  // and the rows are filled with copies.
  background_.assign(static_cast<std::size_t>(w) * h * 3, 0);
  const int horizon = h * 3 / 5;
  std::uint8_t sky[3], ground[3], house[3], window[3], stripe[3];
  for (int y = 0; y < h; ++y) {
    std::uint8_t* row = background_.data() + static_cast<std::size_t>(y) * w * 3;
    if (y < horizon) {
      const double f = static_cast<double>(y) / std::max(1, horizon);
      adjust(90 + 60 * f, 140 + 60 * f, 230 - 20 * f, sky);
    } else {
      const double f = static_cast<double>(y - horizon) / std::max(1, h - horizon);
      adjust(70 + 40 * f, 120 - 30 * f, 50, ground);
    }
    const std::uint8_t* fill = y < horizon ? sky : ground;
    for (int x = 0; x < w; ++x) std::memcpy(row + x * 3, fill, 3);
  }
  // Houses on the horizon with lit windows, and stripes on the ground, so
  // that the picture has edges and colours a property change visibly moves.
  adjust(160, 90, 70, house);
  adjust(250, 230, 120, window);
  adjust(230, 230, 230, stripe);
  const int houseW = std::max(8, w / 8);
  for (int i = 0; i < 4; ++i) {
    const int x0 = w / 10 + i * (w / 4);
    const int hh = h / 6 + (i % 2) * h / 12;
    for (int y = std::max(0, horizon - hh); y < horizon; ++y) {
      std::uint8_t* row = background_.data() + static_cast<std::size_t>(y) * w * 3;
      for (int x = x0; x < std::min(w, x0 + houseW); ++x) {
        const bool isWindow = ((x - x0) % 8 >= 2 && (x - x0) % 8 < 5) &&
                              ((horizon - y) % 10 >= 3 && (horizon - y) % 10 < 7);
        std::memcpy(row + x * 3, isWindow ? window : house, 3);
      }
    }
  }
  for (int y = horizon + (h - horizon) / 2; y < std::min(h, horizon + (h - horizon) / 2 + 3);
       ++y) {
    std::uint8_t* row = background_.data() + static_cast<std::size_t>(y) * w * 3;
    for (int x = 0; x < w; ++x) {
      if ((x / 16) % 2 == 0) std::memcpy(row + x * 3, stripe, 3);
    }
  }
  adjust(220, 40, 40, objectColour_);
  backgroundValid_ = true;
}

void PatternSource::RenderFrame(std::uint64_t frameNumber, std::vector<std::uint8_t>& out,
                                int& width, int& height) {
  int x = 0, y = 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!backgroundValid_) RebuildBackgroundLocked();
    width = params_.width;
    height = params_.height;
    out.assign(background_.begin(), background_.end());
    ObjectPosition(frameNumber, width, height, x, y);
  }
  const int size = ObjectSize(height);
  const std::size_t row = static_cast<std::size_t>(width) * 3;
  for (int yy = y; yy < std::min(height, y + size); ++yy) {
    std::uint8_t* p = out.data() + row * yy;
    for (int xx = x; xx < std::min(width, x + size); ++xx) {
      std::memcpy(p + xx * 3, objectColour_, 3);
    }
  }
}

void PatternSource::ThreadMain(void* argument) { static_cast<PatternSource*>(argument)->Run(); }

void PatternSource::Run() {
  using Clock = std::chrono::steady_clock;
  std::vector<std::uint8_t> picture;
  std::uint64_t frameNumber = 0;
  auto next = Clock::now();
  while (!stop_.load() && StopFlag.load() == 0) {
    int rate;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      rate = params_.frameRate;
    }
    const auto interval = std::chrono::microseconds(1000000 / rate);
    // Sleep in short steps so that Stop is answered quickly at low rates.
    auto now = Clock::now();
    while (now < next && !stop_.load() && StopFlag.load() == 0) {
      std::this_thread::sleep_for(std::min<Clock::duration>(next - now, std::chrono::milliseconds(50)));
      now = Clock::now();
    }
    if (stop_.load() || StopFlag.load() != 0) break;
    int width = 0, height = 0;
    RenderFrame(frameNumber++, picture, width, height);
    sink_->OnSample(picture.data(), width, height, width * 3);
    next += interval;
    // Far behind (a busy machine): start the schedule afresh instead of
    // sending a burst of frames.
    if (Clock::now() - next > interval * 2) next = Clock::now() + interval;
  }
}

}  // namespace qmr
