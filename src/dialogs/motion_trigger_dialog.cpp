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

#include "app/app_context.h"
#include "config/ini_file.h"
#include "config/settings.h"
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

  auto* durationRow = new wxBoxSizer(wxHORIZONTAL);
  durationRow->Add(new wxStaticText(this, wxID_ANY,
                                    "The shortest duration time(seconds) for every AVI recording:"),
                   0, wxALIGN_CENTER_VERTICAL | wxRIGHT, 6);
  duration_ = new wxSpinCtrl(this, wxID_ANY, wxEmptyString, wxDefaultPosition, wxDefaultSize,
                             wxSP_ARROW_KEYS, 0, 100, 0, "DURATION");
  duration_->SetValue(std::clamp(s.duration, 0, 100));
  durationRow->Add(duration_);
  top->Add(durationRow, 0, wxLEFT | wxRIGHT | wxBOTTOM, 8);

  auto* buttons = new wxBoxSizer(wxHORIZONTAL);
  buttons->AddStretchSpacer();
  auto* ok = new wxButton(this, kIdOk, "OK");
  ok->SetDefault();
  buttons->Add(ok, 0, wxRIGHT, 8);
  buttons->Add(new wxButton(this, kIdCancel, "Cancel"));
  top->Add(buttons, 0, wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM, 8);

  SetAffirmativeId(kIdOk);
  SetEscapeId(kIdCancel);
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
  Settings s = context_.Settings().Get();
  IniFile& ini = context_.SettingsFile();
  int written = 0;
  for (int i = 0; i < kFlagCount; ++i) {
    const bool now = flags_[i]->GetValue();
    bool& value = s.*kFlags[i].field;
    if (now == value) continue;
    value = now;
    ini.SetInt(keys::kMotion, kFlags[i].key, now ? 1 : 0);
    ++written;
  }
  const int duration = duration_->GetValue();
  if (duration != s.duration) {
    s.duration = duration;
    ini.SetInt(keys::kMotion, "DURATION", duration);
    ++written;
  }
  if (written > 0) {
    // Only this dialog's keys are taken over: the folder dialog may have
    // changed others while this one was open.
    context_.Settings().Update([&](Settings& current) {
      for (const FlagInfo& f : kFlags) current.*f.field = s.*f.field;
      current.duration = s.duration;
    });
  }
  ini.Save();
  return written;
}

void MotionTriggerDialog::OnOk(wxCommandEvent&) {
  Apply();
  if (IsModal()) {
    EndModal(wxID_OK);
  } else {
    Hide();
  }
}

void MotionTriggerDialog::OnCancel(wxCommandEvent&) {
  if (IsModal()) {
    EndModal(wxID_CANCEL);
  } else {
    Hide();
  }
}

}  // namespace qmr
