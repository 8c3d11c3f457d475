#include "capture/frame_buffer.h"

#include <chrono>
#include <utility>

namespace qmr {

bool FrameBuffer::StoreFrame(const std::uint8_t* sample, const BitmapInfoHeader& header,
                             const SystemTime& captureTime) {
  if (!sample || header.sizeImage == 0 || header.sizeImage > 0x7FFFFFFFu) return false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!frame_.pixels.CopyFrom(sample, static_cast<std::int32_t>(header.sizeImage))) return false;
    frame_.jpeg.clear();
    frame_.captureTime = captureTime;
    frame_.header = header;
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
  }
  stored_.notify_all();
}

bool FrameBuffer::CopyLocked(VideoFrame& frame, bool jpegSuffices) const {
  if (frame_.pixels.Length() <= 0) return false;
  if (jpegSuffices && !frame_.jpeg.empty()) {
    frame.pixels.SetLength(0);  // the block is kept for a later full copy
  } else if (!frame.pixels.CopyFrom(frame_.pixels.Data(), frame_.pixels.Length())) {
    return false;
  }
  frame.jpeg.assign(frame_.jpeg.begin(), frame_.jpeg.end());
  frame.header = frame_.header;
  frame.captureTime = frame_.captureTime;
  return true;
}

bool FrameBuffer::CopyIfNewer(VideoFrame& frame) const { return WaitCopyIfNewer(frame, 0); }

bool FrameBuffer::WaitCopyIfNewer(VideoFrame& frame, int timeoutMs, bool jpegSuffices) const {
  std::unique_lock<std::mutex> lock(mutex_);
  const bool newer = stored_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
    return frame_.pixels.Length() > 0 && !SameCaptureTime(frame_.captureTime, frame.captureTime);
  });
  return newer && CopyLocked(frame, jpegSuffices);
}

bool FrameBuffer::CopyLatest(VideoFrame& frame) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return CopyLocked(frame);
}

}  // namespace qmr
