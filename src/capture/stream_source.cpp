#include "capture/stream_source.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "base/log_file.h"
#include "capture/jpeg_markers.h"
#include "capture/jpeg_picture.h"


extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/log.h>
#include <libswscale/swscale.h>
}

namespace qmr {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::pair<int, int> kStandardSizes[] = {{160, 120}, {320, 240}, {640, 480}, {1280, 720}};
constexpr int kMaxRate = 60;
constexpr int kFirstRetryMs = 1000;
constexpr int kLastRetryMs = 30000;

std::int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch())
      .count();
}

struct FormatCloser {
  void operator()(AVFormatContext* c) const { avformat_close_input(&c); }
};
struct CodecCloser {
  void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FrameFreer {
  void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketFreer {
  void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct ScalerFreer {
  void operator()(SwsContext* s) const { sws_freeContext(s); }
};

bool LooksLocal(const std::string& url) {
  return url.find("://") == std::string::npos || url.rfind("file:", 0) == 0;
}

}  // namespace

// One opened stream with its decoder. The interrupt callback ends any wait
// inside FFmpeg when the source stops, the program quits or the current
// operation has run past its deadline.
struct StreamSource::Session {
  const StreamSource* owner = nullptr;
  std::atomic<std::int64_t> deadlineMs{0};
  std::string error;  // why Open failed
  std::unique_ptr<AVFormatContext, FormatCloser> format;
  std::unique_ptr<AVCodecContext, CodecCloser> codec;
  int streamIndex = -1;
  AVRational timeBase{1, 25};
  double frameRate = 25.0;

  static int Interrupt(void* opaque) {
    auto* s = static_cast<Session*>(opaque);
    return (s->owner->Stopping() || NowMs() > s->deadlineMs.load()) ? 1 : 0;
  }
  void Arm() { deadlineMs.store(NowMs() + kIoTimeoutMs); }

  bool Open(const std::string& url, const StreamSource* source) {
    owner = source;
    AVFormatContext* ctx = avformat_alloc_context();
    if (!ctx) return false;
    ctx->interrupt_callback.callback = &Session::Interrupt;
    ctx->interrupt_callback.opaque = this;
    AVDictionary* options = nullptr;
    if (!source->IsLocalFile()) {
      // Microseconds: a stalled connection fails instead of waiting for ever.
      av_dict_set(&options, "rw_timeout", "10000000", 0);
    }
    Arm();
    const std::string path = url.rfind("file:", 0) == 0 ? url.substr(5) : url;
    const int rc = avformat_open_input(&ctx, path.c_str(), nullptr, &options);
    av_dict_free(&options);
    if (rc < 0) {  // ctx is freed by FFmpeg on failure
      char text[AV_ERROR_MAX_STRING_SIZE] = {};
      av_strerror(rc, text, sizeof text);
      error = text;
      return false;
    }
    format.reset(ctx);
    Arm();
    if (avformat_find_stream_info(ctx, nullptr) < 0) return false;
    const AVCodec* decoder = nullptr;
    streamIndex = av_find_best_stream(ctx, AVMEDIA_TYPE_VIDEO, -1, -1, &decoder, 0);
    if (streamIndex < 0 || !decoder) {
      error = "no video stream that can be decoded";
      return false;
    }
    AVStream* stream = ctx->streams[streamIndex];
    codec.reset(avcodec_alloc_context3(decoder));
    if (!codec) return false;
    if (avcodec_parameters_to_context(codec.get(), stream->codecpar) < 0) return false;
    // One decoding thread: it decodes a 1280x720 picture in a few
    // milliseconds, well inside a frame interval, and a helper thread would
    // cost a wake-up and a hand-off per picture. Pictures larger than full
    // HD get a second thread so that they keep up with the frame rate.
    codec->thread_count =
        static_cast<std::int64_t>(codec->width) * codec->height > 1920 * 1080 ? 2 : 1;
    if (avcodec_open2(codec.get(), decoder, nullptr) < 0) return false;
    if (codec->width <= 0 || codec->height <= 0) return false;
    timeBase = stream->time_base;
    const AVRational guessed = av_guess_frame_rate(ctx, stream, nullptr);
    const double fps = guessed.den > 0 ? av_q2d(guessed) : 0.0;
    frameRate = (fps >= 0.5 && fps <= 240.0) ? fps : 25.0;
    return true;
  }
};

StreamSource::StreamSource(std::string url, std::string name)
    : url_(std::move(url)), name_(std::move(name)) {
  localFile_ = LooksLocal(url_);
}

StreamSource::~StreamSource() { Stop(); }

bool StreamSource::Stopping() const { return stop_.load() || StopFlag.load() != 0; }

bool StreamSource::Pause(int ms) const {
  const auto end = Clock::now() + std::chrono::milliseconds(ms);
  while (Clock::now() < end) {
    if (Stopping()) return false;
    std::this_thread::sleep_for(
        std::min<Clock::duration>(end - Clock::now(), std::chrono::milliseconds(50)));
  }
  return !Stopping();
}

bool StreamSource::Open() {
  static std::once_flag quiet;
  // FFmpeg's warnings (deprecated pixel formats, damaged packets) would
  // flood the terminal; errors are still printed.
  std::call_once(quiet, [] { av_log_set_level(AV_LOG_ERROR); });
  openError_.clear();
  if (url_.empty()) return false;
  if (!localFile_) return true;
  // Opening a FIFO (or a socket) waits for a writer, which no time limit
  // interrupts; only regular files and devices are opened.
  const std::string path = url_.rfind("file:", 0) == 0 ? url_.substr(5) : url_;
  struct stat st;
  if (stat(path.c_str(), &st) != 0) {
    openError_ = path + ": " + std::strerror(errno);
    return false;
  }
  if (!S_ISREG(st.st_mode) && !S_ISCHR(st.st_mode) && !S_ISBLK(st.st_mode)) {
    openError_ = path + " is neither a regular file, a device nor a URL";
    return false;
  }
  Session session;
  if (!session.Open(url_, this)) {
    openError_ =
        session.error.empty() ? path + " cannot be read as video" : path + ": " + session.error;
    return false;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  nativeWidth_ = session.codec->width;
  nativeHeight_ = session.codec->height;
  nativeRate_ = std::clamp(static_cast<int>(std::lround(session.frameRate)), 1, kMaxRate);
  return true;
}

bool StreamSource::Start(SampleSink& sink) {
  if (thread_.load() != 0) return true;
  sink_ = &sink;
  decoded_ = 0;
  stop_.store(false);
  return StartThread(ThreadMain, this, thread_);
}

void StreamSource::Stop() {
  if (thread_.load() == 0) return;
  stop_.store(true);
  while (!WaitForThreadEnd(thread_, 5000, "stream camera")) {
  }
}

bool StreamSource::GetFormat(int& width, int& height, int& frameRate) {
  std::lock_guard<std::mutex> lock(mutex_);
  width = wantedWidth_ ? wantedWidth_ : (nativeWidth_ >= 4 ? nativeWidth_ & ~3 : 640);
  height = wantedHeight_ ? wantedHeight_ : (nativeHeight_ > 0 ? nativeHeight_ : 480);
  frameRate = wantedRate_ ? wantedRate_ : (nativeRate_ ? nativeRate_ : 25);
  return true;
}

bool StreamSource::SetFormat(int width, int height, int frameRate) {
  if (width != 0 || height != 0) {
    width &= ~3;
    if (width < 16 || height < 16 || width > 4096 || height > 2160) return false;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  wantedWidth_ = width;
  wantedHeight_ = height;
  // Rate 0 with the default size: the stream's own rate.
  wantedRate_ = frameRate == 0 && width == 0 ? 0 : std::clamp(frameRate, 1, kMaxRate);
  return true;
}

int StreamSource::CapabilityCount() {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<int>(std::size(kStandardSizes)) + (nativeWidth_ >= 4 ? 1 : 0);
}

bool StreamSource::GetCapability(int index, VideoCapability& c) {
  std::lock_guard<std::mutex> lock(mutex_);
  const bool native = nativeWidth_ >= 4;
  const int count = static_cast<int>(std::size(kStandardSizes)) + (native ? 1 : 0);
  if (index < 0 || index >= count) return false;
  int w, h;
  if (native && index == 0) {
    w = nativeWidth_ & ~3;
    h = nativeHeight_;
  } else {
    const auto& s = kStandardSizes[index - (native ? 1 : 0)];
    w = s.first;
    h = s.second;
  }
  c = VideoCapability{};
  c.inputWidth = c.minWidth = c.maxWidth = w;
  c.inputHeight = c.minHeight = c.maxHeight = h;
  c.minFrameRate = 1;
  c.maxFrameRate = std::max(nativeRate_, 30);
  return true;
}

void StreamSource::OutputSize(int& width, int& height, int& rate) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (wantedWidth_ > 0 && wantedHeight_ > 0) {
    width = wantedWidth_;
    height = wantedHeight_;
  } else {
    width &= ~3;
  }
  rate = wantedRate_ ? wantedRate_ : 0;  // 0: every picture
}

void StreamSource::ThreadMain(void* argument) { static_cast<StreamSource*>(argument)->Run(); }

void StreamSource::Run() {
  int retryMs = kFirstRetryMs;
  bool lost = false;  // the log already says the stream is gone
  bool everPlayed = false;
  while (!Stopping()) {
    Session session;
    if (session.Open(url_, this)) {
      {
        std::lock_guard<std::mutex> lock(mutex_);
        nativeWidth_ = session.codec->width;
        nativeHeight_ = session.codec->height;
        nativeRate_ = std::clamp(static_cast<int>(std::lround(session.frameRate)), 1, kMaxRate);
      }
      if (lost) LogFile::Writef("Camera %s: stream %s is back", name_.c_str(), url_.c_str());
      lost = false;
      const bool played = Play(session);
      if (Stopping()) break;
      if (played) {
        everPlayed = true;
        retryMs = kFirstRetryMs;
      }
    }
    if (Stopping()) break;
    if (!lost) {
      LogFile::Writef("Camera %s: stream %s %s, trying again", name_.c_str(), url_.c_str(),
                      everPlayed ? "lost" : "cannot be opened");
      lost = true;
    }
    if (!Pause(retryMs)) break;
    retryMs = std::min(retryMs * 2, kLastRetryMs);
  }
  // How much this camera decoded: a diagnostic, and what the whole-program
  // benchmark divides its processor time by.
  if (decoded_ > 0) {
    const double seconds = static_cast<double>(NowMs() - firstDecodeMs_) / 1000.0;
    LogFile::Writef("Camera %s: %llu pictures decoded in %.2f s", name_.c_str(),
                    static_cast<unsigned long long>(decoded_), seconds);
  }
}

bool StreamSource::Play(Session& s) {
  std::unique_ptr<AVPacket, PacketFreer> packet(av_packet_alloc());
  std::unique_ptr<AVFrame, FrameFreer> frame(av_frame_alloc());
  if (!packet || !frame) return false;
  std::unique_ptr<SwsContext, ScalerFreer> scaler;
  int scalerKey[5] = {0, 0, 0, 0, 0};  // source size and format, output size
  std::vector<std::uint8_t> picture;
  AVFormatContext* fmt = s.format.get();
  AVCodecContext* codec = s.codec.get();
  // The packet whose picture the decoder hands out next: a Motion JPEG
  // decoder with one thread answers every packet with its own picture.
  const bool jpegStream = codec->codec_id == AV_CODEC_ID_MJPEG && codec->thread_count <= 1;
  const AVPacket* current = nullptr;

  bool delivered = false;
  // A file, local or served over the network (seekable, with a length), is
  // played in real time and looped; a live stream is taken as it comes.
  const bool recorded = localFile_ || (fmt->pb && (fmt->pb->seekable & AVIO_SEEKABLE_NORMAL) &&
                                       fmt->duration > 0);
  // Real-time playing of files: picture time (pts) mapped onto the clock.
  bool anchored = false;
  Clock::time_point wallBase;
  double ptsBase = 0.0;
  std::uint64_t count = 0;
  Clock::time_point lastDelivery = Clock::now() - std::chrono::hours(1);

  // Holds a picture of time stamp `ts` (stream time base) until its time
  // when playing a file, and tells whether it is wanted at all: the output
  // size, and the rate limit. Called before decoding where that is possible,
  // so that pictures not wanted are never decoded.
  enum class Step { kStop, kSkip, kGo };
  auto countDecoded = [&] {
    if (decoded_++ == 0) firstDecodeMs_ = NowMs();
  };
  auto pace = [&](std::int64_t ts, int sourceWidth, int sourceHeight, int& width, int& height,
                  Clock::time_point& now) -> Step {
    ++count;
    if (recorded) {
      double pts = static_cast<double>(count) / s.frameRate;
      if (ts != AV_NOPTS_VALUE) pts = static_cast<double>(ts) * av_q2d(s.timeBase);
      now = Clock::now();
      if (anchored) {
        const auto target = wallBase + std::chrono::duration_cast<Clock::duration>(
                                           std::chrono::duration<double>(pts - ptsBase));
        // A jump in the time stamps (damaged file) re-anchors the clock.
        if (target > now + std::chrono::seconds(2) || target < now - std::chrono::seconds(1)) {
          anchored = false;
        } else if (target > now) {
          const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(target - now);
          if (!Pause(static_cast<int>(wait.count()))) return Step::kStop;
        }
      }
      if (!anchored) {
        wallBase = now;
        ptsBase = pts;
        anchored = true;
      }
    }
    width = sourceWidth;
    height = sourceHeight;
    int rate = 0;
    OutputSize(width, height, rate);
    if (width < 4 || height < 1) return Step::kSkip;
    now = Clock::now();
    if (rate > 0) {
      // Deliver no more pictures per second than asked for; a quarter of an
      // interval of slack keeps a 25 fps file at 25 when 25 is asked for.
      const auto interval = std::chrono::microseconds(1000000 / rate);
      if (now - lastDelivery < interval - interval / 4) return Step::kSkip;
    }
    return Step::kGo;
  };

  auto deliver = [&](AVFrame* f) -> bool {
    int width = 0, height = 0;
    Clock::time_point now;
    const Step step = pace(f->best_effort_timestamp, f->width, f->height, width, height, now);
    if (step != Step::kGo) return step == Step::kSkip;
    // One conversion context while the sizes and the pixel format stay (the
    // library's cached-context call would make a new one for every
    // full-range JPEG picture).
    const int key[5] = {f->width, f->height, f->format, width, height};
    if (!scaler || !std::equal(key, key + 5, scalerKey)) {
      scaler.reset(sws_getContext(f->width, f->height, static_cast<AVPixelFormat>(f->format),
                                  width, height, AV_PIX_FMT_BGR24, SWS_BILINEAR, nullptr, nullptr,
                                  nullptr));
      std::copy(key, key + 5, scalerKey);
    }
    if (!scaler) return true;
    const int row = width * 3;
    if (sink_->TakesDirectSamples()) {
      // Converted straight into the camera's sample buffer, bottom-up (the
      // last row first, negative stride): no copy of the picture after.
      std::uint8_t* target = sink_->BeginSample(width, height);
      if (target == nullptr) return true;  // the camera is busy: dropped unconverted
      if (current != nullptr && f->width == width && f->height == height && (height & 1) == 0 &&
          IsBaselineJpegOfSize(current->data, static_cast<std::size_t>(current->size), width,
                               height)) {
        sink_->AttachSampleJpeg(current->data, static_cast<std::size_t>(current->size));
      }
      std::uint8_t* planes[4] = {target + static_cast<std::size_t>(row) * (height - 1), nullptr,
                                 nullptr, nullptr};
      int strides[4] = {-row, 0, 0, 0};
      const bool filled =
          sws_scale(scaler.get(), f->data, f->linesize, 0, f->height, planes, strides) > 0;
      sink_->EndSample(filled);
      if (!filled) return true;
    } else {
      picture.resize(static_cast<std::size_t>(row) * height);
      std::uint8_t* planes[4] = {picture.data(), nullptr, nullptr, nullptr};
      int strides[4] = {row, 0, 0, 0};
      if (sws_scale(scaler.get(), f->data, f->linesize, 0, f->height, planes, strides) <= 0) {
        return true;
      }
      sink_->OnSample(picture.data(), width, height, row);
    }
    lastDelivery = now;
    delivered = true;
    return true;
  };

  // Motion JPEG wanted at its own size goes through TurboJPEG straight into
  // the camera's sample, bottom-up and in BGR: one pass instead of a decode
  // into planes and a conversion after; pictures that are not wanted (rate
  // limit, camera busy) are not decoded at all. Anything else (another size
  // wanted, field-coded or progressive pictures, a picture TurboJPEG cannot
  // read) takes the general decoder below. kGo: not handled here.
  std::unique_ptr<JpegDecoder> turbo;
  if (jpegStream && sink_->TakesDirectSamples()) {
    turbo = std::make_unique<JpegDecoder>();
    if (!turbo->Usable()) turbo.reset();
  }
  auto decodeJpeg = [&](AVPacket* p) -> Step {
    const int jpegWidth = codec->width, jpegHeight = codec->height;
    const std::size_t size = static_cast<std::size_t>(p->size);
    if ((jpegHeight & 1) != 0 || !IsBaselineJpegOfSize(p->data, size, jpegWidth, jpegHeight)) {
      return Step::kGo;
    }
    int width = jpegWidth, height = jpegHeight, rate = 0;
    OutputSize(width, height, rate);
    if (width != jpegWidth || height != jpegHeight) return Step::kGo;
    Clock::time_point now;
    const std::int64_t ts = p->pts != AV_NOPTS_VALUE ? p->pts : p->dts;
    const Step step = pace(ts, jpegWidth, jpegHeight, width, height, now);
    if (step != Step::kGo) return step;
    // When only the preview needs this picture, it is decoded as small as
    // the pane shows it: JPEG's reduced inverse transforms make that much
    // cheaper than a whole decode, and the picture written is a quarter or
    // less. The JPEG attached is the whole picture for anyone who needs it.
    const JpegDelivery delivery = DecodeIntoSample(*sink_, *turbo, p->data, size, width, height);
    if (delivery == JpegDelivery::kBusy) return Step::kSkip;  // dropped undecoded
    countDecoded();
    if (delivery == JpegDelivery::kFailed) {
      // This stream's pictures are not for TurboJPEG: the general decoder
      // takes them from the next one on.
      LogFile::Writef("Camera %s: %s, decoding with FFmpeg", name_.c_str(),
                      turbo->Error().c_str());
      turbo.reset();
      return Step::kSkip;
    }
    lastDelivery = now;
    delivered = true;
    return Step::kSkip;
  };

  auto drain = [&]() -> bool {
    int rc;
    while ((rc = avcodec_receive_frame(codec, frame.get())) == 0) {
      countDecoded();
      const bool go_on = deliver(frame.get());
      av_frame_unref(frame.get());
      if (!go_on) return false;
    }
    return true;
  };

  while (!Stopping()) {
    s.Arm();
    const int rc = av_read_frame(fmt, packet.get());
    if (rc < 0) {
      if (Stopping()) break;
      if (!recorded) return delivered;  // dropped or ended: reconnect
      // End of a file (or a read error in it): play out what the decoder
      // holds, then start again from the beginning.
      avcodec_send_packet(codec, nullptr);
      if (!drain()) break;
      avcodec_flush_buffers(codec);
      s.Arm();
      const std::int64_t start = fmt->start_time != AV_NOPTS_VALUE ? fmt->start_time : 0;
      if (av_seek_frame(fmt, -1, start, AVSEEK_FLAG_BACKWARD) < 0) return delivered;
      if (!delivered) return false;  // a file without a single picture: do not spin
      anchored = false;
      // Keep the last picture on screen for one frame interval.
      if (!Pause(static_cast<int>(1000.0 / s.frameRate))) break;
      continue;
    }
    if (packet->stream_index == s.streamIndex) {
      if (turbo) {
        const Step step = decodeJpeg(packet.get());
        if (step != Step::kGo) {
          av_packet_unref(packet.get());
          if (step == Step::kStop) break;
          continue;
        }
      }
      const int sent = avcodec_send_packet(codec, packet.get());
      // A damaged packet is skipped; the decoder picks up at the next one.
      if (sent < 0 && sent != AVERROR(EAGAIN)) {
        av_packet_unref(packet.get());
        continue;
      }
      current = jpegStream && sent == 0 ? packet.get() : nullptr;
      const bool goOn = drain();
      current = nullptr;
      av_packet_unref(packet.get());
      if (!goOn) break;
    } else {
      av_packet_unref(packet.get());
    }
  }
  return delivered;
}

}  // namespace qmr
