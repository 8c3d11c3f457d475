// The 40-byte frame format header that travels beside every frame and inside
// every AVI video stream, and the four-character codes that name compressors.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qmr {

// Field for field the classic BITMAPINFOHEADER; the layout is exactly the
// 40 bytes found in AVI files (little-endian on every platform we build for).
struct BitmapInfoHeader {
  std::uint32_t size = 40;
  std::int32_t width = 0;
  std::int32_t height = 0;  // positive: rows stored bottom-up
  std::uint16_t planes = 1;
  std::uint16_t bitCount = 24;
  std::uint32_t compression = 0;  // 0 = uncompressed RGB, else a four-character code
  std::uint32_t sizeImage = 0;
  std::int32_t xPelsPerMeter = 0;
  std::int32_t yPelsPerMeter = 0;
  std::uint32_t clrUsed = 0;
  std::uint32_t clrImportant = 0;

  bool operator==(const BitmapInfoHeader&) const = default;
};
static_assert(sizeof(BitmapInfoHeader) == 40, "BitmapInfoHeader must be 40 bytes");

// Bytes of one stored row: width × bits rounded up to whole 32-bit words.
constexpr std::int32_t BitmapRowStride(std::int32_t width, std::int32_t bitCount) {
  return ((width * bitCount + 31) / 32) * 4;
}

// The image size of an uncompressed 24-bit frame with padded rows.
constexpr std::uint32_t Rgb24ImageSize(std::int32_t width, std::int32_t height) {
  return static_cast<std::uint32_t>(BitmapRowStride(width, 24)) *
         static_cast<std::uint32_t>(height < 0 ? -height : height);
}

// A 24-bit bottom-up header for width × height frames.
inline BitmapInfoHeader MakeRgb24Header(std::int32_t width, std::int32_t height) {
  BitmapInfoHeader h;
  h.width = width;
  h.height = height;
  h.sizeImage = Rgb24ImageSize(width, height);
  return h;
}

// "MJPG" -> the code as stored in files: first character in the lowest byte.
// Shorter texts are padded with blanks, longer ones cut to four characters.
constexpr std::uint32_t MakeFourCC(std::string_view text) {
  std::uint32_t code = 0;
  for (std::size_t i = 0; i < 4; ++i) {
    const auto c = static_cast<unsigned char>(i < text.size() ? text[i] : ' ');
    code |= static_cast<std::uint32_t>(c) << (8 * i);
  }
  return code;
}

// The four characters of a code ("MJPG"); 0 gives an empty text.
inline std::string FourCCToText(std::uint32_t code) {
  if (code == 0) return std::string();
  std::string text(4, ' ');
  for (std::size_t i = 0; i < 4; ++i) text[i] = static_cast<char>((code >> (8 * i)) & 0xFF);
  return text;
}

}  // namespace qmr
