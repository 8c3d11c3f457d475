#include "dialogs/folder_dialog.h"

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/dirdlg.h>
#include <wx/filedlg.h>
#include <wx/sizer.h>
#include <wx/statbox.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include "app/app_context.h"
#include "app/process.h"
#include "config/ini_file.h"
#include "config/settings.h"
#include "motion/alarm_sound.h"
#include "platform/program_launcher.h"

namespace qmr {

namespace {

std::string Text(const wxTextCtrl* field) { return TrimSpaces(field->GetValue().utf8_string()); }

wxString FromUtf8(const std::string& text) { return wxString::FromUTF8(text.c_str()); }

}  // namespace

FolderFileDialog::FolderFileDialog(wxWindow* parent, AppContext& context)
    : wxDialog(parent, wxID_ANY, "Folder and file settings", wxDefaultPosition, wxDefaultSize,
               wxDEFAULT_DIALOG_STYLE | wxRESIZE_BORDER),
      context_(context) {
  const Settings s = context_.Settings().Get();
  auto* top = new wxBoxSizer(wxVERTICAL);

  // A text field with its browse button on one grid row.
  auto addRow = [this](wxFlexGridSizer* grid, const wxString& label, const char* name,
                       const std::string& value, int browseId) {
    grid->Add(new wxStaticText(this, wxID_ANY, label), 0, wxALIGN_CENTER_VERTICAL);
    auto* field = new wxTextCtrl(this, wxID_ANY, FromUtf8(value), wxDefaultPosition,
                                 wxSize(320, -1), 0, wxDefaultValidator, name);
    grid->Add(field, 1, wxEXPAND);
    if (browseId != 0) {
      grid->Add(
          new wxButton(this, browseId, "...", wxDefaultPosition, wxDefaultSize, wxBU_EXACTFIT));
    } else {
      grid->AddSpacer(0);
    }
    return field;
  };

  auto* folders = new wxStaticBoxSizer(wxVERTICAL, this, "Folders for storage");
  auto* folderGrid = new wxFlexGridSizer(3, 4, 4);
  folderGrid->AddGrowableCol(1);
  aviDir_ = addRow(folderGrid, "Movies:", "AVIDIR", s.aviDir, kIdBrowseAvi);
  picDir_ = addRow(folderGrid, "Pictures:", "PICDIR", s.picDir, kIdBrowsePic);
  folders->Add(folderGrid, 1, wxEXPAND | wxALL, 4);
  top->Add(folders, 0, wxEXPAND | wxALL, 8);

  auto* sound =
      new wxStaticBoxSizer(wxVERTICAL, this, "Sound file to be alarmed on motion detected");
  auto* soundRow = new wxBoxSizer(wxHORIZONTAL);
  sndFile_ = new wxTextCtrl(this, wxID_ANY, FromUtf8(s.sndFile), wxDefaultPosition, wxSize(320, -1),
                            0, wxDefaultValidator, "SNDFILE");
  soundRow->Add(sndFile_, 1, wxEXPAND | wxRIGHT, 4);
  soundRow->Add(
      new wxButton(this, kIdBrowseSound, "...", wxDefaultPosition, wxDefaultSize, wxBU_EXACTFIT));
  sound->Add(soundRow, 0, wxEXPAND | wxALL, 4);
  auto* playRow = new wxBoxSizer(wxHORIZONTAL);
  sndRepeat_ = new wxCheckBox(this, wxID_ANY, "Play repeatly", wxDefaultPosition, wxDefaultSize, 0,
                              wxDefaultValidator, "SNDREPEAT");
  sndRepeat_->SetValue(s.sndRepeat);
  playRow->Add(sndRepeat_, 1, wxALIGN_CENTER_VERTICAL);
  playRow->Add(new wxButton(this, kIdPlay, "Play"));
  sound->Add(playRow, 0, wxEXPAND | wxALL, 4);
  top->Add(sound, 0, wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM, 8);

  auto* program =
      new wxStaticBoxSizer(wxVERTICAL, this, "Program to be executed on motion detected");
  auto* programGrid = new wxFlexGridSizer(3, 4, 4);
  programGrid->AddGrowableCol(1);
  exeFile_ = addRow(programGrid, "Program:", "EXEFILE", s.exeFile, kIdBrowseProgram);
  exeParam_ = addRow(programGrid, "Parameters:", "EXEPARAM", s.exeParam, 0);
  program->Add(programGrid, 0, wxEXPAND | wxALL, 4);
  auto* testRow = new wxBoxSizer(wxHORIZONTAL);
  exeOnce_ = new wxCheckBox(this, wxID_ANY, "Execute only one time", wxDefaultPosition,
                            wxDefaultSize, 0, wxDefaultValidator, "EXEONCE");
  exeOnce_->SetValue(s.exeOnce);
  testRow->Add(exeOnce_, 1, wxALIGN_CENTER_VERTICAL);
  testRow->Add(new wxButton(this, kIdTest, "Test"));
  program->Add(testRow, 0, wxEXPAND | wxALL, 4);
  top->Add(program, 0, wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM, 8);

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

  Bind(wxEVT_BUTTON, &FolderFileDialog::OnBrowseFolder, this, kIdBrowseAvi);
  Bind(wxEVT_BUTTON, &FolderFileDialog::OnBrowseFolder, this, kIdBrowsePic);
  Bind(wxEVT_BUTTON, &FolderFileDialog::OnBrowseFile, this, kIdBrowseSound);
  Bind(wxEVT_BUTTON, &FolderFileDialog::OnBrowseFile, this, kIdBrowseProgram);
  Bind(wxEVT_BUTTON, &FolderFileDialog::OnPlay, this, kIdPlay);
  Bind(wxEVT_BUTTON, &FolderFileDialog::OnTest, this, kIdTest);
  Bind(wxEVT_BUTTON, &FolderFileDialog::OnOk, this, kIdOk);
  Bind(wxEVT_BUTTON, &FolderFileDialog::OnCancel, this, kIdCancel);
}

void FolderFileDialog::OnBrowseFolder(wxCommandEvent& event) {
  const bool avi = event.GetId() == kIdBrowseAvi;
  wxTextCtrl* field = avi ? aviDir_ : picDir_;
  wxDirDialog chooser(
      this, avi ? "Choose a directory to save AVI files" : "Choose a directory to save JPG files",
      field->GetValue());
  if (chooser.ShowModal() == wxID_OK) field->SetValue(chooser.GetPath());
}

void FolderFileDialog::OnBrowseFile(wxCommandEvent& event) {
  const bool sound = event.GetId() == kIdBrowseSound;
  wxTextCtrl* field = sound ? sndFile_ : exeFile_;
  // Sounds may be WAV, FLAC or OGG here; programs carry no extension.
  wxFileDialog chooser(this,
                       sound ? "Choose a sound file to be alarmed on motion detected"
                             : "Choose a program file to be executed on motion detected",
                       wxEmptyString, field->GetValue(),
                       sound ? "wave file(*.wav)|*.wav|sound "
                               "file(*.wav;*.flac;*.ogg)|*.wav;*.flac;*.ogg|all files(*)|*"
                             : "executable file(*)|*",
                       wxFD_OPEN);
  if (chooser.ShowModal() == wxID_OK) field->SetValue(chooser.GetPath());
}

void FolderFileDialog::OnPlay(wxCommandEvent&) {
  const std::string file = Text(sndFile_);
  if (file.empty()) return;
  context_.Alarm().PlayFile(file, sndRepeat_->GetValue());
}

void FolderFileDialog::OnTest(wxCommandEvent&) {
  const std::string program = Text(exeFile_);
  if (program.empty()) return;
  ProgramLauncher::Start(program, std::string());
}

int FolderFileDialog::Apply() {
  Settings s = context_.Settings().Get();
  IniFile& ini = context_.SettingsFile();
  int written = 0;
  auto text = [&](const char* key, const wxTextCtrl* field, std::string& value) {
    std::string now = Text(field);
    if (now == value) return false;
    value = now;
    ini.SetString(keys::kFolder, key, now);
    ++written;
    return true;
  };
  auto flag = [&](const char* key, const wxCheckBox* box, bool& value) {
    bool now = box->GetValue();
    if (now == value) return;
    value = now;
    ini.SetInt(keys::kFolder, key, now ? 1 : 0);
    ++written;
  };
  text("AVIDIR", aviDir_, s.aviDir);
  text("PICDIR", picDir_, s.picDir);
  const bool soundChanged = text("SNDFILE", sndFile_, s.sndFile);
  flag("SNDREPEAT", sndRepeat_, s.sndRepeat);
  text("EXEFILE", exeFile_, s.exeFile);
  flag("EXEONCE", exeOnce_, s.exeOnce);
  text("EXEPARAM", exeParam_, s.exeParam);
  if (written > 0) {
    context_.Settings().Update([&](Settings& current) {
      current.aviDir = s.aviDir;
      current.picDir = s.picDir;
      current.sndFile = s.sndFile;
      current.sndRepeat = s.sndRepeat;
      current.exeFile = s.exeFile;
      current.exeOnce = s.exeOnce;
      current.exeParam = s.exeParam;
    });
  }
  if (soundChanged) context_.Alarm().SetSoundFile(s.sndFile);
  ini.Save();
  return written;
}

void FolderFileDialog::OnOk(wxCommandEvent&) {
  Apply();
  if (IsModal()) {
    EndModal(wxID_OK);
  } else {
    Hide();
  }
}

void FolderFileDialog::OnCancel(wxCommandEvent&) {
  if (IsModal()) {
    EndModal(wxID_CANCEL);
  } else {
    Hide();
  }
}

}  // namespace qmr
