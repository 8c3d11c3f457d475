#include "dialogs/dialog_support.h"

#include <wx/button.h>
#include <wx/dialog.h>
#include <wx/sizer.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include "base/app_context.h"
#include "base/process.h"
#include "config/ini_file.h"
#include "config/password_scrambler.h"

namespace qmr {

void AddOkCancelRow(wxDialog* dialog, wxSizer* top, int okId, int cancelId, int borderSides) {
  auto* buttons = new wxBoxSizer(wxHORIZONTAL);
  buttons->AddStretchSpacer();
  auto* ok = new wxButton(dialog, okId, "OK");
  ok->SetDefault();
  buttons->Add(ok, 0, wxRIGHT, 8);
  buttons->Add(new wxButton(dialog, cancelId, "Cancel"));
  top->Add(buttons, 0, wxEXPAND | borderSides, 8);
  dialog->SetAffirmativeId(okId);
  dialog->SetEscapeId(cancelId);
}

void AddCentredOkCancelRow(wxDialog* dialog, wxSizer* top, int okId, int cancelId) {
  auto* buttons = new wxBoxSizer(wxHORIZONTAL);
  auto* ok = new wxButton(dialog, okId, "OK");
  ok->SetDefault();
  buttons->Add(ok, 0, wxALL, 5);
  buttons->Add(new wxButton(dialog, cancelId, "Cancel"), 0, wxALL, 5);
  top->Add(buttons, 0, wxALIGN_CENTER | wxBOTTOM, 5);
  dialog->SetAffirmativeId(okId);
  dialog->SetEscapeId(cancelId);
}

void AddDefaultOkCancelRow(wxDialog* dialog, wxSizer* top, int defaultId) {
  auto* buttons = new wxBoxSizer(wxHORIZONTAL);
  buttons->Add(new wxButton(dialog, defaultId, "Default"), 0, wxALL, 4);
  buttons->AddStretchSpacer();
  buttons->Add(new wxButton(dialog, wxID_OK, "OK"), 0, wxALL, 4);
  buttons->Add(new wxButton(dialog, wxID_CANCEL, "Cancel"), 0, wxALL, 4);
  top->Add(buttons, 0, wxALL | wxEXPAND, 4);
}

void FinishDialog(wxDialog* dialog, int code) {
  if (dialog->IsModal()) {
    dialog->EndModal(code);
  } else {
    dialog->SetReturnCode(code);
    dialog->Hide();
  }
}

wxFlexGridSizer* NewFieldGrid(int columns, int gap) {
  auto* grid = new wxFlexGridSizer(columns, gap, gap);
  grid->AddGrowableCol(1);
  return grid;
}

wxTextCtrl* AddLabelledField(wxWindow* parent, wxFlexGridSizer* grid, const wxString& label,
                             const char* key, const std::string& value, int width, long style) {
  grid->Add(new wxStaticText(parent, wxID_ANY, label), 0, wxALIGN_CENTER_VERTICAL);
  auto* field = new wxTextCtrl(parent, wxID_ANY, wxString::FromUTF8(value), wxDefaultPosition,
                               wxSize(width, -1), style, wxDefaultValidator, key);
  grid->Add(field, 1, wxEXPAND);
  return field;
}

std::string TrimmedText(const wxTextCtrl* field) {
  return TrimSpaces(field->GetValue().utf8_string());
}

SettingsWriter::SettingsWriter(AppContext& context, std::string section)
    : context_(context),
      ini_(context.SettingsFile()),
      section_(std::move(section)),
      values_(context.Settings().Get()) {}

bool SettingsWriter::PutPassword(const char* key, std::string Settings::*field,
                                 const std::string& now) {
  if (values_.*field == now) return false;
  Set(field, now);
  std::string stored;
  if (!now.empty()) PasswordScrambler::Scramble(now, stored);
  WriteText(key, stored);
  return true;
}

void SettingsWriter::WriteInt(const char* key, int value) {
  ini_.SetInt(section_, key, value);
  ++written_;
}

void SettingsWriter::WriteText(const char* key, const std::string& value) {
  ini_.SetString(section_, key, value);
  ++written_;
}

int SettingsWriter::Commit() {
  if (!changes_.empty()) {
    context_.Settings().Update([this](Settings& current) {
      for (const auto& change : changes_) change(current);
    });
  }
  // A file that cannot be written is reported by the settings file's owner;
  // the new values hold in memory until the program ends.
  ini_.Save();
  return written_;
}

}  // namespace qmr
