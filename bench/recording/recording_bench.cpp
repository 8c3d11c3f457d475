// Motion JPEG recording of 640×480 frames through the recorder (colour
// conversion, encoder, AVI chunks and stamps on disk) against the bare
// libswscale + libavcodec encode of the same frames, measured in one run.
// The figure that matters is the ratio printed at the end: the recorder's
// frame rate as a share of the bare encoder's.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

#include "recording/bitmap_info.h"
#include "recording/movie_recorder.h"

namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 480;
constexpr int kQuality = 8500;

// A few frames of a gradient scene with sensor noise, as a camera gives.
const std::vector<std::vector<std::uint8_t>>& Frames() {
  static const auto frames = [] {
    std::vector<std::vector<std::uint8_t>> list;
    std::mt19937 random(7);
    const int stride = qmr::BitmapRowStride(kWidth, 24);
    for (int f = 0; f < 8; ++f) {
      std::vector<std::uint8_t> frame(static_cast<std::size_t>(stride) * kHeight);
      for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
          const int noise = static_cast<int>(random() % 9) - 4;
          std::uint8_t* p = frame.data() + static_cast<std::size_t>(y) * stride + x * 3;
          p[0] = static_cast<std::uint8_t>(std::clamp(x / 3 + f * 4 + noise, 0, 255));
          p[1] = static_cast<std::uint8_t>(std::clamp(y / 2 + noise, 0, 255));
          p[2] = static_cast<std::uint8_t>(std::clamp((x + y) / 5 + noise, 0, 255));
        }
      }
      list.push_back(std::move(frame));
    }
    return list;
  }();
  return frames;
}

// The reference: the same conversion and the same encoder settings, called
// directly, the packets thrown away.
void BM_BareEncode(benchmark::State& state) {
  const AVCodec* codec = avcodec_find_encoder_by_name("mjpeg");
  AVCodecContext* c = avcodec_alloc_context3(codec);
  c->width = kWidth;
  c->height = kHeight;
  c->pix_fmt = AV_PIX_FMT_YUVJ420P;
  c->color_range = AVCOL_RANGE_JPEG;
  c->time_base = AVRational{1, 25};
  c->thread_count = 1;
  c->flags |= AV_CODEC_FLAG_QSCALE;
  c->global_quality = 6 * FF_QP2LAMBDA;  // what quality 85 % becomes
  if (avcodec_open2(c, codec, nullptr) < 0) {
    state.SkipWithError("mjpeg encoder unavailable");
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
  const int stride = qmr::BitmapRowStride(kWidth, 24);
  std::int64_t pts = 0;
  std::size_t i = 0;
  for (auto _ : state) {
    const auto& bits = Frames()[i++ % Frames().size()];
    const std::uint8_t* src[4] = {bits.data() + static_cast<std::size_t>(stride) * (kHeight - 1)};
    const int srcStride[4] = {-stride};
    av_frame_make_writable(frame);
    sws_scale(sws, src, srcStride, 0, kHeight, frame->data, frame->linesize);
    frame->pts = pts++;
    avcodec_send_frame(c, frame);
    avcodec_receive_packet(c, packet);
    benchmark::DoNotOptimize(packet->size);
    av_packet_unref(packet);
  }
  state.SetItemsProcessed(state.iterations());
  sws_freeContext(sws);
  av_packet_free(&packet);
  av_frame_free(&frame);
  avcodec_free_context(&c);
}
BENCHMARK(BM_BareEncode)->Unit(benchmark::kMillisecond)->MinTime(1.0)->Repetitions(5);

void BM_RecorderWriteFrame(benchmark::State& state) {
  char pattern[] = "/tmp/qmr-recording-bench-XXXXXX";
  const std::string dir = ::mkdtemp(pattern);
  qmr::MovieRecorder recorder;
  const qmr::BitmapInfoHeader format = qmr::MakeRgb24Header(kWidth, kHeight);
  if (!recorder.Start(dir + "/bench.avi", qmr::MakeFourCC("MJPG"), kQuality, format, 25)) {
    state.SkipWithError(recorder.Message().c_str());
    return;
  }
  std::size_t i = 0;
  for (auto _ : state) {
    if (!recorder.WriteFrame(Frames()[i++ % Frames().size()].data(), "12/08 20:30:00:000")) {
      state.SkipWithError("frame not written");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations());
  recorder.Stop();
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_RecorderWriteFrame)->Unit(benchmark::kMillisecond)->MinTime(1.0)->Repetitions(5);

// Prints the usual table and remembers each benchmark's time per frame.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const auto& run : runs) {
      // Keyed by the function name, without "/min_time:..." and the like.
      // The best of the repetitions: noise on a shared machine only ever
      // adds time, so the fastest run is the steadiest figure of each side.
      if (run.run_type != Run::RT_Iteration || run.iterations <= 0) continue;
      const std::string name = run.benchmark_name();
      const std::string key = name.substr(0, name.find('/'));
      Keep(real, key, run.GetAdjustedRealTime());
      Keep(cpu, key, run.GetAdjustedCPUTime());
    }
  }
  std::map<std::string, double> real;
  std::map<std::string, double> cpu;

 private:
  static void Keep(std::map<std::string, double>& table, const std::string& key, double value) {
    const auto it = table.find(key);
    if (it == table.end() || value < it->second) table[key] = value;
  }
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  // Time per frame is inverse to frame rate. On a shared machine the
  // processor-time ratio is the steadier one; wall time adds the disk.
  for (const auto* table : {&reporter.cpu, &reporter.real}) {
    const auto bare = table->find("BM_BareEncode");
    const auto recorder = table->find("BM_RecorderWriteFrame");
    if (bare == table->end() || recorder == table->end() || recorder->second <= 0) continue;
    std::printf("recorder frame rate / bare encode frame rate (%s time) = %.3f (target >= 0.9)\n",
                table == &reporter.cpu ? "processor" : "wall", bare->second / recorder->second);
  }
  benchmark::Shutdown();
  return 0;
}
