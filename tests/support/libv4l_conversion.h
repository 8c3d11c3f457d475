// libv4l2's own YUYV to BGR24 conversion, run on memory rather than on a
// camera: the reference the conversion done here must match byte for byte.
#pragma once

#include <libv4l-plugin.h>
#include <libv4lconvert.h>
#include <linux/videodev2.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <vector>

namespace qmr::testing {

class Libv4lConversion {
 public:
  Libv4lConversion() {
    // libv4lconvert asks the device only what it is; nothing else is
    // needed to convert memory.
    ops_.init = [](int) -> void* { return nullptr; };
    ops_.close = [](void*) {};
    ops_.ioctl = [](void*, int, unsigned long request, void* argument) -> int {
      if (request != VIDIOC_QUERYCAP) {
        errno = ENOTTY;
        return -1;
      }
      auto* cap = static_cast<v4l2_capability*>(argument);
      std::memset(cap, 0, sizeof *cap);
      std::memcpy(cap->driver, "memory", 7);
      std::memcpy(cap->card, "memory", 7);
      cap->capabilities = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_READWRITE;
      cap->device_caps = cap->capabilities;
      return 0;
    };
    ops_.read = [](void*, int, void*, std::size_t) -> ssize_t {
      errno = EIO;
      return -1;
    };
    ops_.write = [](void*, int, const void*, std::size_t) -> ssize_t {
      errno = EIO;
      return -1;
    };
    data_ = v4lconvert_create_with_dev_ops(-1, nullptr, &ops_);
  }
  ~Libv4lConversion() {
    if (data_ != nullptr) v4lconvert_destroy(data_);
  }
  Libv4lConversion(const Libv4lConversion&) = delete;
  Libv4lConversion& operator=(const Libv4lConversion&) = delete;

  bool Usable() const { return data_ != nullptr; }

  // YUYV rows of stride bytes into top-down BGR24 rows of width * 3 bytes;
  // false when libv4lconvert refused.
  bool Convert(const std::uint8_t* yuyv, int stride, int width, int height,
               std::vector<std::uint8_t>& bgr) {
    v4l2_format src{}, dst{};
    src.type = dst.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    src.fmt.pix.width = dst.fmt.pix.width = static_cast<std::uint32_t>(width);
    src.fmt.pix.height = dst.fmt.pix.height = static_cast<std::uint32_t>(height);
    src.fmt.pix.pixelformat = V4L2_PIX_FMT_YUYV;
    src.fmt.pix.bytesperline = static_cast<std::uint32_t>(stride);
    src.fmt.pix.sizeimage = static_cast<std::uint32_t>(stride * height);
    dst.fmt.pix.pixelformat = V4L2_PIX_FMT_BGR24;
    dst.fmt.pix.bytesperline = static_cast<std::uint32_t>(width * 3);
    dst.fmt.pix.sizeimage = static_cast<std::uint32_t>(width * 3 * height);
    bgr.resize(dst.fmt.pix.sizeimage);
    return v4lconvert_convert(data_, &src, &dst, const_cast<std::uint8_t*>(yuyv),
                              static_cast<int>(src.fmt.pix.sizeimage), bgr.data(),
                              static_cast<int>(bgr.size())) == static_cast<int>(bgr.size());
  }

 private:
  libv4l_dev_ops ops_{};
  v4lconvert_data* data_ = nullptr;
};

}  // namespace qmr::testing
