#include "capture/v4l2_source.h"

#include <fcntl.h>
#include <linux/videodev2.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include "base/log_file.h"
#include "capture/jpeg_markers.h"
#include "capture/yuyv_picture.h"

namespace qmr {

namespace {

// The control behind each video property, and the control that switches it
// to automatic (0 when there is none).
struct ControlMap {
  std::uint32_t id;
  std::uint32_t autoId;
  bool inverted;  // the control means the opposite (colour killer)
};
constexpr ControlMap kControls[kVideoPropertyCount] = {
    {V4L2_CID_BRIGHTNESS, 0, false},
    {V4L2_CID_CONTRAST, 0, false},
    {V4L2_CID_HUE, V4L2_CID_HUE_AUTO, false},
    {V4L2_CID_SATURATION, 0, false},
    {V4L2_CID_SHARPNESS, 0, false},
    {V4L2_CID_GAMMA, 0, false},
    {V4L2_CID_COLOR_KILLER, 0, true},
    {V4L2_CID_WHITE_BALANCE_TEMPERATURE, V4L2_CID_AUTO_WHITE_BALANCE, false},
    {V4L2_CID_BACKLIGHT_COMPENSATION, 0, false},
    {V4L2_CID_GAIN, V4L2_CID_AUTOGAIN, false},
    {V4L2_CID_EXPOSURE_ABSOLUTE, V4L2_CID_EXPOSURE_AUTO, false},
};

int RateOf(const v4l2_fract& interval) {
  if (interval.numerator == 0) return 0;
  return static_cast<int>(interval.denominator / interval.numerator);
}

// Unreadable JPEGs in a row (about a second's worth) after which the
// camera's pictures are left to libv4l2.
constexpr int kJpegFailuresBeforeConversion = 30;

}  // namespace

V4l2Source::V4l2Source(std::string path, std::string name, V4l2Api& api)
    : path_(std::move(path)), name_(std::move(name)), api_(api) {}

V4l2Source::~V4l2Source() { Close(); }

int V4l2Source::IoctlLocked(unsigned long request, void* argument) {
  if (fd_ < 0) return -1;
  int rc;
  do {
    rc = api_.Ioctl(fd_, request, argument);
  } while (rc == -1 && errno == EINTR);
  return rc;
}

bool V4l2Source::OpenDevice() {
  fd_ = api_.Open(path_, O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (fd_ < 0) {
    openError_ = path_ + ": " + std::strerror(errno);
    return false;
  }
  v4l2_capability cap{};
  if (IoctlLocked(VIDIOC_QUERYCAP, &cap) != 0) {
    openError_ = path_ + " is no video device";
    CloseDevice();
    return false;
  }
  const std::uint32_t caps =
      (cap.capabilities & V4L2_CAP_DEVICE_CAPS) ? cap.device_caps : cap.capabilities;
  if (!(caps & V4L2_CAP_VIDEO_CAPTURE)) {
    openError_ = path_ + " does not capture video";
    CloseDevice();
    return false;
  }
  const char* card = reinterpret_cast<const char*>(cap.card);
  card_ = TrimSpaces(std::string(card, strnlen(card, sizeof cap.card)));
  return true;
}

void V4l2Source::CloseDevice() {
  if (fd_ >= 0) api_.Close(fd_);
  fd_ = -1;
}

bool V4l2Source::Open() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (fd_ >= 0) return true;
  if (!OpenDevice()) return false;
  // Keep the camera's own size but ask for BGR24, which libv4l2 converts to
  // (or the camera's JPEGs or YUYV, which this source decodes or converts).
  v4l2_format fmt{};
  fmt.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  if (IoctlLocked(VIDIOC_G_FMT, &fmt) != 0 ||
      !ApplyFormatLocked(static_cast<int>(fmt.fmt.pix.width),
                         static_cast<int>(fmt.fmt.pix.height), 0)) {
    openError_ = path_ + " does not deliver 24-bit pictures";
    CloseDevice();
    return false;
  }
  ListCapabilitiesLocked();
  return true;
}

std::string V4l2Source::DeviceName() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return card_.empty() ? name_ : card_;
}

bool V4l2Source::TryPixelFormatLocked(std::uint32_t pixelFormat, int width, int height) {
  v4l2_format fmt{};
  fmt.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  fmt.fmt.pix.width = static_cast<std::uint32_t>(width);
  fmt.fmt.pix.height = static_cast<std::uint32_t>(height);
  fmt.fmt.pix.pixelformat = pixelFormat;
  fmt.fmt.pix.field = V4L2_FIELD_ANY;
  if (IoctlLocked(VIDIOC_S_FMT, &fmt) != 0) return false;
  return fmt.fmt.pix.pixelformat == pixelFormat;
}

int V4l2Source::FastestRateLocked(std::uint32_t pixelFormat, int width, int height) {
  bool offered = false;
  for (std::uint32_t i = 0; i < 256 && !offered; ++i) {
    v4l2_frmsizeenum size{};
    size.index = i;
    size.pixel_format = pixelFormat;
    if (IoctlLocked(VIDIOC_ENUM_FRAMESIZES, &size) != 0) break;
    if (size.type == V4L2_FRMSIZE_TYPE_DISCRETE) {
      offered = static_cast<int>(size.discrete.width) == width &&
                static_cast<int>(size.discrete.height) == height;
    } else {
      const auto& s = size.stepwise;
      const auto inStep = [](int v, std::uint32_t min, std::uint32_t max, std::uint32_t step) {
        if (v < static_cast<int>(min) || v > static_cast<int>(max)) return false;
        return step <= 1 || (static_cast<std::uint32_t>(v) - min) % step == 0;
      };
      offered = inStep(width, s.min_width, s.max_width, s.step_width) &&
                inStep(height, s.min_height, s.max_height, s.step_height);
      break;
    }
  }
  if (!offered) return -1;
  int fastest = 0, slowest = 0;
  FrameRatesLocked(pixelFormat, width, height, fastest, slowest);
  return fastest;
}

void V4l2Source::FrameRatesLocked(std::uint32_t pixelFormat, int width, int height,
                                  int& fastest, int& slowest) {
  fastest = slowest = 0;
  for (std::uint32_t k = 0; k < 64; ++k) {
    v4l2_frmivalenum interval{};
    interval.index = k;
    interval.pixel_format = pixelFormat;
    interval.width = static_cast<std::uint32_t>(width);
    interval.height = static_cast<std::uint32_t>(height);
    if (IoctlLocked(VIDIOC_ENUM_FRAMEINTERVALS, &interval) != 0) break;
    int fast, slow;
    if (interval.type == V4L2_FRMIVAL_TYPE_DISCRETE) {
      fast = slow = RateOf(interval.discrete);
    } else {
      fast = RateOf(interval.stepwise.min);
      slow = RateOf(interval.stepwise.max);
    }
    fastest = std::max(fastest, fast);
    if (slow > 0) slowest = slowest ? std::min(slowest, slow) : slow;
    if (interval.type != V4L2_FRMIVAL_TYPE_DISCRETE) break;
  }
}

// The camera's JPEGs are taken as they are where libv4l2 would decode them
// anyway: it prefers an uncompressed format when the camera has one at the
// size that keeps up with the rate, and so does this, so the pictures stay
// what they were; only who decodes them changes. While libv4l2 turns or
// corrects a camera's pictures (cameras mounted upside down, software white
// balance), it lists and accepts only the formats it converts to, so such a
// camera keeps its conversion.
bool V4l2Source::PrefersOwnJpegLocked(const std::vector<v4l2_fmtdesc>& own, int width,
                                      int height, int rate) {
  if (convertOnly_) return false;
  int jpegRate = -1, plainRate = -1;
  for (const v4l2_fmtdesc& desc : own) {
    if (desc.pixelformat == V4L2_PIX_FMT_MJPEG) {
      jpegRate = std::max(jpegRate, FastestRateLocked(desc.pixelformat, width, height));
    } else if (!(desc.flags & V4L2_FMT_FLAG_COMPRESSED)) {
      plainRate = std::max(plainRate, FastestRateLocked(desc.pixelformat, width, height));
    }
  }
  if (jpegRate < 0) return false;   // no JPEGs at this size
  if (plainRate < 0) return true;   // nothing but JPEGs at this size
  if (jpegRate == 0 || plainRate == 0) return false;  // rates unknown: as libv4l2 would
  const int wanted = rate > 0 ? std::min(rate, jpegRate) : jpegRate;
  return plainRate < wanted;
}

std::vector<v4l2_fmtdesc> V4l2Source::OwnFormatsLocked() {
  std::vector<v4l2_fmtdesc> own;
  for (std::uint32_t i = 0; i < 64; ++i) {
    v4l2_fmtdesc desc{};
    desc.index = i;
    desc.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (IoctlLocked(VIDIOC_ENUM_FMT, &desc) != 0) break;
    if (!(desc.flags & V4L2_FMT_FLAG_EMULATED)) own.push_back(desc);  // not libv4l2's
  }
  return own;
}

bool V4l2Source::SendsLocked(const std::vector<v4l2_fmtdesc>& own, std::uint32_t pixelFormat,
                             int width, int height) {
  return std::any_of(own.begin(), own.end(),
                     [&](const v4l2_fmtdesc& d) { return d.pixelformat == pixelFormat; }) &&
         FastestRateLocked(pixelFormat, width, height) >= 0;
}

bool V4l2Source::ApplyFormatLocked(int width, int height, int rate) {
  const std::vector<v4l2_fmtdesc> own = OwnFormatsLocked();
  jpeg_ = PrefersOwnJpegLocked(own, width, height, rate) &&
          TryPixelFormatLocked(V4L2_PIX_FMT_MJPEG, width, height);
  // Where libv4l2 would convert from the camera's YUYV, so does this source:
  // the same pictures, with the conversion done here. A camera that sends
  // RGB itself (capture cards) keeps that, and libv4l2 hides the camera's
  // own formats while it turns or corrects its pictures.
  yuyv_ = !jpeg_ && !convertOnly_ && SendsLocked(own, V4L2_PIX_FMT_YUYV, width, height) &&
          !SendsLocked(own, V4L2_PIX_FMT_BGR24, width, height) &&
          !SendsLocked(own, V4L2_PIX_FMT_RGB24, width, height) &&
          TryPixelFormatLocked(V4L2_PIX_FMT_YUYV, width, height);
  if (!jpeg_ && !yuyv_ && !TryPixelFormatLocked(V4L2_PIX_FMT_BGR24, width, height)) return false;
  ReadFormatLocked();
  return width_ > 0 && height_ > 0;
}

void V4l2Source::ReadFormatLocked() {
  v4l2_format fmt{};
  fmt.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  if (IoctlLocked(VIDIOC_G_FMT, &fmt) == 0) {
    width_ = static_cast<int>(fmt.fmt.pix.width);
    height_ = static_cast<int>(fmt.fmt.pix.height);
    stride_ = std::max(static_cast<int>(fmt.fmt.pix.bytesperline), width_ * (yuyv_ ? 2 : 3));
    imageSize_ = std::max(static_cast<int>(fmt.fmt.pix.sizeimage), stride_ * height_);
  }
  v4l2_streamparm parm{};
  parm.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  const v4l2_fract& interval = parm.parm.capture.timeperframe;
  if (IoctlLocked(VIDIOC_G_PARM, &parm) == 0 && interval.numerator != 0 &&
      interval.denominator != 0) {
    // Slower than a frame a second counts as 1.
    rate_ = std::max(1, RateOf(interval));
  } else if (rate_ < 1) {
    // A camera that does not say its rate: a webcam's usual one, rather
    // than 1, which would make recordings play far too slowly.
    rate_ = 30;
  }
}

void V4l2Source::ApplyRateLocked(int rate) {
  v4l2_streamparm parm{};
  parm.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  if (IoctlLocked(VIDIOC_G_PARM, &parm) != 0) return;
  if (!(parm.parm.capture.capability & V4L2_CAP_TIMEPERFRAME)) return;
  parm.parm.capture.timeperframe.numerator = 1;
  parm.parm.capture.timeperframe.denominator = static_cast<std::uint32_t>(rate);
  IoctlLocked(VIDIOC_S_PARM, &parm);
}

void V4l2Source::ListCapabilitiesLocked() {
  capabilities_.clear();
  // libv4l2 lists the sizes it can deliver in BGR24 (converted from the
  // camera's own formats); the sizes of the camera's own formats are added
  // (once each), since libv4l2 converts every one of them.
  AddCapabilitiesLocked(V4L2_PIX_FMT_BGR24);
  for (std::uint32_t i = 0; i < 64; ++i) {
    v4l2_fmtdesc desc{};
    desc.index = i;
    desc.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (IoctlLocked(VIDIOC_ENUM_FMT, &desc) != 0) break;
    if (desc.pixelformat != V4L2_PIX_FMT_BGR24) AddCapabilitiesLocked(desc.pixelformat);
  }
  if (capabilities_.empty() && width_ > 0) {
    VideoCapability c;
    c.inputWidth = c.minWidth = c.maxWidth = width_;
    c.inputHeight = c.minHeight = c.maxHeight = height_;
    c.minFrameRate = 1;
    c.maxFrameRate = std::max(1, rate_);
    capabilities_.push_back(c);
  }
}

void V4l2Source::AddCapabilitiesLocked(std::uint32_t pixelFormat) {
  for (std::uint32_t i = 0; i < 256; ++i) {
    v4l2_frmsizeenum size{};
    size.index = i;
    size.pixel_format = pixelFormat;
    if (IoctlLocked(VIDIOC_ENUM_FRAMESIZES, &size) != 0) break;
    VideoCapability c;
    int w, h;
    if (size.type == V4L2_FRMSIZE_TYPE_DISCRETE) {
      w = static_cast<int>(size.discrete.width);
      h = static_cast<int>(size.discrete.height);
      c.minWidth = c.maxWidth = w;
      c.minHeight = c.maxHeight = h;
    } else {
      w = static_cast<int>(size.stepwise.max_width);
      h = static_cast<int>(size.stepwise.max_height);
      c.minWidth = static_cast<int>(size.stepwise.min_width);
      c.minHeight = static_cast<int>(size.stepwise.min_height);
      c.maxWidth = w;
      c.maxHeight = h;
      c.granularityX = static_cast<int>(size.stepwise.step_width);
      c.granularityY = static_cast<int>(size.stepwise.step_height);
    }
    c.inputWidth = w;
    c.inputHeight = h;
    FrameRatesLocked(pixelFormat, w, h, c.maxFrameRate, c.minFrameRate);
    if (c.maxFrameRate < 1) c.maxFrameRate = rate_ > 0 ? rate_ : 30;
    if (c.minFrameRate < 1) c.minFrameRate = 1;
    const bool known = std::any_of(capabilities_.begin(), capabilities_.end(), [&](const auto& k) {
      return k.minWidth == c.minWidth && k.maxWidth == c.maxWidth &&
             k.minHeight == c.minHeight && k.maxHeight == c.maxHeight;
    });
    if (!known) capabilities_.push_back(c);
    if (size.type != V4L2_FRMSIZE_TYPE_DISCRETE) break;
  }
}

bool V4l2Source::GetFormat(int& width, int& height, int& frameRate) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (fd_ < 0 || width_ <= 0) return false;
  width = width_;
  height = height_;
  frameRate = std::max(1, rate_);
  return true;
}

bool V4l2Source::SetFormat(int width, int height, int frameRate) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (fd_ < 0) return false;
  if (thread_.load() != 0) return false;  // stop first, as a real graph must
  if (width == 0 || height == 0) {
    // The default: the largest size offered.
    for (const auto& c : capabilities_) {
      if (c.maxWidth * c.maxHeight > width * height) {
        width = c.maxWidth;
        height = c.maxHeight;
      }
    }
    if (width == 0) {
      width = width_;
      height = height_;
    }
  }
  const int oldWidth = width_, oldHeight = height_, oldRate = rate_;
  bool ok = ApplyFormatLocked(width, height, frameRate);
  if (!ok && errno == EBUSY) {
    // The read stream of an earlier run still holds the buffers: reopen.
    CloseDevice();
    ok = OpenDevice() && ApplyFormatLocked(width, height, frameRate);
  }
  // The driver picks the nearest size it has; anything else is a refusal.
  if (ok && (width_ != width || height_ != height)) {
    // Setting a size also resets the camera's frame rate: put both back.
    ApplyFormatLocked(oldWidth, oldHeight, oldRate);
    ApplyRateLocked(std::max(1, oldRate));
    ReadFormatLocked();
    return false;
  }
  if (!ok) return false;
  if (frameRate == 0) {
    // The default rate: the fastest the camera offers at this size.
    for (const auto& c : capabilities_) {
      if (c.inputWidth == width && c.inputHeight == height) frameRate = c.maxFrameRate;
    }
    if (frameRate <= 0) frameRate = 30;
  }
  ApplyRateLocked(std::max(1, frameRate));
  ReadFormatLocked();
  return true;
}

int V4l2Source::CapabilityCount() {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<int>(capabilities_.size());
}

bool V4l2Source::GetCapability(int index, VideoCapability& capability) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (index < 0 || index >= static_cast<int>(capabilities_.size())) return false;
  capability = capabilities_[index];
  return true;
}

bool V4l2Source::GetPropertyRange(int property, PropertyRange& range) {
  if (property < 0 || property >= kVideoPropertyCount) return false;
  std::lock_guard<std::mutex> lock(mutex_);
  const ControlMap& map = kControls[property];
  v4l2_queryctrl query{};
  query.id = map.id;
  if (IoctlLocked(VIDIOC_QUERYCTRL, &query) != 0 || (query.flags & V4L2_CTRL_FLAG_DISABLED)) {
    return false;
  }
  range.minimum = query.minimum;
  range.maximum = query.maximum;
  range.step = query.step > 0 ? query.step : 1;
  range.defaultValue = map.inverted ? !query.default_value : query.default_value;
  if (map.inverted) {
    range.minimum = 0;
    range.maximum = 1;
  }
  range.flags = kPropertyFlagManual;
  if (map.autoId) {
    v4l2_queryctrl autoQuery{};
    autoQuery.id = map.autoId;
    if (IoctlLocked(VIDIOC_QUERYCTRL, &autoQuery) == 0 &&
        !(autoQuery.flags & V4L2_CTRL_FLAG_DISABLED)) {
      range.flags |= kPropertyFlagAuto;
    }
  }
  return true;
}

bool V4l2Source::GetProperty(int property, long& value, long& flags) {
  if (property < 0 || property >= kVideoPropertyCount) return false;
  std::lock_guard<std::mutex> lock(mutex_);
  const ControlMap& map = kControls[property];
  v4l2_control control{};
  control.id = map.id;
  if (IoctlLocked(VIDIOC_G_CTRL, &control) != 0) return false;
  value = map.inverted ? !control.value : control.value;
  flags = kPropertyFlagManual;
  if (map.autoId) {
    v4l2_control autoControl{};
    autoControl.id = map.autoId;
    if (IoctlLocked(VIDIOC_G_CTRL, &autoControl) == 0) {
      const bool isAuto = map.autoId == V4L2_CID_EXPOSURE_AUTO
                              ? autoControl.value != V4L2_EXPOSURE_MANUAL
                              : autoControl.value != 0;
      if (isAuto) flags = kPropertyFlagAuto;
    }
  }
  return true;
}

bool V4l2Source::SetProperty(int property, long value, long flags) {
  if (property < 0 || property >= kVideoPropertyCount) return false;
  std::lock_guard<std::mutex> lock(mutex_);
  const ControlMap& map = kControls[property];
  if (map.autoId) {
    v4l2_control autoControl{};
    autoControl.id = map.autoId;
    const bool wantAuto = (flags & kPropertyFlagAuto) != 0;
    if (map.autoId == V4L2_CID_EXPOSURE_AUTO) {
      // Webcams usually offer aperture priority as their automatic mode.
      autoControl.value = wantAuto ? V4L2_EXPOSURE_APERTURE_PRIORITY : V4L2_EXPOSURE_MANUAL;
      if (IoctlLocked(VIDIOC_S_CTRL, &autoControl) != 0 && wantAuto) {
        autoControl.value = V4L2_EXPOSURE_AUTO;
        if (IoctlLocked(VIDIOC_S_CTRL, &autoControl) != 0) return false;
      }
    } else {
      autoControl.value = wantAuto ? 1 : 0;
      if (IoctlLocked(VIDIOC_S_CTRL, &autoControl) != 0 && wantAuto) return false;
    }
    if (wantAuto) return true;
  }
  v4l2_control control{};
  control.id = map.id;
  control.value = static_cast<std::int32_t>(map.inverted ? !value : value);
  return IoctlLocked(VIDIOC_S_CTRL, &control) == 0;
}

bool V4l2Source::Start(SampleSink& sink) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (fd_ < 0) return false;
  }
  if (thread_.load() != 0) return true;
  sink_ = &sink;
  stop_.store(false);
  return StartThread(ThreadMain, this, thread_);
}

void V4l2Source::Stop() {
  if (thread_.load() == 0) return;
  stop_.store(true);
  while (!WaitForThreadEnd(thread_, 5000, "camera stream")) {
  }
}

void V4l2Source::Close() {
  Stop();
  std::lock_guard<std::mutex> lock(mutex_);
  CloseDevice();
}

void V4l2Source::ThreadMain(void* argument) { static_cast<V4l2Source*>(argument)->Run(); }

bool V4l2Source::DeliverJpeg(const std::uint8_t* data, std::size_t n, int width, int height,
                             JpegDecoder& decoder, std::vector<std::uint8_t>& picture,
                             std::string& why) {
  const std::size_t size = JpegLength(data, n);
  int w = 0, h = 0;
  if (size == 0) {
    why = "its pictures are no whole JPEGs";
    return false;
  }
  if (!decoder.PictureSize(data, size, w, h)) {
    why = decoder.Error();
    return false;
  }
  if (w != width || h != height) {
    why = "its pictures are " + std::to_string(w) + "x" + std::to_string(h) + ", not " +
          std::to_string(width) + "x" + std::to_string(height);
    return false;
  }
  if (sink_->TakesDirectSamples() && (width & 3) == 0 && (height & 1) == 0 &&
      IsBaselineJpegOfSize(data, size, width, height)) {
    // As a stream camera's; a busy camera drops the picture undecoded.
    if (DecodeIntoSample(*sink_, decoder, data, size, width, height) != JpegDelivery::kFailed) {
      return true;
    }
    why = decoder.Error();
    return false;
  }
  const std::size_t row = static_cast<std::size_t>(width) * 3;
  picture.resize(row * static_cast<std::size_t>(height));
  if (!decoder.Decode(data, size, picture.data(), width, height, false)) {
    why = decoder.Error();
    return false;
  }
  sink_->OnSample(picture.data(), width, height, static_cast<int>(row));
  return true;
}

void V4l2Source::DeliverYuyv(const std::uint8_t* data, int width, int height, int stride,
                             std::vector<std::uint8_t>& picture) {
  if (sink_->TakesDirectSamples() && (width & 3) == 0) {
    // Straight into the sample; a busy camera drops the picture unconverted.
    if (std::uint8_t* target = sink_->BeginSample(width, height)) {
      YuyvToBottomUpBgr(data, stride, width, height, target);
      sink_->EndSample(true);
    }
    return;
  }
  const std::size_t row = static_cast<std::size_t>(width) * 3;
  picture.resize(row * static_cast<std::size_t>(height));
  for (int y = 0; y < height; ++y) {
    YuyvRowToBgr(data + static_cast<std::size_t>(stride) * y, width, picture.data() + row * y);
  }
  sink_->OnSample(picture.data(), width, height, static_cast<int>(row));
}

bool V4l2Source::SwitchToConversion(const std::string& why) {
  LogFile::Writef("Camera %s: %s, converting with libv4l2", name_.c_str(), why.c_str());
  std::lock_guard<std::mutex> lock(mutex_);
  convertOnly_ = true;
  const int width = width_, height = height_, rate = rate_;
  // The read stream holds the camera's buffers in the old format: reopen.
  CloseDevice();
  if (!OpenDevice() || !ApplyFormatLocked(width, height, rate) || width_ != width ||
      height_ != height) {
    return false;
  }
  ApplyRateLocked(std::max(1, rate));
  ReadFormatLocked();
  return true;
}

void V4l2Source::Run() {
  std::vector<std::uint8_t> buffer, picture;
  std::unique_ptr<JpegDecoder> decoder;
  int failures = 0, badJpegs = 0;
  std::string ended, why;
  while (!stop_.load() && StopFlag.load() == 0) {
    int fd, width, height, stride, size;
    bool jpeg, yuyv;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      fd = fd_;
      width = width_;
      height = height_;
      stride = stride_;
      size = imageSize_;
      jpeg = jpeg_;
      yuyv = yuyv_;
    }
    if (fd < 0 || size <= 0) {
      ended = "the device is closed";
      break;
    }
    if (static_cast<int>(buffer.size()) < size) buffer.resize(static_cast<std::size_t>(size));
    pollfd p{fd, POLLIN, 0};
    const int ready = api_.Poll(&p, 1, 200);
    if (ready < 0 && errno != EINTR) {
      ended = std::strerror(errno);
      break;
    }
    if (ready <= 0) continue;
    // libv4l2 emulates read() over streaming buffers where the driver has
    // no read of its own, converting to BGR24 on the way (or handing over
    // the camera's JPEG or YUYV as it is).
    const int n = static_cast<int>(api_.Read(fd, buffer.data(), static_cast<std::size_t>(size)));
    if (n < 0) {
      if (errno == EAGAIN || errno == EINTR) continue;
      // A removed camera answers ENODEV at once; other errors may pass.
      if (errno == ENODEV || errno == ENXIO || ++failures >= 20) {
        ended = errno == ENODEV || errno == ENXIO ? "the device was removed" : std::strerror(errno);
        break;
      }
      continue;
    }
    failures = 0;
    if (jpeg) {
      if (!decoder) decoder = std::make_unique<JpegDecoder>();
      if (!decoder->Usable()) {
        why = decoder->Error();
      } else if (DeliverJpeg(buffer.data(), static_cast<std::size_t>(n), width, height,
                             *decoder, picture, why)) {
        badJpegs = 0;
        continue;
      }
      // A damaged picture now and then is skipped; a camera whose pictures
      // this decoder cannot read at all is left to libv4l2.
      if (++badJpegs < kJpegFailuresBeforeConversion) continue;
      if (!SwitchToConversion(why)) {
        ended = "the camera could not be set up again";
        break;
      }
      badJpegs = 0;
      continue;
    }
    if (yuyv) {
      if (n < stride * (height - 1) + width * 2) continue;  // a short picture
      DeliverYuyv(buffer.data(), width, height, stride, picture);
      continue;
    }
    if (n < stride * (height - 1) + width * 3) continue;  // a short picture
    sink_->OnSample(buffer.data(), width, height, stride);
  }
  if (!ended.empty() && !stop_.load()) sink_->OnSourceEnded(ended);
}

}  // namespace qmr
