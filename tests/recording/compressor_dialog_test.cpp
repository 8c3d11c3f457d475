// The compressor dialog on a real display (xvfb): which line it selects, and
// which keys OK writes to the settings file.
#include "dialogs/compressor_dialog.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <wx/app.h>
#include <wx/choice.h>
#include <wx/init.h>
#include <wx/spinctrl.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "base/app_context.h"
#include "base/process.h"
#include "capture/camera_entry.h"
#include "config/ini_file.h"
#include "config/settings.h"
#include "recording/bitmap_info.h"

namespace qmr {
namespace {

class Context : public AppContext {
 public:
  SettingsStore& Settings() override { return settings; }
  IniFile& SettingsFile() override { return ini; }
  AlarmSound& Alarm() override { std::abort(); }
  DialupConnection& Dialup() override { std::abort(); }
  TransferQueue& Transfer() override { std::abort(); }
  const std::vector<std::unique_ptr<CameraEntry>>& Cameras() override { return cameras; }
  void PostMessageBox(const std::string&, const std::string&, long) override {}
  bool RunOnUiThread(std::function<void()> fn, int) override {
    fn();
    return true;
  }

  SettingsStore settings;
  IniFile ini;
  std::vector<std::unique_ptr<CameraEntry>> cameras;
};

class CompressorDialogTest : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/qmr-codec-dialog-XXXXXX";
    folder_ = ::mkdtemp(pattern);
    SetApplicationFolder(folder_);
  }
  void TearDown() override { std::filesystem::remove_all(folder_); }

  // A settings file whose DRIVER and FCCHANDLER lines carry comments: a key
  // that is written again loses its comment, so untouched keys can be told.
  void Load(const std::string& driver, std::uint32_t handler, int quality) {
    path_ = folder_ + "/qmr.ini";
    std::ofstream(path_) << "[CODEC]\nDRIVER=" << driver << " #d\nFCCHANDLER=" << handler
                         << " #h\nQUALITY=" << quality << "\n";
    ASSERT_TRUE(context_.ini.Load(path_));
    Settings s;
    s.driver = driver;
    s.fccHandler = handler;
    s.quality = quality;
    context_.settings.Set(s);
  }
  std::string FileText() const {
    std::ifstream in(path_);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  std::string Stored(const char* key) {
    IniFile fresh;
    fresh.Load(path_);
    std::string value;
    fresh.GetString(keys::kCodec, key, "", value);
    return value;
  }
  // Presses a button the way a click does, while the dialog runs modally.
  static int Press(CompressorDialog& dialog, int id) {
    dialog.CallAfter([&dialog, id] {
      wxCommandEvent click(wxEVT_BUTTON, id);
      click.SetEventObject(&dialog);
      dialog.ProcessWindowEvent(click);
    });
    return dialog.ShowModal();
  }

  std::string folder_;
  std::string path_;
  Context context_;
};

const std::uint32_t kMjpg = MakeFourCC("MJPG");

TEST_F(CompressorDialogTest, ChangingOnlyTheQualityWritesOnlyQuality) {
  Load("Motion JPEG", kMjpg, 85);
  CompressorDialog dialog(nullptr, context_);
  EXPECT_EQ(dialog.GetTitle(), "Compress driver settings");
  ASSERT_GE(dialog.CompressorList()->GetCount(), 1u);
  EXPECT_EQ(dialog.CompressorList()->GetStringSelection(), "Motion JPEG");
  EXPECT_EQ(dialog.QualityField()->GetValue(), 85);
  EXPECT_EQ(dialog.QualityField()->GetMin(), 0);
  EXPECT_EQ(dialog.QualityField()->GetMax(), 100);
  dialog.QualityField()->SetValue(60);
  EXPECT_EQ(Press(dialog, CompressorDialog::kOkId), wxID_OK);

  const std::string text = FileText();
  EXPECT_NE(text.find("#d"), std::string::npos) << text;  // DRIVER untouched
  EXPECT_NE(text.find("#h"), std::string::npos) << text;  // FCCHANDLER untouched
  EXPECT_EQ(Stored("QUALITY"), "60");
  EXPECT_EQ(context_.settings.Get().quality, 60);
}

TEST_F(CompressorDialogTest, UnknownDriverSelectsNothingAndOkStoresEmptyDriver) {
  Load("Vanished Codec 2.0", 1234, 85);
  CompressorDialog dialog(nullptr, context_);
  EXPECT_EQ(dialog.CompressorList()->GetSelection(), wxNOT_FOUND);
  EXPECT_EQ(Press(dialog, CompressorDialog::kOkId), wxID_OK);
  EXPECT_TRUE(std::filesystem::exists(path_));
  EXPECT_EQ(Stored("DRIVER"), "");
  IniFile fresh;
  fresh.Load(path_);
  int handler = 0;
  fresh.GetInt(keys::kCodec, "FCCHANDLER", 0, handler);
  EXPECT_EQ(handler, 1234);  // no line chosen: the code stays
  EXPECT_NE(FileText().find("#h"), std::string::npos);
  EXPECT_EQ(context_.settings.Get().driver, "");
  EXPECT_EQ(context_.settings.Get().fccHandler, 1234u);
}

TEST_F(CompressorDialogTest, ChoosingALineStoresItsCodeAndCancelWritesNothing) {
  const std::vector<CompressorInfo> list = {
      {MakeFourCC("AAAA"), "First"}, {MakeFourCC("BBBB"), "Same"}, {MakeFourCC("CCCC"), "Same"}};
  Load("Same", 0, 50);
  {
    // Two lines share the stored description: the last one is taken, and
    // its code is the one in memory at once.
    CompressorDialog dialog(nullptr, context_, list);
    EXPECT_EQ(dialog.CompressorList()->GetSelection(), 2);
    EXPECT_EQ(context_.settings.Get().fccHandler, MakeFourCC("CCCC"));
    dialog.CompressorList()->SetSelection(0);
    dialog.QualityField()->SetValue(99);
    const std::string before = FileText();
    EXPECT_EQ(Press(dialog, CompressorDialog::kCancelId), wxID_CANCEL);
    EXPECT_EQ(FileText(), before);
    EXPECT_EQ(context_.settings.Get().quality, 50);
  }
  CompressorDialog dialog(nullptr, context_, list);
  dialog.CompressorList()->SetSelection(0);
  EXPECT_EQ(dialog.Apply(), 2);
  EXPECT_EQ(Stored("DRIVER"), "First");
  EXPECT_EQ(Stored("FCCHANDLER"), std::to_string(MakeFourCC("AAAA")));
  EXPECT_EQ(Stored("QUALITY"), "50");
  EXPECT_EQ(context_.settings.Get().fccHandler, MakeFourCC("AAAA"));
}

}  // namespace
}  // namespace qmr
