// The folder and file dialog and the motion trigger dialog under a virtual
// display: OK writes exactly the keys that changed (trimmed), nothing when
// nothing changed; Play and Test reach the sound channel and the program.
#include <gtest/gtest.h>
#include <wx/app.h>
#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/spinctrl.h>
#include <wx/textctrl.h>
#include <wx/timer.h>

#include <algorithm>
#include <string>
#include <vector>

#include "../delivery/delivery_test_support.h"
#include "dialogs/folder_dialog.h"
#include "dialogs/motion_trigger_dialog.h"
#include "events_context.h"

namespace qmr {
namespace {

using testing::EventsContext;
using testing::Exists;
using testing::ReadWhole;
using testing::TempFolder;
using testing::WriteWhole;

template <typename T>
T* Control(wxWindow* dialog, const char* name) {
  auto* found = dynamic_cast<T*>(wxWindow::FindWindowByName(name, dialog));
  EXPECT_NE(found, nullptr) << name;
  return found;
}

// "KEY=value;..." of one section of the file as it is on disk now.
std::string SectionOnDisk(const std::string& path, const std::string& section) {
  IniFile ini;
  ini.Load(path);
  std::string text;
  for (const auto& key : ini.GetKeys(section)) {
    std::string value;
    ini.GetString(section, key, "", value);
    text += key + "=" + value + ";";
  }
  return text;
}

void Click(wxDialog& dialog, int id) {
  wxCommandEvent event(wxEVT_BUTTON, id);
  event.SetEventObject(dialog.FindWindow(id));
  dialog.ProcessWindowEvent(event);
}

// Runs the dialog modally and presses OK from inside its event loop.
int ShowAndConfirm(wxDialog& dialog, int okId) {
  dialog.CallAfter([&dialog, okId] { Click(dialog, okId); });
  return dialog.ShowModal();
}

class DialogsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ini_ = folder_.File("qmr.ini");
    WriteWhole(ini_, kInitial);
    ASSERT_TRUE(context_.SettingsFile().Load(ini_));
    context_.Settings().Update([&](Settings& s) {
      s.aviDir = "/old/avi";
      s.picDir = "/old/pic";
      s.sndFile = "/old/alarm.wav";
      s.sndRepeat = true;
      s.exeFile = "";
      s.exeOnce = true;
      s.exeParam = "-x";
      s.savAvi = true;
      s.savPic = false;
      s.duration = 10;
    });
    context_.Alarm().SetSoundFile("/old/alarm.wav");
  }

  static constexpr const char* kInitial =
      "[FOLDER]\nAVIDIR=/old/avi\nPICDIR=/old/pic\n[MOTION]\nSAVAVI=1\n";
  TempFolder folder_;
  EventsContext context_;
  std::string ini_;
};

TEST_F(DialogsTest, FolderDialogWritesOnlyWhatChanged) {
  {
    FolderFileDialog dialog(nullptr, context_);
    EXPECT_EQ(dialog.GetTitle(), "Folder and file settings");
    EXPECT_EQ(Control<wxTextCtrl>(&dialog, "AVIDIR")->GetValue(), "/old/avi");
    EXPECT_EQ(Control<wxTextCtrl>(&dialog, "EXEPARAM")->GetValue(), "-x");
    for (int id : {7100, 7101, 7102, 7103, 7104, 7105, 5100, 5101}) {
      EXPECT_NE(dialog.FindWindow(id), nullptr) << id;
    }
    EXPECT_EQ(ShowAndConfirm(dialog, FolderFileDialog::kIdOk), wxID_OK);
  }
  EXPECT_EQ(ReadWhole(ini_), kInitial);
  EXPECT_FALSE(Exists(ini_ + ".bak"));

  const std::string script = folder_.File("test program.sh");
  WriteWhole(script, "#!/bin/sh\ntouch \"$(dirname \"$0\")/tested\"\n");
  chmod(script.c_str(), 0755);
  {
    FolderFileDialog dialog(nullptr, context_);
    Control<wxTextCtrl>(&dialog, "AVIDIR")->SetValue("  /new/avi  ");
    Control<wxTextCtrl>(&dialog, "PICDIR")->SetValue("/old/pic ");  // same once trimmed
    Control<wxTextCtrl>(&dialog, "SNDFILE")->SetValue(" /new/chime.wav");
    Control<wxTextCtrl>(&dialog, "EXEFILE")->SetValue(script);
    Control<wxTextCtrl>(&dialog, "EXEPARAM")->SetValue("");
    Control<wxCheckBox>(&dialog, "EXEONCE")->SetValue(false);

    // Play: the field's trimmed text at once, looping as ticked; nothing
    // for an empty field.
    Click(dialog, FolderFileDialog::kIdPlay);
    EXPECT_EQ(context_.player->plays, 1);
    EXPECT_EQ(context_.player->lastPath, "/new/chime.wav");
    EXPECT_TRUE(context_.player->lastLoop);
    Control<wxTextCtrl>(&dialog, "SNDFILE")->SetValue("  ");
    Click(dialog, FolderFileDialog::kIdPlay);
    EXPECT_EQ(context_.player->plays, 1);
    Control<wxTextCtrl>(&dialog, "SNDFILE")->SetValue(" /new/chime.wav");

    // Test starts the program without its parameters.
    Click(dialog, FolderFileDialog::kIdTest);
    EXPECT_TRUE(testing::WaitUntil([&] { return Exists(folder_.File("tested")); }, 5000));

    EXPECT_EQ(ShowAndConfirm(dialog, FolderFileDialog::kIdOk), wxID_OK);
  }
  EXPECT_EQ(SectionOnDisk(ini_, "FOLDER"),
            "AVIDIR=/new/avi;PICDIR=/old/pic;SNDFILE=/new/chime.wav;EXEFILE=" + script +
                ";EXEONCE=0;EXEPARAM=;");
  EXPECT_EQ(SectionOnDisk(ini_, "MOTION"), "SAVAVI=1;");
  const Settings s = context_.Settings().Get();
  EXPECT_EQ(s.aviDir, "/new/avi");
  EXPECT_EQ(s.sndFile, "/new/chime.wav");
  EXPECT_FALSE(s.exeOnce);
  EXPECT_EQ(s.exeParam, "");
  EXPECT_TRUE(s.sndRepeat);
  EXPECT_EQ(context_.Alarm().SoundFile(), "/new/chime.wav");

  // Cancel changes nothing.
  const std::string before = ReadWhole(ini_);
  {
    FolderFileDialog dialog(nullptr, context_);
    Control<wxTextCtrl>(&dialog, "AVIDIR")->SetValue("/elsewhere");
    dialog.CallAfter([&] { Click(dialog, FolderFileDialog::kIdCancel); });
    EXPECT_EQ(dialog.ShowModal(), wxID_CANCEL);
  }
  EXPECT_EQ(ReadWhole(ini_), before);
  EXPECT_EQ(context_.Settings().Get().aviDir, "/new/avi");
}

// The controls follow the window's order, which is the tab order: Play
// before "Play repeatly", Test before "Parameters:". The storage limits go to
// their own section; a value that is no number keeps the old one.
TEST_F(DialogsTest, FolderDialogTabOrderAndStorageLimits) {
  {
    FolderFileDialog dialog(nullptr, context_);
    std::vector<wxWindow*> order(dialog.GetChildren().begin(), dialog.GetChildren().end());
    auto at = [&](wxWindow* w) { return std::find(order.begin(), order.end(), w) - order.begin(); };
    EXPECT_LT(at(dialog.FindWindow(FolderFileDialog::kIdPlay)),
              at(Control<wxCheckBox>(&dialog, "SNDREPEAT")));
    EXPECT_LT(at(Control<wxTextCtrl>(&dialog, "SNDFILE")),
              at(dialog.FindWindow(FolderFileDialog::kIdPlay)));
    EXPECT_LT(at(Control<wxTextCtrl>(&dialog, "EXEFILE")),
              at(dialog.FindWindow(FolderFileDialog::kIdTest)));
    EXPECT_LT(at(dialog.FindWindow(FolderFileDialog::kIdTest)),
              at(Control<wxTextCtrl>(&dialog, "EXEPARAM")));
    EXPECT_EQ(Control<wxTextCtrl>(&dialog, "MAXGB")->GetValue(), "0");
    EXPECT_EQ(Control<wxTextCtrl>(&dialog, "MINFREEMB")->GetValue(), "500");
    Control<wxTextCtrl>(&dialog, "MAXGB")->SetValue(" 0.5 ");
    Control<wxTextCtrl>(&dialog, "MINFREEMB")->SetValue("lots");
    EXPECT_EQ(ShowAndConfirm(dialog, FolderFileDialog::kIdOk), wxID_OK);
  }
  EXPECT_EQ(SectionOnDisk(ini_, "STORAGE"), "MAXGB=0.5;");
  EXPECT_EQ(context_.Settings().Get().maxGb, 0.5);
  EXPECT_EQ(context_.Settings().Get().minFreeMb, 500);
}

TEST_F(DialogsTest, MotionTriggerDialogWritesOnlyWhatChanged) {
  {
    MotionTriggerDialog dialog(nullptr, context_);
    EXPECT_EQ(dialog.GetTitle(), "Motion triggered events");
    EXPECT_EQ(Control<wxCheckBox>(&dialog, "SAVAVI")->GetLabel(),
              "Start recording and save to AVI file");
    EXPECT_EQ(Control<wxCheckBox>(&dialog, "MAILPIC")->GetLabel(),
              "When motion stopped, Email the zipped JPG files");
    EXPECT_TRUE(Control<wxCheckBox>(&dialog, "SAVAVI")->GetValue());
    EXPECT_EQ(Control<wxSpinCtrl>(&dialog, "DURATION")->GetValue(), 10);
    EXPECT_EQ(Control<wxSpinCtrl>(&dialog, "DURATION")->GetMax(), 100);
    EXPECT_EQ(ShowAndConfirm(dialog, MotionTriggerDialog::kIdOk), wxID_OK);
  }
  EXPECT_EQ(ReadWhole(ini_), kInitial);

  {
    MotionTriggerDialog dialog(nullptr, context_);
    Control<wxCheckBox>(&dialog, "SAVAVI")->SetValue(false);
    Control<wxCheckBox>(&dialog, "MAILPIC")->SetValue(true);
    Control<wxSpinCtrl>(&dialog, "DURATION")->SetValue(42);
    EXPECT_EQ(ShowAndConfirm(dialog, MotionTriggerDialog::kIdOk), wxID_OK);
  }
  EXPECT_EQ(SectionOnDisk(ini_, "FOLDER"), "AVIDIR=/old/avi;PICDIR=/old/pic;");
  EXPECT_EQ(SectionOnDisk(ini_, "MOTION"), "SAVAVI=0;MAILPIC=1;DURATION=42;");
  const Settings s = context_.Settings().Get();
  EXPECT_FALSE(s.savAvi);
  EXPECT_TRUE(s.mailPic);
  EXPECT_EQ(s.duration, 42);
  EXPECT_TRUE(s.alarm);  // untouched

  // The light-change guard, off in a file from before it existed.
  {
    MotionTriggerDialog dialog(nullptr, context_);
    EXPECT_EQ(Control<wxSpinCtrl>(&dialog, "LIGHTSWITCH")->GetValue(), 0);
    Control<wxSpinCtrl>(&dialog, "LIGHTSWITCH")->SetValue(60);
    EXPECT_EQ(ShowAndConfirm(dialog, MotionTriggerDialog::kIdOk), wxID_OK);
  }
  EXPECT_NE(SectionOnDisk(ini_, "MOTION").find("LIGHTSWITCH=60;"), std::string::npos);
  EXPECT_EQ(context_.Settings().Get().lightSwitch, 60);

  // The pre-event seconds: 0 to 10, 2 when the file has none.
  {
    MotionTriggerDialog dialog(nullptr, context_);
    auto* pre = Control<wxSpinCtrl>(&dialog, "PRECAPTURE");
    EXPECT_EQ(pre->GetValue(), 2);
    EXPECT_EQ(pre->GetMax(), 10);
    pre->SetValue(5);
    EXPECT_EQ(ShowAndConfirm(dialog, MotionTriggerDialog::kIdOk), wxID_OK);
  }
  EXPECT_EQ(context_.Settings().Get().preCapture, 5);
  EXPECT_NE(SectionOnDisk(ini_, "MOTION").find("PRECAPTURE=5;"), std::string::npos);

  // The browse buttons open the folder and file dialog over this one.
  {
    MotionTriggerDialog dialog(nullptr, context_);
    bool opened = false;
    dialog.CallAfter([&] {
      Click(dialog, MotionTriggerDialog::kIdBrowseSound);  // runs the inner dialog modally
      Click(dialog, MotionTriggerDialog::kIdCancel);
    });
    // The inner dialog is the newest top-level window while it runs; close it
    // from a timer inside its loop.
    wxTimer timer;
    timer.Bind(wxEVT_TIMER, [&](wxTimerEvent&) {
      for (wxWindow* w : wxTopLevelWindows) {
        if (auto* inner = dynamic_cast<FolderFileDialog*>(w); inner && inner->IsModal()) {
          opened = true;
          Click(*inner, FolderFileDialog::kIdCancel);
        }
      }
    });
    timer.Start(50);
    EXPECT_EQ(dialog.ShowModal(), wxID_CANCEL);
    timer.Stop();
    EXPECT_TRUE(opened);
  }
}

}  // namespace
}  // namespace qmr
