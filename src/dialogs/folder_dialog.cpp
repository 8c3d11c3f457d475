#include "dialogs/folder_dialog.h"

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/dirdlg.h>
#include <wx/filedlg.h>
#include <wx/sizer.h>
#include <wx/statbox.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "base/app_context.h"
#include "base/process.h"
#include "config/ini_file.h"
#include "config/settings.h"
#include "dialogs/dialog_support.h"
#include "motion/alarm_sound.h"
#include "platform/program_launcher.h"

namespace qmr {

namespace {

// "0.5", "20": a size as the user typed it, without trailing zeros.
std::string NumberText(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.10g", value);
  return text;
}

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
    wxTextCtrl* field = AddLabelledField(this, grid, label, name, value, 320);
    if (browseId != 0) {
      grid->Add(
          new wxButton(this, browseId, "...", wxDefaultPosition, wxDefaultSize, wxBU_EXACTFIT));
    } else {
      grid->AddSpacer(0);
    }
    return field;
  };

  auto* folders = new wxStaticBoxSizer(wxVERTICAL, this, "Folders for storage");
  wxFlexGridSizer* folderGrid = NewFieldGrid(3, 4);
  aviDir_ = addRow(folderGrid, "Movies:", "AVIDIR", s.aviDir, kIdBrowseAvi);
  picDir_ = addRow(folderGrid, "Pictures:", "PICDIR", s.picDir, kIdBrowsePic);
  folders->Add(folderGrid, 1, wxEXPAND | wxALL, 4);
  top->Add(folders, 0, wxEXPAND | wxALL, 8);

  // The storage keeper deletes the oldest recordings and pictures to hold
  // these limits.
  auto* limits = new wxStaticBoxSizer(wxVERTICAL, this, "Storage limits");
  wxFlexGridSizer* limitGrid = NewFieldGrid(2, 4);
  maxGb_ = AddLabelledField(this, limitGrid, "Keep at most (GB, 0 = no limit):", "MAXGB",
                            NumberText(s.maxGb), 100);
  minFreeMb_ = AddLabelledField(this, limitGrid, "Keep free on disk (MB):", "MINFREEMB",
                                std::to_string(s.minFreeMb), 100);
  limits->Add(limitGrid, 0, wxEXPAND | wxALL, 4);
  top->Add(limits, 0, wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM, 8);

  auto* sound =
      new wxStaticBoxSizer(wxVERTICAL, this, "Sound file to be alarmed on motion detected");
  auto* soundRow = new wxBoxSizer(wxHORIZONTAL);
  sndFile_ = new wxTextCtrl(this, wxID_ANY, wxString::FromUTF8(s.sndFile), wxDefaultPosition,
                            wxSize(320, -1), 0, wxDefaultValidator, "SNDFILE");
  soundRow->Add(sndFile_, 1, wxEXPAND | wxRIGHT, 4);
  soundRow->Add(
      new wxButton(this, kIdBrowseSound, "...", wxDefaultPosition, wxDefaultSize, wxBU_EXACTFIT));
  sound->Add(soundRow, 0, wxEXPAND | wxALL, 4);
  auto* playRow = new wxBoxSizer(wxHORIZONTAL);
  // Created in the order of the window (Play, then "Play repeatly"), which
  // is the tab order; the layout puts the button at the row's end.
  auto* play = new wxButton(this, kIdPlay, "Play");
  sndRepeat_ = new wxCheckBox(this, wxID_ANY, "Play repeatly", wxDefaultPosition, wxDefaultSize, 0,
                              wxDefaultValidator, "SNDREPEAT");
  sndRepeat_->SetValue(s.sndRepeat);
  playRow->Add(sndRepeat_, 1, wxALIGN_CENTER_VERTICAL);
  playRow->Add(play);
  sound->Add(playRow, 0, wxEXPAND | wxALL, 4);
  top->Add(sound, 0, wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM, 8);

  auto* program =
      new wxStaticBoxSizer(wxVERTICAL, this, "Program to be executed on motion detected");
  wxFlexGridSizer* programGrid = NewFieldGrid(3, 4);
  exeFile_ = addRow(programGrid, "Program:", "EXEFILE", s.exeFile, kIdBrowseProgram);
  // Test comes before "Parameters:" in the window's (and tab) order.
  auto* test = new wxButton(this, kIdTest, "Test");
  exeParam_ = addRow(programGrid, "Parameters:", "EXEPARAM", s.exeParam, 0);
  program->Add(programGrid, 0, wxEXPAND | wxALL, 4);
  auto* testRow = new wxBoxSizer(wxHORIZONTAL);
  exeOnce_ = new wxCheckBox(this, wxID_ANY, "Execute only one time", wxDefaultPosition,
                            wxDefaultSize, 0, wxDefaultValidator, "EXEONCE");
  exeOnce_->SetValue(s.exeOnce);
  testRow->Add(exeOnce_, 1, wxALIGN_CENTER_VERTICAL);
  testRow->Add(test);
  program->Add(testRow, 0, wxEXPAND | wxALL, 4);
  top->Add(program, 0, wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM, 8);

  AddOkCancelRow(this, top, kIdOk, kIdCancel, wxLEFT | wxRIGHT | wxBOTTOM);
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
  const std::string file = TrimmedText(sndFile_);
  if (file.empty()) return;
  context_.Alarm().PlayFile(file, sndRepeat_->GetValue());
}

void FolderFileDialog::OnTest(wxCommandEvent&) {
  const std::string program = TrimmedText(exeFile_);
  if (program.empty()) return;
  ProgramLauncher::Start(program, std::string());
}

int FolderFileDialog::Apply() {
  const Settings s = context_.Settings().Get();
  SettingsWriter writer(context_, keys::kFolder);
  writer.Put("AVIDIR", &Settings::aviDir, TrimmedText(aviDir_));
  writer.Put("PICDIR", &Settings::picDir, TrimmedText(picDir_));
  const std::string sound = TrimmedText(sndFile_);
  const bool soundChanged = writer.Put("SNDFILE", &Settings::sndFile, sound);
  writer.Put("SNDREPEAT", &Settings::sndRepeat, sndRepeat_->GetValue());
  writer.Put("EXEFILE", &Settings::exeFile, TrimmedText(exeFile_));
  writer.Put("EXEONCE", &Settings::exeOnce, exeOnce_->GetValue());
  writer.Put("EXEPARAM", &Settings::exeParam, TrimmedText(exeParam_));
  // The limits live in their own section; a value that is not a number of
  // zero or more keeps the old one.
  const std::string maxGbText = TrimmedText(maxGb_);
  char* end = nullptr;
  const double maxGb = std::strtod(maxGbText.c_str(), &end);
  if (end != maxGbText.c_str() && *end == '\0' && maxGb >= 0 && maxGb < 1e9 && maxGb != s.maxGb) {
    writer.Set(&Settings::maxGb, maxGb);
    writer.File().SetString(keys::kStorage, "MAXGB", NumberText(maxGb));
  }
  const std::string minFreeText = TrimmedText(minFreeMb_);
  const long minFree = std::strtol(minFreeText.c_str(), &end, 10);
  if (end != minFreeText.c_str() && *end == '\0' && minFree >= 0 && minFree <= 100000000 &&
      minFree != s.minFreeMb) {
    writer.Set(&Settings::minFreeMb, static_cast<int>(minFree));
    writer.File().SetInt(keys::kStorage, "MINFREEMB", static_cast<int>(minFree));
  }
  const int written = writer.Commit();
  if (soundChanged) context_.Alarm().SetSoundFile(sound);
  return written;
}

void FolderFileDialog::OnOk(wxCommandEvent&) {
  Apply();
  FinishDialog(this, wxID_OK);
}

void FolderFileDialog::OnCancel(wxCommandEvent&) { FinishDialog(this, wxID_CANCEL); }

}  // namespace qmr
