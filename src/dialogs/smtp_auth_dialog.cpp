#include "dialogs/smtp_auth_dialog.h"

#include <wx/button.h>
#include <wx/sizer.h>
#include <wx/statbmp.h>
#include <wx/statbox.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include <string>

#include "app/app_context.h"
#include "app/gui/resource_images.h"
#include "app/process.h"
#include "config/ini_file.h"
#include "config/password_scrambler.h"
#include "config/settings.h"

namespace qmr {

namespace {

std::string TrimmedText(const wxTextCtrl* field) {
  return TrimSpaces(std::string(field->GetValue().utf8_str()));
}

}  // namespace

SmtpAuthDialog::SmtpAuthDialog(wxWindow* parent, AppContext& context)
    : wxDialog(parent, wxID_ANY, "Account"), context_(context) {
  const Settings s = context_.Settings().Get();
  auto* top = new wxBoxSizer(wxVERTICAL);

  auto* group = new wxStaticBoxSizer(wxHORIZONTAL, this, "SMTP authentication");
  wxWindow* box = group->GetStaticBox();
  group->Add(
      new wxStaticBitmap(box, wxID_ANY, LoadToolBitmap("tool_accounts", GetBackgroundColour())), 0,
      wxALL, 6);
  auto* grid = new wxFlexGridSizer(2, 6, 6);
  grid->AddGrowableCol(1);
  user_ = new wxTextCtrl(box, wxID_ANY, wxString::FromUTF8(s.authUser), wxDefaultPosition,
                         wxSize(200, -1), 0, wxDefaultValidator, "AUTHUSER");
  password_ = new wxTextCtrl(box, wxID_ANY, wxString::FromUTF8(s.authPasswd), wxDefaultPosition,
                             wxSize(200, -1), wxTE_PASSWORD, wxDefaultValidator, "AUTHPASSWD");
  grid->Add(new wxStaticText(box, wxID_ANY, "User name:"), 0, wxALIGN_CENTER_VERTICAL);
  grid->Add(user_, 1, wxEXPAND);
  grid->Add(new wxStaticText(box, wxID_ANY, "Password: "), 0, wxALIGN_CENTER_VERTICAL);
  grid->Add(password_, 1, wxEXPAND);
  group->Add(grid, 1, wxEXPAND | wxALL, 6);
  top->Add(group, 1, wxEXPAND | wxALL, 8);

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

  Bind(wxEVT_BUTTON, &SmtpAuthDialog::OnOk, this, kIdOk);
  Bind(wxEVT_BUTTON, &SmtpAuthDialog::OnCancel, this, kIdCancel);
}

int SmtpAuthDialog::Apply() {
  const Settings s = context_.Settings().Get();
  IniFile& ini = context_.SettingsFile();
  const std::string user = TrimmedText(user_);
  const std::string password = TrimmedText(password_);
  int written = 0;
  if (user != s.authUser) {
    ini.SetString(keys::kInternet, "AUTHUSER", user);
    ++written;
  }
  if (password != s.authPasswd) {
    // Never in clear in the file; an empty password is stored empty.
    std::string stored;
    if (!password.empty()) PasswordScrambler::Scramble(password, stored);
    ini.SetString(keys::kInternet, "AUTHPASSWD", stored);
    ++written;
  }
  if (written > 0) {
    context_.Settings().Update([&](Settings& current) {
      current.authUser = user;
      current.authPasswd = password;
    });
  }
  ini.Save();
  return written;
}

void SmtpAuthDialog::OnOk(wxCommandEvent&) {
  Apply();
  Finish(wxID_OK);
}

void SmtpAuthDialog::OnCancel(wxCommandEvent&) { Finish(wxID_CANCEL); }

void SmtpAuthDialog::Finish(int code) {
  if (IsModal()) {
    EndModal(code);
  } else {
    SetReturnCode(code);
    Hide();
  }
}

}  // namespace qmr
