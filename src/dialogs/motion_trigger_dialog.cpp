#include "dialogs/motion_trigger_dialog.h"

#include <wx/artprov.h>
#include <wx/bmpbuttn.h>
#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/sizer.h>
#include <wx/spinctrl.h>
#include <wx/statbox.h>
#include <wx/stattext.h>

#include <algorithm>

#include "base/app_context.h"
#include "config/ini_file.h"
#include "config/settings.h"
#include "dialogs/dialog_support.h"
#include "dialogs/folder_dialog.h"

namespace qmr {

namespace {

struct FlagInfo {
  const char* key;
  const char* label;
  bool Settings::*field;
};

// Indexed by MotionTriggerDialog::Flag, i.e. in the order OK writes them.
constexpr FlagInfo kFlags[] = {
    {"SAVAVI", "Start recording and save to AVI file", &Settings::savAvi},
    {"SAVPIC", "Take a picture and save to JPG file", &Settings::savPic},
    {"FTPAVI", "When motion stopped, FTP the zipped AVI file", &Settings::ftpAvi},
    {"FTPPIC", "When motion stopped, FTP the zipped JPG files", &Settings::ftpPic},
    {"MAILAVI", "When motion stopped, Email the zipped AVI file", &Settings::mailAvi},
    {"MAILPIC", "When motion stopped, Email the zipped JPG files", &Settings::mailPic},
    {"ALARM", "Alarm the specified sound file", &Settings::alarm},
    {"EXEC", "Execute the specified program file", &Settings::exec},
    {"HISPEED", "Switch to high speed video capture mode", &Settings::hiSpeed},
};

}  // namespace

MotionTriggerDialog::MotionTriggerDialog(wxWindow* parent, AppContext& context)
    : wxDialog(parent, wxID_ANY, "Motion triggered events"), context_(context) {
  const Settings s = context_.Settings().Get();
  for (int i = 0; i < kFlagCount; ++i) {
    flags_[i] = new wxCheckBox(this, wxID_ANY, kFlags[i].label, wxDefaultPosition, wxDefaultSize, 0,
                               wxDefaultValidator, kFlags[i].key);
    flags_[i]->SetValue(s.*kFlags[i].field);
  }
  auto* top = new wxBoxSizer(wxVERTICAL);

  // The five actions during motion, two of them with a button to the folder
  // and file settings where the sound and the program are chosen.
  auto* during = new wxStaticBoxSizer(wxVERTICAL, this, "When motion is detected, do:");
  auto addWithBrowse = [this, during](wxCheckBox* box, int id) {
    auto* row = new wxBoxSizer(wxHORIZONTAL);
    row->Add(box, 1, wxALIGN_CENTER_VERTICAL);
    row->Add(
        new wxBitmapButton(this, id, wxArtProvider::GetBitmap(wxART_FOLDER_OPEN, wxART_BUTTON)));
    during->Add(row, 0, wxEXPAND | wxALL, 3);
  };
  during->Add(flags_[kSavAvi], 0, wxALL, 3);
  during->Add(flags_[kSavPic], 0, wxALL, 3);
  addWithBrowse(flags_[kAlarm], kIdBrowseSound);
  addWithBrowse(flags_[kExec], kIdBrowseProgram);
  during->Add(flags_[kHiSpeed], 0, wxALL, 3);
  top->Add(during, 0, wxEXPAND | wxALL, 8);

  for (Flag f : {kFtpAvi, kFtpPic, kMailAvi, kMailPic}) {
    top->Add(flags_[f], 0, wxLEFT | wxRIGHT | wxBOTTOM, 8);
  }

  // A labelled number field on a row of its own, named by its key.
  auto addSpinRow = [&](const char* label, const char* key, int low, int high, int value) {
    auto* row = new wxBoxSizer(wxHORIZONTAL);
    row->Add(new wxStaticText(this, wxID_ANY, label), 0, wxALIGN_CENTER_VERTICAL | wxRIGHT, 6);
    auto* spin = new wxSpinCtrl(this, wxID_ANY, wxEmptyString, wxDefaultPosition, wxDefaultSize,
                                wxSP_ARROW_KEYS, low, high, low, key);
    spin->SetValue(std::clamp(value, low, high));
    row->Add(spin);
    top->Add(row, 0, wxLEFT | wxRIGHT | wxBOTTOM, 8);
    return spin;
  };
  duration_ = addSpinRow("The shortest duration time(seconds) for every AVI recording:",
                         "DURATION", 0, 100, s.duration);
  // Light-change guard.
  lightSwitch_ = addSpinRow("Ignore a light change over this % of the watched picture (0 = off):",
                            "LIGHTSWITCH", 0, 100, s.lightSwitch);
  // The pre-event buffer: seconds before the motion at the start of every
  // motion recording.
  preCapture_ = addSpinRow("Seconds before the motion kept in every AVI recording (0 to 10):",
                           "PRECAPTURE", 0, 10, s.preCapture);

  AddOkCancelRow(this, top, kIdOk, kIdCancel, wxLEFT | wxRIGHT | wxBOTTOM);
  SetSizerAndFit(top);
  CentreOnParent();

  Bind(wxEVT_BUTTON, &MotionTriggerDialog::OnBrowse, this, kIdBrowseSound);
  Bind(wxEVT_BUTTON, &MotionTriggerDialog::OnBrowse, this, kIdBrowseProgram);
  Bind(wxEVT_BUTTON, &MotionTriggerDialog::OnOk, this, kIdOk);
  Bind(wxEVT_BUTTON, &MotionTriggerDialog::OnCancel, this, kIdCancel);
}

void MotionTriggerDialog::OnBrowse(wxCommandEvent&) {
  FolderFileDialog dialog(this, context_);
  dialog.ShowModal();
}

int MotionTriggerDialog::Apply() {
  // Only this dialog's keys are taken over: the folder dialog may have
  // changed others while this one was open.
  SettingsWriter writer(context_, keys::kMotion);
  for (int i = 0; i < kFlagCount; ++i) {
    writer.Put(kFlags[i].key, kFlags[i].field, flags_[i]->GetValue());
  }
  writer.Put("DURATION", &Settings::duration, duration_->GetValue());
  writer.Put("LIGHTSWITCH", &Settings::lightSwitch, lightSwitch_->GetValue());
  writer.Put("PRECAPTURE", &Settings::preCapture, preCapture_->GetValue());
  return writer.Commit();
}

void MotionTriggerDialog::OnOk(wxCommandEvent&) {
  Apply();
  FinishDialog(this, wxID_OK);
}

void MotionTriggerDialog::OnCancel(wxCommandEvent&) { FinishDialog(this, wxID_CANCEL); }

}  // namespace qmr
