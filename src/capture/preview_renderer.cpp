#include "capture/preview_renderer.h"

#include <bit>
#include <cstddef>
#include <cstring>
#include <utility>

namespace qmr {

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

void PreviewRenderer::SetPaneSize(int width, int height) {
  if (width < 0 || height < 0) width = height = 0;
  paneSize_.store((static_cast<std::uint64_t>(static_cast<std::uint32_t>(width)) << 32) |
                  static_cast<std::uint32_t>(height));
}

bool PreviewRenderer::TakeFrame(PreviewFrame& out) {
  std::lock_guard<std::mutex> lock(frameMutex_);
  if (!hasPending_) return false;
  std::swap(out, pending_);
  hasPending_ = false;
  return true;
}

void PreviewRenderer::Scale(const std::uint8_t* bottomUpBgr, int width, int height, int outWidth,
                            int outHeight) {
  if (columnsFor_[0] != width || columnsFor_[1] != outWidth) {
    columns_.resize(static_cast<std::size_t>(outWidth));
    for (int x = 0; x < outWidth; ++x) {
      // The source column under the centre of output column x.
      const std::int64_t sx = (static_cast<std::int64_t>(2 * x + 1) * width) / (2 * outWidth);
      columns_[x] = static_cast<std::uint32_t>(sx * 3);
    }
    columnsFor_[0] = width;
    columnsFor_[1] = outWidth;
  }
  const std::size_t size = static_cast<std::size_t>(outWidth) * 4 * outHeight;
  if (work_.pixels.capacity() < size) growths_.fetch_add(1);
  work_.pixels.resize(size);
  const std::size_t row = static_cast<std::size_t>(width) * 3;
  const std::uint32_t* columns = columns_.data();
  // Output columns whose source pixel is followed by another byte of its row.
  int wholeLoads = 0;
  while (wholeLoads < outWidth && columns[wholeLoads] + 4 <= row) ++wholeLoads;
  for (int y = 0; y < outHeight; ++y) {
    // Output row y (top-down) shows source row sy counted from the top,
    // stored height - 1 - sy rows from the start (bottom-up).
    const int sy =
        static_cast<int>((static_cast<std::int64_t>(2 * y + 1) * height) / (2 * outHeight));
    const std::uint8_t* src = bottomUpBgr + row * (height - 1 - sy);
    std::uint8_t* dst = work_.pixels.data() + static_cast<std::size_t>(outWidth) * 4 * y;
    int x = 0;
    if constexpr (std::endian::native == std::endian::little) {
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
  work_.width = outWidth;
  work_.height = outHeight;
}

void PreviewRenderer::Present(const std::uint8_t* bottomUpBgr, int width, int height,
                              const std::string& stamp) {
  if (!attached_.load() || !visible_.load() || !bottomUpBgr || width <= 0 || height <= 0) return;
  const std::uint64_t pane = paneSize_.load();
  const int paneWidth = static_cast<int>(pane >> 32);
  const int paneHeight = static_cast<int>(pane & 0xFFFFFFFFu);
  int outWidth = width, outHeight = height;
  if (paneWidth > 0 && paneHeight > 0) {
    const PictureRect fit = FitPicture(width, height, paneWidth, paneHeight);
    outWidth = fit.width;
    outHeight = fit.height;
  }
  Scale(bottomUpBgr, width, height, outWidth, outHeight);
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
