// Camera naming, the camera list, the frame buffer and frame conversion.
#include <gtest/gtest.h>
#include <turbojpeg.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "capture/enumerate_devices.h"
#include "capture/frame_buffer.h"
#include "capture/jpeg_markers.h"
#include "capture/jpeg_picture.h"
#include "capture/pattern_source.h"
#include "capture/preview_renderer.h"
#include "capture/video_frame.h"
#include "config/ini_file.h"
#include "../support/jpeg_tables.h"

namespace qmr {
namespace {

std::string MakeTempDir() {
  char tmpl[] = "/tmp/qmr_capture_XXXXXX";
  const char* dir = mkdtemp(tmpl);
  return dir ? dir : "/tmp";
}

TEST(CameraNaming, SameNamesAreNumberedAndSpecialCharactersBlanked) {
  std::vector<std::unique_ptr<CameraEntry>> cameras;
  AppendCameraEntry(cameras, "USB Camera", SourceKind::V4l2, "/dev/video0");
  AppendCameraEntry(cameras, "USB Camera", SourceKind::V4l2, "/dev/video2");
  AppendCameraEntry(cameras, "Cam/1:A", SourceKind::Pattern, "pattern");
  // Two cameras whose names hold blanked characters must still be told apart.
  AppendCameraEntry(cameras, "Cam/1:A", SourceKind::Pattern, "pattern");
  AppendCameraEntry(cameras, "a/b:c\\d|e&f~g!h@i#j$k%l^m*n+o<p>q?r\"s's;t[u]v{w}x",
                    SourceKind::Stream, "x.avi");
  ASSERT_EQ(cameras.size(), 5u);
  EXPECT_EQ(cameras[0]->name, "USB Camera   NO.1");
  EXPECT_EQ(cameras[0]->sameNameIndex, 0);
  EXPECT_EQ(cameras[1]->name, "USB Camera   NO.2");
  EXPECT_EQ(cameras[1]->sameNameIndex, 1);
  EXPECT_EQ(cameras[2]->name, "Cam 1 A   NO.1");
  EXPECT_EQ(cameras[2]->friendlyName, "Cam/1:A");
  EXPECT_EQ(cameras[3]->name, "Cam 1 A   NO.2");
  EXPECT_EQ(cameras[4]->name, "a b c d e f g h i j k l m n o p q r s s t u v w x   NO.1");
  EXPECT_FALSE(cameras[0]->inUse.load());
  const CameraSchedule schedule = cameras[0]->GetSchedule();
  EXPECT_EQ(schedule.startHour, schedule.stopHour);
  EXPECT_EQ(schedule.startMinute, schedule.stopMinute);
  for (bool day : schedule.days) EXPECT_FALSE(day);
}

TEST(CameraList, StreamsSectionFollowsLocalDevicesInFileOrder) {
  const std::string dir = MakeTempDir();
  const std::string path = dir + "/qmr.ini";
  {
    std::ofstream out(path);
    out << "[STREAMS]\nYard=pattern 640x480@15 motion=4 still=6\nGate=rtsp://127.0.0.1:1/x\n"
           "Yard=ignored duplicate\nFile=/tmp/some file.mp4\nDemo=PATTERN\n";
  }
  IniFile ini;
  ASSERT_TRUE(ini.Load(path));
  std::vector<std::unique_ptr<CameraEntry>> cameras;
  const std::size_t local = ListV4l2CaptureNodes().size();
  EXPECT_TRUE(EnumerateDevices(cameras, ini));
  ASSERT_GE(cameras.size(), local + 4);
  const auto& yard = *cameras[local];
  EXPECT_EQ(yard.name, "Yard   NO.1");
  EXPECT_EQ(yard.kind, SourceKind::Pattern);
  EXPECT_EQ(cameras[local + 1]->kind, SourceKind::Stream);
  EXPECT_EQ(cameras[local + 1]->source, "rtsp://127.0.0.1:1/x");
  EXPECT_EQ(cameras[local + 2]->source, "/tmp/some file.mp4");
  EXPECT_EQ(cameras[local + 3]->kind, SourceKind::Pattern);

  const PatternParameters p = ParsePatternParameters(yard.source);
  EXPECT_EQ(p.width, 640);
  EXPECT_EQ(p.height, 480);
  EXPECT_EQ(p.frameRate, 15);
  EXPECT_EQ(p.motionSeconds, 4);
  EXPECT_EQ(p.stillSeconds, 6);
  // Nonsense parameters keep the defaults instead of making a broken camera.
  const PatternParameters bad = ParsePatternParameters("pattern 0x-5@0 motion=-1 still=x");
  EXPECT_EQ(bad.width, 320);
  EXPECT_EQ(bad.frameRate, 10);
  EXPECT_EQ(bad.motionSeconds, 4);

  // No devices and no listed cameras: nothing found.
  IniFile empty;
  std::vector<std::unique_ptr<CameraEntry>> none;
  EXPECT_TRUE(ListV4l2CaptureNodes(dir).empty());
  if (local == 0) {
    EXPECT_FALSE(EnumerateDevices(none, empty));
  }
}

VideoFrame MakeFrame(int width, int height, std::uint16_t ms) {
  VideoFrame f;
  f.header = MakeRgb24Header(width, height);
  std::vector<std::uint8_t> bytes(f.header.sizeImage);
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i + ms);
  f.pixels.CopyFrom(bytes.data(), static_cast<std::int32_t>(bytes.size()));
  f.captureTime.year = 2026;
  f.captureTime.month = 3;
  f.captureTime.day = 7;
  f.captureTime.milliseconds = ms;
  return f;
}

// Which camera pictures a Motion JPEG recording may keep as they are.
std::vector<std::uint8_t> MakeJpeg(int width, int height, int subsampling, int flags) {
  std::vector<std::uint8_t> bgr(static_cast<std::size_t>(width) * 3 * height);
  for (std::size_t i = 0; i < bgr.size(); ++i) bgr[i] = static_cast<std::uint8_t>(i * 7);
  tjhandle handle = tjInitCompress();
  unsigned char* out = nullptr;
  unsigned long size = 0;
  std::vector<std::uint8_t> jpeg;
  if (tjCompress2(handle, bgr.data(), width, width * 3, height, TJPF_BGR, &out, &size, subsampling,
                  80, flags) == 0) {
    jpeg.assign(out, out + size);
  }
  tjFree(out);
  tjDestroy(handle);
  return jpeg;
}

TEST(JpegMarkers, OnlyWholeBaselineColourPicturesOfTheSizeAreKept) {
  const auto baseline = MakeJpeg(64, 48, TJSAMP_420, 0);
  ASSERT_FALSE(baseline.empty());
  bool tables = false;
  EXPECT_TRUE(IsBaselineJpegOfSize(baseline.data(), baseline.size(), 64, 48, &tables));
  EXPECT_TRUE(tables);
  // Without its tables it is still a baseline picture of the size (a video
  // player supplies the usual ones), but says so.
  const auto bare = testing::WithoutHuffmanTables(baseline);
  ASSERT_LT(bare.size(), baseline.size());
  EXPECT_TRUE(IsBaselineJpegOfSize(bare.data(), bare.size(), 64, 48, &tables));
  EXPECT_FALSE(tables);
  EXPECT_FALSE(IsBaselineJpegOfSize(baseline.data(), baseline.size(), 64, 46));
  EXPECT_FALSE(IsBaselineJpegOfSize(baseline.data(), baseline.size(), 48, 48));
  // Cut short (a stream that lost its end), or damaged headers.
  EXPECT_FALSE(IsBaselineJpegOfSize(baseline.data(), baseline.size() / 2, 64, 48));
  std::vector<std::uint8_t> damaged = baseline;
  damaged[4] = 0x00;  // the first segment claims one byte: no valid length
  damaged[5] = 0x01;
  EXPECT_FALSE(IsBaselineJpegOfSize(damaged.data(), damaged.size(), 64, 48));
  EXPECT_FALSE(IsBaselineJpegOfSize(nullptr, 0, 64, 48));
  const std::uint8_t junk[] = {0xFF, 0xD8, 0xFF, 0xD9};
  EXPECT_FALSE(IsBaselineJpegOfSize(junk, sizeof junk, 64, 48));
  // 4:2:2, as most webcams send, is fine; progressive and grey are not.
  const auto wide = MakeJpeg(64, 48, TJSAMP_422, 0);
  EXPECT_TRUE(IsBaselineJpegOfSize(wide.data(), wide.size(), 64, 48));
  const auto progressive = MakeJpeg(64, 48, TJSAMP_420, TJFLAG_PROGRESSIVE);
  ASSERT_FALSE(progressive.empty());
  EXPECT_FALSE(IsBaselineJpegOfSize(progressive.data(), progressive.size(), 64, 48));
  const auto grey = MakeJpeg(64, 48, TJSAMP_GRAY, 0);
  EXPECT_FALSE(IsBaselineJpegOfSize(grey.data(), grey.size(), 64, 48));
}

TEST(JpegMarkers, CameraPicturesGetTheStandardTablesBackAndStayTheSamePicture) {
  for (const int subsampling : {TJSAMP_420, TJSAMP_422}) {
    const auto original = MakeJpeg(64, 48, subsampling, 0);
    const auto bare = testing::WithoutHuffmanTables(original);
    std::vector<std::uint8_t> whole;
    ASSERT_TRUE(WithStandardHuffmanTables(bare.data(), bare.size(), whole));
    bool tables = false;
    EXPECT_TRUE(IsBaselineJpegOfSize(whole.data(), whole.size(), 64, 48, &tables));
    EXPECT_TRUE(tables);
    // The tables put in are the ones the picture was coded with: it decodes
    // to exactly the pixels of the original.
    ByteBuffer a, b;
    ASSERT_TRUE(DecodeJpegFrame(original.data(), original.size(), 64, 48, a));
    ASSERT_TRUE(DecodeJpegFrame(whole.data(), whole.size(), 64, 48, b));
    ASSERT_EQ(a.Length(), b.Length());
    EXPECT_EQ(0, std::memcmp(a.Data(), b.Data(), static_cast<std::size_t>(a.Length())));
  }
  std::vector<std::uint8_t> out;
  const std::uint8_t noScan[] = {0xFF, 0xD8, 0xFF, 0xD9};
  EXPECT_FALSE(WithStandardHuffmanTables(noScan, sizeof noScan, out));
  EXPECT_FALSE(WithStandardHuffmanTables(nullptr, 0, out));
  EXPECT_TRUE(out.empty());
}

TEST(FrameBuffer, CopiesOnlyNewerFrames) {
  FrameBuffer buffer;
  VideoFrame consumer;
  EXPECT_FALSE(buffer.CopyLatest(consumer));
  EXPECT_FALSE(buffer.CopyIfNewer(consumer));

  VideoFrame a = MakeFrame(8, 4, 42);
  ASSERT_TRUE(buffer.StoreFrame(a.pixels.Data(), a.header, a.captureTime));
  ASSERT_TRUE(buffer.CopyIfNewer(consumer));
  EXPECT_EQ(consumer.header, a.header);
  ASSERT_EQ(consumer.pixels.Length(), a.pixels.Length());
  EXPECT_EQ(0, memcmp(consumer.pixels.Data(), a.pixels.Data(), a.pixels.Length()));

  // No new frame: false, and the consumer's frame is left as it is.
  consumer.pixels.Data()[0] = 0xEE;
  EXPECT_FALSE(buffer.CopyIfNewer(consumer));
  EXPECT_EQ(consumer.pixels.Data()[0], 0xEE);

  // A different frame stored within the same millisecond is not copied
  // either; the day of the week does not count.
  VideoFrame b = MakeFrame(8, 4, 42);
  b.captureTime.dayOfWeek = 5;
  b.pixels.Data()[1] = 0x11;
  ASSERT_TRUE(buffer.StoreFrame(b.pixels.Data(), b.header, b.captureTime));
  EXPECT_FALSE(buffer.CopyIfNewer(consumer));
  EXPECT_TRUE(buffer.CopyLatest(consumer));
  EXPECT_EQ(consumer.pixels.Data()[1], 0x11);

  // A larger frame afterwards replaces the smaller one completely.
  VideoFrame c = MakeFrame(16, 8, 43);
  ASSERT_TRUE(buffer.StoreFrame(c.pixels.Data(), c.header, c.captureTime));
  ASSERT_TRUE(buffer.CopyIfNewer(consumer));
  EXPECT_EQ(consumer.Width(), 16);
  EXPECT_EQ(consumer.pixels.Length(), 16 * 8 * 3);
  EXPECT_EQ(consumer.captureTime.milliseconds, 43);

  EXPECT_FALSE(buffer.StoreFrame(nullptr, c.header, c.captureTime));

  // The frame thread's way: the block moves in, the previous one comes back
  // for the next sample; consumers see the new frame as with a copy.
  VideoFrame d = MakeFrame(8, 4, 44);
  d.pixels.Data()[2] = 0x22;
  const std::uint8_t* block = d.pixels.Data();
  buffer.SwapIn(d.pixels, d.header, d.captureTime);
  EXPECT_NE(d.pixels.Data(), block);
  EXPECT_EQ(d.pixels.Length(), 16 * 8 * 3);  // c's block, reusable
  ASSERT_TRUE(buffer.CopyIfNewer(consumer));
  EXPECT_EQ(consumer.Width(), 8);
  EXPECT_EQ(consumer.pixels.Length(), 8 * 4 * 3);
  EXPECT_EQ(consumer.pixels.Data()[2], 0x22);
  EXPECT_FALSE(buffer.CopyIfNewer(consumer));

  // A consumer waiting for the next frame: nothing new times out with the
  // consumer's frame untouched; a frame swapped in by another thread ends
  // the wait at once.
  EXPECT_FALSE(buffer.WaitCopyIfNewer(consumer, 20));
  EXPECT_EQ(consumer.captureTime.milliseconds, 44);
  VideoFrame e = MakeFrame(8, 4, 45);
  std::thread producer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    buffer.SwapIn(e.pixels, e.header, e.captureTime);
  });
  EXPECT_TRUE(buffer.WaitCopyIfNewer(consumer, 10000));
  producer.join();
  EXPECT_EQ(consumer.captureTime.milliseconds, 45);

  // A consumer that only keeps JPEGs gets a frame with one without its
  // pixels (its block kept for later), and a frame without one whole.
  VideoFrame f = MakeFrame(8, 4, 46);
  std::vector<std::uint8_t> jpeg = {0xFF, 0xD8, 0x01, 0xFF, 0xD9};
  buffer.SwapIn(f.pixels, jpeg, f.header, f.captureTime);
  ASSERT_TRUE(buffer.WaitCopyIfNewer(consumer, 0, true));
  EXPECT_EQ(consumer.pixels.Length(), 0);
  EXPECT_EQ(consumer.jpeg.size(), 5u);
  EXPECT_EQ(consumer.header, f.header);
  EXPECT_EQ(consumer.captureTime.milliseconds, 46);
  EXPECT_TRUE(buffer.CopyLatest(consumer));
  EXPECT_EQ(consumer.pixels.Length(), 8 * 4 * 3);
  VideoFrame g = MakeFrame(8, 4, 47);
  ASSERT_TRUE(buffer.StoreFrame(g.pixels.Data(), g.header, g.captureTime));
  ASSERT_TRUE(buffer.WaitCopyIfNewer(consumer, 0, true));
  EXPECT_EQ(consumer.pixels.Length(), 8 * 4 * 3);
  EXPECT_TRUE(consumer.jpeg.empty());
}

// The frame's bottom-up pixels compressed as a camera would; empty on failure.
std::vector<std::uint8_t> CameraJpeg(const VideoFrame& frame, int subsampling, int quality) {
  tjhandle encoder = tjInitCompress();
  unsigned char* compressed = nullptr;
  unsigned long size = 0;
  std::vector<std::uint8_t> jpeg;
  if (tjCompress2(encoder, frame.pixels.Data(), frame.Width(), 0, frame.Height(), TJPF_BGR,
                  &compressed, &size, subsampling, quality, TJFLAG_BOTTOMUP) == 0) {
    jpeg.assign(compressed, compressed + size);
  }
  tjFree(compressed);
  tjDestroy(encoder);
  return jpeg;
}

TEST(FrameBuffer, AFrameKeptAsItsJpegIsDecodedForWhoeverWantsPixels) {
  // A 64 x 32 picture of smooth gradients, compressed as a camera would.
  constexpr int kW = 64, kH = 32;
  VideoFrame source = MakeFrame(kW, kH, 10);
  for (int i = 0; i < kW * kH * 3; ++i) source.pixels.Data()[i] = static_cast<std::uint8_t>(i % 191);
  const std::vector<std::uint8_t> camera = CameraJpeg(source, TJSAMP_420, 90);
  ASSERT_FALSE(camera.empty());
  std::vector<std::uint8_t> expected(kW * kH * 3);
  tjhandle decoder = tjInitDecompress();
  ASSERT_EQ(tjDecompress2(decoder, camera.data(), camera.size(), expected.data(), kW, 0, kH,
                          TJPF_BGR, TJFLAG_BOTTOMUP | TJFLAG_FASTUPSAMPLE),
            0);
  tjDestroy(decoder);

  FrameBuffer buffer;
  std::vector<std::uint8_t> jpeg = camera;
  buffer.SwapInJpegOnly(jpeg, source.header, source.captureTime);
  // A JPEG keeper takes it as it is; a consumer of pixels gets them decoded,
  // the same picture the streaming decoder makes, with the JPEG beside them.
  VideoFrame keeper, judge;
  ASSERT_TRUE(buffer.WaitCopyIfNewer(keeper, 0, true));
  EXPECT_EQ(keeper.pixels.Length(), 0);
  EXPECT_EQ(keeper.jpeg, camera);
  ASSERT_TRUE(buffer.WaitCopyIfNewer(judge, 0));
  ASSERT_EQ(judge.pixels.Length(), kW * kH * 3);
  EXPECT_EQ(0, memcmp(judge.pixels.Data(), expected.data(), expected.size()));
  EXPECT_EQ(judge.jpeg, camera);
  EXPECT_EQ(judge.header, source.header);
  VideoFrame latest;
  ASSERT_TRUE(buffer.CopyLatest(latest));
  EXPECT_EQ(latest.pixels.Length(), kW * kH * 3);

  // A whole frame after it is copied as before.
  VideoFrame whole = MakeFrame(kW, kH, 11);
  buffer.SwapIn(whole.pixels, whole.header, whole.captureTime);
  ASSERT_TRUE(buffer.WaitCopyIfNewer(judge, 0));
  EXPECT_TRUE(judge.jpeg.empty());
  EXPECT_EQ(judge.captureTime.milliseconds, 11);

  // A JPEG that does not decode to the frame's size, or not at all: no
  // pixels, and the same frame is not handed out again (no busy retry).
  for (int damage = 0; damage < 2; ++damage) {
    VideoFrame bad = MakeFrame(damage == 0 ? kW * 2 : kW, kH, static_cast<std::uint16_t>(20 + damage));
    std::vector<std::uint8_t> broken = camera;
    if (damage == 1) broken.resize(40);
    buffer.SwapInJpegOnly(broken, bad.header, bad.captureTime);
    EXPECT_FALSE(buffer.WaitCopyIfNewer(judge, 0));
    EXPECT_EQ(judge.pixels.Length(), 0);
    EXPECT_FALSE(buffer.WaitCopyIfNewer(judge, 0));
  }
  EXPECT_FALSE(buffer.CopyLatest(latest));
  // An empty JPEG is not a frame: the held one stays.
  std::vector<std::uint8_t> none;
  buffer.SwapInJpegOnly(none, source.header, source.captureTime);
  VideoFrame fresh;
  ASSERT_TRUE(buffer.WaitCopyIfNewer(fresh, 0, true));
  EXPECT_EQ(fresh.captureTime.milliseconds, 21);
}

TEST(FrameBuffer, KeepsRecentJpegsForAConsumerThatTakesThemInOneGo) {
  FrameBuffer buffer;
  std::vector<VideoFrame> taken;
  auto store = [&](std::uint16_t ms, bool withJpeg) {
    VideoFrame f = MakeFrame(8, 4, ms);
    std::vector<std::uint8_t> jpeg;
    if (withJpeg) jpeg = {0xFF, 0xD8, static_cast<std::uint8_t>(ms), 0xFF, 0xD9};
    buffer.SwapIn(f.pixels, jpeg, f.header, f.captureTime);
  };
  store(1, true);  // not asked for yet
  EXPECT_EQ(buffer.TakeRecentJpegs(taken), 0u);
  buffer.KeepRecentJpegs(true);
  store(2, true);
  store(3, false);  // no JPEG: nothing to keep
  std::vector<std::uint8_t> only = {0xFF, 0xD8, 4, 0xFF, 0xD9};
  VideoFrame four = MakeFrame(8, 4, 4);
  buffer.SwapInJpegOnly(only, four.header, four.captureTime);
  ASSERT_EQ(buffer.TakeRecentJpegs(taken), 2u);
  EXPECT_EQ(taken[0].captureTime.milliseconds, 2);
  EXPECT_EQ(taken[0].jpeg[2], 2);
  EXPECT_EQ(taken[0].pixels.Length(), 0);
  EXPECT_EQ(taken[1].captureTime.milliseconds, 4);
  // Numbered as stored: 1, 2, 3, 4.
  EXPECT_EQ(taken[0].sequence, 2u);
  EXPECT_EQ(taken[1].sequence, 4u);
  EXPECT_EQ(buffer.TakeRecentJpegs(taken), 0u);
  // A consumer that falls behind loses the oldest, never the newest.
  for (std::uint16_t ms = 10; ms < 10 + FrameBuffer::kRecentJpegs + 5; ++ms) store(ms, true);
  ASSERT_EQ(buffer.TakeRecentJpegs(taken), FrameBuffer::kRecentJpegs);
  EXPECT_EQ(taken[0].captureTime.milliseconds, 15);
  EXPECT_EQ(taken[FrameBuffer::kRecentJpegs - 1].captureTime.milliseconds,
            10 + FrameBuffer::kRecentJpegs + 4);
  // Off forgets what was kept.
  store(100, true);
  buffer.KeepRecentJpegs(false);
  EXPECT_EQ(buffer.TakeRecentJpegs(taken), 0u);
}

TEST(FrameBuffer, TheJudgingConsumerTakesThePixelsOfAFrameThatHasItsJpeg) {
  constexpr int kW = 16, kH = 16;
  VideoFrame source = MakeFrame(kW, kH, 30);
  for (int i = 0; i < kW * kH * 3; ++i) source.pixels.Data()[i] = static_cast<std::uint8_t>(i * 7);
  std::vector<std::uint8_t> jpeg = CameraJpeg(source, TJSAMP_444, 95);
  ASSERT_FALSE(jpeg.empty());

  FrameBuffer buffer;
  const std::uint8_t* block = source.pixels.Data();
  buffer.SwapIn(source.pixels, jpeg, source.header, source.captureTime);
  VideoFrame judge;
  judge.pixels.AppendFill(0, 10);
  const std::uint8_t* judgesBlock = judge.pixels.Data();
  ASSERT_TRUE(buffer.WaitTakeIfNewer(judge, 0));
  EXPECT_EQ(judge.pixels.Data(), block);  // moved, not copied
  EXPECT_EQ(judge.pixels.Length(), kW * kH * 3);
  EXPECT_FALSE(judge.jpeg.empty());
  EXPECT_FALSE(buffer.WaitTakeIfNewer(judge, 0));
  // The frame stays held as its JPEG: others get it decoded.
  VideoFrame other;
  ASSERT_TRUE(buffer.CopyLatest(other));
  ASSERT_EQ(other.pixels.Length(), kW * kH * 3);
  EXPECT_NE(other.pixels.Data(), block);
  // The judge's old block went back for the next sample.
  VideoFrame next = MakeFrame(kW, kH, 31);
  buffer.SwapIn(next.pixels, next.header, next.captureTime);
  EXPECT_EQ(next.pixels.Data(), judgesBlock);
  // A frame without a JPEG is copied: nothing else could give its pixels.
  VideoFrame copy;
  ASSERT_TRUE(buffer.WaitTakeIfNewer(copy, 0));
  EXPECT_EQ(copy.captureTime.milliseconds, 31);
  ASSERT_TRUE(buffer.CopyLatest(other));
  EXPECT_EQ(other.pixels.Length(), kW * kH * 3);
}

TEST(PreviewRenderer, PicturesOnlyShownSmallMayBeDecodedSmall) {
  PreviewRenderer renderer;
  // Nothing shows the picture yet: any reduction that divides the size.
  EXPECT_EQ(renderer.Reduction(640, 480), 8);
  EXPECT_EQ(renderer.Reduction(648, 480), 2);  // 648 / 4 = 162 is no multiple of 4
  EXPECT_EQ(renderer.Reduction(644, 480), 1);
  renderer.SetNotify([] {});
  // Shown, but the pane's size not known yet: pictures keep their size.
  EXPECT_EQ(renderer.Reduction(640, 480), 1);
  struct Case {
    int width, height, paneWidth, paneHeight, reduction;
  } cases[] = {
      {640, 480, 640, 480, 1},    // shown at its own size
      {640, 480, 800, 290, 2},    // 387 x 290 shown: 320 x 240 is within four fifths
      {640, 480, 420, 315, 1},    // 320 x 240 would be less than four fifths of 420 x 315
      {640, 480, 200, 150, 4},    // 160 x 120 for 200 x 150
      {640, 480, 80, 60, 8},      // 80 x 60
      {1280, 720, 400, 300, 4},   // 400 x 225 shown: 320 x 180
      {1280, 720, 1280, 1024, 1}, // enlarged
      {0, 480, 400, 300, 1},
  };
  for (const Case& c : cases) {
    renderer.SetPaneSize(c.paneWidth, c.paneHeight);
    EXPECT_EQ(renderer.Reduction(c.width, c.height), c.reduction)
        << c.width << "x" << c.height << " in " << c.paneWidth << "x" << c.paneHeight;
  }
  // Hidden: nothing is shown, so the smallest.
  renderer.SetVisible(false);
  EXPECT_EQ(renderer.Reduction(640, 480), 8);
}

TEST(PreviewRenderer, PicturesKeepTheirAspectRatioInThePane) {
  // 16:9 in 4:3: bars above and below; 4:3 in a wide pane: bars at the sides.
  const PictureRect wide = FitPicture(1280, 720, 400, 300);
  EXPECT_EQ(wide.width, 400);
  EXPECT_EQ(wide.height, 225);
  EXPECT_EQ(wide.x, 0);
  EXPECT_EQ(wide.y, 37);
  const PictureRect tall = FitPicture(640, 480, 800, 290);
  EXPECT_EQ(tall.height, 290);
  EXPECT_EQ(tall.width, 387);
  EXPECT_EQ(tall.x, (800 - 387) / 2);
  const PictureRect same = FitPicture(640, 480, 640, 480);
  EXPECT_EQ(same.width, 640);
  EXPECT_EQ(same.height, 480);
  // Degenerate sizes give nothing to draw, never a division by zero.
  EXPECT_EQ(FitPicture(0, 480, 400, 300).width, 0);
  EXPECT_EQ(FitPicture(640, 480, 0, 300).width, 0);
  // An extreme strip still gets at least one pixel.
  EXPECT_EQ(FitPicture(4096, 4, 100, 100).height, 1);
}

TEST(PreviewRenderer, ScalesToThePaneTopDownAndAllocatesNothingPerFrame) {
  // 8 x 4 bottom-up source: the top two picture rows (stored last) are red,
  // the rest blue; the two left columns of every row are green.
  constexpr int kW = 8, kH = 4;
  std::vector<std::uint8_t> bgr(kW * 3 * kH, 0);
  for (int y = 0; y < kH; ++y) {
    for (int x = 0; x < kW; ++x) {
      std::uint8_t* p = bgr.data() + (y * kW + x) * 3;
      if (x < 2) {
        p[1] = 255;
      } else if (y >= kH - 2) {
        p[2] = 255;
      } else {
        p[0] = 255;
      }
    }
  }
  PreviewRenderer renderer;
  PreviewFrame shown;
  renderer.Present(bgr.data(), kW, kH, "x");
  EXPECT_FALSE(renderer.TakeFrame(shown));  // no pane attached: nothing done
  int notified = 0;
  renderer.SetNotify([&] { ++notified; });
  renderer.SetPaneSize(4, 8);  // a tall pane: the picture is 4 x 2, bars above and below
  renderer.Present(bgr.data(), kW, kH, "12/09 06:00:00:000");
  ASSERT_TRUE(renderer.TakeFrame(shown));
  EXPECT_EQ(notified, 1);
  ASSERT_EQ(shown.width, 4);
  ASSERT_EQ(shown.height, 2);
  ASSERT_EQ(shown.pixels.size(), 4u * 2 * 4);
  EXPECT_EQ(shown.stampText, "12/09 06:00:00:000");
  const std::uint8_t* top = shown.pixels.data();
  const std::uint8_t* bottom = shown.pixels.data() + 4 * 4;
  EXPECT_EQ(top[0 * 4 + 1], 255);  // green left column
  EXPECT_EQ(top[2 * 4 + 2], 255);  // red top row (blue, green, red, unused)
  EXPECT_EQ(top[2 * 4 + 0], 0);
  EXPECT_EQ(bottom[2 * 4 + 0], 255);  // blue below
  EXPECT_EQ(bottom[2 * 4 + 2], 0);

  // Frames of one size in one pane circulate three buffers (the frame
  // thread's, the pending one and the pane's): after that, no growth.
  for (int i = 0; i < 3; ++i) {
    renderer.Present(bgr.data(), kW, kH, "12/09 06:00:00:001");
    renderer.TakeFrame(shown);
  }
  const auto growths = renderer.BufferGrowths();
  for (int i = 0; i < 100; ++i) {
    renderer.Present(bgr.data(), kW, kH, "12/09 06:00:00:002");
    if (i % 3 == 0) renderer.TakeFrame(shown);
  }
  EXPECT_EQ(renderer.BufferGrowths(), growths);

  // Hidden: nothing is converted and no repaint is asked for.
  renderer.TakeFrame(shown);
  renderer.SetVisible(false);
  const int before = notified;
  renderer.Present(bgr.data(), kW, kH, "12/09 06:00:00:003");
  EXPECT_FALSE(renderer.TakeFrame(shown));
  EXPECT_EQ(notified, before);
  renderer.SetNotify({});
}

TEST(PreviewRenderer, EveryPaneSizeShowsTheNearestSourcePixels) {
  // Shrunk (a little, which the vector path takes, and a lot), enlarged (a
  // little and a lot), the same size, and widths that leave a remainder for
  // the vector paths: each output pixel is the source pixel under its
  // centre, including the source's last column in its last stored row.
  const int sizes[][4] = {{640, 480, 640, 480}, {640, 480, 333, 250}, {160, 120, 643, 482},
                          {20, 10, 37, 19},     {4, 2, 4, 2},         {1280, 720, 641, 361},
                          {640, 480, 1270, 950}, {12, 8, 13, 9},      {640, 480, 641, 481},
                          {320, 240, 367, 275}, {400, 300, 333, 250}, {16, 4, 13, 3}};
  for (const auto& z : sizes) {
    const int w = z[0], h = z[1];
    SCOPED_TRACE(::testing::Message() << w << "x" << h << " -> " << z[2] << "x" << z[3]);
    std::vector<std::uint8_t> bgr(static_cast<std::size_t>(w) * 3 * h);
    for (std::size_t i = 0; i < bgr.size(); ++i) bgr[i] = static_cast<std::uint8_t>(i * 13 + i / 7);
    PreviewRenderer renderer;
    renderer.SetNotify([] {});
    renderer.SetPaneSize(z[2], z[3]);
    renderer.Present(bgr.data(), w, h, "");
    PreviewFrame shown;
    ASSERT_TRUE(renderer.TakeFrame(shown));
    const PictureRect fit = FitPicture(w, h, z[2], z[3]);
    ASSERT_EQ(shown.width, fit.width);
    ASSERT_EQ(shown.height, fit.height);
    int wrong = 0;
    for (int y = 0; y < shown.height; ++y) {
      const int sy = static_cast<int>((2LL * y + 1) * h / (2LL * shown.height));
      for (int x = 0; x < shown.width; ++x) {
        const int sx = static_cast<int>((2LL * x + 1) * w / (2LL * shown.width));
        const std::uint8_t* s = bgr.data() + (static_cast<std::size_t>(h - 1 - sy) * w + sx) * 3;
        const std::uint8_t* d = shown.pixels.data() + (static_cast<std::size_t>(y) * shown.width + x) * 4;
        if (d[0] != s[0] || d[1] != s[1] || d[2] != s[2] || d[3] != 0xFF) ++wrong;
      }
    }
    EXPECT_EQ(wrong, 0);
  }
}

// An output that lends its own memory, as the presenter on an X window does.
class KeepingOutput : public PreviewOutput {
 public:
  std::uint8_t* BeginPicture(int width, int height) override {
    if (refuse) return nullptr;
    memory.assign(static_cast<std::size_t>(width) * 4 * height + 8, 0xEE);
    width_ = width;
    height_ = height;
    return memory.data();
  }
  void EndPicture(int x, int y, const std::string& stamp) override {
    ++shown;
    at = {x, y, width_, height_};
    lastStamp = stamp;
  }
  bool refuse = false;
  int shown = 0;
  PictureRect at;
  std::string lastStamp;
  std::vector<std::uint8_t> memory;
  int width_ = 0, height_ = 0;
};

TEST(PreviewRenderer, AnOutputTakesFramesInsteadOfTheNotifyUntilItRefusesOrGoes) {
  constexpr int kW = 4, kH = 2;
  // Bottom-up: the stored first row (the picture's bottom) blue, the top red.
  std::vector<std::uint8_t> bgr(kW * 3 * kH, 0);
  for (int x = 0; x < kW; ++x) {
    bgr[x * 3 + 0] = 255;
    bgr[(kW + x) * 3 + 2] = 255;
  }
  PreviewRenderer renderer;
  int notified = 0;
  renderer.SetNotify([&] { ++notified; });
  renderer.SetPaneSize(8, 8);  // the picture 8 x 4 at row 2
  KeepingOutput output;
  renderer.SetOutput(&output);
  PreviewFrame shown;
  renderer.Present(bgr.data(), kW, kH, "12/09 06:00:00:000");
  EXPECT_EQ(output.shown, 1);
  EXPECT_EQ(notified, 0);
  EXPECT_FALSE(renderer.TakeFrame(shown));
  EXPECT_EQ(output.at.x, 0);
  EXPECT_EQ(output.at.y, 2);
  EXPECT_EQ(output.at.width, 8);
  EXPECT_EQ(output.at.height, 4);
  EXPECT_EQ(output.lastStamp, "12/09 06:00:00:000");
  // Scaled top-down into the lent memory, and not a byte past the picture.
  EXPECT_EQ(output.memory[2], 255);               // top row red (blue, green, red, unused)
  EXPECT_EQ(output.memory[8 * 4 * 3 + 0], 255);  // bottom row blue
  EXPECT_EQ(output.memory[8 * 4 * 4], 0xEE);

  // Refused (the window gone, say): the frame goes the usual way.
  output.refuse = true;
  renderer.Present(bgr.data(), kW, kH, "12/09 06:00:00:001");
  EXPECT_EQ(notified, 1);
  ASSERT_TRUE(renderer.TakeFrame(shown));
  EXPECT_EQ(shown.stampText, "12/09 06:00:00:001");

  // Taken away: the usual way again, and the output is not touched.
  output.refuse = false;
  renderer.SetOutput(nullptr);
  renderer.Present(bgr.data(), kW, kH, "12/09 06:00:00:002");
  EXPECT_EQ(output.shown, 1);
  EXPECT_EQ(notified, 2);
  renderer.SetNotify({});
}

TEST(VideoFrame, ToImageMakesTopDownRgb) {
  // 4 x 2: stored bottom row first, pixels blue, green, red.
  VideoFrame f;
  f.header = MakeRgb24Header(4, 2);
  std::uint8_t bytes[24];
  for (int i = 0; i < 24; ++i) bytes[i] = static_cast<std::uint8_t>(i);
  f.pixels.CopyFrom(bytes, 24);
  std::vector<std::uint8_t> rgb;
  ASSERT_TRUE(f.ToImage(rgb));
  ASSERT_EQ(rgb.size(), 24u);
  // The image's first row is the frame's last stored row (bytes 12..23),
  // each pixel's bytes reversed.
  const std::uint8_t expected[24] = {14, 13, 12, 17, 16, 15, 20, 19, 18, 23, 22, 21,
                                     2,  1,  0,  5,  4,  3,  8,  7,  6,  11, 10, 9};
  EXPECT_EQ(0, memcmp(rgb.data(), expected, 24));

  // Fewer bytes than the header promises: refused, not read past the end.
  f.pixels.SetLength(20);
  EXPECT_FALSE(f.ToImage(rgb));
  EXPECT_TRUE(rgb.empty());
}

}  // namespace
}  // namespace qmr
