#include "capture/jpeg_picture.h"

#include <turbojpeg.h>

#include "capture/frame_source.h"

namespace qmr {

JpegDecoder::JpegDecoder() : handle_(tjInitDecompress()) {}

JpegDecoder::~JpegDecoder() {
  if (handle_ != nullptr) tjDestroy(handle_);
}

bool JpegDecoder::Decode(const std::uint8_t* jpeg, std::size_t size, std::uint8_t* target,
                         int width, int height, bool bottomUp) {
  if (handle_ == nullptr || jpeg == nullptr || size == 0 || target == nullptr) return false;
  return tjDecompress2(handle_, jpeg, static_cast<unsigned long>(size), target, width, 0, height,
                       TJPF_BGR, (bottomUp ? TJFLAG_BOTTOMUP : 0) | TJFLAG_FASTUPSAMPLE) == 0 ||
         tjGetErrorCode(handle_) == TJERR_WARNING;
}

bool JpegDecoder::PictureSize(const std::uint8_t* jpeg, std::size_t size, int& width,
                              int& height) {
  int subsampling = 0, colourspace = 0;
  return handle_ != nullptr && jpeg != nullptr && size != 0 &&
         tjDecompressHeader3(handle_, jpeg, static_cast<unsigned long>(size), &width, &height,
                             &subsampling, &colourspace) == 0;
}

std::string JpegDecoder::Error() const {
  return handle_ != nullptr ? tjGetErrorStr2(handle_) : "no JPEG decompressor";
}

JpegDelivery DecodeIntoSample(SampleSink& sink, JpegDecoder& decoder, const std::uint8_t* jpeg,
                              std::size_t size, int width, int height) {
  const int reduction = sink.SampleReduction(width, height);
  std::uint8_t* target = sink.BeginReducedSample(width, height, reduction);
  if (target == nullptr) return JpegDelivery::kBusy;
  sink.AttachSampleJpeg(jpeg, size);
  const bool filled = decoder.Decode(jpeg, size, target, width / reduction, height / reduction);
  sink.EndSample(filled);
  return filled ? JpegDelivery::kDecoded : JpegDelivery::kFailed;
}

bool DecodeJpegFrame(const std::uint8_t* jpeg, std::size_t size, int width, int height,
                     ByteBuffer& out) {
  out.SetLength(0);
  if (width <= 0 || height <= 0) return false;
  const std::int64_t bytes = static_cast<std::int64_t>(width) * 3 * height;
  if (bytes > 0x7FFFFFFF - ByteBuffer::kSlack) return false;
  JpegDecoder decoder;
  int w = 0, h = 0;
  if (!decoder.PictureSize(jpeg, size, w, h) || w != width || h != height) return false;
  if (out.Capacity() < bytes && !out.Allocate(static_cast<std::int32_t>(bytes), false)) {
    return false;
  }
  out.SetLength(static_cast<std::int32_t>(bytes));
  if (decoder.Decode(jpeg, size, out.Data(), width, height)) return true;
  out.SetLength(0);
  return false;
}

}  // namespace qmr
