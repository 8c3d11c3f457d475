#include "capture/frame_buffer.h"

#include "capture/jpeg_picture.h"

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

void FrameBuffer::SwapInJpegOnly(std::vector<std::uint8_t>& jpeg, const BitmapInfoHeader& header,
                                 const SystemTime& captureTime) {
  if (jpeg.empty()) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    frame_.pixels.SetLength(0);  // the block is kept for a later whole frame
    std::swap(frame_.jpeg, jpeg);
    frame_.captureTime = captureTime;
    frame_.header = header;
  }
  stored_.notify_all();
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
  frame.jpeg.assign(frame_.jpeg.begin(), frame_.jpeg.end());
  frame.header = frame_.header;
  frame.captureTime = frame_.captureTime;
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

bool FrameBuffer::WaitCopyIfNewer(VideoFrame& frame, int timeoutMs, bool jpegSuffices) const {
  bool decode = false;
  {
    std::unique_lock<std::mutex> lock(mutex_);
    const bool newer = stored_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
      return Held() && !SameCaptureTime(frame_.captureTime, frame.captureTime);
    });
    if (!newer || !CopyLocked(frame, jpegSuffices, &decode)) return false;
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
