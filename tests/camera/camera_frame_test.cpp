#include "camera/camera_frame.h"

#include <gtest/gtest.h>
#include <wx/image.h>
#include <wx/menu.h>
#include <wx/timer.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>

#include "camera/preview_pane.h"
#include "capture/capture_device.h"
#include "capture/video_frame.h"
#include "dialogs/snapshot_viewer.h"
#include "dialogs/zone_editor_dialog.h"
#include "motion/motion_detector.h"
#include "recording/bitmap_info.h"
#include "test_camera_host.h"

namespace qmr {
namespace {

namespace fs = std::filesystem;

class CameraFrameTest : public testing::Test {
 protected:
  CameraFrameTest() : context_(folder_.Path()), host_(context_) {}

  CameraEntry& AddPatternEntry(const std::string& name) {
    auto entry = std::make_unique<CameraEntry>();
    entry->name = name;
    entry->friendlyName = "Test pattern";
    entry->kind = SourceKind::Pattern;
    entry->source = "pattern 320x240@25";
    context_.cameras.push_back(std::move(entry));
    return *context_.cameras.back();
  }

  // Opens the entry's pattern camera in a new window, as the main frame does.
  CameraFrame* OpenWindow(CameraEntry& entry) {
    auto device = std::make_unique<CaptureDevice>();
    if (!device->Open(entry)) return nullptr;
    auto* window = new CameraFrame(host_, entry);
    EXPECT_TRUE(window->Start(std::move(device)));
    return window;
  }

  CameraFrame* OpenFake(CameraEntry& entry, std::unique_ptr<test::FakeSource> source,
                        bool start = true) {
    auto device = std::make_unique<CaptureDevice>();
    EXPECT_TRUE(device->Open(std::move(source)));
    auto* window = new CameraFrame(host_, entry);
    if (start) {
      EXPECT_TRUE(window->Start(std::move(device)));
    }
    return window;
  }

  static bool ShowsFrames(CameraFrame* window, std::uint64_t after) {
    return window->Preview()->PaintedFrames() > after;
  }

  void SetSettings(const std::function<void(Settings&)>& change) {
    context_.Settings().Update(change);
  }

  // What is on the screen over the pane's client area, read back from the X
  // server; repaint: after the toolkit painted the whole pane.
  wxImage Shot(PreviewPane* pane, bool repaint = false) {
    if (repaint) pane->Refresh(false);
    pane->Update();
    const wxPoint at = pane->GetScreenPosition();
    const wxSize size = pane->GetClientSize();
    const std::string shot = folder_.Path() + "/pane.png";
    const std::string cmd = "/usr/bin/import -window root -crop " + std::to_string(size.x) + "x" +
                            std::to_string(size.y) + "+" + std::to_string(at.x) + "+" +
                            std::to_string(at.y) + " +repage '" + shot + "'";
    wxImage image;
    if (std::system(cmd.c_str()) == 0) image.LoadFile(shot, wxBITMAP_TYPE_PNG);
    return image;
  }

  std::vector<fs::path> AviFiles() {
    std::vector<fs::path> files;
    std::error_code ignored;
    for (const auto& f : fs::directory_iterator(folder_.Path() + "/AVI", ignored)) {
      files.push_back(f.path());
    }
    return files;
  }

  test::TempFolder folder_;
  test::TestContext context_;
  test::TestCameraHost host_;
};

TEST_F(CameraFrameTest, TwoCamerasShowLivePicturesAndOneCloses) {
  CameraEntry& first = AddPatternEntry("Test pattern   NO.1");
  CameraEntry& second = AddPatternEntry("Test pattern   NO.2");
  CameraFrame* a = OpenWindow(first);
  CameraFrame* b = OpenWindow(second);
  ASSERT_TRUE(a && b);
  EXPECT_TRUE(first.inUse && second.inUse);
  EXPECT_EQ(host_.windows.size(), 2u);
  EXPECT_EQ(host_.titles[a], "Test pattern   NO.1");

  // Both panes paint frames, each with a running time stamp.
  ASSERT_TRUE(test::PumpUntil([&] { return ShowsFrames(a, 3) && ShowsFrames(b, 3); }, 5000));
  const std::regex stamp(R"(\d\d/\d\d \d\d:\d\d:\d\d:\d\d\d)");
  const std::string firstStamp = a->Preview()->LastStamp();
  EXPECT_TRUE(std::regex_match(firstStamp, stamp)) << firstStamp;
  ASSERT_TRUE(test::PumpUntil([&] { return a->Preview()->LastStamp() != firstStamp; }, 2000));

  delete b;
  EXPECT_FALSE(second.inUse);
  EXPECT_TRUE(first.inUse);
  ASSERT_EQ(host_.windows.size(), 1u);
  EXPECT_EQ(host_.windows[0], a);

  // The freed camera opens again and delivers pictures.
  CameraFrame* again = OpenWindow(second);
  ASSERT_TRUE(again);
  EXPECT_TRUE(second.inUse);
  EXPECT_TRUE(test::PumpUntil([&] { return ShowsFrames(again, 1); }, 5000));
}

TEST_F(CameraFrameTest, WidePictureInA4To3PaneShowsBarsNotASqueezedPicture) {
  CameraEntry& entry = AddPatternEntry("Test pattern   NO.1");
  entry.source = "pattern 320x180@25";
  CameraFrame* window = OpenWindow(entry);
  ASSERT_TRUE(window);
  PreviewPane* pane = window->Preview();
  pane->SetSize(0, 0, 400, 300);
  ASSERT_TRUE(test::PumpUntil([&] { return ShowsFrames(window, 5); }, 5000));
  const std::uint64_t surfaces = pane->SurfacesMade();
  test::PumpUntil([&] { return ShowsFrames(window, 15); }, 3000);
  ASSERT_EQ(pane->GetClientSize(), wxSize(400, 300));
  // One image surface for the pane while its size stays; on this display
  // the frame thread puts the frames into the window itself.
  EXPECT_EQ(pane->SurfacesMade(), surfaces);
  EXPECT_TRUE(pane->DrawsDirectly());

  const wxImage image = Shot(pane);
  ASSERT_EQ(image.GetWidth(), 400);
  auto dark = [&](int x, int y) {
    return image.GetRed(x, y) + image.GetGreen(x, y) + image.GetBlue(x, y) < 30;
  };
  // 16:9 in 400 x 300: the picture is 400 x 225 from row 37; black bars
  // above and below, the picture between (the pattern has no black).
  for (int x : {10, 200, 390}) {
    EXPECT_TRUE(dark(x, 5)) << x;
    EXPECT_TRUE(dark(x, 30)) << x;
    EXPECT_TRUE(dark(x, 270)) << x;
    EXPECT_TRUE(dark(x, 295)) << x;
    EXPECT_FALSE(dark(x, 150)) << x;
    EXPECT_FALSE(dark(x, 250)) << x;
  }
}

TEST_F(CameraFrameTest, FramesGoStraightToTheWindowStampedAndThroughTheToolkitWhileZonesShow) {
  CameraEntry& entry = AddPatternEntry("Test pattern   NO.1");
  context_.SettingsFile().SetString(entry.name, "SENSIBLE_ZONES", "10,20,110,80");
  context_.SettingsFile().SetString(entry.name, "ZONE_SIZE", "320,240");
  CameraFrame* window = OpenWindow(entry);
  ASSERT_TRUE(window);
  PreviewPane* pane = window->Preview();
  pane->SetSize(0, 0, 320, 240);
  ASSERT_TRUE(test::PumpUntil([&] { return ShowsFrames(window, 5) && pane->DrawsDirectly(); },
                              5000));
  // The stamp's dark box covers the picture's top left corner; without the
  // stamp the same place is as bright as the pattern.
  auto corner = [&](bool repaint) {
    const wxImage image = Shot(pane, repaint);
    double sum = 0;
    for (int y = 4; y < 16; ++y) {
      for (int x = 0; x < 2; ++x) sum += image.GetRed(x, y) + image.GetGreen(x, y) + image.GetBlue(x, y);
    }
    return sum / 24;
  };
  const double stamped = corner(false);
  // Painted again by the toolkit (exposed, say): the picture comes with its
  // stamp, which is not drawn a second time.
  const double repainted = corner(true);
  window->Device()->Preview().SetShowTimeStamp(false);
  std::uint64_t painted = pane->PaintedFrames();
  ASSERT_TRUE(test::PumpUntil([&] { return ShowsFrames(window, painted + 3); }, 3000));
  const double plain = corner(false);
  EXPECT_LT(stamped, plain * 0.7) << stamped << " " << plain;
  EXPECT_GT(stamped, 10.0);  // darkened, not blacked out
  EXPECT_NEAR(repainted, stamped, stamped * 0.2);

  // Zone outlines are the toolkit's to draw: frames go through it meanwhile,
  // and straight to the window again after.
  window->SetShowZones(true);
  EXPECT_FALSE(pane->DrawsDirectly());
  painted = pane->PaintedFrames();
  ASSERT_TRUE(test::PumpUntil([&] { return ShowsFrames(window, painted + 3); }, 3000));
  // (The outlines themselves are drawn by the toolkit's paint, which this
  // harness does not bring to the screen reliably.)
  EXPECT_EQ(pane->OutlineCount(), 1u);
  window->SetShowZones(false);
  EXPECT_TRUE(pane->DrawsDirectly());
  painted = pane->PaintedFrames();
  EXPECT_TRUE(test::PumpUntil([&] { return ShowsFrames(window, painted + 3); }, 3000));
}

TEST_F(CameraFrameTest, StoredSettingsApplyAtStartAndDetectStartsWithIt) {
  CameraEntry& entry = AddPatternEntry("Test pattern   NO.1");
  IniFile& ini = context_.SettingsFile();
  ini.SetInt(entry.name, "IMAGE_WIDTH", 160);
  ini.SetInt(entry.name, "IMAGE_HEIGHT", 120);
  ini.SetInt(entry.name, "FRAME_RATE", 5);
  ini.SetInt(entry.name, "PREVIEW_TIME", 0);
  ini.SetTriple(entry.name, "TIME_COLOR", 0, 255, 0);
  ini.SetInt(entry.name, "BRIGHTNESS", 40);
  ini.SetInt(entry.name, "CONTRAST", -1);
  SetSettings([](Settings& s) { s.detect = true; });

  CameraFrame* window = OpenWindow(entry);
  ASSERT_TRUE(window);
  CaptureDevice& device = *window->Device();
  BitmapInfoHeader header;
  int rate = 0;
  ASSERT_TRUE(device.GetFormat(header, rate));
  EXPECT_EQ(header.width, 160);
  EXPECT_EQ(header.height, 120);
  EXPECT_EQ(rate, 5);
  EXPECT_FALSE(device.Preview().ShowTimeStamp());
  EXPECT_EQ(device.Preview().TextColour(), (Rgb{0, 255, 0}));
  long value = 0, flags = 0;
  ASSERT_TRUE(device.GetProperty(kPropBrightness, value, flags));
  EXPECT_EQ(value, 40);

  // DETECT on: detection runs from the start, with its icon, even though a
  // movie is wanted and no compressor is chosen.
  EXPECT_TRUE(window->IsDetecting());
  EXPECT_TRUE(window->ShowsDetectIcon());
  EXPECT_TRUE(window->SetDetect(false));
  EXPECT_FALSE(window->IsDetecting());
  EXPECT_FALSE(window->ShowsDetectIcon());
}

// A window started a second time (a new device) has its stored zones once.
TEST_F(CameraFrameTest, ASecondStartLoadsTheZonesOnce) {
  CameraEntry& entry = AddPatternEntry("Test pattern   NO.1");
  IniFile& ini = context_.SettingsFile();
  ini.SetString(entry.name, "SENSIBLE_ZONES", "10,20,110,80$150,30,200,90");
  ini.SetString(entry.name, "MASK_ZONES", "0,0,20,20");
  CameraFrame* window = OpenWindow(entry);
  ASSERT_TRUE(window);
  auto device = std::make_unique<CaptureDevice>();
  ASSERT_TRUE(device->Open(entry));
  ASSERT_TRUE(window->Start(std::move(device)));
  ZoneList sensible, mask;
  window->Detector()->GetZones(sensible, mask);
  EXPECT_EQ(sensible.size(), 2u);
  EXPECT_EQ(mask.size(), 1u);
  delete window;
}

TEST_F(CameraFrameTest, WithoutASectionTheDeviceKeepsItsOwnFormat) {
  CameraEntry& entry = AddPatternEntry("Test pattern   NO.1");
  CameraFrame* window = OpenWindow(entry);
  ASSERT_TRUE(window);
  BitmapInfoHeader header;
  int rate = 0;
  ASSERT_TRUE(window->Device()->GetFormat(header, rate));
  EXPECT_EQ(header.width, 320);
  EXPECT_EQ(rate, 25);
  EXPECT_TRUE(window->Device()->Preview().ShowTimeStamp());
  EXPECT_FALSE(window->IsDetecting());
}

TEST_F(CameraFrameTest, RecordRefusalsAndTheRecordingTitle) {
  CameraEntry& entry = AddPatternEntry("Test pattern   NO.1");
  CameraFrame* window = OpenWindow(entry);
  ASSERT_TRUE(window);

  // No compressor: the message, no file, title unchanged; without a user the
  // message goes to the log.
  EXPECT_FALSE(window->SetRecord(true, true));
  ASSERT_EQ(context_.boxes.size(), 1u);
  EXPECT_EQ(context_.boxes[0].text,
            "In order to save AVI file, please choose a compress codec first!");
  EXPECT_EQ(context_.boxes[0].caption, "Error");
  EXPECT_TRUE(AviFiles().empty());
  EXPECT_FALSE(window->SetRecord(true, false));
  EXPECT_EQ(context_.boxes.size(), 1u);
  std::ifstream log(folder_.Path() + "/log.txt");
  std::string logText((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
  EXPECT_NE(logText.find("please choose a compress codec first!"), std::string::npos);

  // A folder that cannot be made.
  SetSettings([&](Settings& s) {
    s.fccHandler = MakeFourCC("MJPG");
    s.aviDir = "relative/AVI";
  });
  EXPECT_FALSE(window->SetRecord(true, true));
  EXPECT_EQ(context_.boxes.back().text,
            "The directory relative/AVI for saving AVI files can not be created");

  // The record toggle with a compressor and a folder ending in '/'.
  SetSettings([&](Settings& s) { s.aviDir = folder_.Path() + "/AVI/"; });
  context_.boxes.clear();
  window->ToggleRecord();
  ASSERT_TRUE(window->IsRecording()) << (context_.boxes.empty() ? "" : context_.boxes[0].text);
  EXPECT_EQ(host_.titles[window], "Test pattern   NO.1, recording...");
  {
    std::unique_ptr<wxMenu> menu = window->BuildPopupMenu();
    EXPECT_TRUE(menu->IsChecked(CameraFrame::kIdRecord));
    EXPECT_FALSE(menu->IsChecked(CameraFrame::kIdDetect));
  }
  test::PumpEvents(400);
  window->ToggleRecord();
  EXPECT_FALSE(window->IsRecording());
  EXPECT_EQ(host_.titles[window], "Test pattern   NO.1");
  const auto files = AviFiles();
  ASSERT_EQ(files.size(), 1u);
  EXPECT_TRUE(std::regex_match(files[0].filename().string(),
                               std::regex(R"(Test pattern   NO\.1 \d{4}(-\d\d){5}\.avi)")))
      << files[0];
  EXPECT_GT(fs::file_size(files[0]), 0u);

  // A second start in the same second does not wipe out the first movie.
  ASSERT_TRUE(window->SetRecord(true, true));
  window->SetRecord(false, true);
  ASSERT_TRUE(window->SetRecord(true, true));
  window->SetRecord(false, true);
  EXPECT_EQ(AviFiles().size(), 3u);
  EXPECT_TRUE(context_.boxes.empty());
}

TEST_F(CameraFrameTest, DetectToggleWantsACompressorOnlyForMovies) {
  CameraEntry& entry = AddPatternEntry("Test pattern   NO.1");
  CameraFrame* window = OpenWindow(entry);
  ASSERT_TRUE(window);

  SetSettings([](Settings& s) { s.savAvi = true; });
  window->ToggleDetect();
  EXPECT_FALSE(window->IsDetecting());
  ASSERT_EQ(context_.boxes.size(), 1u);
  EXPECT_EQ(context_.boxes[0].text,
            "In order to save AVI file when motion is detected, \nplease choose a codec first!");

  SetSettings([](Settings& s) { s.savAvi = s.ftpAvi = s.mailAvi = false; });
  wxCommandEvent command(wxEVT_MENU, CameraFrame::kIdDetect);
  window->ProcessWindowEvent(command);
  EXPECT_TRUE(window->IsDetecting());
  EXPECT_TRUE(window->ShowsDetectIcon());
  EXPECT_TRUE(window->BuildPopupMenu()->IsChecked(CameraFrame::kIdDetect));
  window->ProcessWindowEvent(command);
  EXPECT_FALSE(window->IsDetecting());
}

TEST_F(CameraFrameTest, PopupMenuAndCaptureMode) {
  CameraEntry& entry = AddPatternEntry("Test pattern   NO.1");
  CameraFrame* window = OpenWindow(entry);
  ASSERT_TRUE(window);
  std::unique_ptr<wxMenu> menu = window->BuildPopupMenu();
  const wxMenuItemList& items = menu->GetMenuItems();
  std::vector<std::string> texts;
  for (const wxMenuItem* item : items) {
    texts.push_back(item->IsSeparator() ? "-" : item->GetItemLabel().utf8_string());
  }
  const std::vector<std::string> expected = {
      "Video capture mode",  "-", "Video &property..",
      "Video &format..",     "-", "&Record now!",
      "Record &schedule..",  "-", "Set motion sensible &zones..",
      "Show zo&nes",         "&Detect motion now!", "-",
      "Snaps&hot.."};
  EXPECT_EQ(texts, expected);
  EXPECT_TRUE(menu->FindItem(CameraFrame::kIdRecord)->IsCheckable());
  EXPECT_TRUE(menu->FindItem(CameraFrame::kIdDetect)->IsCheckable());
  wxMenu* mode = menu->FindItem(CameraFrame::kIdCaptureMode)->GetSubMenu();
  ASSERT_TRUE(mode);
  EXPECT_EQ(mode->FindItemByPosition(0)->GetId(), CameraFrame::kIdLeisurely);
  EXPECT_TRUE(mode->FindItemByPosition(0)->IsRadio());
  EXPECT_TRUE(mode->IsChecked(CameraFrame::kIdLeisurely));

  wxCommandEvent highSpeed(wxEVT_MENU, CameraFrame::kIdHighSpeed);
  window->ProcessWindowEvent(highSpeed);
  EXPECT_TRUE(window->Device()->highSpeed);
  EXPECT_TRUE(window->BuildPopupMenu()->IsChecked(CameraFrame::kIdHighSpeed));
  wxCommandEvent leisurely(wxEVT_MENU, CameraFrame::kIdLeisurely);
  window->ProcessWindowEvent(leisurely);
  EXPECT_FALSE(window->Device()->highSpeed);
}

// Closes the first modal dialog of type T that appears, after looking at it.
template <typename T>
class ModalCloser : public wxTimer {
 public:
  explicit ModalCloser(std::function<void(T&)> look) : look_(std::move(look)) { Start(50); }
  void Notify() override {
    for (wxWindow* w : wxTopLevelWindows) {
      auto* dialog = dynamic_cast<T*>(w);
      if (dialog != nullptr && dialog->IsModal()) {
        Stop();
        look_(*dialog);
        ++closed;
        dialog->EndModal(wxID_CANCEL);
        return;
      }
    }
  }
  int closed = 0;

 private:
  std::function<void(T&)> look_;
};

TEST_F(CameraFrameTest, SnapshotAndZonesOpenWithTheLatestPicture) {
  CameraEntry& entry = AddPatternEntry("Test pattern   NO.1");
  CameraFrame* window = OpenWindow(entry);
  ASSERT_TRUE(window);
  const SystemTime before = GetLocalTime();
  {
    ModalCloser<SnapshotViewer> closer([&](SnapshotViewer& viewer) {
      EXPECT_EQ(viewer.Image().GetSize(), wxSize(320, 240));
      EXPECT_EQ(viewer.GetTitle(), "Snapshot");
      // The caption carries the capture time of this very picture.
      char day[32];
      std::snprintf(day, sizeof day, "%04d-%02d-%02d", before.year, before.month, before.day);
      bool found = false;
      for (wxWindow* child : viewer.GetChildren()) {
        const wxString label = child->GetLabel();
        if (label.StartsWith("Picture taken on ")) found = label.Contains(day);
      }
      EXPECT_TRUE(found);
    });
    wxCommandEvent snapshot(wxEVT_MENU, CameraFrame::kIdSnapshot);
    window->ProcessWindowEvent(snapshot);
    EXPECT_EQ(closer.closed, 1);
  }
  {
    // Confirmed zones stop the detector; the icon follows.
    SetSettings([](Settings& s) { s.savAvi = false; });
    ASSERT_TRUE(window->SetDetect(true));
    ModalCloser<ZoneEditorDialog> closer(
        [](ZoneEditorDialog& editor) { EXPECT_TRUE(editor.Apply()); });
    wxCommandEvent zones(wxEVT_MENU, CameraFrame::kIdZones);
    window->ProcessWindowEvent(zones);
    EXPECT_EQ(closer.closed, 1);
    EXPECT_FALSE(window->IsDetecting());
    EXPECT_FALSE(window->ShowsDetectIcon());
  }
}

TEST_F(CameraFrameTest, ASourceThatEndsLeavesAQuietWindow) {
  CameraEntry& entry = AddPatternEntry("Fake   NO.1");
  auto source = std::make_unique<test::FakeSource>();
  source->endAfterFrames = 5;
  CameraFrame* window = OpenFake(entry, std::move(source));
  SetSettings([](Settings& s) { s.savAvi = false; });
  EXPECT_TRUE(window->SetDetect(true));
  test::PumpEvents(600);
  // Nothing more comes: the frame request gives up instead of hanging.
  VideoFrame frame;
  EXPECT_FALSE(window->GrabFrame(frame));
  wxCommandEvent snapshot(wxEVT_MENU, CameraFrame::kIdSnapshot);
  window->ProcessWindowEvent(snapshot);  // no frame: no viewer, no hang
  EXPECT_TRUE(window->SetDetect(false));
  delete window;
  EXPECT_FALSE(entry.inUse);

  // A window whose device never started closes just as well.
  CameraFrame* idle = OpenFake(entry, std::make_unique<test::FakeSource>(), false);
  EXPECT_FALSE(idle->IsRecording());
  SetSettings([](Settings& s) { s.fccHandler = MakeFourCC("MJPG"); });
  EXPECT_FALSE(idle->SetRecord(true, true));
  EXPECT_EQ(context_.boxes.back().text, "Failed to initialize compressor");
  EXPECT_TRUE(AviFiles().empty());
  EXPECT_EQ(host_.titles[idle], "Fake   NO.1");
  delete idle;
  EXPECT_TRUE(host_.windows.empty());
}

}  // namespace
}  // namespace qmr
