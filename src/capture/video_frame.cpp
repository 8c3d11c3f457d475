#include "capture/video_frame.h"

#include <cstddef>

namespace qmr {

bool SameCaptureTime(const SystemTime& a, const SystemTime& b) {
  return a.year == b.year && a.month == b.month && a.day == b.day && a.hour == b.hour &&
         a.minute == b.minute && a.second == b.second && a.milliseconds == b.milliseconds;
}

bool VideoFrame::ToImage(std::vector<std::uint8_t>& rgb) const {
  const int width = Width();
  const int height = Height();
  rgb.clear();
  if (width <= 0 || height <= 0) return false;
  // Rows are stored padded to whole 32-bit words, as every 24-bit bitmap is;
  // for our frames (width a multiple of 4) that is exactly width * 3.
  const std::size_t stride = static_cast<std::size_t>(BitmapRowStride(width, 24));
  const std::size_t row = static_cast<std::size_t>(width) * 3;
  if (static_cast<std::size_t>(pixels.Length()) < stride * (height - 1) + row) return false;
  rgb.resize(row * height);
  const std::uint8_t* base = pixels.Data();
  for (int y = 0; y < height; ++y) {
    const std::uint8_t* src = base + stride * (height - 1 - y);
    std::uint8_t* dst = rgb.data() + row * y;
    for (int x = 0; x < width; ++x, src += 3, dst += 3) {
      dst[0] = src[2];
      dst[1] = src[1];
      dst[2] = src[0];
    }
  }
  return true;
}

}  // namespace qmr
