#include "capture/frame_buffer.h"

#include <algorithm>
#include <chrono>
#include <utility>

#include "capture/jpeg_picture.h"

namespace qmr {

namespace {

// Everything of a frame but its pixels.
void CopyAllButPixels(const VideoFrame& from, VideoFrame& to) {
  to.jpeg.assign(from.jpeg.begin(), from.jpeg.end());
  to.header = from.header;
  to.captureTime = from.captureTime;
  to.sequence = from.sequence;
}

}  // namespace

bool FrameBuffer::StoreFrame(const std::uint8_t* sample, const BitmapInfoHeader& header,
                             const SystemTime& captureTime) {
  if (!sample || header.sizeImage == 0 || header.sizeImage > 0x7FFFFFFFu) return false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!frame_.pixels.CopyFrom(sample, static_cast<std::int32_t>(header.sizeImage))) return false;
    frame_.jpeg.clear();
    frame_.captureTime = captureTime;
    frame_.header = header;
    StoredLocked();
  }
  stored_.notify_all();
  return true;
}

void FrameBuffer::SwapIn(ByteBuffer& pixels, const BitmapInfoHeader& header,
                         const SystemTime& captureTime) {
  std::vector<std::uint8_t> none;
  SwapIn(pixels, none, header, captureTime);
}

void FrameBuffer::SwapIn(ByteBuffer& pixels, std::vector<std::uint8_t>& jpeg,
                         const BitmapInfoHeader& header, const SystemTime& captureTime) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    std::swap(frame_.pixels, pixels);
    std::swap(frame_.jpeg, jpeg);
    frame_.captureTime = captureTime;
    frame_.header = header;
    StoredLocked();
  }
  stored_.notify_all();
}

void FrameBuffer::SwapInJpegOnly(std::vector<std::uint8_t>& jpeg, const BitmapInfoHeader& header,
                                 const SystemTime& captureTime) {
  if (jpeg.empty()) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    frame_.pixels.SetLength(0);  // the block is kept for a later whole frame
    std::swap(frame_.jpeg, jpeg);
    frame_.captureTime = captureTime;
    frame_.header = header;
    StoredLocked();
  }
  stored_.notify_all();
}

void FrameBuffer::StoredLocked() {
  frame_.sequence = ++storedCount_;
  if (!keepRecent_ || frame_.jpeg.empty()) return;
  if (recent_.size() < kRecentJpegs) recent_.resize(kRecentJpegs);
  if (recentCount_ == kRecentJpegs) {
    // The consumer fell behind: the oldest goes (its memory is reused).
    std::rotate(recent_.begin(), recent_.begin() + 1, recent_.end());
    --recentCount_;
  }
  VideoFrame& kept = recent_[recentCount_++];
  kept.pixels.SetLength(0);
  CopyAllButPixels(frame_, kept);
}

void FrameBuffer::KeepRecentJpegs(bool on) {
  std::lock_guard<std::mutex> lock(mutex_);
  keepRecent_ = on;
  if (!on) recentCount_ = 0;
}

std::size_t FrameBuffer::TakeRecentJpegs(std::vector<VideoFrame>& frames) {
  std::lock_guard<std::mutex> lock(mutex_);
  const std::size_t count = recentCount_;
  std::swap(recent_, frames);
  recentCount_ = 0;
  return count;
}

bool FrameBuffer::CopyLocked(VideoFrame& frame, bool jpegSuffices, bool* decode) const {
  *decode = false;
  if (!Held()) return false;
  if ((jpegSuffices && !frame_.jpeg.empty()) || frame_.pixels.Length() <= 0) {
    frame.pixels.SetLength(0);  // the block is kept for a later full copy
    *decode = !jpegSuffices;
  } else if (!frame.pixels.CopyFrom(frame_.pixels.Data(), frame_.pixels.Length())) {
    return false;
  }
  CopyAllButPixels(frame_, frame);
  return true;
}

bool FrameBuffer::DecodeCopy(VideoFrame& frame) {
  if (DecodeJpegFrame(frame.jpeg.data(), frame.jpeg.size(), frame.Width(), frame.Height(),
                      frame.pixels)) {
    return true;
  }
  // Nothing usable: the consumer is left with no pixels, but with the
  // frame's capture time, so that it waits for the next frame instead of
  // fetching this one again.
  frame.pixels.SetLength(0);
  return false;
}

bool FrameBuffer::CopyIfNewer(VideoFrame& frame) const { return WaitCopyIfNewer(frame, 0); }

bool FrameBuffer::WaitLocked(std::unique_lock<std::mutex>& lock, const VideoFrame& frame,
                             int timeoutMs, bool wholeOnly) const {
  return stored_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
    return (wholeOnly ? frame_.pixels.Length() > 0 : Held()) &&
           !SameCaptureTime(frame_.captureTime, frame.captureTime);
  });
}

bool FrameBuffer::WaitCopyIfNewer(VideoFrame& frame, int timeoutMs, bool jpegSuffices) const {
  bool decode = false;
  {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!WaitLocked(lock, frame, timeoutMs) || !CopyLocked(frame, jpegSuffices, &decode)) {
      return false;
    }
  }
  return !decode || DecodeCopy(frame);
}

bool FrameBuffer::WaitTakeIfNewer(VideoFrame& frame, int timeoutMs, bool wholeOnly) {
  bool decode = false;
  {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!WaitLocked(lock, frame, timeoutMs, wholeOnly)) return false;
    if (frame_.pixels.Length() > 0 && !frame_.jpeg.empty()) {
      std::swap(frame.pixels, frame_.pixels);
      frame_.pixels.SetLength(0);
      CopyAllButPixels(frame_, frame);
    } else if (!CopyLocked(frame, false, &decode)) {
      return false;
    }
  }
  return !decode || DecodeCopy(frame);
}

bool FrameBuffer::CopyLatest(VideoFrame& frame) const {
  bool decode = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!CopyLocked(frame, false, &decode)) return false;
  }
  return !decode || DecodeCopy(frame);
}

}  // namespace qmr
