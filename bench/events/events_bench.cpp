// One check of a motion period at 640x480 with pictures and an MJPEG motion
// recording, beside the bare work it cannot avoid: one TurboJPEG encode and
// one libavcodec MJPEG encode (with its colour conversion) of the same frame.
// The figure that matters is the ratio OnMotion / (JPEG + MJPEG).
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}
#include <benchmark/benchmark.h>
#include <turbojpeg.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <vector>

#include "base/app_context.h"
#include "base/process.h"
#include "capture/camera_entry.h"
#include "capture/video_frame.h"
#include "config/ini_file.h"
#include "config/settings.h"
#include "delivery/dialup_connection.h"
#include "delivery/transfer_queue.h"
#include "motion/alarm_sound.h"
#include "motion/motion_actions.h"
#include "platform/audio_player.h"
#include "recording/bitmap_info.h"

namespace qmr {
namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 480;

// A camera-like frame: gradients and some texture, stored bottom-up.
std::vector<std::uint8_t> MakeFrame() {
  std::vector<std::uint8_t> bgr(static_cast<std::size_t>(kWidth) * kHeight * 3);
  unsigned seed = 12345;
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      seed = seed * 1103515245u + 12345u;
      const int noise = static_cast<int>((seed >> 16) & 15);
      std::uint8_t* p = &bgr[(static_cast<std::size_t>(y) * kWidth + x) * 3];
      p[0] = static_cast<std::uint8_t>((x / 3 + noise) & 255);
      p[1] = static_cast<std::uint8_t>((y / 2 + x / 7 + noise) & 255);
      p[2] = static_cast<std::uint8_t>(((x ^ y) / 4 + noise) & 255);
    }
  }
  return bgr;
}

class BenchContext : public AppContext {
 public:
  BenchContext() : alarm_(std::make_unique<AudioPlayer>()) {}
  SettingsStore& Settings() override { return settings_; }
  IniFile& SettingsFile() override { return ini_; }
  AlarmSound& Alarm() override { return alarm_; }
  DialupConnection& Dialup() override { return dialup_; }
  TransferQueue& Transfer() override { return transfer_; }
  const std::vector<std::unique_ptr<CameraEntry>>& Cameras() override { return cameras_; }
  void PostMessageBox(const std::string&, const std::string&, long) override {}
  bool RunOnUiThread(std::function<void()> fn, int) override {
    fn();
    return true;
  }

 private:
  SettingsStore settings_;
  IniFile ini_;
  AlarmSound alarm_;
  DialupConnection dialup_;
  TransferQueue transfer_;
  std::vector<std::unique_ptr<CameraEntry>> cameras_;
};

// Exposes the hook so the benchmark can run one check at a time.
class BenchDetector : public CameraMotionDetector {
 public:
  BenchDetector(AppContext& context, const std::vector<std::uint8_t>& bgr)
      : CameraMotionDetector(context, "Bench   NO.1", nullptr) {
    VideoFrame& frame = CurrentFrame();
    frame.header = MakeRgb24Header(kWidth, kHeight);
    frame.pixels.Append(bgr.data(), static_cast<std::int32_t>(bgr.size()));
    frame.captureTime = SystemTime{2026, 12, 2, 8, 10, 0, 0, 0};
  }
  ~BenchDetector() override { SetRunning(false); }
  void Check() { OnMotion(); }
};

void BM_OnMotionPictureAndMjpegRecording(benchmark::State& state) {
  char pattern[] = "/tmp/qmr_events_bench_XXXXXX";
  const std::string folder = mkdtemp(pattern);
  SetApplicationFolder(folder);
  BenchContext context;
  context.Settings().Update([&](Settings& s) {
    s.picDir = folder + "/PIC";
    s.aviDir = folder + "/AVI";
    s.savPic = true;
    s.savAvi = true;
    s.alarm = false;
    s.hiSpeed = false;
    s.fccHandler = MakeFourCC("MJPG");
  });
  const auto bgr = MakeFrame();
  {
    BenchDetector detector(context, bgr);
    detector.Check();  // opens the recording
    for (auto _ : state) detector.Check();
  }
  std::error_code ec;
  std::filesystem::remove_all(folder, ec);
}
BENCHMARK(BM_OnMotionPictureAndMjpegRecording)->Unit(benchmark::kMillisecond);

void BM_BareJpegPlusMjpegEncode(benchmark::State& state) {
  const auto bgr = MakeFrame();
  // TurboJPEG, as the motion pictures are made.
  tjhandle tj = tjInitCompress();
  unsigned char* jpeg = nullptr;
  unsigned long jpegSize = 0;
  // libavcodec MJPEG at the recording's quality (qscale 6), full-range 4:2:0.
  const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_MJPEG);
  AVCodecContext* c = avcodec_alloc_context3(codec);
  c->width = kWidth;
  c->height = kHeight;
  c->pix_fmt = AV_PIX_FMT_YUVJ420P;
  c->time_base = AVRational{1, 25};
  c->color_range = AVCOL_RANGE_JPEG;
  c->thread_count = 1;
  c->flags |= AV_CODEC_FLAG_QSCALE;
  c->global_quality = 6 * FF_QP2LAMBDA;
  if (avcodec_open2(c, codec, nullptr) < 0) {
    state.SkipWithError("no MJPEG encoder");
    return;
  }
  AVFrame* frame = av_frame_alloc();
  frame->format = c->pix_fmt;
  frame->width = kWidth;
  frame->height = kHeight;
  av_frame_get_buffer(frame, 0);
  AVPacket* packet = av_packet_alloc();
  SwsContext* sws = sws_getContext(kWidth, kHeight, AV_PIX_FMT_BGR24, kWidth, kHeight,
                                   AV_PIX_FMT_YUV420P, SWS_BILINEAR, nullptr, nullptr, nullptr);
  const int* coefficients = sws_getCoefficients(SWS_CS_ITU601);
  sws_setColorspaceDetails(sws, coefficients, 1, coefficients, 1, 0, 1 << 16, 1 << 16);
  std::int64_t pts = 0;
  for (auto _ : state) {
    tjCompress2(tj, bgr.data(), kWidth, kWidth * 3, kHeight, TJPF_BGR, &jpeg, &jpegSize, TJSAMP_420,
                75, TJFLAG_BOTTOMUP);
    benchmark::DoNotOptimize(jpegSize);
    // Bottom-up rows: start at the last stored row with a negative stride.
    const std::uint8_t* src[1] = {bgr.data() + static_cast<std::size_t>(kHeight - 1) * kWidth * 3};
    const int srcStride[1] = {-kWidth * 3};
    av_frame_make_writable(frame);
    sws_scale(sws, src, srcStride, 0, kHeight, frame->data, frame->linesize);
    frame->pts = pts++;
    avcodec_send_frame(c, frame);
    while (avcodec_receive_packet(c, packet) == 0) {
      benchmark::DoNotOptimize(packet->size);
      av_packet_unref(packet);
    }
  }
  sws_freeContext(sws);
  av_packet_free(&packet);
  av_frame_free(&frame);
  avcodec_free_context(&c);
  tjFree(jpeg);
  tjDestroy(tj);
}
BENCHMARK(BM_BareJpegPlusMjpegEncode)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace qmr

BENCHMARK_MAIN();
