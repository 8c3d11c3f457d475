// The reference of the whole-program benchmark: decodes every picture of a
// clip with libavcodec (one thread) and converts it to BGR24 with libswscale
// at the clip's own size, as a camera source must at the least, and prints
// the processor time per picture.
//
//   program_bare_decode CLIP [PASSES] [THREADS] [RATE]
//
// With RATE, the pictures are decoded at that many a second, sleeping in
// between as a camera's reader does, and only the first pass counts: what
// the same work costs when every picture starts from an idle processor.
//
// Output: one line "bare_ms_per_frame <ms> frames <n>".
#include <time.h>

#include <chrono>
#include <thread>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

namespace {

double CpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// Decodes and converts one pass over the clip; adds the processor time spent
// in the decoder and the conversion (not in reading the file) to cpu.
bool Pass(const char* path, int threads, int rate, double& cpu, long& frames) {
  AVFormatContext* format = nullptr;
  if (avformat_open_input(&format, path, nullptr, nullptr) < 0) return false;
  if (avformat_find_stream_info(format, nullptr) < 0) return false;
  const AVCodec* decoder = nullptr;
  const int index = av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, &decoder, 0);
  if (index < 0 || !decoder) return false;
  AVCodecContext* codec = avcodec_alloc_context3(decoder);
  avcodec_parameters_to_context(codec, format->streams[index]->codecpar);
  codec->thread_count = threads;
  if (avcodec_open2(codec, decoder, nullptr) < 0) return false;
  AVPacket* packet = av_packet_alloc();
  AVFrame* frame = av_frame_alloc();
  SwsContext* scaler = nullptr;
  std::vector<std::uint8_t> picture;
  auto drain = [&] {
    while (avcodec_receive_frame(codec, frame) == 0) {
      const int w = frame->width, h = frame->height;
      // One conversion context for the clip (the cached-context call would
      // build a new one for every full-range picture).
      if (!scaler) {
        scaler = sws_getContext(w, h, static_cast<AVPixelFormat>(frame->format), w, h,
                                AV_PIX_FMT_BGR24, SWS_BILINEAR, nullptr, nullptr, nullptr);
      }
      picture.resize(static_cast<std::size_t>(w) * 3 * h);
      std::uint8_t* planes[4] = {picture.data(), nullptr, nullptr, nullptr};
      int strides[4] = {w * 3, 0, 0, 0};
      sws_scale(scaler, frame->data, frame->linesize, 0, h, planes, strides);
      av_frame_unref(frame);
      ++frames;
    }
  };
  auto next = std::chrono::steady_clock::now();
  while (av_read_frame(format, packet) >= 0) {
    if (packet->stream_index == index) {
      if (rate > 0) {
        next += std::chrono::microseconds(1000000 / rate);
        std::this_thread::sleep_until(next);
      }
      const double start = CpuSeconds();
      avcodec_send_packet(codec, packet);
      drain();
      cpu += CpuSeconds() - start;
    }
    av_packet_unref(packet);
  }
  const double start = CpuSeconds();
  avcodec_send_packet(codec, nullptr);
  drain();
  cpu += CpuSeconds() - start;
  sws_freeContext(scaler);
  av_frame_free(&frame);
  av_packet_free(&packet);
  avcodec_free_context(&codec);
  avformat_close_input(&format);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s CLIP [PASSES] [THREADS] [RATE]\n", argv[0]);
    return 2;
  }
  av_log_set_level(AV_LOG_ERROR);
  const int passes = argc > 2 ? std::atoi(argv[2]) : 3;
  const int threads = argc > 3 ? std::atoi(argv[3]) : 1;
  const int rate = argc > 4 ? std::atoi(argv[4]) : 0;
  double best = 0.0;
  long frames = 0;
  // The fastest pass: the reference should not carry the noise of a busy
  // machine into every ratio.
  for (int p = 0; p < (passes < 1 || rate > 0 ? 1 : passes); ++p) {
    double cpu = 0.0;
    long n = 0;
    if (!Pass(argv[1], threads < 1 ? 1 : threads, rate, cpu, n) || n == 0) {
      std::fprintf(stderr, "cannot decode %s\n", argv[1]);
      return 1;
    }
    const double perFrame = cpu / static_cast<double>(n);
    if (p == 0 || perFrame < best) best = perFrame;
    frames = n;
  }
  std::printf("bare_ms_per_frame %.4f frames %ld\n", best * 1e3, frames);
  return 0;
}
