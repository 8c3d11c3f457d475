#include "dialogs/schedule_dialog.h"

#include <wx/bmpbuttn.h>
#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/msgdlg.h>
#include <wx/sizer.h>
#include <wx/statbmp.h>
#include <wx/statbox.h>
#include <wx/stattext.h>
#include <wx/timectrl.h>

#include <algorithm>
#include <cstdio>

#include "base/app_context.h"
#include "app/resource_images.h"
#include "capture/camera_entry.h"
#include "config/ini_file.h"
#include "dialogs/dialog_support.h"
#include "dialogs/motion_trigger_dialog.h"

namespace qmr {

namespace {

constexpr const char* kDayNames[7] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                      "Thursday", "Friday", "Saturday"};

// The file may hold any two-digit numbers; the picker accepts only a real
// time of day.
void SetPicker(wxTimePickerCtrl* picker, int hour, int minute, int second) {
  picker->SetTime(std::clamp(hour, 0, 23), std::clamp(minute, 0, 59), std::clamp(second, 0, 59));
}

wxTimePickerCtrl* MakePicker(wxWindow* parent, const char* name) {
  return new wxTimePickerCtrl(parent, wxID_ANY, wxDefaultDateTime, wxDefaultPosition, wxDefaultSize,
                              wxTP_DEFAULT, wxDefaultValidator, name);
}

}  // namespace

ScheduleDialog::ScheduleDialog(wxWindow* parent, AppContext& context, CameraEntry& entry)
    : wxDialog(parent, wxID_ANY, wxString("Schedule for ") + wxString::FromUTF8(entry.name)),
      context_(context),
      entry_(entry) {
  const CameraSchedule schedule = entry_.GetSchedule();
  auto* top = new wxBoxSizer(wxVERTICAL);

  top->Add(
      new wxStaticBitmap(this, wxID_ANY, LoadToolBitmap("tool_schedule", GetBackgroundColour())), 0,
      wxALL, 8);

  auto* startBox = new wxStaticBoxSizer(wxVERTICAL, this, "Start video recording on");
  auto* dayGrid = new wxGridSizer(4, 4, 6);
  for (int i = 0; i < 7; ++i) {
    days_[i] = new wxCheckBox(startBox->GetStaticBox(), wxID_ANY, kDayNames[i], wxDefaultPosition,
                              wxDefaultSize, 0, wxDefaultValidator, kDayNames[i]);
    days_[i]->SetValue(schedule.days[i]);
    dayGrid->Add(days_[i]);
  }
  startBox->Add(dayGrid, 0, wxALL, 4);
  auto* startRow = new wxBoxSizer(wxHORIZONTAL);
  startRow->Add(new wxStaticText(startBox->GetStaticBox(), wxID_ANY, "time: "), 0,
                wxALIGN_CENTER_VERTICAL);
  start_ = MakePicker(startBox->GetStaticBox(), "START_TIME");
  SetPicker(start_, schedule.startHour, schedule.startMinute, schedule.startSecond);
  startRow->Add(start_);
  startBox->Add(startRow, 0, wxALL, 4);
  top->Add(startBox, 0, wxEXPAND | wxLEFT | wxRIGHT, 8);

  auto* detectRow = new wxBoxSizer(wxHORIZONTAL);
  detect_ = new wxCheckBox(this, wxID_ANY,
                           "Do not record immediately, just detect motion and trigger events",
                           wxDefaultPosition, wxDefaultSize, 0, wxDefaultValidator, "DETECT");
  detect_->SetValue(!schedule.recordVideo);
  detectRow->Add(detect_, 1, wxALIGN_CENTER_VERTICAL);
  detectRow->Add(new wxBitmapButton(this, kIdTrigger, LoadResourceBitmap("menu_trigger")), 0,
                 wxLEFT, 6);
  top->Add(detectRow, 0, wxEXPAND | wxALL, 8);

  auto* stopBox = new wxStaticBoxSizer(wxVERTICAL, this, "Stop video recording on");
  auto* stopRow = new wxBoxSizer(wxHORIZONTAL);
  stopRow->Add(new wxStaticText(stopBox->GetStaticBox(), wxID_ANY, "time: "), 0,
               wxALIGN_CENTER_VERTICAL);
  stop_ = MakePicker(stopBox->GetStaticBox(), "STOP_TIME");
  SetPicker(stop_, schedule.stopHour, schedule.stopMinute, schedule.stopSecond);
  stopRow->Add(stop_);
  stopBox->Add(stopRow, 0, wxALL, 4);
  top->Add(stopBox, 0, wxEXPAND | wxLEFT | wxRIGHT, 8);

  AddOkCancelRow(this, top, kIdOk, kIdCancel, wxALL);
  SetSizerAndFit(top);
  CentreOnParent();

  messageHook_ = [this](const std::string& text) {
    wxMessageBox(wxString::FromUTF8(text), GetTitle(), wxOK | wxICON_WARNING, this);
  };

  Bind(wxEVT_BUTTON, &ScheduleDialog::OnTrigger, this, kIdTrigger);
  Bind(wxEVT_BUTTON, &ScheduleDialog::OnOk, this, kIdOk);
  Bind(wxEVT_BUTTON, &ScheduleDialog::OnCancel, this, kIdCancel);
}

bool ScheduleDialog::Apply() {
  CameraSchedule schedule = entry_.GetSchedule();

  // The times are checked before anything is stored, so that a refusal
  // followed by Cancel leaves the entry and the file as they were.
  int startH = 0, startM = 0, startS = 0, stopH = 0, stopM = 0, stopS = 0;
  const bool timesValid =
      start_->GetTime(&startH, &startM, &startS) && stop_->GetTime(&stopH, &stopM, &stopS);
  if (timesValid) {
    // Both pickers hold the same date, so their times of day decide.
    const int startSeconds = (startH * 60 + startM) * 60 + startS;
    const int stopSeconds = (stopH * 60 + stopM) * 60 + stopS;
    if (stopSeconds < startSeconds) {
      if (messageHook_) messageHook_(kStopBeforeStart);
      return false;
    }
  }

  IniFile& ini = context_.SettingsFile();
  const std::string& section = entry_.name;

  std::string daysText;
  for (int i = 0; i < 7; ++i) {
    schedule.days[i] = days_[i]->GetValue();
    if (i > 0) daysText += ',';
    daysText += schedule.days[i] ? '1' : '0';
  }
  ini.SetString(section, "SCHEDULE_DAYS", daysText);

  if (timesValid) {
    schedule.startHour = startH;
    schedule.startMinute = startM;
    schedule.startSecond = startS;
    schedule.stopHour = stopH;
    schedule.stopMinute = stopM;
    schedule.stopSecond = stopS;
    char timeText[64];
    std::snprintf(timeText, sizeof(timeText), "%02d:%02d:%02d,%02d:%02d:%02d", startH, startM,
                  startS, stopH, stopM, stopS);
    ini.SetString(section, "SCHEDULE_TIME", timeText);
  }

  const bool detectOnly = detect_->GetValue();
  schedule.recordVideo = !detectOnly;
  ini.SetInt(section, "SCHEDULE_DETECT", detectOnly ? 1 : 0);

  entry_.SetSchedule(schedule);
  ini.Save();
  return true;
}

void ScheduleDialog::OnTrigger(wxCommandEvent&) {
  MotionTriggerDialog dialog(this, context_);
  dialog.ShowModal();
}

void ScheduleDialog::OnOk(wxCommandEvent&) {
  if (Apply()) FinishDialog(this, wxID_OK);
}

void ScheduleDialog::OnCancel(wxCommandEvent&) { FinishDialog(this, wxID_CANCEL); }

}  // namespace qmr
