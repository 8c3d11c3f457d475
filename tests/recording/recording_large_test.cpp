// A recording that grows past 1 GiB: the extended layout must keep the whole
// file readable. Written as uncompressed frames so it is quick.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "recording/avi_writer.h"
#include "recording/bitmap_info.h"
#include "recording_test_util.h"

namespace qmr {
namespace {

TEST(RecordingLarge, FileBeyondOneGibibyteIsReadWhole) {
  test::TempDir dir;
  const std::string file = dir.File("large.avi");
  const BitmapInfoHeader h = MakeRgb24Header(1920, 1080);
  std::vector<std::uint8_t> format(sizeof h);
  std::memcpy(format.data(), &h, sizeof h);
  AviWriter w;
  ASSERT_TRUE(w.Open(file));
  ASSERT_TRUE(w.CreateStreams(format, MakeFourCC("DIB "), 25, 0));
  // 200 frames of 6.2 MB: about 1.16 GiB, two RIFF segments.
  constexpr int kFrames = 200;
  std::vector<std::uint8_t> frame(h.sizeImage);
  for (int i = 0; i < kFrames; ++i) {
    std::memset(frame.data(), i & 0xFF, frame.size());
    ASSERT_TRUE(w.WriteVideo(frame.data(), static_cast<std::int32_t>(frame.size()), true));
    ASSERT_TRUE(w.WriteText("01/02 03:04:05:006"));
  }
  ASSERT_TRUE(w.Close());
  EXPECT_GT(std::filesystem::file_size(file), 1ull << 30);

  const auto streams = test::Probe(file, true);
  ASSERT_EQ(streams.size(), 2u);
  EXPECT_EQ(streams[0].type, "video");
  EXPECT_EQ(streams[0].frames, kFrames);
  EXPECT_EQ(streams[0].rate, "25/1");
  EXPECT_GT(streams[1].frames, 0);
  // The last frame is where the index says: read it back at its time.
  int status = -1;
  const std::string raw = dir.File("last.raw");
  test::RunCommand("ffmpeg -nostdin -v error -ss 7.96 -i '" + file +
                       "' -map 0:v -frames:v 1 -f rawvideo -pix_fmt bgr24 -y '" + raw + "'",
                   &status);
  EXPECT_EQ(status, 0);
  std::ifstream in(raw, std::ios::binary);
  char first[3] = {0, 0, 0};
  in.read(first, 3);
  EXPECT_EQ(static_cast<unsigned char>(first[0]), 199);
  EXPECT_EQ(static_cast<unsigned char>(first[2]), 199);
  std::filesystem::remove(file);
}

}  // namespace
}  // namespace qmr
