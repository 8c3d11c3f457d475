// The pre-event buffer on its own: how much it keeps (seconds and memory),
// a clock that goes back, and the frames it hands to a recording.
#include "recording/pre_event_buffer.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "recording/movie_recorder.h"
#include "recording/video_compressor.h"
#include "recording_test_util.h"

namespace qmr {
namespace {

TEST(PreEventBufferTest, KeepsTheLastSecondsWithinItsMemoryBound) {
  const BitmapInfoHeader format = MakeRgb24Header(64, 48);
  const std::vector<std::uint8_t> frame = test::PatternFrame(format, 0);

  // Raw frames (H.264): 2 s at 20 frames a second is 41 frames (both ends
  // of the two seconds), when memory allows.
  PreEventBuffer raw;
  ASSERT_TRUE(raw.Configure(2, MakeFourCC("H264"), 8500, format));
  EXPECT_FALSE(raw.Compressed());
  for (int i = 0; i < 100; ++i) ASSERT_TRUE(raw.Add(frame.data(), frame.size(), i * 50, "s"));
  EXPECT_EQ(raw.Frames(), 41u);
  EXPECT_EQ(raw.SpanMs(), 2000);
  EXPECT_EQ(raw.Bytes(), 41u * format.sizeImage);

  // A bound of ten raw frames gives fewer seconds.
  PreEventBuffer bounded(10 * format.sizeImage);
  ASSERT_TRUE(bounded.Configure(10, MakeFourCC("FMP4"), 8500, format));
  for (int i = 0; i < 100; ++i) bounded.Add(frame.data(), frame.size(), i * 50, "s");
  EXPECT_EQ(bounded.Frames(), 10u);
  EXPECT_LE(bounded.Bytes(), 10u * format.sizeImage);

  // The clock going back starts afresh; a short buffer is refused.
  bounded.Add(frame.data(), frame.size(), 100, "s");
  EXPECT_EQ(bounded.Frames(), 1u);
  EXPECT_FALSE(bounded.Add(frame.data(), frame.size() - 1, 200, "s"));

  // Motion JPEG frames are kept compressed, far smaller than raw ones; the
  // seconds are clamped to 10 and a change of format empties the buffer.
  PreEventBuffer mjpeg;
  ASSERT_TRUE(mjpeg.Configure(60, MakeFourCC("MJPG"), 8500, format));
  EXPECT_TRUE(mjpeg.Compressed());
  for (int i = 0; i < 300; ++i) ASSERT_TRUE(mjpeg.Add(frame.data(), frame.size(), i * 50, "s"));
  EXPECT_EQ(mjpeg.SpanMs(), 10000);
  EXPECT_LT(mjpeg.Bytes(), mjpeg.Frames() * format.sizeImage / 4);
  mjpeg.Configure(10, MakeFourCC("MJPG"), 8500, MakeRgb24Header(32, 24));
  EXPECT_EQ(mjpeg.Frames(), 0u);

  // Nothing is kept for 0 seconds or without a compressor.
  PreEventBuffer off;
  EXPECT_FALSE(off.Configure(0, MakeFourCC("MJPG"), 8500, format));
  EXPECT_FALSE(off.Add(frame.data(), frame.size(), 0, "s"));
  EXPECT_FALSE(off.Configure(2, 0, 8500, format));
}

TEST(PreEventBufferTest, WritesItsFramesFirstIntoANewRecording) {
  test::TempDir dir;
  const BitmapInfoHeader format = MakeRgb24Header(64, 48);
  for (const char* codec : {"MJPG", "H264"}) {
    SCOPED_TRACE(codec);
    PreEventBuffer buffer;
    ASSERT_TRUE(buffer.Configure(1, MakeFourCC(codec), 8500, format));
    for (int i = 0; i < 30; ++i) {
      buffer.Add(test::PatternFrame(format, i).data(), format.sizeImage, i * 100,
                 "pre " + std::to_string(i));
    }
    ASSERT_EQ(buffer.Frames(), 11u);  // frames 19 to 29
    MovieRecorder recorder;
    const std::string file = dir.File(std::string(codec) + ".avi");
    ASSERT_TRUE(recorder.Start(file, MakeFourCC(codec), 8500, format, 10));
    EXPECT_EQ(buffer.WriteTo(recorder), 11);
    EXPECT_EQ(buffer.Frames(), 0u);
    ASSERT_TRUE(recorder.WriteFrame(test::PatternFrame(format, 30).data(), "motion"));
    recorder.Stop();

    int status = -1;
    EXPECT_EQ(test::DecodeErrors(file, &status), "");
    const auto streams = test::Probe(file);
    ASSERT_FALSE(streams.empty());
    EXPECT_EQ(streams[0].frames, 12);
    std::vector<std::string> stamps;
    for (const auto& s : test::ReadTextSamples(file)) {
      if (!s.empty()) stamps.push_back(s.c_str());
    }
    ASSERT_EQ(stamps.size(), 12u);
    EXPECT_EQ(stamps.front(), "pre 19");
    EXPECT_EQ(stamps[10], "pre 29");
    EXPECT_EQ(stamps.back(), "motion");
  }
}


// A camera's own JPEG pictures are kept and written byte for byte: the
// recording holds exactly what the camera sent, and nothing is compressed.
TEST(PreEventBufferTest, KeepsACamerasOwnJpegAsItIs) {
  test::TempDir dir;
  const BitmapInfoHeader format = MakeRgb24Header(64, 48);
  // One real JPEG of the pattern, made by a compressor of its own.
  VideoCompressor maker;
  ASSERT_TRUE(maker.Open(MakeFourCC("MJPG"), format, 9000, 0));
  ASSERT_TRUE(maker.StartSequence());
  const std::uint8_t* made = nullptr;
  std::int32_t madeSize = 0;
  ASSERT_TRUE(maker.CompressFrame(test::PatternFrame(format, 7).data(), &made, nullptr, &madeSize));
  const std::vector<std::uint8_t> jpeg(made, made + madeSize);

  PreEventBuffer buffer;
  ASSERT_TRUE(buffer.Configure(1, MakeFourCC("MJPG"), 3000, format));
  // The pixels are not needed with the JPEG (the detector does not copy
  // them between its checks); without either, nothing is kept.
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(buffer.Add(i == 1 ? nullptr : test::PatternFrame(format, i).data(),
                           i == 1 ? 0 : format.sizeImage, i * 100, "pre", jpeg.data(),
                           jpeg.size()));
  }
  EXPECT_FALSE(buffer.Add(nullptr, 0, 250, "pre", nullptr, 0));
  EXPECT_EQ(buffer.Bytes(), 3 * jpeg.size());
  MovieRecorder recorder;
  const std::string file = dir.File("own.avi");
  ASSERT_TRUE(recorder.Start(file, MakeFourCC("MJPG"), 3000, format, 10));
  EXPECT_EQ(buffer.WriteTo(recorder), 3);
  recorder.Stop();
  int status = -1;
  EXPECT_EQ(test::DecodeErrors(file, &status), "");
  // The file holds the JPEG unchanged, three times.
  std::string bytes;
  if (FILE* f = std::fopen(file.c_str(), "rb")) {
    char chunk[4096];
    std::size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) bytes.append(chunk, n);
    std::fclose(f);
  }
  const std::string needle(jpeg.begin(), jpeg.end());
  std::size_t found = 0;
  for (std::size_t at = bytes.find(needle); at != std::string::npos;
       at = bytes.find(needle, at + 1)) {
    ++found;
  }
  EXPECT_EQ(found, 3u);
}

}  // namespace
}  // namespace qmr
