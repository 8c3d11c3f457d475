#include "capture/preview_renderer.h"

#include <cstddef>
#include <utility>

namespace qmr {

void PreviewRenderer::SetNotify(std::function<void()> notify) {
  std::lock_guard<std::mutex> lock(notifyMutex_);
  attached_.store(static_cast<bool>(notify));
  notify_ = std::move(notify);
}

bool PreviewRenderer::TakeFrame(PreviewFrame& out) {
  std::lock_guard<std::mutex> lock(frameMutex_);
  if (!hasPending_) return false;
  std::swap(out, pending_);
  hasPending_ = false;
  return true;
}

void PreviewRenderer::Present(const std::uint8_t* bottomUpBgr, int width, int height,
                              const std::string& stamp) {
  if (!attached_.load() || !bottomUpBgr || width <= 0 || height <= 0) return;
  const std::size_t row = static_cast<std::size_t>(width) * 3;
  work_.rgb.resize(row * height);
  for (int y = 0; y < height; ++y) {
    const std::uint8_t* src = bottomUpBgr + row * (height - 1 - y);
    std::uint8_t* dst = work_.rgb.data() + row * y;
    for (int x = 0; x < width; ++x, src += 3, dst += 3) {
      dst[0] = src[2];
      dst[1] = src[1];
      dst[2] = src[0];
    }
  }
  work_.width = width;
  work_.height = height;
  work_.stampText = stamp;
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
