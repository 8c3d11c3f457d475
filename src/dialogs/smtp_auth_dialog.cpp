#include "dialogs/smtp_auth_dialog.h"

#include <wx/button.h>
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
#include "dialogs/dialog_support.h"

namespace qmr {

SmtpAuthDialog::SmtpAuthDialog(wxWindow* parent, AppContext& context)
    : wxDialog(parent, wxID_ANY, "Account"), context_(context) {
  const Settings s = context_.Settings().Get();
  auto* top = new wxBoxSizer(wxVERTICAL);

  auto* group = new wxStaticBoxSizer(wxHORIZONTAL, this, "SMTP authentication");
  wxWindow* box = group->GetStaticBox();
  group->Add(
      new wxStaticBitmap(box, wxID_ANY, LoadToolBitmap("tool_accounts", GetBackgroundColour())), 0,
      wxALL, 6);
  wxFlexGridSizer* grid = NewFieldGrid(2, 6);
  user_ = AddLabelledField(box, grid, "User name:", "AUTHUSER", s.authUser, 200);
  password_ =
      AddLabelledField(box, grid, "Password: ", "AUTHPASSWD", s.authPasswd, 200, wxTE_PASSWORD);
  group->Add(grid, 1, wxEXPAND | wxALL, 6);
  top->Add(group, 1, wxEXPAND | wxALL, 8);

  AddOkCancelRow(this, top, kIdOk, kIdCancel, wxLEFT | wxRIGHT | wxBOTTOM);
  SetSizerAndFit(top);
  CentreOnParent();

  Bind(wxEVT_BUTTON, &SmtpAuthDialog::OnOk, this, kIdOk);
  Bind(wxEVT_BUTTON, &SmtpAuthDialog::OnCancel, this, kIdCancel);
}

int SmtpAuthDialog::Apply() {
  SettingsWriter writer(context_, keys::kInternet);
  writer.Put("AUTHUSER", &Settings::authUser, TrimmedText(user_));
  writer.PutPassword("AUTHPASSWD", &Settings::authPasswd, TrimmedText(password_));
  return writer.Commit();
}

void SmtpAuthDialog::OnOk(wxCommandEvent&) {
  Apply();
  FinishDialog(this, wxID_OK);
}

void SmtpAuthDialog::OnCancel(wxCommandEvent&) { FinishDialog(this, wxID_CANCEL); }

}  // namespace qmr
