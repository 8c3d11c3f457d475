// The lock-protected latest frame of a camera. The frame thread stores into it
// only when a consumer needs a frame (a pending frame request or a running
// motion detector); the detector and the snapshot command copy out of it.
// A frame may be held as the camera's JPEG alone (see SwapInJpegOnly).
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

#include "capture/video_frame.h"

namespace qmr {

class FrameBuffer {
 public:
  FrameBuffer() = default;
  virtual ~FrameBuffer() = default;
  FrameBuffer(const FrameBuffer&) = delete;
  FrameBuffer& operator=(const FrameBuffer&) = delete;

  // Frame thread: keeps header.sizeImage bytes of sample (bottom-up BGR24)
  // with the header and the capture time. The pixel block is reused when it
  // is large enough. False when sample is null, the size is not positive or
  // memory runs out (the held frame is then left as it was).
  bool StoreFrame(const std::uint8_t* sample, const BitmapInfoHeader& header,
                  const SystemTime& captureTime);

  // Frame thread: takes the pixel block of pixels (bottom-up BGR24 of
  // header's size) without copying it; pixels gets the block held before
  // (possibly empty), to be filled with a later frame.
  void SwapIn(ByteBuffer& pixels, const BitmapInfoHeader& header, const SystemTime& captureTime);
  // The same with the camera's JPEG of the picture (may be empty), swapped
  // in the same way.
  void SwapIn(ByteBuffer& pixels, std::vector<std::uint8_t>& jpeg, const BitmapInfoHeader& header,
              const SystemTime& captureTime);

  // Frame thread: a frame whose pixels were not decoded whole (only the
  // preview needed them): the camera's JPEG of it is kept instead, swapped in
  // like the pixels. Consumers that want pixels get them decoded from it.
  void SwapInJpegOnly(std::vector<std::uint8_t>& jpeg, const BitmapInfoHeader& header,
                      const SystemTime& captureTime);

  // For a consumer that keeps the camera's JPEG of every frame (the motion
  // detector's pre-event buffer between its checks) without waking for each:
  // while on, every frame stored with a JPEG is also kept in a short list
  // (the newest kRecentJpegs), which TakeRecentJpegs empties. Off empties it.
  static constexpr std::size_t kRecentJpegs = 64;
  void KeepRecentJpegs(bool on);
  // Moves the frames kept since the last call, oldest first, into
  // frames[0 .. count) and returns count (pixels empty, JPEG, header,
  // capture time and sequence set). frames' earlier entries are recycled so
  // that their memory is reused.
  std::size_t TakeRecentJpegs(std::vector<VideoFrame>& frames);

  // Consumers: copy the held frame into frame unless both carry the same
  // capture time (then false, frame untouched). Also false while nothing has
  // been stored yet.
  bool CopyIfNewer(VideoFrame& frame) const;
  // The same, but waits up to timeoutMs for a newer frame to be stored
  // when the held one is not newer: a consumer that wants every frame
  // sleeps until one arrives instead of polling for it. jpegSuffices: a
  // frame that carries the camera's JPEG comes without its pixels (length
  // 0), for a consumer that only keeps the JPEG.
  bool WaitCopyIfNewer(VideoFrame& frame, int timeoutMs, bool jpegSuffices = false) const;
  // The same as WaitCopyIfNewer for the one consumer that judges every
  // frame's pixels (the motion detector): a held frame that also carries the
  // camera's JPEG gives its pixel block away instead of a copy and takes
  // frame's old block in exchange; it stays held as its JPEG, which other
  // consumers get decoded. wholeOnly: frames held as their JPEG alone do
  // not count as newer (the wait goes on for one that was decoded whole).
  bool WaitTakeIfNewer(VideoFrame& frame, int timeoutMs, bool wholeOnly = false);
  // Copies the held frame regardless of its time; false only while nothing
  // has been stored or memory runs out.
  bool CopyLatest(VideoFrame& frame) const;

 private:
  bool Held() const { return frame_.pixels.Length() > 0 || !frame_.jpeg.empty(); }
  // With the lock held; *decode: the copy still needs its pixels decoded
  // from its JPEG (done after the lock is let go).
  bool CopyLocked(VideoFrame& frame, bool jpegSuffices, bool* decode) const;
  bool WaitLocked(std::unique_lock<std::mutex>& lock, const VideoFrame& frame, int timeoutMs,
                  bool wholeOnly = false) const;
  // Finishes a copy that needs its pixels from the JPEG; false when that fails.
  static bool DecodeCopy(VideoFrame& frame);

  // With the lock held: a frame was stored; numbers it and keeps its JPEG
  // when asked to.
  void StoredLocked();

  mutable std::mutex mutex_;
  mutable std::condition_variable stored_;
  VideoFrame frame_;
  std::uint64_t storedCount_ = 0;
  bool keepRecent_ = false;
  std::vector<VideoFrame> recent_;  // [0, recentCount_) in use, oldest first
  std::size_t recentCount_ = 0;
};

}  // namespace qmr
