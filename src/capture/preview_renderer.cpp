#include "capture/preview_renderer.h"

#include <bit>
#include <cstddef>
#include <cstring>
#include <utility>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "capture/cpu_features.h"

namespace qmr {

namespace {

#if defined(__x86_64__)
// The picture at its own size: four pixels per step, their 12 bytes spread
// to 16 with the fourth byte of each set to 0xFF. Each 16-byte load reads 4
// bytes past the pixels it uses, so the last pixels (up to 6) are left to the
// caller; returns how many pixels were done.
__attribute__((target("ssse3"))) int CopyRowSsse3(const std::uint8_t* src, int pixels,
                                                  std::uint8_t* dst) {
  const __m128i spread = _mm_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
  const __m128i opaque = _mm_set1_epi32(static_cast<int>(0xFF000000u));
  int x = 0;
  for (; x + 6 <= pixels; x += 4) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 3 * x));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 4 * x),
                     _mm_or_si128(_mm_shuffle_epi8(v, spread), opaque));
  }
  return x;
}

// Scaled, four output pixels per step: each group's source pixels lie within
// the 16 bytes from the group's first one, and a shuffle (its mask made once
// for the sizes) spreads them to 4 bytes each, the fourth set to 0xFF.
// Enlarging always fits; shrinking fits up to about 1.4 times. groups: how
// many groups from the row's start fit and have their 16 bytes within the
// row; the rest is left to the caller.
__attribute__((target("ssse3"))) void ScaleRowSsse3(const std::uint8_t* src,
                                                    const std::uint32_t* columns,
                                                    const std::uint8_t* masks, int groups,
                                                    std::uint8_t* dst) {
  const __m128i opaque = _mm_set1_epi32(static_cast<int>(0xFF000000u));
  for (int g = 0; g < groups; ++g) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + columns[4 * g]));
    const __m128i mask = _mm_loadu_si128(reinterpret_cast<const __m128i*>(masks + 16 * g));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 16 * g),
                     _mm_or_si128(_mm_shuffle_epi8(v, mask), opaque));
  }
}
#endif

}  // namespace

PictureRect FitPicture(int sourceWidth, int sourceHeight, int paneWidth, int paneHeight) {
  PictureRect r;
  if (sourceWidth <= 0 || sourceHeight <= 0 || paneWidth <= 0 || paneHeight <= 0) return r;
  // Compare the aspect ratios in 64 bits: which side limits the picture.
  const std::int64_t byWidth = static_cast<std::int64_t>(paneWidth) * sourceHeight;
  const std::int64_t byHeight = static_cast<std::int64_t>(paneHeight) * sourceWidth;
  if (byWidth <= byHeight) {
    r.width = paneWidth;
    r.height = static_cast<int>((byWidth + sourceWidth / 2) / sourceWidth);
  } else {
    r.height = paneHeight;
    r.width = static_cast<int>((byHeight + sourceHeight / 2) / sourceHeight);
  }
  if (r.width < 1) r.width = 1;
  if (r.height < 1) r.height = 1;
  r.x = (paneWidth - r.width) / 2;
  r.y = (paneHeight - r.height) / 2;
  return r;
}

void PreviewRenderer::SetNotify(std::function<void()> notify) {
  std::lock_guard<std::mutex> lock(notifyMutex_);
  attached_.store(static_cast<bool>(notify));
  notify_ = std::move(notify);
}

void PreviewRenderer::SetOutput(PreviewOutput* output) {
  std::lock_guard<std::mutex> lock(notifyMutex_);
  output_ = output;
}

void PreviewRenderer::SetPaneSize(int width, int height) {
  if (width < 0 || height < 0) width = height = 0;
  paneSize_.store((static_cast<std::uint64_t>(static_cast<std::uint32_t>(width)) << 32) |
                  static_cast<std::uint32_t>(height));
}

int PreviewRenderer::Reduction(int width, int height) const {
  if (width <= 0 || height <= 0) return 1;
  const bool shown = attached_.load() && visible_.load();
  const std::uint64_t pane = paneSize_.load();
  const int paneWidth = static_cast<int>(pane >> 32);
  const int paneHeight = static_cast<int>(pane & 0xFFFFFFFFu);
  if (shown && (paneWidth <= 0 || paneHeight <= 0)) return 1;
  const PictureRect fit = shown ? FitPicture(width, height, paneWidth, paneHeight) : PictureRect{};
  for (int reduction = 8; reduction > 1; reduction /= 2) {
    if (width % (4 * reduction) != 0 || height % reduction != 0) continue;
    const std::int64_t w = width / reduction, h = height / reduction;
    if (w * 5 >= static_cast<std::int64_t>(fit.width) * 4 &&
        h * 5 >= static_cast<std::int64_t>(fit.height) * 4) {
      return reduction;
    }
  }
  return 1;
}

bool PreviewRenderer::TakeFrame(PreviewFrame& out) {
  std::lock_guard<std::mutex> lock(frameMutex_);
  if (!hasPending_) return false;
  std::swap(out, pending_);
  hasPending_ = false;
  return true;
}

void PreviewRenderer::Scale(const std::uint8_t* bottomUpBgr, int width, int height,
                            std::uint8_t* out, int outWidth, int outHeight) {
  const std::size_t row = static_cast<std::size_t>(width) * 3;
  if (columnsFor_[0] != width || columnsFor_[1] != outWidth) {
    columns_.resize(static_cast<std::size_t>(outWidth));
    for (int x = 0; x < outWidth; ++x) {
      // The source column under the centre of output column x.
      const std::int64_t sx = (static_cast<std::int64_t>(2 * x + 1) * width) / (2 * outWidth);
      columns_[x] = static_cast<std::uint32_t>(sx * 3);
    }
    columnsFor_[0] = width;
    columnsFor_[1] = outWidth;
    // The shuffle of every group of four output pixels, for as many groups
    // from the start as can use one.
    masks_.clear();
    groups_ = 0;
    for (int g = 0; 4 * g + 4 <= outWidth; ++g) {
      const std::uint32_t base = columns_[4 * g];
      if (base + 16 > row || columns_[4 * g + 3] - base > 13) break;
      for (int k = 0; k < 4; ++k) {
        const std::uint32_t at = columns_[4 * g + k] - base;
        masks_.push_back(static_cast<std::uint8_t>(at));
        masks_.push_back(static_cast<std::uint8_t>(at + 1));
        masks_.push_back(static_cast<std::uint8_t>(at + 2));
        masks_.push_back(0x80);  // zero, then made 0xFF
      }
      ++groups_;
    }
  }
  const std::uint32_t* columns = columns_.data();
  // Output columns whose source pixel is followed by another byte of its row.
  int wholeLoads = 0;
  while (wholeLoads < outWidth && columns[wholeLoads] + 4 <= row) ++wholeLoads;
  const std::size_t outRow = static_cast<std::size_t>(outWidth) * 4;
  int lastSy = -1;
  for (int y = 0; y < outHeight; ++y) {
    // Output row y (top-down) shows source row sy counted from the top,
    // stored height - 1 - sy rows from the start (bottom-up).
    const int sy =
        static_cast<int>((static_cast<std::int64_t>(2 * y + 1) * height) / (2 * outHeight));
    std::uint8_t* dst = out + outRow * y;
    if (sy == lastSy) {
      // Enlarged: the same source row as the row above.
      std::memcpy(dst, dst - outRow, outRow);
      continue;
    }
    lastSy = sy;
    const std::uint8_t* src = bottomUpBgr + row * (height - 1 - sy);
    int x = 0;
    if constexpr (std::endian::native == std::endian::little) {
#if defined(__x86_64__)
      if (outWidth == width && HasSsse3()) {
        x = CopyRowSsse3(src, width, dst);
      } else if (groups_ > 0 && HasSsse3()) {
        ScaleRowSsse3(src, columns, masks_.data(), groups_, dst);
        x = 4 * groups_;
      }
      dst += 4 * x;
#endif
      // One 4-byte load and store per pixel: the byte after the pixel comes
      // along and is replaced by the unused 0xFF. Pixels of the source's
      // last column are read byte by byte (in the frame's last row nothing
      // follows them).
      for (; x < wholeLoads; ++x, dst += 4) {
        std::uint32_t v;
        std::memcpy(&v, src + columns[x], 4);
        v = (v & 0x00FFFFFFu) | 0xFF000000u;
        std::memcpy(dst, &v, 4);
      }
    }
    for (; x < outWidth; ++x, dst += 4) {
      const std::uint8_t* p = src + columns[x];
      dst[0] = p[0];
      dst[1] = p[1];
      dst[2] = p[2];
      dst[3] = 0xFF;
    }
  }
}

void PreviewRenderer::Present(const std::uint8_t* bottomUpBgr, int width, int height,
                              const std::string& stamp) {
  if (!attached_.load() || !visible_.load() || !bottomUpBgr || width <= 0 || height <= 0) return;
  const std::uint64_t pane = paneSize_.load();
  const int paneWidth = static_cast<int>(pane >> 32);
  const int paneHeight = static_cast<int>(pane & 0xFFFFFFFFu);
  PictureRect fit{0, 0, width, height};
  if (paneWidth > 0 && paneHeight > 0) fit = FitPicture(width, height, paneWidth, paneHeight);
  {
    std::lock_guard<std::mutex> lock(notifyMutex_);
    if (output_ != nullptr) {
      if (std::uint8_t* out = output_->BeginPicture(fit.width, fit.height)) {
        Scale(bottomUpBgr, width, height, out, fit.width, fit.height);
        output_->EndPicture(fit.x, fit.y, stamp);
        return;
      }
    }
  }
  const std::size_t size = static_cast<std::size_t>(fit.width) * 4 * fit.height;
  if (work_.pixels.capacity() < size) growths_.fetch_add(1);
  work_.pixels.resize(size);
  Scale(bottomUpBgr, width, height, work_.pixels.data(), fit.width, fit.height);
  work_.width = fit.width;
  work_.height = fit.height;
  work_.stampText.assign(stamp);
  bool wasPending;
  {
    std::lock_guard<std::mutex> lock(frameMutex_);
    std::swap(work_, pending_);
    wasPending = hasPending_;
    hasPending_ = true;
  }
  // A frame still waiting means a repaint is already scheduled.
  if (wasPending) return;
  std::lock_guard<std::mutex> lock(notifyMutex_);
  if (notify_) notify_();
}

void PreviewRenderer::SetTextColour(const Rgb& colour) {
  colour_.store(static_cast<std::uint32_t>(colour.red) |
                (static_cast<std::uint32_t>(colour.green) << 8) |
                (static_cast<std::uint32_t>(colour.blue) << 16));
}

Rgb PreviewRenderer::TextColour() const {
  const std::uint32_t v = colour_.load();
  Rgb c;
  c.red = static_cast<std::uint8_t>(v & 0xFF);
  c.green = static_cast<std::uint8_t>((v >> 8) & 0xFF);
  c.blue = static_cast<std::uint8_t>((v >> 16) & 0xFF);
  return c;
}

}  // namespace qmr
