// One captured frame as consumers receive it: 24-bit pixels stored blue,
// green, red with the rows bottom-up, the bitmap header of its format and the
// local time at which the frame thread took it.
//
// Frame widths are always a multiple of 4 (the capture device guarantees it),
// so a row is exactly width * 3 bytes with no padding and the pixel block is
// width * 3 * height bytes (header.sizeImage).
#pragma once

#include <cstdint>
#include <vector>

#include "base/byte_buffer.h"
#include "base/process.h"
#include "recording/bitmap_info.h"

namespace qmr {

// True when both times name the same millisecond (the day of the week is
// not compared).
bool SameCaptureTime(const SystemTime& a, const SystemTime& b);

class VideoFrame {
 public:
  VideoFrame() = default;
  virtual ~VideoFrame() = default;
  VideoFrame(const VideoFrame&) = default;
  VideoFrame& operator=(const VideoFrame&) = default;
  VideoFrame(VideoFrame&&) noexcept = default;
  VideoFrame& operator=(VideoFrame&&) noexcept = default;

  ByteBuffer pixels;
  SystemTime captureTime;
  BitmapInfoHeader header;
  // The camera's own baseline JPEG of exactly these pixels when it sent
  // one at this size (a Motion JPEG stream), else empty.
  std::vector<std::uint8_t> jpeg;
  // Which frame of its frame buffer this is, counted from 1 as they are
  // stored (0: it did not come from one).
  std::uint64_t sequence = 0;

  int Width() const { return header.width; }
  // Rows of the picture (the header's height is positive: bottom-up).
  int Height() const { return header.height < 0 ? -header.height : header.height; }
  bool Empty() const { return pixels.Length() <= 0 || header.width <= 0 || header.height == 0; }

  // Top-down red-green-blue bytes, width * 3 per row, no padding; the first
  // row of the image is the frame's last stored row. False (rgb emptied) when
  // the frame holds fewer bytes than its header promises.
  bool ToImage(std::vector<std::uint8_t>& rgb) const;
};

}  // namespace qmr
