// Decoding a camera's JPEG into a frame's pixels: straight into the camera's
// sample as it arrives (whole, or reduced when only the preview needs it),
// and later for the frames whose pixels were not decoded whole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "base/byte_buffer.h"

namespace qmr {

// One TurboJPEG decompressor, kept for as many pictures as it is given.
class JpegDecoder {
 public:
  JpegDecoder();
  ~JpegDecoder();
  JpegDecoder(const JpegDecoder&) = delete;
  JpegDecoder& operator=(const JpegDecoder&) = delete;

  // False when the library could not make a decompressor.
  bool Usable() const { return handle_ != nullptr; }
  // Decodes jpeg as BGR24 rows of width * 3 bytes into target (bottom row
  // first, or top row first with bottomUp false), scaled to width x height
  // (the picture's own size, or that divided by 2, 4 or 8). Chroma is upsampled by repeating samples, merged with the
  // colour conversion: a fifth cheaper than smoothing it first, and the same
  // picture FFmpeg's conversion gives. A warning (damaged data
  // that still gives a whole picture) is not a failure.
  bool Decode(const std::uint8_t* jpeg, std::size_t size, std::uint8_t* target, int width,
              int height, bool bottomUp = true);
  // The picture's own size; false when the data has no readable header.
  bool PictureSize(const std::uint8_t* jpeg, std::size_t size, int& width, int& height);
  // Why the last call failed.
  std::string Error() const;

 private:
  void* handle_;
};

class SampleSink;

// How a camera's JPEG went to its sink.
enum class JpegDelivery { kDecoded, kBusy, kFailed };

// Hands sink one baseline JPEG of width x height (width a multiple of 4,
// height even) the copy-free way: decoded straight into the sample, as
// small as the sink allows when only its preview needs the picture, with
// the JPEG attached for whoever needs the whole picture or keeps it as it
// is. kBusy: the sink took no picture now, and nothing was decoded.
JpegDelivery DecodeIntoSample(SampleSink& sink, JpegDecoder& decoder, const std::uint8_t* jpeg,
                              std::size_t size, int width, int height);

// Decodes jpeg into out as width x height bottom-up BGR24 rows of width * 3
// bytes. False (out's length 0) when the data is not a readable JPEG of
// exactly that size or memory runs out.
bool DecodeJpegFrame(const std::uint8_t* jpeg, std::size_t size, int width, int height,
                     ByteBuffer& out);

}  // namespace qmr
