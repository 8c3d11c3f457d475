// Recordings written through the compressors and the AVI writer, read back
// with ffprobe/ffmpeg and by walking the RIFF structure.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <map>
#include <thread>

#include "recording/avi_writer.h"
#include "recording/movie_recorder.h"
#include "recording/video_compressor.h"
#include "recording_test_util.h"

namespace qmr {
namespace {

using test::DecodeErrors;
using test::PatternFrame;
using test::Probe;
using test::ReadTextSamples;
using test::TempDir;

bool FileExists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

std::string Stamp(int i) {
  char text[32];
  std::snprintf(text, sizeof text, "12/08 10:00:%02d:%03d", i / 8, (i % 8) * 125);
  return text;
}

// Every compressor this FFmpeg offers: N frames at 8 a second, read back.
TEST(Recording, EveryCompressorGivesAFileFfmpegReads) {
  std::vector<CompressorInfo> compressors;
  ASSERT_TRUE(EnumerateCompressors(compressors));
  const std::map<std::string, std::string> codecNames = {
      {"MJPG", "mjpeg"}, {"FMP4", "mpeg4"}, {"H264", "h264"}, {"FFV1", "ffv1"}};
  bool haveMjpeg = false;
  for (const auto& c : compressors) {
    haveMjpeg = haveMjpeg || c.handler == MakeFourCC("MJPG");
    EXPECT_FALSE(c.description.empty());
    EXPECT_TRUE(codecNames.count(FourCCToText(c.handler))) << FourCCToText(c.handler);
  }
  EXPECT_TRUE(haveMjpeg);

  TempDir dir;
  constexpr int kFrames = 24;
  const BitmapInfoHeader format = MakeRgb24Header(320, 240);
  for (const auto& c : compressors) {
    const std::string name = FourCCToText(c.handler);
    SCOPED_TRACE(name);
    const std::string file = dir.File(name + ".avi");
    MovieRecorder recorder;
    ASSERT_TRUE(recorder.Start(file, c.handler, 8500, format, 8)) << recorder.Message();
    EXPECT_TRUE(recorder.IsRecording());
    for (int i = 0; i < kFrames; ++i) {
      EXPECT_TRUE(recorder.WriteFrame(PatternFrame(format, i).data(), Stamp(i)));
    }
    EXPECT_EQ(recorder.FramesWritten(), static_cast<std::uint32_t>(kFrames));
    EXPECT_TRUE(recorder.Stop());
    EXPECT_FALSE(recorder.IsRecording());

    const auto streams = Probe(file);
    ASSERT_EQ(streams.size(), 2u);
    EXPECT_EQ(streams[0].type, "video");
    EXPECT_EQ(streams[0].codec, codecNames.at(name));
    EXPECT_EQ(streams[0].frames, kFrames);
    EXPECT_EQ(streams[0].rate, "8/1");
    int status = -1;
    EXPECT_EQ(DecodeErrors(file, &status), "");
    EXPECT_EQ(status, 0);

    // Stamp n sits at text position n × 60 / 8: 0, 7, 15, 22, ...
    const auto samples = ReadTextSamples(file);
    ASSERT_EQ(samples.size(), static_cast<std::size_t>((kFrames - 1) * 60 / 8 + 1));
    int stamp = 0;
    for (std::size_t pos = 0; pos < samples.size(); ++pos) {
      if (stamp < kFrames && pos == static_cast<std::size_t>(stamp * 60 / 8)) {
        EXPECT_EQ(samples[pos], Stamp(stamp) + std::string(1, '\0')) << "position " << pos;
        ++stamp;
      } else {
        EXPECT_EQ(samples[pos], "") << "position " << pos;
      }
    }
    EXPECT_EQ(stamp, kFrames);
  }
}

// A camera with odd sizes (641 x 479) records with every compressor: the
// 4:2:0 ones leave out the last column and the bottom row, the picture is
// otherwise the one given, the right way up.
TEST(Recording, OddFrameSizesRecord) {
  std::vector<CompressorInfo> compressors;
  ASSERT_TRUE(EnumerateCompressors(compressors));
  TempDir dir;
  const BitmapInfoHeader format = MakeRgb24Header(641, 479);
  for (const auto& c : compressors) {
    const std::string name = FourCCToText(c.handler);
    SCOPED_TRACE(name);
    const std::string file = dir.File(name + ".avi");
    MovieRecorder recorder;
    ASSERT_TRUE(recorder.Start(file, c.handler, 9500, format, 8)) << recorder.Message();
    for (int i = 0; i < 6; ++i) {
      EXPECT_TRUE(recorder.WriteFrame(PatternFrame(format, i).data(), Stamp(i)));
    }
    EXPECT_TRUE(recorder.Stop());
    int status = -1;
    EXPECT_EQ(DecodeErrors(file, &status), "");
    EXPECT_EQ(status, 0);
    const bool lossless = name == "FFV1";
    const std::string size = test::RunCommand(
        "ffprobe -v error -show_entries stream=width,height -of csv=p=0 '" + file + "'");
    EXPECT_EQ(size.substr(0, size.find('\n')), lossless ? "641,479" : "640,478");
    if (name != "MJPG") continue;
    // The top rows of the picture are kept: the bright square of the first
    // frame (stored rows 159 to 174, bottom-up) is at rows 304 to 319 from
    // the top, not one row off.
    const std::string raw = test::RunCommand("ffmpeg -nostdin -v error -i '" + file +
                                             "' -frames:v 1 -f rawvideo -pix_fmt gray - ");
    ASSERT_EQ(raw.size(), 640u * 478u);
    auto bright = [&](int y) { return static_cast<unsigned char>(raw[y * 640 + 8]) > 200; };
    EXPECT_FALSE(bright(303));
    EXPECT_TRUE(bright(304));
    EXPECT_TRUE(bright(319));
    EXPECT_FALSE(bright(320));
  }
}

// The lossless compressor gives back exactly the picture, the right way up:
// catches a flipped or skewed reading of bottom-up padded rows.
TEST(Recording, LosslessRoundTripKeepsOrientation) {
  VideoCompressor probe;
  if (!probe.Open(MakeFourCC("FFV1"), MakeRgb24Header(64, 48), 0, 0)) GTEST_SKIP();
  TempDir dir;
  const std::string file = dir.File("lossless.avi");
  const BitmapInfoHeader format = MakeRgb24Header(98, 50);  // rows padded to 296 bytes
  const auto frame = PatternFrame(format, 3);
  MovieRecorder recorder;
  ASSERT_TRUE(recorder.Start(file, MakeFourCC("FFV1"), 0, format, 10));
  ASSERT_TRUE(recorder.WriteFrame(frame.data(), "x"));
  recorder.Stop();
  int status = -1;
  const std::string raw = test::RunCommand(
      "ffmpeg -nostdin -v error -i '" + file + "' -map 0:v -f rawvideo -pix_fmt bgr24 - ", &status);
  ASSERT_EQ(status, 0);
  ASSERT_EQ(raw.size(), 98u * 50u * 3u);
  const int stride = BitmapRowStride(98, 24);
  for (int y = 0; y < 50; ++y) {
    // Decoded rows are top-down; ours are stored bottom-up.
    const std::uint8_t* stored = frame.data() + static_cast<std::size_t>(49 - y) * stride;
    ASSERT_EQ(std::memcmp(raw.data() + static_cast<std::size_t>(y) * 98 * 3, stored, 98 * 3), 0)
        << "row " << y;
  }
}

TEST(Recording, CompressorOpenRules) {
  VideoCompressor c;
  const std::uint32_t mjpg = MakeFourCC("MJPG");
  EXPECT_FALSE(c.EndSequence());  // nothing open
  EXPECT_FALSE(c.StartSequence());
  EXPECT_FALSE(c.Open(MakeFourCC("XXXX"), MakeRgb24Header(64, 48), 0, 0));
  BitmapInfoHeader rgb32 = MakeRgb24Header(64, 48);
  rgb32.bitCount = 32;
  EXPECT_FALSE(c.Open(mjpg, rgb32, 0, 0));
  BitmapInfoHeader shortImage = MakeRgb24Header(64, 48);
  shortImage.sizeImage = 100;
  EXPECT_FALSE(c.Open(mjpg, shortImage, 0, 0));
  EXPECT_FALSE(c.IsOpen());

  // Quality 0 takes the compressor's default; the data rate is kept in kbit/s.
  ASSERT_TRUE(c.Open(mjpg, MakeRgb24Header(64, 48), 0, 2'000'000));
  EXPECT_GT(c.Quality(), 0);
  EXPECT_EQ(c.DataRate(), 2000);
  const auto& out = c.OutputFormat();
  ASSERT_GE(out.size(), sizeof(BitmapInfoHeader));
  BitmapInfoHeader h;
  std::memcpy(&h, out.data(), sizeof h);
  EXPECT_EQ(h.compression, mjpg);
  EXPECT_EQ(h.size, out.size());
  EXPECT_EQ(h.width, 64);
  EXPECT_EQ(h.height, 48);

  const auto frame = PatternFrame(MakeRgb24Header(64, 48), 0);
  const std::uint8_t* data = nullptr;
  bool key = false;
  std::int32_t size = 64 * 48 * 3 * 10 / 8;
  EXPECT_FALSE(c.CompressFrame(frame.data(), &data, &key, &size));  // no sequence yet
  ASSERT_TRUE(c.StartSequence());
  ASSERT_TRUE(c.CompressFrame(frame.data(), &data, &key, &size));
  EXPECT_TRUE(key);
  EXPECT_GT(size, 0);
  EXPECT_EQ(data[0], 0xFF);  // JPEG start of image
  EXPECT_EQ(data[1], 0xD8);
  EXPECT_TRUE(c.EndSequence());
  EXPECT_FALSE(c.IsOpen());
}

// Codecs with prediction: every frame in gives one frame out, key frames
// recur, and the first frame of every sequence is a key frame.
TEST(Recording, PredictiveCompressorsHaveNoDelay) {
  for (const char* code : {"FMP4", "H264"}) {
    SCOPED_TRACE(code);
    VideoCompressor c;
    const BitmapInfoHeader format = MakeRgb24Header(160, 120);
    if (!c.Open(MakeFourCC(code), format, 6000, 0)) continue;
    for (int sequence = 0; sequence < 2; ++sequence) {
      ASSERT_TRUE(c.StartSequence());
      int keys = 0;
      for (int i = 0; i < 40; ++i) {
        const auto frame = PatternFrame(format, i);
        const std::uint8_t* data = nullptr;
        bool key = false;
        std::int32_t size = 0;
        ASSERT_TRUE(c.CompressFrame(frame.data(), &data, &key, &size)) << "frame " << i;
        if (i == 0) {
          EXPECT_TRUE(key);
        }
        keys += key ? 1 : 0;
      }
      EXPECT_GE(keys, 2);
      EXPECT_LT(keys, 40);
    }
  }
}

TEST(Recording, RecorderStartFailuresLeaveNothingBehind) {
  TempDir dir;
  const BitmapInfoHeader format = MakeRgb24Header(64, 48);
  MovieRecorder recorder;
  EXPECT_TRUE(recorder.Stop());  // never started

  const std::string file = dir.File("a.avi");
  EXPECT_FALSE(recorder.Start(file, 0, 8500, format, 8));
  EXPECT_EQ(recorder.Failed(), MovieRecorder::Failure::kNoCompressor);
  EXPECT_EQ(recorder.Message(), "In order to save AVI file, please choose a compress codec first!");
  EXPECT_FALSE(FileExists(file));

  EXPECT_FALSE(recorder.Start("", MakeFourCC("MJPG"), 8500, format, 8));
  EXPECT_EQ(recorder.Failed(), MovieRecorder::Failure::kNoFileName);
  EXPECT_EQ(recorder.Message(), "Failed to initialize compressor");

  EXPECT_FALSE(recorder.Start(file, MakeFourCC("ZZZZ"), 8500, format, 8));
  EXPECT_EQ(recorder.Failed(), MovieRecorder::Failure::kCompressor);
  EXPECT_EQ(recorder.Message(), "Failed to initialize compressor");
  EXPECT_FALSE(FileExists(file));

  const std::string missing = dir.File("no/such/folder.avi");
  EXPECT_FALSE(recorder.Start(missing, MakeFourCC("MJPG"), 8500, format, 8));
  EXPECT_EQ(recorder.Failed(), MovieRecorder::Failure::kFile);
  EXPECT_EQ(recorder.Message(), "AVI file " + missing + " can not be created");
  EXPECT_FALSE(recorder.IsRecording());
  EXPECT_FALSE(recorder.WriteFrame(PatternFrame(format, 0).data(), "x"));
  EXPECT_TRUE(recorder.Stop());

  // A started recording can be thrown away; a later start works again.
  ASSERT_TRUE(recorder.Start(file, MakeFourCC("MJPG"), 8500, format, 8));
  EXPECT_EQ(recorder.Failed(), MovieRecorder::Failure::kNone);
  EXPECT_EQ(recorder.Message(), "");
  EXPECT_TRUE(recorder.WriteFrame(PatternFrame(format, 0).data(), "x"));
  const auto small = PatternFrame(MakeRgb24Header(32, 24), 0);
  EXPECT_FALSE(recorder.WriteFrame(small.data(), small.size(), "too small"));
  EXPECT_EQ(recorder.FramesWritten(), 1u);
  recorder.Discard();
  EXPECT_FALSE(FileExists(file));
  EXPECT_FALSE(recorder.IsRecording());
  ASSERT_TRUE(recorder.Start(file, MakeFourCC("MJPG"), 0, format, 8));
  EXPECT_TRUE(recorder.WriteFrame(PatternFrame(format, 1).data(), "y"));
  EXPECT_TRUE(recorder.Stop());
  EXPECT_EQ(Probe(file).at(0).frames, 1);
}

TEST(Recording, WriterCallOrder) {
  TempDir dir;
  AviWriter w;
  std::vector<std::uint8_t> format(sizeof(BitmapInfoHeader));
  const BitmapInfoHeader h = MakeRgb24Header(16, 16);
  std::memcpy(format.data(), &h, sizeof h);
  EXPECT_FALSE(w.Open(""));
  EXPECT_FALSE(w.CreateStreams(format, 0, 8, 0));  // no file
  EXPECT_FALSE(w.WriteVideo("x", 1, true));
  EXPECT_FALSE(w.WriteText("x"));
  ASSERT_TRUE(w.Open(dir.File("w.avi")));
  EXPECT_FALSE(w.CreateStreams(std::vector<std::uint8_t>(10), 0, 8, 0));  // too short
  EXPECT_FALSE(w.CreateStreams(format, 0, 0, 0));                         // no rate
  ASSERT_TRUE(w.CreateStreams(format, 0, 8, 0));
  EXPECT_FALSE(w.CreateStreams(format, 0, 8, 0));  // already there
  std::vector<std::uint8_t> pixels(h.sizeImage, 128);
  EXPECT_TRUE(w.WriteVideo(pixels.data(), static_cast<std::int32_t>(pixels.size()), true));
  EXPECT_TRUE(w.WriteText("t"));
  EXPECT_EQ(w.VideoCount(), 1u);
  EXPECT_TRUE(w.Close());
  EXPECT_EQ(w.VideoCount(), 0u);
  EXPECT_FALSE(w.IsOpen());
  EXPECT_EQ(Probe(dir.File("w.avi")).at(0).frames, 1);
}

// A file that reaches the size limit: writes report false, counters stay,
// nothing crashes.
TEST(Recording, WriteErrorsAreReported) {
  TempDir dir;
  const std::string file = dir.File("full.avi");
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{200 * 1024, 200 * 1024};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    AviWriter w;
    const BitmapInfoHeader h = MakeRgb24Header(64, 48);
    std::vector<std::uint8_t> format(sizeof h);
    std::memcpy(format.data(), &h, sizeof h);
    if (!w.Open(file) || !w.CreateStreams(format, 0, 8, 0)) ::_exit(2);
    std::vector<std::uint8_t> pixels(h.sizeImage, 7);
    int failures = 0;
    std::uint32_t before = 0;
    for (int i = 0; i < 60; ++i) {
      before = w.VideoCount();
      if (!w.WriteVideo(pixels.data(), static_cast<std::int32_t>(pixels.size()), true)) {
        ++failures;
        if (w.VideoCount() != before) ::_exit(3);
      } else {
        w.WriteText("stamp");
      }
    }
    if (failures == 0) ::_exit(4);
    w.Close();
    ::_exit(0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

// Small segments exercise the extended layout (AVIX lists, standard and super
// indexes) without gigabytes: every frame and stamp is still found.
TEST(Recording, ExtendedSegmentsStayReadable) {
  TempDir dir;
  const std::string file = dir.File("segments.avi");
  const BitmapInfoHeader h = MakeRgb24Header(160, 120);
  std::vector<std::uint8_t> format(sizeof h);
  std::memcpy(format.data(), &h, sizeof h);
  AviWriter w;
  w.SetSegmentLimit(1 << 20);
  ASSERT_TRUE(w.Open(file));
  ASSERT_TRUE(w.CreateStreams(format, MakeFourCC("DIB "), 10, 0));
  constexpr int kFrames = 60;  // about 3.5 MB: four segments
  for (int i = 0; i < kFrames; ++i) {
    const auto frame = PatternFrame(h, i);
    ASSERT_TRUE(w.WriteVideo(frame.data(), static_cast<std::int32_t>(frame.size()), true));
    ASSERT_TRUE(w.WriteText(Stamp(i)));
  }
  ASSERT_TRUE(w.Close());

  std::ifstream in(file, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  int extensions = 0;
  for (std::size_t at = bytes.find("AVIXLIST"); at != std::string::npos;
       at = bytes.find("AVIXLIST", at + 1))
    ++extensions;
  EXPECT_GE(extensions, 3);
  const auto streams = Probe(file);
  ASSERT_EQ(streams.size(), 2u);
  EXPECT_EQ(streams[0].frames, kFrames);
  EXPECT_EQ(streams[0].rate, "10/1");
  int status = -1;
  EXPECT_EQ(DecodeErrors(file, &status), "");
  EXPECT_EQ(status, 0);
  const auto samples = ReadTextSamples(file);
  ASSERT_EQ(samples.size(), static_cast<std::size_t>((kFrames - 1) * 6 + 1));
  EXPECT_EQ(samples[59 * 6], Stamp(59) + std::string(1, '\0'));
}

// A recording whose process is killed keeps all but its last second or so.
TEST(Recording, KilledRecordingStaysReadable) {
  TempDir dir;
  const std::string file = dir.File("killed.avi");
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const BitmapInfoHeader format = MakeRgb24Header(320, 240);
    MovieRecorder recorder;
    if (!recorder.Start(file, MakeFourCC("MJPG"), 8500, format, 8)) ::_exit(2);
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0;; ++i) {
      recorder.WriteFrame(PatternFrame(format, i).data(), Stamp(i));
      std::this_thread::sleep_until(start + std::chrono::milliseconds(125 * (i + 1)));
    }
  }
  std::this_thread::sleep_for(std::chrono::seconds(5));
  ::kill(child, SIGKILL);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status));

  const auto streams = Probe(file);
  ASSERT_GE(streams.size(), 1u);
  EXPECT_EQ(streams[0].codec, "mjpeg");
  EXPECT_GE(streams[0].frames, 4 * 8);  // at least four seconds of frames
  int decodeStatus = -1;
  EXPECT_EQ(DecodeErrors(file, &decodeStatus), "");
  EXPECT_EQ(decodeStatus, 0);
}

}  // namespace
}  // namespace qmr
