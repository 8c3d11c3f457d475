// The V4L2 camera source and the camera list over a simulated USB webcam:
// capabilities, formats, pictures, controls, unplugging and node listing.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "capture/capture_device.h"
#include "capture/enumerate_devices.h"
#include "capture/jpeg_markers.h"
#include "capture/v4l2_source.h"
#include "capture/yuyv_picture.h"
#include "config/ini_file.h"
#include "base/log_file.h"
#include "../support/libv4l_conversion.h"
#include "fake_v4l2_device.h"

namespace qmr {
namespace {

using testing::FakeV4l2Device;
using testing::Libv4lConversion;

constexpr const char* kPath = "/fake/video0";
constexpr const char* kCard = "Desk Camera";

class V4l2Test : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/qmr_v4l2_XXXXXX";
    dir_ = mkdtemp(tmpl);
    SetApplicationFolder(dir_);
    LogFile::ResetPath();
    StopFlag.store(0);
    fake_.AddNode(kPath, kCard);
  }
  void TearDown() override {
    std::string cmd = "rm -rf '" + dir_ + "'";
    ASSERT_EQ(0, std::system(cmd.c_str()));
  }
  std::string ReadLog() {
    std::ifstream in(LogFile::Path());
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  std::unique_ptr<CaptureDevice> OpenDevice() {
    auto device = std::make_unique<CaptureDevice>();
    EXPECT_TRUE(device->Open(std::make_unique<V4l2Source>(kPath, "", fake_)));
    return device;
  }
  // Asks for 640x480 at 30 frames a second, which the camera must keep,
  // with the camera in pixelFormat; starts the stream and takes one frame.
  void StartLarge(CaptureDevice& device, std::uint32_t pixelFormat, VideoFrame& frame) {
    const BitmapInfoHeader large = MakeRgb24Header(640, 480);
    ASSERT_TRUE(device.SetFormat(&large, 30));
    EXPECT_EQ(fake_.PixelFormat(kPath), pixelFormat);
    BitmapInfoHeader header;
    int rate = 0;
    ASSERT_TRUE(device.GetFormat(header, rate));
    EXPECT_EQ(header.width, 640);
    EXPECT_EQ(rate, 30);
    ASSERT_TRUE(device.Start());
    ASSERT_TRUE(device.RequestFrame(frame));
    ASSERT_EQ(frame.pixels.Length(), 640 * 480 * 3);
  }
  std::string dir_;
  FakeV4l2Device fake_;
};

TEST_F(V4l2Test, CapabilitiesAreTheCamerasSizesWithTheirFrameRates) {
  V4l2Source source(kPath, "Desk Camera   NO.1", fake_);
  ASSERT_TRUE(source.Open());
  EXPECT_EQ(source.DeviceName(), kCard);
  // Opened at the camera's own size, in BGR24.
  int width = 0, height = 0, rate = 0;
  ASSERT_TRUE(source.GetFormat(width, height, rate));
  EXPECT_EQ(width, 640);
  EXPECT_EQ(height, 480);
  EXPECT_EQ(rate, 30);

  // Four formats list the same three sizes: each size is one capability.
  struct Expected {
    int width, height, minRate, maxRate;
  };
  const Expected expected[] = {{640, 480, 15, 30}, {320, 240, 5, 30}, {160, 120, 5, 30}};
  ASSERT_EQ(source.CapabilityCount(), 3);
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    VideoCapability c;
    ASSERT_TRUE(source.GetCapability(i, c));
    EXPECT_EQ(c.inputWidth, expected[i].width);
    EXPECT_EQ(c.inputHeight, expected[i].height);
    EXPECT_EQ(c.minWidth, expected[i].width);
    EXPECT_EQ(c.maxWidth, expected[i].width);
    EXPECT_EQ(c.minHeight, expected[i].height);
    EXPECT_EQ(c.maxHeight, expected[i].height);
    EXPECT_EQ(c.granularityX, 0);
    EXPECT_EQ(c.minFrameRate, expected[i].minRate);
    EXPECT_EQ(c.maxFrameRate, expected[i].maxRate);
  }
  VideoCapability c;
  EXPECT_FALSE(source.GetCapability(3, c));
  EXPECT_FALSE(source.GetCapability(-1, c));
}

TEST_F(V4l2Test, CameraWithoutFrameRateControlKeepsAUsableRate) {
  // Such a camera names no time per frame; a rate of 1 would make the
  // frame thread and recordings run at a crawl.
  fake_.RemoveFrameRateControl(kPath);
  auto device = OpenDevice();
  BitmapInfoHeader header;
  int rate = 0;
  ASSERT_TRUE(device->GetFormat(header, rate));
  EXPECT_EQ(rate, 30);
  VideoCapability c;
  ASSERT_TRUE(device->GetCapability(0, c));
  EXPECT_EQ(c.maxFrameRate, 30);
  EXPECT_EQ(c.minFrameRate, 1);
  const BitmapInfoHeader small = MakeRgb24Header(320, 240);
  ASSERT_TRUE(device->SetFormat(&small, 15));
  ASSERT_TRUE(device->GetFormat(header, rate));
  EXPECT_EQ(header.width, 320);
  EXPECT_EQ(rate, 30);
}

// Pixels of a bottom-up frame off the pattern's blue and green (red counts
// pictures) by more than tolerance: 0 for converted pictures, JPEG's loss
// for decoded ones.
int WrongPixels(const VideoFrame& frame, int tolerance = 0, bool turned = false) {
  const int width = frame.Width(), height = frame.Height();
  int wrong = 0;
  for (int row = 0; row < height; ++row) {
    const std::uint8_t* p = frame.pixels.Data() + static_cast<std::size_t>(row) * width * 3;
    for (int x = 0; x < width; ++x, p += 3) {
      std::uint8_t bgr[3];
      if (turned) {
        FakeV4l2Device::Pixel(width - 1 - x, row, 0, bgr);
      } else {
        FakeV4l2Device::Pixel(x, height - 1 - row, 0, bgr);
      }
      if (std::abs(p[0] - bgr[0]) > tolerance || std::abs(p[1] - bgr[1]) > tolerance) ++wrong;
    }
  }
  return wrong;
}

// Pixels of a bottom-up frame that differ from libv4l2's own conversion of
// the camera's YUYV picture.
int WrongYuyvPixels(const VideoFrame& frame) {
  const int width = frame.Width(), height = frame.Height();
  std::vector<std::uint8_t> yuyv(static_cast<std::size_t>(width) * 2 * height), expected;
  FakeV4l2Device::YuyvPicture(width, height, yuyv.data());
  Libv4lConversion libv4l;
  if (!libv4l.Usable() || !libv4l.Convert(yuyv.data(), width * 2, width, height, expected)) {
    ADD_FAILURE() << "libv4lconvert refused the picture";
    return width * height;
  }
  int wrong = 0;
  for (int row = 0; row < height; ++row) {
    const std::uint8_t* p = frame.pixels.Data() + static_cast<std::size_t>(row) * width * 3;
    const std::uint8_t* q = expected.data() + static_cast<std::size_t>(height - 1 - row) * width * 3;
    for (int x = 0; x < width * 3; x += 3) wrong += std::memcmp(p + x, q + x, 3) != 0;
  }
  return wrong;
}

// Random YUYV, rows with and without padding, widths with and without a
// remainder past the eight pixels done per step: the same bytes as libv4l2,
// the rows bottom-up.
TEST(YuyvConversion, MatchesLibv4l2ByteForByte) {
  Libv4lConversion libv4l;
  ASSERT_TRUE(libv4l.Usable());
  unsigned seed = 7;
  for (int width : {2, 6, 8, 14, 16, 640, 642}) {
    for (int padding : {0, 12}) {
      const int height = 9, stride = width * 2 + padding;
      std::vector<std::uint8_t> yuyv(static_cast<std::size_t>(stride) * height), expected;
      for (auto& b : yuyv) b = static_cast<std::uint8_t>((seed = seed * 1103515245u + 12345u) >> 16);
      ASSERT_TRUE(libv4l.Convert(yuyv.data(), stride, width, height, expected));
      std::vector<std::uint8_t> mine(static_cast<std::size_t>(width) * 3 * height + 1, 0xEE);
      YuyvToBottomUpBgr(yuyv.data(), stride, width, height, mine.data());
      for (int y = 0; y < height; ++y) {
        EXPECT_EQ(std::memcmp(mine.data() + static_cast<std::size_t>(height - 1 - y) * width * 3,
                              expected.data() + static_cast<std::size_t>(y) * width * 3,
                              static_cast<std::size_t>(width) * 3),
                  0)
            << "width " << width << " padding " << padding << " row " << y;
      }
      EXPECT_EQ(mine.back(), 0xEE) << "written past the picture";
    }
  }
}

TEST_F(V4l2Test, FormatRoundTripAndPicturesArriveBottomUp) {
  auto device = OpenDevice();
  const BitmapInfoHeader small = MakeRgb24Header(320, 240);
  ASSERT_TRUE(device->SetFormat(&small, 15));
  BitmapInfoHeader header;
  int rate = 0;
  ASSERT_TRUE(device->GetFormat(header, rate));
  EXPECT_EQ(header.width, 320);
  EXPECT_EQ(header.height, 240);
  EXPECT_EQ(rate, 15);

  // The camera's YUYV keeps up: it is read as it is and converted here.
  EXPECT_EQ(fake_.PixelFormat(kPath), V4L2_PIX_FMT_YUYV);
  ASSERT_TRUE(device->Start());
  VideoFrame frame;
  ASSERT_TRUE(device->RequestFrame(frame));
  ASSERT_EQ(frame.Width(), 320);
  ASSERT_EQ(frame.Height(), 240);
  ASSERT_EQ(frame.pixels.Length(), 320 * 240 * 3);
  EXPECT_EQ(WrongYuyvPixels(frame), 0);
  // The size cannot change under a running stream.
  const BitmapInfoHeader large = MakeRgb24Header(640, 480);
  EXPECT_FALSE(device->SetFormat(&large, 30));
  ASSERT_TRUE(device->Stop());

  // A size the camera lacks is refused (it would answer with its nearest
  // one), and the size and frame rate stay as they were, although the
  // camera falls back to its fastest rate whenever the size is set.
  const BitmapInfoHeader odd = MakeRgb24Header(300, 200);
  EXPECT_FALSE(device->SetFormat(&odd, 15));
  ASSERT_TRUE(device->GetFormat(header, rate));
  EXPECT_EQ(header.width, 320);
  EXPECT_EQ(header.height, 240);
  EXPECT_EQ(rate, 15);

  // The finished stream still holds the camera; a new size reopens it. A
  // rate the size lacks becomes the nearest one it has.
  ASSERT_TRUE(device->SetFormat(&large, 12));
  ASSERT_TRUE(device->GetFormat(header, rate));
  EXPECT_EQ(header.width, 640);
  EXPECT_EQ(rate, 15);
  EXPECT_EQ(fake_.OpenCount(kPath), 1);
  ASSERT_TRUE(device->Start());
  ASSERT_TRUE(device->RequestFrame(frame));
  ASSERT_EQ(frame.Width(), 640);
  ASSERT_EQ(frame.Height(), 480);
  EXPECT_EQ(WrongYuyvPixels(frame), 0);

  // No size asked for: the largest the camera has.
  ASSERT_TRUE(device->Stop());
  ASSERT_TRUE(device->SetFormat(&small, 30));
  ASSERT_TRUE(device->SetFormat(nullptr, 30));
  ASSERT_TRUE(device->GetFormat(header, rate));
  EXPECT_EQ(header.width, 640);
  EXPECT_EQ(header.height, 480);
  EXPECT_EQ(rate, 30);
  device->Close();
  EXPECT_EQ(fake_.OpenCount(kPath), 0);
}

constexpr int kJpegLoss = 12;

TEST_F(V4l2Test, CameraJpegsAreDecodedHereWhereLibv4l2WouldOnlyDecodeThemToo) {
  // YUYV reaches 15 frames a second, Motion JPEG 30: as libv4l2 does, the
  // JPEGs are taken where the rate needs them, and YUYV where it keeps up.
  fake_.LimitYuyv(kPath, 15);
  auto device = OpenDevice();
  EXPECT_EQ(fake_.PixelFormat(kPath), V4L2_PIX_FMT_MJPEG);
  const BitmapInfoHeader large = MakeRgb24Header(640, 480);
  ASSERT_TRUE(device->SetFormat(&large, 15));
  EXPECT_EQ(fake_.PixelFormat(kPath), V4L2_PIX_FMT_YUYV);
  // A requested frame is decoded whole, right way up, and comes with the
  // camera's JPEG as it was sent (trimmed of its padding, still without
  // Huffman tables), for recordings that keep it.
  VideoFrame frame;
  ASSERT_NO_FATAL_FAILURE(StartLarge(*device, V4L2_PIX_FMT_MJPEG, frame));
  EXPECT_LT(WrongPixels(frame, kJpegLoss), 640 * 480 / 50);
  bool tables = true;
  EXPECT_TRUE(
      IsBaselineJpegOfSize(frame.jpeg.data(), frame.jpeg.size(), 640, 480, &tables));
  EXPECT_FALSE(tables);
  EXPECT_EQ(JpegLength(frame.jpeg.data(), frame.jpeg.size()), frame.jpeg.size());

  // Nothing shows or judges the pictures: they are kept as their JPEGs only,
  // and whoever wants pixels gets them decoded whole.
  VideoFrame kept;
  bool jpegOnly = false;
  for (int i = 0; i < 30 && !jpegOnly; ++i) {
    ASSERT_TRUE(device->Frames().WaitCopyIfNewer(kept, 2000, true));
    jpegOnly = kept.pixels.Length() == 0 && !kept.jpeg.empty();
  }
  EXPECT_TRUE(jpegOnly);
  VideoFrame decoded;
  ASSERT_TRUE(device->Frames().WaitCopyIfNewer(decoded, 2000));
  ASSERT_EQ(decoded.pixels.Length(), 640 * 480 * 3);
  EXPECT_LT(WrongPixels(decoded, kJpegLoss), 640 * 480 / 50);

  // A few damaged pictures (cut short on the USB link) are skipped.
  fake_.DamagePictures(kPath, 5);
  const std::uint32_t before = fake_.PicturesRead(kPath);
  while (fake_.PicturesRead(kPath) < before + 10) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ASSERT_TRUE(device->RequestFrame(frame));
  EXPECT_LT(WrongPixels(frame, kJpegLoss), 640 * 480 / 50);
  EXPECT_EQ(fake_.PixelFormat(kPath), V4L2_PIX_FMT_MJPEG);
  device->Close();
  EXPECT_EQ(ReadLog().find("converting with libv4l2"), std::string::npos);
}

TEST_F(V4l2Test, CameraWhoseJpegsCannotBeReadIsLeftToLibv4l2) {
  fake_.LimitYuyv(kPath, 0);  // Motion JPEG only
  fake_.DamagePictures(kPath, -1);
  auto device = OpenDevice();
  const BitmapInfoHeader small = MakeRgb24Header(320, 240);
  ASSERT_TRUE(device->SetFormat(&small, 30));
  EXPECT_EQ(fake_.PixelFormat(kPath), V4L2_PIX_FMT_MJPEG);
  ASSERT_TRUE(device->Start());
  // About a second of unreadable pictures, then libv4l2 converts them.
  VideoFrame frame;
  ASSERT_TRUE(device->RequestFrame(frame, 5000));
  EXPECT_EQ(fake_.PixelFormat(kPath), V4L2_PIX_FMT_BGR24);
  ASSERT_EQ(frame.Width(), 320);
  EXPECT_EQ(WrongPixels(frame), 0);
  BitmapInfoHeader header;
  int rate = 0;
  ASSERT_TRUE(device->GetFormat(header, rate));
  EXPECT_EQ(rate, 30);
  device->Close();
  EXPECT_NE(ReadLog().find("its pictures are no whole JPEGs, converting with libv4l2"),
            std::string::npos);
}

// A camera that libv4l2 turns (mounted upside down) keeps its conversion
// even where its JPEGs alone reach the rate: taking them here would show the
// picture upside down.
TEST_F(V4l2Test, CameraThatLibv4l2TurnsKeepsItsConversion) {
  fake_.LimitYuyv(kPath, 0);  // Motion JPEG only
  fake_.TurnPictures(kPath);
  auto device = OpenDevice();
  VideoFrame frame;
  ASSERT_NO_FATAL_FAILURE(StartLarge(*device, V4L2_PIX_FMT_BGR24, frame));
  EXPECT_EQ(WrongPixels(frame, 0, true), 0);
  device->Close();
  EXPECT_EQ(ReadLog().find("converting with libv4l2"), std::string::npos);
}

TEST_F(V4l2Test, PropertiesDriveTheirControlsAndAutomaticModes) {
  V4l2Source source(kPath, "", fake_);
  ASSERT_TRUE(source.Open());
  PropertyRange range;
  long value = 0, flags = 0;

  ASSERT_TRUE(source.GetPropertyRange(kPropBrightness, range));
  EXPECT_EQ(range.minimum, -64);
  EXPECT_EQ(range.maximum, 64);
  EXPECT_EQ(range.defaultValue, 0);
  EXPECT_EQ(range.flags, kPropertyFlagManual);
  ASSERT_TRUE(source.SetProperty(kPropBrightness, -20, kPropertyFlagManual));
  EXPECT_EQ(fake_.Control(kPath, V4L2_CID_BRIGHTNESS), -20);
  ASSERT_TRUE(source.GetProperty(kPropBrightness, value, flags));
  EXPECT_EQ(value, -20);
  EXPECT_EQ(flags, kPropertyFlagManual);
  ASSERT_TRUE(source.SetProperty(kPropContrast, 50, kPropertyFlagManual));
  EXPECT_EQ(fake_.Control(kPath, V4L2_CID_CONTRAST), 50);

  // Controls the camera lacks are reported missing, not invented.
  for (int p : {kPropHue, kPropSaturation, kPropColorEnable}) {
    EXPECT_FALSE(source.GetPropertyRange(p, range)) << p;
    EXPECT_FALSE(source.GetProperty(p, value, flags)) << p;
    EXPECT_FALSE(source.SetProperty(p, 1, kPropertyFlagManual)) << p;
  }
  EXPECT_FALSE(source.GetProperty(kVideoPropertyCount, value, flags));
  EXPECT_FALSE(source.SetProperty(-1, 0, kPropertyFlagManual));

  // Each of these starts automatic; the camera refuses a manual value until
  // its automatic mode is off.
  struct Automatic {
    int property;
    std::uint32_t valueId, autoId;
    long minimum, maximum, manualValue;
    std::int32_t autoOn, autoOff;
  };
  const Automatic automatic[] = {
      {kPropWhiteBalance, V4L2_CID_WHITE_BALANCE_TEMPERATURE, V4L2_CID_AUTO_WHITE_BALANCE, 2800,
       6500, 5000, 1, 0},
      {kPropGain, V4L2_CID_GAIN, V4L2_CID_AUTOGAIN, 0, 100, 70, 1, 0},
      {kPropExposure, V4L2_CID_EXPOSURE_ABSOLUTE, V4L2_CID_EXPOSURE_AUTO, 3, 2047, 500,
       V4L2_EXPOSURE_APERTURE_PRIORITY, V4L2_EXPOSURE_MANUAL},
  };
  for (const Automatic& a : automatic) {
    SCOPED_TRACE(kPropertyNames[a.property]);
    ASSERT_TRUE(source.GetPropertyRange(a.property, range));
    EXPECT_EQ(range.minimum, a.minimum);
    EXPECT_EQ(range.maximum, a.maximum);
    EXPECT_EQ(range.flags, kPropertyFlagManual | kPropertyFlagAuto);
    ASSERT_TRUE(source.GetProperty(a.property, value, flags));
    EXPECT_EQ(flags, kPropertyFlagAuto);

    ASSERT_TRUE(source.SetProperty(a.property, a.manualValue, kPropertyFlagManual));
    EXPECT_EQ(fake_.Control(kPath, a.autoId), a.autoOff);
    EXPECT_EQ(fake_.Control(kPath, a.valueId), a.manualValue);
    ASSERT_TRUE(source.GetProperty(a.property, value, flags));
    EXPECT_EQ(value, a.manualValue);
    EXPECT_EQ(flags, kPropertyFlagManual);

    // Back to automatic: the manual value is left alone.
    ASSERT_TRUE(source.SetProperty(a.property, a.minimum, kPropertyFlagAuto));
    EXPECT_EQ(fake_.Control(kPath, a.autoId), a.autoOn);
    EXPECT_EQ(fake_.Control(kPath, a.valueId), a.manualValue);
    ASSERT_TRUE(source.GetProperty(a.property, value, flags));
    EXPECT_EQ(flags, kPropertyFlagAuto);
  }
}

TEST_F(V4l2Test, UnpluggedCameraEndsItsStreamOnce) {
  auto device = OpenDevice();
  const BitmapInfoHeader tiny = MakeRgb24Header(160, 120);
  ASSERT_TRUE(device->SetFormat(&tiny, 30));
  ASSERT_TRUE(device->Start());
  VideoFrame frame;
  ASSERT_TRUE(device->RequestFrame(frame));

  fake_.Unplug(kPath);
  const std::string line = std::string("Camera ") + kCard + " stopped: the device was removed";
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (ReadLog().find(line) == std::string::npos && std::chrono::steady_clock::now() < until) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  const std::uint32_t pictures = fake_.PicturesRead(kPath);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const std::string log = ReadLog();
  const auto first = log.find(line);
  ASSERT_NE(first, std::string::npos) << log;
  EXPECT_EQ(log.find(line, first + 1), std::string::npos) << log;
  EXPECT_EQ(fake_.PicturesRead(kPath), pictures);

  EXPECT_FALSE(device->RequestFrame(frame, 300));
  long value = 0, flags = 0;
  EXPECT_FALSE(device->GetProperty(kPropBrightness, value, flags));
  EXPECT_FALSE(device->SetFormat(&tiny, 30));
  EXPECT_TRUE(device->Stop());
  device->Close();
  EXPECT_EQ(fake_.OpenCount(kPath), 0);
  // The node is gone, so the camera cannot be opened again.
  CaptureDevice again;
  EXPECT_FALSE(again.Open(std::make_unique<V4l2Source>(kPath, "", fake_)));
}

TEST_F(V4l2Test, CameraListHasCaptureNodesInNumberOrder) {
  // Node files to list; the simulated camera answers for them by path.
  const char* files[] = {"video10", "video2", "video1", "video0", "video5", "video0a", "media0"};
  for (const char* f : files) std::ofstream(dir_ + "/" + f) << "";
  fake_.AddNode(dir_ + "/video0", kCard);
  fake_.AddNode(dir_ + "/video1", kCard, false);  // its metadata node
  fake_.AddNode(dir_ + "/video2", kCard);
  fake_.AddNode(dir_ + "/video10", "Door Camera   ");
  // video5 is no device at all (nothing answers when it is opened).

  const std::vector<V4l2Node> nodes = ListV4l2CaptureNodes(dir_, fake_);
  ASSERT_EQ(nodes.size(), 3u);
  EXPECT_EQ(nodes[0].path, dir_ + "/video0");
  EXPECT_EQ(nodes[1].path, dir_ + "/video2");
  EXPECT_EQ(nodes[2].path, dir_ + "/video10");
  EXPECT_EQ(nodes[2].card, "Door Camera");

  IniFile settings;
  std::vector<std::unique_ptr<CameraEntry>> cameras;
  ASSERT_TRUE(EnumerateDevices(cameras, settings, dir_, fake_));
  ASSERT_EQ(cameras.size(), 3u);
  EXPECT_EQ(cameras[0]->name, "Desk Camera   NO.1");
  EXPECT_EQ(cameras[1]->name, "Desk Camera   NO.2");
  EXPECT_EQ(cameras[1]->source, dir_ + "/video2");
  EXPECT_EQ(cameras[2]->name, "Door Camera   NO.1");
  for (const auto& c : cameras) EXPECT_EQ(c->kind, SourceKind::V4l2);
  for (const char* f : {"video0", "video1", "video2", "video10"}) {
    EXPECT_EQ(fake_.OpenCount(dir_ + "/" + f), 0) << f;
  }

  // The metadata node is no camera even when named directly.
  V4l2Source meta(dir_ + "/video1", "", fake_);
  EXPECT_FALSE(meta.Open());
  EXPECT_EQ(fake_.OpenCount(dir_ + "/video1"), 0);
}

}  // namespace
}  // namespace qmr
