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

#include "base/app_context.h"
#include "app/resource_images.h"
#include "base/process.h"
#include "config/ini_file.h"
#include "config/settings.h"
#include "delivery/dialup_connection.h"
#include "dialogs/dialog_support.h"
#include "dialogs/mqtt_panel.h"
#include "dialogs/smtp_auth_dialog.h"

namespace qmr {

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
  wxFlexGridSizer* mailGrid = NewFieldGrid(2, 6);
  mailTo_ = AddLabelledField(mailBox, mailGrid, "Mail to:    ", "MAILTO", s.mailTo, 240);
  mailFrom_ = AddLabelledField(mailBox, mailGrid, "Mail from:  ", "MAILFROM", s.mailFrom, 240);
  mailServer_ =
      AddLabelledField(mailBox, mailGrid, "SMTP server:", "MAILSERVER", s.mailServer, 240);
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
  wxFlexGridSizer* ftpGrid = NewFieldGrid(2, 6);
  ftpServer_ = AddLabelledField(ftpBox, ftpGrid, "FTP server: ", "FTPSERVER", s.ftpServer, 240);
  ftpUser_ = AddLabelledField(ftpBox, ftpGrid, "User name:  ", "FTPUSER", s.ftpUser, 240);
  ftpPasswd_ = AddLabelledField(ftpBox, ftpGrid, "Password:   ", "FTPPASSWD", s.ftpPasswd, 240,
                                wxTE_PASSWORD);
  ftpDir_ = AddLabelledField(ftpBox, ftpGrid, "Remote Dir.:", "FTPDIR", s.ftpDir, 240);
  ftp->Add(ftpGrid, 0, wxEXPAND | wxALL, 6);
  top->Add(ftp, 0, wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM, 8);

  mqtt_ = new MqttPanel(this, context_);
  top->Add(mqtt_, 0, wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM, 8);

  AddOkCancelRow(this, top, kIdOk, kIdCancel, wxLEFT | wxRIGHT | wxBOTTOM);
  SetSizerAndFit(top);
  CentreOnScreen();

  Bind(wxEVT_BUTTON, &InternetAccountsDialog::OnAuthentication, this, kIdAuthentication);
  Bind(wxEVT_BUTTON, &InternetAccountsDialog::OnOk, this, kIdOk);
  Bind(wxEVT_BUTTON, &InternetAccountsDialog::OnCancel, this, kIdCancel);
}

int InternetAccountsDialog::Apply() {
  // Only this dialog's keys are taken over: the login dialog it opened has
  // stored its own two already.
  SettingsWriter writer(context_, keys::kInternet);
  // Nothing selected (no entries, or the stored one is gone) clears the
  // entry, which turns dialling off.
  const int selected = dialup_->GetSelection();
  const bool listed = selected >= 0 && selected < static_cast<int>(dialupNames_.size());
  writer.Put("DIALUP", &Settings::dialup,
             listed ? TrimSpaces(dialupNames_[selected]) : std::string());
  writer.Put("HANGUP", &Settings::hangup, hangup_->GetValue());
  writer.Put("MAILSERVER", &Settings::mailServer, TrimmedText(mailServer_));
  writer.Put("MAILFROM", &Settings::mailFrom, TrimmedText(mailFrom_));
  writer.Put("MAILTO", &Settings::mailTo, TrimmedText(mailTo_));
  writer.Put("MAILAUTH", &Settings::mailAuth, mailAuth_->GetValue());
  writer.Put("FTPSERVER", &Settings::ftpServer, TrimmedText(ftpServer_));
  writer.Put("FTPUSER", &Settings::ftpUser, TrimmedText(ftpUser_));
  writer.Put("FTPDIR", &Settings::ftpDir, TrimmedText(ftpDir_));
  writer.PutPassword("FTPPASSWD", &Settings::ftpPasswd, TrimmedText(ftpPasswd_));
  return writer.Commit() + mqtt_->Apply();
}

void InternetAccountsDialog::OnAuthentication(wxCommandEvent&) {
  SmtpAuthDialog dialog(this, context_);
  dialog.ShowModal();
}

void InternetAccountsDialog::OnOk(wxCommandEvent&) {
  Apply();
  FinishDialog(this, wxID_OK);
}

void InternetAccountsDialog::OnCancel(wxCommandEvent&) { FinishDialog(this, wxID_CANCEL); }

}  // namespace qmr
