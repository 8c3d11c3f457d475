#include "fake_v4l2_device.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include <turbojpeg.h>

#include "../support/jpeg_tables.h"

namespace qmr::testing {

namespace {

int Fail(int error) {
  errno = error;
  return -1;
}

struct FormatInfo {
  std::uint32_t fourcc;
  const char* description;
  std::uint32_t flags;
  std::uint32_t bytesPerPixel;  // 0: compressed
};
// The camera's own formats first, then those libv4l2 converts to.
constexpr FormatInfo kFormats[] = {
    {V4L2_PIX_FMT_YUYV, "YUYV 4:2:2", 0, 2},
    {V4L2_PIX_FMT_MJPEG, "Motion-JPEG", V4L2_FMT_FLAG_COMPRESSED, 0},
    {V4L2_PIX_FMT_BGR24, "BGR3", V4L2_FMT_FLAG_EMULATED, 3},
    {V4L2_PIX_FMT_RGB24, "RGB3", V4L2_FMT_FLAG_EMULATED, 3},
};

const FormatInfo* FindFormat(std::uint32_t fourcc) {
  for (const auto& f : kFormats) {
    if (f.fourcc == fourcc) return &f;
  }
  return nullptr;
}

struct SizeInfo {
  std::uint32_t width, height;
  std::uint32_t rates[4];  // fastest first, 0 ends the list
};
constexpr SizeInfo kSizes[] = {
    {640, 480, {30, 15, 0, 0}},
    {320, 240, {30, 15, 5, 0}},
    {160, 120, {30, 20, 10, 5}},
};

const SizeInfo* FindSize(std::uint32_t width, std::uint32_t height) {
  for (const auto& s : kSizes) {
    if (s.width == width && s.height == height) return &s;
  }
  return nullptr;
}

struct ControlInfo {
  std::uint32_t id;
  std::uint32_t type;
  std::int32_t minimum, maximum, step, defaultValue;
  std::uint32_t governedBy;  // the automatic control that takes this one over
};
constexpr ControlInfo kControls[] = {
    {V4L2_CID_BRIGHTNESS, V4L2_CTRL_TYPE_INTEGER, -64, 64, 1, 0, 0},
    {V4L2_CID_CONTRAST, V4L2_CTRL_TYPE_INTEGER, 0, 95, 1, 32, 0},
    {V4L2_CID_AUTO_WHITE_BALANCE, V4L2_CTRL_TYPE_BOOLEAN, 0, 1, 1, 1, 0},
    {V4L2_CID_WHITE_BALANCE_TEMPERATURE, V4L2_CTRL_TYPE_INTEGER, 2800, 6500, 10, 4600,
     V4L2_CID_AUTO_WHITE_BALANCE},
    {V4L2_CID_AUTOGAIN, V4L2_CTRL_TYPE_BOOLEAN, 0, 1, 1, 1, 0},
    {V4L2_CID_GAIN, V4L2_CTRL_TYPE_INTEGER, 0, 100, 1, 0, V4L2_CID_AUTOGAIN},
    // Menu: only manual (1) and aperture priority (3) exist, as on most
    // webcams.
    {V4L2_CID_EXPOSURE_AUTO, V4L2_CTRL_TYPE_MENU, 0, 3, 1, V4L2_EXPOSURE_APERTURE_PRIORITY, 0},
    {V4L2_CID_EXPOSURE_ABSOLUTE, V4L2_CTRL_TYPE_INTEGER, 3, 2047, 1, 250, V4L2_CID_EXPOSURE_AUTO},
};

const ControlInfo* FindControl(std::uint32_t id) {
  for (const auto& c : kControls) {
    if (c.id == id) return &c;
  }
  return nullptr;
}

// True while the automatic control behind info runs the value itself.
bool TakenOver(const ControlInfo& info, const std::map<std::uint32_t, std::int32_t>& values) {
  if (!info.governedBy) return false;
  const std::int32_t automatic = values.at(info.governedBy);
  return info.governedBy == V4L2_CID_EXPOSURE_AUTO ? automatic != V4L2_EXPOSURE_MANUAL
                                                   : automatic != 0;
}

void CopyText(std::uint8_t* to, std::size_t size, const std::string& text) {
  std::memset(to, 0, size);
  std::memcpy(to, text.data(), std::min(size - 1, text.size()));
}

}  // namespace

void FakeV4l2Device::Pixel(int x, int y, std::uint32_t picture, std::uint8_t bgr[3]) {
  bgr[0] = static_cast<std::uint8_t>(x);
  bgr[1] = static_cast<std::uint8_t>(y);
  bgr[2] = static_cast<std::uint8_t>(picture);
}

void FakeV4l2Device::YuyvPicture(int width, int height, std::uint8_t* out) {
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; x += 2, out += 4) {
      out[0] = static_cast<std::uint8_t>(x + 2 * y);
      out[1] = static_cast<std::uint8_t>(3 * x + 7 * y);
      out[2] = static_cast<std::uint8_t>(x + 1 + 2 * y);
      out[3] = static_cast<std::uint8_t>(250 - x - 5 * y);
    }
  }
}

void FakeV4l2Device::AddNode(const std::string& path, const std::string& card, bool capture) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto node = std::make_unique<Node>();
  node->card = card;
  node->capture = capture;
  for (const auto& c : kControls) node->controls[c.id] = c.defaultValue;
  nodes_[path] = std::move(node);
}

void FakeV4l2Device::Unplug(const std::string& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = nodes_.find(path);
  if (it != nodes_.end()) it->second->unplugged = true;
}

void FakeV4l2Device::RemoveFrameRateControl(const std::string& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  nodes_.at(path)->fixedRate = true;
}

void FakeV4l2Device::LimitYuyv(const std::string& path, std::uint32_t fastest) {
  std::lock_guard<std::mutex> lock(mutex_);
  nodes_.at(path)->yuyvFastest = fastest;
}

void FakeV4l2Device::TurnPictures(const std::string& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  nodes_.at(path)->turned = true;
}

void FakeV4l2Device::DamagePictures(const std::string& path, int count) {
  std::lock_guard<std::mutex> lock(mutex_);
  nodes_.at(path)->damaged = count;
}

std::uint32_t FakeV4l2Device::PixelFormat(const std::string& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  return nodes_.at(path)->pixelFormat;
}

bool FakeV4l2Device::Offers(const Node& node, std::uint32_t pixelFormat) {
  const FormatInfo* format = FindFormat(pixelFormat);
  if (!format || (node.turned && !(format->flags & V4L2_FMT_FLAG_EMULATED))) return false;
  return pixelFormat != V4L2_PIX_FMT_YUYV || node.yuyvFastest > 0;
}

std::vector<std::uint32_t> FakeV4l2Device::RatesOf(const Node& node, std::uint32_t pixelFormat,
                                                   std::uint32_t width, std::uint32_t height) {
  std::vector<std::uint32_t> rates;
  const SizeInfo* size = FindSize(width, height);
  if (!size || !Offers(node, pixelFormat)) return rates;
  for (std::uint32_t r : size->rates) {
    if (r && (pixelFormat != V4L2_PIX_FMT_YUYV || r <= node.yuyvFastest)) rates.push_back(r);
  }
  // A limit below every listed rate leaves the camera's slowest one at that.
  if (rates.empty()) rates.push_back(node.yuyvFastest);
  return rates;
}

std::int32_t FakeV4l2Device::Control(const std::string& path, std::uint32_t id) {
  std::lock_guard<std::mutex> lock(mutex_);
  return nodes_.at(path)->controls.at(id);
}

int FakeV4l2Device::OpenCount(const std::string& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  return nodes_.at(path)->openCount;
}

std::uint32_t FakeV4l2Device::PicturesRead(const std::string& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  return nodes_.at(path)->pictures;
}

FakeV4l2Device::Node* FakeV4l2Device::NodeOfLocked(int fd) {
  auto it = fds_.find(fd);
  return it == fds_.end() ? nullptr : it->second;
}

int FakeV4l2Device::Open(const std::string& path, int /*flags*/) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = nodes_.find(path);
  if (it == nodes_.end() || it->second->unplugged) return Fail(ENOENT);
  const int fd = nextFd_++;
  fds_[fd] = it->second.get();
  ++it->second->openCount;
  return fd;
}

int FakeV4l2Device::Close(int fd) {
  std::lock_guard<std::mutex> lock(mutex_);
  Node* node = NodeOfLocked(fd);
  if (!node) return Fail(EBADF);
  if (node->streamingFd == fd) node->streamingFd = -1;
  --node->openCount;
  fds_.erase(fd);
  return 0;
}

int FakeV4l2Device::QueryCap(const Node& node, v4l2_capability& cap) {
  cap = {};
  CopyText(cap.driver, sizeof cap.driver, "uvcvideo");
  CopyText(cap.card, sizeof cap.card, node.card);
  CopyText(cap.bus_info, sizeof cap.bus_info, "usb-0000:00:14.0-1");
  cap.version = 0x060100;
  // The whole device can capture video and metadata; each node says which
  // one it is in its device caps. libv4l2 adds read() to capture nodes.
  cap.capabilities = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_META_CAPTURE | V4L2_CAP_STREAMING |
                     V4L2_CAP_EXT_PIX_FORMAT | V4L2_CAP_READWRITE | V4L2_CAP_DEVICE_CAPS;
  cap.device_caps = node.capture
                        ? V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING | V4L2_CAP_EXT_PIX_FORMAT |
                              V4L2_CAP_READWRITE
                        : V4L2_CAP_META_CAPTURE | V4L2_CAP_STREAMING | V4L2_CAP_EXT_PIX_FORMAT;
  return 0;
}

int FakeV4l2Device::TryFormat(const Node& node, v4l2_format& fmt) {
  if (fmt.type != V4L2_BUF_TYPE_VIDEO_CAPTURE) return Fail(EINVAL);
  v4l2_pix_format& pix = fmt.fmt.pix;
  // A driver never refuses a format: it answers with the nearest it has.
  const FormatInfo* format = Offers(node, pix.pixelformat) ? FindFormat(pix.pixelformat) : nullptr;
  if (!format && node.turned) format = &kFormats[2];
  if (!format) format = Offers(node, kFormats[0].fourcc) ? &kFormats[0] : &kFormats[1];
  const SizeInfo* best = &kSizes[0];
  long bestDistance = -1;
  for (const auto& s : kSizes) {
    const long distance = std::labs(static_cast<long>(s.width) - static_cast<long>(pix.width)) +
                          std::labs(static_cast<long>(s.height) - static_cast<long>(pix.height));
    if (bestDistance < 0 || distance < bestDistance) {
      best = &s;
      bestDistance = distance;
    }
  }
  pix = {};
  pix.pixelformat = format->fourcc;
  pix.width = best->width;
  pix.height = best->height;
  pix.field = V4L2_FIELD_NONE;
  pix.colorspace = V4L2_COLORSPACE_SRGB;
  pix.bytesperline = best->width * format->bytesPerPixel;
  pix.sizeimage =
      format->bytesPerPixel ? pix.bytesperline * best->height : best->width * best->height * 2;
  return 0;
}

int FakeV4l2Device::Parm(Node& node, v4l2_streamparm& parm, bool set) {
  if (parm.type != V4L2_BUF_TYPE_VIDEO_CAPTURE) return Fail(EINVAL);
  if (node.fixedRate) {
    if (set) return Fail(ENOTTY);
    parm.parm.capture = {};
    parm.parm.capture.readbuffers = 2;
    return 0;
  }
  if (set) {
    if (node.streamingFd >= 0) return Fail(EBUSY);
    // The nearest interval the current size offers.
    const v4l2_fract want = parm.parm.capture.timeperframe;
    const auto rates = RatesOf(node, node.pixelFormat, node.width, node.height);
    if (!rates.empty() && want.numerator && want.denominator) {
      const double rate = static_cast<double>(want.denominator) / want.numerator;
      std::uint32_t best = rates[0];
      for (std::uint32_t r : rates) {
        if (std::abs(r - rate) < std::abs(best - rate)) best = r;
      }
      node.interval = {1, best};
    }
  }
  parm.parm.capture = {};
  parm.parm.capture.capability = V4L2_CAP_TIMEPERFRAME;
  parm.parm.capture.timeperframe = node.interval;
  parm.parm.capture.readbuffers = 2;
  return 0;
}

int FakeV4l2Device::QueryControl(const Node& node, v4l2_queryctrl& query) {
  const ControlInfo* info = FindControl(query.id);
  if (!info) return Fail(EINVAL);
  const std::uint32_t id = query.id;
  query = {};
  query.id = id;
  query.type = info->type;
  CopyText(query.name, sizeof query.name, "control");
  query.minimum = info->minimum;
  query.maximum = info->maximum;
  query.step = info->step;
  query.default_value = info->defaultValue;
  if (TakenOver(*info, node.controls)) query.flags = V4L2_CTRL_FLAG_INACTIVE;
  return 0;
}

int FakeV4l2Device::SetControl(Node& node, const v4l2_control& control) {
  const ControlInfo* info = FindControl(control.id);
  if (!info) return Fail(EINVAL);
  // The camera refuses a manual value while its automatic mode runs it.
  if (TakenOver(*info, node.controls)) return Fail(EACCES);
  std::int32_t value = control.value;
  if (info->type == V4L2_CTRL_TYPE_MENU) {
    if (value != V4L2_EXPOSURE_MANUAL && value != V4L2_EXPOSURE_APERTURE_PRIORITY) {
      return Fail(EINVAL);
    }
  } else if (info->type == V4L2_CTRL_TYPE_BOOLEAN) {
    value = value != 0;
  } else {
    value = std::clamp(value, info->minimum, info->maximum);
    value = info->minimum + (value - info->minimum) / info->step * info->step;
  }
  node.controls[control.id] = value;
  return 0;
}

int FakeV4l2Device::Ioctl(int fd, unsigned long request, void* argument) {
  std::lock_guard<std::mutex> lock(mutex_);
  Node* node = NodeOfLocked(fd);
  if (!node) return Fail(EBADF);
  if (node->unplugged) return Fail(ENODEV);
  if (request == VIDIOC_QUERYCAP) return QueryCap(*node, *static_cast<v4l2_capability*>(argument));
  // A metadata node has none of the video calls below.
  if (!node->capture) return Fail(ENOTTY);
  switch (request) {
    case VIDIOC_ENUM_FMT: {
      auto& desc = *static_cast<v4l2_fmtdesc*>(argument);
      std::vector<const FormatInfo*> offered;
      for (const auto& f : kFormats) {
        if (Offers(*node, f.fourcc)) offered.push_back(&f);
      }
      if (desc.type != V4L2_BUF_TYPE_VIDEO_CAPTURE || desc.index >= offered.size()) {
        return Fail(EINVAL);
      }
      const FormatInfo& f = *offered[desc.index];
      desc.pixelformat = f.fourcc;
      desc.flags = f.flags;
      CopyText(desc.description, sizeof desc.description, f.description);
      return 0;
    }
    case VIDIOC_G_FMT: {
      auto& fmt = *static_cast<v4l2_format*>(argument);
      if (fmt.type != V4L2_BUF_TYPE_VIDEO_CAPTURE) return Fail(EINVAL);
      fmt.fmt.pix.pixelformat = node->pixelFormat;
      fmt.fmt.pix.width = node->width;
      fmt.fmt.pix.height = node->height;
      return TryFormat(*node, fmt);
    }
    case VIDIOC_TRY_FMT:
      return TryFormat(*node, *static_cast<v4l2_format*>(argument));
    case VIDIOC_S_FMT: {
      auto& fmt = *static_cast<v4l2_format*>(argument);
      if (node->streamingFd >= 0) return Fail(EBUSY);
      if (TryFormat(*node, fmt) != 0) return -1;
      node->pixelFormat = fmt.fmt.pix.pixelformat;
      node->width = fmt.fmt.pix.width;
      node->height = fmt.fmt.pix.height;
      // A new format starts at its fastest frame rate.
      node->interval = {1, RatesOf(*node, node->pixelFormat, node->width, node->height)[0]};
      return 0;
    }
    case VIDIOC_ENUM_FRAMESIZES: {
      auto& size = *static_cast<v4l2_frmsizeenum*>(argument);
      if (!Offers(*node, size.pixel_format) || size.index >= std::size(kSizes)) {
        return Fail(EINVAL);
      }
      size.type = V4L2_FRMSIZE_TYPE_DISCRETE;
      size.discrete.width = kSizes[size.index].width;
      size.discrete.height = kSizes[size.index].height;
      return 0;
    }
    case VIDIOC_ENUM_FRAMEINTERVALS: {
      auto& interval = *static_cast<v4l2_frmivalenum*>(argument);
      const auto rates = RatesOf(*node, interval.pixel_format, interval.width, interval.height);
      if (node->fixedRate || interval.index >= rates.size()) return Fail(EINVAL);
      interval.type = V4L2_FRMIVAL_TYPE_DISCRETE;
      interval.discrete = {1, rates[interval.index]};
      return 0;
    }
    case VIDIOC_G_PARM:
      return Parm(*node, *static_cast<v4l2_streamparm*>(argument), false);
    case VIDIOC_S_PARM:
      return Parm(*node, *static_cast<v4l2_streamparm*>(argument), true);
    case VIDIOC_QUERYCTRL:
      return QueryControl(*node, *static_cast<v4l2_queryctrl*>(argument));
    case VIDIOC_G_CTRL: {
      auto& control = *static_cast<v4l2_control*>(argument);
      if (!FindControl(control.id)) return Fail(EINVAL);
      control.value = node->controls.at(control.id);
      return 0;
    }
    case VIDIOC_S_CTRL:
      return SetControl(*node, *static_cast<v4l2_control*>(argument));
    default:
      return Fail(ENOTTY);
  }
}

ssize_t FakeV4l2Device::Read(int fd, void* buffer, std::size_t size) {
  std::lock_guard<std::mutex> lock(mutex_);
  Node* node = NodeOfLocked(fd);
  if (!node) return Fail(EBADF);
  if (node->unplugged) return Fail(ENODEV);
  if (!node->capture) return Fail(EINVAL);
  if (node->streamingFd >= 0 && node->streamingFd != fd) return Fail(EBUSY);
  // The first read starts the stream; it runs until the descriptor closes.
  node->streamingFd = fd;
  v4l2_format fmt{};
  fmt.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  fmt.fmt.pix.pixelformat = node->pixelFormat;
  fmt.fmt.pix.width = node->width;
  fmt.fmt.pix.height = node->height;
  TryFormat(*node, fmt);
  const std::size_t n = std::min<std::size_t>(size, fmt.fmt.pix.sizeimage);
  auto* out = static_cast<std::uint8_t*>(buffer);
  const std::uint32_t picture = node->pictures++;
  if (node->pixelFormat == V4L2_PIX_FMT_MJPEG) {
    return static_cast<ssize_t>(ReadJpeg(*node, picture, out, size));
  }
  if (node->pixelFormat == V4L2_PIX_FMT_BGR24) {
    for (std::size_t i = 0; i + 3 <= n; i += 3) {
      const std::size_t pixel = i / 3;
      int x = static_cast<int>(pixel % node->width), y = static_cast<int>(pixel / node->width);
      if (node->turned) {
        x = static_cast<int>(node->width) - 1 - x;
        y = static_cast<int>(node->height) - 1 - y;
      }
      Pixel(x, y, picture, out + i);
    }
  } else {
    std::vector<std::uint8_t> yuyv(static_cast<std::size_t>(node->width) * 2 * node->height);
    YuyvPicture(static_cast<int>(node->width), static_cast<int>(node->height), yuyv.data());
    std::memcpy(out, yuyv.data(), std::min(n, yuyv.size()));
  }
  return static_cast<ssize_t>(n);
}

std::size_t FakeV4l2Device::ReadJpeg(Node& node, std::uint32_t picture, std::uint8_t* out,
                                     std::size_t size) {
  const int w = static_cast<int>(node.width), h = static_cast<int>(node.height);
  std::vector<std::uint8_t> bgr(static_cast<std::size_t>(w) * 3 * h);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) Pixel(x, y, picture, &bgr[(static_cast<std::size_t>(y) * w + x) * 3]);
  }
  tjhandle compressor = tjInitCompress();
  unsigned char* jpeg = nullptr;
  unsigned long length = 0;
  const int rc = tjCompress2(compressor, bgr.data(), w, 0, h, TJPF_BGR, &jpeg, &length, TJSAMP_422,
                             95, 0);
  tjDestroy(compressor);
  if (rc != 0) {
    tjFree(jpeg);
    return 0;
  }
  // UVC cameras leave out the Huffman tables (the standard ones are meant)
  // and pad the picture after its end.
  std::vector<std::uint8_t> sent = WithoutHuffmanTables(jpeg, length);
  tjFree(jpeg);
  sent.resize(sent.size() + 200, 0);
  if (node.damaged != 0) {
    if (node.damaged > 0) --node.damaged;
    sent.resize(sent.size() / 2);
  }
  const std::size_t n = std::min(size, sent.size());
  std::memcpy(out, sent.data(), n);
  return n;
}

int FakeV4l2Device::Poll(pollfd* fds, nfds_t count, int timeoutMs) {
  int waitMs = timeoutMs;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (nfds_t i = 0; i < count; ++i) {
      fds[i].revents = 0;
      Node* node = NodeOfLocked(fds[i].fd);
      if (!node) {
        fds[i].revents = POLLNVAL;
        return 1;
      }
      if (node->unplugged) {
        fds[i].revents = POLLERR | POLLHUP;
        return 1;
      }
      const int frameMs =
          static_cast<int>(1000 * node->interval.numerator / node->interval.denominator);
      waitMs = std::min(waitMs, frameMs);
    }
  }
  // The next picture is ready one frame interval later.
  std::this_thread::sleep_for(std::chrono::milliseconds(std::max(0, waitMs)));
  for (nfds_t i = 0; i < count; ++i) fds[i].revents = fds[i].events & POLLIN;
  return static_cast<int>(count);
}

}  // namespace qmr::testing
