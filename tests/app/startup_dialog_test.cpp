#include "dialogs/startup_dialog.h"

#include <gtest/gtest.h>
#include <wx/checkbox.h>

#include "base/app_context.h"
#include "capture/camera_entry.h"
#include "config/ini_file.h"
#include "config/settings.h"
#include "delivery/dialup_connection.h"
#include "delivery/transfer_queue.h"
#include "gui_test_support.h"
#include "motion/alarm_sound.h"

namespace qmr {
namespace {

// Just the settings and the settings file; the dialog needs nothing else.
class SettingsOnlyContext : public AppContext {
 public:
  SettingsStore& Settings() override { return settings; }
  IniFile& SettingsFile() override { return ini; }
  AlarmSound& Alarm() override { return alarm; }
  DialupConnection& Dialup() override { return dialup; }
  TransferQueue& Transfer() override { return transfer; }
  const std::vector<std::unique_ptr<CameraEntry>>& Cameras() override { return cameras; }
  void PostMessageBox(const std::string&, const std::string&, long) override {}
  bool RunOnUiThread(std::function<void()> fn, int) override {
    fn();
    return true;
  }
  SettingsStore settings;
  IniFile ini;
  AlarmSound alarm;
  DialupConnection dialup;
  TransferQueue transfer;
  std::vector<std::unique_ptr<CameraEntry>> cameras;
};

TEST(StartupDialogTest, OkWritesOnlyTheChangedFlags) {
  test::HomeFolder home;
  SettingsOnlyContext context;
  context.ini.Load(SettingsFilePath());
  context.settings.Update([](Settings& s) { s.maxView = true; });

  {
    StartupDialog dialog(nullptr, context);
    EXPECT_EQ(dialog.GetTitle(), "Program startup settings");
    EXPECT_FALSE(dialog.OpenAllBox()->GetValue());
    EXPECT_TRUE(dialog.MaxViewBox()->GetValue());
    EXPECT_EQ(dialog.OpenAllBox()->GetLabel(), "Open all of the video devices");
    EXPECT_EQ(dialog.DetectBox()->GetLabel(), "Start motion detecting");
    EXPECT_EQ(dialog.MaxViewBox()->GetLabel(), "Maximize all of the video windows");
    EXPECT_EQ(dialog.MinMainBox()->GetLabel(), "Minimize the main window");
    // OK with nothing changed: no file appears.
    EXPECT_EQ(dialog.Apply(), 0);
    EXPECT_FALSE(std::filesystem::exists(home.File("qmr.ini")));

    dialog.MinMainBox()->SetValue(true);
    EXPECT_EQ(dialog.Apply(), 1);
    const std::string text = home.Read("qmr.ini");
    EXPECT_NE(text.find("[STARTUP]"), std::string::npos);
    EXPECT_NE(text.find("MINMAIN=1"), std::string::npos);
    for (const char* other : {"OPENALL", "DETECT", "MAXVIEW"}) {
      EXPECT_EQ(text.find(other), std::string::npos) << other;
    }
    EXPECT_TRUE(context.settings.Get().minMain);
    dialog.Destroy();
  }
  {
    // Cancel: the boxes change, nothing else does.
    const std::string before = home.Read("qmr.ini");
    StartupDialog dialog(nullptr, context);
    EXPECT_TRUE(dialog.MinMainBox()->GetValue());
    dialog.OpenAllBox()->SetValue(true);
    dialog.MaxViewBox()->SetValue(false);
    wxCommandEvent cancel(wxEVT_BUTTON, wxID_CANCEL);
    dialog.ProcessWindowEvent(cancel);
    EXPECT_FALSE(context.settings.Get().openAll);
    EXPECT_TRUE(context.settings.Get().maxView);
    EXPECT_EQ(home.Read("qmr.ini"), before);
    dialog.Destroy();
  }
}

}  // namespace
}  // namespace qmr
