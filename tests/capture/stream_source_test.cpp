// Stream cameras on a Motion JPEG file: pictures decoded straight into the
// camera's sample look like the general decoder's, carry the camera's own
// JPEG, come smaller when only a small preview wants them, and a size other
// than the file's still comes through.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "capture/stream_source.h"

namespace qmr {
namespace {

// Keeps the first few pictures, bottom-up BGR as the camera stores them.
class KeepingSink : public SampleSink {
 public:
  explicit KeepingSink(bool direct, int reduction = 1) : direct_(direct), reduction_(reduction) {}

  void OnSample(const std::uint8_t* topDownBgr, int width, int height, int stride) override {
    std::vector<std::uint8_t> picture(static_cast<std::size_t>(width) * 3 * height);
    for (int y = 0; y < height; ++y) {
      std::copy_n(topDownBgr + static_cast<std::size_t>(stride) * y, width * 3,
                  picture.data() + static_cast<std::size_t>(width) * 3 * (height - 1 - y));
    }
    Keep(std::move(picture), width, height, false);
  }
  std::uint8_t* BeginSample(int width, int height) override {
    if (!direct_) return nullptr;
    work_.assign(static_cast<std::size_t>(width) * 3 * height, 0);
    width_ = width;
    height_ = height;
    jpeg_ = false;
    return work_.data();
  }
  int SampleReduction(int, int) override { return reduction_; }
  std::uint8_t* BeginReducedSample(int width, int height, int reduction) override {
    return BeginSample(width / reduction, height / reduction);
  }
  void AttachSampleJpeg(const std::uint8_t* jpeg, std::size_t size) override {
    jpeg_ = size > 2 && jpeg[0] == 0xFF && jpeg[1] == 0xD8;
  }
  void EndSample(bool filled) override {
    if (filled) Keep(std::move(work_), width_, height_, jpeg_);
  }
  bool TakesDirectSamples() const override { return direct_; }
  void OnSourceEnded(const std::string&) override {}

  struct Picture {
    std::vector<std::uint8_t> bgr;
    int width = 0, height = 0;
    bool jpeg = false;
  };
  bool WaitFor(std::size_t count) {
    std::unique_lock<std::mutex> lock(mutex_);
    return arrived_.wait_for(lock, std::chrono::seconds(20),
                             [&] { return pictures_.size() >= count; });
  }
  Picture At(std::size_t i) {
    std::lock_guard<std::mutex> lock(mutex_);
    return pictures_.at(i);
  }

 private:
  void Keep(std::vector<std::uint8_t> bgr, int width, int height, bool jpeg) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (pictures_.size() < 8) pictures_.push_back({std::move(bgr), width, height, jpeg});
    arrived_.notify_all();
  }
  const bool direct_;
  const int reduction_;
  std::vector<std::uint8_t> work_;
  int width_ = 0, height_ = 0;
  bool jpeg_ = false;
  std::mutex mutex_;
  std::condition_variable arrived_;
  std::vector<Picture> pictures_;
};

KeepingSink::Picture ThirdPicture(const std::string& clip, bool direct, int width = 0,
                                  int height = 0, int reduction = 1) {
  StreamSource source(clip, "Clip");
  KeepingSink sink(direct, reduction);
  EXPECT_TRUE(source.Open());
  if (width > 0) {
    EXPECT_TRUE(source.SetFormat(width, height, 0));
  }
  EXPECT_TRUE(source.Start(sink));
  const bool arrived = sink.WaitFor(3);
  source.Stop();
  EXPECT_TRUE(arrived);
  return arrived ? sink.At(2) : KeepingSink::Picture{};
}

TEST(StreamSource, MotionJpegDecodedStraightIntoTheSampleMatchesTheGeneralDecoder) {
  char tmpl[] = "/tmp/qmr_stream_XXXXXX";
  ASSERT_NE(mkdtemp(tmpl), nullptr);
  const std::string folder = tmpl;
  for (const char* format : {"yuvj420p", "yuvj422p"}) {
    SCOPED_TRACE(format);
    const std::string clip = folder + "/" + format + ".avi";
    const std::string make =
        std::string("ffmpeg -loglevel error -y -f lavfi -i testsrc=size=320x240:rate=25 -t 1 "
                    "-pix_fmt ") +
        format + " -c:v mjpeg -q:v 3 '" + clip + "'";
    ASSERT_EQ(std::system(make.c_str()), 0);

    const KeepingSink::Picture direct = ThirdPicture(clip, true);
    const KeepingSink::Picture general = ThirdPicture(clip, false);
    ASSERT_EQ(direct.width, 320);
    ASSERT_EQ(direct.height, 240);
    ASSERT_EQ(general.width, 320);
    ASSERT_EQ(general.bgr.size(), direct.bgr.size());
    EXPECT_TRUE(direct.jpeg);
    // Both repeat chroma samples rather than smooth them, so only rounding
    // differs (about 0.2 levels); smoothed chroma differs by about 2, a
    // flipped, swapped or shifted picture by far more.
    long long total = 0;
    for (std::size_t i = 0; i < direct.bgr.size(); ++i) {
      total += std::abs(int{direct.bgr[i]} - int{general.bgr[i]});
    }
    EXPECT_LT(static_cast<double>(total) / static_cast<double>(direct.bgr.size()), 1.0);

    // Wanted only for a small preview: decoded at half the size in each
    // direction, close to the whole picture's 2 x 2 averages, with the
    // whole picture's JPEG attached.
    const KeepingSink::Picture half = ThirdPicture(clip, true, 0, 0, 2);
    ASSERT_EQ(half.width, 160);
    ASSERT_EQ(half.height, 120);
    ASSERT_EQ(half.bgr.size(), 160u * 120 * 3);
    EXPECT_TRUE(half.jpeg);
    long long off = 0;
    for (int y = 0; y < 120; ++y) {
      for (int x = 0; x < 160; ++x) {
        for (int c = 0; c < 3; ++c) {
          auto at = [&](int yy, int xx) { return int{direct.bgr[(yy * 320 + xx) * 3 + c]}; };
          const int mean = (at(2 * y, 2 * x) + at(2 * y, 2 * x + 1) + at(2 * y + 1, 2 * x) +
                            at(2 * y + 1, 2 * x + 1) + 2) / 4;
          off += std::abs(mean - int{half.bgr[(y * 160 + x) * 3 + c]});
        }
      }
    }
    const double meanOff = static_cast<double>(off) / static_cast<double>(half.bgr.size());
    EXPECT_LT(meanOff, 2.0) << "mean difference " << meanOff;

    // Another size than the file's: scaled by the general decoder, and no
    // JPEG of other pixels is attached.
    const KeepingSink::Picture scaled = ThirdPicture(clip, true, 160, 120);
    EXPECT_EQ(scaled.width, 160);
    EXPECT_EQ(scaled.height, 120);
    EXPECT_FALSE(scaled.jpeg);
  }
  std::system(("rm -rf '" + folder + "'").c_str());
}

}  // namespace
}  // namespace qmr
