#include "recording/video_compressor.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>

#include <turbojpeg.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/imgutils.h>
#include <libavutil/log.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

namespace qmr {

namespace {

// How a quality in hundredths of a percent becomes the encoder's own scale.
enum class QualityScale {
  kQScale,  // quantiser 2 (best) to 31, fixed per frame
  kCrf,     // x264 constant rate factor
  kNone,    // lossless: nothing to choose
};

struct CodecChoice {
  const char* fourcc;
  const char* encoder;
  const char* description;
  AVPixelFormat encoderFormat;  // what the encoder is fed
  AVPixelFormat scaleFormat;    // what swscale writes (same layout)
  bool fullRange;
  QualityScale scale;
  int defaultQuality;  // used when the caller passes 0
  int keyFrameRate;
  bool globalHeader;  // codec data goes into the stream format
};

// Key-frame distances stay short: a recording is cut at any moment and is
// often looked at from the middle.
const CodecChoice kCodecs[] = {
    {"MJPG", "mjpeg", "Motion JPEG", AV_PIX_FMT_YUVJ420P, AV_PIX_FMT_YUV420P, true,
     QualityScale::kQScale, 7500, 1, false},
    {"FMP4", "mpeg4", "MPEG-4 Part 2", AV_PIX_FMT_YUV420P, AV_PIX_FMT_YUV420P, false,
     QualityScale::kQScale, 7500, 15, false},
    {"H264", "libx264", "H.264 (x264)", AV_PIX_FMT_YUV420P, AV_PIX_FMT_YUV420P, false,
     QualityScale::kCrf, 7500, 30, false},
    {"FFV1", "ffv1", "FFV1 lossless", AV_PIX_FMT_BGR0, AV_PIX_FMT_BGR0, false, QualityScale::kNone,
     10000, 15, true},
};

const CodecChoice* FindChoice(std::uint32_t handler) {
  for (const auto& c : kCodecs) {
    if (MakeFourCC(c.fourcc) == handler) return &c;
  }
  return nullptr;
}

// Quality 1..10000 -> quantiser 31..2 (linear).
int QScaleFor(int quality) {
  const double q = std::clamp(quality, 1, 10000) / 10000.0;
  return std::clamp(static_cast<int>(std::lround(2 + (1.0 - q) * 29)), 2, 31);
}

// Quality 1..10000 -> CRF 40..10; 7500 gives 17.5, visually near lossless
// for camera pictures.
double CrfFor(int quality) {
  const double q = std::clamp(quality, 1, 10000) / 10000.0;
  return 40.0 - q * 30.0;
}

// The same quantiser as a Motion JPEG quantiser scale, as a libjpeg quality:
// libjpeg scales its base tables by 5000/Q percent below quality 50 and by
// 200 - 2Q percent above; a quantiser scale q matches about 15 q percent.
// Recordings keep the sizes and the look they had at every stored quality.
int JpegQualityFor(int quality) {
  const int scalePercent = 15 * QScaleFor(quality);
  const int q = scalePercent < 100 ? (200 - scalePercent) / 2 : 5000 / scalePercent;
  return std::clamp(q, 1, 100);
}

struct CodecContextDeleter {
  void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FrameDeleter {
  void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketDeleter {
  void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct SwsDeleter {
  void operator()(SwsContext* s) const { sws_freeContext(s); }
};
struct JpegDeleter {
  void operator()(void* h) const { tjDestroy(h); }
};
struct JpegBufferDeleter {
  void operator()(unsigned char* b) const { tjFree(b); }
};

}  // namespace

struct VideoCompressor::Impl {
  std::unique_ptr<AVCodecContext, CodecContextDeleter> codec;
  std::unique_ptr<AVFrame, FrameDeleter> frame;
  std::unique_ptr<AVPacket, PacketDeleter> packet;
  std::unique_ptr<SwsContext, SwsDeleter> sws;
  // Motion JPEG is compressed by libjpeg-turbo straight from the bottom-up
  // BGR rows: no colour conversion pass before it, and its SIMD encoder takes
  // well under half the time of the general-purpose one.
  std::unique_ptr<void, JpegDeleter> jpeg;
  std::unique_ptr<unsigned char, JpegBufferDeleter> jpegBuffer;
  unsigned long jpegCapacity = 0;
  int jpegQuality = 0;
  int jpegWidth = 0;
  int jpegHeight = 0;
  BitmapInfoHeader input;
  std::vector<std::uint8_t> outputFormat;
  std::uint32_t handler = 0;
  int quality = 0;
  int keyFrameRate = 0;
  int dataRate = 0;
  bool sequencing = false;
  bool keyNext = true;
  std::int64_t nextPts = 0;

  void Reset() {
    jpeg.reset();
    jpegBuffer.reset();
    jpegCapacity = 0;
    sws.reset();
    packet.reset();
    frame.reset();
    codec.reset();
    outputFormat.clear();
    handler = 0;
    sequencing = false;
    nextPts = 0;
  }
};

VideoCompressor::VideoCompressor() : impl_(std::make_unique<Impl>()) {}

VideoCompressor::~VideoCompressor() = default;

bool VideoCompressor::Open(std::uint32_t handler, const BitmapInfoHeader& input, int quality,
                           int bitRate) {
  // Encoders report their statistics at the information level on every
  // close; keep the terminal for warnings, unless someone chose a level.
  static std::once_flag quiet;
  std::call_once(quiet, [] {
    if (av_log_get_level() == AV_LOG_INFO) av_log_set_level(AV_LOG_WARNING);
  });
  Close();
  const CodecChoice* choice = FindChoice(handler);
  if (choice == nullptr) return false;
  const bool turbo = std::strcmp(choice->fourcc, "MJPG") == 0;
  const AVCodec* encoder = turbo ? nullptr : avcodec_find_encoder_by_name(choice->encoder);
  if (!turbo && encoder == nullptr) return false;

  // Only uncompressed 24-bit frames.
  const int inputWidth = input.width;
  const int inputHeight = input.height < 0 ? -input.height : input.height;
  if (input.bitCount != 24 || input.compression != 0 || inputWidth <= 0 || inputHeight <= 0 ||
      inputWidth > 16384 || inputHeight > 16384)
    return false;
  // 4:2:0 needs even sizes: an odd last column or bottom row is left out of
  // the recording (a network camera may well send 641 x 479).
  int width = inputWidth;
  int height = inputHeight;
  if (choice->encoderFormat != AV_PIX_FMT_BGR0) {
    width &= ~1;
    height &= ~1;
    if (width == 0 || height == 0) return false;
  }
  const std::uint32_t needed = Rgb24ImageSize(inputWidth, inputHeight);
  if (input.sizeImage != 0 && input.sizeImage < needed) return false;

  auto& d = *impl_;
  d.quality = quality >= 1 ? std::min(quality, 10000) : choice->defaultQuality;
  d.keyFrameRate = choice->keyFrameRate;
  d.dataRate = bitRate / 1000;
  d.input = input;
  if (d.input.sizeImage == 0) d.input.sizeImage = needed;

  if (turbo) {
    d.jpeg.reset(tjInitCompress());
    const unsigned long capacity = tjBufSize(width, height, TJSAMP_420);
    if (!d.jpeg || capacity == static_cast<unsigned long>(-1)) {
      Close();
      return false;
    }
    d.jpegBuffer.reset(tjAlloc(static_cast<int>(capacity)));
    if (!d.jpegBuffer) {
      Close();
      return false;
    }
    d.jpegCapacity = capacity;
    d.jpegQuality = JpegQualityFor(d.quality);
    d.jpegWidth = width;
    d.jpegHeight = height;
    d.handler = handler;
    SetOutputFormat(width, height, nullptr, 0);
    return true;
  }

  d.codec.reset(avcodec_alloc_context3(encoder));
  if (!d.codec) return false;
  AVCodecContext* c = d.codec.get();
  c->width = width;
  c->height = height;
  c->pix_fmt = choice->encoderFormat;
  c->time_base = AVRational{1, 25};
  c->framerate = AVRational{25, 1};
  c->gop_size = choice->keyFrameRate;
  // One frame in, one packet out: no reordering delay of any kind.
  c->max_b_frames = 0;
  c->thread_count = 1;
  if (choice->fullRange) c->color_range = AVCOL_RANGE_JPEG;
  if (choice->globalHeader) c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  switch (choice->scale) {
    case QualityScale::kQScale:
      c->flags |= AV_CODEC_FLAG_QSCALE;
      c->global_quality = QScaleFor(d.quality) * FF_QP2LAMBDA;
      c->qmin = 2;
      c->qmax = 31;
      break;
    case QualityScale::kCrf:
      av_opt_set(c->priv_data, "preset", "veryfast", 0);
      av_opt_set(c->priv_data, "tune", "zerolatency", 0);
      av_opt_set_double(c->priv_data, "crf", CrfFor(d.quality), 0);
      break;
    case QualityScale::kNone:
      break;
  }
  if (avcodec_open2(c, encoder, nullptr) < 0) {
    Close();
    return false;
  }

  d.frame.reset(av_frame_alloc());
  d.packet.reset(av_packet_alloc());
  if (!d.frame || !d.packet) {
    Close();
    return false;
  }
  d.frame->format = choice->encoderFormat;
  d.frame->width = width;
  d.frame->height = height;
  if (choice->fullRange) d.frame->color_range = AVCOL_RANGE_JPEG;
  if (av_frame_get_buffer(d.frame.get(), 0) < 0) {
    Close();
    return false;
  }
  d.sws.reset(sws_getContext(width, height, AV_PIX_FMT_BGR24, width, height, choice->scaleFormat,
                             SWS_BILINEAR, nullptr, nullptr, nullptr));
  if (!d.sws) {
    Close();
    return false;
  }
  if (choice->fullRange) {
    // Full-range YUV written into a plain 4:2:0 layout, as JPEG wants it.
    const int* coefficients = sws_getCoefficients(SWS_CS_ITU601);
    sws_setColorspaceDetails(d.sws.get(), coefficients, 1, coefficients, 1, 0, 1 << 16, 1 << 16);
  }

  d.handler = handler;
  SetOutputFormat(width, height, c->extradata, c->extradata != nullptr ? c->extradata_size : 0);
  return true;
}

void VideoCompressor::SetOutputFormat(int width, int height, const std::uint8_t* extra,
                                      int extraSize) {
  auto& d = *impl_;
  BitmapInfoHeader out;
  if (extra == nullptr || extraSize < 0) extraSize = 0;
  out.size = static_cast<std::uint32_t>(sizeof(BitmapInfoHeader) + extraSize);
  out.width = width;
  out.height = height;
  out.planes = 1;
  out.bitCount = 24;
  out.compression = d.handler;
  out.sizeImage = Rgb24ImageSize(width, height);
  d.outputFormat.resize(out.size);
  std::memcpy(d.outputFormat.data(), &out, sizeof out);
  if (extraSize > 0) std::memcpy(d.outputFormat.data() + sizeof out, extra, extraSize);
}

bool VideoCompressor::StartSequence() {
  auto& d = *impl_;
  if (!d.codec && !d.jpeg) return false;
  // Time stamps keep rising across sequences (encoders refuse to go back);
  // only the next frame is forced to be a key frame.
  d.sequencing = true;
  d.keyNext = true;
  return true;
}

bool VideoCompressor::CompressFrame(const std::uint8_t* bits, const std::uint8_t** data, bool* key,
                                    std::int32_t* size) {
  auto& d = *impl_;
  if (d.jpeg) return CompressJpeg(bits, data, key, size);
  if (!d.codec || !d.sequencing || bits == nullptr || data == nullptr) return false;
  // The encoded picture may be a row and a column smaller than the input
  // (even sizes); rows are walked with the input's own stride.
  const int height = d.codec->height;
  const int inputHeight = d.input.height < 0 ? -d.input.height : d.input.height;
  const int stride = BitmapRowStride(d.input.width, 24);
  // Rows are stored bottom-up: start at the top row (the last stored one)
  // and walk backwards; a left-out bottom row is the first stored row.
  const std::uint8_t* src[4] = {bits, nullptr, nullptr, nullptr};
  int srcStride[4] = {stride, 0, 0, 0};
  if (d.input.height > 0) {
    src[0] = bits + static_cast<std::ptrdiff_t>(stride) * (inputHeight - 1);
    srcStride[0] = -stride;
  }
  if (av_frame_make_writable(d.frame.get()) < 0) return false;
  sws_scale(d.sws.get(), src, srcStride, 0, height, d.frame->data, d.frame->linesize);
  d.frame->pts = d.nextPts;
  // The first frame of every sequence is a key frame.
  d.frame->pict_type = d.keyNext ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
  av_packet_unref(d.packet.get());
  if (avcodec_send_frame(d.codec.get(), d.frame.get()) < 0) return false;
  ++d.nextPts;
  d.keyNext = false;
  if (avcodec_receive_packet(d.codec.get(), d.packet.get()) < 0) return false;
  *data = d.packet->data;
  if (key != nullptr) *key = (d.packet->flags & AV_PKT_FLAG_KEY) != 0;
  if (size != nullptr) *size = d.packet->size;
  return d.packet->size > 0;
}

bool VideoCompressor::CompressJpeg(const std::uint8_t* bits, const std::uint8_t** data, bool* key,
                                   std::int32_t* size) {
  auto& d = *impl_;
  if (!d.sequencing || bits == nullptr || data == nullptr) return false;
  const int width = d.jpegWidth;
  const int height = d.jpegHeight;
  const int inputHeight = d.input.height < 0 ? -d.input.height : d.input.height;
  const int stride = BitmapRowStride(d.input.width, 24);
  // Bottom-up rows: a left-out odd bottom row is the first stored row.
  const std::uint8_t* first = bits;
  int flags = TJFLAG_NOREALLOC;
  if (d.input.height > 0) {
    flags |= TJFLAG_BOTTOMUP;
    first += static_cast<std::ptrdiff_t>(stride) * (inputHeight - height);
  }
  unsigned char* out = d.jpegBuffer.get();
  unsigned long length = d.jpegCapacity;
  if (tjCompress2(d.jpeg.get(), first, width, stride, height, TJPF_BGR, &out, &length, TJSAMP_420,
                  d.jpegQuality, flags) != 0 ||
      length == 0) {
    return false;
  }
  *data = d.jpegBuffer.get();
  if (key != nullptr) *key = true;
  if (size != nullptr) *size = static_cast<std::int32_t>(length);
  return true;
}

bool VideoCompressor::EndSequence() {
  if (!impl_->codec && !impl_->jpeg) return false;
  Close();
  return true;
}

bool VideoCompressor::Close() {
  impl_->Reset();
  return true;
}

bool VideoCompressor::IsOpen() const { return impl_->codec != nullptr || impl_->jpeg != nullptr; }
bool VideoCompressor::IsSequencing() const { return impl_->sequencing; }
std::uint32_t VideoCompressor::Handler() const { return impl_->handler; }
const std::vector<std::uint8_t>& VideoCompressor::OutputFormat() const {
  return impl_->outputFormat;
}
const BitmapInfoHeader& VideoCompressor::InputFormat() const { return impl_->input; }
int VideoCompressor::Quality() const { return impl_->quality; }
int VideoCompressor::KeyFrameRate() const { return impl_->keyFrameRate; }
int VideoCompressor::DataRate() const { return impl_->dataRate; }

bool EnumerateCompressors(std::vector<CompressorInfo>& list) {
  bool found = false;
  for (const auto& c : kCodecs) {
    // Offered only when it really opens on this machine's FFmpeg.
    VideoCompressor probe;
    if (!probe.Open(MakeFourCC(c.fourcc), MakeRgb24Header(64, 48), 0, 0)) continue;
    list.push_back({MakeFourCC(c.fourcc), c.description});
    found = true;
  }
  return found;
}

}  // namespace qmr
