// A sequential video compressor chosen by four-character handler code:
// "MJPG" (Motion JPEG, by libjpeg-turbo), and over the encoders of the
// installed libavcodec "FMP4" (MPEG-4 Part 2), "H264" (x264) and "FFV1"
// (lossless), each only when the installed FFmpeg has that encoder. Input frames are 24-bit BGR rows stored
// bottom-up, as the capture devices deliver them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "recording/bitmap_info.h"

namespace qmr {

// One compressor on offer: its handler code and the text the user picks it by.
struct CompressorInfo {
  std::uint32_t handler = 0;
  std::string description;
};

// Appends every compressor that can be opened, in a fixed order. True when at
// least one was found.
bool EnumerateCompressors(std::vector<CompressorInfo>& list);

class VideoCompressor {
 public:
  VideoCompressor();
  virtual ~VideoCompressor();
  VideoCompressor(const VideoCompressor&) = delete;
  VideoCompressor& operator=(const VideoCompressor&) = delete;

  // Opens the compressor for frames of the input format (24-bit, uncompressed).
  // quality is in hundredths of a percent (1 to 10000); 0 takes the
  // compressor's default. bitRate (bits per second) is kept as the data rate
  // only: recordings are compressed at constant quality. Closes any open
  // codec first; false (and closed) when the handler is unknown, not
  // installed, or cannot take the input. Compressors that need even sizes
  // leave out an odd last column and bottom row; OutputFormat holds the size
  // recorded.
  bool Open(std::uint32_t handler, const BitmapInfoHeader& input, int quality, int bitRate);
  // Prepares the encoder for a new sequence of frames; false when not open.
  bool StartSequence();
  // Compresses one frame of input.sizeImage bytes. size: on entry the
  // requested maximum (a hint only: a larger frame is still returned whole,
  // since a cut frame would be corrupt); on return the compressed size.
  // data points at the compressed frame, valid until the next call. key tells
  // whether it is a key frame. False when not sequencing or nothing came out.
  bool CompressFrame(const std::uint8_t* bits, const std::uint8_t** data, bool* key,
                     std::int32_t* size);
  // Ends the sequence and closes the codec; false when no codec was open.
  bool EndSequence();
  // Closes the codec and frees the output format; true.
  bool Close();

  bool IsOpen() const;
  bool IsSequencing() const;
  std::uint32_t Handler() const;
  // The compressed format: a BitmapInfoHeader whose compression is the
  // handler code, followed by the codec's extra data where it has any. Its
  // size field is 40 + the extra data. Empty while closed.
  const std::vector<std::uint8_t>& OutputFormat() const;
  const BitmapInfoHeader& InputFormat() const;
  // The values chosen at Open (quality after the default was applied).
  int Quality() const;
  int KeyFrameRate() const;
  int DataRate() const;  // bit rate / 1000

 private:
  bool CompressJpeg(const std::uint8_t* bits, const std::uint8_t** data, bool* key,
                    std::int32_t* size);
  void SetOutputFormat(int width, int height, const std::uint8_t* extra, int extraSize);

  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace qmr
