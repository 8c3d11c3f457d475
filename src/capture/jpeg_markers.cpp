#include "capture/jpeg_markers.h"

namespace qmr {

bool IsBaselineJpegOfSize(const std::uint8_t* data, std::size_t size, int width, int height,
                          bool* huffmanTables) {
  if (huffmanTables != nullptr) *huffmanTables = false;
  if (data == nullptr || size < 4 || data[0] != 0xFF || data[1] != 0xD8) return false;
  // A cut picture (a stream that dropped its end) lacks the end marker;
  // some encoders pad after it, so look at the last few bytes.
  bool ended = false;
  for (std::size_t i = size - 1; i >= 1 && i + 16 >= size; --i) {
    if (data[i - 1] == 0xFF && data[i] == 0xD9) {
      ended = true;
      break;
    }
  }
  if (!ended) return false;
  bool frameSeen = false;
  std::size_t at = 2;
  while (at + 4 <= size) {
    if (data[at] != 0xFF) return false;
    const std::uint8_t marker = data[at + 1];
    if (marker == 0xFF) {  // fill byte
      ++at;
      continue;
    }
    const std::size_t length = (std::size_t{data[at + 2]} << 8) | data[at + 3];
    if (length < 2 || at + 2 + length > size) return false;
    const std::uint8_t* segment = data + at + 4;
    if (marker == 0xC0 || marker == 0xC1) {
      // Precision, height, width, component count.
      if (length < 8 || frameSeen) return false;
      const int rows = (segment[1] << 8) | segment[2];
      const int columns = (segment[3] << 8) | segment[4];
      if (segment[0] != 8 || rows != height || columns != width || segment[5] != 3) return false;
      frameSeen = true;
    } else if (marker == 0xC4) {
      if (huffmanTables != nullptr) *huffmanTables = true;
    } else if (marker >= 0xC2 && marker <= 0xCF && marker != 0xC8 &&
               marker != 0xCC) {
      return false;  // progressive, lossless, hierarchical or arithmetic
    } else if (marker == 0xDA) {
      return frameSeen;  // the scan: the headers were all fine
    } else if (marker == 0xD8 || marker == 0xD9 || (marker >= 0xD0 && marker <= 0xD7)) {
      return false;  // markers without a length cannot come before the scan
    }
    at += 2 + length;
  }
  return false;
}

std::size_t JpegLength(const std::uint8_t* data, std::size_t size) {
  if (data == nullptr || size < 4 || data[0] != 0xFF || data[1] != 0xD8) return 0;
  for (std::size_t i = size - 1; i >= 3; --i) {
    if (data[i] == 0xD9 && data[i - 1] == 0xFF) return i + 1;
  }
  return 0;
}

}  // namespace qmr
