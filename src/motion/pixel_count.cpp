#include "motion/pixel_count.h"

#include "motion/pixel_test.h"

#include <algorithm>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define QMR_PIXEL_COUNT_SSE 1
#endif

namespace qmr {

int CountChangedSamplesScalar(const std::uint8_t* reference, const std::uint8_t* current,
                              int pixels) {
  int count = 0;
  for (int x = 0; x < pixels; x += 2) {
    count += PixelChanged(reference + x * 3, current + x * 3) ? 1 : 0;
  }
  return count;
}

#ifdef QMR_PIXEL_COUNT_SSE
namespace {

// Eight samples (sixteen pixels, 48 bytes) at a time. The byte differences
// are gathered channel by channel, widened to 16 bits, and the three sums
// 10000 x Y, V and U are formed exactly in 32 bits with pmaddwd. A sum that
// lands exactly on a limit sends its group to the scalar test, which decides
// such cases with the double formula.

__attribute__((target("sse4.1,ssse3"))) inline __m128i Pair(int low, int high) {
  const std::uint32_t packed = (static_cast<std::uint32_t>(static_cast<std::uint16_t>(high)) << 16) |
                               static_cast<std::uint16_t>(low);
  return _mm_set1_epi32(static_cast<int>(packed));
}

// One channel of the eight sampled pixels from the three 16-byte blocks.
__attribute__((target("sse4.1,ssse3"))) inline __m128i Channel(__m128i a, __m128i b, __m128i c,
                                                              __m128i ma, __m128i mb,
                                                              __m128i mc) {
  return _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(a, ma), _mm_shuffle_epi8(b, mb)),
                      _mm_shuffle_epi8(c, mc));
}

// One of the three sums for the eight samples: marks those beyond the limit
// as changed and notes any that sit exactly on it.
__attribute__((target("sse4.1,ssse3"))) inline void Judge(__m128i lo01, __m128i hi01,
                                                          __m128i lo2, __m128i hi2, __m128i w01,
                                                          __m128i w2, __m128i limit,
                                                          __m128i& changedLo, __m128i& changedHi,
                                                          __m128i& edge) {
  const __m128i lo =
      _mm_abs_epi32(_mm_add_epi32(_mm_madd_epi16(lo01, w01), _mm_madd_epi16(lo2, w2)));
  const __m128i hi =
      _mm_abs_epi32(_mm_add_epi32(_mm_madd_epi16(hi01, w01), _mm_madd_epi16(hi2, w2)));
  changedLo = _mm_or_si128(changedLo, _mm_cmpgt_epi32(lo, limit));
  changedHi = _mm_or_si128(changedHi, _mm_cmpgt_epi32(hi, limit));
  edge = _mm_or_si128(edge, _mm_or_si128(_mm_cmpeq_epi32(lo, limit), _mm_cmpeq_epi32(hi, limit)));
}

__attribute__((target("sse4.1,ssse3"))) int CountSse(const std::uint8_t* reference,
                                                     const std::uint8_t* current, int pixels) {
  // Byte positions of channel k of pixels 0, 2, ..., 14 in the blocks at 0,
  // 16 and 32; -1 gives a zero byte.
  const __m128i c0a = _mm_setr_epi8(0, 6, 12, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
  const __m128i c0b = _mm_setr_epi8(-1, -1, -1, 2, 8, 14, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
  const __m128i c0c = _mm_setr_epi8(-1, -1, -1, -1, -1, -1, 4, 10, -1, -1, -1, -1, -1, -1, -1, -1);
  const __m128i c1a = _mm_setr_epi8(1, 7, 13, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
  const __m128i c1b = _mm_setr_epi8(-1, -1, -1, 3, 9, 15, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
  const __m128i c1c = _mm_setr_epi8(-1, -1, -1, -1, -1, -1, 5, 11, -1, -1, -1, -1, -1, -1, -1, -1);
  const __m128i c2a = _mm_setr_epi8(2, 8, 14, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
  const __m128i c2b = _mm_setr_epi8(-1, -1, -1, 4, 10, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
  const __m128i c2c = _mm_setr_epi8(-1, -1, -1, -1, -1, 0, 6, 12, -1, -1, -1, -1, -1, -1, -1, -1);
  const __m128i wy01 = Pair(2569, 5044), wy2 = Pair(978, 0);
  const __m128i wv01 = Pair(4392, -3679), wv2 = Pair(-713, 0);
  const __m128i wu01 = Pair(-1484, -2909), wu2 = Pair(4393, 0);
  const __m128i limitY = _mm_set1_epi32(170000);
  const __m128i limitC = _mm_set1_epi32(90000);
  const __m128i zero = _mm_setzero_si128();

  int count = 0;
  int x = 0;
  for (; x + 16 <= pixels; x += 16) {
    const std::uint8_t* r = reference + x * 3;
    const std::uint8_t* c = current + x * 3;
    const __m128i ra = _mm_loadu_si128(reinterpret_cast<const __m128i*>(r));
    const __m128i rb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(r + 16));
    const __m128i rc = _mm_loadu_si128(reinterpret_cast<const __m128i*>(r + 32));
    const __m128i ca = _mm_loadu_si128(reinterpret_cast<const __m128i*>(c));
    const __m128i cb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(c + 16));
    const __m128i cc = _mm_loadu_si128(reinterpret_cast<const __m128i*>(c + 32));
    const __m128i d0 = _mm_sub_epi16(_mm_cvtepu8_epi16(Channel(ra, rb, rc, c0a, c0b, c0c)),
                                     _mm_cvtepu8_epi16(Channel(ca, cb, cc, c0a, c0b, c0c)));
    const __m128i d1 = _mm_sub_epi16(_mm_cvtepu8_epi16(Channel(ra, rb, rc, c1a, c1b, c1c)),
                                     _mm_cvtepu8_epi16(Channel(ca, cb, cc, c1a, c1b, c1c)));
    const __m128i d2 = _mm_sub_epi16(_mm_cvtepu8_epi16(Channel(ra, rb, rc, c2a, c2b, c2c)),
                                     _mm_cvtepu8_epi16(Channel(ca, cb, cc, c2a, c2b, c2c)));
    const __m128i lo01 = _mm_unpacklo_epi16(d0, d1), hi01 = _mm_unpackhi_epi16(d0, d1);
    const __m128i lo2 = _mm_unpacklo_epi16(d2, zero), hi2 = _mm_unpackhi_epi16(d2, zero);

    __m128i changedLo = zero, changedHi = zero, edge = zero;
    Judge(lo01, hi01, lo2, hi2, wy01, wy2, limitY, changedLo, changedHi, edge);
    Judge(lo01, hi01, lo2, hi2, wv01, wv2, limitC, changedLo, changedHi, edge);
    Judge(lo01, hi01, lo2, hi2, wu01, wu2, limitC, changedLo, changedHi, edge);
    if (_mm_movemask_epi8(edge) != 0) {
      count += CountChangedSamplesScalar(r, c, 16);
      continue;
    }
    count += __builtin_popcount(_mm_movemask_ps(_mm_castsi128_ps(changedLo))) +
             __builtin_popcount(_mm_movemask_ps(_mm_castsi128_ps(changedHi)));
  }
  if (x < pixels) count += CountChangedSamplesScalar(reference + x * 3, current + x * 3, pixels - x);
  return count;
}

// The same on 256-bit registers: each 128-bit lane holds its own group of
// sixteen pixels, so the in-lane byte shuffles stay the same.
__attribute__((target("avx2"))) inline __m256i Pair256(int low, int high) {
  const std::uint32_t packed = (static_cast<std::uint32_t>(static_cast<std::uint16_t>(high)) << 16) |
                               static_cast<std::uint16_t>(low);
  return _mm256_set1_epi32(static_cast<int>(packed));
}

__attribute__((target("avx2"))) inline __m256i Load2(const std::uint8_t* low,
                                                    const std::uint8_t* high) {
  return _mm256_inserti128_si256(
      _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(low))),
      _mm_loadu_si128(reinterpret_cast<const __m128i*>(high)), 1);
}

__attribute__((target("avx2"))) inline __m256i Channel256(__m256i a, __m256i b, __m256i c,
                                                         __m256i ma, __m256i mb, __m256i mc) {
  return _mm256_or_si256(_mm256_or_si256(_mm256_shuffle_epi8(a, ma), _mm256_shuffle_epi8(b, mb)),
                         _mm256_shuffle_epi8(c, mc));
}

// Differences of one channel: the low 8 bytes of each lane widened to 16 bits.
__attribute__((target("avx2"))) inline __m256i Difference256(__m256i reference, __m256i current) {
  const __m256i zero = _mm256_setzero_si256();
  return _mm256_sub_epi16(_mm256_unpacklo_epi8(reference, zero),
                          _mm256_unpacklo_epi8(current, zero));
}

__attribute__((target("avx2"))) inline __m256i Sum256(__m256i p01, __m256i p2, __m256i w01,
                                                     __m256i w2) {
  return _mm256_abs_epi32(_mm256_add_epi32(_mm256_madd_epi16(p01, w01), _mm256_madd_epi16(p2, w2)));
}

__attribute__((target("avx2"))) int CountAvx2(const std::uint8_t* reference,
                                              const std::uint8_t* current, int pixels) {
#define QMR_MASK(...) _mm256_setr_epi8(__VA_ARGS__, __VA_ARGS__)
  const __m256i c0a = QMR_MASK(0, 6, 12, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
  const __m256i c0b = QMR_MASK(-1, -1, -1, 2, 8, 14, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
  const __m256i c0c = QMR_MASK(-1, -1, -1, -1, -1, -1, 4, 10, -1, -1, -1, -1, -1, -1, -1, -1);
  const __m256i c1a = QMR_MASK(1, 7, 13, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
  const __m256i c1b = QMR_MASK(-1, -1, -1, 3, 9, 15, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
  const __m256i c1c = QMR_MASK(-1, -1, -1, -1, -1, -1, 5, 11, -1, -1, -1, -1, -1, -1, -1, -1);
  const __m256i c2a = QMR_MASK(2, 8, 14, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
  const __m256i c2b = QMR_MASK(-1, -1, -1, 4, 10, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
  const __m256i c2c = QMR_MASK(-1, -1, -1, -1, -1, 0, 6, 12, -1, -1, -1, -1, -1, -1, -1, -1);
#undef QMR_MASK
  const __m256i wy01 = Pair256(2569, 5044), wy2 = Pair256(978, 0);
  const __m256i wv01 = Pair256(4392, -3679), wv2 = Pair256(-713, 0);
  const __m256i wu01 = Pair256(-1484, -2909), wu2 = Pair256(4393, 0);
  const __m256i limitY = _mm256_set1_epi32(170000);
  const __m256i limitC = _mm256_set1_epi32(90000);
  const __m256i zero = _mm256_setzero_si256();

  int count = 0;
  int x = 0;
  for (; x + 32 <= pixels; x += 32) {
    const std::uint8_t* r = reference + x * 3;
    const std::uint8_t* c = current + x * 3;
    const __m256i ra = Load2(r, r + 48), rb = Load2(r + 16, r + 64), rc = Load2(r + 32, r + 80);
    const __m256i ca = Load2(c, c + 48), cb = Load2(c + 16, c + 64), cc = Load2(c + 32, c + 80);
    const __m256i d0 = Difference256(Channel256(ra, rb, rc, c0a, c0b, c0c),
                                     Channel256(ca, cb, cc, c0a, c0b, c0c));
    const __m256i d1 = Difference256(Channel256(ra, rb, rc, c1a, c1b, c1c),
                                     Channel256(ca, cb, cc, c1a, c1b, c1c));
    const __m256i d2 = Difference256(Channel256(ra, rb, rc, c2a, c2b, c2c),
                                     Channel256(ca, cb, cc, c2a, c2b, c2c));
    const __m256i lo01 = _mm256_unpacklo_epi16(d0, d1), hi01 = _mm256_unpackhi_epi16(d0, d1);
    const __m256i lo2 = _mm256_unpacklo_epi16(d2, zero), hi2 = _mm256_unpackhi_epi16(d2, zero);

    const __m256i yLo = Sum256(lo01, lo2, wy01, wy2), yHi = Sum256(hi01, hi2, wy01, wy2);
    __m256i changedLo = _mm256_cmpgt_epi32(yLo, limitY);
    __m256i changedHi = _mm256_cmpgt_epi32(yHi, limitY);
    // Usually every sample of a moving area already fails the luma test.
    if (_mm256_movemask_epi8(_mm256_and_si256(changedLo, changedHi)) == -1) {
      count += 16;
      continue;
    }
    const __m256i vLo = Sum256(lo01, lo2, wv01, wv2), vHi = Sum256(hi01, hi2, wv01, wv2);
    const __m256i uLo = Sum256(lo01, lo2, wu01, wu2), uHi = Sum256(hi01, hi2, wu01, wu2);
    const __m256i edge = _mm256_or_si256(
        _mm256_or_si256(_mm256_cmpeq_epi32(yLo, limitY), _mm256_cmpeq_epi32(yHi, limitY)),
        _mm256_or_si256(
            _mm256_or_si256(_mm256_cmpeq_epi32(vLo, limitC), _mm256_cmpeq_epi32(vHi, limitC)),
            _mm256_or_si256(_mm256_cmpeq_epi32(uLo, limitC), _mm256_cmpeq_epi32(uHi, limitC))));
    if (_mm256_movemask_epi8(edge) != 0) {
      count += CountChangedSamplesScalar(r, c, 32);
      continue;
    }
    changedLo = _mm256_or_si256(changedLo, _mm256_or_si256(_mm256_cmpgt_epi32(vLo, limitC),
                                                           _mm256_cmpgt_epi32(uLo, limitC)));
    changedHi = _mm256_or_si256(changedHi, _mm256_or_si256(_mm256_cmpgt_epi32(vHi, limitC),
                                                           _mm256_cmpgt_epi32(uHi, limitC)));
    count += __builtin_popcount(_mm256_movemask_ps(_mm256_castsi256_ps(changedLo))) +
             __builtin_popcount(_mm256_movemask_ps(_mm256_castsi256_ps(changedHi)));
  }
  if (x < pixels) count += CountSse(reference + x * 3, current + x * 3, pixels - x);
  return count;
}

bool HasAvx2() {
  static const bool has = __builtin_cpu_supports("avx2");
  return has;
}

bool HasSse() {
  static const bool has = __builtin_cpu_supports("sse4.1") && __builtin_cpu_supports("ssse3");
  return has;
}

}  // namespace
#endif

void StepBackgroundScalar(std::uint8_t* background, const std::uint8_t* current, int bytes,
                          int quietStep, int changedStep) {
  for (int i = 0; i < bytes; ++i) {
    const int b = background[i];
    const int d = int{current[i]} - b;
    const int limit =
        (d <= kBackgroundQuietLevels && d >= -kBackgroundQuietLevels) ? quietStep : changedStep;
    background[i] = static_cast<std::uint8_t>(b + std::clamp(d, -limit, limit));
  }
}

#ifdef QMR_PIXEL_COUNT_SSE
namespace {

// Saturating byte arithmetic gives the two one-sided differences, of which
// one is always 0; the step is the quiet or the changed one by the distance.
__attribute__((target("avx2"))) int StepAvx2(std::uint8_t* background,
                                             const std::uint8_t* current, int bytes,
                                             int quietStep, int changedStep) {
  const __m256i quiet = _mm256_set1_epi8(static_cast<char>(quietStep));
  const __m256i changed = _mm256_set1_epi8(static_cast<char>(changedStep));
  const __m256i gate = _mm256_set1_epi8(static_cast<char>(kBackgroundQuietLevels));
  int i = 0;
  for (; i + 32 <= bytes; i += 32) {
    auto* to = reinterpret_cast<__m256i*>(background + i);
    const __m256i b = _mm256_loadu_si256(to);
    const __m256i c = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(current + i));
    const __m256i up = _mm256_subs_epu8(c, b);
    const __m256i down = _mm256_subs_epu8(b, c);
    const __m256i distance = _mm256_or_si256(up, down);
    const __m256i isQuiet = _mm256_cmpeq_epi8(_mm256_min_epu8(distance, gate), distance);
    const __m256i step = _mm256_blendv_epi8(changed, quiet, isQuiet);
    _mm256_storeu_si256(to, _mm256_subs_epu8(_mm256_adds_epu8(b, _mm256_min_epu8(up, step)),
                                             _mm256_min_epu8(down, step)));
  }
  return i;
}

// The same with SSE2, which every x86-64 has.
int StepSse2(std::uint8_t* background, const std::uint8_t* current, int bytes, int quietStep,
             int changedStep) {
  const __m128i quiet = _mm_set1_epi8(static_cast<char>(quietStep));
  const __m128i changed = _mm_set1_epi8(static_cast<char>(changedStep));
  const __m128i gate = _mm_set1_epi8(static_cast<char>(kBackgroundQuietLevels));
  int i = 0;
  for (; i + 16 <= bytes; i += 16) {
    auto* to = reinterpret_cast<__m128i*>(background + i);
    const __m128i b = _mm_loadu_si128(to);
    const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(current + i));
    const __m128i up = _mm_subs_epu8(c, b);
    const __m128i down = _mm_subs_epu8(b, c);
    const __m128i distance = _mm_or_si128(up, down);
    const __m128i isQuiet = _mm_cmpeq_epi8(_mm_min_epu8(distance, gate), distance);
    const __m128i step =
        _mm_or_si128(_mm_and_si128(isQuiet, quiet), _mm_andnot_si128(isQuiet, changed));
    _mm_storeu_si128(to, _mm_subs_epu8(_mm_adds_epu8(b, _mm_min_epu8(up, step)),
                                       _mm_min_epu8(down, step)));
  }
  return i;
}

bool StepHasAvx2() {
  static const bool has = __builtin_cpu_supports("avx2");
  return has;
}

}  // namespace
#endif

void StepBackground(std::uint8_t* background, const std::uint8_t* current, int bytes,
                    int quietStep, int changedStep) {
  int i = 0;
#ifdef QMR_PIXEL_COUNT_SSE
  i = StepHasAvx2() ? StepAvx2(background, current, bytes, quietStep, changedStep)
                    : StepSse2(background, current, bytes, quietStep, changedStep);
#endif
  if (i < bytes) {
    StepBackgroundScalar(background + i, current + i, bytes - i, quietStep, changedStep);
  }
}

int CountChangedSamples(const std::uint8_t* reference, const std::uint8_t* current, int pixels) {
#ifdef QMR_PIXEL_COUNT_SSE
  if (HasAvx2() && HasSse()) return CountAvx2(reference, current, pixels);
  if (HasSse()) return CountSse(reference, current, pixels);
#endif
  return CountChangedSamplesScalar(reference, current, pixels);
}

bool CountChangedSamplesOn(PixelCountPath path, const std::uint8_t* reference,
                           const std::uint8_t* current, int pixels, int& count) {
  switch (path) {
    case PixelCountPath::kScalar:
      count = CountChangedSamplesScalar(reference, current, pixels);
      return true;
#ifdef QMR_PIXEL_COUNT_SSE
    case PixelCountPath::kSse:
      if (!HasSse()) return false;
      count = CountSse(reference, current, pixels);
      return true;
    case PixelCountPath::kAvx2:
      if (!HasAvx2() || !HasSse()) return false;
      count = CountAvx2(reference, current, pixels);
      return true;
#endif
    default:
      return false;
  }
}

}  // namespace qmr
