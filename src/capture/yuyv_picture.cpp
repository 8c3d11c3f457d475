#include "capture/yuyv_picture.h"

#include <cstddef>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "capture/cpu_features.h"

namespace qmr {

namespace {

std::uint8_t Clip(int value) {
  return static_cast<std::uint8_t>(value < 0 ? 0 : (value > 255 ? 255 : value));
}

// Two pixels sharing one U and one V: blue = Y + 129 U' / 64, green =
// Y - (3 U' + 6 V') / 8, red = Y + 3 V' / 2 (U' and V' less 128, each
// quotient rounded down), as libv4l2 computes them.
void PairToBgr(const std::uint8_t* yuyv, std::uint8_t* bgr) {
  const int u = yuyv[1] - 128, v = yuyv[3] - 128;
  const int blue = (129 * u) >> 6;
  const int green = (3 * u + 6 * v) >> 3;
  const int red = (3 * v) >> 1;
  for (int i = 0; i < 2; ++i) {
    const int y = yuyv[2 * i];
    bgr[3 * i] = Clip(y + blue);
    bgr[3 * i + 1] = Clip(y - green);
    bgr[3 * i + 2] = Clip(y + red);
  }
}

#if defined(__x86_64__)
// Eight pixels (16 bytes in, 24 out) per step, in 16-bit lanes: every
// intermediate of the arithmetic above fits (129 U' lies within +-16512), and
// packing with unsigned saturation is the same clipping. Returns how many
// pixels were done; the rest (up to 7) are left to the caller.
__attribute__((target("ssse3"))) int RowSsse3(const std::uint8_t* yuyv, int width,
                                              std::uint8_t* bgr) {
  const __m128i lumaMask = _mm_setr_epi8(0, -1, 2, -1, 4, -1, 6, -1, 8, -1, 10, -1, 12, -1, 14, -1);
  const __m128i uMask = _mm_setr_epi8(1, -1, 1, -1, 5, -1, 5, -1, 9, -1, 9, -1, 13, -1, 13, -1);
  const __m128i vMask = _mm_setr_epi8(3, -1, 3, -1, 7, -1, 7, -1, 11, -1, 11, -1, 15, -1, 15, -1);
  // Blue and green packed into one register (B0..B7 G0..G7), red into
  // another (R0..R7 twice): the first 16 output bytes and the last 8.
  const __m128i firstBg = _mm_setr_epi8(0, 8, -1, 1, 9, -1, 2, 10, -1, 3, 11, -1, 4, 12, -1, 5);
  const __m128i firstR = _mm_setr_epi8(-1, -1, 0, -1, -1, 1, -1, -1, 2, -1, -1, 3, -1, -1, 4, -1);
  const __m128i lastBg = _mm_setr_epi8(13, -1, 6, 14, -1, 7, 15, -1, -1, -1, -1, -1, -1, -1, -1, -1);
  const __m128i lastR = _mm_setr_epi8(-1, 5, -1, -1, 6, -1, -1, 7, -1, -1, -1, -1, -1, -1, -1, -1);
  const __m128i bias = _mm_set1_epi16(128);
  const __m128i k129 = _mm_set1_epi16(129);
  const __m128i k3 = _mm_set1_epi16(3);
  const __m128i k6 = _mm_set1_epi16(6);
  int x = 0;
  for (; x + 8 <= width; x += 8) {
    const __m128i in = _mm_loadu_si128(reinterpret_cast<const __m128i*>(yuyv + 2 * x));
    const __m128i y = _mm_shuffle_epi8(in, lumaMask);
    const __m128i u = _mm_sub_epi16(_mm_shuffle_epi8(in, uMask), bias);
    const __m128i v = _mm_sub_epi16(_mm_shuffle_epi8(in, vMask), bias);
    const __m128i blue = _mm_add_epi16(y, _mm_srai_epi16(_mm_mullo_epi16(u, k129), 6));
    const __m128i green = _mm_sub_epi16(
        y, _mm_srai_epi16(_mm_add_epi16(_mm_mullo_epi16(u, k3), _mm_mullo_epi16(v, k6)), 3));
    const __m128i red = _mm_add_epi16(y, _mm_srai_epi16(_mm_mullo_epi16(v, k3), 1));
    const __m128i bg = _mm_packus_epi16(blue, green);
    const __m128i rr = _mm_packus_epi16(red, red);
    const __m128i first = _mm_or_si128(_mm_shuffle_epi8(bg, firstBg), _mm_shuffle_epi8(rr, firstR));
    const __m128i last = _mm_or_si128(_mm_shuffle_epi8(bg, lastBg), _mm_shuffle_epi8(rr, lastR));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(bgr + 3 * x), first);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(bgr + 3 * x + 16), last);
  }
  return x;
}
#endif

}  // namespace

void YuyvRowToBgr(const std::uint8_t* yuyv, int width, std::uint8_t* bgr) {
  int x = 0;
#if defined(__x86_64__)
  if (HasSsse3()) x = RowSsse3(yuyv, width, bgr);
#endif
  for (; x + 2 <= width; x += 2) PairToBgr(yuyv + 2 * x, bgr + 3 * x);
}

void YuyvToBottomUpBgr(const std::uint8_t* yuyv, int stride, int width, int height,
                       std::uint8_t* bgr) {
  const std::size_t row = static_cast<std::size_t>(width) * 3;
  for (int y = 0; y < height; ++y) {
    YuyvRowToBgr(yuyv + static_cast<std::size_t>(stride) * y, width,
                 bgr + row * static_cast<std::size_t>(height - 1 - y));
  }
}

}  // namespace qmr
