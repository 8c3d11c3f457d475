#include "dialogs/internet_accounts_dialog.h"

#include <wx/bmpbuttn.h>
#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/choice.h>
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
#include "delivery/dialup_connection.h"
#include "dialogs/smtp_auth_dialog.h"

namespace qmr {

namespace {

std::string TrimmedText(const wxString& text) { return TrimSpaces(std::string(text.utf8_str())); }

// A label and its text field as one row of a two-column grid; the field is
// named after the key it edits.
wxTextCtrl* AddField(wxWindow* parent, wxFlexGridSizer* grid, const char* label, const char* key,
                     const std::string& value, long style = 0) {
  auto* field = new wxTextCtrl(parent, wxID_ANY, wxString::FromUTF8(value), wxDefaultPosition,
                               wxSize(240, -1), style, wxDefaultValidator, key);
  grid->Add(new wxStaticText(parent, wxID_ANY, label), 0, wxALIGN_CENTER_VERTICAL);
  grid->Add(field, 1, wxEXPAND);
  return field;
}

wxFlexGridSizer* MakeGrid() {
  auto* grid = new wxFlexGridSizer(2, 6, 6);
  grid->AddGrowableCol(1);
  return grid;
}

}  // namespace

InternetAccountsDialog::InternetAccountsDialog(wxWindow* parent, AppContext& context)
    : wxDialog(parent, wxID_ANY, "Internet account settings", wxDefaultPosition, wxDefaultSize,
               wxDEFAULT_DIALOG_STYLE | wxRESIZE_BORDER),
      context_(context) {
  const Settings s = context_.Settings().Get();
  auto* top = new wxBoxSizer(wxVERTICAL);

  // Internet connection: the dial-up entries in ascending name order; the
  // stored entry is selected only while it still exists.
  auto* connection = new wxStaticBoxSizer(wxHORIZONTAL, this, "Internet connection");
  wxWindow* connectionBox = connection->GetStaticBox();
  connection->Add(new wxStaticBitmap(connectionBox, wxID_ANY,
                                     LoadToolBitmap("tool_accounts", GetBackgroundColour())),
                  0, wxALL, 6);
  auto* connectionColumn = new wxBoxSizer(wxVERTICAL);
  connectionColumn->Add(new wxStaticText(connectionBox, wxID_ANY,
                                         "Choose the connection to dial up if no internet \n"
                                         "connection avaliable when motion is detected"),
                        0, wxBOTTOM, 6);
  dialup_ = new wxChoice(connectionBox, wxID_ANY, wxDefaultPosition, wxDefaultSize, 0, nullptr, 0,
                         wxDefaultValidator, "DIALUP");
  DialupConnection& dialup = context_.Dialup();
  dialup.RefreshEntries();
  for (const auto& [name, entry] : dialup.Entries()) {
    dialupNames_.push_back(name);
    const int index = dialup_->Append(wxString::FromUTF8(name));
    if (name == s.dialup) dialup_->SetSelection(index);
  }
  connectionColumn->Add(dialup_, 0, wxEXPAND | wxBOTTOM, 6);
  hangup_ = new wxCheckBox(connectionBox, wxID_ANY, "Hangup after transfer", wxDefaultPosition,
                           wxDefaultSize, 0, wxDefaultValidator, "HANGUP");
  hangup_->SetValue(s.hangup);
  connectionColumn->Add(hangup_);
  connection->Add(connectionColumn, 1, wxEXPAND | wxALL, 6);
  top->Add(connection, 0, wxEXPAND | wxALL, 8);

  // Email account.
  auto* mail = new wxStaticBoxSizer(wxVERTICAL, this, "Email account");
  wxWindow* mailBox = mail->GetStaticBox();
  auto* mailGrid = MakeGrid();
  mailTo_ = AddField(mailBox, mailGrid, "Mail to:    ", "MAILTO", s.mailTo);
  mailFrom_ = AddField(mailBox, mailGrid, "Mail from:  ", "MAILFROM", s.mailFrom);
  mailServer_ = AddField(mailBox, mailGrid, "SMTP server:", "MAILSERVER", s.mailServer);
  mail->Add(mailGrid, 0, wxEXPAND | wxALL, 6);
  auto* authRow = new wxBoxSizer(wxHORIZONTAL);
  mailAuth_ = new wxCheckBox(mailBox, wxID_ANY, "Server need authentication", wxDefaultPosition,
                             wxDefaultSize, 0, wxDefaultValidator, "MAILAUTH");
  mailAuth_->SetValue(s.mailAuth);
  authRow->Add(mailAuth_, 0, wxALIGN_CENTER_VERTICAL);
  authRow->Add(new wxBitmapButton(mailBox, kIdAuthentication, LoadResourceBitmap("menu_accounts")),
               0, wxLEFT, 8);
  mail->Add(authRow, 0, wxALL, 6);
  top->Add(mail, 0, wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM, 8);

  // FTP account.
  auto* ftp = new wxStaticBoxSizer(wxVERTICAL, this, "FTP account");
  wxWindow* ftpBox = ftp->GetStaticBox();
  auto* ftpGrid = MakeGrid();
  ftpServer_ = AddField(ftpBox, ftpGrid, "FTP server: ", "FTPSERVER", s.ftpServer);
  ftpUser_ = AddField(ftpBox, ftpGrid, "User name:  ", "FTPUSER", s.ftpUser);
  ftpPasswd_ = AddField(ftpBox, ftpGrid, "Password:   ", "FTPPASSWD", s.ftpPasswd, wxTE_PASSWORD);
  ftpDir_ = AddField(ftpBox, ftpGrid, "Remote Dir.:", "FTPDIR", s.ftpDir);
  ftp->Add(ftpGrid, 0, wxEXPAND | wxALL, 6);
  top->Add(ftp, 0, wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM, 8);

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
  CentreOnScreen();

  Bind(wxEVT_BUTTON, &InternetAccountsDialog::OnAuthentication, this, kIdAuthentication);
  Bind(wxEVT_BUTTON, &InternetAccountsDialog::OnOk, this, kIdOk);
  Bind(wxEVT_BUTTON, &InternetAccountsDialog::OnCancel, this, kIdCancel);
}

int InternetAccountsDialog::Apply() {
  Settings s = context_.Settings().Get();
  IniFile& ini = context_.SettingsFile();
  int written = 0;
  auto text = [&](const char* key, std::string& field, const std::string& now) {
    if (now == field) return;
    field = now;
    ini.SetString(keys::kInternet, key, now);
    ++written;
  };
  auto flag = [&](const char* key, bool& field, bool now) {
    if (now == field) return;
    field = now;
    ini.SetInt(keys::kInternet, key, now ? 1 : 0);
    ++written;
  };

  // Nothing selected (no entries, or the stored one is gone) clears the
  // entry, which turns dialling off.
  const int selected = dialup_->GetSelection();
  const bool listed = selected >= 0 && selected < static_cast<int>(dialupNames_.size());
  text("DIALUP", s.dialup, listed ? TrimSpaces(dialupNames_[selected]) : std::string());
  flag("HANGUP", s.hangup, hangup_->GetValue());
  text("MAILSERVER", s.mailServer, TrimmedText(mailServer_->GetValue()));
  text("MAILFROM", s.mailFrom, TrimmedText(mailFrom_->GetValue()));
  text("MAILTO", s.mailTo, TrimmedText(mailTo_->GetValue()));
  flag("MAILAUTH", s.mailAuth, mailAuth_->GetValue());
  text("FTPSERVER", s.ftpServer, TrimmedText(ftpServer_->GetValue()));
  text("FTPUSER", s.ftpUser, TrimmedText(ftpUser_->GetValue()));
  text("FTPDIR", s.ftpDir, TrimmedText(ftpDir_->GetValue()));
  const std::string password = TrimmedText(ftpPasswd_->GetValue());
  if (password != s.ftpPasswd) {
    // In clear in memory, never in the file; an empty password is stored empty.
    s.ftpPasswd = password;
    std::string stored;
    if (!password.empty()) PasswordScrambler::Scramble(password, stored);
    ini.SetString(keys::kInternet, "FTPPASSWD", stored);
    ++written;
  }

  if (written > 0) {
    // Only this dialog's keys are taken over: the login dialog it opened
    // has stored its own two already.
    context_.Settings().Update([&](Settings& current) {
      current.dialup = s.dialup;
      current.hangup = s.hangup;
      current.mailServer = s.mailServer;
      current.mailFrom = s.mailFrom;
      current.mailTo = s.mailTo;
      current.mailAuth = s.mailAuth;
      current.ftpServer = s.ftpServer;
      current.ftpUser = s.ftpUser;
      current.ftpDir = s.ftpDir;
      current.ftpPasswd = s.ftpPasswd;
    });
  }
  ini.Save();
  return written;
}

void InternetAccountsDialog::OnAuthentication(wxCommandEvent&) {
  SmtpAuthDialog dialog(this, context_);
  dialog.ShowModal();
}

void InternetAccountsDialog::OnOk(wxCommandEvent&) {
  Apply();
  Finish(wxID_OK);
}

void InternetAccountsDialog::OnCancel(wxCommandEvent&) { Finish(wxID_CANCEL); }

void InternetAccountsDialog::Finish(int code) {
  if (IsModal()) {
    EndModal(code);
  } else {
    SetReturnCode(code);
    Hide();
  }
}

}  // namespace qmr
