// The zone editor under a virtual display: drawing zones with the mouse and
// what OK, Cancel and the colour buttons write.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <wx/app.h>
#include <wx/init.h>
#include <wx/choice.h>
#include <wx/spinctrl.h>
#include <wx/stattext.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "base/app_context.h"
#include "base/process.h"
#include "config/ini_file.h"
#include "config/settings.h"
#include "dialogs/zone_canvas.h"
#include "dialogs/zone_editor_dialog.h"
#include "motion/motion_detector.h"

namespace qmr {
namespace {

// Settings and settings file; the editor needs nothing else.
class EditorContext : public AppContext {
 public:
  explicit EditorContext(const std::string& iniPath) {
    std::ofstream(iniPath) << "[MISC]\nCOLOR_MASK=0:255:0\n";
    ini_.Load(iniPath);
  }
  SettingsStore& Settings() override { return settings_; }
  IniFile& SettingsFile() override { return ini_; }
  AlarmSound& Alarm() override { std::abort(); }
  DialupConnection& Dialup() override { std::abort(); }
  TransferQueue& Transfer() override { std::abort(); }
  const std::vector<std::unique_ptr<CameraEntry>>& Cameras() override { std::abort(); }
  void PostMessageBox(const std::string&, const std::string&, long) override {}
  bool RunOnUiThread(std::function<void()> fn, int) override {
    fn();
    return true;
  }

 private:
  SettingsStore settings_;
  IniFile ini_;
};

const std::string kCamera = "Pattern   NO.1";

class ZoneEditorTest : public ::testing::Test {
 protected:
  ZoneEditorTest() {
    char pattern[] = "/tmp/qmr_zone_editor_XXXXXX";
    folder_ = mkdtemp(pattern);
    SetApplicationFolder(folder_);
    iniPath_ = folder_ + "/qmr.ini";
    context_ = std::make_unique<EditorContext>(iniPath_);
    detector_ = std::make_unique<MotionDetector>(context_.get(), kCamera);
    picture_.assign(320 * 240 * 3, 90);
  }
  ~ZoneEditorTest() override {
    if (dialog_ != nullptr) dialog_->Destroy();
    wxTheApp->ProcessIdle();
    std::system(("rm -rf '" + folder_ + "'").c_str());
  }

  ZoneEditorDialog& Open() {
    dialog_ = new ZoneEditorDialog(nullptr, *context_, kCamera, picture_.data(), 320, 240,
                                   detector_.get());
    dialog_->SetErrorPresenter([this](const std::string& m) { errors_.push_back(m); });
    dialog_->Show();
    return *dialog_;
  }
  void Command(int id) {
    wxCommandEvent event(wxEVT_BUTTON, id);
    event.SetEventObject(dialog_);
    dialog_->GetEventHandler()->ProcessEvent(event);
  }
  void Mouse(wxEventType type, int x, int y, bool leftDown) {
    ZoneCanvas* canvas = dialog_->Canvas();
    wxMouseEvent event(type);
    event.m_x = x;
    event.m_y = y;
    event.m_leftDown = leftDown;
    event.SetEventObject(canvas);
    canvas->GetEventHandler()->ProcessEvent(event);
  }
  void Click(int x, int y) {
    Mouse(wxEVT_LEFT_DOWN, x, y, true);
    Mouse(wxEVT_LEFT_UP, x, y, false);
  }
  void Drag(int x0, int y0, int x1, int y1) {
    Mouse(wxEVT_LEFT_DOWN, x0, y0, true);
    Mouse(wxEVT_MOTION, (x0 + x1) / 2, (y0 + y1) / 2, true);
    Mouse(wxEVT_MOTION, x1, y1, true);
    Mouse(wxEVT_LEFT_UP, x1, y1, false);
  }
  std::string Stored(const std::string& key) {
    IniFile file;  // what reached the disk
    file.Load(iniPath_);
    std::string value = "(missing)";
    file.GetString(kCamera, key, "(missing)", value);
    return value;
  }
  static std::string Rect(const Zone* zone) {
    if (zone == nullptr) return "none";
    char text[80];
    std::snprintf(text, sizeof text, "%g,%g,%g,%g", zone->left, zone->top, zone->right,
                  zone->bottom);
    return text;
  }

  std::string folder_;
  std::string iniPath_;
  std::unique_ptr<EditorContext> context_;
  std::unique_ptr<MotionDetector> detector_;
  std::vector<unsigned char> picture_;
  ZoneEditorDialog* dialog_ = nullptr;
  std::vector<std::string> errors_;
};

TEST_F(ZoneEditorTest, DrawZonesWithTheMouseAndConfirm) {
  ZoneEditorDialog& dialog = Open();
  EXPECT_EQ(dialog.GetTitle(), "Set motion sensible zones for Pattern   NO.1");
  ZoneCanvas& canvas = *dialog.Canvas();

  // A second add replaces a zone that was never placed.
  Command(ZoneEditorDialog::kIdAddSensible);
  Command(ZoneEditorDialog::kIdAddSensible);
  ASSERT_EQ(canvas.Zones().size(), 1u);
  EXPECT_EQ(Rect(canvas.Pending()), "0,0,50,50");
  EXPECT_EQ(canvas.Selected(), canvas.Pending());

  // The next press centres it on the click.
  Click(100, 100);
  EXPECT_EQ(canvas.Pending(), nullptr);
  EXPECT_EQ(Rect(canvas.Selected()), "75,75,125,125");

  // Three pixels are no drag; more move the zone by the pointer's travel.
  Drag(80, 80, 83, 77);
  EXPECT_EQ(Rect(canvas.Zones()[0].get()), "75,75,125,125");
  Drag(80, 80, 90, 100);
  EXPECT_EQ(Rect(canvas.Zones()[0].get()), "85,95,135,145");

  // The right-edge handle stops 9 pixels from the left edge; the
  // bottom-right corner moves both of its edges.
  Drag(135, 120, 20, 130);
  EXPECT_EQ(Rect(canvas.Zones()[0].get()), "85,95,94,145");
  Drag(94, 145, 200, 210);
  EXPECT_EQ(Rect(canvas.Zones()[0].get()), "85,95,200,210");

  // A mask inside it; a press picks the zone whose nearest edge is closest.
  Command(ZoneEditorDialog::kIdAddMask);
  Click(150, 150);
  ASSERT_EQ(canvas.Zones().size(), 2u);
  EXPECT_EQ(Rect(canvas.Zones()[1].get()), "125,125,175,175");
  Click(90, 100);
  EXPECT_EQ(canvas.Selected(), canvas.Zones()[0].get());
  Click(127, 150);
  EXPECT_EQ(canvas.Selected(), canvas.Zones()[1].get());
  Click(300, 20);
  EXPECT_EQ(canvas.Selected(), nullptr);
  Command(ZoneEditorDialog::kIdDelete);  // nothing selected: only a beep
  EXPECT_EQ(canvas.Zones().size(), 2u);

  detector_->SetThreshold(50);
  dialog.Sensitivity()->SetValue(0);
  Command(wxID_OK);
  EXPECT_TRUE(errors_.empty());
  EXPECT_FALSE(dialog.IsShown());
  EXPECT_EQ(Stored("SENSIBLE_ZONES"), "85,95,200,210");
  EXPECT_EQ(Stored("MASK_ZONES"), "125,125,175,175");
  EXPECT_EQ(Stored("ZONE_SIZE"), "320,240");
  EXPECT_EQ(Stored("THRESHOLD"), "0");
  EXPECT_EQ(Stored("REFERENCE"), "0");  // the detector's, kept as it was
  EXPECT_EQ(detector_->Threshold(), 1);
  EXPECT_EQ(detector_->ZoneWidth(), 320);
  ZoneList sensible, mask;
  detector_->GetZones(sensible, mask);
  EXPECT_EQ(FormatZoneList(sensible), "85,95,200,210");
  EXPECT_EQ(FormatZoneList(mask), "125,125,175,175");
}

TEST_F(ZoneEditorTest, OpensWithTheDetectorsZonesAndOkWithoutZonesClearsThem) {
  detector_->LoadZones("10,10,60,60$100,100,150,150", false);
  detector_->LoadZones("20,20,30,30", true);
  detector_->SetThreshold(35);
  ASSERT_TRUE(detector_->SetRunning(true));
  ZoneEditorDialog& dialog = Open();
  ZoneCanvas& canvas = *dialog.Canvas();
  ASSERT_EQ(canvas.Zones().size(), 3u);
  EXPECT_TRUE(canvas.Zones()[2]->IsMask());
  EXPECT_EQ(dialog.Sensitivity()->GetValue(), 35);
  // The detector compares with the previous check; choosing the background
  // reaches the detector and the camera's section.
  EXPECT_EQ(dialog.Reference()->GetSelection(), MotionDetector::kPreviousCheck);
  dialog.Reference()->SetSelection(MotionDetector::kBackground);

  Command(ZoneEditorDialog::kIdClear);
  EXPECT_TRUE(canvas.Zones().empty());
  Command(wxID_OK);
  EXPECT_EQ(Stored("SENSIBLE_ZONES"), "");
  EXPECT_EQ(Stored("MASK_ZONES"), "");
  EXPECT_EQ(Stored("ZONE_SIZE"), "320,240");
  EXPECT_EQ(Stored("THRESHOLD"), "35");
  EXPECT_EQ(Stored("REFERENCE"), "1");
  EXPECT_EQ(detector_->GetReference(), MotionDetector::kBackground);
  ZoneList sensible, mask;
  detector_->GetZones(sensible, mask);
  EXPECT_TRUE(sensible.empty() && mask.empty());
  // Applying zones stops the detector.
  EXPECT_FALSE(detector_->IsRunning());
}

TEST_F(ZoneEditorTest, BrokenRuleKeepsTheDialogOpenAndWritesNothing) {
  ZoneEditorDialog& dialog = Open();
  Command(ZoneEditorDialog::kIdAddSensible);
  Click(100, 100);
  Command(ZoneEditorDialog::kIdAddSensible);
  Click(130, 100);  // overlaps the first
  Click(300, 200);  // clear the selection
  Command(wxID_OK);
  ASSERT_EQ(errors_.size(), 1u);
  EXPECT_EQ(errors_[0], "The highlight sensible zone should not intersect another sensible zone.");
  EXPECT_EQ(dialog.Canvas()->Selected(), dialog.Canvas()->Zones()[0].get());
  EXPECT_TRUE(dialog.IsShown());
  EXPECT_EQ(Stored("SENSIBLE_ZONES"), "(missing)");

  // Delete the highlighted zone and Cancel: still nothing written.
  Command(ZoneEditorDialog::kIdDelete);
  EXPECT_EQ(dialog.Canvas()->Zones().size(), 1u);
  Command(wxID_CANCEL);
  EXPECT_FALSE(dialog.IsShown());
  EXPECT_EQ(Stored("ZONE_SIZE"), "(missing)");
}

TEST_F(ZoneEditorTest, ZoneNeverPlacedKeepsItsFirstRectangle) {
  Open();
  Command(ZoneEditorDialog::kIdAddMask);
  Command(ZoneEditorDialog::kIdAddSensible);
  Command(wxID_OK);
  EXPECT_TRUE(errors_.empty());
  EXPECT_EQ(Stored("SENSIBLE_ZONES"), "0,0,50,50");
  EXPECT_EQ(Stored("MASK_ZONES"), "");
}

TEST_F(ZoneEditorTest, ColourChoiceIsSavedAtOnceAndRulesWindowListsTheRules) {
  ZoneEditorDialog& dialog = Open();
  dialog.ApplyColour(ZoneEditorDialog::kIdMaskColour, Rgb{1, 2, 3});
  EXPECT_EQ(dialog.Canvas()->MaskColour(), (Rgb{1, 2, 3}));
  EXPECT_EQ(context_->Settings().Get().colorMask, (Rgb{1, 2, 3}));
  IniFile file;
  file.Load(iniPath_);
  std::string value;
  file.GetString("MISC", "COLOR_MASK", "", value);
  EXPECT_EQ(value, "1:2:3");

  wxDialog* rules = dialog.CreateRulesWindow();
  EXPECT_EQ(rules->GetTitle(), "Help");
  std::vector<std::string> texts;
  for (wxWindow* child : rules->GetChildren()) {
    if (auto* text = dynamic_cast<wxStaticText*>(child)) {
      texts.push_back(text->GetLabel().ToStdString());
    }
  }
  ASSERT_EQ(texts.size(), 10u);
  EXPECT_EQ(texts[0], "Rule of zones");
  EXPECT_EQ(texts[3],
            "* During motion detecting, a pixiel will not be checked\n unless it is inside of a "
            "sensible zone.");
  EXPECT_EQ(texts[9], "* Any pair of zones can not intersect.");
  rules->Destroy();
}

}  // namespace
}  // namespace qmr
