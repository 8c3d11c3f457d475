// The record schedule dialog: what it shows, what OK stores in the entry and
// in the camera's section (read back by the settings loader), and the
// refusal of a stop time before the start time.
#include "dialogs/schedule_dialog.h"

#include <wx/checkbox.h>
#include <wx/timectrl.h>

#include <string>

#include "dialog_test_support.h"

namespace qmr {
namespace {

using testing::Click;
using testing::Control;
using testing::DialogContext;
using testing::FileValue;
using testing::ReadWhole;
using testing::TempFolder;
using testing::WriteWhole;

constexpr const char* kCamera = "Pattern   NO.1";

class ScheduleDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ini_ = folder_.File("qmr.ini");
    WriteWhole(ini_, "[FOLDER]\nAVIDIR=/tmp\n");
    ASSERT_TRUE(context_.SettingsFile().Load(ini_));
    entry_.name = kCamera;
    CameraSchedule schedule;
    schedule.days = {false, true, true, true, true, true, false};
    schedule.startHour = 8;
    schedule.startMinute = 30;
    schedule.stopHour = 17;
    schedule.stopMinute = 15;
    schedule.stopSecond = 30;
    schedule.recordVideo = true;
    entry_.SetSchedule(schedule);
  }

  // The dialog with its refusals collected instead of shown.
  std::unique_ptr<ScheduleDialog> Open() {
    auto dialog = std::make_unique<ScheduleDialog>(nullptr, context_, entry_);
    dialog->SetMessageHook([this](const std::string& text) { refusals_.push_back(text); });
    return dialog;
  }

  static void SetTime(wxDialog& dialog, const char* picker, int h, int m, int s) {
    Control<wxTimePickerCtrl>(&dialog, picker)->SetTime(h, m, s);
  }

  TempFolder folder_;
  DialogContext context_{folder_.File("no-peers")};
  CameraEntry entry_;
  std::string ini_;
  std::vector<std::string> refusals_;
};

TEST_F(ScheduleDialogTest, ShowsTheEntrysSchedule) {
  auto dialog = Open();
  EXPECT_EQ(dialog->GetTitle(), wxString("Schedule for ") + kCamera);
  EXPECT_FALSE(Control<wxCheckBox>(dialog.get(), "Sunday")->GetValue());
  EXPECT_TRUE(Control<wxCheckBox>(dialog.get(), "Monday")->GetValue());
  EXPECT_TRUE(Control<wxCheckBox>(dialog.get(), "Friday")->GetValue());
  EXPECT_FALSE(Control<wxCheckBox>(dialog.get(), "Saturday")->GetValue());
  EXPECT_FALSE(Control<wxCheckBox>(dialog.get(), "DETECT")->GetValue());
  int h = -1, m = -1, s = -1;
  ASSERT_TRUE(Control<wxTimePickerCtrl>(dialog.get(), "START_TIME")->GetTime(&h, &m, &s));
  EXPECT_EQ(h * 10000 + m * 100 + s, 83000);
  ASSERT_TRUE(Control<wxTimePickerCtrl>(dialog.get(), "STOP_TIME")->GetTime(&h, &m, &s));
  EXPECT_EQ(h * 10000 + m * 100 + s, 171530);
  for (int id : {ScheduleDialog::kIdTrigger, ScheduleDialog::kIdOk, ScheduleDialog::kIdCancel}) {
    EXPECT_NE(dialog->FindWindow(id), nullptr) << id;
  }
}

// 22:00 to 06:00 is refused with the message and nothing is stored, so
// Cancel afterwards leaves entry and file as they were; equal times pass.
TEST_F(ScheduleDialogTest, RefusesStopBeforeStartAndAcceptsEqualTimes) {
  const std::string before = ReadWhole(ini_);
  {
    auto dialog = Open();
    Control<wxCheckBox>(dialog.get(), "Sunday")->SetValue(true);
    SetTime(*dialog, "START_TIME", 22, 0, 0);
    SetTime(*dialog, "STOP_TIME", 6, 0, 0);
    dialog->SetReturnCode(0);
    Click(*dialog, ScheduleDialog::kIdOk);
    ASSERT_EQ(refusals_.size(), 1u);
    EXPECT_EQ(refusals_[0], "The time to stop must after the time to start!");
    EXPECT_NE(dialog->GetReturnCode(), wxID_OK);
    Click(*dialog, ScheduleDialog::kIdCancel);
    EXPECT_EQ(dialog->GetReturnCode(), wxID_CANCEL);
  }
  EXPECT_FALSE(entry_.GetSchedule().days[0]);
  EXPECT_EQ(entry_.GetSchedule().startHour, 8);
  EXPECT_FALSE(context_.SettingsFile().Modified());
  EXPECT_EQ(ReadWhole(ini_), before);

  auto dialog = Open();
  SetTime(*dialog, "START_TIME", 22, 0, 0);
  SetTime(*dialog, "STOP_TIME", 22, 0, 0);
  Click(*dialog, ScheduleDialog::kIdOk);
  EXPECT_TRUE(refusals_.size() == 1u);
  EXPECT_EQ(dialog->GetReturnCode(), wxID_OK);
  EXPECT_EQ(FileValue(ini_, kCamera, "SCHEDULE_TIME"), "22:00:00,22:00:00");
  EXPECT_EQ(FileValue(ini_, kCamera, "SCHEDULE_DAYS"), "0,1,1,1,1,1,0");
  EXPECT_EQ(FileValue(ini_, kCamera, "SCHEDULE_DETECT"), "0");
  const CameraSchedule stored = entry_.GetSchedule();
  EXPECT_EQ(stored.startHour, 22);
  EXPECT_EQ(stored.stopHour, 22);
  EXPECT_EQ(stored.stopMinute, 0);
  EXPECT_TRUE(stored.recordVideo);
}

// No day and detect only; what is written reads back through the loader
// into the same schedule.
TEST_F(ScheduleDialogTest, NoDaysAndDetectOnlyRoundTrip) {
  auto dialog = Open();
  for (const char* day : {"Monday", "Tuesday", "Wednesday", "Thursday", "Friday"}) {
    Control<wxCheckBox>(dialog.get(), day)->SetValue(false);
  }
  Control<wxCheckBox>(dialog.get(), "DETECT")->SetValue(true);
  SetTime(*dialog, "START_TIME", 7, 5, 9);
  Click(*dialog, ScheduleDialog::kIdOk);
  EXPECT_EQ(dialog->GetReturnCode(), wxID_OK);
  EXPECT_EQ(FileValue(ini_, kCamera, "SCHEDULE_DAYS"), "0,0,0,0,0,0,0");
  EXPECT_EQ(FileValue(ini_, kCamera, "SCHEDULE_TIME"), "07:05:09,17:15:30");
  EXPECT_EQ(FileValue(ini_, kCamera, "SCHEDULE_DETECT"), "1");
  EXPECT_FALSE(entry_.GetSchedule().recordVideo);

  IniFile reread;
  ASSERT_TRUE(reread.Load(ini_));
  CameraEntry loaded;
  loaded.name = kCamera;
  CameraSchedule seed;
  seed.days.fill(true);
  loaded.SetSchedule(seed);
  LoadCameraSchedule(reread, loaded);
  const CameraSchedule a = loaded.GetSchedule(), b = entry_.GetSchedule();
  EXPECT_EQ(a.days, b.days);
  EXPECT_EQ(std::tie(a.startHour, a.startMinute, a.startSecond, a.stopHour, a.stopMinute,
                     a.stopSecond, a.recordVideo),
            std::tie(b.startHour, b.startMinute, b.startSecond, b.stopHour, b.stopMinute,
                     b.stopSecond, b.recordVideo));
}

// A hand-edited file may hold times no clock shows; the dialog opens on the
// nearest real time and OK stores a valid one.
TEST_F(ScheduleDialogTest, ImpossibleStoredTimesAreShownClamped) {
  CameraSchedule odd = entry_.GetSchedule();
  odd.startHour = 99;
  odd.startMinute = 99;
  odd.startSecond = -1;
  odd.stopHour = 99;
  odd.stopMinute = 99;
  odd.stopSecond = 99;
  entry_.SetSchedule(odd);
  auto dialog = Open();
  Click(*dialog, ScheduleDialog::kIdOk);
  EXPECT_EQ(dialog->GetReturnCode(), wxID_OK);
  EXPECT_EQ(FileValue(ini_, kCamera, "SCHEDULE_TIME"), "23:59:00,23:59:59");
}

}  // namespace
}  // namespace qmr
