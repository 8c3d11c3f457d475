#include <gtest/gtest.h>

#include <filesystem>

#include "camera/camera_frame.h"
#include "capture/capture_device.h"
#include "dialogs/video_format_dialog.h"
#include "dialogs/video_property_dialog.h"
#include "test_camera_host.h"

namespace qmr {
namespace {

VideoCapability Capability(int width, int height, int minRate, int maxRate) {
  VideoCapability c;
  c.inputWidth = c.minWidth = c.maxWidth = width;
  c.inputHeight = c.minHeight = c.maxHeight = height;
  c.minFrameRate = minRate;
  c.maxFrameRate = maxRate;
  return c;
}

class VideoDialogsTest : public testing::Test {
 protected:
  VideoDialogsTest() : context_(folder_.Path()), host_(context_) {
    entry_.name = "Fake   NO.1";
    auto source = std::make_unique<test::FakeSource>();
    source->capabilities = {Capability(320, 240, 1, 30), Capability(640, 480, 5, 15),
                            Capability(160, 120, 1, 30)};
    source->rate = 30;
    source_ = source.get();
    auto device = std::make_unique<CaptureDevice>();
    EXPECT_TRUE(device->Open(std::move(source)));
    window_ = new CameraFrame(host_, entry_);
    EXPECT_TRUE(window_->Start(std::move(device)));
  }

  void ExpectFormat(int width, int height, int rate) {
    BitmapInfoHeader header;
    int now = 0;
    ASSERT_TRUE(window_->Device()->GetFormat(header, now));
    EXPECT_EQ(header.width, width);
    EXPECT_EQ(header.height, height);
    EXPECT_EQ(now, rate);
  }

  int StoredInt(const std::string& key) {
    IniFile reread;
    reread.Load(folder_.Path() + "/qmr.ini");
    int value = -12345;
    reread.GetInt(entry_.name, key, -12345, value);
    return value;
  }

  test::TempFolder folder_;
  test::TestContext context_;
  test::TestCameraHost host_;
  CameraEntry entry_;
  test::FakeSource* source_;
  CameraFrame* window_;
};

TEST_F(VideoDialogsTest, FormatSizeChoiceKeepsTheRateInRangeAndCancelRestores) {
  VideoFormatDialog dialog(*window_);
  ASSERT_EQ(dialog.Sizes().size(), 3u);
  EXPECT_EQ(dialog.SizeLabel(1), "640 X  480");
  EXPECT_EQ(dialog.SelectedSize(), 0);
  EXPECT_EQ(dialog.FrameRate(), 30);
  EXPECT_FALSE(dialog.Changed());

  dialog.ChooseSize(1);
  EXPECT_EQ(dialog.FrameRate(), 15);
  EXPECT_EQ(dialog.FrameRateMin(), 5);
  EXPECT_EQ(dialog.FrameRateMax(), 15);
  ExpectFormat(640, 480, 15);
  EXPECT_TRUE(window_->Device()->IsRunning());

  dialog.ChangeFrameRate(8);
  ExpectFormat(640, 480, 8);
  dialog.ShowTimeStamp(false);
  dialog.ChooseColour(*wxBLUE);
  EXPECT_FALSE(window_->Device()->Preview().ShowTimeStamp());
  EXPECT_EQ(window_->Device()->Preview().TextColour(), (Rgb{0, 0, 255}));

  dialog.CancelChanges();
  ExpectFormat(320, 240, 30);
  EXPECT_TRUE(window_->Device()->Preview().ShowTimeStamp());
  EXPECT_EQ(window_->Device()->Preview().TextColour(), (Rgb{255, 0, 0}));
  EXPECT_TRUE(window_->Device()->IsRunning());
  EXPECT_FALSE(std::filesystem::exists(folder_.Path() + "/qmr.ini"));
}

TEST_F(VideoDialogsTest, FormatOkWritesOnlyAfterAChange) {
  {
    VideoFormatDialog dialog(*window_);
    dialog.Confirm();
  }
  EXPECT_FALSE(std::filesystem::exists(folder_.Path() + "/qmr.ini"));

  VideoFormatDialog dialog(*window_);
  dialog.ChooseSize(2);
  dialog.ChangeFrameRate(12);
  dialog.ShowTimeStamp(false);
  dialog.Confirm();
  EXPECT_EQ(StoredInt("IMAGE_WIDTH"), 160);
  EXPECT_EQ(StoredInt("IMAGE_HEIGHT"), 120);
  EXPECT_EQ(StoredInt("FRAME_RATE"), 12);
  EXPECT_EQ(StoredInt("PREVIEW_TIME"), 0);

  // Default goes back to the device's own format, and OK stores that one.
  VideoFormatDialog again(*window_);
  EXPECT_EQ(again.SelectedSize(), 2);
  again.RestoreDefaultFormat();
  EXPECT_EQ(again.SelectedSize(), 0);
  again.Confirm();
  EXPECT_EQ(StoredInt("IMAGE_WIDTH"), 320);
}

TEST_F(VideoDialogsTest, PropertyRowsMovesOkAndCancel) {
  {
    VideoPropertyDialog dialog(*window_);
    EXPECT_TRUE(dialog.RowEnabled(kPropBrightness));
    EXPECT_FALSE(dialog.RowEnabled(kPropContrast));
    // Manual only: no "Auto"; manual and automatic: "Auto" possible and on.
    EXPECT_FALSE(dialog.AutoEnabled(kPropBrightness));
    EXPECT_FALSE(dialog.AutoChecked(kPropBrightness));
    EXPECT_TRUE(dialog.AutoEnabled(kPropWhiteBalance));
    EXPECT_TRUE(dialog.AutoChecked(kPropWhiteBalance));
    EXPECT_EQ(dialog.ValueText(kPropBrightness), "50");
    ASSERT_NE(dialog.FindWindow(VideoPropertyDialog::kFirstSliderId + kPropGain), nullptr);

    dialog.MoveSlider(kPropBrightness, 70);
    dialog.SetAuto(kPropWhiteBalance, false);
    dialog.MoveSlider(kPropWhiteBalance, 5000);
    long value = 0, flags = 0;
    window_->Device()->GetProperty(kPropBrightness, value, flags);
    EXPECT_EQ(value, 70);
    EXPECT_EQ(flags, 0);
    window_->Device()->GetProperty(kPropWhiteBalance, value, flags);
    EXPECT_EQ(value, 5000);
    EXPECT_EQ(flags, 0);
    EXPECT_EQ(dialog.ValueText(kPropBrightness), "70");

    dialog.CancelChanges();
    window_->Device()->GetProperty(kPropBrightness, value, flags);
    EXPECT_EQ(value, 50);
    EXPECT_EQ(flags, kPropertyFlagManual);
    window_->Device()->GetProperty(kPropWhiteBalance, value, flags);
    EXPECT_EQ(value, 4000);
    EXPECT_EQ(flags, kPropertyFlagAuto);
  }
  EXPECT_FALSE(std::filesystem::exists(folder_.Path() + "/qmr.ini"));

  VideoPropertyDialog dialog(*window_);
  dialog.MoveSlider(kPropBrightness, 20);
  dialog.Confirm();
  EXPECT_EQ(StoredInt("BRIGHTNESS"), 20);
  EXPECT_EQ(StoredInt("WHITEBALANCE"), 4000);
  EXPECT_EQ(StoredInt("CONTRAST"), -12345);  // unsupported: not stored

  dialog.RestoreDefaults();
  EXPECT_EQ(dialog.SliderValue(kPropBrightness), 50);
  EXPECT_EQ(dialog.SliderValue(kPropWhiteBalance), 4600);
  EXPECT_TRUE(dialog.AutoChecked(kPropWhiteBalance));
}

// Gain's range can be read but its value cannot: no button of the dialog
// writes it, and OK stores nothing for it.
TEST_F(VideoDialogsTest, PropertyWhoseValueCannotBeReadIsLeftAlone) {
  VideoPropertyDialog dialog(*window_);
  EXPECT_FALSE(dialog.RowEnabled(kPropGain));
  dialog.MoveSlider(kPropGain, 200);
  dialog.MoveSlider(kPropBrightness, 30);
  dialog.CancelChanges();
  dialog.RestoreDefaults();
  dialog.Confirm();
  EXPECT_EQ(source_->gainWrites.load(), 0);
  EXPECT_EQ(StoredInt("GAIN"), -12345);
  EXPECT_EQ(StoredInt("BRIGHTNESS"), 50);
}

// Cancel after changing only the time stamp or its colour leaves the device
// running as it was: a restart would end a recording.
TEST_F(VideoDialogsTest, FormatCancelRestartsOnlyForARealFormatChange) {
  const std::string file = folder_.Path() + "/manual.avi";
  ASSERT_TRUE(window_->Device()->Record(true, file, MakeFourCC("MJPG"), 80));
  const int calls = source_->setFormatCalls.load();
  {
    VideoFormatDialog dialog(*window_);
    dialog.ShowTimeStamp(false);
    dialog.ChooseColour(*wxGREEN);
    dialog.CancelChanges();
  }
  EXPECT_EQ(source_->setFormatCalls.load(), calls);
  EXPECT_TRUE(window_->Device()->IsRecording());
  EXPECT_TRUE(window_->Device()->Preview().ShowTimeStamp());
  {
    // A size and rate chosen and chosen back: the format is as it was, no
    // restart.
    VideoFormatDialog dialog(*window_);
    dialog.ChooseSize(1);
    dialog.ChooseSize(0);
    dialog.ChangeFrameRate(30);
    const int afterChoices = source_->setFormatCalls.load();
    dialog.CancelChanges();
    EXPECT_EQ(source_->setFormatCalls.load(), afterChoices);
    ExpectFormat(320, 240, 30);
  }
  window_->Device()->Record(false, std::string(), 0, 0);
}

// Default is the source's own default size and rate: for the pattern camera
// the size and rate it was configured with.
TEST_F(VideoDialogsTest, FormatDefaultIsTheSourcesOwnFormat) {
  CameraEntry pattern;
  pattern.name = "Test pattern   NO.1";
  pattern.kind = SourceKind::Pattern;
  pattern.source = "pattern 640x480@7";
  auto device = std::make_unique<CaptureDevice>();
  ASSERT_TRUE(device->Open(pattern));
  auto* window = new CameraFrame(host_, pattern);
  ASSERT_TRUE(window->Start(std::move(device)));
  {
    VideoFormatDialog format(*window);
    format.ChooseSize(0);
    format.ChangeFrameRate(20);
    format.RestoreDefaultFormat();
    BitmapInfoHeader header;
    int rate = 0;
    ASSERT_TRUE(window->Device()->GetFormat(header, rate));
    EXPECT_EQ(header.width, 640);
    EXPECT_EQ(header.height, 480);
    EXPECT_EQ(rate, 7);
    EXPECT_EQ(format.FrameRate(), 7);
  }
  delete window;
}

TEST_F(VideoDialogsTest, BothDialogsWorkWithThePatternCamera) {
  CameraEntry pattern;
  pattern.name = "Test pattern   NO.1";
  pattern.kind = SourceKind::Pattern;
  pattern.source = "pattern 320x240@10";
  auto device = std::make_unique<CaptureDevice>();
  ASSERT_TRUE(device->Open(pattern));
  auto* window = new CameraFrame(host_, pattern);
  ASSERT_TRUE(window->Start(std::move(device)));

  {
    VideoFormatDialog format(*window);
    ASSERT_FALSE(format.Sizes().empty());
    EXPECT_NE(format.SelectedSize(), wxNOT_FOUND);
    const int last = static_cast<int>(format.Sizes().size()) - 1;
    format.ChooseSize(last);
    BitmapInfoHeader header;
    int rate = 0;
    ASSERT_TRUE(window->Device()->GetFormat(header, rate));
    EXPECT_EQ(header.width, format.Sizes()[last].width);
    format.CancelChanges();
    ASSERT_TRUE(window->Device()->GetFormat(header, rate));
    EXPECT_EQ(header.width, 320);
  }
  {
    VideoPropertyDialog properties(*window);
    EXPECT_TRUE(properties.RowEnabled(kPropBrightness));
    const int before = properties.SliderValue(kPropBrightness);
    properties.MoveSlider(kPropBrightness, before + 10);
    properties.CancelChanges();
    long value = 0, flags = 0;
    window->Device()->GetProperty(kPropBrightness, value, flags);
    EXPECT_EQ(value, before);
  }
  delete window;
}

}  // namespace
}  // namespace qmr
