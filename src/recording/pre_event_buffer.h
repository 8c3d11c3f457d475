// The seconds of video before a motion event: every frame the detector sees
// while no motion period runs is kept here, so that a motion recording can
// begin a few seconds before the check that started it.
//
// With Motion JPEG every frame is compressed at once (each is a key frame, so
// the recording can start at any of them). With every other compressor the
// frames are kept raw and compressed when the recording opens: the
// recording's own compressor then starts its sequence with the oldest
// buffered frame, which is therefore a key frame. Raw frames are large, so the
// buffer never holds more than its memory bound (64 MiB by default): a big
// picture gets fewer seconds than asked for.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "base/process.h"
#include "recording/bitmap_info.h"
#include "recording/video_compressor.h"

namespace qmr {

class MovieRecorder;

class PreEventBuffer {
 public:
  static constexpr int kMaxSeconds = 10;
  static constexpr std::size_t kDefaultMemoryLimit = std::size_t{64} << 20;

  explicit PreEventBuffer(std::size_t memoryLimit = kDefaultMemoryLimit);
  PreEventBuffer(const PreEventBuffer&) = delete;
  PreEventBuffer& operator=(const PreEventBuffer&) = delete;

  // What the buffered frames are for: seconds to keep (clamped to 0..10),
  // the recording's compressor and quality, the frames' format (24-bit,
  // bottom-up). A change empties the buffer. False when nothing is kept
  // (0 seconds, or the format cannot be compressed).
  bool Configure(int seconds, std::uint32_t handler, int quality, const BitmapInfoHeader& format);

  // Adds one frame of the configured format taken at timeMs (any millisecond
  // clock that rises with the capture time) with its stamp text, then drops
  // what is older than the kept seconds or beyond the memory bound. A frame
  // older than the newest one kept (the clock went back) empties the buffer
  // first. False when the frame was not kept. jpeg (jpegSize bytes), when
  // given, is the camera's own baseline JPEG of these pixels: with Motion
  // JPEG it is kept as it is instead of compressing the pixels again, and
  // pixels may then be null.
  bool Add(const std::uint8_t* pixels, std::size_t size, std::int64_t timeMs,
           const std::string& stampText, const std::uint8_t* jpeg = nullptr,
           std::size_t jpegSize = 0);

  // Writes the kept frames, oldest first, into a recording that has just
  // started with the configured compressor and format, then empties the
  // buffer. Returns the number of frames written.
  int WriteTo(MovieRecorder& recorder);

  void Clear();
  std::size_t Frames() const { return entries_.size(); }
  std::size_t Bytes() const { return bytes_; }
  bool Compressed() const { return compressed_; }
  // The span of the kept frames in milliseconds (newest - oldest).
  std::int64_t SpanMs() const;
  const BitmapInfoHeader& Format() const { return format_; }
  std::uint32_t Handler() const { return handler_; }

 private:
  struct Entry {
    std::vector<std::uint8_t> data;
    bool key = true;
    std::int64_t timeMs = 0;
    std::string stamp;
  };

  void DropOldest();

  std::size_t memoryLimit_;
  int seconds_ = 0;
  std::uint32_t handler_ = 0;
  int quality_ = 0;
  BitmapInfoHeader format_;
  bool compressed_ = false;
  VideoCompressor compressor_;  // Motion JPEG only
  std::deque<Entry> entries_;
  std::size_t bytes_ = 0;
  std::vector<std::uint8_t> spare_;  // the block of the last dropped frame, reused
};

// Milliseconds since 1970-01-01 of a local clock reading, as if it were UTC:
// rises with the capture time (except when the clock is set back).
std::int64_t CaptureTimeMs(const SystemTime& t);

}  // namespace qmr
